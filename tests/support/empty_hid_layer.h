// A HID layer with nothing attached. It counts the calls that would reach a
// device, so a test can tell whether a run touched the HID layer at all.
#pragma once

#include "device/hid_layer.h"

class EmptyHidLayer final : public HidLayer {
public:
    std::vector<std::string> EnumerateInterfaces() override { return ++calls, std::vector<std::string>{}; }
    HidHandle Open(const std::string&, HidAccess, HidIoMode) override { return ++calls, InvalidHidHandle; }
    void Close(HidHandle) override { ++calls; }
    bool ReadAttributes(HidHandle, HidAttributes&) override { return ++calls, false; }
    bool ReadCaps(HidHandle, HidCaps&) override { return ++calls, false; }
    bool ReadProductString(HidHandle, char16_t*, std::uint32_t) override { return ++calls, false; }
    std::uint32_t WriteReport(HidHandle, const std::uint8_t*, std::uint32_t, std::uint32_t) override {
        return ++calls, 0;
    }
    void FlushInput(HidHandle) override { ++calls; }
    std::unique_ptr<HidReader> CreateReader(HidHandle) override { return ++calls, nullptr; }

    int calls = 0;
};
