#include "device/exchange.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "simulator/sim_hid_layer.h"

namespace {

// Custom data 0x80.. under the factory-default PIN: accepted by a fresh device.
Report CustomDataRequest() {
    Report request{};
    request[1] = static_cast<std::uint8_t>(CommandCode::CustomData);
    std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), request.begin() + 5);
    for (std::size_t i = 29; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
    return request;
}

// The HID calls of a run, one letter each: N reader made (n: refused), F flush,
// W write, s read started, + - ! wait signalled, timed out or failed, c cancel,
// r result without waiting, R result with waiting, X reader released.
std::string Trace(const SimHidLayer& sim) {
    std::string trace;
    for (const SimEvent& e : sim.Events()) {
        switch (e.kind) {
        case SimEventKind::CreateReader: trace += e.ok ? 'N' : 'n'; break;
        case SimEventKind::Flush: trace += 'F'; break;
        case SimEventKind::Write: trace += 'W'; break;
        case SimEventKind::StartRead: trace += 's'; break;
        case SimEventKind::Wait:
            trace += "+-!"[static_cast<int>(e.waitResult)];
            EXPECT_EQ(e.length, ReadTimeoutMs);
            break;
        case SimEventKind::Cancel: trace += 'c'; break;
        case SimEventKind::Result: trace += e.waitFlag ? 'R' : 'r'; break;
        case SimEventKind::ReleaseReader: trace += 'X'; break;
        default: ADD_FAILURE() << "the exchange opened or closed a handle";
        }
    }
    return trace;
}

std::string Times(int count, const std::string& text) {
    std::string out;
    while (count-- > 0) out += text;
    return out;
}

// One OB310 (by default) discovered, the record cleared.
struct Fixture {
    explicit Fixture(SimDeviceOptions first = {}, std::size_t devices = 1) {
        sim.AddDevice(first);
        while (sim.DeviceCount() < devices) sim.AddDevice();
        table.hid = &sim;
        DiscoverDevices(table);
        open = sim.OpenHandleCount();
        sim.ClearRecord();
    }
    int Exchange(const Report& request) {
        reply.fill(0xEE);  // the exchange zeroes it
        return ExchangeReport(table, request, reply);
    }
    void ExpectClean() const {
        EXPECT_EQ(sim.Errors(), std::vector<std::string>{});
        EXPECT_EQ(sim.OpenHandleCount(), open);
    }

    SimHidLayer sim;
    DeviceInterfaceTable table;
    std::size_t open = 0;
    Report reply{};
};

SimRequestScript Script(std::uint32_t replyAt, bool reply = true, std::uint32_t failedWait = 0,
                        bool races = false) {
    SimRequestScript script;
    script.replyAtWait = replyAt;
    script.reply = reply;
    script.failedWait = failedWait;
    script.replyRacesTimeout = races;
    return script;
}

SimRequestScript Write(SimWrite write) {
    SimRequestScript script;
    script.write = write;
    return script;
}

SimRequestScript Short(std::size_t length) {
    SimRequestScript script;
    script.replyLength = length;
    return script;
}

const std::string Timeout = "s-cR";

