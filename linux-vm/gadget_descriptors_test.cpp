#include "linux-vm/gadget_descriptors.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/hid_report_descriptor.h"

namespace {

// A report descriptor of 0x1234 bytes shows its length little-endian.
TEST(GadgetDescriptors, FunctionFsBlobForTheConfigInterface) {
    const Bytes expected = {
        3, 0, 0, 0, 84, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0,  // v2 head, FS + HS, 4 + 4
        // full speed: interface, HID, interrupt IN 1 ms, interrupt OUT 1 ms
        9, 4, 0, 0, 2, 3, 0, 0, 1,
        9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x34, 0x12,
        7, 5, 0x81, 3, 64, 0, 1,
        7, 5, 0x02, 3, 64, 0, 1,
        // high speed: the same, bInterval 1 = one microframe
        9, 4, 0, 0, 2, 3, 0, 0, 1,
        9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x34, 0x12,
        7, 5, 0x81, 3, 64, 0, 1,
        7, 5, 0x02, 3, 64, 0, 1,
    };
    EXPECT_EQ(FunctionFsDescriptors(0x1234), expected);
}

TEST(GadgetDescriptors, StringsBlobCarriesTheInterfaceNameOnce) {
    const std::string name = "ConfigInterface";
    Bytes expected = {2, 0, 0, 0, 34, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x09, 0x04};
    expected.insert(expected.end(), name.begin(), name.end());
    expected.push_back(0);
    EXPECT_EQ(FunctionFsStrings(name), expected);
}

TEST(GadgetDescriptors, SixInterfacesOneOfThemConfigInterface) {
    const auto& interfaces = GadgetInterfaces();
    ASSERT_EQ(interfaces.size(), 6u);
    std::set<std::string> names, instances;
    for (const GadgetInterface& interface : interfaces) {
        names.insert(interface.name);
        instances.insert(interface.instance);
        // The instance names a configfs directory and a mount source.
        EXPECT_EQ(interface.instance.find_first_of("/ ."), std::string::npos) << interface.instance;
        EXPECT_EQ(interface.kind == GadgetInterfaceKind::Config, interface.name == "ConfigInterface");
    }
    EXPECT_EQ(names.size() + instances.size(), 12u);
}

// Every interface's report descriptor, read by the parser the Linux backend
// counts interfaces with: one top-level collection each (so six nodes make six
// interfaces) and no report IDs.
struct DescriptorCase {
    GadgetInterfaceKind kind;
    HidTopLevelCollection collection;
};

class GadgetReportDescriptorTest : public testing::TestWithParam<DescriptorCase> {};

TEST_P(GadgetReportDescriptorTest, OneTopLevelCollectionWithoutReportIds) {
    const Bytes descriptor = GadgetReportDescriptor(GetParam().kind);
    const HidReportDescriptorInfo info = ParseReportDescriptor(descriptor);
    ASSERT_TRUE(info.valid);
    EXPECT_FALSE(info.usesReportIds);
    ASSERT_EQ(info.collections.size(), 1u);
    EXPECT_EQ(info.collections[0], GetParam().collection);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, GadgetReportDescriptorTest,
    testing::Values(
        // Lengths count the report-ID byte, as HIDP_CAPS does.
        DescriptorCase{GadgetInterfaceKind::Config, {0xFF00, 0x01, 65, 65, 0, {}}},
        DescriptorCase{GadgetInterfaceKind::Keyboard, {0x01, 0x06, 9, 2, 0, {}}},
        DescriptorCase{GadgetInterfaceKind::Keypad, {0x01, 0x07, 7, 0, 0, {}}},
        DescriptorCase{GadgetInterfaceKind::Consumer, {0x0C, 0x01, 5, 0, 0, {}}},
        DescriptorCase{GadgetInterfaceKind::Mouse, {0x01, 0x02, 5, 0, 0, {}}},
        DescriptorCase{GadgetInterfaceKind::Leds, {0xFF01, 0x01, 9, 9, 0, {}}}));

}  // namespace
