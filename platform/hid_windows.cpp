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
// after windows.h, whose types it uses
#include <setupapi.h>

// The HID headers of mingw-w64 declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <memory>
#include <string>
#include <vector>

#include "device/hid_layer.h"
#include "output/native_text.h"

namespace ob310 {

namespace {

HANDLE ToWin(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }
HidHandle FromWin(HANDLE handle) { return reinterpret_cast<HidHandle>(handle); }

// One overlapped read at a time on one handle, with its own event.
class OverlappedReader final : public HidReader {
public:
    OverlappedReader(HANDLE handle, HANDLE event) : handle_(handle), event_(event) {}

    ~OverlappedReader() override {
        // The kernel writes into overlapped_ (and the buffer) when a read
        // completes; never let that happen after they are gone.
        Retire();
        CloseHandle(event_);
    }

    void Start(std::uint8_t* buffer, std::uint32_t length) override {
        Retire();  // the control block must not be reused while a read is in flight
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
        // A read that completes at once still sets the event. A read that
        // fails to start (invalid handle, no read access) leaves the event
        // unsignalled, so its waits run out; no result may be asked of it.
        if (ReadFile(handle_, buffer, length, nullptr, &overlapped_)) {
            started_ = true;
        } else {
            started_ = GetLastError() == ERROR_IO_PENDING;
        }
    }

    HidWaitResult Wait(std::uint32_t timeoutMs) override {
        switch (WaitForSingleObject(event_, timeoutMs)) {
        case WAIT_OBJECT_0: return HidWaitResult::Signalled;
        case WAIT_TIMEOUT: return HidWaitResult::TimedOut;
        default: return HidWaitResult::Failed;
        }
    }

    // Cancels the reads this thread issued on the handle. The read is only
    // retired once GetOverlappedResult(..., TRUE) has returned: until then the
    // kernel may still complete it into the buffer. If that returns TRUE, the
    // read had completed with data before the cancel took effect.
    void Cancel() override { CancelIo(handle_); }

    bool Result(bool wait, std::uint32_t& bytes) override {
        bytes = 0;
        // GetOverlappedResult on a control block that no read is using would
        // wait for an event that never comes.
        if (!started_) {
            return false;
        }
        DWORD transferred = 0;
        const BOOL ok =
            GetOverlappedResult(handle_, &overlapped_, &transferred, wait ? TRUE : FALSE);
        bytes = transferred;
        return ok != FALSE;
    }

private:
    // Waits out a read that is still in flight, cancelling it first.
    void Retire() {
        if (!started_) {
            return;
        }
        DWORD transferred = 0;
        if (!GetOverlappedResult(handle_, &overlapped_, &transferred, FALSE) &&
            GetLastError() == ERROR_IO_INCOMPLETE) {
            CancelIo(handle_);
            GetOverlappedResult(handle_, &overlapped_, &transferred, TRUE);
        }
    }

    HANDLE handle_;
    HANDLE event_;
    OVERLAPPED overlapped_{};
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
        return true;
    }

    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        return HidD_GetProductString(ToWin(handle), buffer, bufferBytes) != FALSE;
    }

    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t timeoutMs) override {
        // Manual reset: GetOverlappedResult waits on it when it must.
        const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            return 0;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        const HANDLE file = ToWin(handle);
        DWORD written = 0;
        bool ok = WriteFile(file, data, length, nullptr, &overlapped) != FALSE;
        if (ok || GetLastError() == ERROR_IO_PENDING) {
            // Out of time: cancel, then retire the write before `overlapped`
            // goes. A write that finished before the cancel took effect has
            // delivered its report and counts.
            if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) {
                CancelIo(file);
            }
            ok = GetOverlappedResult(file, &overlapped, &written, TRUE) != FALSE;
        }
        CloseHandle(event);
        return ok ? written : 0;
    }

    // The HID class driver keeps a queue of input reports for each handle;
    // reads take from the read handle's, so that is the one to empty.
    void FlushInput(HidHandle readHandle) override { HidD_FlushQueue(ToWin(readHandle)); }

    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override {
        // Automatic reset, not signalled, unnamed.
        const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr) {
            return nullptr;
        }
        return std::make_unique<OverlappedReader>(ToWin(readHandle), event);
    }
};

}  // namespace

std::unique_ptr<HidLayer> CreatePlatformHidLayer() { return std::make_unique<WindowsHidLayer>(); }

}  // namespace ob310
