#include "device/exchange.h"

#include <gtest/gtest.h>

#include <functional>

#include "simulator/sim_hid_layer.h"

namespace {

// A request the simulated device accepts after an erase: custom data 0x80..0x8F
// under the factory-default PIN.
Report CustomDataRequest() {
    Report request{};
    request[1] = static_cast<std::uint8_t>(CommandCode::CustomData);
    std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), request.begin() + 5);
    for (std::size_t i = 0; i < 16; ++i) {
        request[13 + i] = static_cast<std::uint8_t>(0x80 + i);
    }
    return request;
}

struct Outcome {
    int result = 0;
    Report reply{};
};

class ExchangeFixture {
public:
    explicit ExchangeFixture(const std::function<void(SimHidLayer&)>& setup = {}) {
        sim.AddDevice();
        if (setup) {
            setup(sim);
        }
        table.hid = &sim;
        devices = DiscoverDevices(table);
        openAfterDiscovery = sim.OpenHandleCount();
        sim.ClearRecord();
    }

    Outcome Exchange(const Report& request) {
        Outcome run;
        run.reply.fill(0xEE);  // the exchange zeroes it
        run.result = ExchangeReport(table, request, run.reply);
        return run;
    }

    SimHidLayer sim;
    DeviceInterfaceTable table;
    int devices = 0;
    std::size_t openAfterDiscovery = 0;
};

void ExpectNoMisuse(const SimHidLayer& sim) {
    EXPECT_EQ(sim.Errors(), std::vector<std::string>{});
    EXPECT_EQ(sim.CountEvents(SimEventKind::Close), 0u);
    for (const SimEvent& wait : sim.EventsOf(SimEventKind::Wait)) {
        EXPECT_EQ(wait.length, ReadTimeoutMs);
    }
}

// Each attempt is start, wait and then either the result without waiting
// (signalled) or cancel and the result with waiting: no read is left in flight
// when the next one starts or the reader goes.
void ExpectEveryReadRetired(const SimHidLayer& sim) {
    std::vector<SimEvent> read;
    for (const SimEvent& event : sim.Events()) {
        if (event.kind == SimEventKind::StartRead || event.kind == SimEventKind::Wait ||
            event.kind == SimEventKind::Cancel || event.kind == SimEventKind::Result) {
            read.push_back(event);
        }
    }
    std::size_t i = 0;
    while (i < read.size()) {
        ASSERT_EQ(read[i].kind, SimEventKind::StartRead) << "event " << i;
        ASSERT_LT(i + 2, read.size());
        ASSERT_EQ(read[i + 1].kind, SimEventKind::Wait) << "event " << i + 1;
        if (read[i + 1].waitResult == HidWaitResult::Signalled) {
            ASSERT_EQ(read[i + 2].kind, SimEventKind::Result);
            EXPECT_FALSE(read[i + 2].waitFlag);
            i += 3;
        } else {
            ASSERT_LT(i + 3, read.size());
            EXPECT_EQ(read[i + 2].kind, SimEventKind::Cancel);
            EXPECT_EQ(read[i + 3].kind, SimEventKind::Result);
            EXPECT_TRUE(read[i + 3].waitFlag);
            i += 4;
        }
    }
}

struct TimingCase {
    const char* name;
    SimRequestScript script;
    int result;
    std::size_t waits;
    std::size_t cancels;
    std::uint64_t virtualMs;
    std::size_t received;  // reports the device took
};

SimRequestScript ReplyAt(std::uint32_t wait) {
    SimRequestScript script;
    script.replyAtWait = wait;
    return script;
}

SimRequestScript Silent() {
    SimRequestScript script;
    script.reply = false;
    return script;
}

SimRequestScript Write(SimWrite write) {
    SimRequestScript script;
    script.write = write;
    return script;
}

SimRequestScript Racing(std::uint32_t wait) {
    SimRequestScript script = ReplyAt(wait);
    script.replyRacesTimeout = true;
    return script;
}

