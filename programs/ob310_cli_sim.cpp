// ob310_cli_sim: ob310_cli over a simulated OB310 kept in the working folder.
#include "cli/entry.h"
#include "cli/standard_output.h"
#include "output/exit_code.h"
#include "output/native_text.h"
#include "simulator/sim_persistent.h"

int main(int argc, char** argv) {
    using namespace ob310;
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    StandardOutput console;
    return ProcessExitStatus(
        RunPersistentSimulator(arguments.Count(), arguments.Values(), Ob310Main, console));
}
