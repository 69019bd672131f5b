#!/bin/sh
# Builds the fuzz preset and runs the configuration reader fuzzer briefly over
# a copy of the seed corpus. Exits non-zero when the build fails or the fuzzer
# finds a crash, a sanitizer report or a broken contract.
#   fuzz/run-short.sh [seconds]     (default 20)
set -eu

seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/corpus" "$work/artifacts"
cp fuzz/corpus/* "$work/corpus/"

status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build/fuzz/fuzz/ob310_config_fuzzer "$work/corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 || status=$?

if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
  mkdir -p build/fuzz/artifacts
  cp "$work/artifacts/"* build/fuzz/artifacts/ 2>/dev/null || true
  echo "ob310_config_fuzzer failed (status $status); inputs kept in build/fuzz/artifacts" >&2
  exit 1
fi
echo "ob310_config_fuzzer: no findings in ${seconds}s"
