#include "simulator/sim_hid_layer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace ob310 {

namespace {

constexpr std::uint16_t ForeignVendorId = 0xFFFE;
constexpr std::uint16_t ForeignProductId = 0x0001;

std::string PathOf(std::size_t device, std::size_t interfaceIndex) {
    return "sim/" + std::to_string(device) + "/" + std::to_string(interfaceIndex);
}

// "sim/D/I" back to its indexes; false for anything else.
bool ParsePath(const std::string& path, std::size_t& device, std::size_t& interfaceIndex) {
    unsigned long d = 0;
    unsigned long i = 0;
    char tail = 0;
    if (std::sscanf(path.c_str(), "sim/%lu/%lu%c", &d, &i, &tail) != 2) {
        return false;
    }
    device = d;
    interfaceIndex = i;
    return PathOf(device, interfaceIndex) == path;
}

std::string HandleText(HidHandle handle) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(handle));
    return text;
}

SimInterfaceOptions MakeInterface(std::u16string name, std::uint16_t input, std::uint16_t output,
                                  bool queryOnly) {
    SimInterfaceOptions options;
    options.productString = std::move(name);
    options.inputReportLength = input;
    options.outputReportLength = output;
    options.queryOnly = queryOnly;
    return options;
}

}  // namespace

std::vector<SimInterfaceOptions> Ob310Interfaces() {
    // Keyboards and mice are held exclusively by the system on Windows, so
    // they open only with access 0 there; the sim does the same.
    std::vector<SimInterfaceOptions> interfaces{
        MakeInterface(u"Keyboard", 9, 2, true),
        MakeInterface(u"Keypad", 9, 2, true),
        MakeInterface(u"Consumer", 3, 0, false),
        MakeInterface(u"Mouse", 5, 0, true),
        MakeInterface(ConfigInterfaceName, 65, 65, false),
        MakeInterface(u"LEDs", 9, 9, false),
    };
    interfaces[4].carriesConfiguration = true;
    return interfaces;
}

// One timed read: the event flag and the control block of the platform, and
// the read that is in flight on it.
class SimHidLayer::Reader : public HidReader {
public:
    Reader(SimHidLayer& layer, HidHandle handle) : layer_(layer), handle_(handle) {}

    ~Reader() override {
        if (state_ == State::Pending) {
            layer_.Error("reader on handle " + HandleText(handle_) +
                         " released with a read pending");
        }
        const auto found = layer_.handles_.find(handle_);
        if (found != layer_.handles_.end() && found->second.open) {
            SettleLateAnswers(layer_.InterfaceOf(found->second));
        }
        SimEvent event;
        event.kind = SimEventKind::ReleaseReader;
        event.handle = handle_;
        layer_.Record(event);
    }

    void Start(std::uint8_t* buffer, std::uint32_t length) override {
        if (state_ == State::Pending) {
            layer_.Error("read started on handle " + HandleText(handle_) +
                         " while the previous read is pending");
        }
        // Starting a read resets the event, as ReadFile does.
        eventSet_ = false;
        bytes_ = 0;
        ok_ = false;
        state_ = State::NotStarted;
        const HandleInfo* info = layer_.Lookup(handle_, "read");
        if (info != nullptr && info->access == HidAccess::ReadWrite &&
            info->mode == HidIoMode::Overlapped && buffer != nullptr && length > 0) {
            state_ = State::Pending;
            buffer_ = buffer;
            length_ = length;
            // A report already in the input queue completes the read at once.
            Answer* answer = PendingAnswer();
            if (answer != nullptr && answer->arrived) {
                Complete(*answer);
            }
        }
        SimEvent event;
        event.kind = SimEventKind::StartRead;
        event.handle = handle_;
        event.length = length;
        event.ok = state_ == State::Pending;
        layer_.Record(event);
    }

