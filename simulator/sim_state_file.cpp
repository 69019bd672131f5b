#include "simulator/sim_state_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "config/hex.h"

namespace ob310 {

namespace {

constexpr const char* HexDigits = "0123456789abcdef";

std::string_view Trim(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> SplitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
            ++pos;
        }
        std::size_t end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') {
            ++end;
        }
        if (end > pos) {
            words.push_back(text.substr(pos, end - pos));
        }
        pos = end;
    }
    return words;
}

// Exactly 2 * size hex digits into `out`.
bool ParseHexBytes(std::string_view text, std::uint8_t* out, std::size_t size) {
    return text.size() == 2 * size &&
           StringToBytes(std::string(text), out, size) == static_cast<int>(size);
}

// 1 to maxDigits hex digits.
bool ParseHexNumber(std::string_view text, std::size_t maxDigits, std::uint32_t& value) {
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return false;
        }
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool ParseDecimal(std::string_view text, std::uint32_t maxValue, std::uint32_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (result > maxValue) {
        return false;
    }
    value = static_cast<std::uint32_t>(result);
    return true;
}

std::string HexText(const std::uint8_t* data, std::size_t size) {
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(HexDigits[data[i] >> 4]);
        text.push_back(HexDigits[data[i] & 0x0F]);
    }
    return text;
}

std::string HexNumber(std::uint32_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = HexDigits[value & 0x0F];
        value >>= 4;
    }
    return text;
}

std::string Quoted(std::string_view text) {
    // Built by appending: the operator+ form trips a false -Wrestrict in GCC 12.
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.push_back('"');
    quoted.append(text);
    quoted.push_back('"');
    return quoted;
}

// "runs A,B,..." or "every N" after a fault's kind: the runs it fires in.
bool ParseFaultRuns(std::string_view selector, std::string_view list, SimFault& fault,
                    std::string& problem) {
    std::uint32_t run = 0;
    if (selector == "every") {
        if (!ParseDecimal(list, SimMaxRuns, fault.everyRuns) || fault.everyRuns < 1) {
            problem = "every needs a number of runs of 1 to " + std::to_string(SimMaxRuns);
            return false;
        }
        return true;
    }
    for (std::size_t pos = 0; pos <= list.size();) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        if (!ParseDecimal(list.substr(pos, comma - pos), SimMaxRuns, run) || run < 1) {
            problem = "runs needs run numbers of 1 to " + std::to_string(SimMaxRuns) +
                      ", e.g. \"runs 1,3\"";
            return false;
        }
        fault.runs.push_back(run);
        pos = comma + 1;
    }
    return true;
}

