// The Windows HID layer on the real hid.dll, setupapi.dll and kernel32.dll.
// The HID interfaces present are whatever the system has (none of them an
// OB310); the timed read is driven over a named pipe, whose overlapped reads
// behave like a HID read handle's.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/hid_layer.h"

namespace {

// The number of handles this process holds, from the system's handle table
// (GetProcessHandleCount always gives 0 under Wine).
std::size_t HandleCount() {
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handleValue;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG handleAttributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG SystemExtendedHandleInformation = 64;
    constexpr LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        ADD_FAILURE() << "NtQuerySystemInformation missing";
        return 0;
    }
    for (ULONG size = 1u << 16; size <= 1u << 26; size *= 2) {
        std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR));
        ULONG needed = 0;
        const LONG status = query(SystemExtendedHandleInformation, buffer.data(), size, &needed);
        if (status == InfoLengthMismatch) continue;
        if (status != 0) break;
        const auto* table = reinterpret_cast<const Table*>(buffer.data());
        std::size_t count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            if (table->entries[i].processId == GetCurrentProcessId()) ++count;
        return count;
    }
    ADD_FAILURE() << "system handle table unreadable";
    return 0;
}

// Each interface present answers through a query-only handle, and closing it
// gives its handle back. (Counts are compared with nothing printed in between:
// console output may open handles of its own.)
TEST(WindowsHidLayer, PresentInterfacesAnswerQueriesAndCloseCleanly) {
    const auto hid = CreatePlatformHidLayer();
    const std::size_t beforeList = HandleCount();
    const std::vector<std::string> paths = hid->EnumerateInterfaces();
    EXPECT_EQ(HandleCount(), beforeList);  // the interface list is released

    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::size_t before = HandleCount();
        const HidHandle handle = hid->Open(path, HidAccess::QueryOnly, HidIoMode::Synchronous);
        const std::size_t whileOpen = HandleCount();
        HidAttributes attributes{};
        const bool attributesRead = hid->ReadAttributes(handle, attributes);
        HidCaps caps{};
        const bool capsRead = hid->ReadCaps(handle, caps);
        std::array<char16_t, ProductStringBufferChars> buffer{};
        hid->ReadProductString(handle, buffer.data(), ProductStringLengthGiven);
        hid->Close(handle);
        const std::size_t after = HandleCount();

        ASSERT_NE(handle, InvalidHidHandle);
        EXPECT_EQ(whileOpen, before + 1);
        EXPECT_EQ(after, before);
        ASSERT_TRUE(attributesRead);
        EXPECT_FALSE(attributes.vendorId == DeviceVendorId && attributes.productId == DeviceProductId);
        ASSERT_TRUE(capsRead);
        EXPECT_GT(caps.inputReportByteLength, 0);
    }
}

// Discovery on the real services: the interfaces present are not an OB310's,
// so nothing is found, no record is filled and every probe handle is closed.
TEST(WindowsHidLayer, DiscoveryFindsNoDeviceAndLeavesNoHandleOpen) {
    const auto hid = CreatePlatformHidLayer();
    DeviceInterfaceTable table;
    table.hid = hid.get();
    const std::size_t before = HandleCount();
    const int devices = DiscoverDevices(table);
    const std::size_t after = HandleCount();
    EXPECT_EQ(devices, 0);
    EXPECT_EQ(after, before);
    for (const DeviceInterface& record : table.records) {
        EXPECT_EQ(record.readHandle, InvalidHidHandle);
        EXPECT_EQ(record.writeHandle, InvalidHidHandle);
        EXPECT_TRUE(record.productString.empty());
    }
}

// A read that cannot start never signals, and asking its result never blocks.
TEST(WindowsHidLayer, ReadOnInvalidHandleNeverSignals) {
    const auto hid = CreatePlatformHidLayer();
    const std::size_t before = HandleCount();
    {
        const auto reader = hid->CreateReader(InvalidHidHandle);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(HandleCount(), before + 1);  // its event
        std::array<std::uint8_t, 65> buffer{};
        reader->Start(buffer.data(), 65);
        EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
        reader->Cancel();
        std::uint32_t bytes = 1234;
        EXPECT_FALSE(reader->Result(true, bytes));
        EXPECT_EQ(bytes, 0u);
    }
    EXPECT_EQ(HandleCount(), before);  // the event is closed with the reader
}

// A message pipe: the server end is overlapped and plays the read handle, the
// client end is synchronous and plays the device.
class PipeReadTest : public testing::Test {
protected:
    void SetUp() override {
        const std::wstring name = L"\\\\.\\pipe\\hid-layer-test-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++serial);
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        CloseHandle(client);
        CloseHandle(server);
    }

    HidHandle ReadHandle() const { return reinterpret_cast<HidHandle>(server); }

    // The device sends a report: through the layer's synchronous write.
    void Send(const std::vector<std::uint8_t>& bytes) {
        EXPECT_EQ(hid->WriteReport(reinterpret_cast<HidHandle>(client), bytes.data(),
                                   static_cast<std::uint32_t>(bytes.size()), 5000),
                  bytes.size());
    }

    static inline int serial = 0;
    std::unique_ptr<HidLayer> hid = CreatePlatformHidLayer();
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
};

std::vector<std::uint8_t> Report(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

TEST_F(PipeReadTest, ReadOfWaitingReportSignalsAtOnce) {
    Send(Report(0, 65));
    const auto reader = hid->CreateReader(ReadHandle());
    std::array<std::uint8_t, 65> buffer{};
    reader->Start(buffer.data(), 65);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    std::uint32_t bytes = 0;
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, 65u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.end()), Report(0, 65));
}

// The no-reply path: time out, cancel, retire. The retired read takes nothing,
// so the report sent afterwards is the next read's, whole.
TEST_F(PipeReadTest, CancelledReadIsRetiredAndTakesNothing) {
    const std::size_t before = HandleCount();
    const auto reader = hid->CreateReader(ReadHandle());
    std::array<std::uint8_t, 65> buffer{};
    reader->Start(buffer.data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    std::uint32_t bytes = 1234;
    EXPECT_FALSE(reader->Result(false, bytes));  // still pending
    reader->Cancel();
    EXPECT_FALSE(reader->Result(true, bytes));  // aborted
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(bytes, 0u);

    Send(Report(0x80, 65));
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));
    reader->Start(buffer.data(), 65);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, 65u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.end()), Report(0x80, 65));
    EXPECT_EQ(HandleCount(), before + 1);  // only the reader's event
}

// A reader destroyed with its read in flight retires it first: the report
// sent afterwards lands in no buffer and is still there for the next reader.
TEST_F(PipeReadTest, ReaderDestroyedWithReadPendingRetiresIt) {
    auto buffer = std::make_unique<std::array<std::uint8_t, 65>>();
    {
        const auto reader = hid->CreateReader(ReadHandle());
        reader->Start(buffer->data(), 65);
        EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    }
    Send(Report(0x10, 65));
    EXPECT_EQ(*buffer, (std::array<std::uint8_t, 65>{}));

    const auto reader = hid->CreateReader(ReadHandle());
    reader->Start(buffer->data(), 65);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    std::uint32_t bytes = 0;
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, 65u);
}

}  // namespace
