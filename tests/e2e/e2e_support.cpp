#include "tests/e2e/e2e_support.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

std::string CliPath() { return NativePath(OB310_CLI_PATH); }
std::string SimPath() { return NativePath(OB310_CLI_SIM_PATH); }
std::string ExamplePath() { return NativePath(OB310_EXAMPLE_PATH); }

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + Eol;
    return text;
}

std::string RedLine(const std::string& text, unsigned code) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ". Code=0x%04x", code);
    return "\x1b[31m" + text + suffix + "\x1b[0m" + Eol;
}

std::string HelpText() {
    return Lines({
        "",
        "Example: ob310_cli.exe -f 'c:\\<path_to_file>\\<file>.ob310' -p 5a3c19e7b2d40f86",
        "",
        "Arguments:",
        "-h    -help",
        "-v    -Verbose",
        "-i    -Print device information",
        "-c    -Clear/Erase OB310 memory",
        "-p    -Set PIN code, by default 5A3C19E7B2D40F86",
        "-f    -Set file to write into OB310. (f.e. 'c:\\temp\\table.ob310')",
        "-l    -logfile for programming (f.e. 'c:\\temp\\ob310.log')",
        "",
        "Return values (as INT)",
        "0 = Success",
        "1 = No OB310",
        "2 = Too many OB310",
        "4 = Read/Write error",
        "8 = Key table file not found",
        "16 = Argument error",
        "32 = Cancel programm",
        "64 = PIN error",
        "128 = Read/Write timeout",
        "256 = File content error",
        "",
    });
}

std::vector<std::string> LogRecords(const std::string& log) {
    std::vector<std::string> records;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        records.push_back(line.substr(std::min<std::size_t>(line.size(), 21)));
    return records;
}

std::string ConfigText(int dataLines, const std::string& newPin, const std::string& lock) {
    const std::string zeros(32, '0');
    const std::vector<std::string> header = {
        newPin, "00112233445566778899aabbccddeeff", "00", zeros, zeros, zeros.substr(16), lock};
    std::string text = "# test configuration\n";
    for (std::size_t line = 0; line < static_cast<std::size_t>(dataLines); ++line)
        text += (line < 7 ? header[line] : line < 255 ? std::string(64, '0') : "05") + '\n';
    return text;
}

void E2eTest::SetUp() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("ob310_e2e_") + info->test_suite_name() + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    // Its own folder, also when another build runs the same suite at once.
    name += '_' + std::to_string(std::random_device{}());
    workDir = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(workDir);
    std::filesystem::create_directories(workDir);
}

void E2eTest::TearDown() {
    if (!HasFailure()) {
        std::error_code ec;
        std::filesystem::remove_all(workDir, ec);
    }
}

ProcessResult E2eTest::Run(const std::string& program, const std::vector<std::string>& arguments,
                           ChildOutput output) {
    ProcessResult result = RunProcesses(program, {arguments}, workDir.string(), output).front();
    EXPECT_TRUE(result.started) << program << ": error " << result.startError;
    // The tool writes nothing to standard error, ever.
    EXPECT_EQ(result.errorOutput, "");
    return result;
}

std::filesystem::path E2eTest::Path(const std::string& name) const {
    return workDir / std::u8string(name.begin(), name.end());
}

void E2eTest::CopyExample(const std::string& name) {
    std::filesystem::copy_file(Path(ExamplePath()), Path(name),
                               std::filesystem::copy_options::overwrite_existing);
}
