#include "linux-vm/gadget_descriptors.h"

namespace ob310 {

namespace {

constexpr std::uint32_t FfsDescriptorsMagicV2 = 3;  // FUNCTIONFS_DESCRIPTORS_MAGIC_V2
constexpr std::uint32_t FfsStringsMagic = 2;        // FUNCTIONFS_STRINGS_MAGIC
constexpr std::uint32_t FfsHasFullSpeed = 1;        // FUNCTIONFS_HAS_FS_DESC
constexpr std::uint32_t FfsHasHighSpeed = 2;        // FUNCTIONFS_HAS_HS_DESC
constexpr std::uint8_t UsbClassHid = 0x03;
constexpr std::uint8_t EndpointInterrupt = 0x03;
constexpr std::uint16_t LanguageUsEnglish = 0x0409;

void PutLe16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutLe32(Bytes& out, std::uint32_t value) {
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

void SetLe32(Bytes& out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Interface, HID class descriptor and the two interrupt endpoints of one
// speed. bInterfaceNumber and the endpoint numbers are the function's own;
// the composite framework maps them to the device's.
void PutSpeedDescriptors(Bytes& out, std::size_t reportDescriptorLength, std::uint8_t interval) {
    const Bytes interfaceDescriptor = {9, UsbDescriptorInterface, 0, 0, 2, UsbClassHid, 0, 0, 1};
    out.insert(out.end(), interfaceDescriptor.begin(), interfaceDescriptor.end());
    const Bytes hid = HidClassDescriptor(reportDescriptorLength);
    out.insert(out.end(), hid.begin(), hid.end());
    for (std::uint8_t address : {std::uint8_t{0x81}, std::uint8_t{0x02}}) {
        out.insert(out.end(), {7, UsbDescriptorEndpoint, address, EndpointInterrupt});
        PutLe16(out, GadgetMaxPacketSize);
        out.push_back(interval);
    }
}

}  // namespace

const std::vector<GadgetInterface>& GadgetInterfaces() {
    static const std::vector<GadgetInterface> interfaces = {
        {GadgetInterfaceKind::Keyboard, "Keyboard", "kbd"},
        {GadgetInterfaceKind::Keypad, "Keypad", "keypad"},
        {GadgetInterfaceKind::Consumer, "Consumer", "consumer"},
        {GadgetInterfaceKind::Mouse, "Mouse", "mouse"},
        {GadgetInterfaceKind::Leds, "LEDs", "leds"},
        {GadgetInterfaceKind::Config, "ConfigInterface", "config"},
    };
    return interfaces;
}

// The report descriptors are laid out one item per line, so that each item
// reads as the HID usage tables name it.
// clang-format off
Bytes GadgetReportDescriptor(GadgetInterfaceKind kind) {
    switch (kind) {
    case GadgetInterfaceKind::Keyboard:
        return {
            0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Application
            0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
            0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // 8 modifier bits
            0x95, 0x01, 0x75, 0x08, 0x81, 0x01,  // reserved byte
            0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x95, 0x05, 0x75, 0x01,
            0x91, 0x02,                          // 5 LED bits out
            0x95, 0x01, 0x75, 0x03, 0x91, 0x01,  // padding
            0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x15, 0x00, 0x25, 0x65,
            0x75, 0x08, 0x95, 0x06, 0x81, 0x00,  // 6 key codes
            0xC0,
        };
    case GadgetInterfaceKind::Keypad:
        return {
            0x05, 0x01, 0x09, 0x07, 0xA1, 0x01,  // Generic Desktop, Keypad, Application
            0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x15, 0x00, 0x25, 0x65,
            0x75, 0x08, 0x95, 0x06, 0x81, 0x00,  // 6 key codes
            0xC0,
        };
    case GadgetInterfaceKind::Consumer:
        return {
            0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,  // Consumer, Consumer Control, Application
            0x15, 0x00, 0x26, 0xFF, 0x03, 0x19, 0x00, 0x2A, 0xFF, 0x03,
            0x75, 0x10, 0x95, 0x02, 0x81, 0x00,  // two 16-bit usages
            0xC0,
        };
    case GadgetInterfaceKind::Mouse:
        return {
            0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // Generic Desktop, Mouse, Application
            0x09, 0x01, 0xA1, 0x00,              // Pointer, Physical
            0x05, 0x09, 0x19, 0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01,
            0x95, 0x05, 0x75, 0x01, 0x81, 0x02,  // 5 buttons
            0x95, 0x01, 0x75, 0x03, 0x81, 0x01,  // padding
            0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38, 0x15, 0x81, 0x25, 0x7F,
            0x75, 0x08, 0x95, 0x03, 0x81, 0x06,  // X, Y, wheel, relative
            0xC0, 0xC0,
        };
    case GadgetInterfaceKind::Leds:
        return {
            0x06, 0x01, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // Vendor 0xFF01, Application
            0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
            0x95, 0x08, 0x09, 0x02, 0x81, 0x02,  // 8 bytes in
            0x95, 0x08, 0x09, 0x03, 0x91, 0x02,  // 8 bytes out
            0xC0,
        };
    case GadgetInterfaceKind::Config:
        break;
    }
    return {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // Vendor 0xFF00, Application
        0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
        0x95, 0x40, 0x09, 0x01, 0x81, 0x02,  // 64 bytes in
        0x95, 0x40, 0x09, 0x01, 0x91, 0x02,  // 64 bytes out
        0xC0,
    };
}
// clang-format on

Bytes HidClassDescriptor(std::size_t reportDescriptorLength) {
    Bytes out = {9, HidDescriptorHid, 0x11, 0x01, 0x00, 1, HidDescriptorReport};
    PutLe16(out, static_cast<std::uint32_t>(reportDescriptorLength));
    return out;
}

Bytes FunctionFsDescriptors(std::size_t reportDescriptorLength) {
    constexpr std::uint32_t DescriptorsPerSpeed = 4;
    Bytes out;
    PutLe32(out, FfsDescriptorsMagicV2);
    PutLe32(out, 0);  // total length, set below
    PutLe32(out, FfsHasFullSpeed | FfsHasHighSpeed);
    PutLe32(out, DescriptorsPerSpeed);
    PutLe32(out, DescriptorsPerSpeed);
    // bInterval 1: every frame (1 ms) at full speed, every microframe
    // (125 us) at high speed, which dummy_hcd runs at.
    PutSpeedDescriptors(out, reportDescriptorLength, 1);
    PutSpeedDescriptors(out, reportDescriptorLength, 1);
    SetLe32(out, 4, static_cast<std::uint32_t>(out.size()));
    return out;
}

Bytes FunctionFsStrings(const std::string& interfaceName) {
    Bytes out;
    PutLe32(out, FfsStringsMagic);
    PutLe32(out, 0);  // total length, set below
    PutLe32(out, 1);  // strings per language
    PutLe32(out, 1);  // languages
    PutLe16(out, LanguageUsEnglish);
    out.insert(out.end(), interfaceName.begin(), interfaceName.end());
    out.push_back(0);
    SetLe32(out, 4, static_cast<std::uint32_t>(out.size()));
    return out;
}

}  // namespace ob310
