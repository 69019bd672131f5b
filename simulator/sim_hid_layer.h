// A scripted HID stack holding simulated OB310s (and, if wanted, foreign HID
// interfaces): the HidLayer the tests and the persistent simulator run over.
//
// Layout. Each added device is a list of interfaces that enumerate in order,
// device after device. By default a device is a whole OB310: six interfaces
// "Keyboard", "Keypad", "Consumer", "Mouse", "ConfigInterface", "LEDs" with the
// configuration interface at index 4, all reporting DeviceVendorId and
// DeviceProductId, and the version number of its Ob310State. Keyboard, Keypad
// and Mouse open only with access 0, as the system's own keyboards and mice
// do on Windows. A device with other IDs, or single interfaces with their own
// IDs, stand for foreign HID hardware.
//
// Conversation. A report written to the interface that carries the
// configuration protocol is logged, goes to the device's Ob310Model, and its
// reply waits for a read on that interface. Reports written to other
// interfaces are logged and never answered. Each report written to the
// configuration interface gets a request number (1, 2, ... per device, a
// report swallowed by a write fault included); fault rules select reports by
// that number, by command or by key-table record index and script how the
// device treats them.
//
// Input queue. A reply that comes after the read waiting for it gave up (its
// reader released, or the next report written first) is kept, like the input
// reports the platform's HID driver holds for a handle until they are read:
// the next read takes it at once, unless FlushInput through the interface's
// read (overlapped) handle discarded it first.
//
// Time is virtual: a wait or a hung write that times out adds its timeout to
// NowMs() and returns at once. Nothing ever sleeps.
//
// Record. Opens, closes, writes and each step of a read are appended to
// Events(); every report a device took to ReceivedReports(). Handles are counted:
// OpenHandleCount(), and misuse (closing a handle twice, closing the invalid or an unknown handle,
// using a closed handle, overlapping reads, releasing a reader with a read pending) is listed in
// Errors() instead of crashing.
//
// Not thread-safe; readers must not outlive the layer.
//
// Typical use:
//     SimHidLayer sim;
//     const std::size_t device = sim.AddDevice();      // a healthy OB310
//     sim.Model(device).state.pin = somePin;           // device state, read or set
//     SimRequestScript silent;
//     silent.reply = false;
//     sim.AddFault(device, {SimRequestSelector::ForKeyTableIndex(5), silent});
//     sim.SetReportObserver([&](const SimReceivedReport& r) { Save(sim.Model(r.device).state); });
//     ... run the tool over `sim` ...
//     sim.ReceivedReports(), sim.CountEvents(SimEventKind::Wait), sim.NowMs(),
//     sim.OpenHandleCount(), sim.Errors()
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/exchange.h"
#include "device/hid_layer.h"
#include "simulator/ob310_model.h"

namespace ob310 {

// What a write of a report does.
enum class SimWrite {
    Delivered,  // the device takes the report; the write returns its length
    Fails,      // the write fails (returns 0); the device never sees the report
    ZeroBytes,  // the write "succeeds" with 0 bytes written; the device never sees it
    Short,      // the device takes and answers the report, but the write reports one
                // byte fewer than its length
    Hangs,      // the device stops taking reports: the write is cancelled when its
                // time runs out and delivers 0; the device never sees the report
};

// How the device treats one report written to its configuration interface.
// The defaults are a healthy device answering during the first wait.
struct SimRequestScript {
    SimWrite write = SimWrite::Delivered;
    bool reply = true;               // false: the device never answers this report
    std::uint32_t replyAtWait = 1;   // the reply arrives during this wait (1-based) of the
                                     // read waiting for it; past that read's last wait it
                                     // arrives late, into the input queue
    bool replyRacesTimeout = false;  // that wait still times out, but the read completes
                                     // with the reply before a cancel can reach it
    std::uint32_t failedWait = 0;    // this wait (1-based) returns Failed; 0: none
    std::optional<std::uint8_t> refuseWithStatus{};  // the device refuses without looking:
                                                     // state unchanged, 65-byte reply
                                                     // [0, command, status]
    std::optional<std::size_t> replyLength{};        // the reply is cut to this many bytes
    bool replyTwice = false;  // a copy of the reply follows it at once: one stale report
                              // waits in the input queue once the reply is read
};

// Which reports a fault rule applies to.
struct SimRequestSelector {
    enum class Kind { Every, RequestNumber, Command, KeyTableIndex };
    Kind kind = Kind::Every;
    std::uint64_t value = 0;

