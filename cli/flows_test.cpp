#include "cli/flows.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

const std::string FactoryPinText = "5A3C19E7B2D40F86";
const std::string WrongPinText = "1122334455667788";

constexpr std::uint8_t Info = 0x00;
constexpr std::uint8_t Erase = 0x03;

const std::string NoDevice = RedLine("Error: No OB310 found on system", 1);
const std::string NoInformation = RedLine("Error: Can not get device information of OB310", 4);
const std::string NotErased = RedLine("Error: OB310 can not erased.", 4);
const std::string EraseNotice = "Info: Erase Ombrel310\n";
const std::string Erased = VerboseLine("Success: OB310 successful erased.");

// A healthy device as the sim builds it: serial 0x00B31001, version 0x1026,
// nothing erased yet, open, factory-default PIN.
const std::string DefaultIdentity = "SN=00B31001;REV=1026";
const std::string DefaultPrintout =
    "Custom Data = 00000000000000000000000000000000\n"
    "Lock status = open\n"
    "Erase count = 0\n"
    "Serial = 00b31001\n"
    "Revision = 1026\n";

void OneDevice(SimHidLayer& sim) { sim.AddDevice(); }

// The device of the worked example: custom data 00 11 .. ff, open, erase
// count 298, serial 0x12345678, version 0x1026.
void ExampleDevice(SimHidLayer& sim) {
    SimDeviceOptions options;
    for (std::size_t i = 0; i < options.state.customData.size(); ++i) {
        options.state.customData[i] = static_cast<std::uint8_t>(0x11 * i);
    }
    options.state.eraseCount = 298;
    options.state.serial = 0x12345678;
    sim.AddDevice(options);
}

void Fault(SimHidLayer& sim, SimRequestSelector when, SimRequestScript script) {
    sim.AddFault(0, {when, script});
}

SimRequestScript Silent() {
    SimRequestScript script;
    script.reply = false;
    return script;
}

// The attributes of record 0 become unreadable once discovery is done: the
// version read after the information query fails.
void VersionUnreadableAfterQuery(SimHidLayer& sim) {
    sim.SetReportObserver([&sim](const SimReceivedReport&) { sim.Interface(0, 0).attributesUnreadable = true; });
}

struct FlowCase {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void(SimHidLayer&)> setup;
    int exitCode;
    std::string output;
    std::vector<std::uint8_t> commands;  // as device 0 took them
    std::vector<std::string> logRecords;
    std::function<void(const SimHidLayer&)> check = [](const SimHidLayer&) {};
};

void PrintTo(const FlowCase& row, std::ostream* out) { *out << row.name; }

class InformationAndEraseFlows : public SimRunTest, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(InformationAndEraseFlows, OutcomeOverSimulatedDevice) {
    const FlowCase& row = GetParam();
    row.setup(sim);
    EXPECT_EQ(Run(row.arguments), row.exitCode);
    EXPECT_EQ(console.Text(), row.output);
    EXPECT_EQ(CommandsReceived(), row.commands);
    EXPECT_EQ(LogRecords(), row.logRecords);
    row.check(sim);
}

