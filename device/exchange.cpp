#include "device/exchange.h"

#include <algorithm>

namespace ob310 {

namespace {

// The output report length of the interface behind `handle`, at most the
// 65-byte buffer; 0 when it cannot be queried. Reads and writes both use it.
std::uint32_t ReportLength(HidLayer& hid, HidHandle handle) {
    HidCaps caps{};
    if (!hid.ReadCaps(handle, caps)) {
        return 0;
    }
    return std::min<std::uint32_t>(caps.outputReportByteLength, ReportBufferSize);
}

// Reads one input report into `buffer` with up to ReadAttempts waits of
// ReadTimeoutMs through the request's reader. Returns the bytes received, or 0.
int ReadInputReport(HidLayer& hid, HidReader& reader, HidHandle readHandle, std::uint8_t* buffer) {
    // A zero length (no capabilities) could never bring a reply back.
    const std::uint32_t length = ReportLength(hid, readHandle);
    if (length == 0) {
        return 0;
    }

    for (int attempt = 0; attempt < ReadAttempts; ++attempt) {
        reader.Start(buffer, length);
        const HidWaitResult waited = reader.Wait(ReadTimeoutMs);
        std::uint32_t bytes = 0;
        if (waited == HidWaitResult::Signalled) {
            reader.Result(false, bytes);
            return static_cast<int>(std::min(bytes, length));
        }
        // Retire the read before the buffer is used again or released: a
        // cancelled read may still complete, and a failed wait says nothing
        // about the read itself. CancelIo on a finished read does nothing, so
        // it is issued in both cases. A read that finished with data after all
        // is the reply.
        reader.Cancel();
        reader.Result(true, bytes);
        if (bytes > 0) {
            return static_cast<int>(std::min(bytes, length));
        }
    }
    return 0;
}

}  // namespace

int ExchangeReport(const DeviceInterfaceTable& table, const Report& request, Report& reply) {
    reply.fill(0);
    if (table.hid == nullptr) {
        return 0;
    }
    HidLayer& hid = *table.hid;
    const DeviceInterface& record =
        table.records[static_cast<std::size_t>(FindInterfaceByProduct(table, ConfigInterfaceName))];
    // The lookup gives record 0 when none of the first six is the
    // configuration interface. That is another interface of the device (on
    // Linux a writable keyboard), whose own input reports would come back as
    // "replies": nothing is sent.
    if (record.productString != ConfigInterfaceName) {
        return 0;
    }

    // The reader comes first: a request whose reply could not be waited for
    // is not sent, so no unread reply is left behind for the next request.
    const std::unique_ptr<HidReader> reader = hid.CreateReader(record.readHandle);
    if (!reader) {
        return 0;
    }
    const std::uint32_t length = ReportLength(hid, record.writeHandle);
    if (length == 0) {
        return 0;
    }
    // Input reports already waiting answer nothing of this request: a reply
    // that came after its own request gave up must not be read as this one's.
    hid.FlushInput(record.readHandle);
    // Any bytes written count: a HID write takes the whole report or fails,
    // so a part-written report does not occur.
    if (hid.WriteReport(record.writeHandle, request.data(), length, WriteTimeoutMs) == 0) {
        return 0;
    }
    return ReadInputReport(hid, *reader, record.readHandle, reply.data());
}

}  // namespace ob310
