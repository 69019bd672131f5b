// The settings the command line sets for one run. Every layer may read them
// (the messages read verboseMode and logRequested); only the command line
// writes them.
#pragma once

#include <string>

struct Settings {
    bool helpRequested = false;
    bool verboseMode = false;
    bool infoRequested = false;
    bool clearRequested = false;
    bool fileRequested = false;
    bool logRequested = false;
    bool pinValid = false;  // a -p value converted; never turned off
    std::string configFileName;
    std::string logFileName;
};

extern Settings settings;
