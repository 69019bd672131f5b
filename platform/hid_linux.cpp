// The HID layer over Linux hidraw and sysfs (no extra library).
//
// Where things come from, for a node hidrawN (sysfs dir S = classDir/hidrawN):
// - the report descriptor: S/device/report_descriptor, readable by everyone,
//   so enumeration and query-only handles need no rights on the device node;
// - vendor and product: the HID_ID line of S/device/uevent (what
//   HIDIOCGRAWINFO gives on an open node);
// - version: the USB device's bcdDevice, S/device/../../bcdDevice (S/device is
//   the HID device, its parent the USB interface, the grandparent the USB
//   device); 0 for a device that is not on USB (e.g. one made through uhid);
// - product string: the USB interface's string, S/device/../interface. Windows
//   gives the same text for an interface of a composite device, whose generic
//   parent driver puts the interface's iInterface string in place of iProduct.
//   Without such a string (no USB interface, or no iInterface), the HID name:
//   the HID_NAME line of the uevent, which is what HIDIOCGRAWNAME returns.
#include "platform/hid_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/hid_report_descriptor.h"

namespace ob310 {

namespace {

// Larger than any sysfs text attribute and than HID_MAX_DESCRIPTOR_SIZE.
constexpr std::size_t MaxSysfsFileBytes = 65536;

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0 || text.size() + static_cast<std::size_t>(n) > MaxSysfsFileBytes) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        // A short read is the end of the file (sysfs hands over an attribute
        // in one read); it saves a system call per file.
        if (static_cast<std::size_t>(n) < sizeof chunk) {
            break;
        }
    }
    ::close(fd);
    return text;
}

// A sysfs text attribute without its line end.
std::optional<std::string> ReadAttribute(const std::string& path) {
    auto text = ReadWholeFile(path);
    if (text && !text->empty() && text->back() == '\n') {
        text->pop_back();
    }
    return text;
}

// The value of `KEY=value` in a uevent file.
std::optional<std::string> UeventValue(const std::string& uevent, std::string_view key) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string::npos) {
            end = uevent.size();
        }
        const std::string_view line(uevent.data() + start, end - start);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        start = end + 1;
    }
    return std::nullopt;
}

bool ParseHex(std::string_view text, std::uint32_t& value) {
    if (text.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return error == std::errc() && end == text.data() + text.size();
}

// UTF-8 to UTF-16; a byte that does not start a valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;
        if (lead < 0x80) {
            length = 1, code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1Fu, least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0Fu, least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07u, least = 0x10000;
        }
        bool ok = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; ok && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            ok = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        ok = ok && code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (!ok) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 | (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// Numeric-aware order: hidraw2 before hidraw10, .../usb1/1-2 before .../usb1/1-10.
bool NaturalLess(std::string_view a, std::string_view b) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (!isDigit(a[i]) || !isDigit(b[j])) {
            if (a[i] != b[j]) {
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            }
            ++i, ++j;
            continue;
        }
        std::size_t endA = i;
        std::size_t endB = j;
        while (endA < a.size() && isDigit(a[endA])) {
            ++endA;
        }
        while (endB < b.size() && isDigit(b[endB])) {
            ++endB;
        }
        while (i + 1 < endA && a[i] == '0') {
            ++i;
        }
        while (j + 1 < endB && b[j] == '0') {
            ++j;
        }
        const std::string_view x = a.substr(i, endA - i);
        const std::string_view y = b.substr(j, endB - j);
        if (x.size() != y.size()) {
            return x.size() < y.size();
        }
        if (x != y) {
            return x < y;
        }
        i = endA, j = endB;
    }
    return a.size() - i < b.size() - j;
}

