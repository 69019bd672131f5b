#include "simulator/sim_hid_layer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// One OB310, discovered: its configuration interface's handles.
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
};

struct MisuseCase {
    const char* name;
    std::function<void(Discovered&)> misuse;
    std::vector<std::string> errors;
};

const MisuseCase MisuseCases[] = {
    {"CloseTwice",
     [](Discovered& d) {
         d.sim.Close(d.Write());
         d.sim.Close(d.Write());
     },
     {"handle 0x1034 closed twice"}},
    {"CloseInvalid", [](Discovered& d) { d.sim.Close(InvalidHidHandle); }, {"close of the invalid handle"}},
    {"CloseUnknown", [](Discovered& d) { d.sim.Close(0x7777); }, {"close of unknown handle 0x7777"}},
    {"AttributesThroughClosedHandle",
     [](Discovered& d) {
         d.sim.Close(d.Read());
         HidAttributes attributes;
         EXPECT_FALSE(d.sim.ReadAttributes(d.Read(), attributes));
     },
     {"attributes read on closed handle 0x1038"}},
    {"WriteThroughReadHandle",
     [](Discovered& d) {
         const Report report{};
         EXPECT_EQ(d.sim.WriteReport(d.Read(), report.data(), 65, 5000), 0u);
     },
     {"synchronous write through overlapped handle 0x1038"}},
    {"ReaderReleasedWithReadPending",
     [](Discovered& d) {
         std::uint8_t buffer[65];
         d.sim.CreateReader(d.Read())->Start(buffer, 65);
     },
     {"reader on handle 0x1038 released with a read pending"}},
    {"SecondReadWhileFirstPending",
     [](Discovered& d) {
         std::uint8_t buffer[65];
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(buffer, 65);
         reader->Start(buffer, 65);
         reader->Cancel();
     },
     {"read started on handle 0x1038 while the previous read is pending"}},
    {"BlockingResultOnPendingRead",
     [](Discovered& d) {
         std::uint8_t buffer[65];
         std::uint32_t bytes = 7;
         auto reader = d.sim.CreateReader(d.Read());
         reader->Start(buffer, 65);
         EXPECT_FALSE(reader->Result(true, bytes));
         EXPECT_EQ(bytes, 0u);
         reader->Cancel();
     },
     {"waiting for the result of a read on handle 0x1038 that nothing will complete"}},
};

void PrintTo(const MisuseCase& c, std::ostream* os) { *os << c.name; }

class SimMisuseTest : public testing::TestWithParam<MisuseCase> {};

TEST_P(SimMisuseTest, IsRecordedAsError) {
    Discovered d;
    // Handles are numbered from 0x1000 in steps of 4: after three handles
    // for each of the four interfaces before it, the configuration
    // interface's write and read handles are the 14th and 15th.
    ASSERT_EQ(d.Write(), 0x1034);
    ASSERT_EQ(d.Read(), 0x1038);
    GetParam().misuse(d);
    EXPECT_EQ(d.sim.Errors(), GetParam().errors);
}

INSTANTIATE_TEST_SUITE_P(Misuse, SimMisuseTest, testing::ValuesIn(MisuseCases),
                         [](const testing::TestParamInfo<MisuseCase>& info) { return info.param.name; });

TEST(SimHidLayerTest, WritesTheDeviceRefusesDeliverNothing) {
    Discovered d;
    Report report{};
    report[0] = 0x01;  // the device has no report IDs
    EXPECT_EQ(d.sim.WriteReport(d.Write(), report.data(), 65, 5000), 0u);
    EXPECT_EQ(d.sim.WriteReport(d.table.records[0].writeHandle, Report{}.data(), 2, 5000), 0u);  // access 0
    EXPECT_EQ(d.sim.WriteReport(InvalidHidHandle, Report{}.data(), 65, 5000), 0u);
    EXPECT_TRUE(d.sim.ReceivedReports().empty());
    EXPECT_EQ(d.sim.Errors(), std::vector<std::string>{});
}

TEST(SimHidLayerTest, FaultRulesSelectByIndexAndNumberAndTheFirstMatchWins) {
    Discovered d;
    d.sim.Model(0).state.pin = FactoryDefaultPin;
    SimRequestScript refuse;
    refuse.refuseWithStatus = 0x55;
    SimRequestScript silent;
    silent.reply = false;
    d.sim.AddFault(0, {SimRequestSelector::ForKeyTableIndex(3), refuse});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(3), silent});
    d.sim.AddFault(0, {SimRequestSelector::AtRequest(4), silent});  // index 3: the rule above wins

    std::vector<int> results;
    std::vector<std::uint8_t> statuses;
    for (std::uint8_t index = 0; index < 5; ++index) {
        Report request{};
        request[1] = static_cast<std::uint8_t>(CommandCode::KeyTableRecord);
        request[2] = index;
        std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), request.begin() + 5);
        request[13] = static_cast<std::uint8_t>(0xA0 + index);
        Report reply{};
        results.push_back(ExchangeReport(d.table, request, reply));
        statuses.push_back(reply[StatusByteOffset]);
    }
    // Request 3 is not answered; index 3 is refused and not stored.
    EXPECT_EQ(results, (std::vector<int>{65, 65, 0, 65, 65}));
    EXPECT_EQ(statuses, (std::vector<std::uint8_t>{0, 0, 0, 0x55, 0}));
    const auto& tables = d.sim.Model(0).state.keyTables;
    EXPECT_EQ(tables[2][0], 0xA2);
    EXPECT_EQ(tables[3][0], 0x00);
    EXPECT_EQ(tables[4][0], 0xA4);
    ASSERT_EQ(d.sim.ReceivedReports().size(), 5u);
    EXPECT_EQ(d.sim.ReceivedReports()[4].requestNumber, 5u);
    EXPECT_EQ(d.sim.NowMs(), 80000u);
}

TEST(SimHidLayerTest, ObserverSeesEachReportAfterTheStateChanged) {
    Discovered d;
    std::vector<std::uint16_t> eraseCounts;
    std::vector<std::uint8_t> commands;
    d.sim.SetReportObserver([&](const SimReceivedReport& report) {
        eraseCounts.push_back(d.sim.Model(report.device).state.eraseCount);
        commands.push_back(report.bytes[1]);
    });
    Report erase{};
    erase[1] = static_cast<std::uint8_t>(CommandCode::Erase);
    std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), erase.begin() + 5);
    Report reply{};
    EXPECT_EQ(ExchangeReport(d.table, erase, reply), 65);
    EXPECT_EQ(ExchangeReport(d.table, Report{}, reply), 65);

    EXPECT_EQ(eraseCounts, (std::vector<std::uint16_t>{1, 1}));
    EXPECT_EQ(commands, (std::vector<std::uint8_t>{0x03, 0x00}));
}

}  // namespace
