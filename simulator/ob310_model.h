// The simulated OB310's inner working: the device state and how it answers
// each request. Every simulated or virtual OB310 (the in-process HID layer,
// the persistent simulator, the USB gadget for Linux) answers through this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device/exchange.h"
#include "protocol/pin.h"
#include "protocol/requests.h"

// Status bytes the simulated device puts at reply offset 2.
inline constexpr std::uint8_t SimStatusAccepted = 0x00;
inline constexpr std::uint8_t SimStatusWrongPin = 0x01;
inline constexpr std::uint8_t SimStatusLocked = 0x02;
inline constexpr std::uint8_t SimStatusUnknownCommand = 0x03;

// Length of the reply to an erase that the device refuses (wrong PIN): the
// report ID, the command and the status. An accepted erase gets a full report.
inline constexpr std::size_t SimRefusedEraseReplyLength = 3;

struct Ob310State {
    std::uint16_t versionNumber = 0x1026;
    std::uint32_t serial = 0x00B31001;
    Pin pin = FactoryDefaultPin;
    std::uint16_t eraseCount = 0;
    bool locked = false;
    std::array<std::uint8_t, 16> customData{};
    std::array<KeyTableRecord, KeyTableRecordCount> keyTables{};
    std::uint8_t ledMode = 0;
    std::array<std::uint8_t, 8> ledParams{};
    std::array<std::uint8_t, 15> ledData{};
    MouseDataBlock mouseData{};
    std::uint8_t debounce = 0;
};

class Ob310Model {
public:
    // Answers one output report (`length` bytes, report ID first, as the host
    // wrote it). Fills `reply` (report ID first, zero beyond the answer) and
    // returns the reply's length in bytes.
    std::size_t HandleReport(const std::uint8_t* report, std::size_t length, Report& reply);

    Ob310State state;
};
