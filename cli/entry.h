#pragma once

#include "cli/run_context.h"
#include "device/hid_layer.h"
#include "output/console.h"

namespace ob310 {

// The tool's entry point over a given HID layer and console: builds a fresh
// run context, parses the arguments (argv[0] is the program name) into it,
// runs one flow and returns its ExitCode.
int Ob310Main(int argc, const char* const* argv, HidLayer& hid, OutputSink& console);

// Ob310Main on a context the caller made (fresh, and kept after the run for a
// test to look at).
int RunCommandLine(int argc, const char* const* argv, RunContext& context);

}  // namespace ob310
