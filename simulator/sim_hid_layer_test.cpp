#include "simulator/sim_hid_layer.h"

#include <gtest/gtest.h>

namespace {

// One OB310, discovered. Handles count from 0x1000 in steps of 4, three per interface: the
// configuration interface (the 5th) has write handle 0x1034 and read handle 0x1038.
struct Discovered {
    Discovered() {
        sim.AddDevice();
        table.hid = &sim;
        DiscoverDevices(table);
        sim.ClearRecord();
    }
    HidHandle Write() const { return table.records[4].writeHandle; }
    HidHandle Read() const { return table.records[4].readHandle; }

    SimHidLayer sim;
    DeviceInterfaceTable table;
    std::uint8_t buffer[65] = {};
};

struct MisuseCase {
    const char* name;
    void (*misuse)(Discovered&);
    const char* error;
} const MisuseCases[] = {
    {"CloseTwice", [](Discovered& d) { d.sim.Close(d.Write()), d.sim.Close(d.Write()); }, "handle 0x1034 closed twice"},
    {"WriteThroughReadHandle", [](Discovered& d) { d.sim.WriteReport(d.Read(), d.buffer, 65, 5000); },
     "synchronous write through overlapped handle 0x1038"},
    {"ReaderReleasedWithReadPending", [](Discovered& d) { d.sim.CreateReader(d.Read())->Start(d.buffer, 65); },
     "reader on handle 0x1038 released with a read pending"},
    {"SecondReadWhileFirstPending",
     [](Discovered& d) {
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(d.buffer, 65), reader->Start(d.buffer, 65), reader->Cancel();
     },
     "read started on handle 0x1038 while the previous read is pending"},
    {"BlockingResultOnPendingRead",
     [](Discovered& d) {
         std::uint32_t bytes = 7;
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(d.buffer, 65);
         EXPECT_FALSE(reader->Result(true, bytes));
         reader->Cancel();
     },
     "waiting for the result of a read on handle 0x1038 that nothing will complete"},
};

TEST(SimHidLayerTest, MisuseIsRecordedAsError) {
    for (const MisuseCase& c : MisuseCases) {
        Discovered d;
        ASSERT_EQ(d.Read(), 0x1038);
        c.misuse(d);
        EXPECT_EQ(d.sim.Errors(), std::vector<std::string>{c.error}) << c.name;
    }
}

TEST(SimHidLayerTest, FaultRulesSelectByIndexAndNumberAndTheFirstMatchWins) {
    Discovered d;
    d.sim.AddFault(0, {SimRequestSelector::ForKeyTableIndex(3), {.refuseWithStatus = 0x55}});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(3), {.reply = false}});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(4), {.reply = false}});  // index 3: the rule above wins
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(6), {.write = SimWrite::Hangs}});

    std::vector<int> results, statuses, stored;
    for (std::uint8_t index = 0; index < 6; ++index) {
        Report reply{};
        results.push_back(ExchangeReport(
            d.table, BuildKeyTableRecordRequest(index, FactoryDefaultPin, {static_cast<std::uint8_t>(0xA0 + index)}),
            reply));
        statuses.push_back(reply[StatusByteOffset]);
        stored.push_back(d.sim.Model(0).state.keyTables[index][0]);
    }
    // Request 3 is not answered; index 3 is refused and not stored; request 6
    // is never taken and costs one write bound.
    EXPECT_EQ(results, (std::vector<int>{65, 65, 0, 65, 65, 0}));
    EXPECT_EQ(statuses, (std::vector<int>{0, 0, 0, 0x55, 0, 0}));
    EXPECT_EQ(stored, (std::vector<int>{0xA0, 0xA1, 0xA2, 0, 0xA4, 0}));
    ASSERT_EQ(d.sim.ReceivedReports().size(), 5u);
    EXPECT_EQ(d.sim.ReceivedReports()[4].requestNumber, 5u);
    EXPECT_EQ(d.sim.NowMs(), 85000u);
}

}  // namespace
