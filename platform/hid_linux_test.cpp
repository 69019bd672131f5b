// The hidraw layer over a tree laid out like sysfs and /dev: class entries
// whose `device` links to a HID device directory (report_descriptor, uevent)
// below USB interface and device directories, and a FIFO as the device node,
// so that writes can be read back and reads can be fed.
#include "platform/hid_linux.h"

#include "tests/support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ob310 {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// One collection of 64-byte reports, no report IDs.
const Bytes VendorDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
                                0x08, 0x95, 0x40, 0x81, 0x02, 0x91, 0x02, 0xC0};
// Vendor (ID 1: 8 bytes in, 16 out) and consumer control (ID 2: 2 bytes in).
const Bytes TwoCollectionDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                                       0x75, 0x08, 0x95, 0x08, 0x81, 0x02, 0x95, 0x10, 0x91,
                                       0x02, 0xC0, 0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85,
                                       0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0};
const Bytes UnfinishedDescriptor = {0x09, 0x01, 0xA1, 0x01};
const std::string Ob310Id = "0003:00001209:0000B310";

Bytes Counting(std::uint8_t first, std::size_t count) {
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes.push_back(static_cast<std::uint8_t>(first + i));
    return bytes;
}

struct NodeSpec {
    std::string name;
    Bytes descriptor;
    std::string hidId;  // uevent HID_ID
    std::string hidName;
    std::string usbDevice;  // e.g. "usb1/1-2"; empty: not on USB (uhid)
    std::string interfaceNumber;
    std::optional<std::string> interfaceName;
    std::optional<std::string> bcdDevice;
    // 'f' a FIFO, '-' none (as without rights), 'd' a directory (cannot be opened)
    char deviceNode = 'f';
};

// Two OB310s whose nodes were numbered out of order, and a uhid device.
const std::vector<NodeSpec> Nodes = {
    {"hidraw2", TwoCollectionDescriptor, Ob310Id, "Ombrel OB310", "usb1/1-2", "00",
     "ConfigInterface", "1026"},
    {"hidraw10", VendorDescriptor, "0003:0000845E:00000001",
     "Virtual \xC3\x9C\xE2\x82\xAC\xF0\x9F\x98\x80 \xFF", "", "", std::nullopt, std::nullopt},
    {"hidraw3", UnfinishedDescriptor, "0005:0000004C:00000267", "Broken", "usb1/1-10", "0a",
     std::nullopt, std::nullopt},
    {"hidraw4", VendorDescriptor, Ob310Id, "Ombrel OB310", "usb1/1-10", "02", "KeyboardInterface",
     "0100", '-'},
    {"hidraw0", VendorDescriptor, Ob310Id, "Ombrel OB310", "usb1/1-2", "01", "LedInterface", "1026",
     'd'},
};

// Time moves only while a poll waits: to the time the device sends its report
// (`send`, at `sendAt`), if that comes before the poll's timeout, else by the
// whole timeout. The real poll then looks at the node without waiting.
class VirtualClock final : public HidrawClock {
public:
    std::chrono::steady_clock::time_point Now() override {
        return std::chrono::steady_clock::time_point(now);
    }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        asked.push_back(timeoutMs);
        now += std::chrono::milliseconds(timeoutMs);
        if (send && sendAt <= now) {
            now = sendAt;
            std::exchange(send, nullptr)();
        }
        return ::poll(fds, count, 0);
    }

    std::chrono::milliseconds now{0};
    std::vector<int> asked;  // the timeout of every poll
    std::chrono::milliseconds sendAt{0};
    std::function<void()> send;
};

class HidrawLayerTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root / "dev");
        for (const NodeSpec& node : Nodes) {
            const std::string usb = node.usbDevice;
            const fs::path hid =
                usb.empty()
                    ? root / "devices/virtual/misc/uhid" / (node.name + "hid")
                    : root / "devices" / usb /
                          (usb.substr(usb.rfind('/') + 1) + ":1." + node.interfaceNumber) / "hid";
            fs::create_directories(hid);
            Write(hid / "report_descriptor",
                  std::string(node.descriptor.begin(), node.descriptor.end()));
            Write(hid / "uevent",
                  "HID_ID=" + node.hidId + "\nHID_NAME=" + node.hidName + "\nHID_PHYS=usb\n");
            if (!usb.empty())
                Write(hid.parent_path() / "bInterfaceNumber", node.interfaceNumber + "\n");
            if (node.interfaceName)
                Write(hid.parent_path() / "interface", *node.interfaceName + "\n");
            if (node.bcdDevice)
                Write(hid.parent_path().parent_path() / "bcdDevice", *node.bcdDevice + "\n");
            fs::create_directories(root / "class" / node.name);
            fs::create_directory_symlink(hid, root / "class" / node.name / "device");
            if (node.deviceNode == 'f') {
                ASSERT_EQ(::mkfifo(Path(node.name).c_str(), 0600), 0);
            }
            if (node.deviceNode == 'd')
                fs::create_directory(Path(node.name));
        }
        hid = CreateHidrawLayer((root / "class").string(), (root / "dev").string(), clock);
    }

    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string Path(const std::string& suffix) const {
        return (root / "dev").string() + "/" + suffix;
    }
    HidHandle Open(const std::string& suffix, HidAccess access,
                   HidIoMode mode = HidIoMode::Overlapped) {
        return hid->Open(Path(suffix), access, mode);
    }
    // The device sends a report: it waits in the node's queue.
    void Feed(const std::string& node, const Bytes& bytes) const {
        const int fd = ::open(Path(node).c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }
    // What reached the device, up to 100 bytes.
    Bytes Sent(const std::string& node) const {
        const int fd = ::open(Path(node).c_str(), O_RDONLY | O_NONBLOCK);
        Bytes bytes(100);
        const ssize_t n = ::read(fd, bytes.data(), bytes.size());
        ::close(fd);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }
    // The descriptors this process holds open on a node.
    std::vector<int> FdsOn(const std::string& node) const {
        std::vector<int> fds;
        std::error_code error;
        for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd"))
            if (fs::read_symlink(fd, error) == fs::canonical(Path(node)))
                fds.push_back(std::stoi(fd.path().filename()));
        return fds;
    }
    // One read of at most `length` bytes that waits `timeoutMs`: how the wait
    // ended and the bytes read, nothing past which may land in the buffer.
    std::pair<HidWaitResult, Bytes> Read(HidHandle handle, std::uint32_t length = 65,
                                         std::uint32_t timeoutMs = 0) {
        Bytes buffer(65, 0xEE);
        const auto reader = hid->CreateReader(handle);
        reader->Start(buffer.data(), length);
        const HidWaitResult result = reader->Wait(timeoutMs);
        std::uint32_t bytes = 1234;
        const bool done = reader->Result(true, bytes);
        EXPECT_EQ(done, result == HidWaitResult::Signalled && bytes > 0);
        const auto end = buffer.begin() + std::min<std::uint32_t>(bytes, 65);
        EXPECT_EQ(Bytes(end, buffer.end()), Bytes(buffer.end() - end, 0xEE));
        return {result, Bytes(buffer.begin(), end)};
    }

    TempDir dir;
    const fs::path root = dir.Path();
    VirtualClock clock;
    std::unique_ptr<HidLayer> hid;
    const Bytes report = Counting(0, 65);
};

// Grouped by USB device (1-2 before 1-10), by interface number within one
// (0x0a after 2), whatever the hidraw numbers; the uhid node after USB ones.
TEST_F(HidrawLayerTest, EnumeratesCollectionsGroupedByDeviceAndInterface) {
    EXPECT_EQ(hid->EnumerateInterfaces(),
              (std::vector<std::string>{Path("hidraw2"), Path("hidraw2#1"), Path("hidraw0"),
                                        Path("hidraw4"), Path("hidraw3"), Path("hidraw10")}));
    EXPECT_TRUE(CreateHidrawLayer((root / "none").string(), (root / "dev").string())
                    ->EnumerateInterfaces()
                    .empty());
}

// A node this process may not open for reading and writing refuses a
// read-write handle, so that discovery takes it query-only.
TEST_F(HidrawLayerTest, OpensOnlyWhatEnumerationNames) {
    const std::tuple<std::string, HidAccess, bool> cases[] = {
        // "/...": outside the device directory
        {"hidraw2#1", HidAccess::ReadWrite, true},
        {"hidraw2#2", HidAccess::QueryOnly, false},
        {"hidraw2#01", HidAccess::QueryOnly, false},
        {"hidraw3", HidAccess::ReadWrite, true},
        {"hidraw3#1", HidAccess::QueryOnly, false},
        {"hidraw4", HidAccess::ReadWrite, false},
        {"hidraw4", HidAccess::QueryOnly, true},
        {"../dev/hidraw2", HidAccess::QueryOnly, false},
        {"/elsewhere/hidraw2", HidAccess::QueryOnly, false}};
    for (const auto& [path, access, opens] : cases) {
        const HidHandle handle =
            hid->Open(path.starts_with("/") ? path : Path(path), access, HidIoMode::Synchronous);
        EXPECT_EQ(handle != InvalidHidHandle, opens) << path;
        hid->Close(handle);
    }
}

