#!/usr/bin/env bash
# Checks of what ships, one per call (scripts/test.sh counts each as a test):
#   deb          make the .deb (scripts/make-deb.sh), lintian, unpack it, the newest C library
#                symbol version the programs need, the shipped README's links, run the tools
#   zip          make the zip and the MSI from the windows preset's build, unpack the zip, its
#                README's links, run its .exe files under Wine
#   resources    version and manifest resources of the .exe files
#   man          the installed man pages render without a groff warning
#   station-sh   examples/program-station.sh against the installed simulator: one run per
#                case, then whole production sessions (--production), two ended by Ctrl+C,
#                one with a log on a FIFO
#   station-bat  examples/program-station.bat under Wine's cmd against ob310_cli_sim.exe, with
#                names holding & % ! ^ spaces and non-ASCII letters, then a production session
#   msi          install the MSI under Wine, run ob310_cli.exe from PATH, uninstall
#   bullseye     install the .deb in a Debian 11 root (debootstrap, kept in build/), run the
#                tools and the man pages' examples there (skipped when the archive cannot be
#                reached or when not root)
#   reproducible build the .deb and the zip again from a copy of the sources in another folder:
#                the same bytes
# deb and zip come first: the other checks use what they built and unpacked in build/packages.
# Exit 0 when the check passes, 1 when it fails (a FAIL line for each thing that is wrong), 77
# when it is skipped.
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
version=$(sed -nE 's/^project\(ob310_cli VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
deb_version=$(sed -nE '1s/^ob310-cli \(([^)]+)\).*/\1/p' debian/changelog)
packages=$root/build/packages
check=$packages/check
deb=$packages/ob310-cli_${deb_version}_amd64.deb
zip=$packages/ob310_cli-$version-win64.zip
msi=$packages/ob310_cli-$version-win64.msi
deb_root=$check/deb
doc_dir=$deb_root/usr/share/doc/ob310-cli
zip_root=$check/zip/ob310_cli-$version-win64
pin=5A3C19E7B2D40F86
glibc_floor=2.31    # Debian 11; Ubuntu 22.04 has 2.35
export WINEDEBUG=-all
# File names in any language are UTF-8 here, and Wine maps them to Windows names through the
# locale's character set: without a UTF-8 locale (a bare root shell has none) it cannot create
# them. C.UTF-8 is part of every Debian system.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

failed=0
# fail CHECK: a check failed: says so, counts it and goes on (the exit status tells).
fail() { echo "FAIL: $*"; failed=1; }
# stop REASON: what follows needs what failed: says so and ends the check with 1.
stop() { echo "FAIL: $*"; exit 1; }

# Runs the rest of the line, keeping its output in $out and its status in $status.
run() { out=$("$@" 2>&1); status=$?; }

# A fresh scratch folder with a copy of the example file and a simulated
# OB310 set up by the given device-file lines (none: factory values).
scratch() {
    rm -rf "$check/run" && mkdir -p "$check/run" && cp examples/example.ob310 "$check/run/" || exit 1
    [ $# = 0 ] || printf '%s\n' "$@" >"$check/run/ob310_sim_device.txt"
}

# Every relative link of a shipped README ($1, read from standard input) names
# a file the package holds beside it.
check_readme_links() {
    local where=$1 dir=$2 target n=0
    while read -r target; do
        n=$((n + 1))
        [ -e "$dir/$target" ] || fail "the README in $where links to $target, which it does not hold"
    done < <(grep -oE '\]\([^)#][^)]*\)' | sed -E 's/^\]\((.*)\)$/\1/' | grep -vE '^[a-z]+:')
    [ "$n" -gt 0 ] || fail "no link found in the README of $where"
    echo "README links in $where: $n, each resolves"
}

check_deb() {
    rm -rf "$deb_root" "$packages"/*.deb && mkdir -p "$check"
    scripts/make-deb.sh >"$check/deb.log" 2>&1 || { tail -n 30 "$check/deb.log"; stop "scripts/make-deb.sh"; }
    [ -f "$deb" ] || stop "no $deb"
    command -v lintian >/dev/null && command -v objdump >/dev/null || stop "lintian and objdump are needed"
    echo "lintian -EvIL +pedantic $(basename "$deb"):"
    local hints
    hints=$(lintian -EvIL +pedantic "$deb" 2>&1 | grep -v '^running with root privileges')
    echo "$hints"
    ! grep -qE '^[EW]: ' <<<"$hints" || fail "lintian reports an error or a warning"
    dpkg -x "$deb" "$deb_root" || stop "dpkg -x $deb"
    local f
    for f in usr/bin/ob310_cli usr/bin/ob310_cli_sim usr/share/man/man1/ob310_cli.1.gz \
        usr/share/man/man1/ob310_cli_sim.1.gz usr/lib/udev/rules.d/70-ob310.rules \
        usr/share/doc/ob310-cli/{README.md.gz,copyright,changelog.gz,changelog.Debian.gz} \
        usr/share/doc/ob310-cli/{THIRD-PARTY-NOTICES.txt.gz,examples/example.ob310,examples/program-station.sh}; do
        [ -f "$deb_root/$f" ] || fail "the .deb lacks /$f"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version-1"
    # Static programs: no dependency at all, and the libraries they carry named.
    [ -z "$(dpkg-deb -f "$deb" Depends)" ] || fail "Depends: $(dpkg-deb -f "$deb" Depends)"
    [[ $(dpkg-deb -f "$deb" Built-Using) == *"glibc (= "* && $(dpkg-deb -f "$deb" Built-Using) == *"gcc-"* ]] || fail "Built-Using: $(dpkg-deb -f "$deb" Built-Using)"
    # The newest symbol version of the C library the programs ask for: at most Debian 11's.
    local prog newest
    for prog in ob310_cli ob310_cli_sim; do
        newest=$(objdump -T "$deb_root/usr/bin/$prog" 2>/dev/null | grep -oE 'GLIBC_[0-9.]+' |
            sed 's/GLIBC_//' | sort -uV | tail -n 1)
        echo "GLIBC: /usr/bin/$prog needs ${newest:-no versioned C library symbol (static)}; Debian 11 has $glibc_floor"
        [ -z "$newest" ] || [ "$(printf '%s\n' "$newest" "$glibc_floor" | sort -V | tail -n 1)" = "$glibc_floor" ] ||
            fail "$prog needs GLIBC_$newest, newer than $glibc_floor"
    done
    # The installed programs are stripped, so nm shows no symbol: the simulator's own texts
    # show instead that the tool carries none of it.
    grep -q 'ob310_sim_device' "$deb_root/usr/bin/ob310_cli_sim" || fail "no simulator text in ob310_cli_sim"
    ! grep -q 'ob310_sim_device' "$deb_root/usr/bin/ob310_cli" || fail "/usr/bin/ob310_cli holds the simulator"
    echo "/usr/bin/ob310_cli: $(nm "$deb_root/usr/bin/ob310_cli" 2>&1 | head -n 1 | sed 's/^.*: //'), no simulator text in it"
    zcat "$doc_dir/README.md.gz" | check_readme_links "/usr/share/doc/ob310-cli" "$doc_dir"
    run "$deb_root/usr/bin/ob310_cli" -h
    [ "$status" = 0 ] && grep -q '^256 = File content error' <<<"$out" || fail "ob310_cli -h: $status $out"
    scratch
    run bash -c "cd '$check/run' && '$deb_root/usr/bin/ob310_cli_sim' -i"
    [ "$status" = 0 ] && grep -q '^Revision = 1026' <<<"$out" || fail "ob310_cli_sim -i: $status $out"
}

# The zip and the MSI, made from the windows preset's build (the test command has built it): its
# programs are the windows-tools preset's, byte for byte, which the reproducible check shows.
check_zip() {
    rm -rf "$check/zip" "$zip" "$msi" && mkdir -p "$check"
    # (Configured only when it is not as the preset says: the Windows tests may be running in it.)
    { { grep -qxF "OB310_PACKAGE_DIR:PATH=$packages" build/windows/CMakeCache.txt 2>/dev/null ||
        cmake --preset windows; } &&
        cmake --build --preset windows --target ob310_cli ob310_cli_sim &&
        cpack --preset windows && cmake --build --preset windows --target msi; } >"$check/zip.log" 2>&1 ||
        { tail -n 30 "$check/zip.log"; stop "windows build, cpack or the MSI"; }
    [ -f "$msi" ] || stop "no $msi"
    mkdir -p "$check/zip"
    (cd "$check/zip" && cmake -E tar xf "$zip") || stop "unpack the zip"
    local f
    for f in ob310_cli.exe ob310_cli_sim.exe README.md LICENSE.txt CHANGELOG.md THIRD-PARTY-NOTICES.txt \
        examples/{example.ob310,program-station.bat,program-station.ps1}; do
        [ -f "$zip_root/$f" ] || fail "the zip lacks $f"
    done
    check_readme_links "the zip" "$zip_root" <"$zip_root/README.md"
    run wine "$zip_root/ob310_cli.exe" -h
    [ "$status" = 0 ] && grep -q '^256 = File content error' <<<"$out" || fail "ob310_cli.exe -h: $status $out"
    scratch
    run bash -c "cd '$check/run' && wine '$zip_root/ob310_cli_sim.exe' -i"
    [ "$status" = 0 ] && grep -q '^Revision = 1026' <<<"$out" || fail "ob310_cli_sim.exe -i: $status $out"
}

check_resources() {
    local exe strings_el
    for exe in ob310_cli ob310_cli_sim; do
        [ -f "$zip_root/$exe.exe" ] || stop "$exe.exe not unpacked"
        # RT_VERSION (16) in the resource directory, and its strings (UTF-16).
        x86_64-w64-mingw32-objdump -p "$zip_root/$exe.exe" | grep -q 'Entry: ID: 0x000010,' ||
            fail "$exe.exe has no version resource"
        strings_el=$(strings -el "$zip_root/$exe.exe" | tr '\n' '|')
        local want
        for want in "FileVersion|$version|" "ProductVersion|$version" "ProductName|ob310_cli|" \
            "OriginalFilename|$exe.exe|" "LegalCopyright|Copyright (c) 2026 the ob310_cli authors" \
            "FileDescription|OB310 keyboard encoder programmer"; do
            [[ $strings_el == *"$want"* ]] || fail "$exe.exe: no \"$want\" in its version resource"
        done
        # RT_MANIFEST (24) with the UTF-8 code page, once its source is in the tree.
        if [ -f packaging/windows/ob310_cli.manifest ]; then
            x86_64-w64-mingw32-objdump -p "$zip_root/$exe.exe" | grep -q 'Entry: ID: 0x000018,' &&
                strings "$zip_root/$exe.exe" | grep -q '>UTF-8</activeCodePage>' ||
                fail "$exe.exe has no manifest with the UTF-8 code page"
        fi
    done
}

check_man() {
    local page warnings
    for page in ob310_cli ob310_cli_sim; do
        [ -f "$deb_root/usr/share/man/man1/$page.1.gz" ] || stop "$page.1.gz not unpacked"
        warnings=$(zcat "$deb_root/usr/share/man/man1/$page.1.gz" | groff -ww -z -man 2>&1)
        [ -z "$warnings" ] || fail "$page(1): $warnings"
        zcat "$deb_root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH \"$page\" \"1\" .*\"ob310_cli $version\"" ||
            fail "$page(1) does not name version $version"
    done
}

# One station run per case: device-file lines, PIN, file, log, expected exit
# code, operator line and tool (sim: the simulator; else a name no program
# has). A file named *bad* holds no configuration, any other is the example.
# Codes differ by platform for a content error and a tool that cannot start.
station_cases() {
    local content_code=$1 missing_code=$2 missing_tool=$3 special
    # name|device file lines (;-separated)|PIN|file|log|code|line|tool
    cat <<EOF
success|devices = 1|$pin|example.ob310|station.log|0|PASS: OB310 programmed and logged in station.log|sim
PIN error|devices = 1|${pin:1}|example.ob310|station.log|64|STOP: the PIN must be 16 hexadecimal digits|sim
device error|devices = 1;fault = request 3 no-reply|$pin|example.ob310|station.log|4|FAIL: the OB310 refused or did not answer|sim
no device|devices = 0|$pin|example.ob310|station.log|1|FAIL: no OB310 found|sim
content error|devices = 1|$pin|bad.ob310|station.log|$content_code|STOP: bad.ob310 is not a valid configuration file|sim
tool missing|devices = 1|$pin|example.ob310|station.log|$missing_code|STOP: $missing_tool can not be started|$missing_tool
name -line2|devices = 1|$pin|-line2.ob310|-line2.log|0|PASS: OB310 programmed and logged in -line2.log|sim
EOF
    # Names the command prompt treats specially, and letters beyond ASCII.
    for special in 'R&D' '100%' 'wow!' 'a^b' 'two words' 'Prüfung'; do
        echo "name $special|devices = 1|$pin|$special.ob310|$special.log|0|PASS: OB310 programmed and logged in $special.log|sim"
        echo "content error, name $special|devices = 1|$pin|$special-bad.ob310|station.log|$content_code|STOP: $special-bad.ob310 is not a valid configuration file|sim"
    done
}

# Runs each station case through the given runner (FILE PIN LOG TOOL; it
# sets $status and $out) in a fresh folder.
check_station() {
    local runner=$1 name device pin_arg file log code line tool
    while IFS='|' read -r name device pin_arg file log code line tool; do
        local lines
        IFS=';' read -r -a lines <<<"$device"
        scratch "${lines[@]}"
        case $file in
            *bad*) echo "$name" >"$check/run/$file" ;;
            example.ob310) ;;
            *) cp examples/example.ob310 "$check/run/$file" ;;
        esac
        "$runner" "$file" "$pin_arg" "$log" "$tool"
        [ "$status" = "$code" ] && grep -qF -- "$line" <<<"$out" ||
            fail "$runner, $name: exit $status, expected $code and \"$line\": $out"
        # A name that starts with "-" reaches the tool as ./NAME (.\NAME).
        if [ "$code" = 0 ]; then
            grep -qF -e "CMD=write;STATE=success;SN=00000000;REV=1026;FILE=$file;DEVICE=simulated;" \
                -e "FILE=./$file;DEVICE=simulated;" -e "FILE=.\\$file;DEVICE=simulated;" "$check/run/$log" ||
                fail "$runner, $name: no log line in $log"
        fi
        echo "$runner, $name: exit $status, $(grep -F -- "$line" <<<"$out" | head -n 1)"
    done < <(station_cases "${@:2}")
}

# The scripts checked: the packages' own, or the copies OB310_STATION_SH and
# OB310_STATION_BAT name (scripts/mutants.sh checks mutated ones).
station_sh_script=${OB310_STATION_SH:-$doc_dir/examples/program-station.sh}
station_bat_script=${OB310_STATION_BAT:-$zip_root/examples/program-station.bat}

station_sh() {
    local cli=$4
    [ "$cli" = sim ] && cli=ob310_cli_sim
    run env -C "$check/run" PATH="$deb_root/usr/bin:$PATH" OB310_CLI="$cli" "$station_sh_script" "$1" "$2" "$3"
}

# Wine hands only 8 bits of an exit status to Linux, so a wrapper batch file
# runs the .bat and prints the full code it exited with. (Wine's "call" loses
# a batch file's exit /b code; a nested cmd /c keeps it.) The wrapper holds
# the command line as a user would type it, each argument in quotes. Wine's
# cmd differs from Windows' in ways a wrapper must allow for: on the wrapper's
# own line (cmd /c ""...""), it takes & | < > ( ) as outside quotes, so they
# carry a caret (and on such a line a ^ of an argument is doubled); it expands
# a batch file's arguments once more than Windows does (it scans the value of
# %1 again for %), so % is doubled for the .bat to receive one %, and doubled
# again for the wrapper's own line; it reads a batch file in the OEM code page
# (437) and writes to a pipe in the ANSI one (1252).
bat_wrapper() {
    local line args= arg
    # (The program's own name, first on the line, loses a lone ^ as well.)
    line="\"\"$(winepath -w "$1" 2>/dev/null | sed 's/\^/^^/g')\""
    for arg in "${@:2}"; do args+=" \"${arg//%/%%%%}\""; done
    [[ $line$args != *[\&\|\<\>\(\)]* ]] || args=${args//^/^^}
    line=$(sed -E 's/[&|<>()]/^&/g' <<<"$line$args\"")
    printf '%s\r\n' "@cmd /c $line" '@echo exit=%ERRORLEVEL%' |
        iconv -f UTF-8 -t CP437 >"$check/run/wrap.bat"
}

station_bat() {
    local cli=$4 script=${5:-$station_bat_script}
    [ "$cli" = sim ] && cli=$(winepath -w "$zip_root/ob310_cli_sim.exe" 2>/dev/null)
    bat_wrapper "$script" "$1" "$2" "$3"
    run env -C "$check/run" ${cli:+OB310_CLI="$cli"} wine cmd /c wrap.bat
    out=$(iconv -c -f CP1252 -t UTF-8 <<<"${out//$'\r'/}")
    status=$(sed -n 's/^exit=//p' <<<"$out")
}

# The .bat finds the tool in the folder above its own by default, also when
# that folder's name holds characters the command prompt treats specially.
check_bat_folder() {
    local folder="$check/R&D wow! a^b Prüfung"    # % is lost by Wine in %~dp0
    rm -rf "$folder" && mkdir -p "$folder/examples" || stop "make $folder"
    cp "$zip_root/ob310_cli_sim.exe" "$folder/ob310_cli.exe" &&
        cp "$station_bat_script" "$folder/examples/" || stop "copy into $folder"
    scratch "devices = 1"
    station_bat example.ob310 "$pin" station.log "" "$folder/examples/program-station.bat"
    [ "$status" = 0 ] && grep -q '^PASS: ' <<<"$out" || fail "the .bat in \"$folder\": exit $status: $out"
    echo "station_bat, in folder \"$(basename "$folder")\" with its own ..\\ob310_cli.exe: exit $status, $(grep '^PASS' <<<"$out")"
}

# ---- A production session (--production) -------------------------------------
# A whole session on the simulator, driven as an operator works. Boards are
# device files kept in run/boards: plugging one puts its file in place with
# "devices = N" appended (the last line wins), unplugging appends
# "devices = 0", and the next plug takes the file back with the board's new
# state. Each change holds ob310_sim_device.lock the way the simulator takes it
# (flock natively; under Wine a byte lock, which wineserver also takes as a
# POSIX lock), so no run reads or rewrites the file meanwhile. Each step waits
# for what the station shows or does; the station polls with a pause of 20 ms
# (bash) or none (.bat), so no step waits for a clock.
A=00B31001 B=00B31002 C=00B31010 D=00B31020
# The configuration file and the log: names the command prompt treats specially
# (^ and ! apart: Wine's cmd drops a ^ from an argument that also holds a !).
s_file='a^b Prüfung.ob310' s_log='R&D 100% wow!.log'

# The boards: B refuses its custom data; D answers the information query of
# its third run (the check after writing) with 23 bytes, so that the check
# reads erase count and serial as 0. The log already holds a real write of C,
# a simulated one of D (written again: OB310_RERUN names it) and a simulated
# erase of B, none of which refuses the board. The file is the example with
# its lock line ($1: 00 open, 01 locked), saved with a UTF-8 byte order mark
# as Notepad saves it when $2 is "bom".
session_setup() {
    scratch "devices = 0"
    { [ "${2:-}" != bom ] || printf '\xEF\xBB\xBF'
      sed "/^# Data line 6:/,/^[0-9]/ s/^00\$/$1/" examples/example.ob310; } >"$check/run/$s_file" &&
        rm "$check/run/example.ob310" && mkdir "$check/run/boards" || stop "set up $check/run"
    printf 'serial = %s\n' "$A" >"$check/run/boards/A.txt"
    printf 'serial = %s\nfault = request 251 refuse 01\n' "$B" >"$check/run/boards/B.txt"
    printf 'serial = %s\n' "$C" >"$check/run/boards/C.txt"
    printf 'serial = %s\nfault = request 1 short 23 runs 3\n' "$D" >"$check/run/boards/D.txt"
    printf '%s\r\n' "01.12.2026 10:00:00: CMD=write;STATE=success;SN=$C;REV=1026;FILE=line 2.ob310;" \
        "01.12.2026 10:00:01: CMD=write;STATE=success;SN=$D;REV=1026;FILE=a.ob310;DEVICE=simulated;" \
        "01.12.2026 10:00:02: CMD=erase;STATE=success;SN=$B;REV=1026;DEVICE=simulated;" >"$check/run/$s_log"
    board=
}

# Runs the rest of the line in the run folder holding the simulated OB310's
# lock ($lock_kind: flock or fcntl).
sim_locked() {
    (cd "$check/run" && perl -MFcntl=:DEFAULT,:flock -e '
        open(my $f, ">>", "ob310_sim_device.lock") or die "ob310_sim_device.lock: $!";
        if (shift eq "flock") { flock($f, LOCK_EX) or die "flock: $!" }
        else { my $l = pack("s s x4 q q l x4", F_WRLCK, 0, 0, 1, 0); fcntl($f, F_SETLKW, $l) or die "fcntl: $!" }
        exit(system(@ARGV) >> 8);' "$lock_kind" "$@")
}

# Plugs board $1 ($2 of them: the simulator adds the next serial numbers);
# keeps in run/writes the number of write runs so far.
plug() {
    sim_locked sh -c '{ [ -z "$1" ] || cp ob310_sim_device.txt "boards/$1.txt"; } &&
        cp "boards/$2.txt" ob310_sim_device.txt && echo "devices = $3" >>ob310_sim_device.txt &&
        { grep -c ": -f " ob310_sim_received.txt >writes || :; }' - "$board" "$1" "${2:-1}" || stop "plug $1"
    board=$1
}
unplug() { sim_locked sh -c 'echo "devices = 0" >>ob310_sim_device.txt' || stop "unplug $board"; }

# How many lines of file $2 in the run folder hold $1.
count() {
    local n
    n=$(grep -cF -- "$1" "$check/run/$2" 2>/dev/null)
    echo "${n:-0}"
}
# The number of runs of the tool with $1 (-i or -f) so far.
runs() { count ": $1" ob310_sim_received.txt; }
polled() { [ "$(runs "$1")" -ge "$2" ]; }
shows() { [ "$(count "$1" "$s_log.report.txt")" -ge "${2:-1}" ]; }
shows_record() { [ "$(count "$1" ob310_sim_received.txt)" -ge 1 ]; }

# Waits at most 60 s for the rest of the line to succeed while the station runs.
wait_until() {
    local what=$1 i
    for ((i = 0; i < 3000; i++)); do
        "${@:2}" && return 0
        running || stop "the station ended before $what: $(cat "$check/run/screen")"
        sleep 0.02
    done
    stop "no $what within 60 s: $(cat "$check/run/screen")"
}
running() { kill -0 "$station" 2>/dev/null; }

# Waits at most 60 s for the station to end; its exit code in $status.
wait_end() {
    local i
    for ((i = 0; i < 3000; i++)); do
        running || break
        sleep 0.02
    done
    running && stop "the station did not end within 60 s: $(cat "$check/run/screen")"
    wait "$station"
    status=$?
}

# $2 more runs of the tool with $1 from now on.
more_polls() {
    local n
    n=$(runs "$1")
    wait_until "$2 more runs with $1" polled "$1" $((n + $2))
}

# The operator's session: A passes, B fails, A again is refused, D is written
# again and fails its check, C comes with a second OB310, then alone; the stop
# file appears while C is written.
session_steps() {
    local name waits=1
    wait_until "a wait for the first OB310" shows "Waiting for an OB310 ..."
    more_polls -i 2
    for name in A B A D; do
        plug "$name"
        wait_until "the result of $name" shows "Remove the OB310." "$waits"
        more_polls -i 1
        unplug
        waits=$((waits + 1))
        wait_until "a wait after $name" shows "Waiting for an OB310 ..." "$waits"
    done
    plug C 2
    wait_until "connect exactly one" shows "connect exactly one"
    more_polls -f 1
    plug C 1
    wait_until "C's write" polled -f $(($(cat "$check/run/writes") + 1))
    touch "$check/run/$s_log.stop"
}

# What the operator sees, times left out ($1: the tool's name, $2: the lock).
session_transcript() {
    local pass=(' ####    ###    ####   ####' ' #   #  #   #  #      #' ' ####   #####   ###    ###'
        ' #      #   #      #      #' ' #      #   #  ####   ####')
    local fail=(' #####   ###   #####  #' ' #      #   #    #    #' ' ####   #####    #    #'
        ' #      #   #    #    #' ' #      #   #  #####  #####')
    local refused=(' ####   #####  #####  #   #   ####  #####  ####' ' #   #  #      #      #   #  #      #      #   #'
        ' ####   ####   ####   #   #   ###   ####   #   #' ' #  #   #      #      #   #      #  #      #   #'
        ' #   #  #####  #       ###   ####   #####  ####')
    printf '%s\n' "TIME  Session started: $s_file into each OB310 with $1" \
        "Check after writing: custom data 4f42333130206578616d706c65203031, $2" \
        "Log $s_log, report $s_log.report.txt" "Stop with Ctrl+C or by creating $s_log.stop" \
        "Waiting for an OB310 ..." \
        "TIME  $A  PASS     written, checked and logged (erase count 1)" "${pass[@]}" \
        "Totals: 1 passed, 0 failed, 0 refused. Remove the OB310." \
        "Waiting for an OB310 ..." \
        "TIME  $B  FAIL     Error: Fail to write custom data. Code=0x0004" "${fail[@]}" \
        "Totals: 1 passed, 1 failed, 0 refused. Remove the OB310." \
        "Waiting for an OB310 ..." \
        "TIME  $A  REFUSED  already written; OB310_RERUN=$A writes it again" "${refused[@]}" \
        "Totals: 1 passed, 1 failed, 1 refused. Remove the OB310." \
        "Waiting for an OB310 ..." \
        "TIME  $D  FAIL     check: erase count 0, expected 1; serial 00000000, expected $D" "${fail[@]}" \
        "Totals: 1 passed, 2 failed, 1 refused. Remove the OB310." \
        "Waiting for an OB310 ..." \
        "STOP: more than one OB310 connected - connect exactly one" \
        "TIME  $C  PASS     written, checked and logged (erase count 1)" "${pass[@]}" \
        "Totals: 2 passed, 2 failed, 1 refused. Remove the OB310." \
        "TIME  Session ended by the stop file: 2 passed, 2 failed, 1 refused"
}

# Checks a finished session ($1: the tool's name on the screen): the screen
# (times left out), the report (the screen again), the log (one write each of
# A, D and C added) and the stop file (taken).
check_session() {
    local runner=$1 screen
    screen=$(sed -E 's/^[0-9][0-9:./, -]*( [AP]M)?  /TIME  /' "$check/run/screen")
    [ "$status" = 0 ] || fail "$runner session: exit $status: $screen"
    diff <(session_transcript "$2" locked) - <<<"$screen" || fail "$runner session: the screen differs (< expected, > shown)"
    tr -d '\r' <"$check/run/$s_log.report.txt" | $report_text | cmp -s - "$check/run/screen" ||
        fail "$runner session: the report is not what the screen showed"
    local records
    records=$(sed -nE 's/^.*: CMD=write;STATE=success;SN=([0-9A-F]+);.*(DEVICE=simulated;)\r$/\1/p' "$check/run/$s_log" | tr '\n' ' ')
    [ "$records" = "$D $A $D $C " ] || fail "$runner session: simulated writes in the log: $records"
    [ ! -e "$check/run/$s_log.stop" ] || fail "$runner session: the stop file is still there"
    echo "$runner: a production session, screen as expected ($(tail -n 1 <<<"$screen" | sed 's/^TIME  //')), report = screen, log + writes of $A $D $C"
}

# Starts program-station.sh as from a terminal: a process group of its own
# (Ctrl+C reaches all of it), SIGINT not ignored; $1 and $2: as session_setup.
# $station_path goes before PATH.
start_station_sh() {
    session_setup "$@"
    lock_kind=flock
    (cd "$check/run" && PATH="${station_path:-}$deb_root/usr/bin:$PATH" OB310_CLI=ob310_cli_sim OB310_POLL_MS=20 \
        OB310_RERUN="$D" exec setsid env --default-signal=INT "$station_sh_script" \
        --production "$s_file" "$pin" "$s_log" >screen 2>&1) &
    station=$!
    trap 'kill -- -$station 2>/dev/null' EXIT
}

session_sh() {
    start_station_sh 01
    session_steps
    wait_end
    report_text=cat check_session session_sh ob310_cli_sim
}

# Ctrl+C while a write is under way (it waits for the log's lock, held here
# with a POSIX lock of the byte the tool locks, before it touches the device):
# the write ends and is logged, the board is checked and reported, and the
# session ends with its totals. The file leaves the device open and starts
# with a byte order mark.
session_sh_ctrl_c() {
    start_station_sh 00 bom
    wait_until "a wait for the first OB310" shows "Waiting for an OB310 ..."
    (cd "$check/run" && exec perl -MFcntl -e 'open(my $f, ">>", $ARGV[0]) or die "$ARGV[0]: $!";
        my $l = pack("s s x4 q q l x4", F_WRLCK, 0, 9223372036854775807, 1, 0); fcntl($f, F_SETLKW, $l) or die;
        open(my $m, ">", "locked") or die; close $m;
        for (1 .. 6000) { last if -e "unlock"; select(undef, undef, undef, 0.01) }' "$s_log") &
    wait_until "the log's lock" test -e "$check/run/locked"
    plug A
    wait_until "A's write waiting for the log's lock" pgrep -g "$station" -f -- '-f .* -l ' >/dev/null
    kill -INT -- -"$station"
    touch "$check/run/unlock"
    wait_end
    local screen
    screen=$(sed -E 's/^[0-9][0-9:./, -]*( [AP]M)?  /TIME  /' "$check/run/screen")
    diff <(session_transcript ob310_cli_sim open | head -n 12
        echo "TIME  Session ended by Ctrl+C: 1 passed, 0 failed, 0 refused") - <<<"$screen" &&
        [ "$status" = 0 ] && grep -qF "CMD=write;STATE=success;SN=$A;" "$check/run/$s_log" ||
        fail "session_sh, Ctrl+C during a write: exit $status (< expected, > shown)"
    echo "session_sh, Ctrl+C during a write of $A: exit 0, $A passed and logged, then \"$(tail -n 1 <<<"$screen")\""
}

# Ctrl+C while the log is searched for the board's serial (a grep before the
# real one presses it): the board, written before, is still refused, and the
# session ends with its totals without writing it again.
session_sh_ctrl_c_lookup() {
    local grep
    grep=$(command -v grep)
    mkdir -p "$check/shim" && printf '%s\n' '#!/bin/sh' \
        "case \"\$*\" in *\"SN=$A;\"*) [ ! -e \"$check/run/press\" ] || { rm \"$check/run/press\"; kill -INT 0; } ;; esac" \
        "exec $grep \"\$@\"" >"$check/shim/grep" && chmod +x "$check/shim/grep" || stop "make $check/shim/grep"
    station_path="$check/shim:" start_station_sh 01
    station_path=
    printf '%s\r\n' "01.12.2026 10:00:03: CMD=write;STATE=success;SN=$A;REV=1026;FILE=a.ob310;DEVICE=simulated;" \
        >>"$check/run/$s_log"
    wait_until "a wait for the first OB310" shows "Waiting for an OB310 ..."
    touch "$check/run/press"
    plug A
    wait_end
    local screen
    screen=$(sed -E 's/^[0-9][0-9:./, -]*( [AP]M)?  /TIME  /' "$check/run/screen")
    grep -qF "TIME  $A  REFUSED  already written" <<<"$screen" && [ "$status:$(runs -f)" = 0:0 ] &&
        [ "$(tail -n 1 <<<"$screen")" = "TIME  Session ended by Ctrl+C: 0 passed, 0 failed, 1 refused" ] ||
        fail "session_sh, Ctrl+C during the log lookup: exit $status, $(runs -f) writes: $screen"
    echo "session_sh, Ctrl+C while the log is searched for $A: exit $status, $(runs -f) writes, \"$(tail -n 1 <<<"$screen")\""
}

# A log on a FIFO (a reader and a writer hold it open) cannot be read back for
# the boards already written: the session stops before it touches a device,
# rather than wait for the FIFO's end forever.
session_sh_fifo() {
    scratch "devices = 1"
    mkfifo "$check/run/station.log" || stop "mkfifo"
    { run timeout 60 env -C "$check/run" PATH="$deb_root/usr/bin:$PATH" OB310_CLI=ob310_cli_sim \
        OB310_POLL_MS=20 "$station_sh_script" --production example.ob310 "$pin" station.log; } \
        5<>"$check/run/station.log"
    [ "$status:$(runs -f)" = 16:0 ] && grep -qF "STOP: the log station.log is no file" <<<"$out" ||
        fail "session_sh, log on a FIFO: exit $status, $(runs -f) writes: $out"
    echo "session_sh, log on a FIFO: exit $status, $(grep -F STOP <<<"$out")"
}

# The session with program-station.bat under Wine's cmd, of a file with a
# byte order mark.
session_bat() {
    session_setup 01 bom
    lock_kind=fcntl
    bat_wrapper "$station_bat_script" --production "$s_file" "$pin" "$s_log"
    local cli
    cli=$(winepath -w "$zip_root/ob310_cli_sim.exe" 2>/dev/null)
    (cd "$check/run" && OB310_CLI="$cli" OB310_POLL_MS=0 OB310_RERUN="$D" exec setsid wine cmd /c wrap.bat \
        >screen.raw 2>&1) &
    station=$!
    trap 'kill -- -$station 2>/dev/null' EXIT
    : >"$check/run/screen"
    session_steps
    wait_end
    iconv -c -f CP1252 -t UTF-8 "$check/run/screen.raw" | tr -d '\r' | grep -v '^exit=' >"$check/run/screen"
    status=$(sed -n 's/^exit=//p' <(tr -d '\r' <"$check/run/screen.raw"))
    report_text="iconv -c -f CP1252 -t UTF-8" check_session session_bat ob310_cli_sim.exe
}

# The MSI under Wine, in a Wine prefix of its own (build/wine-msi):
# installed per machine without a question, ob310_cli.exe found on PATH by a
# new command prompt in another folder, then uninstalled: no file and no PATH
# entry left.
check_msi() {
    [ -f "$msi" ] || stop "no $msi (run the zip check first)"
    export WINEPREFIX=$root/build/wine-msi
    local env_key='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
    local installed="$WINEPREFIX/drive_c/Program Files/ob310_cli" win_msi f
    # A fresh prefix: a clean system every time (Wine's uninstall leaves the
    # separator before the removed PATH entry, and Wine's search stops at an
    # empty PATH element).
    rm -rf "$WINEPREFIX" && wineboot -i >/dev/null 2>&1
    win_msi=$(winepath -w "$msi" 2>/dev/null)
    run wine msiexec /i "$win_msi" /qn
    [ "$status" = 0 ] || stop "msiexec /i: exit $status: $out"
    for f in ob310_cli.exe ob310_cli_sim.exe README.md LICENSE.txt CHANGELOG.md THIRD-PARTY-NOTICES.txt \
        examples/{example.ob310,program-station.bat,program-station.ps1}; do
        [ -f "$installed/$f" ] || fail "the MSI did not install Program Files\\ob310_cli\\$f"
    done
    echo "msiexec /i $(basename "$msi") /qn: exit 0, files in C:\\Program Files\\ob310_cli"
    run wine reg query "$env_key" /v PATH
    grep -qF 'C:\Program Files\ob310_cli' <<<"$out" || fail "PATH after install: $out"
    run wine cmd /c 'cd /d C:\users & ob310_cli.exe -h & call echo exit=%ERRORLEVEL%'
    out=${out//$'\r'/}
    grep -q '^256 = File content error' <<<"$out" && grep -q '^exit=0$' <<<"$out" ||
        fail "ob310_cli.exe -h from PATH: $out"
    echo "C:\\users> ob310_cli.exe -h (found on PATH): exit 0, $(grep -c '' <<<"$out") lines of help"
    run wine msiexec /x "$win_msi" /qn
    [ "$status" = 0 ] || fail "msiexec /x: exit $status: $out"
    [ ! -e "$installed" ] || fail "uninstall left $(find "$installed" | head -n 3)"
    run wine reg query "$env_key" /v PATH
    ! grep -qF 'ob310_cli' <<<"$out" || fail "PATH after uninstall: $out"
    echo "msiexec /x $(basename "$msi") /qn: exit 0, Program Files\\ob310_cli and its PATH entry gone"
}

# The .deb in a Debian 11 root: installed with dpkg, the tools and every
# example line of the man pages run there. The root is made once with
# debootstrap from the archive apt uses here, and kept in build/.
check_bullseye() {
    local bullseye=$root/build/bullseye-root mirror staging
    [ "$(id -u)" = 0 ] || { echo "SKIP: a Debian 11 root needs root (debootstrap, chroot)"; exit 77; }
    [ -f "$deb" ] || stop "no $deb (run the deb check first)"
    if [ ! -x "$bullseye/usr/bin/dpkg" ]; then
        mirror=$(grep -hoE '(https?://[^ ]+/debian)/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/* \
            2>/dev/null | head -n 1 | tr -d ' ')
        # debootstrap splits its target's name at blanks: it makes the root in a folder of its
        # own, which is then moved here.
        staging=$(mktemp -d /var/tmp/ob310-bullseye.XXXXXX) || stop "mktemp in /var/tmp"
        echo "debootstrap --variant=minbase bullseye from ${mirror:-http://deb.debian.org/debian}"
        if ! debootstrap --variant=minbase bullseye "$staging/root" "${mirror:-http://deb.debian.org/debian}" \
            >"$check/debootstrap.log" 2>&1; then
            tail -n 3 "$check/debootstrap.log"
            rm -rf "$staging"
            if grep -qE "Failed getting release file|Couldn't download|Failure while downloading" \
                "$check/debootstrap.log"; then
                echo "SKIP: the Debian archive cannot be reached: no Debian 11 root to install the .deb in"
                exit 77
            fi
            stop "debootstrap failed (build/packages/check/debootstrap.log)"
        fi
        rm -rf "$bullseye" && mv "$staging/root" "$bullseye" && rmdir "$staging" || stop "move the root to $bullseye"
    fi
    echo "Debian $(cat "$bullseye/etc/debian_version") root, C library $(chroot "$bullseye" ldd --version | head -n 1 | grep -oE '[0-9.]+$')"
    cp "$deb" "$bullseye/tmp/ob310-cli.deb" || stop "copy the .deb"
    chroot "$bullseye" dpkg -P ob310-cli >/dev/null 2>&1
    run chroot "$bullseye" dpkg -i /tmp/ob310-cli.deb
    [ "$status" = 0 ] || stop "dpkg -i in Debian 11: $out"
    run chroot "$bullseye" ob310_cli -h
    [ "$status" = 0 ] && grep -q '^256 = File content error' <<<"$out" || fail "Debian 11: ob310_cli -h: $status $out"
    echo "Debian 11: ob310_cli -h: exit 0"
    rm -rf "$bullseye/tmp/run" && mkdir "$bullseye/tmp/run"
    run chroot "$bullseye" sh -c 'cd /tmp/run && ob310_cli_sim -i'
    [ "$status" = 0 ] && grep -q '^Revision = 1026' <<<"$out" || fail "Debian 11: ob310_cli_sim -i: $status $out"
    echo "Debian 11: ob310_cli_sim -i: exit 0, $(grep '^Revision' <<<"$out")"
    # The man pages' examples, as written, one folder per page; ob310_cli's own
    # run against the simulator (no device here), so each must give a device's
    # answer, never a set-up error (file not found, argument, PIN, not started).
    local page line
    for page in ob310_cli ob310_cli_sim; do
        rm -rf "$bullseye/tmp/run" && mkdir "$bullseye/tmp/run"
        while IFS= read -r line; do
            [ "$page" = ob310_cli ] && line="${line/#ob310_cli /ob310_cli_sim }"
            run chroot "$bullseye" bash -c "cd /tmp/run && $line"
            case $page:$status in
                ob310_cli:0|ob310_cli:4|ob310_cli_sim:0) ;;
                *) fail "Debian 11, $page(1) example \"$line\": exit $status: $out" ;;
            esac
            echo "Debian 11, $page(1) example: $line: exit $status"
        done < <(sed -n '/^# EXAMPLES/,/^# SEE ALSO/p' "docs/$page.1.scd" | sed -n 's/^\t//p')
    done
    chroot "$bullseye" dpkg -P ob310-cli >/dev/null || fail "dpkg -P in Debian 11"
}

# The .deb and the zip again, from a copy of the sources in another folder
# (no git there: the commit's time and description are handed over): both
# must be the same bytes as the ones the deb and zip checks made.
check_reproducible() {
    [ -f "$deb" ] && [ -f "$zip" ] || stop "run the deb and zip checks first"
    local copy=$root/build/repro/source-copy
    rm -rf "$root/build/repro" && mkdir -p "$copy" || stop "make $copy"
    git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
        tar --null -T - -cf - | tar -C "$copy" -xf - || stop "copy the sources"
    export SOURCE_DATE_EPOCH OB310_GIT_DESCRIBE
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) OB310_GIT_DESCRIBE=$(git describe --always --dirty --tags)
    (cd "$copy" && scripts/make-deb.sh && cmake --preset windows-tools && cmake --build --preset windows-tools &&
        cpack --preset windows-tools) >"$check/reproducible.log" 2>&1 ||
        { tail -n 30 "$check/reproducible.log"; stop "the build in $copy"; }
    local a b name
    for name in "$(basename "$deb")" "$(basename "$zip")"; do
        a=$(sha256sum <"$packages/$name" | cut -d' ' -f1)
        b=$(sha256sum <"$copy/build/packages/$name" | cut -d' ' -f1)
        echo "$name: $a (build/packages)"
        echo "$name: $b (build/repro/source-copy/build/packages)"
        [ "$a" = "$b" ] || fail "$name differs between the two builds"
    done
}

case ${1:-} in
    deb) check_deb ;;
    zip) check_zip ;;
    resources) check_resources ;;
    man) check_man ;;
    station-sh) [ -x "$deb_root/usr/bin/ob310_cli_sim" ] || stop "the .deb is not unpacked"
        check_station station_sh 255 127 no-such-ob310-tool
        session_sh
        session_sh_ctrl_c
        session_sh_ctrl_c_lookup
        session_sh_fifo ;;
    station-bat) [ -f "$zip_root/ob310_cli_sim.exe" ] || stop "the zip is not unpacked"
        check_station station_bat 256 9009 no-such-ob310-tool.exe
        check_bat_folder
        session_bat ;;
    msi) check_msi ;;
    bullseye) check_bullseye ;;
    reproducible) check_reproducible ;;
    *) echo "usage: $0 deb|zip|resources|man|station-sh|station-bat|msi|bullseye|reproducible"; exit 2 ;;
esac
exit $failed
