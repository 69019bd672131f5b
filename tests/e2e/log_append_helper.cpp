// log_append_helper LOG TAG COUNT: appends COUNT lines "TAG N" through the
// tool's log file, as one of several stations sharing a log would.
#include <string>

#include "output/messages.h"

int main(int argc, char** argv) {
    ob310::CLogFile logFile;
    ob310::ConsoleCapture console;
    if (argc != 4 || !logFile.LogfileOpen(argv[1], console)) return 2;
    for (int i = 0; i < std::stoi(argv[3]); ++i) {
        if (!ob310::WriteLogLine(logFile, true, std::string(argv[2]) + " " + std::to_string(i))) return 1;
    }
    return 0;
}
