#!/bin/sh
# Builds the native preset, runs the benchmarks and prints each figure against
# its target. Usage: bench/run.sh [extra Google Benchmark options]
set -eu
cd "$(dirname "$0")/.."

cmake --preset native >/dev/null
cmake --build --preset native --target ob310_bench ob310_cli_sim >/dev/null

results=build/native/bench/results.csv
build/native/bench/ob310_bench --benchmark_out="$results" --benchmark_out_format=csv "$@"

echo
echo "Figures against targets:"
# Google Benchmark's CSV: a header line starting with "name," and one line per
# benchmark. The peak memory comes in the label column as peak_KiB=N.
awk -F, '
  /^name,/ { for (i = 1; i <= NF; i++) col[$i] = i; next }
  !("name" in col) { next }
  {
    name = $col["name"]; gsub(/"/, "", name)
    # With --benchmark_repetitions: take the median, skip the other aggregates.
    if (name ~ /_(mean|stddev|cv)$/) next
    sub(/_median$/, "", name); sub(/\/iterations:[0-9]+/, "", name)
    # CPU time: host time spent by the tool, not time the shared machine
    # spent on other processes.
    time = $col["cpu_time"]; unit = $col["time_unit"]
    if (name == "BM_WholeWrite") {
      ms = (unit == "us") ? time / 1000 : time
      printf "  whole write (256 exchanges): %8.3f ms   target <= 2.5 ms   %s\n", ms, (ms <= 2.5 ? "met" : "MISSED")
    } else if (name == "BM_OneExchange") {
      printf "  one exchange:                %8.3f %s   (no target of its own)\n", time, unit
    } else if (name == "BM_ReadConfigFile") {
      us = (unit == "ms") ? time * 1000 : time
      printf "  reading a 256-line file:     %8.3f us   target <  100 us   %s\n", us, (us < 100 ? "met" : "MISSED")
    } else if (name == "BM_LogRecord") {
      # The flush waits for the disk: wall-clock time is what a run pays.
      ms = (unit == "us") ? $col["real_time"] / 1000 : $col["real_time"]
      printf "  log record with its flush:   %8.3f ms   target <= 25 ms    %s\n", ms, (ms <= 25 ? "met" : "MISSED")
    } else if (name == "BM_PeakMemoryOfWriteRun") {
      kib = $col["label"]; gsub(/"|peak_KiB=/, "", kib)
      if (kib == "") next  # aggregates carry no label
      printf "  peak memory of a write run:  %8.0f KiB  target <  4096 KiB %s\n", kib, (kib < 4096 ? "met" : "MISSED")
    }
  }' "$results"
