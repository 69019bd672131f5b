// The process-wide state of one run: the settings from the command line, the
// working PIN and the HID layer the flows use. The entry point resets all of
// it (with the ConfigImage and the log file) when it starts, so a process can
// run it many times.
#pragma once

#include "device/hid_layer.h"
#include "output/settings.h"
#include "protocol/pin.h"


// The PIN the erase and programming requests carry: the -p PIN, and the
// factory-default PIN once the write flow's erase has succeeded.
extern Pin workingPin;

// The HID layer the flows discover devices on for this run.
extern HidLayer* deviceLayer;

// Settings off, names empty, workingPin zero, ConfigImage zero, log closed.
void ResetProcessState(HidLayer& hid);
