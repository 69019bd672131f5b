#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cli/flows.h"
#include "config/config_file.h"
#include "protocol/requests.h"
#include "tests/support/config_lines.h"
#include "tests/support/sim_run.h"

namespace {

const std::string CommandLinePinText = "1122334455667788";
const Pin CommandLinePin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const std::string WrongPinText = "0000000000000000";

// Placeholders in a run's arguments.
const std::string FileArgument = "<file>";
const std::string MissingFileArgument = "<missing>";

constexpr auto Info = static_cast<std::uint8_t>(CommandCode::Info);
constexpr auto Erase = static_cast<std::uint8_t>(CommandCode::Erase);
constexpr auto KeyTable = static_cast<std::uint8_t>(CommandCode::KeyTableRecord);
constexpr auto CustomData = static_cast<std::uint8_t>(CommandCode::CustomData);
constexpr auto Led = static_cast<std::uint8_t>(CommandCode::Led);
constexpr auto Mouse = static_cast<std::uint8_t>(CommandCode::Mouse);
constexpr auto NewPin = static_cast<std::uint8_t>(CommandCode::NewPin);
constexpr auto Lock = static_cast<std::uint8_t>(CommandCode::Lock);
constexpr auto Debounce = static_cast<std::uint8_t>(CommandCode::Debounce);

// A file whose every byte differs from its neighbours, locking the device.
ConfigImage LockingImage() {
    ConfigImage image = SampleConfigImage();
    image.lockFlag = 1;
    return image;
}

// The sim's device checks the PIN and the lock on every request, while the
// debounce goes out with the factory-default PIN after the new PIN and the
// lock. A device of version 0x1026 or later takes it; this one answers it
// with a full reply and status 0.
void TakesDebounceAfterPinChange(SimHidLayer& sim) {
    SimRequestScript accepted;
    accepted.refuseWithStatus = SimStatusAccepted;
    sim.AddFault(0, {SimRequestSelector::ForCommand(CommandCode::Debounce), accepted});
}

// One OB310 holding the command-line PIN, of the given version.
void AddDevice(SimHidLayer& sim, std::uint16_t version = 0x1026) {
    SimDeviceOptions options;
    options.state.pin = CommandLinePin;
    options.state.versionNumber = version;
    sim.AddDevice(options);
}

SimRequestScript Silent() {
    SimRequestScript script;
    script.reply = false;
    return script;
}

SimRequestScript Refused() {
    SimRequestScript script;
    script.refuseWithStatus = SimStatusWrongPin;
    return script;
}

std::vector<std::uint8_t> Commands(std::initializer_list<std::vector<std::uint8_t>> runs) {
    std::vector<std::uint8_t> commands;
    for (const auto& run : runs) {
        commands.insert(commands.end(), run.begin(), run.end());
    }
    return commands;
}

const std::vector<std::uint8_t> KeyTables(KeyTableRecordCount, KeyTable);
const std::vector<std::uint8_t> UpToMouse =
    Commands({{Info, Erase}, KeyTables, {CustomData, Led, Mouse}});

std::string Hex(const std::uint8_t* bytes, std::size_t count) { return HexText(bytes, count); }

class WriteFlow : public SimRunTest {
protected:
    std::string WriteConfig(const std::vector<std::string>& lines, const std::string& name = "table.ob310") {
        const std::string path = dir.File(name);
        WriteFileBytes(path, ConfigFileText(lines));
        return path;
    }
    std::string WriteConfig(const ConfigImage& image) { return WriteConfig(ConfigDataLines(image)); }

