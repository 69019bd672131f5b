#include "cli/flows.h"

#include <gtest/gtest.h>

#include "tests/support/sim_run.h"

namespace ob310 { namespace {

// An erase of the first of two devices, the second run's erase answered as
// scripted. SimRunTest checks every handle closed once, and no misuse.
struct EraseCase {
    std::optional<CommandCode> faultAt;
    SimRequestScript script;
    std::string log;  // argument of -l
    int exitCode;
    std::string output;
    std::vector<std::string> records;  // in the log, after the first run's
};

class EraseFlow : public SimRunTest, public testing::WithParamInterface<EraseCase> {};

TEST_P(EraseFlow, Outcome) {
    const EraseCase& c = GetParam();
    sim.AddDevice();
    sim.AddDevice();
    const std::vector<std::string> arguments = {"-v", "-c", "-p", "5A3C19E7B2D40F86", "-l", c.log};
    ASSERT_EQ(Run(arguments), c.log == LogArgument ? 0 : 16);
    if (c.faultAt) sim.AddFault(0, {SimRequestSelector::ForCommand(*c.faultAt), c.script});
    EXPECT_EQ(Run(arguments), c.exitCode);
    EXPECT_EQ(console.Text(), "Info: Erase Ombrel310\n" + c.output);
    std::vector<std::string> records = {"CMD=erase;STATE=success;SN=00B31001;REV=1026;"};
    records.insert(records.end(), c.records.begin(), c.records.end());
    EXPECT_EQ(LogRecords(), c.log == LogArgument ? records : std::vector<std::string>{});
    EXPECT_EQ(sim.Model(1).state.eraseCount, 0);
}

SimRequestScript Script(bool reply, std::optional<std::uint8_t> status) {
    SimRequestScript script;
    script.reply = reply;
    script.refuseWithStatus = status;
    return script;
}

const std::string Erased = VerboseLine("Success: OB310 successful erased.");
const std::string Record = "CMD=erase;STATE=success;SN=00B31001;REV=1026;";

const EraseCase Cases[] = {
    {{}, {}, LogArgument, 0, Erased, {Record}},
    {CommandCode::Erase, Script(true, SimStatusLocked), LogArgument, 0, Erased, {Record}},  // status not looked at
    {CommandCode::Info, Script(false, {}), LogArgument, 0, Erased, {"CMD=erase;STATE=success;;"}},
    {CommandCode::Erase, Script(false, {}), LogArgument, 4, RedLine("Error: OB310 can not erased.", 4), {}}
#ifndef _WIN32
    , {{}, {}, "/dev/full", 16, RedLine("Error: Can not write logfile", 16), {}}
#endif
};

INSTANTIATE_TEST_SUITE_P(Cases, EraseFlow, testing::ValuesIn(Cases));

}}  // namespace ob310::(anonymous)
