// The configuration interface of the virtual OB310: output reports from the
// host go to the shared device model, its replies go back as input reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

#include "linux-vm/gadget_descriptors.h"
#include "simulator/ob310_model.h"

namespace ob310 {

class ConfigPort {
public:
    // `silentRequest`: the number (from 1, counted from the start) of the one
    // request the device takes in and never answers; 0 answers all.
    // `leaveAt`: the number of the request after which the device leaves the
    // bus: it is taken in and not answered; 0 never leaves.
    ConfigPort(Ob310Model& model, unsigned silentRequest, unsigned leaveAt = 0);

    // One output report as USB carries it: up to 64 data bytes, no report-ID
    // byte. The model sees report ID 0 in front, as a host writes it; the
    // answer is the model's reply without its report-ID byte (a reply of n
    // bytes sends n - 1), or nothing when this request goes unanswered.
    std::optional<Bytes> Answer(const std::uint8_t* data, std::size_t length);

    unsigned RequestsSeen() const;
    bool Leaving() const;

private:
    Ob310Model& model_;
    const unsigned silentRequest_;
    const unsigned leaveAt_;
    mutable std::mutex mutex_;
    unsigned requestsSeen_ = 0;
};

}  // namespace ob310
