#include "cli/flows.h"

#include <cstdint>

#include "output/console.h"
#include "output/exit_code.h"
#include "output/messages.h"
#include "cli/process_state.h"
#include "protocol/device_info.h"
#include "protocol/requests.h"

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

}  // namespace

void CloseDeviceHandles(DeviceInterfaceTable& table) {
    for (DeviceInterface& record : table.records) {
        for (HidHandle* handle : {&record.readHandle, &record.writeHandle}) {
            if (*handle != InvalidHidHandle) {
                table.hid->Close(*handle);
                // A handle closed here is gone from the table, so a second
                // call can never close it again.
                *handle = InvalidHidHandle;
            }
        }
    }
}

std::string BuildEraseResultRecord(const std::string& deviceIdentity) {
    return "CMD=erase;STATE=success;" + deviceIdentity + ";";
}

std::string BuildWriteResultRecord(const std::string& deviceIdentity,
                                   const std::string& configFileName) {
    return "CMD=write;STATE=success;" + deviceIdentity + ";FILE=" + LogText(configFileName) + ";";
}

int FinishWithResultRecord(const std::string& record) {
    const bool written = !settings.logRequested || WriteLogLine(record);
    logFile.Close();
    if (!written) {
        // The device work is done; only its record is missing.
        PrintError("Error: Can not write logfile", ExitArgumentError);
        return ExitArgumentError;
    }
    return ExitSuccess;
}

int RunInformationFlow() {
    DeviceInterfaceTable table{deviceLayer};
    if (DiscoverDevices(table) < 1) {
        CloseDeviceHandles(table);
        PrintError(NoDeviceMessage, ExitNoDevice);
        return ExitNoDevice;
    }
    // With more than one device attached this is the first one listed: its
    // configuration interface is among the first six records.
    if (PrintDeviceInfo(table) == 0) {
        CloseDeviceHandles(table);
        return ExitSuccess;
    }
    PrintError("Error: Can not get device information of OB310", ExitReadWriteError);
    CloseDeviceHandles(table);
    return ExitReadWriteError;
}

int RunEraseFlow(const std::string& recordFields) {
    DeviceInterfaceTable table{deviceLayer};
    if (DiscoverDevices(table) < 1) {
        CloseDeviceHandles(table);
        PrintError(NoDeviceMessage, ExitNoDevice);
        return ExitNoDevice;
    }
    // Taken before the erase: the record names the device as it was found.
    const std::string deviceIdentity = GetDeviceIdentity(table);
    if (settings.verboseMode) {
        ConsoleWriteLine("Info: Erase Ombrel310");
    }
    std::uint8_t status = 0;
    // A full reply means erased, whatever its status byte; a device that
    // refuses the erase answers short.
    if (EraseDevice(table, workingPin, status) != static_cast<int>(ReportBufferSize)) {
        PrintError("Error: OB310 can not erased.", ExitReadWriteError);
        CloseDeviceHandles(table);
        return ExitReadWriteError;
    }
    CloseDeviceHandles(table);
    const int code = FinishWithResultRecord(BuildEraseResultRecord(deviceIdentity) + recordFields);
    if (code != ExitSuccess) {
        return code;
    }
    PrintVerbose("Success: OB310 successful erased.");
    return ExitSuccess;
}