    static SimRequestSelector Every() { return {}; }
    static SimRequestSelector AtRequest(std::uint64_t number) {
        return {Kind::RequestNumber, number};
    }
    static SimRequestSelector ForCommand(CommandCode command) {
        return {Kind::Command, static_cast<std::uint64_t>(command)};
    }
    static SimRequestSelector ForKeyTableIndex(std::uint8_t index) {
        return {Kind::KeyTableIndex, index};
    }
};

struct SimFaultRule {
    SimRequestSelector when;
    SimRequestScript script;
};

struct SimInterfaceOptions {
    std::u16string productString{};
    bool carriesConfiguration = false;         // answers requests through the device's model
    std::optional<std::uint16_t> vendorId{};   // default: the device's
    std::optional<std::uint16_t> productId{};  // default: the device's
    std::uint16_t inputReportLength = 65;
    std::uint16_t outputReportLength = 65;  // 0: the interface takes no output reports
    bool queryOnly = false;                 // read-write opens fail, access 0 opens work
    bool reportsDenied = false;             // the same for lack of rights (ReportsDenied)
    bool unopenable = false;                // opens fail with either access
    bool attributesUnreadable = false;
    bool capsUnreadable = false;
    bool productStringUnreadable = false;
    // Open calls on this interface that fail, by 1-based ordinal over every Open
    // of its path. Discovery opens a probe (1), then writeHandle (2) and
    // readHandle (3); for a query-only interface the refused read-write probe
    // is 1 and the others move on by one.
    std::vector<std::uint32_t> failingOpens{};
};

// The six interfaces of an OB310, "ConfigInterface" at index 4.
std::vector<SimInterfaceOptions> Ob310Interfaces();

struct SimDeviceOptions {
    std::uint16_t vendorId = DeviceVendorId;
    std::uint16_t productId = DeviceProductId;
    Ob310State state{};  // also gives the version number in the attributes
    std::vector<SimInterfaceOptions> interfaces = Ob310Interfaces();
    std::vector<SimFaultRule> faults;  // the first rule that matches a report applies
};

// One report as a device took it, and, on the configuration interface, what
// the device does with it.
struct SimReceivedReport {
    std::size_t device = 0;
    std::size_t interfaceIndex = 0;
    std::uint64_t requestNumber = 0;  // 0 for interfaces without the configuration protocol
    std::vector<std::uint8_t> bytes;
    SimWrite write = SimWrite::Delivered;  // Fails or Hangs: the device never saw it
    bool replies = false;                  // an answer comes, during wait replyAtWait
    std::uint32_t replyAtWait = 1;         // of the read waiting for it (past the last: late)
    std::vector<std::uint8_t> reply;       // the answer as the device sends it
};

enum class SimEventKind {
    Open,           // handle (InvalidHidHandle when it failed), access, mode, ok
    Close,          // handle, ok (false: invalid, unknown or already closed)
    Write,          // handle, length asked, transferred
    Flush,          // handle, transferred = input reports discarded
    CreateReader,   // handle, ok (false: event creation failed)
    ReleaseReader,  // handle
    StartRead,      // handle, length, ok (false: the read did not start)
    Wait,           // handle, length = timeout in ms, waitResult
    Cancel,         // handle
    Result,         // handle, waitFlag, ok = returned value, transferred
};

struct SimEvent {
    SimEventKind kind = SimEventKind::Open;
    HidHandle handle = InvalidHidHandle;
    std::uint32_t length = 0;
    std::uint32_t transferred = 0;
    bool ok = false;
    bool waitFlag = false;
    HidWaitResult waitResult = HidWaitResult::TimedOut;
    HidAccess access = HidAccess::ReadWrite;
    HidIoMode mode = HidIoMode::Synchronous;
    std::size_t device = 0;  // the interface behind the handle, when known
    std::size_t interfaceIndex = 0;
};

class SimHidLayer : public HidLayer {
public:
    SimHidLayer();
    ~SimHidLayer() override;
    SimHidLayer(const SimHidLayer&) = delete;
    SimHidLayer& operator=(const SimHidLayer&) = delete;