struct TimingCase {
    const char* name;
    SimRequestScript script;
    int result;
    std::string trace;
    std::uint64_t virtualMs;
} const TimingCases[] = {
    {"ReplyInFirstWait", {}, 65, "NFWs+rX", 0},
    {"ReplyInSixteenthWait", Script(16), 65, "NFW" + Times(15, Timeout) + "s+rX", 75000},
    {"ReplyTooLate", Script(17), 0, "NFW" + Times(16, Timeout) + "X", 80000},
    {"NoReply", Script(1, false), 0, "NFW" + Times(16, Timeout) + "X", 80000},
    {"ShortReply", Short(3), 3, "NFWs+rX", 0},
    // The read completes as its wait times out: retiring it finds the reply.
    {"ReplyRacesFirstTimeout", Script(1, true, 0, true), 65, "NFWs-cRX", 5000},
    {"ReplyRacesLastTimeout", Script(16, true, 0, true), 65, "NFW" + Times(16, Timeout) + "X", 80000},
    {"FailedWaitOverCompletedRead", Script(1, true, 1), 65, "NFWs!cRX", 0},
    {"FailedWaitThenReply", Script(2, true, 1), 65, "NFWs!cRs+rX", 0},
    {"FailedWaitAndNoReply", Script(1, false, 3), 0, "NFW" + Times(2, Timeout) + "s!cR" + Times(13, Timeout) + "X",
     75000},
    {"WriteFails", Write(SimWrite::Fails), 0, "NFWX", 0},
    {"WriteOfZeroBytes", Write(SimWrite::ZeroBytes), 0, "NFWX", 0},
    // A device that stops taking reports costs one write bound, no read.
    {"WriteHangs", Write(SimWrite::Hangs), 0, "NFWX", WriteTimeoutMs},
};

void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }
class ExchangeTimingTest : public testing::TestWithParam<TimingCase> {};

TEST_P(ExchangeTimingTest, ReturnsReplyBytesAfterBoundedWaits) {
    const TimingCase& c = GetParam();
    Fixture f;
    f.sim.AddFault(0, {SimRequestSelector::Every(), c.script});

    EXPECT_EQ(f.Exchange(CustomDataRequest()), c.result);
    EXPECT_EQ(Trace(f.sim), c.trace);
    EXPECT_EQ(f.sim.NowMs(), c.virtualMs);
    Report expected{};
    expected[1] = c.result > 0 ? static_cast<std::uint8_t>(CommandCode::CustomData) : 0;
    EXPECT_EQ(f.reply, expected);
    f.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Scripts, ExchangeTimingTest, testing::ValuesIn(TimingCases),
                         [](const auto& info) { return info.param.name; });

// A reply that came after its request gave up waits in the input queue; the
// next request discards it and reads its own reply.
struct StaleCase {
    const char* name;
    Report first;   // its reply comes too late
    Report second;  // refused by the device, or the query
    int result;
    std::uint8_t status;
};

Report Command(CommandCode command, const Pin& pin = FactoryDefaultPin) {
    Report report{};
    report[1] = static_cast<std::uint8_t>(command);
    std::copy(pin.begin(), pin.end(), report.begin() + 5);
    return report;
}

const StaleCase StaleCases[] = {
    {"InformationQuery", CustomDataRequest(), Report{}, 65, 0},
    {"RefusedErase", Report{}, Command(CommandCode::Erase, {1, 1, 1, 1, 1, 1, 1, 1}),
     static_cast<int>(SimRefusedEraseReplyLength), SimStatusWrongPin},
    {"RefusedDebounce", CustomDataRequest(), Command(CommandCode::Debounce), 65, 0x55},
};

void PrintTo(const StaleCase& c, std::ostream* os) { *os << c.name; }
class ExchangeStaleReplyTest : public testing::TestWithParam<StaleCase> {};

