// Runs one of the built executables the way a user's script does: a separate
// process with arguments and a working folder, its standard output and
// standard error caught byte for byte, and its exit status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    bool started = false;    // false when the process could not be created
    int exitStatus = -1;     // as the parent sees it (8 bits on POSIX, 32 on Windows)
    std::string output;      // everything written to standard output
    std::string errorOutput; // everything written to standard error
};

// Runs `program` with `arguments` in `workDir` and waits for it to end.
// Standard input is empty.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workDir);

// A path the running test can hand to the platform: on Windows (under Wine)
// a POSIX path from the build system, "/a/b", becomes "Z:\a\b".
std::string NativePath(const std::string& path);