HidReportDescriptorInfo ReadDescriptor(const std::string& sysDir) {
    const auto bytes = ReadWholeFile(sysDir + "/device/report_descriptor");
    if (!bytes) {
        return {};
    }
    return ParseReportDescriptor(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

// Where a node sits: the USB device it belongs to and its interface number
// there. A node that is not on USB (uhid) has no interface number and is
// placed by the HID device's parent.
struct NodePlace {
    std::string name;
    std::string device;
    long interfaceNumber = -1;
};

// `link` read from the symbolic link `path`, as a path without "." and ".."
// (sysfs has no links inside /sys/devices, so this is the real path), or
// `path` itself when it is no link.
std::string FollowLink(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) {
        return path;
    }
    const std::string link(target, static_cast<std::size_t>(n));
    if (link.starts_with("/")) {
        return std::filesystem::path(link).lexically_normal().string();
    }
    return (std::filesystem::path(path).parent_path() / link).lexically_normal().string();
}

// Two readlink() calls rather than realpath(), which looks up every part of
// the long sysfs path: enumeration runs on every start of the tool.
NodePlace PlaceOf(const std::string& classDir, const std::string& name) {
    NodePlace place{name, {}, -1};
    const std::string hidDevice = FollowLink(FollowLink(classDir + "/" + name) + "/device");
    const std::string usbInterface = hidDevice.substr(0, hidDevice.rfind('/'));
    std::uint32_t number = 0;
    const auto text = ReadAttribute(usbInterface + "/bInterfaceNumber");
    if (text && ParseHex(*text, number)) {
        place.device = usbInterface.substr(0, usbInterface.rfind('/'));
        place.interfaceNumber = number;
    } else {
        place.device = usbInterface;
    }
    return place;
}

// Grouped by device (USB path), then by interface number, then by node.
bool PlaceOrder(const NodePlace& a, const NodePlace& b) {
    if (a.device != b.device) {
        return NaturalLess(a.device, b.device);
    }
    if (a.interfaceNumber != b.interfaceNumber) {
        return a.interfaceNumber < b.interfaceNumber;
    }
    return NaturalLess(a.name, b.name);
}

class HidrawLayer;

// One timed read on a hidraw node. Nothing is ever pending in the kernel: the
// read() happens inside Wait once poll() reports a report, so a cancelled or
// timed-out read can never write into the buffer later.
class HidrawReader final : public HidReader {
public:
    HidrawReader(HidrawLayer& layer, HidHandle handle) : layer_(layer), handle_(handle) {}

    void Start(std::uint8_t* buffer, std::uint32_t length) override;
    HidWaitResult Wait(std::uint32_t timeoutMs) override;

    // Nothing is pending in the kernel, so there is nothing to cancel.
    void Cancel() override {}

    // Never blocks: a read that has not completed inside Wait never will.
    bool Result(bool /*wait*/, std::uint32_t& bytes) override {
        bytes = state_ == State::Done ? bytes_ : 0;
        return state_ == State::Done;
    }

private:
    enum class State { Idle, Pending, Done, Failed };

    HidrawLayer& layer_;
    HidHandle handle_;
    int fd_ = -1;
    bool prependReportId_ = false;
    const std::vector<std::uint8_t>* acceptedIds_ = nullptr;
    std::uint8_t* buffer_ = nullptr;
    std::uint32_t length_ = 0;
    std::uint32_t bytes_ = 0;
    std::vector<std::uint8_t> scratch_;
    State state_ = State::Idle;
};

// Handles are cheap: opening one touches only sysfs. Every handle of a node
// that may carry reports shares one file descriptor, opened at the first
// report I/O and closed with the node's last handle. The first open of a node
// that no one holds costs about 57 ms in the kernel (usbhid starts the
// interrupt-in pipe and lets 50 ms of stale reports drain), so the node is
// opened once per run and only when a request needs it.
class HidrawLayer final : public HidLayer {
public:
    HidrawLayer(std::string classDir, std::string devDir, HidrawClock& clock)
        : classDir_(std::move(classDir)), devDir_(std::move(devDir)), clock_(clock) {}

    ~HidrawLayer() override {
        for (const auto& [name, node] : nodes_)
            if (node.fd >= 0) {
                ::close(node.fd);
            }
    }

    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<NodePlace> places;
        if (DIR* dir = ::opendir(classDir_.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (entry->d_name[0] != '.') {
                    places.push_back(PlaceOf(classDir_, entry->d_name));
                }
            ::closedir(dir);
        }
        // hidraw numbers are reused after a replug, so they say nothing about
        // which device a node belongs to: the six interfaces of one device
        // must follow each other, and the first device must stay first.
        std::sort(places.begin(), places.end(), PlaceOrder);

        std::vector<std::string> paths;
        for (const NodePlace& place : places) {
            // A node whose descriptor cannot be read still is one interface,
            // one without capabilities.
            const std::size_t count =
                std::max<std::size_t>(Descriptor(place.name).collections.size(), 1);
            const std::string path = devDir_ + "/" + place.name;
            paths.push_back(path);
            for (std::size_t collection = 1; collection < count; ++collection)
                paths.push_back(path + "#" + std::to_string(collection));
        }
        return paths;
    }

    // Opens no file. A read-write handle is refused when this process may not
    // open the node for reading and writing (faccessat with the effective
    // IDs), so that discovery falls back to a query-only handle exactly as
    // when an open fails; an open that fails later fails the I/O instead.
    HidHandle Open(const std::string& path, HidAccess access, HidIoMode /*mode*/) override {
        std::string name;
        std::size_t collection = 0;
        if (!SplitPath(path, name, collection)) {
            return InvalidHidHandle;
        }
        const NodeInfo& node = Info(name);
        if (!node.present ||
            collection >= std::max<std::size_t>(node.descriptor.collections.size(), 1))
            return InvalidHidHandle;
        const bool reports = access == HidAccess::ReadWrite;
        if (reports && !node.readWrite) {
            return InvalidHidHandle;
        }

        OpenInterface entry{name, collection, reports};
        ++nodes_[name].handles;
        const HidHandle handle = nextHandle_++;
        open_.emplace(handle, std::move(entry));
        return handle;
    }

    // The node is there, but its mode (root's 0600 without a udev rule)
    // keeps this process out.
    bool ReportsDenied(const std::string& path) override {
        std::string name;
        std::size_t collection = 0;
        return SplitPath(path, name, collection) && Info(name).denied;
    }

    void Close(HidHandle handle) override {
        const auto it = open_.find(handle);
        if (it == open_.end()) {
            return;
        }
        const auto node = nodes_.find(it->second.node);
        open_.erase(it);
        if (--node->second.handles > 0) {
            return;
        }
        if (node->second.fd >= 0) {
            ::close(node->second.fd);
        }
        nodes_.erase(node);
    }

    // Vendor and product come from the uevent's HID_ID, the same values that
    // HIDIOCGRAWINFO gives, without opening the node.
    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr) {
            return false;
        }
        const std::string sysDir = classDir_ + "/" + entry->node;
        // HID_ID=BBBB:VVVVVVVV:PPPPPPPP
        const auto uevent = ReadWholeFile(sysDir + "/device/uevent");
        const auto id = uevent ? UeventValue(*uevent, "HID_ID") : std::nullopt;
        if (!id || id->size() != 22 || (*id)[4] != ':' || (*id)[13] != ':') {
            return false;
        }
        std::uint32_t bus = 0;
        std::uint32_t vendor = 0;
        std::uint32_t product = 0;
        if (!ParseHex(std::string_view(*id).substr(0, 4), bus) ||
            !ParseHex(std::string_view(*id).substr(5, 8), vendor) ||
            !ParseHex(std::string_view(*id).substr(14, 8), product) || vendor > 0xFFFF ||
            product > 0xFFFF)
            return false;
        std::uint32_t version = 0;
        const auto bcd = ReadAttribute(sysDir + "/device/../../bcdDevice");
        if (!bcd || !ParseHex(*bcd, version) || version > 0xFFFF) {
            version = 0;
        }
        attributes.vendorId = static_cast<std::uint16_t>(vendor);
        attributes.productId = static_cast<std::uint16_t>(product);
        attributes.versionNumber = static_cast<std::uint16_t>(version);
        return true;
    }

    bool ReadCaps(HidHandle handle, HidCaps& caps) override {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr) {
            return false;
        }
        const HidReportDescriptorInfo& info = Descriptor(entry->node);
        if (info.collections.empty()) {
            return false;
        }
        const HidTopLevelCollection& c = info.collections[entry->collection];
        caps = HidCaps{};
        caps.usagePage = c.usagePage;
        caps.usage = c.usage;
        caps.inputReportByteLength = c.inputReportByteLength;
        caps.outputReportByteLength = c.outputReportByteLength;
        caps.featureReportByteLength = c.featureReportByteLength;
        return true;
    }

    // Copies as many whole UTF-16 code units as fit into `bufferBytes` and a
    // NUL after them when there is room; a longer string is cut, not refused.
    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        const OpenInterface* entry = Find(handle);
        const std::uint32_t room = bufferBytes / sizeof(char16_t);
        if (entry == nullptr || buffer == nullptr || room == 0) {
            return false;
        }
        const std::string sysDir = classDir_ + "/" + entry->node;
        auto text = ReadAttribute(sysDir + "/device/../interface");
        if (!text) {
            const auto uevent = ReadWholeFile(sysDir + "/device/uevent");
            if (uevent) {
                text = UeventValue(*uevent, "HID_NAME");
            }
        }
        if (!text) {
            return false;
        }
        const std::u16string wide = Utf8ToUtf16(*text);
        const std::size_t copied = std::min<std::size_t>(wide.size(), room);
        std::copy_n(wide.begin(), copied, buffer);
        if (copied < room) {
            buffer[copied] = u'\0';
        }
        return true;
    }

    // Byte 0 is the report ID. For a device without report IDs it is 0 and the
    // kernel drops it before the report goes out, yet counts it in what
    // write() returns, so 65 bytes handed over give 65.
    //
    // The kernel bounds the write itself, so `timeoutMs` needs no timer here:
    // hidraw's write() (which ignores O_NONBLOCK) returns once usbhid has sent
    // the report with usb_interrupt_msg, or with a SET_REPORT control transfer
    // on an interface without an interrupt-out endpoint, both limited to
    // USB_CTRL_SET_TIMEOUT (5000 ms); uhid queues the report without waiting.
    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t /*timeoutMs*/) override {
        const int fd = Fd(handle);
        if (fd < 0 || data == nullptr || length == 0) {
            return 0;
        }
        for (;;) {
            const ssize_t n = ::write(fd, data, length);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return 0;
            }
            return std::min<std::uint32_t>(static_cast<std::uint32_t>(n), length);
        }
    }

    // The node has one queue for all its collections; whatever waits there
    // now is stale for every one of them. A node not opened yet has nothing
    // queued for this process (hidraw keeps a queue per open file).
    void FlushInput(HidHandle readHandle) override {
        const OpenInterface* entry = Find(readHandle);
        if (entry == nullptr || !entry->reports) {
            return;
        }
        const int fd = nodes_[entry->node].fd;
        if (fd < 0) {
            return;
        }
        std::uint8_t discard[MaxReportBytes];
        for (;;) {
            const ssize_t n = ::read(fd, discard, sizeof discard);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
        }
    }

    // A reader needs no event here, so it can always be made; on a handle
    // without a node open its reads never start.
    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override {
        return std::make_unique<HidrawReader>(*this, readHandle);
    }

    // What a reader needs of its handle: the node's descriptor, opened on
    // first use (-1 when the handle carries no reports or the node cannot be
    // opened or has gone), whether report IDs are in use, and the input report
    // IDs that belong to the handle's collection.
    struct ReadTarget {
        bool reports = false;
        int fd = -1;
        bool usesReportIds = false;
        const std::vector<std::uint8_t>* inputReportIds = nullptr;
    };

    ReadTarget Target(HidHandle handle) {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr || !entry->reports) {
            return {};
        }
        const HidReportDescriptorInfo& info = Descriptor(entry->node);
        const HidTopLevelCollection* collection =
            info.collections.empty() ? nullptr : &info.collections[entry->collection];
        return {true, Fd(handle), info.usesReportIds,
                collection ? &collection->inputReportIds : nullptr};
    }

    // After a hang-up or an I/O error the node is gone: later I/O fails at once.
    void MarkFailed(HidHandle handle) {
        if (const OpenInterface* entry = Find(handle)) {
            nodes_[entry->node].failed = true;
        }
    }

    HidrawClock& Clock() { return clock_; }

