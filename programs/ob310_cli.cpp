// ob310_cli: the tool over the platform's HID stack.
#include "cli/entry.h"
#include "cli/standard_output.h"
#include "device/hid_layer.h"
#include "output/exit_code.h"
#include "output/native_text.h"

int main(int argc, char** argv) {
    using namespace ob310;
    PrepareConsole();
    const ProgramArguments arguments(argc, argv);
    auto hid = CreatePlatformHidLayer();
    StandardOutput console;
    return ProcessExitStatus(Ob310Main(arguments.Count(), arguments.Values(), *hid, console));
}
