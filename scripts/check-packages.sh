#!/usr/bin/env bash
# Checks of what ships, one per call (scripts/test.sh counts each as a test):
#   deb          make the .deb (scripts/make-deb.sh), lintian, unpack it, the newest C library
#                symbol version the programs need, the shipped README's links, run the tools
#   zip          make the zip and the MSI from the windows preset's build, unpack the zip, its
#                README's links, run its .exe files under Wine
#   resources    version and manifest resources of the .exe files
#   man          the installed man pages render without a groff warning
#   station-sh   examples/program-station.sh against the installed simulator
#   station-bat  examples/program-station.bat under Wine's cmd against ob310_cli_sim.exe, with
#                names holding & % ! ^ spaces and non-ASCII letters
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
        if [ "$code" = 0 ]; then
            grep -qF "CMD=write;STATE=success;SN=00000000;REV=1026;FILE=$file;DEVICE=simulated;" "$check/run/$log" ||
                fail "$runner, $name: no log line in $log"
        fi
        echo "$runner, $name: exit $status, $(grep -F -- "$line" <<<"$out" | head -n 1)"
    done < <(station_cases "${@:2}")
}

station_sh() {
    local cli=$4
    [ "$cli" = sim ] && cli=ob310_cli_sim
    run env -C "$check/run" PATH="$deb_root/usr/bin:$PATH" OB310_CLI="$cli" \
        "$doc_dir/examples/program-station.sh" "$1" "$2" "$3"
}

# Wine hands only 8 bits of an exit status to Linux, so a wrapper batch file
# runs the .bat and prints the full code it exited with. (Wine's "call" loses
# a batch file's exit /b code; a nested cmd /c keeps it.) The wrapper holds
# the command line as a user would type it, each argument in quotes. Wine's
# cmd differs from Windows' in ways a wrapper must allow for: on the wrapper's
# own line (cmd /c ""...""), it takes & | < > ( ) as outside quotes, so they
# carry a caret; it expands a batch file's arguments once more than Windows
# does (it scans the value of %1 again for %), so % is doubled for the .bat to
# receive one %, and doubled again for the wrapper's own line; it reads a
# batch file in the OEM code page (437) and writes to a pipe in the ANSI one
# (1252).
station_bat() {
    local cli=$4 script=${5:-$zip_root/examples/program-station.bat} line arg
    [ "$cli" = sim ] && cli=$(winepath -w "$zip_root/ob310_cli_sim.exe" 2>/dev/null)
    # (The program's own name, first on the line, loses a lone ^ as well.)
    line="\"\"$(winepath -w "$script" 2>/dev/null | sed 's/\^/^^/g')\""
    for arg in "$1" "$2" "$3"; do line+=" \"${arg//%/%%%%}\""; done
    line=$(sed -E 's/[&|<>()]/^&/g' <<<"$line\"")
    printf '%s\r\n' "@cmd /c $line" '@echo exit=%ERRORLEVEL%' |
        iconv -f UTF-8 -t CP437 >"$check/run/wrap.bat"
    run env -C "$check/run" ${cli:+OB310_CLI="$cli"} wine cmd /c wrap.bat
    out=$(iconv -c -f CP1252 -t UTF-8 <<<"${out//$'\r'/}")
    status=$(sed -n 's/^exit=//p' <<<"$out")
}

# The .bat finds the tool in the folder above its own by default, also when
# that folder's name holds characters the command prompt treats specially.
check_bat_folder() {
    local folder="$check/R&D wow! a^b Prüfung"    # % is lost by Wine in %~dp0
    rm -rf "$folder" && mkdir -p "$folder/examples" || fail "make $folder"
    cp "$zip_root/ob310_cli_sim.exe" "$folder/ob310_cli.exe" &&
        cp "$zip_root/examples/program-station.bat" "$folder/examples/" || fail "copy into $folder"
    scratch "devices = 1"
    station_bat example.ob310 "$pin" station.log "" "$folder/examples/program-station.bat"
    [ "$status" = 0 ] && grep -q '^PASS: ' <<<"$out" || fail "the .bat in \"$folder\": exit $status: $out"
    echo "station_bat, in folder \"$(basename "$folder")\" with its own ..\\ob310_cli.exe: exit $status, $(grep '^PASS' <<<"$out")"
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
        check_station station_sh 255 127 no-such-ob310-tool ;;
    station-bat) [ -f "$zip_root/ob310_cli_sim.exe" ] || stop "the zip is not unpacked"
        check_station station_bat 256 9009 no-such-ob310-tool.exe
        check_bat_folder ;;
    msi) check_msi ;;
    bullseye) check_bullseye ;;
    reproducible) check_reproducible ;;
    *) echo "usage: $0 deb|zip|resources|man|station-sh|station-bat|msi|bullseye|reproducible"; exit 2 ;;
esac
exit $failed
