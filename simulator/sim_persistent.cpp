#include "simulator/sim_persistent.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "output/version.h"

namespace ob310 {

namespace {

constexpr const char* ProgramName = "ob310_cli_sim";

std::string RunMarker(int argc, const char* const* argv) {
    std::string marker = std::string("# run of ") + ProgramName + " " + Ob310VersionText + ":";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i] != nullptr ? argv[i] : "";
        for (char& c : argument) {
            if (c == '\n' || c == '\r') {
                c = ' ';  // one run, one marker line
            }
        }
        marker += " " + argument;
    }
    return marker;
}

// The fault rule of the HID layer that one fault line stands for.
SimFaultRule ToFaultRule(const SimFault& fault) {
    SimFaultRule rule;
    rule.when = fault.target == SimFault::Target::Request
                    ? SimRequestSelector::AtRequest(fault.index)
                    : SimRequestSelector::ForKeyTableIndex(static_cast<std::uint8_t>(fault.index));
    switch (fault.kind) {
    case SimFault::Kind::NoReply: rule.script.reply = false; break;
    case SimFault::Kind::ReplyAtWait: rule.script.replyAtWait = fault.value; break;
    case SimFault::Kind::WriteFails: rule.script.write = SimWrite::Fails; break;
    case SimFault::Kind::WriteHangs: rule.script.write = SimWrite::Hangs; break;
    case SimFault::Kind::Refuse:
        rule.script.refuseWithStatus = static_cast<std::uint8_t>(fault.value);
        break;
    case SimFault::Kind::Short: rule.script.replyLength = fault.value; break;
    }
    return rule;
}

// Builds the simulated HID stack a device file describes: `deviceCount`
// OB310s (the second and third with serial numbers one and two above the
// first), the first holding the file's state and faults.
void SetUpSimHidLayer(const SimDeviceFile& device, SimHidLayer& layer) {
    for (int i = 0; i < device.deviceCount; ++i) {
        SimDeviceOptions options;
        options.state = device.state;
        options.state.serial = device.state.serial + static_cast<std::uint32_t>(i);
        if (i == 0) {
            for (const SimFault& fault : device.faults) {
                options.faults.push_back(ToFaultRule(fault));
            }
        }
        layer.AddDevice(options);
    }
}

// The HID layer of one run: the simulated OB310 of the working folder,
// attached when the tool first looks for a device.
class PersistentDevice : public HidLayer {
public:
    PersistentDevice(std::string marker, OutputSink& console)
        : marker_(std::move(marker)), console_(console) {}

    // Writes the device file when the run changed the device.
    void Finish() {
        record_.close();
        journal_.close();
        if (rewrite_) {
            device_.state = kept_;
            // When this fails the journal still holds every change.
            std::error_code ec;
            if (SaveSimDeviceFile(SimDeviceFileName, device_)) {
                std::filesystem::remove(SimJournalFileName, ec);
            }
        }
    }

    std::vector<std::string> EnumerateInterfaces() override {
        Attach();
        return broken_ ? std::vector<std::string>{} : layer_.EnumerateInterfaces();
    }
    HidHandle Open(const std::string& path, HidAccess access, HidIoMode mode) override {
        return layer_.Open(path, access, mode);
    }
    void Close(HidHandle handle) override { layer_.Close(handle); }
    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override {
        return layer_.ReadAttributes(handle, attributes);
    }
    bool ReadCaps(HidHandle handle, HidCaps& caps) override {
        return layer_.ReadCaps(handle, caps);
    }
    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        return layer_.ReadProductString(handle, buffer, bufferBytes);
    }
    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t timeoutMs) override {
        return layer_.WriteReport(handle, data, length, timeoutMs);
    }
    void FlushInput(HidHandle readHandle) override { layer_.FlushInput(readHandle); }
    std::unique_ptr<HidReader> CreateReader(HidHandle readHandle) override {
        return layer_.CreateReader(readHandle);
    }

