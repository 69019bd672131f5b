// The hidraw layer over a tree laid out like sysfs and /dev: class entries
// whose `device` links to a HID device directory (report_descriptor, uevent)
// below USB interface and device directories, and a FIFO as the device node,
// so that writes can be read back and reads can be fed.
#include "platform/hid_linux.h"

#include "device/discovery.h"
#include "device/exchange.h"
#include "tests/support/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// One collection of 64-byte reports, no report IDs.
const Bytes VendorDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95,
                                0x40, 0x81, 0x02, 0x91, 0x02, 0xC0};
// Vendor (ID 1: 8 bytes in, 16 out) and consumer control (ID 2: 2 bytes in).
const Bytes TwoCollectionDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95,
                                       0x08, 0x81, 0x02, 0x95, 0x10, 0x91, 0x02, 0xC0, 0x05, 0x0C, 0x09, 0x01,
                                       0xA1, 0x01, 0x85, 0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0};

struct NodeSpec {
    std::string name;
    Bytes descriptor;
    std::string hidId;  // uevent HID_ID
    std::string hidName;
    bool onUsb;  // with a USB interface and device above the HID device
    std::optional<std::string> interfaceName;
    std::optional<std::string> bcdDevice;
    bool deviceNode = true;  // false: no node to open, as without rights
};

const std::vector<NodeSpec> Nodes = {
    {"hidraw2", TwoCollectionDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "ConfigInterface", "1026"},
    {"hidraw10", VendorDescriptor, "0003:0000845E:00000001", "Virtual \xC3\x9C\xE2\x82\xAC\xF0\x9F\x98\x80 \xFF",
     false, std::nullopt, std::nullopt},
    {"hidraw3", {0x09, 0x01, 0xA1, 0x01}, "0005:0000004C:00000267", "Broken", true, std::nullopt, std::nullopt},
    {"hidraw4", VendorDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "KeyboardInterface", "0100",
     false},
};

class HidrawLayerTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root / "dev");
        for (const NodeSpec& node : Tree()) {
            const fs::path hid = root / "devices" / node.name / (node.onUsb ? "1-1/1-1:1.0/hid" : "uhid/hid");
            fs::create_directories(hid);
            Write(hid / "report_descriptor", std::string(node.descriptor.begin(), node.descriptor.end()));
            Write(hid / "uevent", "HID_ID=" + node.hidId + "\nHID_NAME=" + node.hidName + "\nHID_PHYS=usb\n");
            if (node.interfaceName) Write(hid.parent_path() / "interface", *node.interfaceName + "\n");
            if (node.bcdDevice) Write(hid.parent_path().parent_path() / "bcdDevice", *node.bcdDevice + "\n");
            fs::create_directories(root / "class" / node.name);
            fs::create_directory_symlink(hid, root / "class" / node.name / "device");
            ASSERT_TRUE(!node.deviceNode || ::mkfifo(Path(node.name).c_str(), 0600) == 0);
        }
        hid = CreateHidrawLayer((root / "class").string(), (root / "dev").string());
    }

    virtual const std::vector<NodeSpec>& Tree() const { return Nodes; }
    static void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string Path(const std::string& suffix) const { return (root / "dev").string() + "/" + suffix; }
    HidHandle Open(const std::string& suffix, HidAccess access, HidIoMode mode = HidIoMode::Overlapped) {
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

    TempDir dir;
    const fs::path root = dir.Path();
    std::unique_ptr<HidLayer> hid;
};

Bytes Counting(std::uint8_t first, std::size_t count, bool zeroInFront = false) {
    Bytes bytes;
    if (zeroInFront) bytes.push_back(0);
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(first + i));
    return bytes;
}

TEST_F(HidrawLayerTest, EnumeratesOneInterfacePerTopLevelCollectionInNodeOrder) {
    EXPECT_EQ(hid->EnumerateInterfaces(), (std::vector<std::string>{Path("hidraw2"), Path("hidraw2#1"),
                                                                     Path("hidraw3"), Path("hidraw4"),
                                                                     Path("hidraw10")}));
    EXPECT_TRUE(CreateHidrawLayer((root / "none").string(), (root / "dev").string())->EnumerateInterfaces().empty());
}

struct OpenCase {
    std::string path;  // below the device directory, or "/" for outside it
    HidAccess access;
    bool opens;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.path << (c.access == HidAccess::ReadWrite ? " read-write" : " query-only");
}