    std::vector<std::string> Resolve(std::vector<std::string> arguments, const std::string& file) const {
        for (std::string& argument : arguments) {
            if (argument == FileArgument) argument = file;
            if (argument == MissingFileArgument) argument = dir.File("missing.ob310");
        }
        return arguments;
    }
};

TEST_F(WriteFlow, ValidFileSendsEveryRequestInOrderWithItsBytes) {
    const ConfigImage image = LockingImage();
    const std::string file = WriteConfig(image);
    AddDevice(sim);
    TakesDebounceAfterPinChange(sim);

    EXPECT_EQ(Run({"-f", file, "-p", CommandLinePinText, "-l", LogArgument}), 0);
    EXPECT_EQ(console.Text(), "");

    LedDataBlock ledFirst15{};
    std::copy_n(image.ledData.begin(), ledFirst15.size(), ledFirst15.begin());
    MouseDataBlock mouseAndLed{};
    std::copy(image.ledData.begin(), image.ledData.end(),
              std::copy(image.mouseData.begin(), image.mouseData.end(), mouseAndLed.begin()));

    std::vector<RequestReport> expected{BuildInfoRequest(), BuildEraseRequest(CommandLinePin)};
    for (std::size_t i = 0; i < KeyTableRecordCount; ++i) {
        expected.push_back(
            BuildKeyTableRecordRequest(static_cast<std::uint8_t>(i), FactoryDefaultPin, image.keyTables[i]));
    }
    expected.push_back(BuildCustomDataRequest(FactoryDefaultPin, image.customData));
    expected.push_back(BuildLedRequest(FactoryDefaultPin, image.ledMode, image.ledParams, ledFirst15));
    expected.push_back(BuildMouseRequest(FactoryDefaultPin, mouseAndLed));
    expected.push_back(BuildNewPinRequest(image.newPin));
    expected.push_back(BuildLockRequest(image.newPin));
    expected.push_back(BuildDebounceRequest(FactoryDefaultPin, image.debounce));

    const auto& received = sim.ReceivedReports();
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Hex(received[i].bytes.data(), received[i].bytes.size()),
                  Hex(expected[i].data(), expected[i].size()))
            << "report " << i;
    }

    // What the device holds, field by field, including records 241 to 247
    // from data lines 248 to 254.
    const Ob310State& state = sim.Model(0).state;
    for (std::size_t r = 0; r < KeyTableRecordCount; ++r) {
        EXPECT_EQ(state.keyTables[r], image.keyTables[r]) << "record " << r;
    }
    for (std::size_t r = 241; r < KeyTableRecordCount; ++r) {
        EXPECT_NE(state.keyTables[r], KeyTableRecord{}) << "record " << r;
    }
    EXPECT_EQ(state.customData, image.customData);
    EXPECT_EQ(state.ledMode, image.ledMode);
    EXPECT_EQ(state.ledParams, image.ledParams);
    EXPECT_TRUE(std::equal(state.ledData.begin(), state.ledData.end(), image.ledData.begin()));
    EXPECT_TRUE(std::equal(image.mouseData.begin(), image.mouseData.end(), state.mouseData.begin()));
    EXPECT_TRUE(std::equal(image.ledData.begin(), image.ledData.end(), state.mouseData.begin() + 16));
    EXPECT_EQ(state.pin, image.newPin);
    EXPECT_TRUE(state.locked);

    EXPECT_EQ(LogRecords(),
              std::vector<std::string>{"CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=" + file + ";"});
}

// Lock only at lockFlag 1, debounce only from version 0x1026 on.
struct OptionalCase {
    const char* name;
    std::uint8_t lockFlag;
    std::uint16_t version;
    bool versionUnreadable;
    std::vector<std::uint8_t> tail;  // after the mouse request
    std::string revision;
};

void PrintTo(const OptionalCase& row, std::ostream* out) { *out << row.name; }

class WriteFlowOptionalRequests : public WriteFlow, public ::testing::WithParamInterface<OptionalCase> {};

TEST_P(WriteFlowOptionalRequests, SentOnlyWhenDue) {
    const OptionalCase& row = GetParam();
    ConfigImage image = SampleConfigImage();
    image.lockFlag = row.lockFlag;
    const std::string file = WriteConfig(image);
    AddDevice(sim, row.version);
    TakesDebounceAfterPinChange(sim);
    if (row.versionUnreadable) {
        // Readable for discovery, unreadable from the first report on.
        sim.SetReportObserver([this](const SimReceivedReport&) { sim.Interface(0, 0).attributesUnreadable = true; });
    }
    EXPECT_EQ(Run({"-f", file, "-p", CommandLinePinText, "-l", LogArgument}), 0);
    EXPECT_EQ(console.Text(), "");
    std::vector<std::uint8_t> expected = UpToMouse;
    expected.insert(expected.end(), row.tail.begin(), row.tail.end());
    EXPECT_EQ(CommandsReceived(), expected);
    EXPECT_EQ(LogRecords(), std::vector<std::string>{"CMD=write;STATE=success;SN=00B31001;REV=" +
                                                     row.revision + ";FILE=" + file + ";"});
}

const OptionalCase OptionalCases[] = {
    {"LockAtOneWithoutDebounceBelow1026", 1, 0x1025, false, {NewPin, Lock}, "1025"},
    {"LockAndDebounceAt1026", 1, 0x1026, false, {NewPin, Lock, Debounce}, "1026"},
    {"NoLockAtZero", 0, 0x1026, false, {NewPin, Debounce}, "1026"},
    {"NoLockAtTwo", 2, 0x2000, false, {NewPin, Debounce}, "2000"},
    {"NeitherLockNorDebounce", 0, 0x1025, false, {NewPin}, "1025"},
    {"UnreadableVersionSkipsDebounce", 1, 0x1026, true, {NewPin, Lock}, "0000"},
};