private:
    void Attach() {
        if (attached_) {
            return;
        }
        attached_ = true;
        std::string error;
        std::error_code ec;
        switch (LoadSimDeviceFile(SimDeviceFileName, device_, error)) {
        case SimLoadOutcome::Broken:
            Say(error);
            broken_ = true;
            return;
        case SimLoadOutcome::Missing:
            // A new device: a journal left beside a deleted device file is
            // not its history.
            if (std::filesystem::is_regular_file(SimJournalFileName, ec)) {
                std::filesystem::remove(SimJournalFileName, ec);
            }
            if (!SaveSimDeviceFile(SimDeviceFileName, device_)) {
                keepError_ = std::string("can not create ") + SimDeviceFileName;
            }
            break;
        case SimLoadOutcome::Loaded:
            switch (ApplySimJournal(SimJournalFileName, device_, error)) {
            case SimLoadOutcome::Broken:
                Say(error);
                broken_ = true;
                return;
            case SimLoadOutcome::Loaded:
                // Fold the killed run's changes in before this run journals
                // its own behind a possibly torn last entry.
                if (SaveSimDeviceFile(SimDeviceFileName, device_)) {
                    std::filesystem::remove(SimJournalFileName, ec);
                } else {
                    keepError_ = std::string("can not save ") + SimDeviceFileName;
                }
                break;
            case SimLoadOutcome::Missing: break;
            }
            break;
        }
        kept_ = device_.state;
        SetUpSimHidLayer(device_, layer_);
        layer_.SetReportGate([this](const SimReceivedReport& report) { return Keep(report); });
        if (OpenForAppend(record_, SimRecordFileName)) {
            record_ << marker_ << '\n' << std::flush;
        }
        if (!record_.is_open() || !record_) {
            Fail(std::string("can not write ") + SimRecordFileName);
        }
    }

    // One plain line of the simulator on the tool's console.
    void Say(const std::string& text) {
        console_.WriteLine(std::string(ProgramName) + ": " + text);
    }

    void Fail(std::string error) {
        if (keepError_.empty()) {
            keepError_ = std::move(error);
        }
    }

    // Whether the report the device is about to take is kept.
    bool Keep(const SimReceivedReport& report) {
        if (report.device != 0) {
            return true;  // only the first device lives in the file
        }
        const std::string number = std::to_string(report.requestNumber);
        if (keepError_.empty()) {
            // The record is flushed when the run ends or a report is refused:
            // it tells what happened and holds nothing the device must keep.
            record_ << FormatReceivedReport(report.requestNumber, report.bytes.data(),
                                            report.bytes.size())
                    << '\n';
            if (!record_) {
                Fail(std::string("can not write ") + SimRecordFileName);
            }
        }
        const Ob310State& now = layer_.Model(0).state;
        const std::string changes = keepError_.empty() ? FormatSimChanges(kept_, now) : "";
        if (!changes.empty()) {
            // One write per entry, so a killed run tears at most the last one.
            if (journal_.is_open() || OpenForAppend(journal_, SimJournalFileName)) {
                journal_ << changes + SimJournalEntryEnd << std::flush;
            }
            if (!journal_.is_open() || !journal_) {
                Fail(std::string("can not write ") + SimJournalFileName);
                record_ << "# request " << number << " not taken\n" << std::flush;
            }
        }
        if (!keepError_.empty()) {
            record_.flush();
            Say(keepError_ + ", so the device did not take request " + number);
            return false;
        }
        rewrite_ = rewrite_ || !changes.empty();
        kept_ = now;
        return true;
    }

    std::string marker_;
    SimHidLayer layer_;
    SimDeviceFile device_;
    Ob310State kept_;        // the device as the files hold it
    std::string keepError_;  // why reports can not be kept; empty while they can
    std::ofstream record_;
    std::ofstream journal_;
    OutputSink& console_;
    bool attached_ = false;
    bool broken_ = false;   // the device file can not be used: no device
    bool rewrite_ = false;  // the run changed the device
};

}  // namespace

int RunPersistentSimulator(int argc, const char* const* argv, ToolEntryPoint tool,
                           OutputSink& console) {
    PersistentDevice device(RunMarker(argc, argv), console);
    const int exitCode = tool(argc, argv, device, console);
    device.Finish();
    return exitCode;
}

}  // namespace ob310
