// ob310_cli_sim: ob310_cli over a simulated OB310 kept in the working folder.
#include "cli/entry.h"
#include "output/console.h"
#include "output/native_text.h"
#include "simulator/sim_persistent.h"

int main(int argc, char** argv) {
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    return RunPersistentSimulator(arguments.Count(), arguments.Values(), Ob310Main);
}
