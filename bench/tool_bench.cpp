// Host time of the tool's work against a simulated OB310 that answers every
// report at once, and the peak memory of a real ob310_cli_sim write run.
//
// Targets (bench/run.sh prints each figure against its own):
//   whole write, 256 exchanges   <= 2.5 ms   (0.5 % of the ~0.51 s the USB bus needs)
//   reading a 256-line file      <  100 us
//   ob310_cli_sim's file work    a few ms per write run (its journal, record
//                                and one rewrite of the device file)
//   peak memory of a write run   <  4 MiB
//   a log record with its flush  <= 25 ms   (5 % of the ~0.51 s the USB bus needs)
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/peak_memory.h"
#include "cli/entry.h"
#include "config/config_file.h"
#include "device/discovery.h"
#include "device/exchange.h"
#include "output/console.h"
#include "output/log_file.h"
#include "protocol/pin.h"
#include "simulator/sim_hid_layer.h"
#include "simulator/sim_persistent.h"

namespace ob310 {

namespace {

const std::string ExampleFile = OB310_EXAMPLE_PATH;

// The whole tool, as "ob310_cli -f example.ob310 -p <PIN>" runs it: reading
// the file, discovery, the identity query, the erase, 248 key-table records
// and the five settings, 256 exchanges in all. The console is captured.
void BM_WholeWrite(benchmark::State& state) {
    SimHidLayer layer;
    layer.AddDevice();
    const char* argv[] = {"ob310_cli", "-f", ExampleFile.c_str(), "-p", "5A3C19E7B2D40F86"};
    ConsoleCapture console;
    for (auto _ : state) {
        const int exitCode = Ob310Main(5, argv, layer, console);
        if (exitCode != 0) {
            state.SkipWithError("the write failed");
            break;
        }
        // The layer records every operation; forget them so the record does
        // not grow from one iteration to the next.
        layer.ClearRecord();
        console.Clear();
    }
}
BENCHMARK(BM_WholeWrite)->Unit(benchmark::kMillisecond);

// One request and its reply on a discovered device.
void BM_OneExchange(benchmark::State& state) {
    SimHidLayer layer;
    layer.AddDevice();
    DeviceInterfaceTable table;
    table.hid = &layer;
    DiscoverDevices(table);
    Report request{};
    request[1] = 0x02;  // a key-table record
    std::copy(FactoryDefaultPin.begin(), FactoryDefaultPin.end(), request.begin() + 5);
    for (auto _ : state) {
        Report reply{};
        benchmark::DoNotOptimize(ExchangeReport(table, request, reply));
        layer.ClearRecord();
    }
}
BENCHMARK(BM_OneExchange)->Unit(benchmark::kMicrosecond);

// ReadConfigFile on the 256 data lines (and comments) of the example file.
void BM_ReadConfigFile(benchmark::State& state) {
    ConfigImage image;
    ConsoleCapture console;
    for (auto _ : state) {
        if (ReadConfigFile(ExampleFile, image, console) != ConfigReadResult::Success) {
            state.SkipWithError("the example file did not read");
            break;
        }
    }
}
BENCHMARK(BM_ReadConfigFile)->Unit(benchmark::kMicrosecond);

// A whole "ob310_cli_sim -f example.ob310 -p <PIN>" in-process, with its
// files in a scratch folder: the tool's work plus the simulator's journal,
// record and rewrite of the device file.
void BM_PersistentWrite(benchmark::State& state) {
    const std::filesystem::path home = std::filesystem::current_path();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "ob310_bench_sim";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const char* argv[] = {"ob310_cli_sim", "-f", ExampleFile.c_str(), "-p", "5A3C19E7B2D40F86"};
    ConsoleCapture console;
    for (auto _ : state) {
        if (RunPersistentSimulator(5, argv, Ob310Main, console) != 0) {
            state.SkipWithError("the write failed");
            break;
        }
        std::filesystem::remove(SimRecordFileName);  // keep the record from growing
        console.Clear();
    }
    std::filesystem::current_path(home);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PersistentWrite)->Unit(benchmark::kMillisecond);

// The log's share of a run: open, one record written and flushed to stable
// storage, close, on the disk of the build folder. The flush waits for the
// disk, so wall-clock time counts here.
void BM_LogRecord(benchmark::State& state) {
    const std::string path = "ob310_bench.log";
    const std::string record = "CMD=write;STATE=success;SN=00B31001;REV=1026;FILE=example.ob310;";
    CLogFile log;
    ConsoleCapture console;
    for (auto _ : state) {
        const bool written = log.LogfileOpen(path, console) && log.WriteLine(record);
        if (!log.Close() || !written) {
            state.SkipWithError("the record was not written");
            break;
        }
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LogRecord)->Unit(benchmark::kMillisecond)->UseRealTime();

// The peak resident memory of a real "ob310_cli_sim -f ... -p ..." process,
// in a scratch folder with a fresh simulated device. Reported in the label.
void BM_PeakMemoryOfWriteRun(benchmark::State& state) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "ob310_bench_peak_memory";
    long peakKiB = -1;
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        int exitStatus = -1;
        peakKiB = PeakResidentKiB(OB310_CLI_SIM_PATH, {"-f", ExampleFile, "-p", "5A3C19E7B2D40F86"},
                                  dir.string(), exitStatus);
        if (peakKiB < 0 || exitStatus != 0) {
            state.SkipWithError("the write run could not be measured");
            break;
        }
    }
    std::filesystem::remove_all(dir);
    // A label rather than a counter: the CSV report wants one set of counters
    // for every benchmark.
    state.SetLabel("peak_KiB=" + std::to_string(peakKiB));
}
BENCHMARK(BM_PeakMemoryOfWriteRun)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace ob310

BENCHMARK_MAIN();
