// The Windows HID layer on the real hid.dll, setupapi.dll and kernel32.dll.
// The HID interfaces present are whatever the system has (none of them an
// OB310, none sending input reports under Wine); the timed read and the
// bounded write are driven over a named pipe, whose overlapped reads and
// writes behave like those on a HID interface's handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "device/discovery.h"
#include "device/hid_layer.h"

namespace ob310 {
namespace {

// The number of handles this process holds, from the system's handle table
// (GetProcessHandleCount always gives 0 under Wine).
std::size_t HandleCount() {
    struct Entry {
        void* object;
        ULONG_PTR processId, handleValue;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex, objectTypeIndex;
        ULONG handleAttributes, reserved;
    };
    struct Table {
        ULONG_PTR count, reserved;
        Entry entries[1];
    };
    using Query = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    for (ULONG size = 1u << 16; query != nullptr && size <= 1u << 26; size *= 2) {
        std::vector<ULONG_PTR> buffer(size / sizeof(ULONG_PTR));
        ULONG needed = 0;
        const LONG status =
            query(64 /* SystemExtendedHandleInformation */, buffer.data(), size, &needed);
        if (status == static_cast<LONG>(0xC0000004))
            continue;  // STATUS_INFO_LENGTH_MISMATCH
        if (status != 0)
            break;
        const auto* table = reinterpret_cast<const Table*>(buffer.data());
        std::size_t count = 0;
        for (ULONG_PTR i = 0; i < table->count; ++i)
            count += table->entries[i].processId == GetCurrentProcessId();
        return count;
    }
    ADD_FAILURE() << "system handle table unreadable";
    return 0;
}

// Each interface present answers queries through a query-only handle (opened
// overlapped, as every handle is), takes a flush, and closing it gives its
// handle back. Through the invalid handle a read never signals, asking its
// result never blocks, a write delivers nothing, and no event outlives the
// layer.
// (Counts are compared with nothing printed in between: console output may
// open handles of its own.)
TEST(WindowsHidLayer, PresentInterfacesAnswerQueriesAndInvalidHandleTransfersNothing) {
    auto hid = CreatePlatformHidLayer();
    const std::size_t beforeList = HandleCount();
    const std::vector<std::string> paths = hid->EnumerateInterfaces();
    EXPECT_EQ(HandleCount(), beforeList);  // the interface list is released

    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const std::size_t before = HandleCount();
        const HidHandle handle = hid->Open(path, HidAccess::QueryOnly, HidIoMode::Synchronous);
        HidAttributes attributes{};
        HidCaps caps{};
        std::array<char16_t, ProductStringBufferChars> buffer{};
        EXPECT_TRUE(hid->ReadAttributes(handle, attributes));
        EXPECT_TRUE(hid->ReadCaps(handle, caps));
        EXPECT_TRUE(hid->ReadProductString(handle, buffer.data(), ProductStringLengthGiven));
        hid->FlushInput(handle);
        hid->Close(handle);
        EXPECT_EQ(HandleCount(), before);
        EXPECT_NE(attributes.productId, DeviceProductId);
        EXPECT_GT(caps.inputReportByteLength, 0);
    }

    const std::size_t before = HandleCount();
    std::array<std::uint8_t, 65> buffer{};
    std::uint32_t bytes = 1234;
    EXPECT_EQ(hid->WriteReport(InvalidHidHandle, buffer.data(), 65, 5000), 0u);
    hid->FlushInput(InvalidHidHandle);
    auto reader = hid->CreateReader(InvalidHidHandle);
    reader->Start(buffer.data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    reader->Cancel();
    EXPECT_FALSE(reader->Result(true, bytes));
    EXPECT_EQ(bytes, 0u);
    reader.reset();
    hid.reset();
    EXPECT_EQ(HandleCount(), before);
}

// A message pipe, both ends overlapped: the server end plays the read handle,
// the client end the write handle. With no buffer, a write pends until the
// server reads, like a report the device does not take.
//
// A layer that failed to cancel a read or a write would block the test for
// ever; a watchdog disconnects the pipe after 10 s instead, which ends every
// pending transfer, and the test fails. A sound layer never waits for it.
class PipeTest : public testing::Test {
protected:
    PipeTest() {
        watchdog = std::thread([this] {
            if (WaitForSingleObject(done, 10000) == WAIT_TIMEOUT) {
                fired = true;
                DisconnectNamedPipe(server);
            }
        });
    }
    ~PipeTest() override {
        SetEvent(done);
        watchdog.join();
        CloseHandle(done);
    }

