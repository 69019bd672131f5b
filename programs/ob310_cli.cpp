// ob310_cli: the tool over the platform's HID stack.
#include "cli/entry.h"
#include "cli/standard_output.h"
#include "device/hid_layer.h"
#include "output/exit_code.h"
#include "output/native_text.h"

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
    auto hid = CreatePlatformHidLayer();
    StandardOutput console;
    return ProcessExitStatus(Ob310Main(arguments.Count(), arguments.Values(), *hid, console));
}