private:
    // hidraw's largest report (HID_MAX_BUFFER_SIZE).
    static constexpr std::size_t MaxReportBytes = 16384;

    struct Node {
        int fd = -1;
        bool failed = false;  // could not be opened, hung up or failed an I/O
        int handles = 0;
    };

    struct OpenInterface {
        std::string node;
        std::size_t collection = 0;
        bool reports = false;  // false: query-only
    };

    const OpenInterface* Find(HidHandle handle) const {
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : &it->second;
    }

    int Fd(HidHandle handle) {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr || !entry->reports) {
            return -1;
        }
        Node& node = nodes_[entry->node];
        if (node.fd < 0 && !node.failed) {
            // Never blocking in read(): a report that poll() announced may
            // have been taken by another reader meanwhile.
            node.fd =
                ::open((devDir_ + "/" + entry->node).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            node.failed = node.fd < 0;
        }
        return node.failed ? -1 : node.fd;
    }

    // What a node is, looked at once per run.
    struct NodeInfo {
        bool present = false;    // in the class directory
        bool readWrite = false;  // this process may open it for reading and writing
        bool denied = false;     // it may not, for lack of rights
        HidReportDescriptorInfo descriptor;
    };

    const NodeInfo& Info(const std::string& name) {
        const auto it = infos_.find(name);
        if (it != infos_.end()) {
            return it->second;
        }
        NodeInfo info;
        struct stat status {};
        info.present = ::stat((classDir_ + "/" + name).c_str(), &status) == 0;
        if (info.present) {
            info.readWrite =
                ::faccessat(AT_FDCWD, (devDir_ + "/" + name).c_str(), R_OK | W_OK, AT_EACCESS) == 0;
            info.denied = !info.readWrite && (errno == EACCES || errno == EPERM);
            info.descriptor = ReadDescriptor(classDir_ + "/" + name);
        }
        return infos_.emplace(name, std::move(info)).first->second;
    }

    const HidReportDescriptorInfo& Descriptor(const std::string& name) {
        return Info(name).descriptor;
    }

    // devDir/NODE or devDir/NODE#N with N from 1, as EnumerateInterfaces
    // writes them.
    bool SplitPath(const std::string& path, std::string& node, std::size_t& collection) const {
        const std::string prefix = devDir_ + "/";
        if (!path.starts_with(prefix)) {
            return false;
        }
        const std::string rest = path.substr(prefix.size());
        const std::size_t mark = rest.find('#');
        node = rest.substr(0, mark);
        if (node.empty() || node == "." || node == ".." || node.find('/') != std::string::npos) {
            return false;
        }
        collection = 0;
        if (mark == std::string::npos) {
            return true;
        }
        const std::string_view number = std::string_view(rest).substr(mark + 1);
        if (number.empty() || number.size() > 4 || number[0] == '0') {
            return false;
        }
        const auto [end, error] =
            std::from_chars(number.data(), number.data() + number.size(), collection);
        return error == std::errc() && end == number.data() + number.size();
    }

    std::string classDir_;
    std::string devDir_;
    HidrawClock& clock_;
    std::map<HidHandle, OpenInterface> open_;
    std::map<std::string, Node> nodes_;
    std::map<std::string, NodeInfo> infos_;
    HidHandle nextHandle_ = 1;
};

