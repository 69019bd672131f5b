#!/usr/bin/env bash
# Checks of what ships, one per call (scripts/test.sh counts each as a test):
#   deb          build the release preset and the .deb, unpack it, run the installed tools
#   zip          make the Windows zip from the built windows preset, run its .exe files under Wine
#   resources    version and manifest resources of the .exe files
#   man          the installed man pages render without a groff warning
#   station-sh   examples/program-station.sh against the installed simulator
#   station-bat  examples/program-station.bat under Wine's cmd against ob310_cli_sim.exe
# deb and zip come first: the other checks use what they unpacked in build/packages/check.
# Exit 0 when the check passes, 1 when it fails (with the reason).
set -u
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)
version=$(sed -nE 's/^project\(ob310_cli VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
packages=$root/build/packages
check=$packages/check
deb_root=$check/deb
zip_root=$check/zip/ob310_cli-$version-win64
pin=5A3C19E7B2D40F86
export WINEDEBUG=-all

fail() { echo "FAIL: $*"; exit 1; }

# Runs the rest of the line, keeping its output in $out and its status in $status.
run() { out=$("$@" 2>&1); status=$?; }

# A fresh scratch folder with a copy of the example file and a simulated
# OB310 set up by the given device-file lines (none: factory values).
scratch() {
    rm -rf "$check/run" && mkdir -p "$check/run" && cp examples/example.ob310 "$check/run/" || exit 1
    [ $# = 0 ] || printf '%s\n' "$@" >"$check/run/ob310_sim_device.txt"
}

check_deb() {
    rm -rf "$deb_root" "$packages"/*.deb && mkdir -p "$check"
    { cmake --preset release && cmake --build --preset release && cpack --preset release; } \
        >"$check/deb.log" 2>&1 || { tail -n 30 "$check/deb.log"; fail "release build or cpack"; }
    local deb=$packages/ob310-cli_${version}_amd64.deb
    dpkg -x "$deb" "$deb_root" || fail "dpkg -x $deb"
    local f
    for f in usr/bin/ob310_cli usr/bin/ob310_cli_sim usr/share/man/man1/ob310_cli.1.gz \
        usr/share/man/man1/ob310_cli_sim.1.gz usr/lib/udev/rules.d/70-ob310.rules \
        usr/share/doc/ob310-cli/{README.md,LICENSE,CHANGELOG.md,THIRD-PARTY-NOTICES.txt} \
        usr/share/doc/ob310-cli/examples/{example.ob310,program-station.sh}; do
        [ -f "$deb_root/$f" ] || fail "the .deb lacks /$f"
    done
    # The C++ runtime is linked in: the C library is the only dependency.
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    [[ $depends == "libc6 (>= "*")" ]] || fail "Depends: $depends"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
    run "$deb_root/usr/bin/ob310_cli" -h
    [ "$status" = 0 ] && grep -q '^256 = File content error' <<<"$out" || fail "ob310_cli -h: $status $out"
    scratch
    run bash -c "cd '$check/run' && '$deb_root/usr/bin/ob310_cli_sim' -i"
    [ "$status" = 0 ] && grep -q '^Revision = 1026' <<<"$out" || fail "ob310_cli_sim -i: $status $out"
}

check_zip() {
    rm -rf "$check/zip" "$packages"/*.zip && mkdir -p "$check"
    cpack --preset windows >"$check/zip.log" 2>&1 ||
        { tail -n 30 "$check/zip.log"; fail "cpack --preset windows (is the windows preset built?)"; }
    mkdir -p "$check/zip"
    (cd "$check/zip" && cmake -E tar xf "$packages/ob310_cli-$version-win64.zip") || fail "unpack the zip"
    local f
    for f in ob310_cli.exe ob310_cli_sim.exe README.md LICENSE.txt CHANGELOG.md THIRD-PARTY-NOTICES.txt \
        examples/{example.ob310,program-station.bat,program-station.ps1}; do
        [ -f "$zip_root/$f" ] || fail "the zip lacks $f"
    done
    run wine "$zip_root/ob310_cli.exe" -h
    [ "$status" = 0 ] && grep -q '^256 = File content error' <<<"$out" || fail "ob310_cli.exe -h: $status $out"
    scratch
    run bash -c "cd '$check/run' && wine '$zip_root/ob310_cli_sim.exe' -i"
    [ "$status" = 0 ] && grep -q '^Revision = 1026' <<<"$out" || fail "ob310_cli_sim.exe -i: $status $out"
}

check_resources() {
    local exe strings_el
    for exe in ob310_cli ob310_cli_sim; do
        [ -f "$zip_root/$exe.exe" ] || fail "$exe.exe not unpacked"
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
        [ -f "$deb_root/usr/share/man/man1/$page.1.gz" ] || fail "$page.1.gz not unpacked"
        warnings=$(zcat "$deb_root/usr/share/man/man1/$page.1.gz" | groff -ww -z -man 2>&1)
        [ -z "$warnings" ] || fail "$page(1): $warnings"
        zcat "$deb_root/usr/share/man/man1/$page.1.gz" | grep -q "^\.TH \"$page\" \"1\" .*\"ob310_cli $version\"" ||
            fail "$page(1) does not name version $version"
    done
}

# One station run per case: device-file lines, PIN, file, expected exit code
# and operator line. Codes differ by platform only for a content error.
station_cases() {
    local content_code=$1 bad='not a configuration'
    # name|device file lines (;-separated)|PIN|file|code|line
    cat <<EOF
success|devices = 1|$pin|example.ob310|0|PASS: OB310 programmed and logged in station.log
PIN error|devices = 1|${pin:1}|example.ob310|64|STOP: the PIN must be 16 hexadecimal digits
device error|devices = 1;fault = request 3 no-reply|$pin|example.ob310|4|FAIL: the OB310 refused or did not answer
no device|devices = 0|$pin|example.ob310|1|FAIL: no OB310 found
content error|devices = 1|$pin|bad.ob310|$content_code|STOP: bad.ob310 is not a valid configuration file
EOF
}

# Runs each station case through the given runner ($1: exit code, then output).
check_station() {
    local runner=$1 content_code=$2 name device pin_arg file code line
    while IFS='|' read -r name device pin_arg file code line; do
        local lines
        IFS=';' read -r -a lines <<<"$device"
        scratch "${lines[@]}"
        echo "$name" >"$check/run/bad.ob310"
        "$runner" "$file" "$pin_arg"
        [ "$status" = "$code" ] && grep -q "^$line" <<<"$out" ||
            fail "$runner, $name: exit $status, expected $code: $out"
        if [ "$code" = 0 ]; then
            grep -q "CMD=write;STATE=success;SN=00000000;REV=1026;FILE=example.ob310;DEVICE=simulated;" "$check/run/station.log" ||
                fail "$runner, $name: no log line"
        fi
    done < <(station_cases "$content_code")
}

station_sh() {
    run bash -c "cd '$check/run' && PATH='$deb_root/usr/bin':\$PATH OB310_CLI=ob310_cli_sim \
        '$deb_root/usr/share/doc/ob310-cli/examples/program-station.sh' '$1' '$2' station.log"
}

# Wine hands only 8 bits of an exit status to Linux, so a wrapper prints the
# full code the .bat exited with. (Wine's "call" loses a batch file's exit /b
# code; a nested cmd /c keeps it.)
station_bat() {
    printf '@cmd /c "%s" %%*\r\n@echo exit=%%ERRORLEVEL%%\r\n' \
        "$(winepath -w "$zip_root/examples/program-station.bat" 2>/dev/null)" >"$check/run/wrap.bat"
    run bash -c "cd '$check/run' && OB310_CLI='$(winepath -w "$zip_root/ob310_cli_sim.exe" 2>/dev/null)' \
        wine cmd /c wrap.bat '$1' '$2' station.log"
    out=${out//$'\r'/}
    status=$(sed -n 's/^exit=//p' <<<"$out")
}

case ${1:-} in
    deb) check_deb ;;
    zip) check_zip ;;
    resources) check_resources ;;
    man) check_man ;;
    station-sh) [ -x "$deb_root/usr/bin/ob310_cli_sim" ] || fail "the .deb is not unpacked"
        check_station station_sh 255 ;;
    station-bat) [ -f "$zip_root/ob310_cli_sim.exe" ] || fail "the zip is not unpacked"
        check_station station_bat 256 ;;
    *) echo "usage: $0 deb|zip|resources|man|station-sh|station-bat"; exit 2 ;;
esac
exit 0
