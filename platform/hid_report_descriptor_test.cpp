#include "platform/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ob310 {
void PrintTo(const HidTopLevelCollection& c, std::ostream* os) {
    *os << "{page 0x" << std::hex << c.usagePage << " usage 0x" << c.usage << std::dec << " in "
        << c.inputReportByteLength << " out " << c.outputReportByteLength << " feature "
        << c.featureReportByteLength << " ids " << c.inputReportIds.size() << "}";
}
namespace {

struct DescriptorCase {
    std::string name;
    std::string bytes;  // hexadecimal, blank-separated
    bool valid;
    bool usesReportIds;
    std::vector<HidTopLevelCollection> collections;
};

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::istringstream in(hex);
    std::vector<std::uint8_t> bytes;
    for (unsigned value = 0; in >> std::hex >> value;)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// Vendor page, Usage 1, Collection (Application) ... End Collection.
const std::string Open = "06 00 FF 09 01 A1 01 ";

const std::vector<DescriptorCase> DescriptorCases = {
    // The OB310's configuration interface: 64 bytes in and out, no report IDs.
    {"OneCollectionWithoutReportIds",
     Open + "15 00 26 FF 00 75 08 95 40 09 02 81 02 09 03 91 02 C0",
     true,
     false,
     {{0xFF00, 0x01, 65, 65, 0, {}}}},
    // A mouse with a nested collection, Push/Pop and a long item (ID 1); a
    // vendor collection with a four-byte usage and two report IDs of
    // different lengths; a system control collection (ID 5).
    {"SeveralCollections",
     "05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 "
     "05 81 03 "
     "A4 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 B4 FE 02 10 AA BB 81 03 C0 C0 "
     "0B 01 00 00 FF A1 01 85 03 75 08 95 10 81 02 85 04 95 20 81 02 95 08 B1 02 95 3F 91 02 C0 "
     "05 01 09 80 A1 01 85 05 19 81 29 83 15 00 25 01 75 01 95 03 81 02 95 05 81 01 C0",
     true,
     true,
     {{0x01, 0x02, 5, 0, 0, {1}}, {0xFF00, 0x01, 33, 64, 9, {3, 4}}, {0x01, 0x80, 2, 0, 0, {5}}}},
    // The usage before the nested collection is that collection's; the next
    // top-level collection has none of its own.
    {"UsageBelongsToOneMainItem",
     "05 01 09 02 A1 01 09 01 A1 00 C0 C0 A1 01 C0",
     true,
     false,
     {{0x01, 0x02, 0, 0, 0, {}}, {0, 0, 0, 0, 0, {}}}},
    // A field outside every collection belongs to no interface.
    {"FieldOutsideCollections",
     "75 08 95 04 81 02 09 01 A1 01 95 01 81 02 C0",
     true,
     false,
     {{0, 0x01, 2, 0, 0, {}}}},
    {"Empty", "", true, false, {}},
    {"TruncatedShortItem", "05 01 09 02 A1 01 C0 26 FF", false, false, {}},
    {"TruncatedLongItem", "09 01 A1 01 C0 FE 05 10 00", false, false, {}},
    {"PopWithoutPush", "09 01 A1 01 B4 C0", false, false, {}},
    {"EndWithoutCollection", "09 01 A1 01 C0 C0", false, false, {}},
    {"CollectionLeftOpen", "05 01 09 02 A1 01 A1 00 C0", false, false, {}},
    // The kernel's limits: report size 256 bits, report count 12288, report
    // IDs 1 to 255, reports of at most 16383 bytes; nothing past them wraps.
    {"LargestSizeAndCount",
     Open + "85 FF 75 01 96 00 30 81 02 76 00 01 95 01 91 02 C0",
     true,
     true,
     {{0xFF00, 0x01, 1537, 33, 0, {0xFF}}}},
    {"ReportSizeAbove256", Open + "76 01 01 95 01 81 02 C0", false, false, {}},
    {"ReportCountAbove12288", Open + "75 01 96 01 30 81 02 C0", false, false, {}},
    {"ReportId0", Open + "85 00 75 08 95 01 81 02 C0", false, false, {}},
    {"ReportId256", Open + "86 00 01 75 08 95 01 81 02 C0", false, false, {}},
    {"HugeSizeAndCount", Open + "77 FF FF FF FF 97 FF FF FF FF 81 02 C0", false, false, {}},
    {"Report16383Bytes",
     Open + "75 08 96 00 30 81 02 96 FF 0F 81 02 C0",
     true,
     false,
     {{0xFF00, 0x01, 16384, 0, 0, {}}}},
    {"Report16384Bytes", Open + "75 08 96 00 30 81 02 96 00 10 81 02 C0", false, false, {}},
};

TEST(ParseReportDescriptorTest, GivesCollectionsAndLengths) {
    for (const DescriptorCase& c : DescriptorCases) {
        const HidReportDescriptorInfo info = ParseReportDescriptor(Bytes(c.bytes));
        EXPECT_EQ(std::tuple(info.valid, info.usesReportIds, info.collections),
                  std::tuple(c.valid, c.usesReportIds, c.collections))
            << c.name;
    }
}

}  // namespace
}  // namespace ob310