SimRequestScript FailedWait(std::uint32_t failed, std::uint32_t replyAt, bool reply = true) {
    SimRequestScript script = ReplyAt(replyAt);
    script.failedWait = failed;
    script.reply = reply;
    return script;
}

SimRequestScript ShortReply(std::size_t length) {
    SimRequestScript script;
    script.replyLength = length;
    return script;
}

const TimingCase TimingCases[] = {
    {"ReplyInFirstWait", {}, 65, 1, 0, 0, 1},
    {"ReplyInSixteenthWait", ReplyAt(16), 65, 16, 15, 75000, 1},
    {"ReplyTooLate", ReplyAt(17), 0, 16, 16, 80000, 1},
    {"NoReply", Silent(), 0, 16, 16, 80000, 1},
    {"ShortReply", ShortReply(3), 3, 1, 0, 0, 1},
    // The read completes while the timeout is reported: retiring it finds the reply.
    {"ReplyRacesFirstTimeout", Racing(1), 65, 1, 1, 5000, 1},
    {"ReplyRacesLastTimeout", Racing(16), 65, 16, 16, 80000, 1},
    {"FailedWaitOverCompletedRead", FailedWait(1, 1), 65, 1, 1, 0, 1},
    {"FailedWaitThenReply", FailedWait(1, 2), 65, 2, 1, 0, 1},
    {"FailedWaitAndNoReply", FailedWait(3, 1, false), 0, 16, 16, 75000, 1},
    {"WriteFails", Write(SimWrite::Fails), 0, 0, 0, 0, 0},
    {"WriteOfZeroBytes", Write(SimWrite::ZeroBytes), 0, 0, 0, 0, 0},
};

void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }

class ExchangeTimingTest : public testing::TestWithParam<TimingCase> {};

TEST_P(ExchangeTimingTest, ReturnsReplyBytesAfterBoundedWaits) {
    const TimingCase& c = GetParam();
    ExchangeFixture f;
    f.sim.Model(0).state.pin = FactoryDefaultPin;
    f.sim.AddFault(0, {SimRequestSelector::Every(), c.script});

    const Outcome run = f.Exchange(CustomDataRequest());

    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::Wait), c.waits);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::Cancel), c.cancels);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::StartRead), c.waits);
    EXPECT_EQ(f.sim.NowMs(), c.virtualMs);
    EXPECT_EQ(f.sim.ReceivedReports().size(), c.received);
    ExpectEveryReadRetired(f.sim);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::ReleaseReader), 1u);

    Report expected{};
    if (c.result > 0) {
        expected[1] = static_cast<std::uint8_t>(CommandCode::CustomData);
    }
    EXPECT_EQ(run.reply, expected);
    ExpectNoMisuse(f.sim);
    EXPECT_EQ(f.sim.OpenHandleCount(), f.openAfterDiscovery);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ExchangeTimingTest, testing::ValuesIn(TimingCases),
                         [](const testing::TestParamInfo<TimingCase>& info) { return info.param.name; });

TEST(ExchangeTest, ReplyBytesLandInTheCallersBuffer) {
    ExchangeFixture f;
    auto& state = f.sim.Model(0).state;
    state.serial = 0x12345678;
    state.eraseCount = 298;
    state.customData = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                        0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

    const Outcome run = f.Exchange(Report{});

    ASSERT_EQ(run.result, 65);
    Report expected{};
    std::copy(state.customData.begin(), state.customData.end(), expected.begin() + 5);
    const std::uint8_t tail[] = {0xFF, 0xFF, 0x2A, 0x01, 0x78, 0x56, 0x34, 0x12};
    std::copy(std::begin(tail), std::end(tail), expected.begin() + 21);
    EXPECT_EQ(run.reply, expected);
    ASSERT_EQ(f.sim.ReceivedReports().size(), 1u);
    EXPECT_EQ(f.sim.ReceivedReports()[0].bytes, std::vector<std::uint8_t>(65, 0));
}

