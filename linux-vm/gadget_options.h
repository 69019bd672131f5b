// Command line of ob310_gadget.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/pin.h"

namespace ob310 {

struct GadgetOptions {
    std::uint16_t version = 0;  // bcdDevice, and the model's version number
    std::uint32_t serial = 0;
    Pin pin{};
    unsigned silentRequest = 0;  // 0: every request is answered
    unsigned leaveAt = 0;        // 0: stays until stopped
    std::string udc;             // empty: the first controller in /sys/class/udc
    std::string configfs = "/sys/kernel/config";
    std::string ffsDir = "/dev/ob310-ffs";
    std::string gadgetName = "ob310";
    bool verbose = false;
    bool help = false;
};

extern const char* const GadgetUsage;

// Version, serial and PIN default to the model's factory state. Returns
// nothing, with `error` set, for an unknown option, a missing value or a value
// that does not parse.
std::optional<GadgetOptions> ParseGadgetOptions(const std::vector<std::string>& args,
                                                std::string& error);

}  // namespace ob310
