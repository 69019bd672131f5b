#include "device/exchange.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/requests.h"
#include "simulator/sim_hid_layer.h"

namespace ob310 {
namespace {

// Accepted by a fresh device.
const Report CustomData = BuildCustomDataRequest(FactoryDefaultPin, {});

// The HID calls of a run, one letter each: N reader made (n: refused), F flush, W write, s read
// started, + - ! wait signalled, timed out or failed, c cancel, r/R result without/with waiting, X
// reader released.
std::string Trace(const SimHidLayer& sim) {
    std::string trace;
    for (const SimEvent& e : sim.Events()) {
        char letter = "OCWFNXswcr"[static_cast<int>(e.kind)];  // O, C: open, close
        if (e.kind == SimEventKind::CreateReader && !e.ok)
            letter = 'n';
        if (e.kind == SimEventKind::Result && e.waitFlag)
            letter = 'R';
        if (e.kind == SimEventKind::Wait) {
            letter = "+-!"[static_cast<int>(e.waitResult)];
            EXPECT_EQ(e.length, ReadTimeoutMs);
        }
        trace += letter;
    }
    return trace;
}

// `count` reads whose wait times out, each cancelled and retired.
std::string TimedOut(int count) { return count > 0 ? "s-cR" + TimedOut(count - 1) : ""; }

// One OB310 (by default) discovered, the record cleared.
struct Fixture {
    explicit Fixture(SimDeviceOptions first = {}, std::size_t devices = 1) {
        sim.AddDevice(first);
        while (sim.DeviceCount() < devices)
            sim.AddDevice();
        table.hid = &sim;
        DiscoverDevices(table);
        sim.ClearRecord();
    }
    int Exchange(const Report& request) {
        reply.fill(0xEE);  // the exchange zeroes it
        return ExchangeReport(table, request, reply);
    }
    void ExpectClean() const { EXPECT_EQ(sim.Errors(), std::vector<std::string>{}); }

