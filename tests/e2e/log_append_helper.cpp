// log_append_helper LOG TAG COUNT: appends COUNT lines "TAG N" through the
// tool's log file, as one of several stations sharing a log would.
#include <string>

#include "output/messages.h"
#include "output/settings.h"

int main(int argc, char** argv) {
    settings.logRequested = argc == 4;
    if (!settings.logRequested || !logFile.LogfileOpen(argv[1])) return 2;
    for (int i = 0; i < std::stoi(argv[3]); ++i) {
        if (!WriteLogLine(std::string(argv[2]) + " " + std::to_string(i))) return 1;
    }
    return 0;
}
