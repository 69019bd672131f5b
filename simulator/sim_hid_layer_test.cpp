#include "simulator/sim_hid_layer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// One OB310, discovered: its configuration interface's handles. Handles are
// numbered from 0x1000 in steps of 4: after three for each of the four
// interfaces before it, its write and read handles are 0x1034 and 0x1038.
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
    {"CloseInvalid", [](Discovered& d) { d.sim.Close(InvalidHidHandle); }, "close of the invalid handle"},
    {"CloseUnknown", [](Discovered& d) { d.sim.Close(0x7777); }, "close of unknown handle 0x7777"},
    {"AttributesThroughClosedHandle",
     [](Discovered& d) {
         HidAttributes attributes;
         d.sim.Close(d.Read());
         EXPECT_FALSE(d.sim.ReadAttributes(d.Read(), attributes));
     },
     "attributes read on closed handle 0x1038"},
    {"WriteThroughReadHandle", [](Discovered& d) { EXPECT_EQ(d.sim.WriteReport(d.Read(), d.buffer, 65, 5000), 0u); },
     "synchronous write through overlapped handle 0x1038"},
    {"ReaderReleasedWithReadPending", [](Discovered& d) { d.sim.CreateReader(d.Read())->Start(d.buffer, 65); },
     "reader on handle 0x1038 released with a read pending"},
    {"SecondReadWhileFirstPending",
     [](Discovered& d) {
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(d.buffer, 65);
         reader->Start(d.buffer, 65);
         reader->Cancel();
     },
     "read started on handle 0x1038 while the previous read is pending"},
    {"BlockingResultOnPendingRead",
     [](Discovered& d) {
         std::uint32_t bytes = 7;
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(d.buffer, 65);
         EXPECT_FALSE(reader->Result(true, bytes));
         EXPECT_EQ(bytes, 0u);
         reader->Cancel();
     },
     "waiting for the result of a read on handle 0x1038 that nothing will complete"},
};

class SimMisuseTest : public testing::TestWithParam<MisuseCase> {};

TEST_P(SimMisuseTest, IsRecordedAsError) {
    Discovered d;
    ASSERT_EQ(d.Read(), 0x1038);
    GetParam().misuse(d);
    EXPECT_EQ(d.sim.Errors(), std::vector<std::string>{GetParam().error});
}

INSTANTIATE_TEST_SUITE_P(Misuse, SimMisuseTest, testing::ValuesIn(MisuseCases),
                         [](const auto& info) { return info.param.name; });

// A reply later than its read stays in the input queue: the next read takes
// it at once, unless a flush through the read handle dropped it.
TEST(SimHidLayerTest, LateReplyWaitsInTheInputQueueUntilFlushed) {
    for (const bool flush : {false, true}) {
        Discovered d;
        SimRequestScript late;
        late.replyAtWait = 2;
        d.sim.AddFault(0, {SimRequestSelector::Every(), late});
        EXPECT_EQ(d.sim.WriteReport(d.Write(), d.buffer, 65, 5000), 65u);
        d.sim.CreateReader(d.Read());  // released at once: that read gave up

        d.sim.FlushInput(d.Write());  // another handle's queue
        if (flush) d.sim.FlushInput(d.Read());
        const auto reader = d.sim.CreateReader(d.Read());
        reader->Start(d.buffer, 65);
        EXPECT_EQ(reader->Wait(5000), flush ? HidWaitResult::TimedOut : HidWaitResult::Signalled);
        reader->Cancel();
        const auto flushes = d.sim.EventsOf(SimEventKind::Flush);
        ASSERT_EQ(flushes.size(), flush ? 2u : 1u);
        EXPECT_EQ(flushes.back().transferred, flush ? 1u : 0u);
    }
}

TEST(SimHidLayerTest, FaultRulesSelectByIndexAndNumberAndTheFirstMatchWins) {
    Discovered d;
    SimRequestScript refuse;
    refuse.refuseWithStatus = 0x55;
    SimRequestScript silent;
    silent.reply = false;
    SimRequestScript hangs;
    hangs.write = SimWrite::Hangs;
    d.sim.AddFault(0, {SimRequestSelector::ForKeyTableIndex(3), refuse});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(3), silent});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(4), silent});  // index 3: the rule above wins
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(6), hangs});

    std::vector<int> results;
    std::vector<std::uint8_t> statuses;
    for (std::uint8_t index = 0; index < 6; ++index) {
        Report request{}, reply{};
        request[1] = static_cast<std::uint8_t>(CommandCode::KeyTableRecord);
        request[2] = index;
        std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), request.begin() + 5);
        request[13] = static_cast<std::uint8_t>(0xA0 + index);
        results.push_back(ExchangeReport(d.table, request, reply));
        statuses.push_back(reply[StatusByteOffset]);
    }
    // Request 3 is not answered; index 3 is refused and not stored; request 6
    // is never taken and costs one write bound.
    EXPECT_EQ(results, (std::vector<int>{65, 65, 0, 65, 65, 0}));
    EXPECT_EQ(statuses, (std::vector<std::uint8_t>{0, 0, 0, 0x55, 0, 0}));
    const auto& tables = d.sim.Model(0).state.keyTables;
    EXPECT_EQ(tables[2][0], 0xA2);
    EXPECT_EQ(tables[3][0], 0x00);
    EXPECT_EQ(tables[4][0], 0xA4);
    EXPECT_EQ(tables[5][0], 0x00);
    ASSERT_EQ(d.sim.ReceivedReports().size(), 5u);
    EXPECT_EQ(d.sim.ReceivedReports()[4].requestNumber, 5u);
    EXPECT_EQ(d.sim.NowMs(), 80000u + WriteTimeoutMs);
}

}  // namespace
