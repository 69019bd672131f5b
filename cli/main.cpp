#include "output/console.h"
#include "cli/entry.h"
#include "output/exit_code.h"
#include "device/hid_layer.h"

int main(int argc, char** argv) {
    PrepareConsole();
    auto hid = CreatePlatformHidLayer();
    return ProcessExitStatus(Ob310Main(argc, argv, *hid));
}