void HidrawReader::Start(std::uint8_t* buffer, std::uint32_t length) {
    buffer_ = buffer;
    length_ = length;
    bytes_ = 0;
    const HidrawLayer::ReadTarget target = layer_.Target(handle_);
    fd_ = target.fd;
    prependReportId_ = !target.usesReportIds;
    acceptedIds_ = target.usesReportIds ? target.inputReportIds : nullptr;
    const std::uint32_t least = prependReportId_ ? 2 : 1;
    if (!target.reports || buffer == nullptr || length < least) {
        // On a query-only or invalid handle the read does not start and never
        // completes, as a failed ReadFile leaves its event unsignalled.
        state_ = State::Idle;
    } else {
        // A node that cannot be opened or has gone fails the read at once.
        state_ = fd_ >= 0 ? State::Pending : State::Failed;
    }
}

HidWaitResult HidrawReader::Wait(std::uint32_t timeoutMs) {
    HidrawClock& clock = layer_.Clock();
    const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
    if (state_ == State::Failed) {
        return HidWaitResult::Signalled;
    }
    if (state_ != State::Pending) {
        // No read in flight: nothing will signal, the whole time passes.
        clock.Poll(nullptr, 0, timeout);
        return HidWaitResult::TimedOut;
    }
    // The device is gone (POLLHUP, POLLERR, a read error): the read completes
    // with an error at once, and so will every later I/O on the node, so the
    // request fails now instead of waiting out its attempts.
    const auto fail = [this] {
        state_ = State::Failed;
        layer_.MarkFailed(handle_);
        return HidWaitResult::Signalled;
    };
    // hidraw hands over one report per read(). For a device without report IDs
    // it has no ID byte; a 0 goes in front so that byte 0 is the report ID, as
    // on Windows, and is counted.
    std::uint8_t* target = prependReportId_ ? buffer_ + 1 : buffer_;
    const std::uint32_t room = prependReportId_ ? length_ - 1 : length_;
    scratch_.resize(room);
    const auto deadline = clock.Now() + std::chrono::milliseconds(timeout);
    // Ends by the deadline also when the node keeps reporting input that is
    // not this read's (reports of another collection).
    for (bool first = true;; first = false) {
        if (!first && clock.Now() >= deadline) {
            return HidWaitResult::TimedOut;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.Now());
        pollfd entry{fd_, POLLIN, 0};
        const int ready =
            clock.Poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return fail();
        }
        if (ready == 0) {
            return HidWaitResult::TimedOut;
        }
        // Reports queued before a hang-up are still read.
        if ((entry.revents & POLLIN) == 0) {
            return fail();
        }
        const ssize_t n = ::read(fd_, scratch_.data(), scratch_.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;  // taken by another reader
        }
        if (n <= 0) {
            return fail();
        }
        // One node carries the reports of all its collections: a report whose
        // ID belongs to another collection is not this read's and is dropped.
        if (acceptedIds_ != nullptr &&
            !std::binary_search(acceptedIds_->begin(), acceptedIds_->end(), scratch_[0]))
            continue;
        std::copy_n(scratch_.begin(), n, target);
        if (prependReportId_) {
            buffer_[0] = 0;
        }
        bytes_ = static_cast<std::uint32_t>(n) + (prependReportId_ ? 1 : 0);
        state_ = State::Done;
        return HidWaitResult::Signalled;
    }
}

}  // namespace

HidrawClock& SystemHidrawClock() {
    class System final : public HidrawClock {
    public:
        std::chrono::steady_clock::time_point Now() override {
            return std::chrono::steady_clock::now();
        }
        int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
            return ::poll(fds, count, timeoutMs);
        }
    };
    static System clock;
    return clock;
}

std::unique_ptr<HidLayer> CreateHidrawLayer(const std::string& classDir, const std::string& devDir,
                                            HidrawClock& clock) {
    return std::make_unique<HidrawLayer>(classDir, devDir, clock);
}

std::unique_ptr<HidLayer> CreatePlatformHidLayer() {
    return CreateHidrawLayer("/sys/class/hidraw", "/dev");
}

}  // namespace ob310
