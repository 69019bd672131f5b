// The HID layer over Linux hidraw and sysfs (no extra library).
//
// Where things come from, for a node hidrawN (sysfs dir S = classDir/hidrawN):
// - the report descriptor: S/device/report_descriptor, readable by everyone,
//   so enumeration and query-only handles need no rights on the device node;
// - vendor and product: HIDIOCGRAWINFO on an open node, or the HID_ID line of
//   S/device/uevent for a query-only handle (the same values);
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
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/hid_report_descriptor.h"

namespace {

// Larger than any sysfs text attribute and than HID_MAX_DESCRIPTOR_SIZE.
constexpr std::size_t MaxSysfsFileBytes = 65536;

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0 || text.size() + static_cast<std::size_t>(n) > MaxSysfsFileBytes) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// A sysfs text attribute without its line end.
std::optional<std::string> ReadAttribute(const std::string& path) {
    auto text = ReadWholeFile(path);
    if (text && !text->empty() && text->back() == '\n') text->pop_back();
    return text;
}

// The value of `KEY=value` in a uevent file.
std::optional<std::string> UeventValue(const std::string& uevent, std::string_view key) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string::npos) end = uevent.size();
        const std::string_view line(uevent.data() + start, end - start);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
            return std::string(line.substr(key.size() + 1));
        start = end + 1;
    }
    return std::nullopt;
}

bool ParseHex(std::string_view text, std::uint32_t& value) {
    if (text.empty()) return false;
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

// hidraw2 before hidraw10.
bool NodeOrder(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
        const std::string_view number(name.data() + digits, name.size() - digits);
        return std::tuple(std::string_view(name.data(), digits), number.size(), number);
    };
    return split(a) < split(b);
}

