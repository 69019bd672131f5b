#include "simulator/sim_persistent.h"

#include <gtest/gtest.h>

#include <optional>

#include "cli/entry.h"
#include "simulator/sim_state_file.h"
#include "tests/support/config_lines.h"
#include "tests/support/temp_dir.h"

namespace ob310 {
namespace {

// The watched run's record and what its watch counted.
std::string watchedRecord;
int reportsTaken = 0;
int reportsUnrecorded = 0;

// The tool over a layer that, after each report the device took, counts the
// reports whose whole line the record on disk does not end with yet.
class RecordWatch : public HidLayer {
public:
    explicit RecordWatch(HidLayer& device) : hid_(device) {}

    std::vector<std::string> EnumerateInterfaces() override { return hid_.EnumerateInterfaces(); }
    HidHandle Open(const std::string& path, HidAccess access, HidIoMode mode) override {
        return hid_.Open(path, access, mode);
    }
    void Close(HidHandle handle) override { hid_.Close(handle); }
    bool ReadAttributes(HidHandle handle, HidAttributes& attributes) override {
        return hid_.ReadAttributes(handle, attributes);
    }
    bool ReadCaps(HidHandle handle, HidCaps& caps) override { return hid_.ReadCaps(handle, caps); }
    bool ReadProductString(HidHandle handle, char16_t* buffer, std::uint32_t bufferBytes) override {
        return hid_.ReadProductString(handle, buffer, bufferBytes);
    }
    std::uint32_t WriteReport(HidHandle handle, const std::uint8_t* data, std::uint32_t length,
                              std::uint32_t timeoutMs) override {
        const std::uint32_t written = hid_.WriteReport(handle, data, length, timeoutMs);
        const std::string record = ReadFileBytes(watchedRecord);
        const std::size_t line = record.rfind("  request " + std::to_string(++reportsTaken) + ": ");
        if (written == 0 || line == std::string::npos ||
            record.find('\n', line) != record.size() - 1)
            ++reportsUnrecorded;
        return written;
    }
    void FlushInput(HidHandle readHandle) override { hid_.FlushInput(readHandle); }
    std::unique_ptr<HidReader> CreateReader(HidHandle handle) override {
        return hid_.CreateReader(handle);
    }

private:
    HidLayer& hid_;
};

int WatchedTool(int argc, const char* const* argv, HidLayer& device, OutputSink& console) {
    RecordWatch layer(device);
    return Ob310Main(argc, argv, layer, console);
}

TEST(PersistentSimTest, EachReportIsRecordedBeforeItsAnswer) {
    TempDir dir;
    SimRunOptions options;
    options.folder = dir.Path().string();
    watchedRecord = dir.File(SimRecordFileName);
    const std::string file = dir.File("sample.ob310");
    WriteFileBytes(file, ConfigFileText(ConfigDataLines(SampleConfigImage())));
    const char* argv[] = {"ob310_cli_sim", "-f", file.c_str(), "-p", "5A3C19E7B2D40F86"};
    ConsoleCapture console;
    EXPECT_EQ(RunPersistentSimulator(5, argv, WatchedTool, console, options), 0) << console.Text();
    EXPECT_EQ(reportsTaken, 255);
    EXPECT_EQ(reportsUnrecorded, 0);
}

// Another run holds the device: this one waits for it, at most 10 s, and
// without it finds no device. Nothing of the device is touched meanwhile.
TEST(PersistentSimTest, DeviceHeldByAnotherRun) {
    const struct {
        const char* folder;
        std::uint32_t releasedAfterMs;  // when the other run ends
        int exitStatus;
        std::uint32_t waitedMs;
        const char* said;  // after "ob310_cli_sim: "
    } cases[] = {
        {"", 3000, 0, 3000, ""},
        {"", 10100, 1, 10000, "another run has held LOCK for 10 s, so no OB310 is attached"},
        {"missing", 0, 1, 0, "can not lock LOCK, so no OB310 is attached"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string folder = *c.folder != 0 ? dir.File(c.folder) : dir.Path().string();
        const std::string lockPath = folder + "/" + SimLockFileName;
        std::optional<SimDeviceLock> other(std::in_place);
        std::uint32_t waited = 0;
        if (c.releasedAfterMs != 0) {
            ASSERT_EQ(other->Take(lockPath, 0, nullptr), SimDeviceLock::Outcome::Taken);
        }
        ConsoleCapture said;
        SimRunOptions options;
        options.folder = folder;
        options.lines = &said;
        options.sleep = [&](std::uint32_t ms) {
            waited += ms;
            if (waited == c.releasedAfterMs)
                other.reset();
        };
        ConsoleCapture console;
        const char* argv[] = {"ob310_cli_sim", "-i"};
        EXPECT_EQ(RunPersistentSimulator(2, argv, Ob310Main, console, options), c.exitStatus);
        EXPECT_EQ(waited, c.waitedMs);
        std::string line = c.said;
        if (!line.empty())
            line = "ob310_cli_sim: " + line.replace(line.find("LOCK"), 4, lockPath) + "\n";
        EXPECT_EQ(said.Text(), line);
        EXPECT_EQ(std::filesystem::exists(folder + "/" + SimDeviceFileName), c.exitStatus == 0);
    }
}

}  // namespace
}  // namespace ob310
