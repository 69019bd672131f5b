// How one HID interface of the virtual OB310 answers the host's control
// requests on ep0 (FunctionFS hands them over as SETUP events).
#pragma once

#include <cstdint>
#include <mutex>

#include "linux-vm/gadget_descriptors.h"

namespace ob310 {

// The 8-byte SETUP packet, in host byte order.
struct ControlSetup {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    std::uint16_t length = 0;
};

// Request codes (HID 1.11 section 7.2, USB 2.0 section 9.4).
inline constexpr std::uint8_t UsbRequestGetDescriptor = 0x06;
inline constexpr std::uint8_t HidRequestGetReport = 0x01;
inline constexpr std::uint8_t HidRequestGetIdle = 0x02;
inline constexpr std::uint8_t HidRequestGetProtocol = 0x03;
inline constexpr std::uint8_t HidRequestSetReport = 0x09;
inline constexpr std::uint8_t HidRequestSetIdle = 0x0A;
inline constexpr std::uint8_t HidRequestSetProtocol = 0x0B;
inline constexpr std::uint8_t HidReportTypeInput = 1;
inline constexpr std::uint8_t HidReportTypeOutput = 2;

// What to do on ep0 for one SETUP.
struct ControlAnswer {
    enum class Kind {
        Stall,        // refuse the request
        SendData,     // IN data stage: send `data`
        ReceiveData,  // OUT data stage: read `receiveLength` bytes
        Acknowledge,  // no data stage: complete the status stage
    };
    Kind kind = Kind::Stall;
    Bytes data;
    std::uint16_t receiveLength = 0;
    // ReceiveData only: the bytes are an output report (SET_REPORT) that goes
    // to the interface like one from its OUT endpoint.
    bool isOutputReport = false;
};

// The ep0 state of one HID interface. The last input report is shared with
// the thread that serves the interface's endpoints.
class HidControlState {
public:
    explicit HidControlState(GadgetInterfaceKind kind);

    ControlAnswer Answer(const ControlSetup& setup);

    void SetLastInputReport(const Bytes& report);
    std::uint8_t IdleRate() const;

private:
    Bytes reportDescriptor_;
    mutable std::mutex mutex_;
    Bytes lastInputReport_;
    std::uint8_t idleRate_ = 0;  // HID default for non-keyboards: report on change only
    std::uint8_t protocol_ = 1;  // report protocol
};

}  // namespace ob310
