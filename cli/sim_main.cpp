// ob310_cli_sim: ob310_cli over a simulated OB310 kept in a folder: the one
// OB310_SIM_DIR names, else the working folder. Its own lines go to standard
// error, so standard output is exactly the tool's; its log records carry
// "DEVICE=simulated;".
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/entry.h"
#include "output/console.h"
#include "output/native_text.h"
#include "simulator/sim_persistent.h"

namespace {

int SimulatedTool(int argc, const char* const* argv, HidLayer& hid) {
    return Ob310Main(argc, argv, hid, SimLogRecordField);
}

void SayOnStandardError(const std::string& line) {
    const std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    SimRunOptions options;
    const char* folder = std::getenv("OB310_SIM_DIR");
    options.folder = folder != nullptr ? folder : "";
    options.say = SayOnStandardError;
    return RunPersistentSimulator(arguments.Count(), arguments.Values(), SimulatedTool, options);
}