const FlowCase FlowCases[] = {
    // Information.
    {"InfoNoDevice", {"-i", "-l", LogArgument}, [](SimHidLayer&) {}, 1, NoDevice, {}, {}},
    {"InfoWorkedExample", {"-i", "-l", LogArgument}, ExampleDevice, 0,
     "Custom Data = 00112233445566778899aabbccddeeff\n"
     "Lock status = open\n"
     "Erase count = 298\n"
     "Serial = 12345678\n"
     "Revision = 1026\n",
     {Info}, {}},
    {"InfoVerboseAddsNothing", {"-v", "-i"}, OneDevice, 0, DefaultPrintout, {Info}, {}},
    // A reply of 10 bytes: custom data bytes 0..4 arrive, the rest reads zero.
    {"InfoShortReply", {"-i"}, [](SimHidLayer& sim) {
         ExampleDevice(sim);
         SimRequestScript cut;
         cut.replyLength = 10;
         Fault(sim, SimRequestSelector::Every(), cut);
     }, 0,
     "Custom Data = 00112233440000000000000000000000\n"
     "Lock status = locked\n"
     "Erase count = 0\n"
     "Serial = 00000000\n"
     "Revision = 1026\n",
     {Info}, {}},
    {"InfoVersionUnreadable", {"-i"}, [](SimHidLayer& sim) {
         OneDevice(sim);
         VersionUnreadableAfterQuery(sim);
     }, 0,
     "Custom Data = 00000000000000000000000000000000\n"
     "Lock status = open\n"
     "Erase count = 0\n"
     "Serial = 00b31001\n"
     "Revision = 0000\n",
     {Info}, {}},
    {"InfoDeviceSilent", {"-i", "-l", LogArgument}, [](SimHidLayer& sim) {
         OneDevice(sim);
         Fault(sim, SimRequestSelector::Every(), Silent());
     }, 4, NoInformation, {Info}, {},
     [](const SimHidLayer& sim) { EXPECT_EQ(sim.NowMs(), 16u * 5000u); }},
    {"InfoFirstOfTwoDevices", {"-i"}, [](SimHidLayer& sim) {
         OneDevice(sim);
         SimDeviceOptions second;
         second.state.serial = 0x99999999;
         sim.AddDevice(second);
     }, 0, DefaultPrintout, {Info}, {}},

    // Erase.
    {"EraseNoDevice", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer&) {}, 1,
     NoDevice, {}, {}},
    {"EraseQuietAndLogged", {"-c", "-p", FactoryPinText, "-l", LogArgument}, OneDevice, 0, "",
     {Info, Erase}, {"CMD=erase;STATE=success;" + DefaultIdentity + ";"},
     [](const SimHidLayer& sim) { EXPECT_EQ(sim.Model(0).state.eraseCount, 1); }},
    {"EraseVerbose", {"-v", "-c", "-p", FactoryPinText}, OneDevice, 0, EraseNotice + Erased,
     {Info, Erase}, {}},
    // The device refuses a wrong PIN with a 3-byte reply.
    {"EraseWrongPin", {"-c", "-p", WrongPinText, "-l", LogArgument}, OneDevice, 4, NotErased,
     {Info, Erase}, {},
     [](const SimHidLayer& sim) { EXPECT_EQ(sim.Model(0).state.eraseCount, 0); }},
    {"EraseDeviceSilent", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer& sim) {
         OneDevice(sim);
         Fault(sim, SimRequestSelector::Every(), Silent());
     }, 4, NotErased, {Info, Erase}, {}},
    // A full reply counts as erased whatever its status byte says.
    {"EraseFullReplyWithStatus", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer& sim) {
         OneDevice(sim);
         SimRequestScript refused;
         refused.refuseWithStatus = SimStatusLocked;
         Fault(sim, SimRequestSelector::ForCommand(CommandCode::Erase), refused);
     }, 0, "", {Info, Erase}, {"CMD=erase;STATE=success;" + DefaultIdentity + ";"}},
    // No identity: the record keeps its separator.
    {"EraseIdentityUnanswered", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer& sim) {
         OneDevice(sim);
         Fault(sim, SimRequestSelector::ForCommand(CommandCode::Info), Silent());
     }, 0, "", {Info, Erase}, {"CMD=erase;STATE=success;;"}},
    {"EraseVersionUnreadable", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer& sim) {
         OneDevice(sim);
         VersionUnreadableAfterQuery(sim);
     }, 0, "", {Info, Erase}, {"CMD=erase;STATE=success;SN=00B31001;REV=0000;"}},
    {"EraseFirstOfTwoDevices", {"-c", "-p", FactoryPinText, "-l", LogArgument}, [](SimHidLayer& sim) {
         ExampleDevice(sim);
         sim.AddDevice();
     }, 0, "", {Info, Erase}, {"CMD=erase;STATE=success;SN=12345678;REV=1026;"},
     [](const SimHidLayer& sim) {
         EXPECT_EQ(sim.Model(0).state.eraseCount, 299);
         EXPECT_EQ(sim.Model(1).state.eraseCount, 0);
     }},
};

INSTANTIATE_TEST_SUITE_P(Flows, InformationAndEraseFlows, ::testing::ValuesIn(FlowCases),
                         [](const auto& info) { return std::string(info.param.name); });

using EraseLog = SimRunTest;

TEST_F(EraseLog, SecondEraseAppendsItsRecordAfterTheFirst) {
    sim.AddDevice();
    ASSERT_EQ(Run({"-c", "-p", FactoryPinText, "-l", LogArgument}), 0);
    ASSERT_EQ(Run({"-c", "-p", FactoryPinText, "-l", LogArgument}), 0);
    EXPECT_EQ(LogRecords(), (std::vector<std::string>{"CMD=erase;STATE=success;SN=00B31001;REV=1026;",
                                                      "CMD=erase;STATE=success;SN=00B31001;REV=1026;"}));
}

#ifndef _WIN32
// A log whose line cannot be written: the erase is done, the run says so
// with exit code 16 instead of claiming success.
TEST_F(EraseLog, UnwritableLogEndsWithArgumentError) {
    sim.AddDevice();
    EXPECT_EQ(Run({"-v", "-c", "-p", FactoryPinText, "-l", "/dev/full"}), 16);
    EXPECT_EQ(console.Text(), EraseNotice + RedLine("Error: Can not write logfile", 16));
    EXPECT_EQ(sim.Model(0).state.eraseCount, 1);
}
#endif

// Control bytes of a name cannot end the record's line or reach a terminal.
TEST(ResultRecord, ControlBytesOfTheFileNameAreEscaped) {
    EXPECT_EQ(BuildWriteResultRecord("SN=1;REV=2", "c:\\t\x01\x1f\x7f\r\n ~\xc3\xbc;"),
              "CMD=write;STATE=success;SN=1;REV=2;FILE=c:\\t\\x01\\x1F\\x7F\\x0D\\x0A ~\xc3\xbc;;");
}

using CloseHandles = SimRunTest;

// Closing twice would be misuse the sim reports; a closed table is empty.
TEST_F(CloseHandles, SecondCallClosesNothingMore) {
    sim.AddDevice();
    DeviceInterfaceTable table{&sim};
    ASSERT_EQ(DiscoverDevices(table), 1);
    CloseDeviceHandles(table);
    CloseDeviceHandles(table);
    EXPECT_EQ(sim.OpenHandleCount(), 0u);
}

}  // namespace
