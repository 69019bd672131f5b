// Reading a HID report descriptor the way Windows' HID parser sees it.
//
// Windows presents one HID interface per top-level collection of a device's
// report descriptor and gives each its own report lengths. Linux hidraw has one
// node per USB HID interface, whatever its descriptor holds. The Linux backend
// uses this parser to present a node as Windows would: one interface per
// top-level collection, with that collection's report lengths.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace ob310 {

// One top-level collection and the lengths of its reports, in bytes. Like
// HIDP_CAPS, each length is that of the longest report of its kind in the
// collection plus the report-ID byte, which is counted also when the device
// uses no report IDs (the byte is then 0). A kind of report the collection
// does not have gives 0.
struct HidTopLevelCollection {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    // The IDs of the collection's input reports, ascending; empty when the
    // descriptor declares no report IDs.
    std::vector<std::uint8_t> inputReportIds;

    friend bool operator==(const HidTopLevelCollection&, const HidTopLevelCollection&) = default;
};

struct HidReportDescriptorInfo {
    // False for a descriptor that cannot be read to its end (a truncated item,
    // a Pop without a Push, an End Collection without a Collection, a
    // collection left open at the end) or that the kernel's HID parser refuses
    // (a report size above 256 bits, a report count above 12288, a report ID of
    // 0 or above 255, a report longer than 16383 bytes). `collections` is then
    // empty.
    bool valid = false;
    // True when the descriptor declares report IDs: the device then puts the
    // ID in front of every report itself.
    bool usesReportIds = false;
    // In descriptor order.
    std::vector<HidTopLevelCollection> collections;
};

HidReportDescriptorInfo ParseReportDescriptor(std::span<const std::uint8_t> descriptor);

}  // namespace ob310