class HidrawOpenTest : public HidrawLayerTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(HidrawOpenTest, OpensOnlyWhatEnumerationNames) {
    const std::string& path = GetParam().path;
    const HidHandle handle = hid->Open(path.starts_with("/") ? path : Path(path), GetParam().access,
                                       HidIoMode::Synchronous);
    EXPECT_EQ(handle != InvalidHidHandle, GetParam().opens);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(Paths, HidrawOpenTest,
                         testing::Values(OpenCase{"hidraw2", HidAccess::ReadWrite, true},
                                         OpenCase{"hidraw2#1", HidAccess::ReadWrite, true},
                                         OpenCase{"hidraw2#2", HidAccess::QueryOnly, false},
                                         OpenCase{"hidraw2#01", HidAccess::QueryOnly, false},
                                         OpenCase{"hidraw3", HidAccess::ReadWrite, true},
                                         OpenCase{"hidraw3#1", HidAccess::QueryOnly, false},
                                         OpenCase{"hidraw4", HidAccess::ReadWrite, false},
                                         OpenCase{"hidraw4", HidAccess::QueryOnly, true},
                                         OpenCase{"../dev/hidraw2", HidAccess::QueryOnly, false},
                                         OpenCase{"/elsewhere/hidraw2", HidAccess::QueryOnly, false}));

struct QueryCase {
    std::string path;
    HidAttributes attributes;
    bool capsRead;
    HidCaps caps;  // usage page, usage and the three lengths
    std::u16string product;
};

void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.path; }

class HidrawQueryTest : public HidrawLayerTest,
                        public testing::WithParamInterface<std::tuple<QueryCase, HidAccess>> {};

TEST_P(HidrawQueryTest, AnswersQueriesInBothAccessModes) {
    const auto& [c, access] = GetParam();
    const HidHandle handle = Open(c.path, access);
    ASSERT_NE(handle, InvalidHidHandle);
    HidAttributes attributes{};
    ASSERT_TRUE(hid->ReadAttributes(handle, attributes));
    EXPECT_EQ(std::tuple(attributes.vendorId, attributes.productId, attributes.versionNumber),
              std::tuple(c.attributes.vendorId, c.attributes.productId, c.attributes.versionNumber));
    HidCaps caps{};
    ASSERT_EQ(hid->ReadCaps(handle, caps), c.capsRead);
    EXPECT_EQ(std::tuple(caps.usagePage, caps.usage, caps.inputReportByteLength, caps.outputReportByteLength,
                         caps.featureReportByteLength),
              std::tuple(c.caps.usagePage, c.caps.usage, c.caps.inputReportByteLength,
                         c.caps.outputReportByteLength, c.caps.featureReportByteLength));
    std::array<char16_t, 255> buffer{};
    ASSERT_TRUE(hid->ReadProductString(handle, buffer.data(), 255));
    EXPECT_EQ(std::u16string(buffer.data()), c.product);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, HidrawQueryTest,
    testing::Combine(
        testing::Values(
            QueryCase{"hidraw2", {0x1209, 0xB310, 0x1026}, true, {1, 0xFF00, 9, 17, 0}, u"ConfigInterface"},
            QueryCase{"hidraw2#1", {0x1209, 0xB310, 0x1026}, true, {1, 0x0C, 3, 0, 0}, u"ConfigInterface"},
            // No USB interface above: version 0 and the HID name, where bytes
            // that are not UTF-8 become U+FFFD.
            QueryCase{"hidraw10", {0x845E, 0x0001, 0}, true, {1, 0xFF00, 65, 65, 0},
                      u"Virtual \u00DC\u20AC\U0001F600 \uFFFD"},
            // An unreadable descriptor gives no capabilities; an interface
            // without a string gives the HID name.
            QueryCase{"hidraw3", {0x004C, 0x0267, 0}, false, {}, u"Broken"}),
        testing::Values(HidAccess::ReadWrite, HidAccess::QueryOnly)));

// "ConfigInterface" is 15 code units: what a buffer of each size receives.
struct StringBufferCase {
    std::uint32_t bytes;
    bool read;
    std::size_t unitsCopied;
    bool terminated;
};

void PrintTo(const StringBufferCase& c, std::ostream* os) { *os << c.bytes << " bytes"; }

class HidrawProductBufferTest : public HidrawLayerTest, public testing::WithParamInterface<StringBufferCase> {};

