#!/bin/sh
# Builds the fuzz preset and runs each fuzzer briefly over a copy of its seed
# corpus: the configuration reader (corpus/) and the report-descriptor parser
# (descriptor-corpus/). Exits non-zero when the build fails or a fuzzer finds a
# crash, a sanitizer report or a broken contract.
#   fuzz/run-short.sh [seconds per fuzzer]     (default 20)
set -eu

seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
cmake --build build/fuzz --target ob310_descriptor_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# run_fuzzer NAME SEED_DIR
run_fuzzer() {
  mkdir "$work/$1" "$work/$1/corpus" "$work/$1/artifacts"
  cp "$2"/* "$work/$1/corpus/"
  status=0
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build/fuzz/fuzz/$1" "$work/$1/corpus" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$1/artifacts/" -print_final_stats=1 || status=$?
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/$1/artifacts")" ]; then
    mkdir -p build/fuzz/artifacts
    cp "$work/$1/artifacts/"* build/fuzz/artifacts/ 2>/dev/null || true
    echo "$1 failed (status $status); inputs kept in build/fuzz/artifacts" >&2
    return 1
  fi
  echo "$1: no findings in ${seconds}s"
}

failed=0
run_fuzzer ob310_config_fuzzer fuzz/corpus || failed=1
run_fuzzer ob310_descriptor_fuzzer fuzz/descriptor-corpus || failed=1
exit $failed
