#include "cli/process_state.h"

#include "output/messages.h"
#include "config/config_file.h"

Pin workingPin{};
HidLayer* deviceLayer = nullptr;

void ResetProcessState(HidLayer& hid) {
    settings = Settings{};
    workingPin = Pin{};
    configImage = ConfigImage{};
    logFile.Reset();
    deviceLayer = &hid;
}
