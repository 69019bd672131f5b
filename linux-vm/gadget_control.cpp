#include "linux-vm/gadget_control.h"

#include <algorithm>

namespace ob310 {

namespace {

constexpr std::uint8_t DirectionIn = 0x80;
constexpr std::uint8_t TypeMask = 0x60;
constexpr std::uint8_t TypeStandard = 0x00;
constexpr std::uint8_t TypeClass = 0x20;
constexpr std::uint8_t RecipientMask = 0x1F;
constexpr std::uint8_t RecipientInterface = 0x01;

ControlAnswer Stall() { return {}; }

ControlAnswer Send(Bytes data, std::uint16_t wLength) {
    // The host asks for wLength bytes at most; a longer answer is cut.
    if (data.size() > wLength) {
        data.resize(wLength);
    }
    ControlAnswer answer;
    answer.kind = ControlAnswer::Kind::SendData;
    answer.data = std::move(data);
    return answer;
}

ControlAnswer Acknowledge() {
    ControlAnswer answer;
    answer.kind = ControlAnswer::Kind::Acknowledge;
    return answer;
}

}  // namespace

HidControlState::HidControlState(GadgetInterfaceKind kind)
    : reportDescriptor_(GadgetReportDescriptor(kind)),
      lastInputReport_(kind == GadgetInterfaceKind::Config ? GadgetReportBytes : 0, 0) {}

void HidControlState::SetLastInputReport(const Bytes& report) {
    std::lock_guard lock(mutex_);
    lastInputReport_ = report;
}

std::uint8_t HidControlState::IdleRate() const {
    std::lock_guard lock(mutex_);
    return idleRate_;
}

ControlAnswer HidControlState::Answer(const ControlSetup& setup) {
    const bool in = (setup.requestType & DirectionIn) != 0;
    const std::uint8_t type = setup.requestType & TypeMask;
    if ((setup.requestType & RecipientMask) != RecipientInterface) {
        return Stall();
    }
    const auto high = static_cast<std::uint8_t>(setup.value >> 8);
    const auto low = static_cast<std::uint8_t>(setup.value & 0xFF);

    if (type == TypeStandard && in && setup.request == UsbRequestGetDescriptor) {
        if (high == HidDescriptorReport && low == 0) {
            return Send(reportDescriptor_, setup.length);
        }
        if (high == HidDescriptorHid && low == 0) {
            return Send(HidClassDescriptor(reportDescriptor_.size()), setup.length);
        }
        return Stall();
    }
    if (type != TypeClass) {
        return Stall();
    }

    std::lock_guard lock(mutex_);
    if (in) {
        switch (setup.request) {
        case HidRequestGetReport:
            // Only input reports without an ID exist; give the last one sent.
            if (high != HidReportTypeInput || low != 0 || lastInputReport_.empty()) {
                return Stall();
            }
            return Send(lastInputReport_, setup.length);
        case HidRequestGetIdle: return Send({idleRate_}, setup.length);
        case HidRequestGetProtocol: return Send({protocol_}, setup.length);
        default: return Stall();
        }
    }
    switch (setup.request) {
    case HidRequestSetIdle:
        if (setup.length != 0) {
            return Stall();
        }
        idleRate_ = high;
        return Acknowledge();
    case HidRequestSetProtocol:
        if (setup.length != 0 || setup.value > 1) {
            return Stall();
        }
        protocol_ = low;
        return Acknowledge();
    case HidRequestSetReport: {
        if (high != HidReportTypeOutput || low != 0 || setup.length == 0 ||
            setup.length > GadgetReportBytes) {
            return Stall();
        }
        ControlAnswer answer;
        answer.kind = ControlAnswer::Kind::ReceiveData;
        answer.receiveLength = setup.length;
        answer.isOutputReport = true;
        return answer;
    }
    default: return Stall();
    }
}

}  // namespace ob310
