#!/bin/sh
# The tool's main job, from a fresh clone, with no OB310 attached: builds the
# tools (release preset: no test or benchmark library), then writes
# examples/example.ob310 into a simulated OB310 with -v and a log file, prints
# the device information and shows the log line. The simulated device starts fresh on every run, so the
# output is the same each time (apart from the log line's time stamp).
set -eu
cd "$(dirname "$0")/.."

# Install the build tools only when they are missing (Debian, as root).
missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v make >/dev/null 2>&1 || missing="$missing make"
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v scdoc >/dev/null 2>&1 || missing="$missing scdoc"
if [ -n "$missing" ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
        echo "Installing:$missing"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
    else
        echo "Missing:$missing. Install them (Debian: apt-get install$missing) and run again."
        exit 1
    fi
fi

cmake --preset release
cmake --build --preset release

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp examples/example.ob310 "$demo/example.ob310"
cd "$demo"

echo
echo "No OB310 is needed: this runs ob310_cli_sim, the same tool with the same"
echo "command line and output, over a simulated OB310 that lives in"
echo "$demo/ob310_sim_device.txt (every report it received: $demo/ob310_sim_received.txt)."
echo "example.ob310 is a copy of examples/example.ob310."

run() {
    echo
    echo "\$ ob310_cli_sim $*"
    status=0
    ../release/ob310_cli_sim "$@" || status=$?
    echo "(exit status $status)"
    [ "$status" -eq 0 ] || exit "$status"
}

run -f example.ob310 -p 5A3C19E7B2D40F86 -v -l demo.log
run -i

echo
echo "\$ cat demo.log"
cat demo.log
