// Stand-in HID layer for builds without a platform backend: it finds no
// interface, so every device flow ends with "no device".
#include "device/hid_layer.h"

namespace {

class NoDeviceHidLayer final : public HidLayer {
public:
    std::vector<std::string> EnumerateInterfaces() override { return {}; }
    HidHandle Open(const std::string&, HidAccess, HidIoMode) override { return InvalidHidHandle; }
    void Close(HidHandle) override {}
    bool ReadAttributes(HidHandle, HidAttributes&) override { return false; }
    bool ReadCaps(HidHandle, HidCaps&) override { return false; }
    bool ReadProductString(HidHandle, char16_t*, std::uint32_t) override { return false; }
    std::uint32_t WriteReport(HidHandle, const std::uint8_t*, std::uint32_t) override { return 0; }
    std::unique_ptr<HidReader> CreateReader(HidHandle) override { return nullptr; }
};

}  // namespace

std::unique_ptr<HidLayer> CreatePlatformHidLayer() { return std::make_unique<NoDeviceHidLayer>(); }