// "request N KIND [VALUE] [RUNS]" or "keytable I KIND [VALUE] [RUNS]".
bool ParseFault(std::string_view text, SimFault& fault, std::string& problem) {
    auto words = SplitWords(text);
    if (words.size() >= 5 &&
        (words[words.size() - 2] == "runs" || words[words.size() - 2] == "every")) {
        if (!ParseFaultRuns(words[words.size() - 2], words.back(), fault, problem)) {
            return false;
        }
        words.resize(words.size() - 2);
    }
    if (words.size() < 3) {
        problem = "fault needs a target and a kind, e.g. \"request 5 no-reply\"";
        return false;
    }
    std::uint32_t index = 0;
    if (words[0] == "request") {
        if (!ParseDecimal(words[1], SimMaxFaultRequest, index) || index < 1) {
            problem = "fault request number must be 1 to " + std::to_string(SimMaxFaultRequest);
            return false;
        }
        fault.target = SimFault::Target::Request;
    } else if (words[0] == "keytable") {
        if (!ParseDecimal(words[1], KeyTableRecordCount - 1, index)) {
            problem = "fault keytable index must be 0 to 247";
            return false;
        }
        fault.target = SimFault::Target::KeyTable;
    } else {
        problem = "unknown fault target " + Quoted(words[0]) + " (request or keytable)";
        return false;
    }
    fault.index = index;

    const std::string_view kind = words[2];
    const std::size_t wantWords = (kind == "no-reply" || kind == "write-fails" ||
                                   kind == "write-hangs" || kind == "reply-twice")
                                      ? 3
                                      : 4;
    std::uint32_t value = 0;
    const bool hasValue = words.size() == 4;
    if (kind == "no-reply") {
        fault.kind = SimFault::Kind::NoReply;
    } else if (kind == "write-fails") {
        fault.kind = SimFault::Kind::WriteFails;
    } else if (kind == "write-hangs") {
        fault.kind = SimFault::Kind::WriteHangs;
    } else if (kind == "reply-twice") {
        fault.kind = SimFault::Kind::ReplyTwice;
    } else if (kind == "reply-at-wait") {
        fault.kind = SimFault::Kind::ReplyAtWait;
        if (!hasValue || !ParseDecimal(words[3], SimMaxFaultRequest, value) || value < 1) {
            problem =
                "reply-at-wait needs a wait number of 1 to " + std::to_string(SimMaxFaultRequest);
            return false;
        }
    } else if (kind == "refuse") {
        fault.kind = SimFault::Kind::Refuse;
        if (!hasValue || !ParseHexNumber(words[3], 2, value) || value == 0) {
            problem = "refuse needs a status byte of 01 to FF";
            return false;
        }
    } else if (kind == "short") {
        fault.kind = SimFault::Kind::Short;
        if (!hasValue || !ParseDecimal(words[3], ReportBufferSize - 1, value) || value < 1) {
            problem = "short needs a reply length of 1 to 64";
            return false;
        }
    } else {
        problem =
            "unknown fault kind " + Quoted(kind) +
            " (no-reply, reply-at-wait, write-fails, write-hangs, refuse, short, reply-twice)";
        return false;
    }
    if (words.size() != wantWords) {
        problem = "unexpected text after the fault";
        return false;
    }
    fault.value = value;
    return true;
}

// One "key = value" line. `problem` says what is wrong with it.
bool ParseSetting(std::string_view key, std::string_view value, SimDeviceFile& device,
                  std::string& problem) {
    Ob310State& state = device.state;
    std::uint32_t number = 0;
    const auto hexField = [&](std::uint8_t* out, std::size_t size) {
        if (ParseHexBytes(value, out, size)) {
            return true;
        }
        problem = std::string(key) + " needs " + std::to_string(2 * size) + " hexadecimal digits";
        return false;
    };

    if (key == "devices") {
        if (!ParseDecimal(value, SimMaxDevices, number)) {
            problem = "devices must be 0 to 3";
            return false;
        }
        device.deviceCount = static_cast<int>(number);
    } else if (key == "runs") {
        if (!ParseDecimal(value, SimMaxRuns, device.runs)) {
            problem = "runs must be 0 to " + std::to_string(SimMaxRuns);
            return false;
        }
    } else if (key == "version") {
        if (!ParseHexNumber(value, 4, number)) {
            problem = "version needs 1 to 4 hexadecimal digits";
            return false;
        }
        state.versionNumber = static_cast<std::uint16_t>(number);
    } else if (key == "serial") {
        if (!ParseHexNumber(value, 8, number)) {
            problem = "serial needs 1 to 8 hexadecimal digits";
            return false;
        }
        state.serial = number;
    } else if (key == "pin") {
        return hexField(state.pin.data(), state.pin.size());
    } else if (key == "erase_count") {
        if (!ParseDecimal(value, 0xFFFF, number)) {
            problem = "erase_count must be 0 to 65535";
            return false;
        }
        state.eraseCount = static_cast<std::uint16_t>(number);
    } else if (key == "locked") {
        if (value != "yes" && value != "no") {
            problem = "locked must be yes or no";
            return false;
        }
        state.locked = value == "yes";
    } else if (key == "custom_data") {
        return hexField(state.customData.data(), state.customData.size());
    } else if (key == "led_mode") {
        return hexField(&state.ledMode, 1);
    } else if (key == "led_params") {
        return hexField(state.ledParams.data(), state.ledParams.size());
    } else if (key == "led_data") {
        return hexField(state.ledData.data(), state.ledData.size());
    } else if (key == "mouse_data") {
        return hexField(state.mouseData.data(), state.mouseData.size());
    } else if (key == "debounce") {
        return hexField(&state.debounce, 1);
    } else if (key == "fault") {
        SimFault fault;
        if (!ParseFault(value, fault, problem)) {
            return false;
        }
        device.faults.push_back(fault);
    } else {
        const auto words = SplitWords(key);
        if (words.size() == 2 && words[0] == "keytable") {
            if (!ParseDecimal(words[1], KeyTableRecordCount - 1, number)) {
                problem = "keytable index must be 0 to 247";
                return false;
            }
            KeyTableRecord& record = state.keyTables[number];
            if (!ParseHexBytes(value, record.data(), record.size())) {
                problem = "keytable needs 64 hexadecimal digits";
                return false;
            }
            return true;
        }
        problem = "unknown key " + Quoted(key);
        return false;
    }
    return true;
}

