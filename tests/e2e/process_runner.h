// Runs built executables the way a user's script does: separate processes
// with arguments and a working folder, standard output and standard error
// caught byte for byte, and the exit status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;     // false when the process could not be created
    int startError = 0;       // then why: GetLastError() on Windows, errno on POSIX
    int exitStatus = -1;      // as the parent sees it (8 bits on POSIX, 32 on Windows)
    std::string output;       // everything written to standard output
    std::string errorOutput;  // everything written to standard error
};

// Standard output of a child: caught; a pipe whose reader has already gone
// (as after "| head -n 1" has its line), with the default SIGPIPE action; or
// (POSIX) no descriptor 1 at all, as after ">&-".
enum class ChildOutput { Caught, ReaderGone, Closed };

// Runs `program` once per argument list in `workDir`, all at the same time,
// and waits for every one. Standard input is empty.
std::vector<ProcessResult> RunProcesses(const std::string& program,
                                        const std::vector<std::vector<std::string>>& argumentLists,
                                        const std::string& workDir,
                                        ChildOutput output = ChildOutput::Caught);

// A path the running test can hand to the platform: on Windows (under Wine)
// a POSIX path from the build system, "/a/b", becomes "Z:\a\b".
std::string NativePath(const std::string& path);
