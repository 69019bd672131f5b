// Finding the OB310's HID interfaces and picking its configuration interface.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/hid_layer.h"

namespace ob310 {

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

// One opened HID interface. A record is plain data: its handles belong to the
// table that holds it.
struct DeviceInterface {
    std::u16string productString;
    HidCaps caps{};
    HidHandle readHandle = InvalidHidHandle;   // overlapped: input reports, attributes
    HidHandle writeHandle = InvalidHidHandle;  // synchronous: output reports, caps, strings
    // Opened for queries only because this process may not exchange reports
    // with the interface (HidLayer::ReportsDenied).
    bool reportsDenied = false;
};

// The table of matching interfaces of one discovery, with the HID layer its
// handles belong to. It owns the handles of its records: each valid one is
// closed exactly once, by CloseHandles() or when the table goes. It cannot be
// copied; requests take it by reference.
struct DeviceInterfaceTable {
    explicit DeviceInterfaceTable(HidLayer* layer = nullptr) : hid(layer) {}
    ~DeviceInterfaceTable() { CloseHandles(); }
    DeviceInterfaceTable(const DeviceInterfaceTable&) = delete;
    DeviceInterfaceTable& operator=(const DeviceInterfaceTable&) = delete;

    // Closes each valid handle (read, then write, record by record) and marks
    // it invalid, so a second call closes nothing.
    void CloseHandles();

    HidLayer* hid = nullptr;
    std::array<DeviceInterface, MaxDeviceInterfaces> records{};
};

// Closes the handles `table` holds and clears its records, fills it with the
// matching interfaces in enumeration order and returns the number of whole
// devices (matching interfaces / InterfacesPerDevice).
int DiscoverDevices(DeviceInterfaceTable& table);

// Index (0 to 5) of the first of records 0..5 whose product string equals
// `name` exactly; 0 when none does.
int FindInterfaceByProduct(const DeviceInterfaceTable& table, const std::u16string& name);

}  // namespace ob310
