#include "output/messages.h"

#include <gtest/gtest.h>

namespace ob310 {
namespace {
TEST(Messages, ErrorLinesAlwaysVerboseLinesOnlyInVerboseMode) {
    ConsoleCapture console;
    for (bool verbose : {false, true}) {
        PrintError(console, "x", 0xABCD);
        PrintVerbose(console, verbose, "Success: Write complete");
    }
    EXPECT_EQ(console.Text(),
              "\x1b[31mx. Code=0xabcd\x1b[0m\n\x1b[31mx. Code=0xabcd\x1b[0m\nSuccess: Write "
              "complete. Code=0x0000\n");
}
}  // namespace
}  // namespace ob310
