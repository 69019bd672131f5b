#include "cli/flows.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "config/hex.h"
#include "output/exit_code.h"
#include "protocol/device_info.h"
#include "protocol/requests.h"

namespace ob310 {

namespace {

// The length of the valid UTF-8 sequence at `at` (no overlong form, no
// surrogate, nothing beyond U+10FFFF), or 0 when the byte there begins none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    std::size_t length = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Whether a backslash at `at` starts "\x" and two hexadecimal digits, which
// a reader takes for one escaped byte.
bool StartsEscape(const std::string& name, std::size_t at) {
    return name.compare(at, 2, "\\x") == 0 && at + 3 < name.size() &&
           HexDigitValue(name[at + 2]) >= 0 && HexDigitValue(name[at + 3]) >= 0;
}

// A name must not forge a line, a field or a terminal escape in the record,
// and must decode back to itself: control bytes (below 0x20, 0x7F, and the C1
// controls U+0080 to U+009F), ';' (which ends a field), bytes that are not
// valid UTF-8 and a backslash that starts "\x" and two hex digits are written
// as \xNN with upper-case digits; every other character, in any language, as
// it is. So each "\x" and two hex digits in the field is one byte, and
// anything else stands for itself.
std::string LogText(const std::string& name) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t length = Utf8SequenceLength(name, at);
        const auto lead = static_cast<unsigned char>(name[at]);
        const bool c1Control =
            lead == 0xC2 && length == 2 && static_cast<unsigned char>(name[at + 1]) <= 0x9F;
        const bool escaped = length == 0 || c1Control || lead < 0x20 || lead == 0x7F ||
                             lead == ';' || StartsEscape(name, at);
        const std::size_t end = at + (length == 0 ? 1 : length);
        for (; at < end; ++at) {
            const auto byte = static_cast<unsigned char>(name[at]);
            if (escaped) {
                text += {'\\', 'x', Digits[byte >> 4], Digits[byte & 0x0F]};
            } else {
                text.push_back(name[at]);
            }
        }
    }
    return text;
}

// The log line of a successful erase: "CMD=erase;STATE=success;", the
// identity and ";".
std::string BuildEraseResultRecord(const std::string& deviceIdentity) {
    return "CMD=erase;STATE=success;" + deviceIdentity + ";";
}

}  // namespace

std::string BuildWriteResultRecord(const std::string& deviceIdentity,
                                   const std::string& configFileName) {
    return "CMD=write;STATE=success;" + deviceIdentity + ";FILE=" + LogText(configFileName) + ";";
}

int CheckLogBeforeDevice(RunContext& context) {
    const Settings& settings = context.settings;
    const auto isLog = [&context](const std::string& path) { return context.logFile.Is(path); };
    if (settings.logRequested &&
        ((settings.fileRequested && isLog(settings.configFileName)) ||
         std::any_of(context.ownFiles.begin(), context.ownFiles.end(), isLog) ||
         !context.logFile.LockCanBeHad())) {
        context.PrintError("Error: Can not open logfile", ExitArgumentError);
        return ExitArgumentError;
    }
    return ExitSuccess;
}

int DiscoverForRun(RunContext& context, DeviceInterfaceTable& table) {
    const int devices = DiscoverDevices(table);
    const std::size_t config =
        static_cast<std::size_t>(FindInterfaceByProduct(table, ConfigInterfaceName));
    const bool denied = devices >= 1 && table.records[config].reportsDenied;
    if (devices >= 1 && !denied) {
        return devices;
    }
    table.CloseHandles();
    context.PrintError("Error: No OB310 found on system", ExitNoDevice);
    if (denied) {
        context.console.WriteLine(ReportsDeniedLine);
    }
    return 0;
}

int FinishWithResultRecord(RunContext& context, const std::string& record) {
    const bool written =
        !context.settings.logRequested ||
        WriteLogLine(context.logFile, context.settings.logRequested, record + context.recordFields);
    // A close can report what the flush could not (a network share's delayed
    // write error): the record may then be missing.
    const bool closed = context.logFile.Close();
    if (!written || !closed) {
        // The device work is done; only its record is missing.
        context.PrintError("Error: Can not write logfile", ExitArgumentError);
        return ExitArgumentError;
    }
    return ExitSuccess;
}

int RunInformationFlow(RunContext& context) {
    DeviceInterfaceTable table{&context.deviceLayer};
    if (DiscoverForRun(context, table) < 1) {
        return ExitNoDevice;
    }
    // With more than one device attached this is the first one listed: its
    // configuration interface is among the first six records.
    const std::optional<DeviceInfoLines> info = GetDeviceInfo(table);
    if (!info) {
        context.PrintError("Error: Can not get device information of OB310", ExitReadWriteError);
        return ExitReadWriteError;
    }
    for (const std::string& line : *info) {
        context.console.WriteLine(line);
    }
    return ExitSuccess;
}

int RunEraseFlow(RunContext& context) {
    if (const int code = CheckLogBeforeDevice(context); code != ExitSuccess) {
        return code;
    }
    DeviceInterfaceTable table{&context.deviceLayer};
    if (DiscoverForRun(context, table) < 1) {
        return ExitNoDevice;
    }
    // Taken before the erase: the record names the device as it was found.
    const std::string deviceIdentity = GetDeviceIdentity(table);
    if (context.settings.verboseMode) {
        context.console.WriteLine("Info: Erase Ombrel310");
    }
    std::uint8_t status = 0;
    // A full reply means erased, whatever its status byte; a device that
    // refuses the erase answers short.
    if (EraseDevice(table, context.workingPin, status) != static_cast<int>(ReportBufferSize)) {
        context.PrintError("Error: OB310 can not erased.", ExitReadWriteError);
        return ExitReadWriteError;
    }
    // The device is left before the record is written.
    table.CloseHandles();
    const int code = FinishWithResultRecord(context, BuildEraseResultRecord(deviceIdentity));
    if (code != ExitSuccess) {
        return code;
    }
    context.PrintVerbose("Success: OB310 successful erased.");
    return ExitSuccess;
}

}  // namespace ob310
