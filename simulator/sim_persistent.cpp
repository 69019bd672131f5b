#include "simulator/sim_persistent.h"

#include <fstream>

#include "output/console.h"
#include "cli/entry.h"
#include "output/exit_code.h"

namespace {

constexpr const char* ProgramName = "ob310_cli_sim";

std::string RunMarker(int argc, const char* const* argv) {
    std::string marker = "# run:";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        for (char& c : argument) {
            if (c == '\n' || c == '\r') c = ' ';  // one run, one marker line
        }
        marker += " " + argument;
    }
    return marker;
}

}  // namespace

SimFaultRule ToFaultRule(const SimFault& fault) {
    SimFaultRule rule;
    rule.when = fault.target == SimFault::Target::Request
                    ? SimRequestSelector::AtRequest(fault.index)
                    : SimRequestSelector::ForKeyTableIndex(static_cast<std::uint8_t>(fault.index));
    switch (fault.kind) {
    case SimFault::Kind::NoReply: rule.script.reply = false; break;
    case SimFault::Kind::ReplyAtWait: rule.script.replyAtWait = fault.value; break;
    case SimFault::Kind::WriteFails: rule.script.write = SimWrite::Fails; break;
    case SimFault::Kind::Refuse:
        rule.script.refuseWithStatus = static_cast<std::uint8_t>(fault.value);
        break;
    case SimFault::Kind::Short: rule.script.replyLength = fault.value; break;
    }
    return rule;
}

void SetUpSimHidLayer(const SimDeviceFile& device, SimHidLayer& layer) {
    for (int i = 0; i < device.deviceCount; ++i) {
        SimDeviceOptions options;
        options.state = device.state;
        options.state.serial = device.state.serial + static_cast<std::uint32_t>(i);
        if (i == 0) {
            for (const SimFault& fault : device.faults) options.faults.push_back(ToFaultRule(fault));
        }
        layer.AddDevice(options);
    }
}

int RunPersistentSimulator(int argc, const char* const* argv) {
    SimDeviceFile device;
    std::string error;
    if (LoadSimDeviceFile(SimDeviceFileName, device, error) == SimLoadOutcome::Broken) {
        ConsoleWriteLine(std::string(ProgramName) + ": " + error);
        return ExitArgumentError;
    }

    SimHidLayer layer;
    SetUpSimHidLayer(device, layer);

    std::ofstream record(SimRecordFileName, std::ios::binary | std::ios::app);
    record << RunMarker(argc, argv) << '\n' << std::flush;

    // Save after every report the first device takes, so a run that ends
    // anywhere (even killed) leaves the device file as the device is. Reports
    // that change nothing (the information query) skip the write.
    bool saved = true;
    std::string savedText = FormatSimDeviceFile(device);
    layer.SetReportObserver([&](const SimReceivedReport& report) {
        if (report.device != 0) return;
        record << FormatReceivedReport(report.bytes.data(), report.bytes.size()) << '\n'
               << std::flush;
        device.state = layer.Model(0).state;
        std::string text = FormatSimDeviceFile(device);
        if (text == savedText) return;
        saved = SaveSimDeviceFile(SimDeviceFileName, device) && saved;
        savedText = std::move(text);
    });

    const int exitCode = Ob310Main(argc, argv, layer);
    if (!saved) {
        ConsoleWriteLine(std::string(ProgramName) + ": can not save " + SimDeviceFileName);
        return ExitArgumentError;
    }
    return ProcessExitStatus(exitCode);
}
