#include "platform/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ob310 {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& hex) {
    std::istringstream in(hex);
    std::vector<std::uint8_t> bytes;
    for (unsigned value = 0; in >> std::hex >> value;)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

// The whole outcome in short: "invalid" and "ids " when so, then for each
// collection "page:usage in/out/feature" (hex, then byte lengths) and "#id"
// for each of its input report IDs.
std::string Summary(const HidReportDescriptorInfo& info) {
    std::ostringstream out;
    out << (info.valid ? "" : "invalid") << (info.usesReportIds ? "ids " : "");
    for (const HidTopLevelCollection& c : info.collections) {
        out << (&c == info.collections.data() ? "" : ", ") << std::hex << std::uppercase
            << c.usagePage << ":" << c.usage << std::dec << " " << c.inputReportByteLength << "/"
            << c.outputReportByteLength << "/" << c.featureReportByteLength;
        for (const int id : c.inputReportIds)
            out << " #" << id;
    }
    return out.str();
}

// Vendor page, Usage 1, Collection (Application) ... End Collection.
const std::string Open = "06 00 FF 09 01 A1 01 ";

const std::pair<std::string, std::string> DescriptorCases[] = {
    // The OB310's configuration interface: 64 bytes in and out, no report IDs.
    {Open + "15 00 26 FF 00 75 08 95 40 09 02 81 02 09 03 91 02 C0", "FF00:1 65/65/0"},
    // A mouse with a nested collection, Push/Pop and a long item (ID 1); a
    // vendor collection with a four-byte usage and two report IDs of
    // different lengths; a system control collection (ID 5).
    {"05 01 09 02 A1 01 85 01 09 01 A1 00 05 09 19 01 29 03 15 00 25 01 95 03 75 01 81 02 95 01 75 "
     "05 81 03 A4 05 01 09 30 09 31 15 81 25 7F 75 08 95 02 81 06 B4 FE 02 10 AA BB 81 03 C0 C0 "
     "0B 01 00 00 FF A1 01 85 03 75 08 95 10 81 02 85 04 95 20 81 02 95 08 B1 02 95 3F 91 02 C0 "
     "05 01 09 80 A1 01 85 05 19 81 29 83 15 00 25 01 75 01 95 03 81 02 95 05 81 01 C0",
     "ids 1:2 5/0/0 #1, FF00:1 33/64/9 #3 #4, 1:80 2/0/0 #5"},
    // The usage before the nested collection is that collection's; the next
    // top-level collection has none of its own.
    {"05 01 09 02 A1 01 09 01 A1 00 C0 C0 A1 01 C0", "1:2 0/0/0, 0:0 0/0/0"},
    // A field outside every collection belongs to no interface.
    {"75 08 95 04 81 02 09 01 A1 01 95 01 81 02 C0", "0:1 2/0/0"},
    {"", ""},  // empty: valid, nothing in it
    // Not readable to the end: a truncated short item, a truncated long item,
    // a Pop without a Push, an End Collection too many, a collection left open.
    {"05 01 09 02 A1 01 C0 26 FF", "invalid"},
    {"09 01 A1 01 C0 FE 05 10 00", "invalid"},
    {"09 01 A1 01 B4 C0", "invalid"},
    {"09 01 A1 01 C0 C0", "invalid"},
    {"05 01 09 02 A1 01 A1 00 C0", "invalid"},
    // The kernel's limits: report size 256 bits, report count 12288, report
    // IDs 1 to 255, reports of at most 16383 bytes; nothing past them wraps.
    {Open + "85 FF 75 01 96 00 30 81 02 76 00 01 95 01 91 02 C0", "ids FF00:1 1537/33/0 #255"},
    {Open + "76 01 01 95 01 81 02 C0", "invalid"},                          // size 257
    {Open + "75 01 96 01 30 81 02 C0", "invalid"},                          // count 12289
    {Open + "85 00 75 08 95 01 81 02 C0", "invalid"},                       // ID 0
    {Open + "86 00 01 75 08 95 01 81 02 C0", "invalid"},                    // ID 256
    {Open + "77 FF FF FF FF 97 FF FF FF FF 81 02 C0", "invalid"},           // 2^32 - 1 each
    {Open + "75 08 96 00 30 81 02 96 FF 0F 81 02 C0", "FF00:1 16384/0/0"},  // 16383 bytes
    {Open + "75 08 96 00 30 81 02 96 00 10 81 02 C0", "invalid"},           // 16384 bytes
};

TEST(ParseReportDescriptorTest, GivesCollectionsAndLengths) {
    for (const auto& [hex, summary] : DescriptorCases)
        EXPECT_EQ(Summary(ParseReportDescriptor(Bytes(hex))), summary) << hex;
}

}  // namespace
}  // namespace ob310
