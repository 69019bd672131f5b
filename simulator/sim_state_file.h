// The persistent simulated OB310: the device file that holds its state and its
// scenario between runs, the journal of changes a run has made to it, and the
// record of every report it received.
//
// The device file is plain text, one "key = value" per line; '#' starts a
// comment line, blanks around keys and values do not matter, a CR before the
// line end is ignored and so is a UTF-8 byte-order mark at the start. Keys:
//
//   devices     = 0 to 3            how many OB310 are attached
//   version     = 1 to 4 hex digits the HID version number (revision)
//   serial      = 1 to 8 hex digits the serial number, most significant first
//   pin         = 16 hex digits     the PIN the device holds
//   erase_count = 0 to 65535        erases so far (decimal)
//   locked      = yes | no
//   custom_data = 32 hex digits
//   led_mode    = 2 hex digits
//   led_params  = 16 hex digits
//   led_data    = 30 hex digits     the 15 bytes the LED request carries
//   mouse_data  = 64 hex digits     the 32 bytes the mouse request carries
//   debounce    = 2 hex digits
//   keytable N  = 64 hex digits     key-table record N (0 to 247); records not
//                                   listed are all zero
//   fault       = TARGET KIND [RUNS] any number of them, see below
//   runs        = decimal           the runs the device has seen (the simulator
//                                   counts them; a file without it starts at 0)
//
// A fault makes the device misbehave at one request of every run, or of
// chosen runs only:
//   TARGET: "request N"  the N-th report the device receives in the run (1 is
//                        the first, up to SimMaxFaultRequest); "keytable I"
//                        the key-table record I.
//   KIND:   "no-reply"        the device never answers
//           "reply-at-wait W" the answer comes during the W-th wait (1 to 16
//                             arrive in time, later ones never do)
//           "write-fails"     the report is not taken: the write delivers 0
//           "write-hangs"     the device stops taking reports: the write
//                             gives up after its 5000 ms (virtual time)
//           "refuse XX"       the answer carries status byte XX (01 to FF)
//           "short L"         the answer is only L bytes long (1 to 64)
//           "reply-twice"     the answer comes twice: the second copy waits,
//                             stale, for whatever reads next
//   RUNS:   "runs A,B,..."    only in these runs (1 is the first run after the
//                             file was written without a runs line)
//           "every N"         only in every N-th run: N, 2N, 3N, ...
//
// Keys may come in any order and every key is optional; a missing key keeps
// its factory value. A later line for the same key replaces an earlier one,
// except fault lines, which add up.
//
// The journal holds device-file lines too: for each request that changed the
// device, the lines of the keys it changed, then SimJournalEntryEnd.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/ob310_model.h"
#include "simulator/sim_hid_layer.h"

namespace ob310 {

inline constexpr const char* SimDeviceFileName = "ob310_sim_device.txt";
inline constexpr const char* SimJournalFileName = "ob310_sim_device.journal";
inline constexpr const char* SimRecordFileName = "ob310_sim_received.txt";
inline constexpr const char* SimLockFileName = "ob310_sim_device.lock";
// The device file is saved through a side file of its name and this, then
// renamed over it.
inline constexpr const char* SimSideFileSuffix = ".new";
inline constexpr const char* SimJournalEntryEnd = "# end of request\n";
inline constexpr int SimMaxDevices = 3;
inline constexpr std::uint32_t SimMaxFaultRequest = 1000000;
inline constexpr std::uint32_t SimMaxRuns = 999999999;  // the run counter stops here
// The factory serial number of a simulated device: plainly not a real one.
inline constexpr std::uint32_t SimFactorySerial = 0x00000000;
// Device files and journals are at most this long; a longer one is refused
// rather than read.
inline constexpr std::uintmax_t SimMaxFileBytes = 1024 * 1024;

struct SimFault {
    enum class Target { Request, KeyTable };
    enum class Kind { NoReply, ReplyAtWait, WriteFails, WriteHangs, Refuse, Short, ReplyTwice };

    Target target = Target::Request;
    unsigned index = 1;  // request number (from 1) or key-table index
    Kind kind = Kind::NoReply;
    unsigned value = 0;               // wait number, status byte or reply length
    std::vector<std::uint32_t> runs;  // fires only in these runs; none: see everyRuns
    std::uint32_t everyRuns = 0;      // fires only in every N-th run; 0 and no runs: in every run

    bool FiresInRun(std::uint32_t run) const;
    bool operator==(const SimFault&) const = default;
};

struct SimDeviceFile {
    SimDeviceFile() { state.serial = SimFactorySerial; }

    int deviceCount = 1;
    std::uint32_t runs = 0;  // the number of the last run that attached the device
    Ob310State state;        // factory defaults until a file says otherwise
    std::vector<SimFault> faults;

    bool operator==(const SimDeviceFile&) const = default;
};

// Parses the text of a device file (or journal) into `device`, over what it
// already holds. On a broken line returns false and sets `error` to a one-line
// description naming the line number, e.g. `line 4: unknown key "colour"`.
bool ParseSimDeviceFile(std::string_view text, SimDeviceFile& device, std::string& error);

// The text of a device file: a comment block that documents the format, then
// every key in a fixed order (key-table records only when not all zero), then
// the fault lines. Parsing it gives `device` back.
std::string FormatSimDeviceFile(const SimDeviceFile& device);

// The device-file lines of the keys whose values differ from `before` to
// `after` (a key-table record that became zero included); empty when none.
std::string FormatSimChanges(const Ob310State& before, const Ob310State& after);

// One received report for the record: its bytes as lower-case hex, two blanks,
// what it is in words, " -> " and what the device does with it, e.g.
// "request 5: keytable 2, PIN 5A3C19E7B2D40F86 -> status 00", "... -> refused,
// status 01", "... -> no reply", "... -> not taken, the write failed".
std::string FormatReceivedReport(const SimReceivedReport& report);

enum class SimLoadOutcome {
    Loaded,   // read and applied
    Missing,  // nothing there; `device` is unchanged
    Broken,   // can not be used; `error` says why in one line
};

// Reads the device file at `path` into `device`. A folder, a device, a FIFO
// or a file larger than SimMaxFileBytes is Broken without being read.
SimLoadOutcome LoadSimDeviceFile(const std::string& path, SimDeviceFile& device,
                                 std::string& error);

// Applies the journal at `path` to `device`: every entry that was written
// whole. A torn last entry is dropped: its write never returned, so the tool
// never learnt that the device took it. Anything but a regular file there is
// no journal (Missing).
SimLoadOutcome ApplySimJournal(const std::string& path, SimDeviceFile& device, std::string& error);

// Replaces the file at `path` with `device`'s text. The text goes to a side
// file first and is renamed over the old one, so an interrupted run never
// leaves half a file. False when it could not be written.
bool SaveSimDeviceFile(const std::string& path, const SimDeviceFile& device);

}  // namespace ob310
