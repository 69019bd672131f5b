// Finding the OB310's HID interfaces and picking its configuration interface.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/hid_layer.h"

inline constexpr int MaxDeviceInterfaces = 16;
inline constexpr int InterfacesPerDevice = 6;

// The OB310's USB identity. Every interface of the device reports both.
inline constexpr std::uint16_t DeviceVendorId = 0x1209;
inline constexpr std::uint16_t DeviceProductId = 0xB310;

// The product-string buffer holds 255 wide characters; the platform call is
// given a length of 255 bytes.
inline constexpr std::size_t ProductStringBufferChars = 255;
inline constexpr std::uint32_t ProductStringLengthGiven = 255;

inline const std::u16string ConfigInterfaceName = u"ConfigInterface";

// One opened HID interface. Copying or destroying a record never opens or
// closes a handle: copies share the driver's handles.
struct DeviceInterface {
    std::u16string productString;
    HidCaps caps{};
    HidHandle readHandle = InvalidHidHandle;   // overlapped: input reports, attributes
    HidHandle writeHandle = InvalidHidHandle;  // synchronous: output reports, caps, strings
};

// The driver's table of matching interfaces, handed by value into every
// request. It carries the HID layer its handles belong to.
struct DeviceInterfaceTable {
    HidLayer* hid = nullptr;
    std::array<DeviceInterface, MaxDeviceInterfaces> records{};
};

// Resets every handle of `table` to invalid, fills it with the matching
// interfaces in enumeration order and returns the number of whole devices
// (matching interfaces / InterfacesPerDevice). Prints nothing.
int DiscoverDevices(DeviceInterfaceTable& table);

// Index (0 to 5) of the first of records 0..5 whose product string equals
// `name` exactly; 0 when none does.
int FindInterfaceByProduct(const DeviceInterfaceTable& table, const std::u16string& name);
