// The hidraw layer over a tree that looks like sysfs and /dev: class entries
// whose `device` links to a HID device directory (report_descriptor, uevent),
// USB interface and device directories above it, and a FIFO as the device
// node, so that writes can be read back and reads can be fed.
#include "platform/hid_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One collection of 64-byte reports, no report IDs.
const std::vector<std::uint8_t> VendorDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x40, 0x09, 0x02, 0x81, 0x02, 0x09, 0x03, 0x91, 0x02, 0xC0,
};

// Two collections with report IDs: vendor (ID 1, 8 bytes in, 16 out) and
// consumer control (ID 2, 2 bytes in).
const std::vector<std::uint8_t> TwoCollectionDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x08,
    0x81, 0x02, 0x95, 0x10, 0x91, 0x02, 0xC0, 0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,
    0x85, 0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0,
};

struct NodeSpec {
    std::string name;
    std::vector<std::uint8_t> descriptor;
    std::string hidId;  // HID_ID line of the uevent
    std::string hidName;
    bool onUsb;                                // with USB interface and device above
    std::optional<std::string> interfaceName;  // the USB interface's string
    std::optional<std::string> bcdDevice;
    bool deviceNode = true;  // false: sysfs entry only, no node to open
};

class FakeHidrawTree {
public:
    FakeHidrawTree() {
        std::string pattern = (fs::temp_directory_path() / "hidraw-tree-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        fs::create_directories(root_ / "class");
        fs::create_directories(root_ / "dev");
    }
    ~FakeHidrawTree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void Add(const NodeSpec& spec) {
        const fs::path parent = root_ / "devices" / spec.name;
        const fs::path hid = spec.onUsb ? parent / "usb1" / "1-1:1.0" / "hid" : parent / "uhid" / "hid";
        fs::create_directories(hid);
        WriteFile(hid / "report_descriptor", std::string(spec.descriptor.begin(), spec.descriptor.end()));
        WriteFile(hid / "uevent", "DRIVER=hid-generic\nHID_ID=" + spec.hidId + "\nHID_NAME=" + spec.hidName +
                                      "\nHID_PHYS=usb-dummy\n");
        if (spec.interfaceName) WriteFile(hid.parent_path() / "interface", *spec.interfaceName + "\n");
        if (spec.bcdDevice) WriteFile(hid.parent_path().parent_path() / "bcdDevice", *spec.bcdDevice + "\n");
        fs::create_directories(root_ / "class" / spec.name);
        fs::create_directory_symlink(hid, root_ / "class" / spec.name / "device");
        if (spec.deviceNode) {
            EXPECT_EQ(::mkfifo(Node(spec.name).c_str(), 0600), 0);
        }
    }

    std::string ClassDir() const { return (root_ / "class").string(); }
    std::string DevDir() const { return (root_ / "dev").string(); }
    std::string Node(const std::string& name) const { return DevDir() + "/" + name; }

private:
    static void WriteFile(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    fs::path root_;
};

const NodeSpec ConfigNode{"hidraw2", TwoCollectionDescriptor, "0003:00001209:0000B310",
                          "Ombrel OB310", true, "ConfigInterface", "1026"};
const NodeSpec VirtualNode{"hidraw10", VendorDescriptor, "0003:0000845E:00000001",
                           "Virtual \xC3\x9C\xE2\x82\xAC\xF0\x9F\x98\x80 \xFF", false, std::nullopt,
                           std::nullopt};
const NodeSpec BrokenNode{"hidraw3", {0x09, 0x01, 0xA1, 0x01}, "0005:0000004C:00000267",
                          "Broken", true, std::nullopt, std::nullopt};
const NodeSpec LockedNode{"hidraw4", VendorDescriptor, "0003:00001209:0000B310", "Ombrel OB310", true,
                          "KeyboardInterface", "0100", false};

class HidrawLayerTest : public testing::Test {
protected:
    void SetUp() override {
        for (const NodeSpec& spec : {ConfigNode, VirtualNode, BrokenNode, LockedNode}) tree.Add(spec);
        hid = CreateHidrawLayer(tree.ClassDir(), tree.DevDir());
    }

    std::string Path(const std::string& suffix) const { return tree.DevDir() + "/" + suffix; }

    // Feeds one report into the node, as the kernel would queue it.
    void Feed(const std::string& node, const std::vector<std::uint8_t>& bytes) const {
        const int fd = ::open(tree.Node(node).c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }

    FakeHidrawTree tree;
    std::unique_ptr<HidLayer> hid;
};

int OpenFdCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

TEST_F(HidrawLayerTest, EnumeratesOneInterfacePerTopLevelCollectionInNodeOrder) {
    EXPECT_EQ(hid->EnumerateInterfaces(),
              (std::vector<std::string>{Path("hidraw2"), Path("hidraw2#1"), Path("hidraw3"),
                                        Path("hidraw4"), Path("hidraw10")}));
}

TEST(HidrawLayer, EnumeratesNothingWithoutClassDirectory) {
    const auto hid = CreateHidrawLayer("/nonexistent/class/hidraw", "/nonexistent/dev");
    EXPECT_TRUE(hid->EnumerateInterfaces().empty());
}

// A test name made of a path suffix: hidraw2#1 -> hidraw2_1.
std::string TestName(const std::string& suffix) {
    std::string name;
    for (char c : suffix) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

struct OpenCase {
    std::string suffix;
    HidAccess access;
    bool opens;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.suffix; }

class HidrawOpenTest : public HidrawLayerTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(HidrawOpenTest, OpensOnlyWhatEnumerationNames) {
    const OpenCase& c = GetParam();
    const HidHandle handle = hid->Open(Path(c.suffix), c.access, HidIoMode::Synchronous);
    EXPECT_EQ(handle != InvalidHidHandle, c.opens);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HidrawOpenTest,
    testing::Values(OpenCase{"hidraw2", HidAccess::ReadWrite, true},
                    OpenCase{"hidraw2#1", HidAccess::ReadWrite, true},
                    OpenCase{"hidraw2#2", HidAccess::QueryOnly, false},
                    OpenCase{"hidraw2#0", HidAccess::QueryOnly, false},
                    OpenCase{"hidraw2#01", HidAccess::QueryOnly, false},
                    OpenCase{"hidraw2#", HidAccess::QueryOnly, false},
                    OpenCase{"hidraw2#x", HidAccess::QueryOnly, false},
                    OpenCase{"hidraw3", HidAccess::ReadWrite, true},
                    OpenCase{"hidraw3#1", HidAccess::QueryOnly, false},
                    // No rights on the node: only query-only opens.
                    OpenCase{"hidraw4", HidAccess::ReadWrite, false},
                    OpenCase{"hidraw4", HidAccess::QueryOnly, true},
                    OpenCase{"hidraw9", HidAccess::QueryOnly, false},
                    OpenCase{"../dev/hidraw2", HidAccess::QueryOnly, false},
                    OpenCase{"", HidAccess::QueryOnly, false}),
    [](const testing::TestParamInfo<OpenCase>& info) {
        return std::to_string(info.index) + "_" + TestName(info.param.suffix) +
               (info.param.access == HidAccess::ReadWrite ? "_ReadWrite" : "_QueryOnly");
    });

TEST_F(HidrawLayerTest, OpenOutsideDeviceDirectoryFails) {
    EXPECT_EQ(hid->Open("/elsewhere/hidraw2", HidAccess::QueryOnly, HidIoMode::Synchronous),
              InvalidHidHandle);
}

struct QueryCase {
    std::string suffix;
    bool attributesRead;
    HidAttributes attributes;
    bool capsRead;
    HidCaps caps;
    std::u16string product;
};

void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.suffix; }

class HidrawQueryTest : public HidrawLayerTest,
                        public testing::WithParamInterface<std::tuple<QueryCase, HidAccess>> {};

TEST_P(HidrawQueryTest, AnswersQueriesInBothAccessModes) {
    const auto& [c, access] = GetParam();
    const HidHandle handle = hid->Open(Path(c.suffix), access, HidIoMode::Synchronous);
    ASSERT_NE(handle, InvalidHidHandle);

    HidAttributes attributes{};
    ASSERT_EQ(hid->ReadAttributes(handle, attributes), c.attributesRead);
    EXPECT_EQ(attributes.vendorId, c.attributes.vendorId);
    EXPECT_EQ(attributes.productId, c.attributes.productId);
    EXPECT_EQ(attributes.versionNumber, c.attributes.versionNumber);

    HidCaps caps{};
    ASSERT_EQ(hid->ReadCaps(handle, caps), c.capsRead);
    EXPECT_EQ(caps.usagePage, c.caps.usagePage);
    EXPECT_EQ(caps.usage, c.caps.usage);
    EXPECT_EQ(caps.inputReportByteLength, c.caps.inputReportByteLength);
    EXPECT_EQ(caps.outputReportByteLength, c.caps.outputReportByteLength);
    EXPECT_EQ(caps.featureReportByteLength, c.caps.featureReportByteLength);

    std::array<char16_t, 255> buffer{};
    ASSERT_TRUE(hid->ReadProductString(handle, buffer.data(), 255));
    EXPECT_EQ(std::u16string(buffer.data()), c.product);
    hid->Close(handle);
}

HidCaps Caps(std::uint16_t page, std::uint16_t usage, std::uint16_t in, std::uint16_t out) {
    HidCaps caps{};
    caps.usagePage = page;
    caps.usage = usage;
    caps.inputReportByteLength = in;
    caps.outputReportByteLength = out;
    return caps;
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, HidrawQueryTest,
    testing::Combine(
        testing::Values(
            QueryCase{"hidraw2", true, {0x1209, 0xB310, 0x1026}, true, Caps(0xFF00, 1, 9, 17),
                      u"ConfigInterface"},
            QueryCase{"hidraw2#1", true, {0x1209, 0xB310, 0x1026}, true, Caps(0x0C, 1, 3, 0),
                      u"ConfigInterface"},
            // No USB interface above: no version, the HID name; bytes that
            // are not UTF-8 become U+FFFD.
            QueryCase{"hidraw10", true, {0x845E, 0x0001, 0}, true, Caps(0xFF00, 1, 65, 65),
                      u"Virtual \u00DC\u20AC\U0001F600 \uFFFD"},
            // A descriptor that cannot be read gives no capabilities; a USB
            // interface without a string gives the HID name.
            QueryCase{"hidraw3", true, {0x004C, 0x0267, 0}, false, HidCaps{}, u"Broken"}),
        testing::Values(HidAccess::ReadWrite, HidAccess::QueryOnly)),
    [](const testing::TestParamInfo<std::tuple<QueryCase, HidAccess>>& info) {
        return TestName(std::get<0>(info.param).suffix) +
               (std::get<1>(info.param) == HidAccess::ReadWrite ? "_ReadWrite" : "_QueryOnly");
    });

TEST_F(HidrawLayerTest, QueriesThroughHandleWithoutNodeRights) {
    const HidHandle handle = hid->Open(Path("hidraw4"), HidAccess::QueryOnly, HidIoMode::Overlapped);
    HidAttributes attributes{};
    ASSERT_TRUE(hid->ReadAttributes(handle, attributes));
    EXPECT_EQ(attributes.versionNumber, 0x0100);
    std::array<char16_t, 255> buffer{};
    ASSERT_TRUE(hid->ReadProductString(handle, buffer.data(), 255));
    EXPECT_EQ(std::u16string(buffer.data()), u"KeyboardInterface");
    hid->Close(handle);
}

// "ConfigInterface" is 15 code units; what lands in a buffer of each size.
struct StringBufferCase {
    std::uint32_t bytes;
    bool read;
    std::size_t unitsCopied;
    bool terminated;
};

void PrintTo(const StringBufferCase& c, std::ostream* os) { *os << c.bytes; }

class HidrawProductBufferTest : public HidrawLayerTest,
                                public testing::WithParamInterface<StringBufferCase> {};

TEST_P(HidrawProductBufferTest, HonoursBufferBytes) {
    const StringBufferCase& c = GetParam();
    const HidHandle handle = hid->Open(Path("hidraw2"), HidAccess::QueryOnly, HidIoMode::Synchronous);
    std::array<char16_t, 40> buffer;
    buffer.fill(u'#');
    EXPECT_EQ(hid->ReadProductString(handle, buffer.data(), c.bytes), c.read);
    const std::u16string name = u"ConfigInterface";
    std::u16string expected = name.substr(0, c.unitsCopied);
    if (c.terminated) expected.push_back(u'\0');
    expected.resize(buffer.size(), u'#');
    EXPECT_EQ(std::u16string(buffer.begin(), buffer.end()), expected);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HidrawProductBufferTest,
                         testing::Values(StringBufferCase{0, false, 0, false},
                                         StringBufferCase{1, false, 0, false},
                                         StringBufferCase{2, true, 1, false},
                                         StringBufferCase{29, true, 14, false},
                                         StringBufferCase{30, true, 15, false},
                                         StringBufferCase{31, true, 15, false},
                                         StringBufferCase{32, true, 15, true},
                                         StringBufferCase{80, true, 15, true}),
                         [](const testing::TestParamInfo<StringBufferCase>& info) {
                             return std::to_string(info.param.bytes) + "Bytes";
                         });

TEST_F(HidrawLayerTest, WriteHandsTheWholeReportToTheNode) {
    const HidHandle handle = hid->Open(Path("hidraw2"), HidAccess::ReadWrite, HidIoMode::Synchronous);
    std::array<std::uint8_t, 65> report{};
    for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i * 3);
    ASSERT_EQ(hid->WriteReport(handle, report.data(), 65), 65u);

    const int fd = ::open(tree.Node("hidraw2").c_str(), O_RDONLY | O_NONBLOCK);
    std::array<std::uint8_t, 100> received{};
    EXPECT_EQ(::read(fd, received.data(), received.size()), 65);
    EXPECT_TRUE(std::equal(report.begin(), report.end(), received.begin()));
    ::close(fd);
    hid->Close(handle);
}

TEST_F(HidrawLayerTest, WriteWithoutOpenNodeWritesNothing) {
    // Keeps the node's queue alive so that a stray write would stay in it.
    const HidHandle keep = hid->Open(Path("hidraw2"), HidAccess::ReadWrite, HidIoMode::Synchronous);
    const HidHandle queryOnly = hid->Open(Path("hidraw2"), HidAccess::QueryOnly, HidIoMode::Synchronous);
    const HidHandle closed = hid->Open(Path("hidraw2#1"), HidAccess::ReadWrite, HidIoMode::Synchronous);
    hid->Close(closed);
    const std::array<std::uint8_t, 65> report{};
    EXPECT_EQ(hid->WriteReport(queryOnly, report.data(), 65), 0u);
    EXPECT_EQ(hid->WriteReport(closed, report.data(), 65), 0u);
    EXPECT_EQ(hid->WriteReport(InvalidHidHandle, report.data(), 65), 0u);
    hid->Close(queryOnly);

    const int fd = ::open(tree.Node("hidraw2").c_str(), O_RDONLY | O_NONBLOCK);
    std::uint8_t byte = 0;
    EXPECT_EQ(::read(fd, &byte, 1), -1);  // nothing arrived
    ::close(fd);
    hid->Close(keep);
}

struct ReadCase {
    std::string name;
    std::string node;
    std::vector<std::uint8_t> fed;
    std::uint32_t length;
    std::vector<std::uint8_t> expected;  // bytes at the start of the buffer
};

std::vector<std::uint8_t> Counting(std::uint8_t first, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

std::vector<std::uint8_t> WithZeroInFront(std::vector<std::uint8_t> bytes) {
    bytes.insert(bytes.begin(), 0);
    return bytes;
}

void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class HidrawReadTest : public HidrawLayerTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(HidrawReadTest, ReplyStartsWithReportId) {
    const ReadCase& c = GetParam();
    const HidHandle handle = hid->Open(Path(c.node), HidAccess::ReadWrite, HidIoMode::Overlapped);
    Feed(c.node.substr(0, c.node.find('#')), c.fed);
    const auto reader = hid->CreateReader(handle);
    ASSERT_NE(reader, nullptr);
    std::array<std::uint8_t, 65> buffer;
    buffer.fill(0xEE);
    reader->Start(buffer.data(), c.length);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    std::uint32_t bytes = 1234;
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, c.expected.size());
    std::vector<std::uint8_t> expected = c.expected;
    expected.resize(buffer.size(), 0xEE);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.end()), expected);
    hid->Close(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, HidrawReadTest,
    testing::Values(
        // No report IDs: the kernel gives 64 bytes, the reply is 65 with ID 0.
        ReadCase{"WithoutReportIds", "hidraw10", Counting(1, 64), 65, WithZeroInFront(Counting(1, 64))},
        // Never beyond the length asked for.
        ReadCase{"WithoutReportIdsCut", "hidraw10", Counting(1, 64), 9, WithZeroInFront(Counting(1, 8))},
        // Report IDs: the kernel's first byte is the ID already.
        ReadCase{"WithReportIds", "hidraw2", {0x01, 0x10, 0x20, 0x30}, 65, {0x01, 0x10, 0x20, 0x30}},
        ReadCase{"SecondCollection", "hidraw2#1", {0x02, 0x34, 0x12}, 65, {0x02, 0x34, 0x12}}),
    [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST_F(HidrawLayerTest, TimedOutReadLeavesTheNextReportToTheNextRead) {
    const HidHandle handle = hid->Open(Path("hidraw10"), HidAccess::ReadWrite, HidIoMode::Overlapped);
    const auto reader = hid->CreateReader(handle);
    std::array<std::uint8_t, 65> buffer{};
    reader->Start(buffer.data(), 65);
    EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
    reader->Cancel();
    std::uint32_t bytes = 1234;
    EXPECT_FALSE(reader->Result(true, bytes));  // retired at once, nothing pending
    EXPECT_EQ(bytes, 0u);

    Feed("hidraw10", Counting(0x40, 64));
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));  // a retired read writes nothing
    reader->Start(buffer.data(), 65);
    ASSERT_EQ(reader->Wait(0), HidWaitResult::Signalled);
    EXPECT_TRUE(reader->Result(false, bytes));
    EXPECT_EQ(bytes, 65u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0x40);
    EXPECT_EQ(buffer[64], 0x7F);
    hid->Close(handle);
}

// A read on a handle without an open node never starts, so it never signals
// and its result comes at once.
TEST_F(HidrawLayerTest, ReadWithoutOpenNodeNeverSignals) {
    const HidHandle keep = hid->Open(Path("hidraw2"), HidAccess::ReadWrite, HidIoMode::Overlapped);
    Feed("hidraw2", {0x01, 0x02});
    const HidHandle queryOnly = hid->Open(Path("hidraw2"), HidAccess::QueryOnly, HidIoMode::Overlapped);
    for (HidHandle handle : {queryOnly, InvalidHidHandle}) {
        const auto reader = hid->CreateReader(handle);
        ASSERT_NE(reader, nullptr);
        std::array<std::uint8_t, 65> buffer{};
        reader->Start(buffer.data(), 65);
        EXPECT_EQ(reader->Wait(0), HidWaitResult::TimedOut);
        std::uint32_t bytes = 1234;
        EXPECT_FALSE(reader->Result(true, bytes));
        EXPECT_EQ(bytes, 0u);
        EXPECT_EQ(buffer, (std::array<std::uint8_t, 65>{}));
    }
    hid->Close(queryOnly);
    hid->Close(keep);
}

TEST_F(HidrawLayerTest, HandlesHoldOneDescriptorEachUntilClosedOnce) {
    const int before = OpenFdCount();
    const HidHandle a = hid->Open(Path("hidraw2"), HidAccess::ReadWrite, HidIoMode::Synchronous);
    const HidHandle b = hid->Open(Path("hidraw2#1"), HidAccess::ReadWrite, HidIoMode::Overlapped);
    const HidHandle c = hid->Open(Path("hidraw10"), HidAccess::QueryOnly, HidIoMode::Synchronous);
    EXPECT_EQ(OpenFdCount(), before + 2);  // query-only holds none
    EXPECT_TRUE(a != b && b != c && a != c);
    hid->Close(a);
    hid->Close(b);
    hid->Close(c);
    EXPECT_EQ(OpenFdCount(), before);

    // A second close must not close a descriptor that took the number since.
    const int unrelated = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    hid->Close(a);
    hid->Close(b);
    EXPECT_NE(::fcntl(unrelated, F_GETFD), -1);
    ::close(unrelated);
}

TEST_F(HidrawLayerTest, LayerReleasesWhatIsStillOpen) {
    const int before = OpenFdCount();
    hid->Open(Path("hidraw2"), HidAccess::ReadWrite, HidIoMode::Synchronous);
    hid.reset();
    EXPECT_EQ(OpenFdCount(), before);
}

// This machine's own hidraw class: without hidraw devices there is nothing to
// enumerate.
TEST(PlatformHidLayer, FindsNoInterfaceWithoutHidrawDevices) {
    std::error_code error;
    if (fs::exists("/sys/class/hidraw", error) && !fs::is_empty("/sys/class/hidraw", error))
        GTEST_SKIP() << "this machine has hidraw devices";
    const auto hid = CreatePlatformHidLayer();
    EXPECT_TRUE(hid->EnumerateInterfaces().empty());
}

}  // namespace
