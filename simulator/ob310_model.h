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

namespace ob310 {

// Status bytes the simulated device puts at reply offset 2.
inline constexpr std::uint8_t SimStatusAccepted = 0x00;
inline constexpr std::uint8_t SimStatusWrongPin = 0x01;
inline constexpr std::uint8_t SimStatusLocked = 0x02;
inline constexpr std::uint8_t SimStatusUnknownCommand = 0x03;
inline constexpr std::uint8_t SimStatusBadRecordIndex = 0x04;

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
    // Open from an accepted erase to the next information query: the
    // programming round of one write. See "Programming round" below.
    bool programmingRound = false;

    bool operator==(const Ob310State&) const = default;
};

// How the device answers, in short:
// - Info (command 0): a 65-byte report with custom data at 5..20, the lock
//   state at 21..22 (0xFF 0xFF open, 0x00 0x00 locked), the erase count at
//   23..24 and the serial at 25..28, both little-endian.
// - Erase with the PIN it holds: everything zero, factory-default PIN,
//   unlocked, erase count + 1 (stays at 0xFFFF); a 65-byte reply, status 0.
//   With any other PIN nothing changes and the reply is only
//   SimRefusedEraseReplyLength bytes, status SimStatusWrongPin.
// - Every other command: an unknown command (Debounce below version 0x1026
//   included) gets SimStatusUnknownCommand, a PIN other than the held one
//   SimStatusWrongPin, a locked device SimStatusLocked, a key-table index past
//   247 SimStatusBadRecordIndex; otherwise the data is stored, status 0.
//   NewPin carries the held PIN in the PIN field and the new one as data.
// - Programming round: a write sends the debounce after the new PIN and the
//   lock, still with the factory-default PIN. So from an accepted erase to
//   the next information query (every run of the tool begins with one) the
//   device also takes requests that carry the factory-default PIN, locked or
//   not; outside that round only the held PIN opens an unlocked device.
// Programming replies are 65 bytes: report ID 0, the command, the status.
// Bytes past `length` in a short report count as zero.
class Ob310Model {
public:
    // Answers one output report (`length` bytes, report ID first, as the host
    // wrote it). Fills `reply` (report ID first, zero beyond the answer) and
    // returns the reply's length in bytes.
    std::size_t HandleReport(const std::uint8_t* report, std::size_t length, Report& reply);

    Ob310State state;
};

}  // namespace ob310
