#include "simulator/sim_persistent.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "output/version.h"

namespace ob310 {

namespace {

constexpr const char* ProgramName = "ob310_cli_sim";

std::string SimPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    const char last = folder.back();
    return folder + (last == '/' || last == '\\' ? "" : "/") + name;
}

// "of ob310_cli_sim VERSION: ARGUMENTS", the run's marker after "# run N ".
std::string RunDescription(int argc, const char* const* argv) {
    std::string text = std::string("of ") + ProgramName + " " + Ob310VersionText + ":";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i] != nullptr ? argv[i] : "";
        for (char& c : argument) {
            if (c == '\n' || c == '\r') {
                c = ' ';  // one run, one marker line
            }
        }
        text += " " + argument;
    }
    return text;
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
    case SimFault::Kind::ReplyTwice: rule.script.replyTwice = true; break;
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
                if (fault.FiresInRun(device.runs)) {
                    options.faults.push_back(ToFaultRule(fault));
                }
            }
        }
        layer.AddDevice(options);
    }
}

// Whether the file at `path` is missing, empty or ends with a line end.
bool EndsWithLineEnd(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in || in.tellg() <= 0) {
        return true;
    }
    in.seekg(-1, std::ios::end);
    return in.get() == '\n';
}

// The HID layer of one run: the simulated OB310 of the folder, attached when
// the tool first looks for a device.
class PersistentDevice : public HidLayer {
public:
    PersistentDevice(std::string description, OutputSink& console, const SimRunOptions& options)
        : description_(std::move(description)),
          lines_(options.lines != nullptr ? *options.lines : console),
          options_(options) {}

    // Writes the device file when the run changed the device.
    void Finish() {
        if (rewrite_) {
            device_.state = kept_;
            // When this fails the journal still holds every change.
            std::error_code ec;
            if (SaveSimDeviceFile(Path(SimDeviceFileName), device_)) {
                std::filesystem::remove(Path(SimJournalFileName), ec);
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
    std::string Path(const char* name) const { return SimPath(options_.folder, name); }

    // One line of the simulator's own.
    void Say(const std::string& text) { lines_.WriteLine(std::string(ProgramName) + ": " + text); }

    // No device this run; `why` says so in one line.
    void Unplug(const std::string& why) {
        Say(why);
        broken_ = true;
    }

    void Attach() {
        if (attached_) {
            return;
        }
        attached_ = true;
        const std::string lockPath = Path(SimLockFileName);
        switch (lock_.Take(lockPath, SimDeviceWaitMs, options_.sleep)) {
        case SimDeviceLock::Outcome::Taken: break;
        case SimDeviceLock::Outcome::Busy:
            return Unplug("another run has held " + lockPath + " for " +
                          std::to_string(SimDeviceWaitMs / 1000) + " s, so no OB310 is attached");
        case SimDeviceLock::Outcome::Failed:
            return Unplug("can not lock " + lockPath + ", so no OB310 is attached");
        }
        const std::string devicePath = Path(SimDeviceFileName);
        const std::string journalPath = Path(SimJournalFileName);
        std::string error;
        std::error_code ec;
        bool journalApplied = false;
        const SimLoadOutcome loaded = LoadSimDeviceFile(devicePath, device_, error);
        switch (loaded) {
        case SimLoadOutcome::Broken: return Unplug(error);
        case SimLoadOutcome::Missing:
            // A new device: a journal left beside a deleted device file is
            // not its history.
            if (std::filesystem::is_regular_file(journalPath, ec)) {
                std::filesystem::remove(journalPath, ec);
            }
            break;
        case SimLoadOutcome::Loaded:
            switch (ApplySimJournal(journalPath, device_, error)) {
            case SimLoadOutcome::Broken: return Unplug(error);
            case SimLoadOutcome::Loaded: journalApplied = true; break;
            case SimLoadOutcome::Missing: break;
            }
            break;
        }
        device_.runs = std::min(device_.runs + 1, SimMaxRuns);
        // Keeps the run's number, and folds a killed run's changes in before
        // this run journals its own behind a possibly torn last entry.
        if (SaveSimDeviceFile(devicePath, device_)) {
            if (journalApplied) {
                std::filesystem::remove(journalPath, ec);
            }
        } else {
            keepError_ = (loaded == SimLoadOutcome::Missing ? "can not create " : "can not save ") +
                         devicePath;
        }
        kept_ = device_.state;
        SetUpSimHidLayer(device_, layer_);
        layer_.SetReportGate([this](const SimReceivedReport& report) { return Keep(report); });
        const std::string recordPath = Path(SimRecordFileName);
        // A line torn by a full disk never swallows this run's marker.
        const std::string marker = std::string(EndsWithLineEnd(recordPath) ? "" : "\n") + "# run " +
                                   std::to_string(device_.runs) + " " + description_ + "\n";
        if (!record_.Open(recordPath) || !record_.Append(marker)) {
            Fail("can not write " + recordPath);
        }
    }

    void Fail(std::string error) {
        if (keepError_.empty()) {
            keepError_ = std::move(error);
        }
    }

    // Whether the report the device is about to take is kept.
    bool Keep(const SimReceivedReport& report) {
        if (report.device != 0)
            return true;  // only the first device lives in the file
        const std::string number = std::to_string(report.requestNumber);
        // One whole line per report, written before the device answers, so
        // a run killed at any point has a line for every answer it got.
        if (keepError_.empty() && !record_.Append(FormatReceivedReport(report) + "\n")) {
            Fail("can not write " + Path(SimRecordFileName));
        }
        if (report.write != SimWrite::Delivered)
            return false;  // a write fault: nothing taken
        const Ob310State& now = layer_.Model(0).state;
        const std::string changes = keepError_.empty() ? FormatSimChanges(kept_, now) : "";
        if (!changes.empty()) {
            // One write per entry, so a killed run tears at most the last one.
            const std::string journalPath = Path(SimJournalFileName);
            if ((!journal_.IsOpen() && !journal_.Open(journalPath)) ||
                !journal_.Append(changes + SimJournalEntryEnd)) {
                Fail("can not write " + journalPath);
                record_.Append("# request " + number + " not taken\n");
            }
        }
        if (!keepError_.empty()) {
            Say(keepError_ + ", so the device did not take request " + number);
            return false;
        }
        rewrite_ = rewrite_ || !changes.empty();
        kept_ = now;
        return true;
    }

    std::string description_;
    OutputSink& lines_;
    const SimRunOptions& options_;
    SimDeviceLock lock_;  // held from Attach to the end of the run
    SimHidLayer layer_;
    SimDeviceFile device_;
    Ob310State kept_;        // the device as the files hold it
    std::string keepError_;  // why reports can not be kept; empty while they can
    SimAppendFile record_;
    SimAppendFile journal_;
    bool attached_ = false;
    bool broken_ = false;   // no device this run
    bool rewrite_ = false;  // the run changed the device
};

}  // namespace

std::vector<std::string> SimFilePaths(const std::string& folder) {
    const std::string device = SimPath(folder, SimDeviceFileName);
    return {device, device + SimSideFileSuffix, SimPath(folder, SimJournalFileName),
            SimPath(folder, SimRecordFileName), SimPath(folder, SimLockFileName)};
}

int RunPersistentSimulator(int argc, const char* const* argv, ToolEntryPoint tool,
                           OutputSink& console, const SimRunOptions& options) {
    PersistentDevice device(RunDescription(argc, argv), console, options);
    const int exitCode = tool(argc, argv, device, console);
    device.Finish();
    return exitCode;
}

}  // namespace ob310
