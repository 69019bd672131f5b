// The console of the programs: standard output, every write flushed.
#pragma once

#include "output/console.h"

namespace ob310 {

// Line ends are written as "\n"; on Windows the runtime's text mode turns
// them into CR LF. Output that cannot be written (a closed pipe) is dropped:
// the console never decides a run.
class StandardOutput : public OutputSink {
public:
    void Write(std::string_view text) override;
};

// Standard error, every write flushed: the simulator's own lines, apart from
// the tool's output.
class StandardError : public OutputSink {
public:
    void Write(std::string_view text) override;
};

// Called first by the programs. On a Windows console, switches on ANSI escape
// processing so error lines are red. On POSIX, ignores SIGPIPE and SIGXFSZ so
// a closed standard output only loses output and a file size limit only fails
// the write, and opens descriptors 0 to 2 on /dev/null when they are closed.
// Runs before the program opens anything.
void PrepareConsole();

}  // namespace ob310