TEST_P(HidrawProductBufferTest, HonoursBufferBytes) {
    const StringBufferCase& c = GetParam();
    const HidHandle handle = Open("hidraw2", HidAccess::QueryOnly);
    std::u16string buffer(40, u'#');
    EXPECT_EQ(hid->ReadProductString(handle, buffer.data(), c.bytes), c.read);
    std::u16string expected = std::u16string(u"ConfigInterface").substr(0, c.unitsCopied);
    if (c.terminated) expected.push_back(u'\0');
    expected.resize(buffer.size(), u'#');
    EXPECT_EQ(buffer, expected);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HidrawProductBufferTest,
                         testing::Values(StringBufferCase{1, false, 0, false}, StringBufferCase{29, true, 14, false},
                                         StringBufferCase{31, true, 15, false}, StringBufferCase{32, true, 15, true}));

TEST_F(HidrawLayerTest, WriteGoesOnlyThroughReadWriteHandles) {
    const HidHandle handle = Open("hidraw2", HidAccess::ReadWrite, HidIoMode::Synchronous);
    const HidHandle queryOnly = Open("hidraw2", HidAccess::QueryOnly, HidIoMode::Synchronous);
    const HidHandle closed = Open("hidraw2#1", HidAccess::ReadWrite, HidIoMode::Synchronous);
    hid->Close(closed);
    const Bytes report = Counting(0, 65);
    EXPECT_EQ(hid->WriteReport(queryOnly, report.data(), 65, 5000), 0u);
    EXPECT_EQ(hid->WriteReport(closed, report.data(), 65, 5000), 0u);
    EXPECT_EQ(hid->WriteReport(InvalidHidHandle, report.data(), 65, 5000), 0u);
    EXPECT_EQ(Sent("hidraw2"), Bytes{});
    EXPECT_EQ(hid->WriteReport(handle, report.data(), 65, 5000), 65u);
    EXPECT_EQ(Sent("hidraw2"), report);  // report ID byte included: the kernel wants it
    hid->Close(queryOnly);
    hid->Close(handle);
}

struct ReadCase {
    std::string path;
    Bytes fed;
    std::uint32_t length;
    Bytes expected;  // bytes at the start of the buffer; the rest untouched
};

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.path << " length " << c.length; }

class HidrawReadTest : public HidrawLayerTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(HidrawReadTest, ReplyStartsWithReportId) {
    const ReadCase& c = GetParam();
    const HidHandle handle = Open(c.path, HidAccess::ReadWrite);
    Feed(c.path.substr(0, c.path.find('#')), c.fed);
    const auto reader = hid->CreateReader(handle);
    Bytes buffer(65, 0xEE);
    reader->Start(buffer.data(), c.length);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    std::uint32_t bytes = 0;
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, c.expected.size());
    Bytes expected = c.expected;
    expected.resize(buffer.size(), 0xEE);
    EXPECT_EQ(buffer, expected);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, HidrawReadTest,
    testing::Values(
        // No report IDs: the kernel gives 64 bytes; the reply is 65 with ID 0.
        ReadCase{"hidraw10", Counting(1, 64), 65, Counting(1, 64, true)},
        ReadCase{"hidraw10", Counting(1, 64), 9, Counting(1, 8, true)},
        // Report IDs: the kernel's first byte is the ID already.
        ReadCase{"hidraw2#1", {0x02, 0x34, 0x12}, 65, {0x02, 0x34, 0x12}}));

// The no-reply path: time out, cancel, retire at once. Nothing is left
// pending, so the next report is the next read's, whole.
TEST_F(HidrawLayerTest, TimedOutReadLeavesTheNextReportToTheNextRead) {
    const HidHandle handle = Open("hidraw10", HidAccess::ReadWrite);
    const auto reader = hid->CreateReader(handle);
    Bytes buffer(65, 0);
    reader->Start(buffer.data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    reader->Cancel();
    std::uint32_t bytes = 1234;
    EXPECT_FALSE(reader->Result(true, bytes));
    EXPECT_EQ(bytes, 0u);

    Feed("hidraw10", Counting(0x40, 64));
    EXPECT_EQ(buffer, Bytes(65, 0));
    reader->Start(buffer.data(), 65);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(buffer, Counting(0x40, 64, true));
    hid->Close(handle);
}

// On a handle without an open node a read never starts: it never signals, even
// with a report waiting, and its result comes at once.
TEST_F(HidrawLayerTest, ReadWithoutOpenNodeNeverSignals) {
    const HidHandle keep = Open("hidraw2", HidAccess::ReadWrite);  // keeps the report queued
    Feed("hidraw2", {0x01, 0x02});
    const HidHandle queryOnly = Open("hidraw2", HidAccess::QueryOnly);
    for (HidHandle handle : {queryOnly, InvalidHidHandle}) {
        const auto reader = hid->CreateReader(handle);
        Bytes buffer(65, 0);
        reader->Start(buffer.data(), 65);
        EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
        std::uint32_t bytes = 1234;
        EXPECT_FALSE(reader->Result(true, bytes));
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(buffer, Bytes(65, 0));
    }
    hid->Close(queryOnly);
    hid->Close(keep);
}

int OpenFdCount() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count;
}

