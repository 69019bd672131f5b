// ob310_cli_sim: ob310_cli over a simulated OB310 kept in a folder: the one
// OB310_SIM_DIR names, else the working folder. Its own lines go to standard
// error, so standard output is exactly the tool's; its log records end with
// "DEVICE=simulated;".
#include <cstdlib>
#include <string>

#include "cli/entry.h"
#include "cli/run_context.h"
#include "cli/standard_output.h"
#include "output/exit_code.h"
#include "output/native_text.h"
#include "simulator/sim_persistent.h"

namespace {

std::string SimFolder() {
    const char* folder = std::getenv("OB310_SIM_DIR");
    return folder != nullptr ? folder : "";
}

int SimulatedTool(int argc, const char* const* argv, ob310::HidLayer& hid,
                  ob310::OutputSink& console) {
    ob310::RunContext context(hid, console);
    context.recordFields = ob310::SimLogRecordField;
    context.ownFiles = ob310::SimFilePaths(SimFolder());
    return ob310::RunCommandLine(argc, argv, context);
}

}  // namespace

#ifdef _WIN32
// wmain (linked with -municode): the runtime splits the UTF-16 command line,
// so no argument loses what the ANSI code page cannot show, and shell32 (with
// user32 and gdi32 behind it) is not loaded just to split it.
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    using namespace ob310;
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    StandardOutput console;
    StandardError simulatorLines;
    SimRunOptions options;
    options.folder = SimFolder();
    options.lines = &simulatorLines;
    return ProcessExitStatus(RunPersistentSimulator(arguments.Count(), arguments.Values(),
                                                    SimulatedTool, console, options));
}