INSTANTIATE_TEST_SUITE_P(Write, WriteFlowOptionalRequests, ::testing::ValuesIn(OptionalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// One row per step that can fail once the device is found: the fault, the
// message, and the last report the device took (nothing is sent after it).
struct StepCase {
    const char* name;
    std::string pinText;
    SimRequestSelector when;
    SimRequestScript script;
    int exitCode;
    std::string message;  // empty: the run succeeds
    std::size_t reportsReceived;
    std::uint8_t lastCommand;
    std::uint8_t lastIndex = 0;  // byte 2 of the last report
};

void PrintTo(const StepCase& row, std::ostream* out) { *out << row.name; }

class WriteFlowSteps : public WriteFlow, public ::testing::WithParamInterface<StepCase> {};

TEST_P(WriteFlowSteps, FailureEndsTheRunAtThatRequest) {
    const StepCase& row = GetParam();
    const std::string file = WriteConfig(LockingImage());
    AddDevice(sim);
    sim.AddFault(0, {row.when, row.script});
    TakesDebounceAfterPinChange(sim);

    EXPECT_EQ(Run({"-f", file, "-p", row.pinText, "-l", LogArgument}), row.exitCode);
    EXPECT_EQ(console.Text(), row.message.empty() ? "" : RedLine(row.message, 4));
    const auto& received = sim.ReceivedReports();
    ASSERT_EQ(received.size(), row.reportsReceived);
    EXPECT_EQ(received.back().bytes[1], row.lastCommand);
    EXPECT_EQ(received.back().bytes[2], row.lastIndex);
    EXPECT_EQ(LogRecords().size(), row.message.empty() ? 1u : 0u);
}

using Select = SimRequestSelector;
constexpr std::size_t AllReports = 2 + KeyTableRecordCount + 6;  // info, erase, ..., debounce

SimRequestScript NoBytesWritten() {
    SimRequestScript script;
    script.write = SimWrite::ZeroBytes;
    return script;
}

SimRequestScript ShortReply() {
    SimRequestScript script;
    script.replyLength = 64;
    return script;
}

const StepCase StepCases[] = {
    {"EraseWrongPin", WrongPinText, Select::Every(), {}, 4, "Error: Can not erase Ombrel310", 2, Erase},
    {"EraseSilent", CommandLinePinText, Select::ForCommand(CommandCode::Erase), Silent(), 4,
     "Error: Can not erase Ombrel310", 2, Erase},
    {"EraseShortReply", CommandLinePinText, Select::ForCommand(CommandCode::Erase), ShortReply(), 4,
     "Error: Can not erase Ombrel310", 2, Erase},
    {"FirstKeyTableSilent", CommandLinePinText, Select::ForKeyTableIndex(0), Silent(), 4,
     "Error: Fail to write keytables", 3, KeyTable, 0},
    {"KeyTableNotWritten", CommandLinePinText, Select::ForKeyTableIndex(120), NoBytesWritten(), 4,
     "Error: Fail to write keytables", 2 + 120, KeyTable, 119},
    {"LastKeyTableSilent", CommandLinePinText, Select::ForKeyTableIndex(247), Silent(), 4,
     "Error: Fail to write keytables", 2 + 248, KeyTable, 247},
    {"RefusedKeyTableGoesOn", CommandLinePinText, Select::ForKeyTableIndex(5), Refused(), 0, "",
     AllReports, Debounce},
    {"CustomDataRefused", CommandLinePinText, Select::ForCommand(CommandCode::CustomData), Refused(), 4,
     "Error: Fail to write custom data", 251, CustomData},
    {"LedRefused", CommandLinePinText, Select::ForCommand(CommandCode::Led), Refused(), 4,
     "Error: Fail to write LED data", 252, Led},
    {"MouseRefused", CommandLinePinText, Select::ForCommand(CommandCode::Mouse), Refused(), 4,
     "Error: Fail to write mouse data", 253, Mouse},
    {"NewPinRefused", CommandLinePinText, Select::ForCommand(CommandCode::NewPin), Refused(), 4,
     "Error: Fail to write new PIN", 254, NewPin},
    {"LockRefused", CommandLinePinText, Select::ForCommand(CommandCode::Lock), Refused(), 4,
     "Error: Fail to write LOCK", 255, Lock},
    {"DebounceRefused", CommandLinePinText, Select::ForCommand(CommandCode::Debounce), Refused(), 4,
     "Error: Fail to write debounce", 256, Debounce},
};

INSTANTIATE_TEST_SUITE_P(Write, WriteFlowSteps, ::testing::ValuesIn(StepCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Runs that end before any request reaches a device.
struct EarlyCase {
    const char* name;
    std::vector<std::string> arguments;
    std::function<std::vector<std::string>()> fileLines;  // nullptr: no file
    int devices;
    int exitCode;
    std::string output;
    bool touchesDevice;  // discovery ran (and closed what it opened)
};

void PrintTo(const EarlyCase& row, std::ostream* out) { *out << row.name; }

class WriteFlowEarlyEnd : public WriteFlow, public ::testing::WithParamInterface<EarlyCase> {};

TEST_P(WriteFlowEarlyEnd, NoRequestIsSent) {
    const EarlyCase& row = GetParam();
    const std::string file = row.fileLines ? WriteConfig(row.fileLines()) : dir.File("table.ob310");
    for (int i = 0; i < row.devices; ++i) {
        AddDevice(sim);
    }
    EXPECT_EQ(Run(Resolve(row.arguments, file)), row.exitCode);
    EXPECT_EQ(console.Text(), row.output);
    EXPECT_TRUE(sim.ReceivedReports().empty());
    EXPECT_EQ(sim.OpensSucceeded() > 0, row.touchesDevice);
    EXPECT_TRUE(LogRecords().empty());
}

std::vector<std::string> ValidLines() { return ConfigDataLines(SampleConfigImage()); }

std::vector<std::string> LongPinLine() {
    auto lines = ValidLines();
    lines[0] += " ";
    return lines;
}

std::vector<std::string> TooFewLines() {
    auto lines = ValidLines();
    lines.resize(254);
    return lines;
}

const std::vector<std::string> WriteArguments = {"-f", FileArgument, "-p", CommandLinePinText, "-l", LogArgument};
const std::string ContentError = RedLine("Error: File content not correct", 256);

const EarlyCase EarlyCases[] = {
    {"OneCharacterFileName", {"-f", "x", "-p", CommandLinePinText, "-l", LogArgument}, nullptr, 1, 8,
     RedLine("Error: No ob310 file selected", 8), false},
    {"MissingFile", {"-f", MissingFileArgument, "-p", CommandLinePinText, "-l", LogArgument}, nullptr, 1, 8,
     RedLine("Error: No file to programm", 8), false},
    {"HeaderLineTooLong", WriteArguments, LongPinLine, 1, 256, ContentError, false},
    {"TooFewDataLines", WriteArguments, TooFewLines, 1, 256,
     RedLine("Error in .ob310 file.", 256) + ContentError, false},
    {"BrokenFileWithTwoDevices", WriteArguments, LongPinLine, 2, 256, ContentError, false},
    {"TwoDevices", WriteArguments, ValidLines, 2, 2, RedLine("Error: More than on OB310 detected.", 2), true},
    {"NoDevice", WriteArguments, ValidLines, 0, 1, RedLine("Error: No OB310 found on system", 1), false},
};

INSTANTIATE_TEST_SUITE_P(Write, WriteFlowEarlyEnd, ::testing::ValuesIn(EarlyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriteFlow, VerboseRunNamesItsSteps) {
    const std::string file = WriteConfig(LockingImage());
    AddDevice(sim);
    TakesDebounceAfterPinChange(sim);
    EXPECT_EQ(Run({"-v", "-f", file, "-p", CommandLinePinText}), 0);
    EXPECT_EQ(console.Text(), VerboseLine("Start programming OB310") + VerboseLine("Erase OB310") +
                                  VerboseLine("Success: Write complete"));
}

TEST_F(WriteFlow, VerboseFailureShowsStepsBeforeTheError) {
    const std::string file = WriteConfig(LockingImage());
    AddDevice(sim);
    EXPECT_EQ(Run({"-v", "-f", file, "-p", WrongPinText}), 4);
    EXPECT_EQ(console.Text(), VerboseLine("Start programming OB310") + VerboseLine("Erase OB310") +
                                  RedLine("Error: Can not erase Ombrel310", 4));
}

// "-f" with two names programs from the second, and the record names it as given.
TEST_F(WriteFlow, SecondFileNameIsProgrammedAndLogged) {
    ConfigImage image = SampleConfigImage();
    const std::string file = WriteConfig(ConfigDataLines(image), "second table.ob310");
    AddDevice(sim);
    TakesDebounceAfterPinChange(sim);
    EXPECT_EQ(Run({"-f", dir.File("missing.ob310"), file, "-p", CommandLinePinText, "-l", LogArgument}), 0);
    EXPECT_EQ(sim.Model(0).state.customData, image.customData);
    EXPECT_EQ(LogRecords(), std::vector<std::string>{"CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=" +
                                                     file + ";"});
}

#ifndef _WIN32
TEST_F(WriteFlow, UnwritableLogAfterFullWriteEndsWithArgumentError) {
    const std::string file = WriteConfig(LockingImage());
    AddDevice(sim);
    TakesDebounceAfterPinChange(sim);
    EXPECT_EQ(Run({"-f", file, "-p", CommandLinePinText, "-l", "/dev/full"}), 16);
    EXPECT_EQ(console.Text(), RedLine("Error: Can not write logfile", 16));
    EXPECT_EQ(sim.ReceivedReports().size(), AllReports);
}
#endif

}  // namespace