    HidWaitResult Wait(std::uint32_t timeoutMs) override {
        HidWaitResult result = HidWaitResult::TimedOut;
        Answer* answer = state_ == State::Pending ? PendingAnswer() : nullptr;
        if (answer != nullptr) {
            const std::uint32_t wait = ++answer->waits;
            const SimRequestScript script = answer->script;
            const bool arrives = answer->hasReply && wait >= script.replyAtWait;
            if (arrives) {
                Complete(*answer);
            }
            if (script.failedWait == wait) {
                result = HidWaitResult::Failed;
            } else if (arrives && !script.replyRacesTimeout) {
                result = HidWaitResult::Signalled;
            }
        } else if (eventSet_) {
            result = HidWaitResult::Signalled;
        }

        if (result == HidWaitResult::Signalled) {
            eventSet_ = false;  // automatic reset
        } else if (result == HidWaitResult::TimedOut) {
            layer_.nowMs_ += timeoutMs;
        }
        SimEvent event;
        event.kind = SimEventKind::Wait;
        event.handle = handle_;
        event.length = timeoutMs;
        event.waitResult = result;
        layer_.Record(event);
        return result;
    }

    void Cancel() override {
        if (state_ == State::Pending) {
            state_ = State::Done;
            ok_ = false;
            bytes_ = 0;
            eventSet_ = true;
        }
        SimEvent event;
        event.kind = SimEventKind::Cancel;
        event.handle = handle_;
        layer_.Record(event);
    }

    bool Result(bool wait, std::uint32_t& bytes) override {
        bool ok = false;
        bytes = 0;
        if (state_ == State::Done) {
            ok = ok_;
            bytes = bytes_;
        } else if (state_ == State::Pending && wait) {
            layer_.Error("waiting for the result of a read on handle " + HandleText(handle_) +
                         " that nothing will complete");
        }
        SimEvent event;
        event.kind = SimEventKind::Result;
        event.handle = handle_;
        event.waitFlag = wait;
        event.ok = ok;
        event.transferred = bytes;
        layer_.Record(event);
        return ok;
    }

private:
    enum class State { NotStarted, Pending, Done };

    // The oldest answer owed on the interface behind the handle, if any.
    Answer* PendingAnswer() {
        const auto found = layer_.handles_.find(handle_);
        if (found == layer_.handles_.end() || !found->second.open) {
            return nullptr;
        }
        SimInterface& itf = layer_.InterfaceOf(found->second);
        return itf.answers.empty() ? nullptr : &itf.answers.front();
    }

    void Complete(Answer& answer) {
        const std::uint32_t count =
            static_cast<std::uint32_t>(std::min<std::size_t>(answer.length, length_));
        std::memcpy(buffer_, answer.bytes.data(), count);
        bytes_ = count;
        ok_ = true;
        state_ = State::Done;
        eventSet_ = true;
        const auto found = layer_.handles_.find(handle_);
        layer_.InterfaceOf(found->second).answers.pop_front();
    }

    SimHidLayer& layer_;
    HidHandle handle_;
    State state_ = State::NotStarted;
    std::uint8_t* buffer_ = nullptr;
    std::uint32_t length_ = 0;
    std::uint32_t bytes_ = 0;
    bool ok_ = false;
    bool eventSet_ = false;
};

SimHidLayer::SimHidLayer() = default;
SimHidLayer::~SimHidLayer() = default;

std::size_t SimHidLayer::AddDevice(SimDeviceOptions options) {
    Device device;
    device.model.state = options.state;
    device.vendorId = options.vendorId;
    device.productId = options.productId;
    device.faults = std::move(options.faults);
    for (SimInterfaceOptions& itf : options.interfaces) {
        device.interfaces.push_back(SimInterface{std::move(itf), 0, {}});
    }
    devices_.push_back(std::move(device));
    return devices_.size() - 1;
}

std::size_t SimHidLayer::AddForeignInterface(SimInterfaceOptions options) {
    SimDeviceOptions device;
    device.vendorId = ForeignVendorId;
    device.productId = ForeignProductId;
    device.interfaces = {std::move(options)};
    return AddDevice(std::move(device));
}

std::size_t SimHidLayer::DeviceCount() const { return devices_.size(); }
Ob310Model& SimHidLayer::Model(std::size_t device) { return devices_.at(device).model; }
const Ob310Model& SimHidLayer::Model(std::size_t device) const { return devices_.at(device).model; }

SimInterfaceOptions& SimHidLayer::Interface(std::size_t device, std::size_t interfaceIndex) {
    return devices_.at(device).interfaces.at(interfaceIndex).options;
}

