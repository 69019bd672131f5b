// The USB face of the virtual OB310: six HID interfaces, each served by its own
// FunctionFS function, and the descriptors the host asks for on ep0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ob310 {

using Bytes = std::vector<std::uint8_t>;

// Reports of every interface carry no report ID; the configuration
// interface's input and output reports are 64 bytes each.
inline constexpr std::size_t GadgetReportBytes = 64;
inline constexpr std::uint16_t GadgetMaxPacketSize = 64;

// USB descriptor and HID class codes used on ep0.
inline constexpr std::uint8_t UsbDescriptorInterface = 0x04;
inline constexpr std::uint8_t UsbDescriptorEndpoint = 0x05;
inline constexpr std::uint8_t HidDescriptorHid = 0x21;
inline constexpr std::uint8_t HidDescriptorReport = 0x22;

enum class GadgetInterfaceKind { Keyboard, Keypad, Consumer, Mouse, Leds, Config };

struct GadgetInterface {
    GadgetInterfaceKind kind;
    std::string name;      // the interface's iInterface string
    std::string instance;  // the FunctionFS instance (configfs and mount name)
};

// The six interfaces in interface-number order. The configuration interface
// is the last, so that a host which takes the first interface for the device
// still has to look the "ConfigInterface" string up.
const std::vector<GadgetInterface>& GadgetInterfaces();

// The HID report descriptor of one interface: one top-level collection each.
Bytes GadgetReportDescriptor(GadgetInterfaceKind kind);

// The 9-byte HID class descriptor naming one report descriptor of
// `reportDescriptorLength` bytes.
Bytes HidClassDescriptor(std::size_t reportDescriptorLength);

// What a FunctionFS function writes to its ep0 first: full- and high-speed
// descriptors (interface, HID class descriptor, interrupt IN as ep1,
// interrupt OUT as ep2).
Bytes FunctionFsDescriptors(std::size_t reportDescriptorLength);

// What it writes second: one string (the iInterface string, index 1) in US
// English.
Bytes FunctionFsStrings(const std::string& interfaceName);

}  // namespace ob310