struct LengthCase {
    const char* name;
    std::uint16_t outputReportLength;
    bool capsUnreadable;
    std::size_t sent;  // bytes the device received; 0: no write
    int result;
};

const LengthCase LengthCases[] = {
    {"Standard", 65, false, 65, 65},
    {"Shorter", 33, false, 33, 33},
    {"LongerClampedTo65", 70, false, 65, 65},
    {"NoOutputReport", 0, false, 0, 0},
    {"CapsUnreadable", 65, true, 0, 0},
};

void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.name; }

class ExchangeLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(ExchangeLengthTest, WriteAndReadFollowTheOutputReportLength) {
    const LengthCase& c = GetParam();
    ExchangeFixture f([&](SimHidLayer& sim) {
        sim.Interface(0, 4).outputReportLength = c.outputReportLength;
        sim.Model(0).state.pin = FactoryDefaultPin;
    });
    f.sim.Interface(0, 4).capsUnreadable = c.capsUnreadable;
    Report request = CustomDataRequest();
    for (std::size_t i = 29; i < request.size(); ++i) {
        request[i] = static_cast<std::uint8_t>(i);
    }

    const Outcome run = f.Exchange(request);

    EXPECT_EQ(run.result, c.result);
    if (c.sent == 0) {
        EXPECT_EQ(f.sim.CountEvents(SimEventKind::Write), 0u);
        EXPECT_TRUE(f.sim.ReceivedReports().empty());
    } else {
        ASSERT_EQ(f.sim.ReceivedReports().size(), 1u);
        EXPECT_EQ(f.sim.ReceivedReports()[0].bytes,
                  std::vector<std::uint8_t>(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(c.sent)));
        const auto starts = f.sim.EventsOf(SimEventKind::StartRead);
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0].length, c.sent);
    }
    // Nothing beyond what was received is touched.
    for (std::size_t i = static_cast<std::size_t>(c.result); i < run.reply.size(); ++i) {
        EXPECT_EQ(run.reply[i], 0x00) << "reply byte " << i;
    }
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::Wait), c.sent == 0 ? 0u : 1u);
    ExpectNoMisuse(f.sim);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ExchangeLengthTest, testing::ValuesIn(LengthCases),
                         [](const testing::TestParamInfo<LengthCase>& info) { return info.param.name; });

struct RouteCase {
    const char* name;
    std::function<void(SimDeviceOptions&)> layout;  // of the first of two devices
    int result;
    std::size_t waits;
    int receivedInterface;  // -1: the device received nothing
};

void Unchanged(SimDeviceOptions&) {}

const RouteCase RouteCases[] = {
    {"ConfigInterfaceInRecordFour", Unchanged, 65, 1, 4},
    {"ConfigInterfaceInRecordZero",
     [](SimDeviceOptions& d) {
         std::rotate(d.interfaces.begin(), d.interfaces.begin() + 4, d.interfaces.begin() + 5);
     },
     65, 1, 0},
    // The lookup falls back to record 0, a keyboard opened with access 0.
    {"QueryOnlyKeyboardWhenNameDiffersInCase",
     [](SimDeviceOptions& d) { d.interfaces[4].productString = u"configinterface"; }, 0, 0, -1},
    // A record 0 that takes output reports gets the request and never answers.
    {"WritableRecordZeroWhenNameHasTrailingBlank",
     [](SimDeviceOptions& d) {
         d.interfaces[4].productString = u"ConfigInterface ";
         d.interfaces[0].queryOnly = false;
     },
     0, 16, 0},
    {"QueryOnlyConfigInterface", [](SimDeviceOptions& d) { d.interfaces[4].queryOnly = true; }, 0, 0, -1},
    {"WriteHandleNotOpened", [](SimDeviceOptions& d) { d.interfaces[4].failingOpens = {2}; }, 0, 0, -1},
    // Without a read handle no reply can come back: no wait at all.
    {"ReadHandleNotOpened", [](SimDeviceOptions& d) { d.interfaces[4].failingOpens = {3}; }, 0, 0, 4},
};

