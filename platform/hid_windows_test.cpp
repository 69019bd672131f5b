// The Windows HID layer on the real hid.dll, setupapi.dll and kernel32.dll.
// The HID interfaces present are whatever the system has (none of them an
// OB310, none sending input reports under Wine); the timed read and the
// bounded write are driven over a named pipe, whose overlapped reads and
// writes behave like those on a HID interface's handles.
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

// Each interface present answers queries through a query-only handle (opened
// overlapped, as every handle is), takes a flush, and closing it gives its
// handle back. (Counts are compared with nothing printed in between: console
// output may open handles of its own.)
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
        hid->FlushInput(handle);
        hid->Close(handle);

        ASSERT_NE(handle, InvalidHidHandle);
        EXPECT_EQ(whileOpen, before + 1);
        EXPECT_EQ(HandleCount(), before);
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
    EXPECT_EQ(DiscoverDevices(table), 0);
    EXPECT_EQ(HandleCount(), before);
    for (const DeviceInterface& record : table.records) {
        EXPECT_EQ(record.readHandle, InvalidHidHandle);
        EXPECT_EQ(record.writeHandle, InvalidHidHandle);
    }
}

// Through the invalid handle a read never signals, asking its result never
// blocks, a write delivers nothing, and no event is left behind.
TEST(WindowsHidLayer, InvalidHandleTransfersNothing) {
    const auto hid = CreatePlatformHidLayer();
    const std::size_t before = HandleCount();
    std::array<std::uint8_t, 65> buffer{};
    EXPECT_EQ(hid->WriteReport(InvalidHidHandle, buffer.data(), 65, 5000), 0u);
    hid->FlushInput(InvalidHidHandle);
    {
        const auto reader = hid->CreateReader(InvalidHidHandle);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(HandleCount(), before + 1);  // its event
        reader->Start(buffer.data(), 65);
        EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
        reader->Cancel();
        std::uint32_t bytes = 1234;
        EXPECT_FALSE(reader->Result(true, bytes));
        EXPECT_EQ(bytes, 0u);
    }
    EXPECT_EQ(HandleCount(), before);
}

// A message pipe, both ends overlapped: the server end plays the read handle,
// the client end the write handle. With no buffer, a write pends until the
// server reads, like a report the device does not take.
class PipeTest : public testing::Test {
protected:
    void Open(DWORD bufferBytes) {
        const std::wstring name = L"\\\\.\\pipe\\hid-layer-test-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(++serial);
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, bufferBytes, bufferBytes,
                                  0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        reader = hid->CreateReader(reinterpret_cast<HidHandle>(server));
    }
    void SetUp() override { Open(4096); }
    void TearDown() override {
        reader.reset();
        CloseHandle(client);
        CloseHandle(server);
    }

    std::uint32_t Send(const std::vector<std::uint8_t>& bytes, std::uint32_t timeoutMs = 5000) {
        return hid->WriteReport(reinterpret_cast<HidHandle>(client), bytes.data(),
                                static_cast<std::uint32_t>(bytes.size()), timeoutMs);
    }
    // Starts a read and waits 0 ms: the bytes of a report that was waiting,
    // or nothing (the read then cancelled and retired).
    std::vector<std::uint8_t> ReadNow() {
        std::array<std::uint8_t, 65> buffer{};
        reader->Start(buffer.data(), 65);
        std::uint32_t bytes = 0;
        if (reader->Wait(0) == HidWaitResult::Signalled) {
            EXPECT_TRUE(reader->Result(false, bytes));
        } else {
            EXPECT_FALSE(reader->Result(false, bytes));  // still pending
            reader->Cancel();
            EXPECT_FALSE(reader->Result(true, bytes));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
            EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));
        }
        return {buffer.begin(), buffer.begin() + bytes};
    }

    static inline int serial = 0;
    std::unique_ptr<HidLayer> hid = CreatePlatformHidLayer();
    std::unique_ptr<HidReader> reader;
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
};

std::vector<std::uint8_t> Report(std::uint8_t first) {
    std::vector<std::uint8_t> bytes(65);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

// A waiting report is read at once; a read that times out is retired and
// takes nothing, so the report sent afterwards is the next read's, whole.
TEST_F(PipeTest, ReadTakesWaitingReportAndRetiresOnTimeout) {
    const std::size_t before = HandleCount();
    EXPECT_EQ(Send(Report(0)), 65u);
    EXPECT_EQ(ReadNow(), Report(0));
    EXPECT_EQ(ReadNow(), std::vector<std::uint8_t>{});
    EXPECT_EQ(Send(Report(0x80)), 65u);
    EXPECT_EQ(ReadNow(), Report(0x80));
    EXPECT_EQ(HandleCount(), before);  // the writes' events are closed
}

// A reader destroyed with its read in flight retires it first: the report
// sent afterwards lands in no buffer and is still there for the next reader.
TEST_F(PipeTest, ReaderDestroyedWithReadPendingRetiresIt) {
    auto buffer = std::make_unique<std::array<std::uint8_t, 65>>();
    reader->Start(buffer->data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    reader = hid->CreateReader(reinterpret_cast<HidHandle>(server));
    EXPECT_EQ(Send(Report(0x10)), 65u);
    EXPECT_EQ(*buffer, (std::array<std::uint8_t, 65>{}));
    EXPECT_EQ(ReadNow(), Report(0x10));
}

// A report nobody takes: the write gives up when its time runs out, is
// cancelled and retired (it delivers nothing later) and leaves no event open.
TEST_F(PipeTest, WriteNotTakenGivesUpAfterItsBound) {
    TearDown();
    Open(0);
    const std::size_t before = HandleCount();
    EXPECT_EQ(Send(Report(0x20), 0), 0u);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(ReadNow(), std::vector<std::uint8_t>{});
}

}  // namespace