TEST_F(HidrawLayerTest, HandlesHoldOneDescriptorEachUntilClosedOnce) {
    const int before = OpenFdCount();
    const HidHandle a = Open("hidraw2", HidAccess::ReadWrite, HidIoMode::Synchronous);
    const HidHandle b = Open("hidraw2#1", HidAccess::ReadWrite);
    const HidHandle c = Open("hidraw10", HidAccess::QueryOnly);
    EXPECT_EQ(OpenFdCount(), before + 2);  // query-only holds none
    EXPECT_TRUE(a != b && b != c && a != c);
    for (HidHandle handle : {a, b, c}) hid->Close(handle);
    EXPECT_EQ(OpenFdCount(), before);

    // A second close must not close a descriptor that took the number since.
    const int unrelated = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    hid->Close(a);
    EXPECT_NE(::fcntl(unrelated, F_GETFD), -1);
    ::close(unrelated);

    Open("hidraw2", HidAccess::ReadWrite);
    hid.reset();  // the layer releases what is still open
    EXPECT_EQ(OpenFdCount(), before);
}

// An OB310 whose six interfaces lie in four USB interfaces, two of them with
// two top-level collections each, beside a device of another make.
const std::vector<NodeSpec> SplitDevice = {
    {"hidraw1", TwoCollectionDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "KeyboardInterface", "1026"},
    {"hidraw2", VendorDescriptor, "0003:0000845E:00000001", "Mouse", true, "ConfigInterface", "0100"},
    {"hidraw3", TwoCollectionDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "MouseInterface", "1026"},
    {"hidraw7", VendorDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "ConfigInterface", "1026"},
    {"hidraw8", VendorDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true, "LedInterface", "1026"},
};

class HidrawDiscoveryTest : public HidrawLayerTest {
protected:
    const std::vector<NodeSpec>& Tree() const override { return SplitDevice; }
};

// Six collections make one device whatever their split into nodes, and a
// request reaches the configuration interface's node: the FIFO hands the
// report back as the reply, the ID byte 0 put in front of its first 64 bytes.
TEST_F(HidrawDiscoveryTest, CountsCollectionsAsInterfacesAndExchangesOnConfigInterface) {
    const int before = OpenFdCount();
    DeviceInterfaceTable table;
    table.hid = hid.get();
    ASSERT_EQ(DiscoverDevices(table), 1);
    std::vector<std::u16string> names;
    for (const DeviceInterface& record : table.records) names.push_back(record.productString);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"KeyboardInterface", u"KeyboardInterface", u"MouseInterface",
                                                  u"MouseInterface", u"ConfigInterface", u"LedInterface", u"",
                                                  u"", u"", u"", u"", u"", u"", u"", u"", u""}));
    EXPECT_EQ(OpenFdCount(), before + 12);  // two per record, no probe left open
    ASSERT_EQ(FindInterfaceByProduct(table, ConfigInterfaceName), 4);

    Report request{};
    for (std::size_t i = 1; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
    Report reply{};
    EXPECT_EQ(ExchangeReport(table, request, reply), 65);
    Report expected{};
    std::copy_n(request.begin(), 64, expected.begin() + 1);
    EXPECT_EQ(reply, expected);

    for (const DeviceInterface& record : table.records)
        for (HidHandle handle : {record.readHandle, record.writeHandle})
            if (handle != InvalidHidHandle) hid->Close(handle);
    EXPECT_EQ(OpenFdCount(), before);
}

// This machine's own devices: without hidraw nodes nothing is found.
TEST(PlatformHidLayer, FindsNoDeviceWithoutHidrawDevices) {
    std::error_code error;
    if (fs::exists("/sys/class/hidraw", error) && !fs::is_empty("/sys/class/hidraw", error))
        GTEST_SKIP() << "this machine has hidraw devices";
    const auto hid = CreatePlatformHidLayer();
    EXPECT_TRUE(hid->EnumerateInterfaces().empty());
    DeviceInterfaceTable table;
    table.hid = hid.get();
    EXPECT_EQ(DiscoverDevices(table), 0);
}

}  // namespace
