#include "simulator/ob310_model.h"

#include <gtest/gtest.h>

namespace ob310 {
namespace {

constexpr Pin OwnerPin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
constexpr Pin OtherPin = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x89};

// A report as the host sends it: ID 0, command, index, PIN at 5, data from 13
// counting up from `first`.
Report MakeReport(CommandCode command, const Pin& pin, std::size_t dataBytes = 0,
                  std::uint8_t first = 0, std::uint8_t index = 0) {
    Report report{};
    report[1] = static_cast<std::uint8_t>(command);
    report[2] = index;
    std::copy(pin.begin(), pin.end(), report.begin() + 5);
    for (std::size_t i = 0; i < dataBytes; ++i)
        report[13 + i] = static_cast<std::uint8_t>(first + i);
    return report;
}

template <std::size_t N>
std::array<std::uint8_t, N> Counting(std::uint8_t first) {
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

using Change = void (*)(Ob310State&);
void None(Ob310State&) {}

// An erase: all cleared but version and serial, the erase count `count`.
template <std::uint16_t count>
void Erased(Ob310State& s) {
    s = {.versionNumber = s.versionNumber,
         .serial = s.serial,
         .eraseCount = count,
         .programmingRound = true};
}

struct ModelCase {
    const char* name;
    Change prepare;
    Report request;
    std::uint8_t status;
    Change change;  // what the request does to the prepared state
};

const ModelCase ModelCases[] = {
    {"EraseWithHeldPinClearsUnlocksAndCounts", [](Ob310State& s) { s.locked = true; },
     MakeReport(CommandCode::Erase, OwnerPin), SimStatusAccepted, Erased<42>},
    {"EraseCountStaysAtMaximum", [](Ob310State& s) { s.eraseCount = 0xFFFF; },
     MakeReport(CommandCode::Erase, OwnerPin), SimStatusAccepted, Erased<0xFFFF>},
    {"KeyTableIndexPastLast", None, MakeReport(CommandCode::KeyTableRecord, OwnerPin, 32, 1, 248),
     SimStatusBadRecordIndex, None},
    {"CustomDataLocked", [](Ob310State& s) { s.locked = true; },
     MakeReport(CommandCode::CustomData, OwnerPin, 16, 1), SimStatusLocked, None},
    {"WrongPinBeforeLock", [](Ob310State& s) { s.locked = true; },
     MakeReport(CommandCode::CustomData, OtherPin, 16, 1), SimStatusWrongPin, None},
    {"LedFieldsFromTheirOffsets", None, MakeReport(CommandCode::Led, OwnerPin, 52, 1),
     SimStatusAccepted,
     [](Ob310State& s) {
         s.ledMode = 1;                   // offset 13
         s.ledParams = Counting<8>(3);    // offsets 15 to 22
         s.ledData = Counting<15>(0x0B);  // offsets 23 to 37
     }},
    {"MouseDataStored", None, MakeReport(CommandCode::Mouse, OwnerPin, 32, 0x60), SimStatusAccepted,
     [](Ob310State& s) { s.mouseData = Counting<32>(0x60); }},
    {"DebounceUnknownBelow1026", [](Ob310State& s) { s.versionNumber = 0x1025; },
     MakeReport(CommandCode::Debounce, OwnerPin, 1, 0x21), SimStatusUnknownCommand, None},
    {"UnknownCommand", None, MakeReport(static_cast<CommandCode>(0x07), OwnerPin, 16, 1),
     SimStatusUnknownCommand, None},
};

TEST(ModelTest, AnswersAndChangesState) {
    for (const ModelCase& c : ModelCases) {
        SCOPED_TRACE(c.name);
        Ob310Model model;
        model.state = {.versionNumber = 0x1030,
                       .serial = 0x0A0B0C0D,
                       .pin = OwnerPin,
                       .eraseCount = 41,
                       .customData = Counting<16>(0x5C),
                       .ledData = Counting<15>(0x1E),
                       .mouseData = Counting<32>(0x4D),
                       .debounce = 9};
        model.state.keyTables[7].fill(0x77);
        c.prepare(model.state);
        Ob310State expected = model.state;
        c.change(expected);

        Report reply;
        reply.fill(0xEE);
        EXPECT_EQ(model.HandleReport(c.request.data(), c.request.size(), reply), 65u);
        EXPECT_EQ(reply, (Report{0x00, c.request[1], c.status}));
        EXPECT_EQ(model.state, expected);
    }
}

}  // namespace
}  // namespace ob310
