// Feeds each input to ParseReportDescriptor as a node's report descriptor.
// Besides the sanitizers' findings it traps on a broken contract: a refused
// descriptor gives no collections, and an accepted one gives lengths within
// the kernel's largest report and input report IDs in ascending order.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/hid_report_descriptor.h"

using namespace ob310;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const HidReportDescriptorInfo info = ParseReportDescriptor(std::span(data, size));
    if (!info.valid && (!info.collections.empty() || info.usesReportIds)) {
        __builtin_trap();
    }
    for (const HidTopLevelCollection& c : info.collections) {
        for (const std::uint16_t length :
             {c.inputReportByteLength, c.outputReportByteLength, c.featureReportByteLength})
            if (length > 16384) {
                __builtin_trap();
            }
        if (!info.usesReportIds && !c.inputReportIds.empty()) {
            __builtin_trap();
        }
        for (std::size_t i = 1; i < c.inputReportIds.size(); ++i)
            if (c.inputReportIds[i - 1] >= c.inputReportIds[i]) {
                __builtin_trap();
            }
    }
    return 0;
}