TEST_F(HidrawLayerTest, AnswersQueriesInBothAccessModes) {
    // Whether capabilities are read; vendor, product, version, usage page,
    // usage, input, output and feature report lengths; the product string.
    const std::tuple<std::string, bool, std::array<int, 8>, std::u16string> cases[] = {
        {"hidraw2", true, {0x1209, 0xB310, 0x1026, 0xFF00, 1, 9, 17, 0}, u"ConfigInterface"},
        {"hidraw2#1", true, {0x1209, 0xB310, 0x1026, 0x0C, 1, 3, 0, 0}, u"ConfigInterface"},
        // No USB interface above: version 0 and the HID name, where bytes
        // that are not UTF-8 become U+FFFD.
        {"hidraw10", true, {0x845E, 1, 0, 0xFF00, 1, 65, 65, 0}, u"Virtual Ü€😀 \uFFFD"},
        // An unreadable descriptor gives no capabilities; an interface
        // without a string gives the HID name.
        {"hidraw3", false, {0x004C, 0x0267, 0x0100, 0, 0, 0, 0, 0}, u"Broken"}};
    for (const auto& [path, capsRead, numbers, product] : cases) {
        for (const HidAccess access : {HidAccess::ReadWrite, HidAccess::QueryOnly}) {
            SCOPED_TRACE(path);
            const HidHandle handle = Open(path, access);
            ASSERT_NE(handle, InvalidHidHandle);
            HidAttributes a{};
            HidCaps caps{};
            ASSERT_TRUE(hid->ReadAttributes(handle, a));
            ASSERT_EQ(hid->ReadCaps(handle, caps), capsRead);
            EXPECT_EQ(
                (std::array<int, 8>{a.vendorId, a.productId, a.versionNumber, caps.usagePage,
                                    caps.usage, caps.inputReportByteLength,
                                    caps.outputReportByteLength, caps.featureReportByteLength}),
                numbers);
            std::array<char16_t, 255> buffer{};
            ASSERT_TRUE(hid->ReadProductString(handle, buffer.data(), 255));
            EXPECT_EQ(std::u16string(buffer.data()), product);
            EXPECT_TRUE(FdsOn("hidraw2").empty());  // queries open nothing
            hid->Close(handle);
        }
    }
}

// "ConfigInterface" is 15 code units: what a buffer of each size receives (a
// buffer without room for one unit is refused).
TEST_F(HidrawLayerTest, ProductStringHonoursBufferBytes) {
    using namespace std::literals;
    const HidHandle handle = Open("hidraw2", HidAccess::QueryOnly);
    for (const auto& [bytes, expected] :
         {std::pair(1u, u"##################"sv), std::pair(29u, u"ConfigInterfac####"sv),
          std::pair(31u, u"ConfigInterface###"sv), std::pair(32u, u"ConfigInterface\0##"sv)}) {
        std::u16string buffer(18, u'#');
        EXPECT_EQ(hid->ReadProductString(handle, buffer.data(), bytes), bytes > 1);
        EXPECT_EQ(buffer, expected) << bytes << " bytes";
    }
    hid->Close(handle);
}

