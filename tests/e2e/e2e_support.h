// What the end-to-end suites share: the built executables, a fresh working
// folder per test, and the exact console texts the tool prints.
#pragma once

#include "tests/support/file_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/process_runner.h"

// Paths of the built executables and of the example file, from the build.
std::string CliPath();
std::string SimPath();
std::string ExamplePath();

// Console lines end as the platform's C runtime writes them in text mode.
#ifdef _WIN32
inline constexpr const char* Eol = "\r\n";
// Windows keeps all 32 bits of an exit status; POSIX only 8, so 256 leaves as 255.
inline constexpr int ContentErrorStatus = 256;
#else
inline constexpr const char* Eol = "\n";
inline constexpr int ContentErrorStatus = 255;
#endif

inline constexpr const char* FactoryPinText = "5A3C19E7B2D40F86";

// Each text followed by the platform's line end.
std::string Lines(const std::vector<std::string>& lines);
// The red error line of PrintError.
std::string RedLine(const std::string& text, unsigned code);
// The 24 lines of the help text.
std::string HelpText();
// The log's records after their "dd.mm.yyyy HH:MM:SS: " time stamps.
std::vector<std::string> LogRecords(const std::string& log);

// A configuration file of `dataLines` data lines: 7 header lines (the new PIN
// and the lock line as given, custom data 00112233...ff), all-zero key-table
// lines, and debounce 05 as data line 255.
std::string ConfigText(int dataLines, const std::string& newPin = FactoryPinText,
                       const std::string& lock = "00");

// A fresh, empty working folder for the running test, removed afterwards.
class E2eTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ProcessResult Run(const std::string& program, const std::vector<std::string>& arguments,
                      ChildOutput output = ChildOutput::Caught);
    // `name` is UTF-8 on every platform; an absolute one is taken as it is.
    std::filesystem::path Path(const std::string& name) const;
    // Copies the example configuration into the working folder as `name`.
    void CopyExample(const std::string& name = "example.ob310");

    std::filesystem::path workDir;
};