void SimHidLayer::AddFault(std::size_t device, SimFaultRule rule) {
    devices_.at(device).faults.push_back(rule);
}
void SimHidLayer::ClearFaults(std::size_t device) { devices_.at(device).faults.clear(); }
void SimHidLayer::SetReaderCreationFails(bool fails) { readerCreationFails_ = fails; }
void SimHidLayer::SetEnumerationFails(bool fails) { enumerationFails_ = fails; }
void SimHidLayer::SetReportObserver(std::function<void(const SimReceivedReport&)> observer) {
    observer_ = std::move(observer);
}
void SimHidLayer::SetReportGate(std::function<bool(const SimReceivedReport&)> gate) {
    gate_ = std::move(gate);
}

const std::vector<SimReceivedReport>& SimHidLayer::ReceivedReports() const { return received_; }
const std::vector<SimEvent>& SimHidLayer::Events() const { return events_; }

std::size_t SimHidLayer::CountEvents(SimEventKind kind) const {
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(),
                      [kind](const SimEvent& event) { return event.kind == kind; }));
}

std::vector<SimEvent> SimHidLayer::EventsOf(SimEventKind kind) const {
    std::vector<SimEvent> selected;
    std::copy_if(events_.begin(), events_.end(), std::back_inserter(selected),
                 [kind](const SimEvent& event) { return event.kind == kind; });
    return selected;
}

const std::vector<std::string>& SimHidLayer::Errors() const { return errors_; }

std::size_t SimHidLayer::OpenHandleCount() const { return OpenHandles().size(); }

std::vector<HidHandle> SimHidLayer::OpenHandles() const {
    std::vector<HidHandle> open;
    for (const auto& [handle, info] : handles_) {
        if (info.open) {
            open.push_back(handle);
        }
    }
    return open;
}

bool SimHidLayer::IsOpen(HidHandle handle) const {
    const auto found = handles_.find(handle);
    return found != handles_.end() && found->second.open;
}

std::size_t SimHidLayer::OpensSucceeded() const { return opens_; }
std::size_t SimHidLayer::ClosesSucceeded() const { return closes_; }
std::uint64_t SimHidLayer::NowMs() const { return nowMs_; }

void SimHidLayer::ClearRecord() {
    received_.clear();
    events_.clear();
    errors_.clear();
}

std::vector<std::string> SimHidLayer::EnumerateInterfaces() {
    std::vector<std::string> paths;
    if (enumerationFails_) {
        return paths;
    }
    for (std::size_t d = 0; d < devices_.size(); ++d) {
        for (std::size_t i = 0; i < devices_[d].interfaces.size(); ++i) {
            paths.push_back(PathOf(d, i));
        }
    }
    return paths;
}

HidHandle SimHidLayer::Open(const std::string& path, HidAccess access, HidIoMode mode) {
    SimEvent event;
    event.kind = SimEventKind::Open;
    event.access = access;
    event.mode = mode;

    std::size_t d = 0;
    std::size_t i = 0;
    if (ParsePath(path, d, i) && d < devices_.size() && i < devices_[d].interfaces.size()) {
        event.device = d;
        event.interfaceIndex = i;
        SimInterface& itf = devices_[d].interfaces[i];
        const std::uint32_t ordinal = ++itf.opens;
        const SimInterfaceOptions& options = itf.options;
        const bool refused =
            options.unopenable ||
            ((options.queryOnly || options.reportsDenied) && access == HidAccess::ReadWrite) ||
            std::find(options.failingOpens.begin(), options.failingOpens.end(), ordinal) !=
                options.failingOpens.end();
        if (!refused) {
            const HidHandle handle = nextHandle_;
            nextHandle_ += 4;
            handles_[handle] = HandleInfo{d, i, access, mode, true};
            ++opens_;
            event.handle = handle;
            event.ok = true;
        }
    }
    events_.push_back(event);
    return event.handle;
}

bool SimHidLayer::ReportsDenied(const std::string& path) {
    std::size_t d = 0;
    std::size_t i = 0;
    return ParsePath(path, d, i) && d < devices_.size() && i < devices_[d].interfaces.size() &&
           devices_[d].interfaces[i].options.reportsDenied;
}

