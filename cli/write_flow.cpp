#include <algorithm>
#include <cstdint>
#include <string>

#include "cli/flows.h"
#include "config/config_file.h"
#include "output/exit_code.h"
#include "protocol/device_info.h"
#include "protocol/requests.h"

namespace ob310 {

namespace {

// The first version number of the device firmware that takes the debounce
// request.
constexpr std::uint16_t FirstVersionWithDebounce = 0x1026;

// The LED request carries the first 15 of the 16 LED bytes.
LedDataBlock LedRequestData(const ConfigImage& image) {
    LedDataBlock data{};
    std::copy_n(image.ledData.begin(), data.size(), data.begin());
    return data;
}

// The mouse request carries the 16 mouse bytes followed by all 16 LED bytes.
MouseDataBlock MouseRequestData(const ConfigImage& image) {
    static_assert(sizeof(ConfigImage::mouseData) + sizeof(ConfigImage::ledData) ==
                  std::tuple_size_v<MouseDataBlock>);
    MouseDataBlock data{};
    auto next = std::copy(image.mouseData.begin(), image.mouseData.end(), data.begin());
    std::copy(image.ledData.begin(), image.ledData.end(), next);
    return data;
}

// A programming request after the key tables counts only with a reply and
// the device's acceptance.
bool Accepted(int result, std::uint8_t status) { return result >= 1 && status == 0; }

// Reports the failed step; the table closes its handles when it goes.
int FailWith(RunContext& context, const char* message, ExitCode code) {
    context.PrintError(message, code);
    return code;
}

// Everything after a successful discovery of exactly one device. Returns the
// exit code.
int ProgramDevice(RunContext& context, const DeviceInterfaceTable& table) {
    const ConfigImage& image = context.configImage;
    Pin& workingPin = context.workingPin;
    std::uint8_t status = 0;

    context.PrintVerbose("Start programming OB310");
    context.PrintVerbose("Erase OB310");
    if (EraseDevice(table, workingPin, status) != static_cast<int>(ReportBufferSize)) {
        return FailWith(context, "Error: Can not erase Ombrel310", ExitReadWriteError);
    }
    // The erased device holds the factory-default PIN; everything from here on
    // carries it, except the lock, which carries the new PIN.
    workingPin = FactoryDefaultPin;
    status = 0;

    // The status of a key-table reply is not the device's verdict on the
    // record; only a missing reply stops the sequence.
    for (std::size_t index = 0; index < KeyTableRecordCount; ++index) {
        if (WriteKeyTableRecord(table, static_cast<std::uint8_t>(index), workingPin,
                                image.keyTables[index], status) < 1) {
            return FailWith(context, "Error: Fail to write keytables", ExitReadWriteError);
        }
    }

    int result = WriteCustomData(table, workingPin, image.customData, status);
    if (!Accepted(result, status)) {
        return FailWith(context, "Error: Fail to write custom data", ExitReadWriteError);
    }
    result = WriteLedData(table, workingPin, image.ledMode, image.ledParams, LedRequestData(image),
                          status);
    if (!Accepted(result, status)) {
        return FailWith(context, "Error: Fail to write LED data", ExitReadWriteError);
    }
    result = WriteMouseData(table, workingPin, MouseRequestData(image), status);
    if (!Accepted(result, status)) {
        return FailWith(context, "Error: Fail to write mouse data", ExitReadWriteError);
    }
    result = WriteNewPin(table, image.newPin, status);
    if (!Accepted(result, status)) {
        return FailWith(context, "Error: Fail to write new PIN", ExitReadWriteError);
    }
    if (image.lockFlag == 1) {
        result = WriteLock(table, image.newPin, status);
        if (!Accepted(result, status)) {
            return FailWith(context, "Error: Fail to write LOCK", ExitReadWriteError);
        }
    }
    // Older firmware does not know the debounce request. A version that cannot
    // be read counts as 0, so such a device gets none either.
    if (ReadDeviceVersion(table) >= FirstVersionWithDebounce) {
        result = WriteDebounce(table, workingPin, image.debounce, status);
        if (!Accepted(result, status)) {
            return FailWith(context, "Error: Fail to write debounce", ExitReadWriteError);
        }
    }

    context.PrintVerbose("Success: Write complete");
    return ExitSuccess;
}

}  // namespace

int RunWriteFlow(RunContext& context) {
    const Settings& settings = context.settings;
    if (settings.configFileName.empty()) {
        context.PrintError("Error: No ob310 file selected", ExitFileNotFound);
        return ExitFileNotFound;
    }
    // The whole file is read and checked before any device is touched.
    const ConfigReadResult readResult =
        ReadConfigFile(settings.configFileName, context.configImage, context.console);
    if (readResult == ConfigReadResult::CannotOpen) {
        context.PrintError("Error: No file to programm", ExitFileNotFound);
        return ExitFileNotFound;
    }
    if (readResult == ConfigReadResult::ContentError) {
        context.PrintError("Error: File content not correct", ExitFileContentError);
        return ExitFileContentError;
    }

    DeviceInterfaceTable table{&context.deviceLayer};
    const int devices = DiscoverForRun(context, table);
    if (devices < 1) {
        return ExitNoDevice;
    }
    if (devices > 1) {
        return FailWith(context, "Error: More than on OB310 detected.", ExitTooManyDevices);
    }
    const std::string deviceIdentity = GetDeviceIdentity(table);
    const int code = ProgramDevice(context, table);
    if (code != ExitSuccess) {
        return code;
    }
    // The device is left before the record is written.
    table.CloseHandles();
    return FinishWithResultRecord(context,
                                  BuildWriteResultRecord(deviceIdentity, settings.configFileName));
}

}  // namespace ob310
