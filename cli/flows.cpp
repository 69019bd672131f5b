#include "cli/flows.h"

#include <cstdint>
#include <optional>

#include "output/exit_code.h"
#include "protocol/device_info.h"
#include "protocol/requests.h"

namespace ob310 {

namespace {

const char* const NoDeviceMessage = "Error: No OB310 found on system";

// A control byte in a name would end the record's line (forging further
// lines) or reach a terminal that shows the log. Such bytes (below 0x20, and
// 0x7F) are written as \xNN with upper-case digits; all others as they are.
std::string LogText(const std::string& name) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            text += {'\\', 'x', Digits[byte >> 4], Digits[byte & 0x0F]};
        } else {
            text.push_back(c);
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

int FinishWithResultRecord(RunContext& context, const std::string& record) {
    const bool written = !context.settings.logRequested ||
                         WriteLogLine(context.logFile, context.settings.logRequested, record);
    context.logFile.Close();
    if (!written) {
        // The device work is done; only its record is missing.
        context.PrintError("Error: Can not write logfile", ExitArgumentError);
        return ExitArgumentError;
    }
    return ExitSuccess;
}

int RunInformationFlow(RunContext& context) {
    DeviceInterfaceTable table{&context.deviceLayer};
    if (DiscoverDevices(table) < 1) {
        table.CloseHandles();
        context.PrintError(NoDeviceMessage, ExitNoDevice);
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
    DeviceInterfaceTable table{&context.deviceLayer};
    if (DiscoverDevices(table) < 1) {
        table.CloseHandles();
        context.PrintError(NoDeviceMessage, ExitNoDevice);
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