void SimHidLayer::Close(HidHandle handle) {
    SimEvent event;
    event.kind = SimEventKind::Close;
    event.handle = handle;
    const auto found = handles_.find(handle);
    if (handle == InvalidHidHandle) {
        Error("close of the invalid handle");
    } else if (found == handles_.end()) {
        Error("close of unknown handle " + HandleText(handle));
    } else if (!found->second.open) {
        Error("handle " + HandleText(handle) + " closed twice");
    } else {
        found->second.open = false;
        ++closes_;
        event.ok = true;
    }
    Record(event);
}

bool SimHidLayer::ReadAttributes(HidHandle handle, HidAttributes& attributes) {
    const HandleInfo* info = Lookup(handle, "attributes read");
    if (info == nullptr || InterfaceOf(*info).options.attributesUnreadable) {
        return false;
    }
    const Device& device = devices_[info->device];
    const SimInterfaceOptions& options = InterfaceOf(*info).options;
    attributes.vendorId = options.vendorId.value_or(device.vendorId);
    attributes.productId = options.productId.value_or(device.productId);
    attributes.versionNumber = device.model.state.versionNumber;
    return true;
}

bool SimHidLayer::ReadCaps(HidHandle handle, HidCaps& caps) {
    const HandleInfo* info = Lookup(handle, "capabilities read");
    if (info == nullptr || InterfaceOf(*info).options.capsUnreadable) {
        return false;
    }
    const SimInterfaceOptions& options = InterfaceOf(*info).options;
    caps = HidCaps{};
    caps.usagePage = options.carriesConfiguration ? 0xFF00 : 0x0001;
    caps.usage = 0x0001;
    caps.inputReportByteLength = options.inputReportLength;
    caps.outputReportByteLength = options.outputReportLength;
    caps.numberLinkCollectionNodes = 1;
    return true;
}

bool SimHidLayer::ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) {
    const HandleInfo* info = Lookup(handle, "product string read");
    if (info == nullptr || buffer == nullptr ||
        InterfaceOf(*info).options.productStringUnreadable) {
        return false;
    }
    // Like HidD_GetProductString: the string and its NUL, cut to the byte
    // length given (which may split a character).
    const std::u16string& text = InterfaceOf(*info).options.productString;
    const std::size_t bytes =
        std::min<std::size_t>((text.size() + 1) * sizeof(char16_t), bufferBytes);
    std::memcpy(buffer, text.c_str(), bytes);
    return true;
}

void SimHidLayer::FlushInput(HidHandle readHandle) {
    SimEvent event;
    event.kind = SimEventKind::Flush;
    event.handle = readHandle;
    // On Windows every handle has its own input queue; replies are read
    // through the overlapped handle, so only a flush of that one drops them.
    const HandleInfo* info = Lookup(readHandle, "flush");
    if (info != nullptr && info->mode == HidIoMode::Overlapped) {
        event.transferred = static_cast<std::uint32_t>(std::erase_if(
            InterfaceOf(*info).answers, [](const Answer& answer) { return answer.arrived; }));
    }
    Record(event);
}

void SimHidLayer::SettleLateAnswers(SimInterface& itf) {
    std::erase_if(itf.answers, [](const Answer& answer) { return !answer.hasReply; });
    for (Answer& answer : itf.answers) {
        answer.arrived = true;
    }
}