    void Open(DWORD bufferBytes) {
        const std::wstring name = L"\\\\.\\pipe\\hid-layer-test-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++serial);
        server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, bufferBytes,
                                  bufferBytes, 0, nullptr);
        client = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
        reader = hid->CreateReader(reinterpret_cast<HidHandle>(server));
    }
    void SetUp() override { Open(4096); }
    void TearDown() override {
        EXPECT_FALSE(fired) << "a transfer never ended: the watchdog disconnected the pipe";
        reader.reset();
        hid->Close(reinterpret_cast<HidHandle>(client));
        hid->Close(reinterpret_cast<HidHandle>(server));
    }

    std::uint32_t Send(std::uint8_t first, std::uint32_t timeoutMs = 5000) {
        std::array<std::uint8_t, 65> report{};
        for (std::size_t i = 0; i < report.size(); ++i)
            report[i] = static_cast<std::uint8_t>(first + i);
        return hid->WriteReport(reinterpret_cast<HidHandle>(client), report.data(), 65, timeoutMs);
    }
    // Starts a read and waits 0 ms: the first byte of a report that was
    // waiting, or -1 when none was (the read then cancelled and retired).
    int ReadNow() {
        std::array<std::uint8_t, 65> buffer{};
        reader->Start(buffer.data(), 65);
        std::uint32_t bytes = 0;
        if (reader->Wait(0) == HidWaitResult::Signalled) {
            EXPECT_TRUE(reader->Result(false, bytes));
            EXPECT_EQ(bytes, 65u);
            EXPECT_EQ(buffer[64], static_cast<std::uint8_t>(buffer[0] + 64));
            return buffer[0];
        }
        EXPECT_FALSE(reader->Result(false, bytes));  // still pending
        reader->Cancel();
        EXPECT_FALSE(reader->Result(true, bytes));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));
        return -1;
    }

    static inline int serial = 0;
    std::unique_ptr<HidLayer> hid = CreatePlatformHidLayer();
    std::unique_ptr<HidReader> reader;
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> fired{false};
    std::thread watchdog;
};

// A waiting report is read at once; a read that times out is retired and
// takes nothing, so the report sent afterwards is the next read's, whole. A
// reader destroyed with its read in flight retires it first: the report sent
// afterwards lands in no buffer and is still there for the next reader.
// Reads and writes open no handle after the first.
TEST_F(PipeTest, ReadTakesWaitingReportAndRetiresWhatItGaveUp) {
    EXPECT_EQ(Send(0), 65u);
    const std::size_t before = HandleCount();
    EXPECT_EQ(ReadNow(), 0);
    EXPECT_EQ(ReadNow(), -1);
    EXPECT_EQ(Send(0x80), 65u);
    EXPECT_EQ(ReadNow(), 0x80);
    EXPECT_EQ(HandleCount(), before);

    std::array<std::uint8_t, 65> buffer{};
    reader->Start(buffer.data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    reader = hid->CreateReader(reinterpret_cast<HidHandle>(server));
    EXPECT_EQ(Send(0x10), 65u);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));
    EXPECT_EQ(ReadNow(), 0x10);
}

// The flush reads away every report waiting (HidD_FlushQueue does nothing on
// a pipe, nor under Wine on a HID handle), with nothing waiting it ends at
// once, and the read it leaves pending goes to the next reader: the report
// sent afterwards is the next read's, whole. A report that came after a
// reply (a doubled reply), taken by the read parked then, is dropped by the
// next flush. No handle stays open.
TEST_F(PipeTest, FlushReadsAwayEveryWaitingReport) {
    for (const std::uint8_t first : {0x10, 0x20, 0x30})
        EXPECT_EQ(Send(first), 65u);
    const std::size_t before = HandleCount();
    hid->FlushInput(reinterpret_cast<HidHandle>(server));
    EXPECT_EQ(ReadNow(), -1);
    hid->FlushInput(reinterpret_cast<HidHandle>(server));
    EXPECT_EQ(Send(0x40), 65u);
    EXPECT_EQ(ReadNow(), 0x40);
    EXPECT_EQ(Send(0x50), 65u);
    hid->FlushInput(reinterpret_cast<HidHandle>(server));
    EXPECT_EQ(ReadNow(), -1);
    EXPECT_EQ(HandleCount(), before);
}

// A report nobody takes: the write gives up when its time runs out, is
// cancelled and retired (it delivers nothing later) and opens no handle.
TEST_F(PipeTest, WriteNotTakenGivesUpAfterItsBound) {
    TearDown();
    Open(0);
    EXPECT_EQ(Send(0x10, 0), 0u);
    const std::size_t before = HandleCount();
    EXPECT_EQ(Send(0x20, 0), 0u);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(ReadNow(), -1);
}

}  // namespace
}  // namespace ob310
