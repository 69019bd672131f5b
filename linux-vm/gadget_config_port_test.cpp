#include "linux-vm/gadget_config_port.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A request as it travels over USB: 64 bytes, no report-ID byte.
Bytes UsbRequest(CommandCode command, const Pin& pin) {
    Bytes data(GadgetReportBytes, 0);
    data[0] = static_cast<std::uint8_t>(command);
    std::copy(pin.begin(), pin.end(), data.begin() + 4);
    return data;
}

constexpr Pin OtherPin = {1, 2, 3, 4, 5, 6, 7, 8};

// An oversized transfer is cut to one report.
TEST(ConfigPort, InfoReplyIsTheModelsReportWithoutItsReportIdByte) {
    Ob310Model model;
    model.state.serial = 0x12345678;
    ConfigPort port(model, 0);
    const Bytes request(200, 0);
    const auto sent = port.Answer(request.data(), request.size());

    Ob310Model twin;
    twin.state.serial = 0x12345678;
    Report full{};
    Report twinReply{};
    ASSERT_EQ(twin.HandleReport(full.data(), full.size(), twinReply), ReportBufferSize);
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(*sent, Bytes(twinReply.begin() + 1, twinReply.end()));
    ASSERT_EQ(sent->size(), 64u);
    EXPECT_EQ((*sent)[24], 0x78);  // serial, lowest byte: reply offset 25 less the ID byte
}

TEST(ConfigPort, ModelSeesReportIdZeroInFrontOfTheUsbBytes) {
    Ob310Model model;
    model.state.pin = OtherPin;
    ConfigPort port(model, 0);
    // The PIN sits at report offset 5, so at 4 on the wire; an erase only
    // passes when the model finds it there.
    const Bytes erase = UsbRequest(CommandCode::Erase, OtherPin);
    const auto sent = port.Answer(erase.data(), erase.size());
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(sent->size(), 64u);
    EXPECT_EQ((*sent)[1], SimStatusAccepted);  // status: reply offset 2
    EXPECT_EQ(model.state.eraseCount, 1);
    EXPECT_EQ(model.state.pin, FactoryDefaultPin);
}

TEST(ConfigPort, RefusedEraseSendsTheShortReplyLessTheReportIdByte) {
    Ob310Model model;
    model.state.pin = OtherPin;
    ConfigPort port(model, 0);
    const Bytes erase = UsbRequest(CommandCode::Erase, FactoryDefaultPin);
    const auto sent = port.Answer(erase.data(), erase.size());
    ASSERT_TRUE(sent.has_value());
    EXPECT_EQ(*sent, (Bytes{static_cast<std::uint8_t>(CommandCode::Erase), SimStatusWrongPin}));
    EXPECT_EQ(sent->size(), SimRefusedEraseReplyLength - 1);
    EXPECT_EQ(model.state.eraseCount, 0);
}

// The silent request (counted from 1) goes unanswered and never reaches the
// model; so do the one the device leaves at and all after it.
struct SilentCase {
    unsigned silentRequest;
    unsigned leaveAt;
    std::vector<bool> answered;  // for requests 1, 2, 3, 4
    int erasesDone;
};

class ConfigPortSilentTest : public testing::TestWithParam<SilentCase> {};

TEST_P(ConfigPortSilentTest, OnlyTheChosenRequestsAreLost) {
    Ob310Model model;
    ConfigPort port(model, GetParam().silentRequest, GetParam().leaveAt);
    const Bytes erase = UsbRequest(CommandCode::Erase, FactoryDefaultPin);
    std::vector<bool> answered;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(port.Leaving(), GetParam().leaveAt != 0 && static_cast<unsigned>(i) >= GetParam().leaveAt);
        answered.push_back(port.Answer(erase.data(), erase.size()).has_value());
    }
    EXPECT_EQ(answered, GetParam().answered);
    EXPECT_EQ(model.state.eraseCount, GetParam().erasesDone);
    EXPECT_EQ(port.RequestsSeen(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Faults, ConfigPortSilentTest,
                         testing::Values(SilentCase{0, 0, {true, true, true, true}, 4},
                                         SilentCase{2, 0, {true, false, true, true}, 3},
                                         SilentCase{4, 0, {true, true, true, false}, 3},
                                         SilentCase{5, 0, {true, true, true, true}, 4},
                                         SilentCase{0, 2, {true, false, false, false}, 1}));

}  // namespace
