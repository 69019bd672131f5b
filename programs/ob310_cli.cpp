#include "output/console.h"
#include "cli/entry.h"
#include "output/exit_code.h"
#include "output/native_text.h"
#include "device/hid_layer.h"

int main(int argc, char** argv) {
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    auto hid = CreatePlatformHidLayer();
    return ProcessExitStatus(Ob310Main(arguments.Count(), arguments.Values(), *hid));
}
