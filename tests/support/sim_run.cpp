#include "tests/support/sim_run.h"

#include <cstdio>
#include <regex>

#include "cli/entry.h"

namespace ob310 {
std::string RedLine(const std::string& text, std::uint16_t code) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ". Code=0x%04x", static_cast<unsigned>(code));
    return "\x1b[31m" + text + suffix + "\x1b[0m\n";
}

void SimRunTest::TearDown() {
    EXPECT_EQ(sim.OpenHandleCount(), 0u) << "handles left open";
    EXPECT_EQ(sim.ClosesSucceeded(), sim.OpensSucceeded());
    EXPECT_EQ(sim.Errors(), std::vector<std::string>{}) << "HID misuse";
}

int SimRunTest::Run(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"ob310_cli"};
    for (const std::string& argument : arguments)
        words.push_back(argument == LogArgument ? LogPath() : argument);
    std::vector<const char*> argv;
    for (const std::string& word : words)
        argv.push_back(word.c_str());
    console.Clear();
    return Ob310Main(static_cast<int>(argv.size()), argv.data(), sim, console);
}

std::vector<std::string> SimRunTest::LogRecords() const {
    static const std::regex line("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d: ([^\r\n]*)\r\n");
    const std::string text = ReadFileBytes(LogPath());
    std::vector<std::string> records;
    std::size_t covered = 0;  // the lines must make up the whole text
    for (std::sregex_iterator at(text.begin(), text.end(), line), end; at != end; ++at) {
        records.push_back((*at)[1]);
        covered += static_cast<std::size_t>(at->length());
    }
    EXPECT_EQ(covered, text.size()) << "malformed log text: " << text;
    return records;
}

std::vector<std::uint8_t> SimRunTest::CommandsReceived() const {
    std::vector<std::uint8_t> commands;
    for (const SimReceivedReport& report : sim.ReceivedReports()) {
        EXPECT_EQ(report.device, 0u) << "a report went to another device than the first";
        commands.push_back(report.bytes.size() > 1 ? report.bytes[1] : 0xFF);
    }
    return commands;
}
}  // namespace ob310