constexpr const char* FileHeader =
    "# The simulated OB310 of ob310_cli_sim. The simulator reads this file when a\n"
    "# run first looks for a device and rewrites it at the end of a run that changed\n"
    "# the device (ob310_sim_device.journal holds the changes meanwhile), so edit it\n"
    "# only between runs; comments of your own are not kept. Delete it (and the\n"
    "# journal, if any) to reset the device to its factory state.\n"
    "#\n"
    "# devices     = 0 to 3            how many OB310 are attached\n"
    "# runs        = decimal           the runs so far, counted by the simulator\n"
    "# version     = hex, 1-4 digits   the HID version number (revision)\n"
    "# serial      = hex, 1-8 digits   the serial number\n"
    "# pin         = 16 hex digits     the PIN the device holds\n"
    "# erase_count = 0 to 65535\n"
    "# locked      = yes | no\n"
    "# custom_data = 32 hex digits;  led_mode = 2;  led_params = 16;  led_data = 30\n"
    "# mouse_data  = 64 hex digits;  debounce = 2\n"
    "# keytable N  = 64 hex digits     record N (0-247); records not listed are zero\n"
    "# fault       = request N KIND    at the N-th report of a run (1 = first)\n"
    "# fault       = keytable I KIND   at the key-table record I\n"
    "#   KIND: no-reply | reply-at-wait W | write-fails | write-hangs | refuse XX | short L "
    "(1-64)\n"
    "#         | reply-twice\n"
    "#   then, to fire in chosen runs only: runs A,B,... | every N (runs N, 2N, ...)\n"
    "#\n";