void PrintTo(const RouteCase& c, std::ostream* os) { *os << c.name; }

class ExchangeRouteTest : public testing::TestWithParam<RouteCase> {};

TEST_P(ExchangeRouteTest, GoesToTheLookedUpRecordOfTheFirstDevice) {
    const RouteCase& c = GetParam();
    SimHidLayer sim;
    SimDeviceOptions first;
    c.layout(first);
    sim.AddDevice(first);
    sim.AddDevice();
    DeviceInterfaceTable table;
    table.hid = &sim;
    ASSERT_EQ(DiscoverDevices(table), 2);
    sim.ClearRecord();
    const std::size_t open = sim.OpenHandleCount();

    Report reply{};
    EXPECT_EQ(ExchangeReport(table, Report{}, reply), c.result);

    EXPECT_EQ(sim.CountEvents(SimEventKind::Wait), c.waits);
    if (c.receivedInterface < 0) {
        EXPECT_TRUE(sim.ReceivedReports().empty());
    } else {
        ASSERT_EQ(sim.ReceivedReports().size(), 1u);
        EXPECT_EQ(sim.ReceivedReports()[0].device, 0u);
        EXPECT_EQ(sim.ReceivedReports()[0].interfaceIndex, static_cast<std::size_t>(c.receivedInterface));
    }
    EXPECT_EQ(sim.OpenHandleCount(), open);
    ExpectNoMisuse(sim);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ExchangeRouteTest, testing::ValuesIn(RouteCases),
                         [](const testing::TestParamInfo<RouteCase>& info) { return info.param.name; });

TEST(ExchangeTest, NoEventMeansNothingSentAndNothingRead) {
    ExchangeFixture f;
    f.sim.SetReaderCreationFails(true);

    EXPECT_EQ(f.Exchange(Report{}).result, 0);

    EXPECT_EQ(f.sim.CountEvents(SimEventKind::CreateReader), 1u);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::Write), 0u);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::StartRead), 0u);
    EXPECT_TRUE(f.sim.ReceivedReports().empty());
    ExpectNoMisuse(f.sim);
}

TEST(ReadInputReportTest, NoEventGivesZeroWithoutStartingARead) {
    ExchangeFixture f;
    f.sim.SetReaderCreationFails(true);
    std::uint8_t buffer[ReportBufferSize] = {};
    EXPECT_EQ(ReadInputReport(f.sim, f.table.records[4].readHandle, buffer), 0);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::StartRead), 0u);
    EXPECT_EQ(f.sim.NowMs(), 0u);
}

TEST(ExchangeTest, CopiesShareHandlesAndNeverCloseThem) {
    ExchangeFixture f;
    ASSERT_EQ(f.devices, 1);
    {
        const DeviceInterfaceTable copy = f.table;
        EXPECT_EQ(copy.records[4].readHandle, f.table.records[4].readHandle);
    }
    EXPECT_EQ(f.Exchange(Report{}).result, 65);
    EXPECT_EQ(f.Exchange(Report{}).result, 65);
    EXPECT_EQ(f.sim.OpenHandleCount(), f.openAfterDiscovery);
    EXPECT_EQ(f.sim.CountEvents(SimEventKind::Close), 0u);

    // The driver's own close of each handle once leaves nothing open.
    for (const DeviceInterface& record : f.table.records) {
        for (HidHandle handle : {record.readHandle, record.writeHandle}) {
            if (handle != InvalidHidHandle) {
                f.sim.Close(handle);
            }
        }
    }
    EXPECT_EQ(f.sim.OpenHandleCount(), 0u);
    EXPECT_EQ(f.sim.Errors(), std::vector<std::string>{});
}

}  // namespace
