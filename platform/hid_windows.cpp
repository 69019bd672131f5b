// The HID layer over Windows' HID class driver: hid.dll for attributes,
// capabilities and strings, setupapi.dll to enumerate the interfaces,
// kernel32.dll for handles, report I/O and the timed read.
//
// Windows presents one HID device interface per top-level collection; each has
// its own path (composite devices' paths carry "&mi_NN", several collections
// "&col_NN") and its own report lengths. For an interface of a composite USB
// device, HidD_GetProductString gives that interface's iInterface string: the
// generic parent driver puts it in place of the device's iProduct.
#include <windows.h>
// after windows.h, whose types they use
#include <setupapi.h>
#include <winioctl.h>

// The HID headers of mingw-w64 declare their functions without C linkage.
extern "C" {
#include <hidclass.h>
#include <hidsdi.h>
}

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_layer.h"
#include "output/native_text.h"

namespace ob310 {

namespace {

// A read buffer may be longer than the report: the class driver fills in
// whole reports. This one holds any HID report (hidraw's limit too).
constexpr DWORD DrainBufferBytes = 16384;
// The most input reports a handle's queue holds (HidD_SetNumInputBuffers).
constexpr int MaxQueuedReports = 512;

HANDLE ToWin(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HidHandle FromWin(HANDLE handle) { return reinterpret_cast<HidHandle>(handle); }

// One read on a handle: its control block, event and buffer. A read lands in
// the slot's buffer and is copied out, so that it may outlive the reader it
// is for.
struct ReadSlot {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;  // automatic reset
    std::vector<std::uint8_t> buffer;
    bool inFlight = false;  // started and not yet known to be finished
};

// An unnamed event, not signalled, made once.
bool MakeEvent(HANDLE& event, BOOL manualReset) {
    if (event == nullptr) {
        event = CreateEventW(nullptr, manualReset, FALSE, nullptr);
    }
    return event != nullptr;
}

// What the layer keeps for one handle from its first use to its close, so
// that an exchange does not pay for it again: under Wine each HID query is a
// round trip to the driver's process, and each event a call to its server.
// The capabilities (an open handle's collection does not change), the events
// and the reads: reads left pending ("parked") for the next readers to take
// over, oldest first (see FlushInput).
struct HandleState {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool capsKnown = false;
    HidCaps caps{};
    HANDLE writeEvent = nullptr;  // manual reset: GetOverlappedResult waits on it
    std::array<ReadSlot, 2> slots;
    std::vector<int> parked;  // slots, in the order their reads started

    ~HandleState() {
        // The kernel writes into the control blocks and the buffers when a
        // read completes; never let that happen after they are gone.
        RetireAll();
        for (const HANDLE event : {slots[0].event, slots[1].event, writeEvent}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }

    // The reads' events and buffers, made at the first read.
    bool ReadyToRead() {
        for (ReadSlot& slot : slots) {
            if (!MakeEvent(slot.event, FALSE)) {
                return false;
            }
            slot.buffer.resize(DrainBufferBytes);
        }
        return true;
    }

    // Starts a read of `length` bytes. One that completes at once still sets
    // the event; one that fails to start leaves it unsignalled and nothing
    // in flight.
    void StartRead(ReadSlot& slot, DWORD length) {
        slot.overlapped = OVERLAPPED{};
        slot.overlapped.hEvent = slot.event;
        slot.inFlight =
            ReadFile(handle, slot.buffer.data(), length, nullptr, &slot.overlapped) != FALSE ||
            GetLastError() == ERROR_IO_PENDING;
    }

    // GetOverlappedResult on a read in flight; a read found finished is no
    // longer in flight. False also when, without `wait`, it is still pending.
    bool Finish(ReadSlot& slot, bool wait, DWORD& bytes) {
        bytes = 0;
        const BOOL ok = GetOverlappedResult(handle, &slot.overlapped, &bytes, wait ? TRUE : FALSE);
        if (ok || GetLastError() != ERROR_IO_INCOMPLETE) {
            slot.inFlight = false;
        }
        return ok != FALSE;
    }

    // Whether the read is still pending as far as this thread can know. The
    // zero wait on its event is a call to Wine's server, which first hands
    // this thread the completions queued for it (a read's buffer and status
    // are filled in by the thread itself, in the order the driver finished
    // them); without such a call a finished read looks pending.
    bool StillPending(ReadSlot& slot) {
        DWORD bytes = 0;
        WaitForSingleObject(slot.event, 0);
        return !Finish(slot, false, bytes) && slot.inFlight;
    }

    // Parks a read in a free slot. False when none is free or the read cannot
    // start.
    bool Park() {
        for (std::size_t index = 0; index < slots.size(); ++index) {
            if (!slots[index].inFlight) {
                StartRead(slots[index], DrainBufferBytes);
                if (!slots[index].inFlight) {
                    return false;
                }
                parked.push_back(static_cast<int>(index));
                return true;
            }
        }
        return false;
    }

    // Waits out every read still in flight, cancelling them first; a read
    // that finished before the cancel took effect is dropped.
    void RetireAll() {
        DWORD bytes = 0;
        bool pending = false;
        for (ReadSlot& slot : slots) {
            pending = (slot.inFlight && !Finish(slot, false, bytes) && slot.inFlight) || pending;
        }
        if (pending) {
            CancelIo(handle);
        }
        for (ReadSlot& slot : slots) {
            if (slot.inFlight) {
                Finish(slot, true, bytes);
            }
        }
        parked.clear();
    }
};

// One timed read at a time on one handle, through the handle's state. A read
// takes over the oldest parked read, if there is one.
class OverlappedReader final : public HidReader {
public:
    explicit OverlappedReader(HandleState& state) : state_(state) {}

    ~OverlappedReader() override {
        // The read must not be left to a later reader's slot.
        if (started_ && Slot().inFlight) {
            state_.RetireAll();
        }
    }

    void Start(std::uint8_t* buffer, std::uint32_t length) override {
        target_ = buffer;
        length_ = length;
        if (!state_.parked.empty()) {
            slot_ = state_.parked.front();
            state_.parked.erase(state_.parked.begin());
            started_ = true;
            return;
        }
        // Reads cancelled after a timeout end before a slot is used again.
        state_.RetireAll();
        slot_ = 0;
        state_.StartRead(Slot(), length);
        // A read that failed to start: no result may be asked of it.
        started_ = Slot().inFlight;
    }

    HidWaitResult Wait(std::uint32_t timeoutMs) override {
        switch (WaitForSingleObject(Slot().event, timeoutMs)) {
        case WAIT_OBJECT_0: return HidWaitResult::Signalled;
        case WAIT_TIMEOUT: return HidWaitResult::TimedOut;
        default: return HidWaitResult::Failed;
        }
    }

    // Cancels the reads this thread issued on the handle, the parked ones
    // too, which no reader may take over then. The read is only retired once
    // GetOverlappedResult(..., TRUE) has returned: until then the kernel may
    // still complete it. If that returns TRUE, the read had completed with
    // data before the cancel took effect.
    void Cancel() override {
        CancelIo(state_.handle);
        state_.parked.clear();
    }

    bool Result(bool wait, std::uint32_t& bytes) override {
        bytes = 0;
        // GetOverlappedResult on a control block that no read is using would
        // wait for an event that never comes.
        if (!started_) {
            return false;
        }
        DWORD transferred = 0;
        const bool ok = state_.Finish(Slot(), wait, transferred);
        // The first report in the buffer is the reply.
        bytes = std::min<DWORD>(transferred, length_);
        std::copy_n(Slot().buffer.begin(), bytes, target_);
        return ok;
    }

private:
    ReadSlot& Slot() { return state_.slots[static_cast<std::size_t>(slot_)]; }

    HandleState& state_;
    std::uint8_t* target_ = nullptr;
    std::uint32_t length_ = 0;
    int slot_ = 0;
    bool started_ = false;
};

class WindowsHidLayer final : public HidLayer {
public:
    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> paths;
        GUID hidClass;
        HidD_GetHidGuid(&hidClass);
        const HDEVINFO list = SetupDiGetClassDevsW(&hidClass, nullptr, nullptr,
                                                   DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (list == INVALID_HANDLE_VALUE) {
            return paths;
        }

        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof interfaceData;
            if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidClass, index, &interfaceData)) {
                break;
            }

            // The first call fails with ERROR_INSUFFICIENT_BUFFER and gives the size.
            DWORD required = 0;
            SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, nullptr, 0, &required, nullptr);
            if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
                continue;
            }
            // DWORD elements keep the block aligned for its cbSize field.
            std::vector<DWORD> block((required + sizeof(DWORD) - 1) / sizeof(DWORD));
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(block.data());
            // cbSize is the size of the fixed part: 8 on 64-bit Windows, 6 on
            // 32-bit (packed), not the size of the whole block.
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (!SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detail, required, nullptr,
                                                  nullptr)) {
                continue;
            }
            paths.push_back(Utf8FromWide(detail->DevicePath));
        }
        SetupDiDestroyDeviceInfoList(list);
        return paths;
    }

    HidHandle Open(const std::string& path, HidAccess access, HidIoMode /*mode*/) override {
        const std::wstring widePath = WideFromUtf8(path);
        if (widePath.empty()) {
            return InvalidHidHandle;
        }
        // Access 0 opens even interfaces that the system holds exclusively
        // (keyboards, mice): enough for attributes, capabilities and strings.
        const DWORD desired = access == HidAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : 0;
        // Every handle is overlapped, the synchronous kind included: a plain
        // WriteFile to a device that stops taking reports never returns, so
        // WriteReport waits for its write itself, with a time limit. The
        // HidD_ queries are control requests that the HID class driver
        // completes at once; they work on overlapped handles alike.
        const HANDLE handle =
            CreateFileW(widePath.c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        return FromWin(handle);  // INVALID_HANDLE_VALUE is InvalidHidHandle
    }

    void Close(HidHandle handle) override {
        // The state first: its read must be retired while the handle is open.
        states_.erase(ToWin(handle));
        if (handle != InvalidHidHandle) {
            CloseHandle(ToWin(handle));
        }
    }

    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override {
        HIDD_ATTRIBUTES block{};
        block.Size = sizeof block;
        if (!HidD_GetAttributes(ToWin(handle), &block)) {
            return false;
        }
        attributes.vendorId = block.VendorID;
        attributes.productId = block.ProductID;
        attributes.versionNumber = block.VersionNumber;
        return true;
    }

    bool ReadCaps(HidHandle handle, HidCaps& caps) override {
        HandleState& state = StateOf(ToWin(handle));
        if (state.capsKnown) {
            caps = state.caps;
            return true;
        }
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!HidD_GetPreparsedData(ToWin(handle), &preparsed)) {
            return false;
        }
        HIDP_CAPS block{};
        const NTSTATUS status = HidP_GetCaps(preparsed, &block);
        HidD_FreePreparsedData(preparsed);
        if (status != HIDP_STATUS_SUCCESS) {
            return false;
        }
        caps.usage = block.Usage;
        caps.usagePage = block.UsagePage;
        caps.inputReportByteLength = block.InputReportByteLength;
        caps.outputReportByteLength = block.OutputReportByteLength;
        caps.featureReportByteLength = block.FeatureReportByteLength;
        caps.numberLinkCollectionNodes = block.NumberLinkCollectionNodes;
        caps.numberInputButtonCaps = block.NumberInputButtonCaps;
        caps.numberInputValueCaps = block.NumberInputValueCaps;
        caps.numberInputDataIndices = block.NumberInputDataIndices;
        caps.numberOutputButtonCaps = block.NumberOutputButtonCaps;
        caps.numberOutputValueCaps = block.NumberOutputValueCaps;
        caps.numberOutputDataIndices = block.NumberOutputDataIndices;
        caps.numberFeatureButtonCaps = block.NumberFeatureButtonCaps;
        caps.numberFeatureValueCaps = block.NumberFeatureValueCaps;
        caps.numberFeatureDataIndices = block.NumberFeatureDataIndices;
        state.caps = caps;
        state.capsKnown = true;
        return true;
    }

    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        return HidD_GetProductString(ToWin(handle), buffer, bufferBytes) != FALSE;
    }

    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t timeoutMs) override {
        HandleState& state = StateOf(ToWin(handle));
        if (!MakeEvent(state.writeEvent, TRUE)) {
            return 0;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = state.writeEvent;
        const HANDLE file = state.handle;
        DWORD written = 0;
        bool ok = WriteFile(file, data, length, nullptr, &overlapped) != FALSE;
        if (ok || GetLastError() == ERROR_IO_PENDING) {
            // Out of time: cancel, then retire the write before `overlapped`
            // goes. A write that finished before the cancel took effect has
            // delivered its report and counts.
            if (WaitForSingleObject(state.writeEvent, timeoutMs) != WAIT_OBJECT_0) {
                CancelIo(file);
            }
            ok = GetOverlappedResult(file, &overlapped, &written, TRUE) != FALSE;
        }
        return ok ? written : 0;
    }

    // The HID class driver keeps a queue of input reports for each handle;
    // reads take from the read handle's, so that is the one to empty.
    // HidD_FlushQueue does nothing under Wine (8.0 has no case for its
    // IOCTL), so the reports still queued are read away. The read that finds
    // the queue empty is not cancelled (a cancel is another round trip under
    // Wine) but parked for the request's reader, and one more is parked
    // behind it for the next request, so that it reaches the driver while
    // this request's reply is awaited: reports go to the oldest read first.
    // A parked read that has taken a report by the next flush took one that
    // came before its request (a late or doubled reply) and is dropped.
    //
    // Under Wine a read reaches the driver in another process, and its
    // completion comes back through Wine's server: a read still pending is
    // known to have found nothing only once a request sent after it has been
    // answered, as Wine delivers the completions of one thread's requests in
    // the order the driver finished them. HidD_FlushQueue's request is that
    // barrier (on Windows, where the driver serves a read before ReadFile
    // returns, it empties the queue). Sent at each flush, not earlier, it
    // also gives a doubled reply that the device sent right after the reply
    // the time to arrive: a barrier sent with the parked read was answered
    // before such a report came, and the report was taken as the next reply.
    void FlushInput(HidHandle readHandle) override {
        HandleState& state = StateOf(ToWin(readHandle));
        if (!state.ReadyToRead()) {
            return;
        }
        if (!state.parked.empty()) {
            HidD_FlushQueue(state.handle);
        }
        while (!state.parked.empty()) {
            if (state.StillPending(state.slots[static_cast<std::size_t>(state.parked.front())])) {
                break;
            }
            state.parked.erase(state.parked.begin());
        }
        if (state.parked.empty()) {
            state.RetireAll();  // reads cancelled by a reader that gave up
        }
        for (int read = 0; state.parked.empty() && read < MaxQueuedReports; ++read) {
            if (!state.Park()) {
                return;  // nothing to read from
            }
            HidD_FlushQueue(state.handle);
            if (!state.StillPending(state.slots[static_cast<std::size_t>(state.parked.front())])) {
                state.parked.clear();
            }
        }
        if (state.parked.size() == 1) {
            state.Park();
        }
    }

    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override {
        HandleState& state = StateOf(ToWin(readHandle));
        if (!state.ReadyToRead()) {
            return nullptr;
        }
        return std::make_unique<OverlappedReader>(state);
    }

private:
    // The state of `handle`, made at its first use (the invalid handle's
    // too: through it nothing starts, and a read never signals).
    HandleState& StateOf(HANDLE handle) {
        std::unique_ptr<HandleState>& state = states_[handle];
        if (!state) {
            state = std::make_unique<HandleState>();
            state->handle = handle;
        }
        return *state;
    }

    // By handle. Destroyed before the handles they belong to are closed
    // (Close), or with the layer.
    std::map<HANDLE, std::unique_ptr<HandleState>> states_;
};
}  // namespace

std::unique_ptr<HidLayer> CreatePlatformHidLayer() { return std::make_unique<WindowsHidLayer>(); }

}  // namespace ob310