std::string UpperHex(const std::uint8_t* data, std::size_t size) {
    std::string text = HexText(data, size);
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The lines of every key but devices, faults and the key-table records, in
// the file's order.
std::vector<std::string> SettingLines(const Ob310State& state) {
    const auto line = [](const char* key, const std::string& value) {
        return std::string(key) + " = " + value + "\n";
    };
    return {
        line("version", HexNumber(state.versionNumber, 4)),
        line("serial", HexNumber(state.serial, 8)),
        line("pin", HexText(state.pin.data(), state.pin.size())),
        line("erase_count", std::to_string(state.eraseCount)),
        line("locked", state.locked ? "yes" : "no"),
        line("custom_data", HexText(state.customData.data(), state.customData.size())),
        line("led_mode", HexText(&state.ledMode, 1)),
        line("led_params", HexText(state.ledParams.data(), state.ledParams.size())),
        line("led_data", HexText(state.ledData.data(), state.ledData.size())),
        line("mouse_data", HexText(state.mouseData.data(), state.mouseData.size())),
        line("debounce", HexText(&state.debounce, 1)),
    };
}

std::string KeyTableLine(std::size_t index, const KeyTableRecord& record) {
    return "keytable " + std::to_string(index) + " = " + HexText(record.data(), record.size()) +
           "\n";
}

std::string FormatFault(const SimFault& fault) {
    std::string text = fault.target == SimFault::Target::Request ? "request " : "keytable ";
    text += std::to_string(fault.index);
    switch (fault.kind) {
    case SimFault::Kind::NoReply: text += " no-reply"; break;
    case SimFault::Kind::WriteFails: text += " write-fails"; break;
    case SimFault::Kind::WriteHangs: text += " write-hangs"; break;
    case SimFault::Kind::ReplyAtWait:
        text += " reply-at-wait " + std::to_string(fault.value);
        break;
    case SimFault::Kind::Refuse: text += " refuse " + HexNumber(fault.value, 2); break;
    case SimFault::Kind::Short: text += " short " + std::to_string(fault.value); break;
    case SimFault::Kind::ReplyTwice: text += " reply-twice"; break;
    }
    for (std::size_t i = 0; i < fault.runs.size(); ++i) {
        text += (i == 0 ? " runs " : ",") + std::to_string(fault.runs[i]);
    }
    if (fault.everyRuns != 0) {
        text += " every " + std::to_string(fault.everyRuns);
    }
    return text;
}

// What the device does with a report, in words.
std::string AnswerText(const SimReceivedReport& report) {
    if (report.write == SimWrite::Fails) {
        return "not taken, the write failed";
    }
    if (report.write == SimWrite::Hangs) {
        return "not taken, the write hung";
    }
    if (!report.replies) {
        return "no reply";
    }
    const std::vector<std::uint8_t>& reply = report.reply;
    std::string text;
    if (reply.size() > StatusByteOffset) {
        const std::uint8_t status = reply[StatusByteOffset];
        text = (status != 0 ? "refused, status " : "status ") + HexNumber(status, 2);
    } else {
        text = "no status";
    }
    if (reply.size() < ReportBufferSize) {
        text += ", short reply of " + std::to_string(reply.size()) +
                (reply.size() == 1 ? " byte" : " bytes");
    }
    if (report.replyAtWait > static_cast<std::uint32_t>(ReadAttempts)) {
        text += ", late: at wait " + std::to_string(report.replyAtWait) +
                ", after the tool stopped waiting";
    } else if (report.replyAtWait > 1) {
        text += ", at wait " + std::to_string(report.replyAtWait);
    }
    return text;
}

bool IsRegularOrAbsent(const std::string& path) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    return type == std::filesystem::file_type::not_found ||
           type == std::filesystem::file_type::regular;
}

// The whole text of the regular file at `path`, refusing anything else
// before it is opened or read whole.
SimLoadOutcome ReadSmallFile(const std::string& path, std::string& text, std::string& error) {
    std::error_code ec;
    const auto type = std::filesystem::status(path, ec).type();
    if (type == std::filesystem::file_type::not_found) {
        return SimLoadOutcome::Missing;
    }
    if (type != std::filesystem::file_type::regular) {
        error = path + " is not a regular file";
        return SimLoadOutcome::Broken;
    }
    std::ifstream in(path, std::ios::binary);
    text.resize(SimMaxFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (!in.is_open() || in.bad()) {
        error = "can not read " + path;
        return SimLoadOutcome::Broken;
    }
    if (text.size() > SimMaxFileBytes) {
        error = path + " is larger than 1 MiB";
        return SimLoadOutcome::Broken;
    }
    return SimLoadOutcome::Loaded;
}

}  // namespace

bool ParseSimDeviceFile(std::string_view text, SimDeviceFile& device, std::string& error) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);  // editors on Windows add it
    }
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        line = Trim(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = "line " + std::to_string(lineNumber) + ": expected key = value";
            return false;
        }
        std::string problem;
        if (!ParseSetting(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), device,
                          problem)) {
            error = "line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
    }
    return true;
}

std::string FormatSimDeviceFile(const SimDeviceFile& device) {
    std::string text = FileHeader;
    text += "devices = " + std::to_string(device.deviceCount) + "\n";
    text += "runs = " + std::to_string(device.runs) + "\n";
    for (const std::string& line : SettingLines(device.state)) {
        text += line;
    }
    const auto& records = device.state.keyTables;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i] != KeyTableRecord{}) {
            text += KeyTableLine(i, records[i]);
        }
    }
    for (const SimFault& fault : device.faults) {
        text += "fault = " + FormatFault(fault) + "\n";
    }
    return text;
}

