#include <gtest/gtest.h>

#include <functional>

#include "cli/flows.h"
#include "tests/support/config_lines.h"
#include "tests/support/sim_run.h"

namespace ob310 {
namespace {

constexpr std::uint8_t Led = 0x08, Mouse = 0x0A, NewPin = 0x04, Lock = 0x06, Debounce = 0x0D;

// Writes the sample image (its own bytes in every field) with the lock line
// given to one device of the -p PIN; sim e2e covers the other failing steps.
struct WriteCase {
    std::uint8_t lockFlag;
    std::function<void(SimHidLayer&)> setup;
    int exitCode;
    std::string output;
    std::vector<std::uint8_t> tail;  // commands after the custom data
    std::string revision;            // of the log record; empty: no record
};

class WriteFlow : public SimRunTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(WriteFlow, Outcome) {
    const WriteCase& c = GetParam();
    ConfigImage image = SampleConfigImage();
    image.lockFlag = c.lockFlag;
    const std::string file = dir.File("t.ob310");
    WriteFileBytes(file, ConfigFileText(ConfigDataLines(image)));
    SimDeviceOptions options;  // the erase carries this PIN, the requests after it the factory PIN
    options.state.pin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    sim.AddDevice(options);
    if (c.setup)
        c.setup(sim);
    EXPECT_EQ(Run({"-f", file, "-p", "1122334455667788", "-l", LogArgument}), c.exitCode);
    EXPECT_EQ(console.Text(), c.output);
    const std::vector<std::uint8_t> commands = CommandsReceived();
    EXPECT_EQ(std::vector<std::uint8_t>(commands.begin() + 251, commands.end()), c.tail);
    const std::string record =
        "CMD=write;STATE=success;SN=00B31001;REV=" + c.revision + ";FILE=" + file + ";";
    EXPECT_EQ(LogRecords(),
              c.revision.empty() ? std::vector<std::string>{} : std::vector<std::string>{record});
    const Ob310State& state = sim.Model(0).state;
    EXPECT_EQ(state.keyTables, image.keyTables);
    EXPECT_TRUE(
        std::equal(image.mouseData.begin(), image.mouseData.end(), state.mouseData.begin()));
    EXPECT_TRUE(
        std::equal(image.ledData.begin(), image.ledData.end(), state.mouseData.begin() + 16));
    EXPECT_EQ(state.locked, c.exitCode != 4 && c.lockFlag == 1);
}

const std::vector<std::uint8_t> All = {Led, Mouse, NewPin, Lock, Debounce},
                                ToLock = {Led, Mouse, NewPin, Lock};

const WriteCase Cases[] = {
    {1, {}, 0, "", All, "1026"},
    {2, {}, 0, "", {Led, Mouse, NewPin, Debounce}, "1026"},  // only 1 locks
    // Readable for discovery, not from the first report on.
    {1,
     [](SimHidLayer& sim) {
         sim.SetReportObserver(
             [&sim](const SimReceivedReport&) { sim.Interface(0, 0).attributesUnreadable = true; });
     },
     0, "", ToLock, "0000"},
    {1,
     [](SimHidLayer& sim) {
         sim.AddFault(0, {SimRequestSelector::ForCommand(CommandCode::Lock),
                          {.refuseWithStatus = SimStatusWrongPin}});
     },
     4, RedLine("Error: Fail to write LOCK", 4), ToLock, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, WriteFlow, testing::ValuesIn(Cases));

}  // namespace
}  // namespace ob310