TEST_P(ExchangeStaleReplyTest, IsNeverTakenForTheNextReply) {
    const StaleCase& c = GetParam();
    Fixture f;
    f.sim.AddFault(0, {SimRequestSelector::AtRequest(1), Script(17)});
    SimRequestScript refuse;
    refuse.refuseWithStatus = 0x55;
    f.sim.AddFault(0, {SimRequestSelector::ForCommand(CommandCode::Debounce), refuse});
    ASSERT_EQ(f.Exchange(c.first), 0);
    f.sim.ClearRecord();

    EXPECT_EQ(f.Exchange(c.second), c.result);

    EXPECT_EQ(f.reply[1], c.second[1]);
    EXPECT_EQ(f.reply[StatusByteOffset], c.status);
    EXPECT_EQ(Trace(f.sim), "NFWs+rX");
    ASSERT_EQ(f.sim.EventsOf(SimEventKind::Flush).size(), 1u);
    EXPECT_EQ(f.sim.EventsOf(SimEventKind::Flush)[0].transferred, 1u);  // the stale reply
    EXPECT_EQ(f.sim.NowMs(), 80000u);  // the first request's 16 waits, no more
    f.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Requests, ExchangeStaleReplyTest, testing::ValuesIn(StaleCases),
                         [](const auto& info) { return info.param.name; });

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
     [](SimDeviceOptions& d) { std::rotate(d.interfaces.begin(), d.interfaces.begin() + 4, d.interfaces.begin() + 5); },
     nullptr, 65, "NFWs+rX", 0, 65},
    // Record 0 takes reports (as keyboards do on Linux) but is not the
    // configuration interface; nor is the second device's record 10.
    {"NoConfigInterfaceAmongTheFirstSix",
     [](SimDeviceOptions& d) {
         d.interfaces[4].productString = u"ConfigInterface ";
         d.interfaces[0].queryOnly = false;
     },
     nullptr, 0, "", -1, 0},
    {"QueryOnlyConfigInterface", [](SimDeviceOptions& d) { d.interfaces[4].queryOnly = true; }, nullptr, 0, "NFWX",
     -1, 0},
    // Without a read handle no reply can come back: no wait at all.
    {"ReadHandleNotOpened", [](SimDeviceOptions& d) { d.interfaces[4].failingOpens = {3}; }, nullptr, 0, "NFWX", 4,
     65},
    // The length is queried afresh, not taken from the record.
    {"ShorterReport", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 33; }, 33, "NFWs+rX", 4,
     33},
    {"LongerReportCut", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 70; }, 65, "NFWs+rX",
     4, 65},
    {"NoOutputReport", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).outputReportLength = 0; }, 0, "NX", -1, 0},
    {"CapsUnreadable", nullptr, [](SimHidLayer& s) { s.Interface(0, 4).capsUnreadable = true; }, 0, "NX", -1, 0},
    // No event for the read: nothing is sent, so no reply is left unread.
    {"NoReadEvent", nullptr, [](SimHidLayer& s) { s.SetReaderCreationFails(true); }, 0, "n", -1, 0},
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }
class ExchangeRouteTest : public testing::TestWithParam<RouteCase> {};

TEST_P(ExchangeRouteTest, SendsToTheConfigurationInterfaceOnly) {
    const RouteCase& c = GetParam();
    SimDeviceOptions first;
    if (c.before) c.before(first);
    Fixture f(first, 2);
    if (c.after) c.after(f.sim);
    const Report request = CustomDataRequest();

    EXPECT_EQ(f.Exchange(request), c.result);

    EXPECT_EQ(Trace(f.sim), c.trace);
    const auto& received = f.sim.ReceivedReports();
    ASSERT_EQ(received.size(), c.receivedInterface < 0 ? 0u : 1u);
    if (c.receivedInterface >= 0) {
        EXPECT_EQ(received[0].device, 0u);
        EXPECT_EQ(received[0].interfaceIndex, static_cast<std::size_t>(c.receivedInterface));
        EXPECT_EQ(received[0].bytes, std::vector<std::uint8_t>(request.begin(), request.begin() + c.sent));
    }
    for (const SimEvent& start : f.sim.EventsOf(SimEventKind::StartRead)) EXPECT_EQ(start.length, c.sent);
    for (std::size_t i = static_cast<std::size_t>(c.result); i < f.reply.size(); ++i) EXPECT_EQ(f.reply[i], 0) << i;
    f.ExpectClean();
}

INSTANTIATE_TEST_SUITE_P(Layouts, ExchangeRouteTest, testing::ValuesIn(RouteCases),
                         [](const auto& info) { return info.param.name; });

TEST(ReadInputReportTest, NoEventGivesZeroWithoutStartingARead) {
    Fixture f;
    f.sim.SetReaderCreationFails(true);
    std::uint8_t buffer[ReportBufferSize] = {};
    EXPECT_EQ(ReadInputReport(f.sim, f.table.records[4].readHandle, buffer), 0);
    EXPECT_EQ(Trace(f.sim), "n");
}

}  // namespace
