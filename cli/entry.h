#pragma once

#include "device/hid_layer.h"

// The tool's entry point over a given HID layer: parses the arguments
// (argv[0] is the program name), runs one flow and returns its ExitCode.
int Ob310Main(int argc, const char* const* argv, HidLayer& hid);
