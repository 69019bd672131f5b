#include "linux-vm/gadget_config_port.h"

#include <algorithm>

namespace ob310 {

ConfigPort::ConfigPort(Ob310Model& model, unsigned silentRequest, unsigned leaveAt)
    : model_(model), silentRequest_(silentRequest), leaveAt_(leaveAt) {}

std::optional<Bytes> ConfigPort::Answer(const std::uint8_t* data, std::size_t length) {
    std::lock_guard lock(mutex_);
    ++requestsSeen_;
    // A lost request: the device takes the report and acts as if it never came.
    if (requestsSeen_ == silentRequest_ || (leaveAt_ != 0 && requestsSeen_ >= leaveAt_)) {
        return std::nullopt;
    }

    Report request{};
    const std::size_t dataBytes = std::min(length, request.size() - 1);
    std::copy_n(data, dataBytes, request.begin() + 1);
    Report reply{};
    const std::size_t replyLength =
        std::min(model_.HandleReport(request.data(), dataBytes + 1, reply), reply.size());
    if (replyLength <= 1) {
        return Bytes{};
    }
    return Bytes(reply.begin() + 1, reply.begin() + static_cast<std::ptrdiff_t>(replyLength));
}

unsigned ConfigPort::RequestsSeen() const {
    std::lock_guard lock(mutex_);
    return requestsSeen_;
}

bool ConfigPort::Leaving() const {
    std::lock_guard lock(mutex_);
    return leaveAt_ != 0 && requestsSeen_ >= leaveAt_;
}

}  // namespace ob310