std::string FormatSimChanges(const Ob310State& before, const Ob310State& after) {
    std::string text;
    const std::vector<std::string> old = SettingLines(before);
    const std::vector<std::string> now = SettingLines(after);
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] != old[i]) {
            text += now[i];
        }
    }
    for (std::size_t i = 0; i < after.keyTables.size(); ++i) {
        if (after.keyTables[i] != before.keyTables[i]) {
            text += KeyTableLine(i, after.keyTables[i]);
        }
    }
    return text;
}

bool SimFault::FiresInRun(std::uint32_t run) const {
    if (everyRuns != 0) {
        return run % everyRuns == 0;
    }
    return runs.empty() || std::find(runs.begin(), runs.end(), run) != runs.end();
}

std::string FormatReceivedReport(const SimReceivedReport& received) {
    const std::uint8_t* data = received.bytes.data();
    const std::size_t length = received.bytes.size();
    Report report{};  // a short report reads as zero-padded, as the device reads it
    std::copy_n(data, std::min(length, report.size()), report.begin());
    const std::string pin = ", PIN " + UpperHex(report.data() + 5, 8);
    std::string words;
    switch (static_cast<CommandCode>(report[1])) {
    case CommandCode::Info: words = "information query"; break;
    case CommandCode::KeyTableRecord: words = "keytable " + std::to_string(report[2]) + pin; break;
    case CommandCode::Erase: words = "erase" + pin; break;
    case CommandCode::NewPin: words = "new PIN " + UpperHex(report.data() + 13, 8) + pin; break;
    case CommandCode::CustomData: words = "custom data" + pin; break;
    case CommandCode::Lock: words = "lock" + pin; break;
    case CommandCode::Led: words = "LED" + pin; break;
    case CommandCode::Mouse: words = "mouse" + pin; break;
    case CommandCode::Debounce: words = "debounce " + HexNumber(report[13], 2) + pin; break;
    default: words = "command " + HexNumber(report[1], 2) + pin; break;
    }
    return HexText(data, length) + "  request " + std::to_string(received.requestNumber) + ": " +
           words + " -> " + AnswerText(received);
}

SimLoadOutcome LoadSimDeviceFile(const std::string& path, SimDeviceFile& device,
                                 std::string& error) {
    std::string text;
    const SimLoadOutcome outcome = ReadSmallFile(path, text, error);
    if (outcome == SimLoadOutcome::Loaded && !ParseSimDeviceFile(text, device, error)) {
        error = path + " " + error;
        return SimLoadOutcome::Broken;
    }
    return outcome;
}

SimLoadOutcome ApplySimJournal(const std::string& path, SimDeviceFile& device, std::string& error) {
    if (!IsRegularOrAbsent(path)) {
        return SimLoadOutcome::Missing;
    }
    std::string text;
    const SimLoadOutcome outcome = ReadSmallFile(path, text, error);
    if (outcome != SimLoadOutcome::Loaded) {
        return outcome;
    }
    const std::size_t end = text.rfind(SimJournalEntryEnd);
    text.resize(end == std::string::npos ? 0 : end);
    if (!ParseSimDeviceFile(text, device, error)) {
        error = path + " " + error;
        return SimLoadOutcome::Broken;
    }
    return SimLoadOutcome::Loaded;
}

bool SaveSimDeviceFile(const std::string& path, const SimDeviceFile& device) {
    const std::string sidePath = path + SimSideFileSuffix;
    if (!IsRegularOrAbsent(sidePath)) {
        return false;
    }
    {
        std::ofstream out(sidePath, std::ios::binary | std::ios::trunc);
        out << FormatSimDeviceFile(device);
        out.close();
        if (!out) {
            return false;
        }
    }
    // std::filesystem::rename replaces an existing file on Windows too
    // (MoveFileEx with MOVEFILE_REPLACE_EXISTING), unlike std::rename there.
    std::error_code ec;
    std::filesystem::rename(sidePath, path, ec);
    return !ec;
}

}  // namespace ob310
