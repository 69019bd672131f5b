// Running the tool end to end over simulated OB310s, with the checks every
// such run shares: no handle left open, none closed twice, no misuse.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "output/console.h"
#include "simulator/sim_hid_layer.h"
#include "tests/support/temp_dir.h"

namespace ob310 {
// In a run's arguments, replaced by the log file of the test's folder.
inline const std::string LogArgument = "<log>";

// The console line of PrintError.
std::string RedLine(const std::string& text, std::uint16_t code);

class SimRunTest : public ::testing::Test {
protected:
    // Every handle the run opened is closed, and none twice.
    void TearDown() override;

    // Runs the entry point as "ob310_cli" with `arguments`; the console text
    // of the run is in console.Text().
    int Run(const std::vector<std::string>& arguments);

    std::string LogPath() const { return dir.File("run.log"); }
    // The texts of the log's lines after their "dd.mm.yyyy HH:MM:SS: " time
    // stamps; a line of another form fails the test.
    std::vector<std::string> LogRecords() const;
    // The command byte of each report the devices took, in order; every
    // report must have gone to device 0.
    std::vector<std::uint8_t> CommandsReceived() const;

    TempDir dir;
    SimHidLayer sim;
    ConsoleCapture console;
};
}  // namespace ob310