    // --- Setting up -------------------------------------------------------
    // Adds a device after those added before; returns its index.
    std::size_t AddDevice(SimDeviceOptions options = {});
    // Adds one foreign interface (its own vendor and product IDs, or the
    // defaults 0xFFFE:0x0001) as a device of its own.
    std::size_t AddForeignInterface(SimInterfaceOptions options);
    std::size_t DeviceCount() const;
    // The device's inner working; its `state` is the device state and may be
    // read or replaced at any time.
    Ob310Model& Model(std::size_t device);
    const Ob310Model& Model(std::size_t device) const;
    // Options of one interface; changes apply from the next operation on.
    SimInterfaceOptions& Interface(std::size_t device, std::size_t interfaceIndex);
    void AddFault(std::size_t device, SimFaultRule rule);
    void ClearFaults(std::size_t device);
    // The next CreateReader calls return nullptr while set.
    void SetReaderCreationFails(bool fails);
    // EnumerateInterfaces returns an empty list while set.
    void SetEnumerationFails(bool fails);
    // Called after each report a device took (its state already updated).
    void SetReportObserver(std::function<void(const SimReceivedReport&)> observer);
    // Asked for each report the configuration interface is about to take,
    // after the device answered it and before the write returns. False: the
    // report is not taken, as if the write had failed (0 bytes, the device
    // state put back, no reply). The persistent simulator refuses a report
    // whose change it can not keep. A report a write fault keeps from the
    // device (write Fails or Hangs) is shown to the gate too, and stays not
    // taken whatever it returns.
    void SetReportGate(std::function<bool(const SimReceivedReport&)> gate);

    // --- Record -----------------------------------------------------------
    const std::vector<SimReceivedReport>& ReceivedReports() const;
    const std::vector<SimEvent>& Events() const;
    std::size_t CountEvents(SimEventKind kind) const;
    std::vector<SimEvent> EventsOf(SimEventKind kind) const;
    const std::vector<std::string>& Errors() const;
    std::size_t OpenHandleCount() const;
    std::vector<HidHandle> OpenHandles() const;
    bool IsOpen(HidHandle handle) const;
    std::size_t OpensSucceeded() const;
    std::size_t ClosesSucceeded() const;
    std::uint64_t NowMs() const;
    // Forgets events, received reports and errors; handles, devices and the
    // clock stay.
    void ClearRecord();

    // --- HidLayer ---------------------------------------------------------
    std::vector<std::string> EnumerateInterfaces() override;
    HidHandle Open(const std::string& path, HidAccess access, HidIoMode mode) override;
    bool ReportsDenied(const std::string& path) override;
    void Close(HidHandle handle) override;
    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override;
    bool ReadCaps(HidHandle handle, HidCaps& caps) override;
    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override;
    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t timeoutMs) override;
    void FlushInput(HidHandle readHandle) override;
    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override;

private:
    class Reader;
    friend class Reader;

    // A reply, or the silence, the device owes for one report.
    struct Answer {
        SimRequestScript script;
        std::uint32_t waits = 0;
        bool hasReply = false;
        bool arrived = false;  // came late: waits in the input queue
        Report bytes{};
        std::size_t length = 0;
    };
    struct SimInterface {
        SimInterfaceOptions options;
        std::uint32_t opens = 0;
        std::deque<Answer> answers;  // oldest first
    };
    // The read waiting for the interface's answers gave up: silent answers
    // never come, owed replies arrive late into the input queue.
    static void SettleLateAnswers(SimInterface& itf);
    struct Device {
        Ob310Model model;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::vector<SimInterface> interfaces;
        std::vector<SimFaultRule> faults;
        std::uint64_t requests = 0;
    };
    struct HandleInfo {
        std::size_t device = 0;
        std::size_t interfaceIndex = 0;
        HidAccess access = HidAccess::ReadWrite;
        HidIoMode mode = HidIoMode::Synchronous;
        bool open = true;
    };

    // The open handle's record, or nullptr (an error is logged for closed or
    // unknown handles, not for InvalidHidHandle).
    HandleInfo* Lookup(HidHandle handle, const char* operation);
    SimInterface& InterfaceOf(const HandleInfo& info);
    const SimRequestScript& ScriptFor(const Device& device, const Report& report,
                                      std::uint64_t number) const;
    void Record(SimEvent event);
    void Error(std::string text);

    std::vector<Device> devices_;
    std::map<HidHandle, HandleInfo> handles_;
    HidHandle nextHandle_ = 0x1000;
    std::vector<SimReceivedReport> received_;
    std::vector<SimEvent> events_;
    std::vector<std::string> errors_;
    std::function<void(const SimReceivedReport&)> observer_;
    std::function<bool(const SimReceivedReport&)> gate_;
    std::uint64_t nowMs_ = 0;
    std::size_t opens_ = 0;
    std::size_t closes_ = 0;
    bool readerCreationFails_ = false;
    bool enumerationFails_ = false;
};

}  // namespace ob310
