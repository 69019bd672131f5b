#include "linux-vm/gadget_control.h"

#include <gtest/gtest.h>

namespace {

using Kind = ControlAnswer::Kind;

struct ControlCase {
    const char* name;
    ControlSetup setup;
    Kind kind;
    Bytes data;  // SendData: the bytes sent
    std::uint16_t receiveLength = 0;
};

const Bytes ConfigDescriptor = GadgetReportDescriptor(GadgetInterfaceKind::Config);

Bytes Head(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

class ConfigControlTest : public testing::TestWithParam<ControlCase> {};

TEST_P(ConfigControlTest, Answer) {
    HidControlState state(GadgetInterfaceKind::Config);
    const ControlAnswer answer = state.Answer(GetParam().setup);
    EXPECT_EQ(answer.kind, GetParam().kind);
    EXPECT_EQ(answer.data, GetParam().data);
    EXPECT_EQ(answer.receiveLength, GetParam().receiveLength);
    EXPECT_EQ(answer.isOutputReport, GetParam().kind == Kind::ReceiveData);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ConfigControlTest,
    testing::Values(
        // usbhid asks with wLength = the length from the HID descriptor.
        ControlCase{"ReportDescriptor", {0x81, 0x06, 0x2200, 0, 27}, Kind::SendData, ConfigDescriptor},
        ControlCase{"ReportDescriptorLongerRequest", {0x81, 0x06, 0x2200, 0, 255}, Kind::SendData,
                    ConfigDescriptor},
        ControlCase{"ReportDescriptorCutToWLength", {0x81, 0x06, 0x2200, 0, 9}, Kind::SendData,
                    Head(ConfigDescriptor, 9)},
        ControlCase{"HidDescriptor", {0x81, 0x06, 0x2100, 0, 9}, Kind::SendData,
                    HidClassDescriptor(ConfigDescriptor.size())},
        ControlCase{"SecondReportDescriptorDoesNotExist", {0x81, 0x06, 0x2201, 0, 64}, Kind::Stall, {}},
        ControlCase{"DescriptorForTheDeviceIsNotOurs", {0x80, 0x06, 0x2200, 0, 64}, Kind::Stall, {}},
        ControlCase{"SetIdle", {0x21, 0x0A, 0x0000, 0, 0}, Kind::Acknowledge, {}},
        ControlCase{"SetIdleWithDataIsMalformed", {0x21, 0x0A, 0x0000, 0, 1}, Kind::Stall, {}},
        ControlCase{"GetIdleDefault", {0xA1, 0x02, 0x0000, 0, 1}, Kind::SendData, {0}},
        ControlCase{"GetProtocol", {0xA1, 0x03, 0x0000, 0, 1}, Kind::SendData, {1}},
        ControlCase{"SetProtocolBoot", {0x21, 0x0B, 0x0000, 0, 0}, Kind::Acknowledge, {}},
        ControlCase{"SetReportOutput", {0x21, 0x09, 0x0200, 0, 64}, Kind::ReceiveData, {}, 64},
        ControlCase{"SetReportWithReportIdDoesNotExist", {0x21, 0x09, 0x0201, 0, 64}, Kind::Stall, {}},
        ControlCase{"SetReportTooLong", {0x21, 0x09, 0x0200, 0, 65}, Kind::Stall, {}},
        ControlCase{"GetReportInputBeforeAnyReply", {0xA1, 0x01, 0x0100, 0, 64}, Kind::SendData,
                    Bytes(64, 0)},
        ControlCase{"VendorRequest", {0xC1, 0x01, 0x0000, 0, 8}, Kind::Stall, {}},
        ControlCase{"EndpointRecipient", {0xA2, 0x01, 0x0100, 0, 64}, Kind::Stall, {}}),
    [](const testing::TestParamInfo<ControlCase>& info) { return info.param.name; });

TEST(HidControlState, SetIdleIsRememberedForGetIdle) {
    HidControlState state(GadgetInterfaceKind::Keyboard);
    EXPECT_EQ(state.Answer({0x21, 0x0A, 0x7D00, 0, 0}).kind, Kind::Acknowledge);
    EXPECT_EQ(state.IdleRate(), 0x7D);
    EXPECT_EQ(state.Answer({0xA1, 0x02, 0x0000, 0, 1}).data, Bytes{0x7D});
}

TEST(HidControlState, GetReportGivesTheLastReplySent) {
    HidControlState state(GadgetInterfaceKind::Config);
    const Bytes reply = {0x03, 0x01};  // a refused erase, as sent
    state.SetLastInputReport(reply);
    EXPECT_EQ(state.Answer({0xA1, 0x01, 0x0100, 0, 64}).data, reply);
    EXPECT_EQ(state.Answer({0xA1, 0x01, 0x0100, 0, 1}).data, Bytes{0x03});
}

TEST(HidControlState, OtherInterfacesHaveNoInputReportToGiveBeforeSending) {
    HidControlState state(GadgetInterfaceKind::Mouse);
    EXPECT_EQ(state.Answer({0xA1, 0x01, 0x0100, 0, 64}).kind, Kind::Stall);
    EXPECT_EQ(state.Answer({0x81, 0x06, 0x2200, 0, 255}).data,
              GadgetReportDescriptor(GadgetInterfaceKind::Mouse));
}

}  // namespace