// Every handle of a node shares one descriptor, opened read-write,
// non-blocking and close-on-exec at the first report I/O and closed with the
// node's last handle, exactly once. A flush discards the reports waiting.
TEST_F(HidrawLayerTest, HandlesOfANodeShareOneDescriptorOpenedAtFirstIo) {
    const HidHandle probe = Open("hidraw2", HidAccess::ReadWrite, HidIoMode::Synchronous);
    hid->Close(probe);
    const HidHandle write = Open("hidraw2", HidAccess::ReadWrite, HidIoMode::Synchronous);
    const HidHandle read = Open("hidraw2", HidAccess::ReadWrite);
    const HidHandle other = Open("hidraw2#1", HidAccess::ReadWrite);
    const HidHandle queryOnly = Open("hidraw2", HidAccess::QueryOnly);
    EXPECT_TRUE(FdsOn("hidraw2").empty());
    hid->FlushInput(read);
    EXPECT_TRUE(FdsOn("hidraw2").empty());  // nothing can wait on a node not open yet

    EXPECT_EQ(hid->WriteReport(queryOnly, report.data(), 65, 5000), 0u);
    EXPECT_EQ(hid->WriteReport(InvalidHidHandle, report.data(), 65, 5000), 0u);
    EXPECT_EQ(hid->WriteReport(write, report.data(), 65, 5000), 65u);
    EXPECT_EQ(Sent("hidraw2"), report);  // report ID byte included: the kernel wants it
    const std::vector<int> fds = FdsOn("hidraw2");
    ASSERT_EQ(fds.size(), 1u);
    ASSERT_EQ(::fcntl(fds[0], F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK);
    ASSERT_EQ(::fcntl(fds[0], F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    Feed("hidraw2", {0x01, 0x02});  // stale: discarded
    hid->FlushInput(read);
    Feed("hidraw2", {0x01, 0x03});
    EXPECT_EQ(Read(read), std::pair(HidWaitResult::Signalled, Bytes{0x01, 0x03}));
    EXPECT_EQ(FdsOn("hidraw2"), fds);

    for (HidHandle handle : {write, read, queryOnly, write})
        hid->Close(handle);
    EXPECT_EQ(FdsOn("hidraw2"), fds);  // `other` still holds the node
    hid->Close(other);
    EXPECT_TRUE(FdsOn("hidraw2").empty());
    // A second close must not close a descriptor that took the number since.
    const int unrelated = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    hid->Close(other);
    EXPECT_NE(::fcntl(unrelated, F_GETFD), -1);
    ::close(unrelated);

    EXPECT_EQ(hid->WriteReport(Open("hidraw2", HidAccess::ReadWrite), report.data(), 65, 5000),
              65u);
    hid.reset();  // the layer releases what is still open
    EXPECT_TRUE(FdsOn("hidraw2").empty());
}

// The reply is the last report fed. Each report before it is another
// collection's: arriving 300 ms into a wait of 400 ms, it leaves the wait the
// 100 ms left (a wait that began anew would last 700).
TEST_F(HidrawLayerTest, ReplyStartsWithReportIdAndBelongsToTheCollection) {
    const std::tuple<std::string, std::vector<Bytes>, std::uint32_t, Bytes> cases[] = {
        // No report IDs: the kernel gives 64 bytes; the reply is 65 with ID 0.
        {"hidraw10", {Counting(1, 64)}, 65, Counting(0, 65)},
        {"hidraw10", {Counting(1, 64)}, 9, Counting(0, 9)},
        // Report IDs: the kernel's first byte is the ID already; a report of
        // the node's other collection is not a reply.
        {"hidraw2#1", {{0x01, 0x77}, {0x02, 0x34, 0x12}}, 65, {0x02, 0x34, 0x12}},
        {"hidraw2", {{0x02, 0x34, 0x12}, {0x01, 0x55}}, 65, {0x01, 0x55}}};
    for (const auto& [path, fed, length, reply] : cases) {
        SCOPED_TRACE(path);
        const HidHandle handle = Open(path, HidAccess::ReadWrite);
        const std::string node = path.substr(0, path.find('#'));
        ASSERT_EQ(hid->WriteReport(handle, report.data(), 1, 5000), 1u);  // opens the node
        Sent(node);
        for (const Bytes& foreign : std::span(fed).first(fed.size() - 1)) {
            clock.asked.clear();
            clock.sendAt = clock.now + std::chrono::milliseconds(300);
            clock.send = [&] { Feed(node, foreign); };
            ASSERT_EQ(Read(handle, length, 400), std::pair(HidWaitResult::TimedOut, Bytes{}));
            EXPECT_EQ(clock.asked, (std::vector<int>{400, 100}));
        }
        Feed(node, fed.back());
        EXPECT_EQ(Read(handle, length), std::pair(HidWaitResult::Signalled, reply));
        hid->Close(handle);
    }
}

// A read on a handle without a node that carries reports never starts: it
// never signals, even with a report waiting, and its result comes at once. A
// node that hangs up, fails a read, or cannot be opened fails the read at once,
// and every later read on it too.
TEST_F(HidrawLayerTest, ReadsFailAtOnceOnAGoneNodeAndNeverStartWithoutOne) {
    const HidHandle node = Open("hidraw2", HidAccess::ReadWrite);
    ASSERT_EQ(hid->WriteReport(node, report.data(), 1, 5000), 1u);
    Feed("hidraw2", {0x01, 0x02});
    for (HidHandle handle : {Open("hidraw2", HidAccess::QueryOnly), InvalidHidHandle})
        EXPECT_EQ(Read(handle), std::pair(HidWaitResult::TimedOut, Bytes{}));

    const HidHandle cannotOpen = Open("hidraw0", HidAccess::ReadWrite);
    EXPECT_EQ(hid->WriteReport(cannotOpen, report.data(), 65, 5000), 0u);
    EXPECT_EQ(Read(cannotOpen, 65, 1000), std::pair(HidWaitResult::Signalled, Bytes{}));

    int hangUp[2];
    ASSERT_EQ(::pipe(hangUp), 0);
    ::close(hangUp[1]);
    const int directory = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);  // read() fails with EISDIR
    for (const int replacement : {hangUp[0], directory}) {
        const HidHandle handle = Open("hidraw10", HidAccess::ReadWrite);
        ASSERT_EQ(hid->WriteReport(handle, report.data(), 1, 5000), 1u);
        const std::vector<int> fds = FdsOn("hidraw10");
        ASSERT_EQ(fds.size(), 1u);
        ::dup2(replacement, fds[0]);
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_EQ(Read(handle, 65, 1000), std::pair(HidWaitResult::Signalled, Bytes{}));
        hid->Close(handle);
        ::close(replacement);
    }
}

}  // namespace
}  // namespace ob310
