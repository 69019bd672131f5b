#include "cli/flows.h"

#include <gtest/gtest.h>

#include "tests/support/config_lines.h"
#include "tests/support/sim_run.h"

namespace ob310 {
namespace {

const std::string Erased = "Success: OB310 successful erased.. Code=0x0000\n";
const std::string NotErased = RedLine("Error: OB310 can not erased.", 4);
const std::string Record = "CMD=erase;STATE=success;SN=00B31001;REV=1026;";

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
    if (c.faultAt)
        sim.AddFault(0, {SimRequestSelector::ForCommand(*c.faultAt), c.script});
    EXPECT_EQ(Run(arguments), c.exitCode);
    EXPECT_EQ(console.Text(), "Info: Erase Ombrel310\n" + c.output);
    std::vector<std::string> records = {Record};
    records.insert(records.end(), c.records.begin(), c.records.end());
    EXPECT_EQ(LogRecords(), c.log == LogArgument ? records : std::vector<std::string>{});
    EXPECT_EQ(sim.Model(1).state.eraseCount, 0);
}

const EraseCase Cases[] = {
    {{}, {}, LogArgument, 0, Erased, {Record}},
    // The status is not looked at.
    {CommandCode::Erase, {.refuseWithStatus = SimStatusLocked}, LogArgument, 0, Erased, {Record}},
    {CommandCode::Info, {.reply = false}, LogArgument, 0, Erased, {"CMD=erase;STATE=success;;"}},
    {CommandCode::Erase, {.reply = false}, LogArgument, 4, NotErased, {}},
#ifndef _WIN32
    {{}, {}, "/dev/full", 16, RedLine("Error: Can not write logfile", 16), {}},
#endif
};

INSTANTIATE_TEST_SUITE_P(Cases, EraseFlow, testing::ValuesIn(Cases));

// Without the rights to its nodes (Linux without the udev rule) an attached
// OB310 is none to the run, which says why; a configuration interface that
// refuses read-write access for another reason is still found.
TEST_F(SimRunTest, DeviceOutOfReachIsNoneAndSaysWhy) {
    WriteFileBytes(dir.File("t.ob310"), ConfigFileText(ConfigDataLines(SampleConfigImage())));
    const std::vector<std::string> runs[] = {{"-i"},
                                             {"-c", "-p", "5A3C19E7B2D40F86"},
                                             {"-f", dir.File("t.ob310"), "-p", "5A3C19E7B2D40F86"}};
    SimDeviceOptions device;
    for (SimInterfaceOptions& options : device.interfaces)
        options.reportsDenied = true;
    sim.AddDevice(device);
    for (const std::vector<std::string>& arguments : runs) {
        EXPECT_EQ(Run(arguments), 1);
        EXPECT_EQ(console.Text(),
                  RedLine("Error: No OB310 found on system", 1) + ReportsDeniedLine + "\n");
    }
    sim.Interface(0, 4).reportsDenied = false;
    sim.Interface(0, 4).queryOnly = true;
    EXPECT_EQ(Run({"-i"}), 4);
    EXPECT_EQ(console.Text(), RedLine("Error: Can not get device information of OB310", 4));
}

// FILE= is the last field: a name must not add a field, a control or bytes a
// reader cannot decode, and names in any language stay as they are.
TEST(WriteRecord, NameCannotForgeAFieldOrAControl) {
    const std::pair<std::string, std::string> cases[] = {
        {"t;SN=FFFFFFFF;.ob310", "t\\x3BSN=FFFFFFFF\\x3B.ob310"},
        {"a\r\n\x1f\x7f.ob310", "a\\x0D\\x0A\\x1F\\x7F.ob310"},
        {"c1\xc2\x80\xc2\x9b[2J\xc2\xa0",
         "c1\\xC2\\x80\\xC2\\x9B[2J\xc2\xa0"},  // U+00A0 is no control
        {"bad\xff\xc3(\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe6\x97",
         "bad\\xFF\\xC3(\\xE0\\x80\\xAF\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\\xE6\\x97"},
        {"日本語 Grüße Ωμέγα 😀.ob310", "日本語 Grüße Ωμέγα 😀.ob310"},
    };
    for (const auto& [name, text] : cases) {
        EXPECT_EQ(BuildWriteResultRecord("SN=1;REV=2", name),
                  "CMD=write;STATE=success;SN=1;REV=2;FILE=" + text + ";")
            << text;
    }
}

}  // namespace
}  // namespace ob310
