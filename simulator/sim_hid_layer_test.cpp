#include "simulator/sim_hid_layer.h"

#include <gtest/gtest.h>

namespace ob310 {
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
    {"CloseTwice", [](Discovered& d) { d.sim.Close(d.Write()), d.sim.Close(d.Write()); },
     "handle 0x1034 closed twice"},
    {"WriteThroughReadHandle",
     [](Discovered& d) { d.sim.WriteReport(d.Read(), d.buffer, 65, 5000); },
     "synchronous write through overlapped handle 0x1038"},
    {"ReaderReleasedWithReadPending",
     [](Discovered& d) { d.sim.CreateReader(d.Read())->Start(d.buffer, 65); },
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

}  // namespace
}  // namespace ob310
