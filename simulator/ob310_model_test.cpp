#include "simulator/ob310_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

constexpr Pin OwnerPin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
constexpr Pin OtherPin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x89};

// A report laid out as the host sends it: ID 0, command, index, PIN at 5,
// data from 13.
Report MakeReport(std::uint8_t command, const Pin& pin, std::vector<std::uint8_t> data = {},
                  std::uint8_t index = 0) {
    Report report{};
    report[1] = command;
    report[2] = index;
    std::copy(pin.begin(), pin.end(), report.begin() + 5);
    std::copy(data.begin(), data.end(), report.begin() + 13);
    return report;
}

std::uint8_t Code(CommandCode command) { return static_cast<std::uint8_t>(command); }

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

Ob310State OwnedState() {
    Ob310State state;
    state.pin = OwnerPin;
    state.customData.fill(0x5C);
    state.keyTables[7].fill(0x77);
    state.ledMode = 3;
    state.mouseData.fill(0x4D);
    state.debounce = 9;
    state.eraseCount = 41;
    return state;
}

struct ModelCase {
    const char* name;
    std::function<void(Ob310State&)> prepare;
    Report request;
    std::size_t replyLength;
    std::uint8_t status;
    std::function<void(const Ob310State& before, const Ob310State& after)> check;
};

void Unchanged(const Ob310State& before, const Ob310State& after) {
    EXPECT_EQ(after.pin, before.pin);
    EXPECT_EQ(after.eraseCount, before.eraseCount);
    EXPECT_EQ(after.locked, before.locked);
    EXPECT_EQ(after.customData, before.customData);
    EXPECT_EQ(after.keyTables, before.keyTables);
    EXPECT_EQ(after.ledMode, before.ledMode);
    EXPECT_EQ(after.ledParams, before.ledParams);
    EXPECT_EQ(after.ledData, before.ledData);
    EXPECT_EQ(after.mouseData, before.mouseData);
    EXPECT_EQ(after.debounce, before.debounce);
}

void Lock(Ob310State& state) { state.locked = true; }
void NoPreparation(Ob310State&) {}