std::uint32_t SimHidLayer::WriteReport(HidHandle handle, const std::uint8_t* data,
                                       std::uint32_t length, std::uint32_t timeoutMs) {
    SimEvent event;
    event.kind = SimEventKind::Write;
    event.handle = handle;
    event.length = length;

    HandleInfo* info = Lookup(handle, "write");
    if (info != nullptr && info->mode == HidIoMode::Overlapped) {
        Error("synchronous write through overlapped handle " + HandleText(handle));
        info = nullptr;
    }
    // Without report IDs the only valid report ID byte is 0; the platform
    // refuses anything else, as it refuses writes without access.
    if (info == nullptr || info->access != HidAccess::ReadWrite || data == nullptr || length == 0 ||
        data[0] != 0 || InterfaceOf(*info).options.outputReportLength == 0) {
        Record(event);
        return 0;
    }

    Device& device = devices_[info->device];
    SimInterface& itf = InterfaceOf(*info);
    SimReceivedReport report;
    report.device = info->device;
    report.interfaceIndex = info->interfaceIndex;
    report.bytes.assign(data, data + length);
    std::uint32_t written = length;

    if (itf.options.carriesConfiguration) {
        report.requestNumber = ++device.requests;
        Report padded{};
        std::memcpy(padded.data(), data, std::min<std::size_t>(length, padded.size()));
        const SimRequestScript script = ScriptFor(device, padded, report.requestNumber);
        if (script.write == SimWrite::Short) {
            written = length - 1;
        } else if (script.write != SimWrite::Delivered) {
            if (script.write == SimWrite::Hangs) {
                nowMs_ += timeoutMs;
            }
            if (gate_) {
                report.write = script.write;
                gate_(report);
            }
            Record(event);
            return 0;
        }
        Answer answer;
        answer.script = script;
        answer.hasReply = script.reply;
        const std::optional<Ob310State> before =
            gate_ ? std::optional<Ob310State>(device.model.state) : std::nullopt;
        if (script.refuseWithStatus) {
            answer.bytes[1] = padded[1];
            answer.bytes[StatusByteOffset] = *script.refuseWithStatus;
            answer.length = ReportBufferSize;
        } else {
            answer.length = device.model.HandleReport(data, length, answer.bytes);
        }
        if (script.replyLength) {
            answer.length = std::min(*script.replyLength, ReportBufferSize);
        }
        report.replies = script.reply;
        report.replyAtWait = script.replyAtWait;
        report.reply.assign(answer.bytes.begin(),
                            answer.bytes.begin() + static_cast<std::ptrdiff_t>(answer.length));
        if (gate_ && !gate_(report)) {
            device.model.state = *before;
            Record(event);
            return 0;
        }
        SettleLateAnswers(itf);
        itf.answers.push_back(answer);
        if (script.replyTwice && answer.hasReply) {
            answer.arrived = true;
            itf.answers.push_back(answer);
        }
    }

    received_.push_back(report);
    event.transferred = written;
    Record(event);
    if (observer_) {
        observer_(received_.back());
    }
    return written;
}

std::unique_ptr<HidReader> SimHidLayer::CreateReader(HidHandle readHandle) {
    SimEvent event;
    event.kind = SimEventKind::CreateReader;
    event.handle = readHandle;
    event.ok = !readerCreationFails_;
    Record(event);
    if (readerCreationFails_) {
        return nullptr;
    }
    Lookup(readHandle, "reader creation");
    return std::make_unique<Reader>(*this, readHandle);
}

SimHidLayer::HandleInfo* SimHidLayer::Lookup(HidHandle handle, const char* operation) {
    if (handle == InvalidHidHandle) {
        return nullptr;
    }
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        Error(std::string(operation) + " on unknown handle " + HandleText(handle));
        return nullptr;
    }
    if (!found->second.open) {
        Error(std::string(operation) + " on closed handle " + HandleText(handle));
        return nullptr;
    }
    return &found->second;
}

SimHidLayer::SimInterface& SimHidLayer::InterfaceOf(const HandleInfo& info) {
    return devices_[info.device].interfaces[info.interfaceIndex];
}

const SimRequestScript& SimHidLayer::ScriptFor(const Device& device, const Report& report,
                                               std::uint64_t number) const {
    static const SimRequestScript healthy{};
    for (const SimFaultRule& rule : device.faults) {
        const SimRequestSelector& when = rule.when;
        bool matches = false;
        switch (when.kind) {
        case SimRequestSelector::Kind::Every: matches = true; break;
        case SimRequestSelector::Kind::RequestNumber: matches = when.value == number; break;
        case SimRequestSelector::Kind::Command: matches = report[1] == when.value; break;
        case SimRequestSelector::Kind::KeyTableIndex:
            matches = report[1] == static_cast<std::uint8_t>(CommandCode::KeyTableRecord) &&
                      report[2] == when.value;
            break;
        }
        if (matches) {
            return rule.script;
        }
    }
    return healthy;
}

void SimHidLayer::Record(SimEvent event) {
    const auto found = handles_.find(event.handle);
    if (found != handles_.end()) {
        event.device = found->second.device;
        event.interfaceIndex = found->second.interfaceIndex;
        event.access = found->second.access;
        event.mode = found->second.mode;
    }
    events_.push_back(event);
}

void SimHidLayer::Error(std::string text) { errors_.push_back(std::move(text)); }

}  // namespace ob310
