#include "platform/hid_report_descriptor.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>

namespace ob310 {

namespace {

// Item prefix: bits 0-1 data size (3 means 4 bytes), bits 2-3 type, bits 4-7 tag.
constexpr std::uint8_t LongItemPrefix = 0xFE;

enum ItemType : std::uint8_t { MainItem = 0, GlobalItem = 1, LocalItem = 2 };

enum MainTag : std::uint8_t {
    InputTag = 0x8,
    OutputTag = 0x9,
    CollectionTag = 0xA,
    FeatureTag = 0xB,
    EndCollectionTag = 0xC,
};

enum GlobalTag : std::uint8_t {
    UsagePageTag = 0x0,
    ReportSizeTag = 0x7,
    ReportIdTag = 0x8,
    ReportCountTag = 0x9,
    PushTag = 0xA,
    PopTag = 0xB,
};

constexpr std::uint8_t UsageTag = 0x0;  // local

// The kernel's limits (hid-core): HID_MAX_USAGES, the largest report size, the
// report IDs that fit one byte, and HID_MAX_BUFFER_SIZE less the ID byte.
constexpr std::uint32_t MaxReportCount = 12288;
constexpr std::uint32_t MaxReportSize = 256;
constexpr std::uint32_t MaxReportId = 255;
constexpr std::uint64_t MaxReportBits = (16384 - 1) * 8;

enum ReportKind : std::size_t { InputKind, OutputKind, FeatureKind, KindCount };

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;  // 0: the device declares no report IDs
};

struct CollectionReports {
    HidTopLevelCollection collection;
    // Bits per report ID, for each kind of report.
    std::array<std::map<std::uint32_t, std::uint64_t>, KindCount> bits;
};

std::uint16_t ByteLength(const std::map<std::uint32_t, std::uint64_t>& bitsPerReport) {
    if (bitsPerReport.empty()) {
        return 0;
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : bitsPerReport) {
        longest = std::max(longest, bits);
    }
    return static_cast<std::uint16_t>((longest + 7) / 8 + 1);  // + the report-ID byte
}

}  // namespace

HidReportDescriptorInfo ParseReportDescriptor(std::span<const std::uint8_t> descriptor) {
    HidReportDescriptorInfo info;
    std::vector<CollectionReports> found;
    GlobalState global;
    std::vector<GlobalState> pushed;
    // The first Usage of the current main item: the usage of a collection.
    bool haveUsage = false;
    std::uint32_t usage = 0;
    bool usageHasPage = false;  // a four-byte usage carries its own page
    int depth = 0;

    std::size_t pos = 0;
    while (pos < descriptor.size()) {
        const std::uint8_t prefix = descriptor[pos];
        if (prefix == LongItemPrefix) {
            // Long item: prefix, data size, tag, data. No long items are
            // defined; skip them.
            if (descriptor.size() - pos < 3) {
                return {};
            }
            const std::size_t dataSize = descriptor[pos + 1];
            if (descriptor.size() - pos - 3 < dataSize) {
                return {};
            }
            pos += 3 + dataSize;
            continue;
        }
        const std::size_t dataSize = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (descriptor.size() - pos - 1 < dataSize) {
            return {};
        }
        std::uint32_t data = 0;
        for (std::size_t i = 0; i < dataSize; ++i)
            data |= static_cast<std::uint32_t>(descriptor[pos + 1 + i]) << (8 * i);
        const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        const auto tag = static_cast<std::uint8_t>(prefix >> 4);
        pos += 1 + dataSize;

        if (type == MainItem) {
            if (tag == CollectionTag) {
                if (depth == 0) {
                    // Every collection opened at the outermost level is a
                    // top-level collection and becomes an interface of its own
                    // (in a well-formed descriptor it is an Application one).
                    CollectionReports reports;
                    if (haveUsage) {
                        reports.collection.usage = static_cast<std::uint16_t>(usage & 0xFFFF);
                        reports.collection.usagePage = static_cast<std::uint16_t>(
                            usageHasPage ? usage >> 16 : global.usagePage);
                    }
                    found.push_back(std::move(reports));
                }
                ++depth;
            } else if (tag == EndCollectionTag) {
                if (depth == 0) {
                    return {};
                }
                --depth;
            } else if (tag == InputTag || tag == OutputTag || tag == FeatureTag) {
                // A report field outside every collection belongs to no
                // interface and is not counted.
                if (depth > 0) {
                    const ReportKind kind = tag == InputTag    ? InputKind
                                            : tag == OutputTag ? OutputKind
                                                               : FeatureKind;
                    // Both factors are bounded above, so neither this product
                    // nor the bounded sum can wrap.
                    std::uint64_t& bits = found.back().bits[kind][global.reportId];
                    bits += static_cast<std::uint64_t>(global.reportSize) * global.reportCount;
                    if (bits > MaxReportBits) {
                        return {};
                    }
                }
            }
            // Local items describe one main item only.
            haveUsage = false;
        } else if (type == GlobalItem) {
            switch (tag) {
            case UsagePageTag: global.usagePage = data; break;
            case ReportSizeTag:
                if (data > MaxReportSize) {
                    return {};
                }
                global.reportSize = data;
                break;
            case ReportCountTag:
                if (data > MaxReportCount) {
                    return {};
                }
                global.reportCount = data;
                break;
            case ReportIdTag:
                if (data == 0 || data > MaxReportId) {
                    return {};
                }
                global.reportId = data;
                info.usesReportIds = true;
                break;
            case PushTag: pushed.push_back(global); break;
            case PopTag:
                if (pushed.empty()) {
                    return {};
                }
                global = pushed.back();
                pushed.pop_back();
                break;
            default: break;  // logical/physical ranges and units change no length
            }
        } else if (type == LocalItem) {
            if (tag == UsageTag && !haveUsage) {
                haveUsage = true;
                usage = data;
                usageHasPage = dataSize == 4;
            }
        }
    }
    if (depth != 0) {
        return {};
    }

    info.valid = true;
    for (const CollectionReports& reports : found) {
        HidTopLevelCollection collection = reports.collection;
        collection.inputReportByteLength = ByteLength(reports.bits[InputKind]);
        collection.outputReportByteLength = ByteLength(reports.bits[OutputKind]);
        collection.featureReportByteLength = ByteLength(reports.bits[FeatureKind]);
        if (info.usesReportIds)
            for (const auto& [id, bits] : reports.bits[InputKind])
                collection.inputReportIds.push_back(static_cast<std::uint8_t>(id));
        info.collections.push_back(collection);
    }
    return info;
}

}  // namespace ob310