const ModelCase ModelCases[] = {
    {"EraseWithHeldPinClearsAndCounts", NoPreparation, MakeReport(Code(CommandCode::Erase), OwnerPin), 65,
     SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         EXPECT_EQ(after.pin, FactoryDefaultPin);
         EXPECT_EQ(after.eraseCount, 42);
         EXPECT_FALSE(after.locked);
         EXPECT_EQ(after.customData, CustomDataBlock{});
         EXPECT_EQ(after.keyTables[7], KeyTableRecord{});
         EXPECT_EQ(after.ledMode, 0);
         EXPECT_EQ(after.mouseData, MouseDataBlock{});
         EXPECT_EQ(after.debounce, 0);
         EXPECT_EQ(after.serial, 0x00B31001u);
         EXPECT_EQ(after.versionNumber, 0x1026);
     }},
    {"EraseUnlocksWithHeldPin", Lock, MakeReport(Code(CommandCode::Erase), OwnerPin), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) { EXPECT_FALSE(after.locked); }},
    {"EraseCountStaysAtMaximum", [](Ob310State& s) { s.eraseCount = 0xFFFF; },
     MakeReport(Code(CommandCode::Erase), OwnerPin), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) { EXPECT_EQ(after.eraseCount, 0xFFFF); }},
    {"EraseWithOtherPinIsShortAndChangesNothing", NoPreparation, MakeReport(Code(CommandCode::Erase), OtherPin),
     SimRefusedEraseReplyLength, SimStatusWrongPin, Unchanged},
    {"EraseWithFactoryPinRefusedWhileOwned", NoPreparation,
     MakeReport(Code(CommandCode::Erase), FactoryDefaultPin), SimRefusedEraseReplyLength, SimStatusWrongPin,
     Unchanged},
    {"KeyTableRecordStoredAtIndex", NoPreparation,
     MakeReport(Code(CommandCode::KeyTableRecord), OwnerPin, Bytes(32, 0xA0), 247), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         const auto expected = Bytes(32, 0xA0);
         EXPECT_TRUE(std::equal(expected.begin(), expected.end(), after.keyTables[247].begin()));
     }},
    {"KeyTableIndexPastLastRefused", NoPreparation,
     MakeReport(Code(CommandCode::KeyTableRecord), OwnerPin, Bytes(32, 1), 248), 65, SimStatusBadRecordIndex,
     Unchanged},
    {"KeyTableWrongPinRefused", NoPreparation,
     MakeReport(Code(CommandCode::KeyTableRecord), OtherPin, Bytes(32, 1), 7), 65, SimStatusWrongPin, Unchanged},
    {"CustomDataRefusedWhenLocked", Lock, MakeReport(Code(CommandCode::CustomData), OwnerPin, Bytes(16, 1)), 65,
     SimStatusLocked, Unchanged},
    {"WrongPinReportedBeforeLock", Lock, MakeReport(Code(CommandCode::CustomData), OtherPin, Bytes(16, 1)), 65,
     SimStatusWrongPin, Unchanged},
    {"CustomDataStored", NoPreparation, MakeReport(Code(CommandCode::CustomData), OwnerPin, Bytes(16, 0x30)), 65,
     SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         EXPECT_EQ(after.customData[0], 0x30);
         EXPECT_EQ(after.customData[15], 0x3F);
     }},
    {"LedFieldsStoredFromTheirOffsets", NoPreparation,
     MakeReport(Code(CommandCode::Led), OwnerPin, Bytes(52, 0x01)), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         EXPECT_EQ(after.ledMode, 0x01);  // offset 13
         EXPECT_EQ(after.ledParams[0], 0x03);  // offset 15
         EXPECT_EQ(after.ledParams[7], 0x0A);  // offset 22
         EXPECT_EQ(after.ledData[0], 0x0B);  // offset 23
         EXPECT_EQ(after.ledData[14], 0x19);  // offset 37
     }},
    {"MouseDataStored", NoPreparation, MakeReport(Code(CommandCode::Mouse), OwnerPin, Bytes(32, 0x60)), 65,
     SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         EXPECT_EQ(after.mouseData[0], 0x60);
         EXPECT_EQ(after.mouseData[31], 0x7F);
     }},
    {"NewPinTakesDataAsPin", [](Ob310State& s) { s.pin = FactoryDefaultPin; },
     MakeReport(Code(CommandCode::NewPin), FactoryDefaultPin, {1, 2, 3, 4, 5, 6, 7, 8}), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) {
         EXPECT_EQ(after.pin, (Pin{1, 2, 3, 4, 5, 6, 7, 8}));
     }},
    {"NewPinWithFactoryPinRefusedWhileOwned", NoPreparation,
     MakeReport(Code(CommandCode::NewPin), FactoryDefaultPin, {1, 2, 3, 4, 5, 6, 7, 8}), 65, SimStatusWrongPin,
     Unchanged},
    {"LockWithHeldPinLocks", NoPreparation, MakeReport(Code(CommandCode::Lock), OwnerPin), 65, SimStatusAccepted,
     [](const Ob310State&, const Ob310State& after) { EXPECT_TRUE(after.locked); }},
    {"LockWithOtherPinRefused", NoPreparation, MakeReport(Code(CommandCode::Lock), OtherPin), 65,
     SimStatusWrongPin, Unchanged},
    {"DebounceTakenAtVersion1026", NoPreparation, MakeReport(Code(CommandCode::Debounce), OwnerPin, {0x21}), 65,
     SimStatusAccepted, [](const Ob310State&, const Ob310State& after) { EXPECT_EQ(after.debounce, 0x21); }},
    {"DebounceUnknownBelow1026", [](Ob310State& s) { s.versionNumber = 0x1025; },
     MakeReport(Code(CommandCode::Debounce), OwnerPin, {0x21}), 65, SimStatusUnknownCommand, Unchanged},
    {"UnknownCommandRefused", NoPreparation, MakeReport(0x07, OwnerPin, Bytes(16, 1)), 65,
     SimStatusUnknownCommand, Unchanged},
};

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class ModelTest : public testing::TestWithParam<ModelCase> {};

