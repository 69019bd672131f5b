#pragma once

#include <string>

#include "device/hid_layer.h"

// The tool's entry point over a given HID layer: parses the arguments
// (argv[0] is the program name), runs one flow and returns its ExitCode.
int Ob310Main(int argc, const char* const* argv, HidLayer& hid);
// The same, with `recordFields` after the fields of each log record: the
// program that runs the tool may mark its records (each field "NAME=value;").
int Ob310Main(int argc, const char* const* argv, HidLayer& hid, const std::string& recordFields);