HidReportDescriptorInfo ReadDescriptor(const std::string& sysDir) {
    const auto bytes = ReadWholeFile(sysDir + "/device/report_descriptor");
    if (!bytes) return {};
    return ParseReportDescriptor(std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
}

// One timed read on a hidraw node. Nothing is ever pending in the kernel: the
// read() happens inside Wait once poll() reports a report, so a cancelled or
// timed-out read can never write into the buffer later.
class HidrawReader final : public HidReader {
public:
    HidrawReader(int fd, bool prependReportId) : fd_(fd), prependReportId_(prependReportId) {}

    void Start(std::uint8_t* buffer, std::uint32_t length) override {
        buffer_ = buffer;
        length_ = length;
        bytes_ = 0;
        // On a query-only or invalid handle the read does not start and never
        // completes, as a failed ReadFile leaves its event unsignalled.
        const std::uint32_t least = prependReportId_ ? 2 : 1;
        state_ = fd_ >= 0 && buffer != nullptr && length >= least ? State::Pending : State::Idle;
    }

    HidWaitResult Wait(std::uint32_t timeoutMs) override {
        const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
        if (state_ != State::Pending) {
            // No read in flight: nothing will signal, the whole time passes.
            ::poll(nullptr, 0, timeout);
            return HidWaitResult::TimedOut;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{fd_, POLLIN, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return HidWaitResult::Failed;
            if (ready == 0) return HidWaitResult::TimedOut;
            if ((entry.revents & POLLIN) == 0) {
                // POLLERR/POLLHUP: the device is gone. The read completes with
                // an error, as it does on Windows.
                state_ = State::Failed;
                return HidWaitResult::Signalled;
            }
            // hidraw hands over one report per read(). For a device without
            // report IDs it has no ID byte; put a 0 in front so that byte 0 is
            // the report ID, as on Windows, and count it.
            std::uint8_t* target = prependReportId_ ? buffer_ + 1 : buffer_;
            const std::uint32_t room = prependReportId_ ? length_ - 1 : length_;
            const ssize_t n = ::read(fd_, target, room);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;  // taken by another reader
            if (n < 0) {
                state_ = State::Failed;
                return HidWaitResult::Signalled;
            }
            if (prependReportId_) buffer_[0] = 0;
            bytes_ = static_cast<std::uint32_t>(n) + (prependReportId_ ? 1 : 0);
            state_ = State::Done;
            return HidWaitResult::Signalled;
        }
    }

    // Nothing is pending in the kernel, so there is nothing to cancel.
    void Cancel() override {}

    // Never blocks: a read that has not completed inside Wait never will.
    bool Result(bool /*wait*/, std::uint32_t& bytes) override {
        bytes = state_ == State::Done ? bytes_ : 0;
        return state_ == State::Done;
    }

private:
    enum class State { Idle, Pending, Done, Failed };

    int fd_;
    bool prependReportId_;
    std::uint8_t* buffer_ = nullptr;
    std::uint32_t length_ = 0;
    std::uint32_t bytes_ = 0;
    State state_ = State::Idle;
};

class HidrawLayer final : public HidLayer {
public:
    HidrawLayer(std::string classDir, std::string devDir)
        : classDir_(std::move(classDir)), devDir_(std::move(devDir)) {}

    ~HidrawLayer() override {
        for (const auto& [handle, entry] : open_)
            if (entry.fd >= 0) ::close(entry.fd);
    }

    std::vector<std::string> EnumerateInterfaces() override {
        std::vector<std::string> nodes;
        if (DIR* dir = ::opendir(classDir_.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (entry->d_name[0] != '.') nodes.emplace_back(entry->d_name);
            ::closedir(dir);
        }
        std::sort(nodes.begin(), nodes.end(), NodeOrder);

        std::vector<std::string> paths;
        for (const std::string& node : nodes) {
            const HidReportDescriptorInfo info = ReadDescriptor(classDir_ + "/" + node);
            // A node whose descriptor cannot be read still is one interface,
            // one without capabilities.
            const std::size_t count = std::max<std::size_t>(info.collections.size(), 1);
            const std::string path = devDir_ + "/" + node;
            paths.push_back(path);
            for (std::size_t collection = 1; collection < count; ++collection)
                paths.push_back(path + "#" + std::to_string(collection));
        }
        return paths;
    }

    HidHandle Open(const std::string& path, HidAccess access, HidIoMode mode) override {
        std::string node;
        std::size_t collection = 0;
        if (!SplitPath(path, node, collection)) return InvalidHidHandle;
        const std::string sysDir = classDir_ + "/" + node;
        struct stat status {};
        if (::stat(sysDir.c_str(), &status) != 0) return InvalidHidHandle;

        OpenInterface entry;
        entry.node = node;
        const HidReportDescriptorInfo info = ReadDescriptor(sysDir);
        if (collection >= std::max<std::size_t>(info.collections.size(), 1)) return InvalidHidHandle;
        if (!info.collections.empty()) {
            const HidTopLevelCollection& c = info.collections[collection];
            entry.haveCaps = true;
            entry.caps.usagePage = c.usagePage;
            entry.caps.usage = c.usage;
            entry.caps.inputReportByteLength = c.inputReportByteLength;
            entry.caps.outputReportByteLength = c.outputReportByteLength;
            entry.caps.featureReportByteLength = c.featureReportByteLength;
        }
        entry.usesReportIds = info.usesReportIds;

        // Query-only opens nothing: sysfs answers every query without rights
        // on the node, and reports cannot go through such a handle. (Even
        // O_RDONLY would need read rights and would let reads through.)
        if (access == HidAccess::ReadWrite) {
            // A read handle never blocks in read(): a report that poll()
            // announced may have been taken by another reader meanwhile.
            const int flags = O_RDWR | O_CLOEXEC | (mode == HidIoMode::Overlapped ? O_NONBLOCK : 0);
            entry.fd = ::open((devDir_ + "/" + node).c_str(), flags);
            if (entry.fd < 0) return InvalidHidHandle;
        }
        const HidHandle handle = nextHandle_++;
        open_.emplace(handle, std::move(entry));
        return handle;
    }

    void Close(HidHandle handle) override {
        const auto it = open_.find(handle);
        if (it == open_.end()) return;
        if (it->second.fd >= 0) ::close(it->second.fd);
        open_.erase(it);
    }

    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr) return false;
        const std::string sysDir = classDir_ + "/" + entry->node;
        std::uint32_t vendor = 0;
        std::uint32_t product = 0;
        hidraw_devinfo info{};
        if (entry->fd >= 0 && ::ioctl(entry->fd, HIDIOCGRAWINFO, &info) == 0) {
            // The kernel's fields are signed 16-bit.
            vendor = static_cast<std::uint16_t>(info.vendor);
            product = static_cast<std::uint16_t>(info.product);
        } else {
            // HID_ID=BBBB:VVVVVVVV:PPPPPPPP
            const auto uevent = ReadWholeFile(sysDir + "/device/uevent");
            const auto id = uevent ? UeventValue(*uevent, "HID_ID") : std::nullopt;
            if (!id || id->size() != 22 || (*id)[4] != ':' || (*id)[13] != ':') return false;
            std::uint32_t bus = 0;
            if (!ParseHex(std::string_view(*id).substr(0, 4), bus) ||
                !ParseHex(std::string_view(*id).substr(5, 8), vendor) ||
                !ParseHex(std::string_view(*id).substr(14, 8), product) || vendor > 0xFFFF ||
                product > 0xFFFF)
                return false;
        }
        std::uint32_t version = 0;
        const auto bcd = ReadAttribute(sysDir + "/device/../../bcdDevice");
        if (!bcd || !ParseHex(*bcd, version) || version > 0xFFFF) version = 0;
        attributes.vendorId = static_cast<std::uint16_t>(vendor);
        attributes.productId = static_cast<std::uint16_t>(product);
        attributes.versionNumber = static_cast<std::uint16_t>(version);
        return true;
    }

    bool ReadCaps(HidHandle handle, HidCaps& caps) override {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr || !entry->haveCaps) return false;
        caps = entry->caps;
        return true;
    }

    // Copies as many whole UTF-16 code units as fit into `bufferBytes` and a
    // NUL after them when there is room; a longer string is cut, not refused.
    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        const OpenInterface* entry = Find(handle);
        const std::uint32_t room = bufferBytes / sizeof(char16_t);
        if (entry == nullptr || buffer == nullptr || room == 0) return false;
        const std::string sysDir = classDir_ + "/" + entry->node;
        auto text = ReadAttribute(sysDir + "/device/../interface");
        if (!text) {
            const auto uevent = ReadWholeFile(sysDir + "/device/uevent");
            if (uevent) text = UeventValue(*uevent, "HID_NAME");
        }
        if (!text) return false;
        const std::u16string wide = Utf8ToUtf16(*text);
        const std::size_t copied = std::min<std::size_t>(wide.size(), room);
        std::copy_n(wide.begin(), copied, buffer);
        if (copied < room) buffer[copied] = u'\0';
        return true;
    }

    // Byte 0 is the report ID. For a device without report IDs it is 0 and the
    // kernel drops it before the report goes out, yet counts it in what
    // write() returns, so 65 bytes handed over give 65.
    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t /*timeoutMs*/) override {
        const OpenInterface* entry = Find(handle);
        if (entry == nullptr || entry->fd < 0 || data == nullptr || length == 0) return 0;
        for (;;) {
            const ssize_t n = ::write(entry->fd, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return 0;
            return std::min<std::uint32_t>(static_cast<std::uint32_t>(n), length);
        }
    }

    void FlushInput(HidHandle /*readHandle*/) override {}

    // A reader needs no event here, so it can always be made; on a handle
    // without a node open its reads never start.
    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override {
        const OpenInterface* entry = Find(readHandle);
        if (entry == nullptr) return std::make_unique<HidrawReader>(-1, false);
        return std::make_unique<HidrawReader>(entry->fd, !entry->usesReportIds);
    }

private:
    struct OpenInterface {
        int fd = -1;  // -1: query-only
        std::string node;
        bool haveCaps = false;
        HidCaps caps{};
        bool usesReportIds = false;
    };

    const OpenInterface* Find(HidHandle handle) const {
        const auto it = open_.find(handle);
        return it == open_.end() ? nullptr : &it->second;
    }

    // devDir/NODE or devDir/NODE#N with N from 1, as EnumerateInterfaces
    // writes them.
    bool SplitPath(const std::string& path, std::string& node, std::size_t& collection) const {
        const std::string prefix = devDir_ + "/";
        if (!path.starts_with(prefix)) return false;
        const std::string rest = path.substr(prefix.size());
        const std::size_t mark = rest.find('#');
        node = rest.substr(0, mark);
        if (node.empty() || node == "." || node == ".." || node.find('/') != std::string::npos) return false;
        collection = 0;
        if (mark == std::string::npos) return true;
        const std::string_view number = std::string_view(rest).substr(mark + 1);
        if (number.empty() || number.size() > 4 || number[0] == '0') return false;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), collection);
        return error == std::errc() && end == number.data() + number.size();
    }

    std::string classDir_;
    std::string devDir_;
    std::map<HidHandle, OpenInterface> open_;
    HidHandle nextHandle_ = 1;
};

}  // namespace

std::unique_ptr<HidLayer> CreateHidrawLayer(const std::string& classDir, const std::string& devDir) {
    return std::make_unique<HidrawLayer>(classDir, devDir);
}

std::unique_ptr<HidLayer> CreatePlatformHidLayer() {
    return CreateHidrawLayer("/sys/class/hidraw", "/dev");
}