TEST_P(ModelTest, AnswersAndChangesStateAsSpecified) {
    const ModelCase& c = GetParam();
    Ob310Model model;
    model.state = OwnedState();
    c.prepare(model.state);
    const Ob310State before = model.state;

    Report reply;
    reply.fill(0xEE);
    const std::size_t length = model.HandleReport(c.request.data(), c.request.size(), reply);

    EXPECT_EQ(length, c.replyLength);
    EXPECT_EQ(reply[0], 0x00);
    EXPECT_EQ(reply[1], c.request[1]);
    EXPECT_EQ(reply[StatusByteOffset], c.status);
    for (std::size_t i = 3; i < reply.size(); ++i) {
        EXPECT_EQ(reply[i], 0x00) << "reply byte " << i;
    }
    c.check(before, model.state);
}

INSTANTIATE_TEST_SUITE_P(Requests, ModelTest, testing::ValuesIn(ModelCases),
                         [](const testing::TestParamInfo<ModelCase>& info) { return info.param.name; });

struct InfoCase {
    const char* name;
    bool locked;
    std::uint16_t eraseCount;
    std::uint32_t serial;
    std::array<std::uint8_t, 8> expectedAt21;  // bytes 21..28
};

const InfoCase InfoCases[] = {
    {"OpenDevice", false, 0x012A, 0x12345678, {0xFF, 0xFF, 0x2A, 0x01, 0x78, 0x56, 0x34, 0x12}},
    {"LockedDevice", true, 0, 0x010A0005, {0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x0A, 0x01}},
    {"MaximumEraseCount", false, 0xFFFF, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class InfoTest : public testing::TestWithParam<InfoCase> {};

TEST_P(InfoTest, ReplyCarriesCustomDataLockCountAndSerial) {
    const InfoCase& c = GetParam();
    Ob310Model model;
    model.state.locked = c.locked;
    model.state.eraseCount = c.eraseCount;
    model.state.serial = c.serial;
    for (std::size_t i = 0; i < 16; ++i) {
        model.state.customData[i] = static_cast<std::uint8_t>(i * 0x11);
    }
    const Ob310State before = model.state;

    const Report query{};
    Report reply;
    reply.fill(0xEE);
    ASSERT_EQ(model.HandleReport(query.data(), query.size(), reply), 65u);

    Report expected{};
    for (std::size_t i = 0; i < 16; ++i) {
        expected[5 + i] = static_cast<std::uint8_t>(i * 0x11);
    }
    std::copy(c.expectedAt21.begin(), c.expectedAt21.end(), expected.begin() + 21);
    EXPECT_EQ(reply, expected);
    Unchanged(before, model.state);
}

INSTANTIATE_TEST_SUITE_P(States, InfoTest, testing::ValuesIn(InfoCases),
                         [](const testing::TestParamInfo<InfoCase>& info) { return info.param.name; });

TEST(ModelSequence, ProgrammingRoundAfterEraseUsesFactoryPinThenNewPin) {
    Ob310Model model;
    model.state.pin = OwnerPin;
    Report reply;
    const Pin newPin = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};

    auto send = [&](const Report& request) {
        model.HandleReport(request.data(), request.size(), reply);
        return reply[StatusByteOffset];
    };
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Erase), OwnerPin)), SimStatusAccepted);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::CustomData), OwnerPin, Bytes(16, 1))), SimStatusWrongPin);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::CustomData), FactoryDefaultPin, Bytes(16, 1))), SimStatusAccepted);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::NewPin), FactoryDefaultPin,
                              std::vector<std::uint8_t>(newPin.begin(), newPin.end()))),
              SimStatusAccepted);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Lock), newPin)), SimStatusAccepted);
    // The write flow's last request still carries the factory-default PIN.
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Debounce), FactoryDefaultPin, {4})), SimStatusAccepted);
    EXPECT_EQ(model.state.debounce, 4);
    // The next run's information query ends the round: the lock and the new
    // PIN hold from then on.
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Info), Pin{})), SimStatusAccepted);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Debounce), FactoryDefaultPin, {5})), SimStatusWrongPin);
    EXPECT_EQ(send(MakeReport(Code(CommandCode::Debounce), newPin, {5})), SimStatusLocked);
    EXPECT_EQ(model.state.eraseCount, 1);
    EXPECT_EQ(model.state.customData[0], 1);
    EXPECT_EQ(model.state.debounce, 4);
}

}  // namespace
