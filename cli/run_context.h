// The state of one run of the tool. The entry point builds it from the command
// line and owns it; the flows take it as a parameter, and the layers below
// get only the parts they need (the PIN, the image, the HID layer, a sink).
// Each run starts from a fresh context, so a process can run the tool many
// times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "device/hid_layer.h"
#include "output/console.h"
#include "output/log_file.h"
#include "output/messages.h"
#include "protocol/pin.h"

namespace ob310 {

// What the command line asked for. Only the command line writes them.
struct Settings {
    bool helpRequested = false;
    bool verboseMode = false;
    bool infoRequested = false;
    bool clearRequested = false;
    bool fileRequested = false;
    bool logRequested = false;
    bool pinValid = false;  // a -p value converted; never turned off
    std::string configFileName;
    std::string logFileName;
};

struct RunContext {
    RunContext(HidLayer& layer, OutputSink& sink) : deviceLayer(layer), console(sink) {}
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;

    // The red error line, and the informational line of verbose mode.
    void PrintError(const std::string& text, std::uint16_t code) {
        ob310::PrintError(console, text, code);
    }
    void PrintVerbose(const std::string& text) {
        ob310::PrintVerbose(console, settings.verboseMode, text);
    }

    // The HID layer the flows discover devices on.
    HidLayer& deviceLayer;
    // Where the run's console lines go.
    OutputSink& console;

    Settings settings;
    // The PIN the erase and programming requests carry: the -p PIN, and the
    // factory-default PIN once the write flow's erase has succeeded.
    Pin workingPin{};
    // The configuration file's image, all zero until the file was read whole.
    ConfigImage configImage{};
    // Opened by the command line (-l), closed by the flows before they end.
    CLogFile logFile;
    // Fields the program running the tool adds after each result record
    // (empty, or "NAME=value;" fields), so that it can mark its records.
    std::string recordFields;
    // Files that program keeps for itself (the simulated OB310's): a log that
    // is one of them is refused, as its record would be lost or misread.
    std::vector<std::string> ownFiles;
};

}  // namespace ob310
