// The peak resident memory of one run of another program.
#pragma once

#include <string>
#include <vector>

namespace ob310 {

// Runs `program` with `arguments` in `workDir` (output discarded) and returns
// the peak resident set size of the program itself in KiB, or -1 when it
// could not be measured. `exitStatus` receives its exit status.
long PeakResidentKiB(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workDir, int& exitStatus);

}  // namespace ob310
