#include "cli/entry.h"

#include <array>
#include <string>
#include <string_view>

#include "cli/flows.h"
#include "config/hex.h"
#include "output/exit_code.h"

namespace ob310 {

namespace {

constexpr std::array<std::string_view, 24> HelpLines = {
    "",
    "Example: ob310_cli.exe -f 'c:\\<path_to_file>\\<file>.ob310' -p 5a3c19e7b2d40f86",
    "",
    "Arguments:",
    "-h    -help",
    "-v    -Verbose",
    "-i    -Print device information",
    "-c    -Clear/Erase OB310 memory",
    "-p    -Set PIN code, by default 5A3C19E7B2D40F86",
    "-f    -Set file to write into OB310. (f.e. 'c:\\temp\\table.ob310')",
    "-l    -logfile for programming (f.e. 'c:\\temp\\ob310.log')",
    "",
    "Return values (as INT)",
    "0 = Success",
    "1 = No OB310",
    "2 = Too many OB310",
    "4 = Read/Write error",
    "8 = Key table file not found",
    "16 = Argument error",
    "32 = Cancel programm",
    "64 = PIN error",
    "128 = Read/Write timeout",
    "256 = File content error",
    "",
};

constexpr std::size_t PinTextLength = 16;
constexpr std::size_t MinimumNameLength = 2;

void PrintHelp(OutputSink& console) {
    for (std::string_view line : HelpLines) {
        console.WriteLine(line);
    }
}

// Turns on the setting of a recognised option. "-p" has none; any other
// dash argument is ignored here but still counts as the previous option.
void TakeOption(const std::string& option, Settings& settings) {
    if (option == "-h") {
        settings.helpRequested = true;
    } else if (option == "-v") {
        settings.verboseMode = true;
    } else if (option == "-i") {
        settings.infoRequested = true;
    } else if (option == "-c") {
        settings.clearRequested = true;
    } else if (option == "-f") {
        settings.fileRequested = true;
    } else if (option == "-l") {
        settings.logRequested = true;
    }
}

// A value that does not fit the option before it is ignored without a word;
// only the checks after parsing report what is missing.
void TakeValue(const std::string& previousOption, const std::string& value, RunContext& context) {
    Settings& settings = context.settings;
    if (previousOption == "-l" && value.size() >= MinimumNameLength) {
        settings.logRequested = true;
        settings.logFileName = value;
        context.logFile.LogfileOpen(settings.logFileName, context.console);
    } else if (previousOption == "-f" && value.size() >= MinimumNameLength) {
        settings.configFileName = value;
        settings.fileRequested = true;
    } else if (previousOption == "-p" && value.size() == PinTextLength) {
        // Convert aside, so that a PIN that fails halfway never leaves
        // workingPin half overwritten.
        Pin converted = context.workingPin;
        if (StringToBytes(value, converted.data(), converted.size()) ==
            static_cast<int>(converted.size())) {
            context.workingPin = converted;
            settings.pinValid = true;
        }
    }
}

}  // namespace

int Ob310Main(int argc, const char* const* argv, HidLayer& hid, OutputSink& console) {
    RunContext context(hid, console);
    return RunCommandLine(argc, argv, context);
}

int RunCommandLine(int argc, const char* const* argv, RunContext& context) {
    if (argc < 2) {
        PrintHelp(context.console);
        return ExitArgumentError;
    }

    Settings& settings = context.settings;
    std::string previousOption;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (!argument.empty() && argument.front() == '-') {
            previousOption = argument;
            TakeOption(argument, settings);
        } else {
            TakeValue(previousOption, argument, context);
        }
    }

    if (settings.helpRequested) {
        PrintHelp(context.console);
        return ExitSuccess;
    }
    if (settings.logRequested && settings.logFileName.empty()) {
        context.PrintError("Error: No logfile selected", ExitArgumentError);
        return ExitArgumentError;
    }
    // A log that cannot be opened would silently lose the result line of a
    // successful run, so the run stops before any device is touched.
    if (settings.logRequested && !context.logFile.IsOpen()) {
        context.PrintError("Error: Can not open logfile", ExitArgumentError);
        return ExitArgumentError;
    }

    if (settings.infoRequested && !settings.fileRequested) {
        return RunInformationFlow(context);
    }
    if (!settings.pinValid) {
        context.PrintError(
            "PIN code is not given, incorrect (only hex values) or out of range "
            "(16 characters required).",
            ExitPinError);
        return ExitPinError;
    }
    if (settings.clearRequested) {
        return RunEraseFlow(context);
    }
    if (settings.fileRequested) {
        return RunWriteFlow(context);
    }
    context.logFile.Close();
    return ExitSuccess;
}

}  // namespace ob310
