// The persistent simulated OB310: the device file that holds its state and its
// scenario between runs, and the record of every report it received.
//
// The device file is plain text, one "key = value" per line; '#' starts a
// comment line, blanks around keys and values do not matter, and a CR before
// the line end is ignored. Keys:
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
//   fault       = TARGET KIND       any number of them, see below
//
// A fault makes the device misbehave at one request of every run:
//   TARGET: "request N"  the N-th report the device receives in the run (1 is
//                        the first); "keytable I" the key-table record I.
//   KIND:   "no-reply"        the device never answers
//           "reply-at-wait W" the answer comes during the W-th wait (1 to 16
//                             arrive in time, later ones never do)
//           "write-fails"     the report is not taken: the write delivers 0
//           "refuse XX"       the answer carries status byte XX (01 to FF)
//           "short L"         the answer is only L bytes long (1 to 64)
//
// Keys may come in any order and every key is optional; a missing key keeps
// its factory value. A later line for the same key replaces an earlier one,
// except fault lines, which add up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "simulator/ob310_model.h"

inline constexpr const char* SimDeviceFileName = "ob310_sim_device.txt";
inline constexpr const char* SimRecordFileName = "ob310_sim_received.txt";
inline constexpr int SimMaxDevices = 3;

struct SimFault {
    enum class Target { Request, KeyTable };
    enum class Kind { NoReply, ReplyAtWait, WriteFails, Refuse, Short };

    Target target = Target::Request;
    unsigned index = 1;  // request number (from 1) or key-table index
    Kind kind = Kind::NoReply;
    unsigned value = 0;  // wait number, status byte or reply length

    bool operator==(const SimFault&) const = default;
};

struct SimDeviceFile {
    int deviceCount = 1;
    Ob310State state;  // factory defaults until a file says otherwise
    std::vector<SimFault> faults;
};

// Parses the text of a device file into `device` (which starts from factory
// defaults). On a broken line returns false and sets `error` to a one-line
// description naming the line number, e.g. `line 4: unknown key "colour"`.
bool ParseSimDeviceFile(std::string_view text, SimDeviceFile& device, std::string& error);

// The text of a device file: a comment block that documents the format, then
// every key in a fixed order (key-table records only when not all zero), then
// the fault lines. Parsing it gives `device` back.
std::string FormatSimDeviceFile(const SimDeviceFile& device);

// "request 5 no-reply", "keytable 10 refuse 01", ...
std::string FormatSimFault(const SimFault& fault);

// One received report as a line of lower-case hex digits, two per byte.
std::string FormatReceivedReport(const std::uint8_t* data, std::size_t length);

enum class SimLoadOutcome {
    Loaded,   // the file existed and parsed
    Created,  // there was no file: factory defaults were written to it
    Broken,   // the file cannot be read, parsed or created; see `error`
};

// Loads the device file at `path`; when it does not exist, writes one with
// factory defaults and returns Created.
SimLoadOutcome LoadSimDeviceFile(const std::string& path, SimDeviceFile& device,
                                 std::string& error);

// Replaces the file at `path` with `device`'s text. The text goes to a side
// file first and is renamed over the old one, so an interrupted run never
// leaves half a file. False when it could not be written.
bool SaveSimDeviceFile(const std::string& path, const SimDeviceFile& device);