    SimHidLayer sim;
    DeviceInterfaceTable table;
    Report reply{};
};

struct TimingCase {
    const char* name;
    SimRequestScript script;
    int result;
    std::string trace;
    std::uint64_t virtualMs;
} const TimingCases[] = {
    {"ReplyInFirstWait", {}, 65, "NFWs+rX", 0},
    {"ReplyInSixteenthWait", {.replyAtWait = 16}, 65, "NFW" + TimedOut(15) + "s+rX", 75000},
    {"NoReply", {.reply = false}, 0, "NFW" + TimedOut(16) + "X", 80000},
    {"ShortReply", {.replyLength = 3}, 3, "NFWs+rX", 0},
    // The read completes as its wait times out: retiring it finds the reply.
    {"ReplyRacesFirstTimeout", {.replyRacesTimeout = true}, 65, "NFWs-cRX", 5000},
    {"ReplyRacesLastTimeout",
     {.replyAtWait = 16, .replyRacesTimeout = true},
     65,
     "NFW" + TimedOut(16) + "X",
     80000},
    {"FailedWaitOverCompletedRead", {.failedWait = 1}, 65, "NFWs!cRX", 0},
    {"FailedWaitThenReply", {.replyAtWait = 2, .failedWait = 1}, 65, "NFWs!cRs+rX", 0},
    {"FailedWaitAndNoReply",
     {.reply = false, .failedWait = 3},
     0,
     "NFW" + TimedOut(2) + "s!cR" + TimedOut(13) + "X",
     75000},
    {"WriteFails", {.write = SimWrite::Fails}, 0, "NFWX", 0},
    {"ShortWriteStillReadsTheReply", {.write = SimWrite::Short}, 65, "NFWs+rX", 0},
    // A device that stops taking reports costs one write bound, no read.
    {"WriteHangs", {.write = SimWrite::Hangs}, 0, "NFWX", 5000},
};

TEST(ExchangeTest, ReturnsReplyBytesAfterBoundedWaits) {
    for (const TimingCase& c : TimingCases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.sim.AddFault(0, {SimRequestSelector::Every(), c.script});
        EXPECT_EQ(f.Exchange(CustomData), c.result);
        EXPECT_EQ(Trace(f.sim), c.trace);
        EXPECT_EQ(f.sim.NowMs(), c.virtualMs);
        Report expected{};
        expected[1] = c.result > 0 ? static_cast<std::uint8_t>(CommandCode::CustomData) : 0;
        EXPECT_EQ(f.reply, expected);
        f.ExpectClean();
    }
}

// Where the request goes, and how much of it, by the first of two devices'
// layout (`before` discovery) and its configuration interface (`after`).
struct RouteCase {
    const char* name;
    void (*before)(SimDeviceOptions&);
    void (*after)(SimHidLayer&);
    int result;
    std::string trace;
    int receivedInterface;  // -1: the device took nothing
    std::size_t sent;       // bytes written and read length
} const RouteCases[] = {
    {"ConfigInterfaceInRecordFour", nullptr, nullptr, 65, "NFWs+rX", 4, 65},
    {"ConfigInterfaceInRecordZero",
     [](SimDeviceOptions& d) {
         std::rotate(d.interfaces.begin(), d.interfaces.begin() + 4, d.interfaces.begin() + 5);
     },
     nullptr, 65, "NFWs+rX", 0, 65},
    // Record 0 takes reports (as keyboards do on Linux) but is not the
    // configuration interface; nor is the second device's record 10.
    {"NoConfigInterfaceAmongTheFirstSix",
     [](SimDeviceOptions& d) {
         d.interfaces[4].productString = u"ConfigInterface ";
         d.interfaces[0].queryOnly = false;
     },
     nullptr, 0, "", -1, 0},
    {"QueryOnlyConfigInterface", [](SimDeviceOptions& d) { d.interfaces[4].queryOnly = true; },
     nullptr, 0, "NFWX", -1, 0},
    // Without a read handle no reply can come back: no wait at all.
    {"ReadHandleNotOpened", [](SimDeviceOptions& d) { d.interfaces[4].failingOpens = {3}; },
     nullptr, 0, "NFWX", 4, 65},
    // The length is queried afresh, not taken from the record.
    {"ShorterReport", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 33; },
     33, "NFWs+rX", 4, 33},
    {"LongerReportCut", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 70; },
     65, "NFWs+rX", 4, 65},
    {"NoOutputReport", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 0; }, 0,
     "NX", -1, 0},
    // No event for the read: nothing is sent, so no reply is left unread.
    {"NoReadEvent", nullptr, [](SimHidLayer& s) { s.SetReaderCreationFails(true); }, 0, "n", -1, 0},
};

TEST(ExchangeTest, SendsToTheConfigurationInterfaceOnly) {
    for (const RouteCase& c : RouteCases) {
        SCOPED_TRACE(c.name);
        SimDeviceOptions first;
        if (c.before)
            c.before(first);
        Fixture f(first, 2);
        if (c.after)
            c.after(f.sim);
        EXPECT_EQ(f.Exchange(CustomData), c.result);
        EXPECT_EQ(Trace(f.sim), c.trace);
        const auto& received = f.sim.ReceivedReports();
        ASSERT_EQ(received.size(), c.receivedInterface < 0 ? 0u : 1u);
        if (c.receivedInterface >= 0) {
            EXPECT_EQ(received[0].device, 0u);
            EXPECT_EQ(received[0].interfaceIndex, static_cast<std::size_t>(c.receivedInterface));
            EXPECT_EQ(received[0].bytes,
                      std::vector<std::uint8_t>(CustomData.begin(), CustomData.begin() + c.sent));
        }
        for (const SimEvent& start : f.sim.EventsOf(SimEventKind::StartRead))
            EXPECT_EQ(start.length, c.sent);
        for (std::size_t i = static_cast<std::size_t>(c.result); i < f.reply.size(); ++i)
            EXPECT_EQ(f.reply[i], 0) << i;
        f.ExpectClean();
    }
}

}  // namespace
}  // namespace ob310
