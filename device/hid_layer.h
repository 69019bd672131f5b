// The small HID layer that discovery and the report exchange are written over.
//
// Every platform (Windows hid.dll/setupapi, Linux hidraw, the simulated OB310)
// implements this interface; nothing above it knows which one is in use.
// Handles are plain values; the DeviceInterfaceTable of a discovery owns the
// ones discovery opened for it and closes them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ob310 {

// A platform handle value. InvalidHidHandle has all bits set, like Windows'
// INVALID_HANDLE_VALUE.
using HidHandle = std::intptr_t;
inline constexpr HidHandle InvalidHidHandle = -1;

enum class HidAccess {
    ReadWrite,  // GENERIC_READ | GENERIC_WRITE
    QueryOnly,  // access 0: attributes, capabilities and strings only
};

enum class HidIoMode {
    Synchronous,  // output reports (WriteReport, bounded by its timeout) and queries
    Overlapped,   // reads are started, waited for with a timeout, cancelled
};

// The identity block of an open interface (HIDD_ATTRIBUTES).
struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
};

// The capabilities block of an open interface (HIDP_CAPS): report lengths in
// bytes, each counting the report-ID byte.
struct HidCaps {
    std::uint16_t usage = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint16_t numberLinkCollectionNodes = 0;
    std::uint16_t numberInputButtonCaps = 0;
    std::uint16_t numberInputValueCaps = 0;
    std::uint16_t numberInputDataIndices = 0;
    std::uint16_t numberOutputButtonCaps = 0;
    std::uint16_t numberOutputValueCaps = 0;
    std::uint16_t numberOutputDataIndices = 0;
    std::uint16_t numberFeatureButtonCaps = 0;
    std::uint16_t numberFeatureValueCaps = 0;
    std::uint16_t numberFeatureDataIndices = 0;
};

enum class HidWaitResult {
    Signalled,  // the read completed (with data or with an error)
    TimedOut,   // the time ran out with the read still pending
    Failed,     // the wait itself failed
};

// One timed read of one input report: the event and the control block of a
// single ReadInputReport call. Destroying it closes the event; the caller
// retires any read it started before that (Cancel, then Result with wait).
class HidReader {
public:
    virtual ~HidReader() = default;
    // Starts a read of `length` bytes into `buffer`. The buffer must stay valid
    // until the read is retired. The immediate outcome is not reported: a read
    // that cannot start simply never signals.
    virtual void Start(std::uint8_t* buffer, std::uint32_t length) = 0;
    virtual HidWaitResult Wait(std::uint32_t timeoutMs) = 0;
    // Cancels the reads pending on the handle (CancelIo).
    virtual void Cancel() = 0;
    // The outcome of the last started read (GetOverlappedResult). With `wait`
    // it blocks until that read is finished; without it, it reports at once.
    // Returns false when the read failed or (without wait) is still pending;
    // `bytes` is what it transferred. A read that never started gives false
    // and 0 bytes immediately.
    virtual bool Result(bool wait, std::uint32_t& bytes) = 0;
};

class HidLayer {
public:
    virtual ~HidLayer() = default;

    // Paths of the HID interfaces present now, in the platform's order. An
    // empty list when the list cannot be had.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;

    // InvalidHidHandle when the path cannot be opened with that access.
    virtual HidHandle Open(const std::string& path, HidAccess access, HidIoMode mode) = 0;

    // Whether a read-write open of the interface at `path` is refused because
    // this process lacks the rights to it (Linux: a hidraw node that no udev
    // rule opened to the user). False where such a refusal is the normal
    // state: Windows refuses read-write access to every keyboard and mouse.
    virtual bool ReportsDenied(const std::string& /*path*/) { return false; }

    virtual void Close(HidHandle handle) = 0;

    virtual bool ReadAttributes(HidHandle handle, HidAttributes& attributes) = 0;
    virtual bool ReadCaps(HidHandle handle, HidCaps& caps) = 0;
    // Copies the product string (UTF-16, NUL-terminated when it fits) into
    // `buffer` of `bufferBytes` bytes, like HidD_GetProductString.
    virtual bool ReadProductString(HidHandle handle, char16_t* buffer,
                                   std::uint32_t bufferBytes) = 0;

    // One output-report write that waits at most `timeoutMs` for the device
    // to take the report. The number of bytes written; 0 on failure and when
    // the time ran out, in which case the write has been cancelled and retired
    // (it can no longer deliver anything) before this returns.
    virtual std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data,
                                      std::uint32_t length, std::uint32_t timeoutMs) = 0;

    // Discards the input reports already waiting on the interface behind
    // `readHandle` without waiting for more (HidD_FlushQueue). A reply that
    // came after its request gave up must not be read as the next one's.
    virtual void FlushInput(HidHandle readHandle) = 0;

    // A reader for timed reads on an overlapped handle; nullptr when its event
    // cannot be created.
    virtual std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) = 0;
};

// The HID layer of the platform the tool was built for (Windows or Linux).
std::unique_ptr<HidLayer> CreatePlatformHidLayer();

}  // namespace ob310
