#!/bin/sh
# Boots Debian's own kernel under qemu (software emulation, no KVM) with a
# small initramfs: busybox, the USB and HID modules, the virtual OB310
# (ob310_gadget) and a static ob310_cli, then runs guest/scenario.sh there.
# The guest hands its verdict back through qemu's isa-debug-exit device.
#
# Usage: run-vm-test.sh [--cli FILE] [--gadget FILE] [--probe FILE]
#                       [--device-only | --wine [--exe FILE] | --power-cut | --checks]
#                       [--timing]
#                       [--real-time] [--work DIR] [--cache DIR]
#   Without the three files the linux-static preset is built and used.
#   --device-only  checks the virtual device alone (no ob310_cli in the image)
#   --wine         instead of the Linux checks, one boot that runs the Windows
#                  build under Wine in the guest (guest/wine-scenario.sh)
#                  against the virtual OB310; the guest sees this machine's
#                  root read-only (9p) and Wine's prefix through an overlay
#   --exe FILE     the Windows ob310_cli.exe for --wine (default: the windows
#                  preset's, built when missing)
#                  The peer it is timed against there is hidapi_peer.c with
#                  hidapi's Windows backend, from Debian's source package
#   --real-time    guest time follows the host clock (see "Guest time" below)
#   --power-cut    only the power-cut boots (see "Power cut" below)
#   --checks       only the checks boot (no timing, no power cut)
#   --timing       only the timing: the timing boot, or with --wine the Wine
#                  boot's timing against the peer without its checks
#   --work DIR     scratch folder (default: build/linux-vm)
#   --cache DIR    where Debian's kernel package is kept (default: WORK/cache);
#                  runs at the same time may share it
# Exit status: 0 all checks passed, 1 a check failed, 77 skipped because qemu,
# the kernel package or (with --wine) Wine cannot be had.
set -eu

SKIP=77
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
work=$source_dir/build/linux-vm
cache=
cli=
gadget=
probe=
device_only=no
real_time=no
wine=no
exe=
power_cut_only=no
checks_only=no
timing_only=no

while [ $# -gt 0 ]; do
    case $1 in
    --cli) cli=$2; shift 2 ;;
    --gadget) gadget=$2; shift 2 ;;
    --probe) probe=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --device-only) device_only=yes; shift ;;
    --wine) wine=yes; shift ;;
    --exe) exe=$2; shift 2 ;;
    --real-time) real_time=yes; shift ;;
    --power-cut) power_cut_only=yes; shift ;;
    --checks) checks_only=yes; shift ;;
    --timing) timing_only=yes; shift ;;
    *) echo "run-vm-test: unknown argument $1"; exit 2 ;;
    esac
done

skip() {
    echo "run-vm-test: SKIP: $*"
    exit $SKIP
}

# stop REASON: what follows cannot run: says so and ends the test with 1.
stop() {
    echo "run-vm-test: FAIL: $*"
    exit 1
}

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

started=$(now)
cache=${cache:-$work/cache}
mkdir -p "$work" "$cache"
# Absolute: Wine takes its prefix only so, and the boots change folders.
work=$(cd "$work" && pwd)
cache=$(cd "$cache" && pwd)

# --- Host tools ----------------------------------------------------------------
# The image needs a busybox that runs without any shared library.
static_busybox() {
    [ -x /bin/busybox ] && ! readelf -l /bin/busybox 2>/dev/null | grep -q 'program interpreter'
}
missing=
command -v qemu-system-x86_64 >/dev/null || missing="$missing qemu-system-x86"
static_busybox || missing="$missing busybox-static"
command -v cpio >/dev/null || missing="$missing cpio"
[ -f /usr/include/hidapi/hidapi.h ] || missing="$missing libhidapi-dev"
command -v strace >/dev/null || missing="$missing strace"
if [ $wine = yes ]; then
    command -v wine >/dev/null || missing="$missing wine"
    command -v x86_64-w64-mingw32-gcc-posix >/dev/null || missing="$missing gcc-mingw-w64-x86-64-posix"
    [ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
fi
if [ -n "$missing" ]; then
    if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
        echo "run-vm-test: installing$missing"
        export DEBIAN_FRONTEND=noninteractive
        apt-get install -y -q --no-install-recommends $missing >/dev/null 2>&1 ||
            { apt-get update -q >/dev/null 2>&1 &&
                apt-get install -y -q --no-install-recommends $missing >/dev/null 2>&1; } ||
            skip "cannot install$missing"
    else
        skip "missing$missing (install them with apt-get as root)"
    fi
fi
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64"
static_busybox || skip "no static /bin/busybox (busybox-static)"
command -v cpio >/dev/null || skip "no cpio"
[ -f /usr/include/hidapi/hidapi.h ] || skip "no hidapi (libhidapi-dev)"
command -v strace >/dev/null || skip "no strace"
if [ $wine = yes ]; then
    command -v wine >/dev/null && [ -x /usr/lib/wine/wine64 ] || skip "no 64-bit Wine (wine, wine64)"
fi

# --- The programs that go into the image ----------------------------------------
if [ -z "$gadget" ] || [ -z "$probe" ] || { [ -z "$cli" ] && [ $device_only = no ] && [ $wine = no ]; }; then
    echo "run-vm-test: building the linux-static preset"
    if ! (cd "$source_dir" && cmake --preset linux-static && cmake --build --preset linux-static) \
        >"$work/build.log" 2>&1; then
        tail -n 30 "$work/build.log"
        stop "the linux-static build failed"
    fi
    static_dir=$source_dir/build/linux-static
    [ -n "$cli" ] || cli=$static_dir/ob310_cli
    [ -n "$gadget" ] || gadget=$static_dir/linux-vm/ob310_gadget
    [ -n "$probe" ] || probe=$static_dir/linux-vm/ob310_usb_probe
fi
[ $device_only = yes ] || [ $wine = yes ] && cli=
if [ $wine = yes ] && [ -z "$exe" ]; then
    exe=$source_dir/build/windows/ob310_cli.exe
    echo "run-vm-test: building ob310_cli.exe (windows preset)"
    if ! (cd "$source_dir" && cmake --preset windows && cmake --build --preset windows --target ob310_cli) \
        >"$work/build-windows.log" 2>&1; then
        tail -n 30 "$work/build-windows.log"
        stop "the windows build failed"
    fi
fi
if [ $wine = yes ]; then
    [ -f "$exe" ] || stop "$exe is missing"
    exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
fi
for program in ${cli:+"$cli"} "$gadget" "$probe"; do
    [ -x "$program" ] || stop "$program is missing"
    if readelf -l "$program" 2>/dev/null | grep -q 'program interpreter'; then
        stop "$program is not linked statically"
    fi
done

# The peer for the timing checks, built against Debian's hidapi (hidraw
# backend). Debian has no static libudev, so it is linked dynamically; its
# libraries and the loader go into the image at the paths ldd names, and so do
# strace's (the stale-reply check holds the tool with it).
peer=$work/hidapi_peer
cc -O2 -Wall -Wextra -Werror -o "$peer" "$here/hidapi_peer.c" -lhidapi-hidraw ||
    stop "the hidapi peer does not build"
strace=$(command -v strace)
libraries=$(for program in "$peer" "$strace"; do ldd "$program"; done | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u)

# --- Debian's kernel -------------------------------------------------------------
# Resolve the image the metapackage points at now: superseded versions leave
# the archive, so no version is written down here.
package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }')
[ -n "$package" ] || skip "apt-cache cannot resolve linux-image-amd64 (run apt-get update?)"
# One run at a time fetches and unpacks into the cache; another waits here.
exec 9>"$cache/lock"
flock 9
deb=$(ls "$cache/${package}_"*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
    echo "run-vm-test: downloading $package"
    (cd "$cache" && apt-get download -q "$package" >/dev/null 2>&1) ||
        skip "cannot download $package"
    deb=$(ls "$cache/${package}_"*.deb | head -n 1)
fi
# Images of earlier kernels are of no further use.
for old in "$cache"/linux-image-*; do
    case $old in "$cache/$package"_*.deb | "$cache/$package") ;; *) rm -rf "$old" ;; esac
done

modules="usb-common usbcore hid hid-generic usbhid udc-core configfs libcomposite usb_f_fs dummy_hcd"
# Sharing this machine's root with the guest (virtio 9p) and Wine's prefix
# through an overlay; extracted for every mode, loaded for --wine.
share_modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache \
9pnet 9pnet_virtio 9p overlay"
# The power-cut boot's virtio disk and ext4 (guest/power-cut.sh loads them).
disk_modules="virtio virtio_ring virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk
              crc16 crc32c_generic libcrc32c mbcache jbd2 ext4"
kernel_dir=$cache/${package}
# The marker names the modules extracted: a new list extracts again.
extracted=$(echo $modules $share_modules $disk_modules | tr ' ' '\n' | sort -u | tr '\n' ' ')
if [ "$(cat "$kernel_dir/complete" 2>/dev/null)" != "$extracted" ]; then
    rm -rf "$kernel_dir"
    mkdir -p "$kernel_dir"
    dpkg-deb --fsys-tarfile "$deb" | tar -t >"$kernel_dir/contents"
    paths=$(grep -E '^\./boot/vmlinuz-' "$kernel_dir/contents")
    for module in $extracted; do
        path=$(grep -E "/kernel/.*/$module\\.ko(\\.xz)?\$" "$kernel_dir/contents" | head -n 1)
        [ -n "$path" ] || stop "$package has no module $module"
        paths="$paths $path"
    done
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel_dir" $paths
    echo "$extracted" >"$kernel_dir/complete"
fi
# The Windows peer (--wine): hidapi's own Windows backend, from Debian's
# source package of the hidapi the Linux peer links. The sources come through
# an apt configuration of this test's own (a deb-src entry for the archive
# this machine uses), so nothing of the machine's apt setup changes.
if [ $wine = yes ]; then
    hidapi_tar=$(ls "$cache"/hidapi_*.orig.tar.gz 2>/dev/null | head -n 1 || true)
    if [ -z "$hidapi_tar" ]; then
        echo "run-vm-test: downloading hidapi's source package"
        apt_dir=$work/apt-src
        rm -rf "$apt_dir"
        mkdir -p "$apt_dir/lists/partial" "$apt_dir/files"
        uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
            "${uri:-http://deb.debian.org/debian}" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg \
            >"$apt_dir/src.sources"
        apt_options="-o Dir::Etc::sourcelist=$apt_dir/src.sources -o Dir::Etc::sourceparts=- \
-o Dir::State::Lists=$apt_dir/lists -o APT::Sandbox::User=root"
        (apt-get $apt_options update -qq && cd "$apt_dir/files" &&
            apt-get $apt_options source --download-only -qq hidapi) >"$work/apt-src.log" 2>&1 ||
            skip "cannot download hidapi's source package ($(tail -n 1 "$work/apt-src.log"))"
        hidapi_tar=$(ls "$apt_dir"/files/hidapi_*.orig.tar.gz | head -n 1)
        mv "$hidapi_tar" "$cache/"
        hidapi_tar=$cache/$(basename "$hidapi_tar")
        rm -rf "$apt_dir"
    fi
fi
exec 9>&-
[ $wine = no ] || modules="$modules $share_modules"
vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-* | head -n 1)

# --- Configuration files ----------------------------------------------------------
# write_config FILE NEW_PIN CUSTOM_DATA LOCK: a valid file of 256 data lines.
write_config() {
    {
        echo "# written for the virtual machine test"
        echo "$2"                                # new PIN
        echo "$3"                                # custom data
        echo "01"                                # LED mode
        echo "0102030405060708090A0B0C0D0E0F10"  # mouse data
        echo "A1A2A3A4A5A6A7A8A9AAABACADAEAFB0"  # LED data
        echo "0001020304050607"                  # LED parameters
        echo "$4"                                # lock
        i=0
        while [ $i -lt 248 ]; do
            printf '%02X%062d\n' $i 0
            i=$((i + 1))
        done
        echo "02"                                # debounce
    } >"$1"
}
# The first write takes the project's example; the second changes the PIN and
# locks the device, which the example does not.
example=$(ls "$source_dir"/examples/*.ob310 2>/dev/null | head -n 1 || true)
if [ -z "$example" ]; then
    example=$work/example.ob310
    write_config "$example" 5A3C19E7B2D40F86 00112233445566778899AABBCCDDEEFF 00
fi
write_config "$work/pin-lock.ob310" 1122334455667788 0F1E2D3C4B5A69788796A5B4C3D2E1F0 01

# --- The initramfs ------------------------------------------------------------------
root=$work/root
rm -rf "$root"
mkdir -p "$root/bin" "$root/lib/modules" "$root/data" "$root/proc" "$root/sys" "$root/dev" \
    "$root/tmp"
cp /bin/busybox "$root/bin/busybox"
cp "$gadget" "$root/bin/ob310_gadget"
cp "$probe" "$root/bin/ob310_usb_probe"
[ -z "$cli" ] || cp "$cli" "$root/bin/ob310_cli"
cp "$peer" "$root/bin/hidapi_peer"
cp "$strace" "$root/bin/strace"
for library in $libraries; do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
done
for module in $modules $disk_modules; do
    cp "$(find "$kernel_dir/lib/modules" -name "$module.ko*" | head -n 1)" "$root/lib/modules/"
done
echo "$modules" >"$root/data/modules"
cp "$here/guest/init" "$root/init"
cp "$here/guest/scenario.sh" "$root/scenario.sh"
cp "$here/guest/wine-scenario.sh" "$root/wine-scenario.sh"
cp "$here/guest/power-cut.sh" "$root/power-cut.sh"
cp "$here/guest/common.sh" "$root/common.sh"
chmod 755 "$root/init"
cp "$example" "$root/data/example.ob310"
cp "$work/pin-lock.ob310" "$root/data/pin-lock.ob310"
cp "$source_dir/contrib/udev/70-ob310.rules" "$root/data/"

# --- Wine's prefix (--wine) -------------------------------------------------------------
# Made once on this machine (wineboot, about 700 MB) and kept; the guest sees
# it read-only under an overlay whose upper layer is in its memory. winebus
# reaches hidraw through its udev bus, which it starts only with SDL off.
if [ $wine = yes ]; then
    prefix=$work/wine-prefix
    if [ ! -f "$prefix/complete" ]; then
        echo "run-vm-test: making the Wine prefix $prefix"
        rm -rf "$prefix"
        if ! (export WINEPREFIX="$prefix" WINEDEBUG=-all &&
            wineboot -i && wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' \
                /v 'Enable SDL' /t REG_DWORD /d 0 /f && wineserver -w) >"$work/wine-prefix.log" 2>&1; then
            tail -n 20 "$work/wine-prefix.log"
            skip "Wine cannot make a prefix"
        fi
        touch "$prefix/complete"
    fi
    # The Windows peer, linked statically: it needs setupapi.dll, kernel32 and
    # hid.dll and cfgmgr32.dll, which hidapi loads itself. It compiles
    # hidapi's hid.c in; the array-bounds warnings are GCC's on that code.
    # Built with the stack protector as the tool is (and as Debian builds
    # hidapi): seeding its guard loads Wine's cryptography, a cost of every
    # process start that is not the HID path's. A second build without it
    # shows that cost.
    hidapi_src=$work/hidapi-src
    rm -rf "$hidapi_src"
    mkdir -p "$hidapi_src"
    tar -xzf "$hidapi_tar" -C "$hidapi_src" --strip-components=1 || stop "cannot unpack $hidapi_tar"
    windows_peer=$work/hidapi_peer.exe
    for protector in -fstack-protector-strong -fno-stack-protector; do
        peer_exe=$windows_peer
        [ $protector = -fstack-protector-strong ] || peer_exe=$work/hidapi_peer_unprotected.exe
        x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Werror -Wno-array-bounds $protector -static \
            -I"$hidapi_src" -I"$hidapi_src/hidapi" -o "$peer_exe" "$here/hidapi_peer.c" -lsetupapi ||
            stop "the Windows hidapi peer does not build"
    done
    # Any name, quoted for the guest's shell: ' becomes '\''.
    quoted() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
    {
        echo "WINE_PREFIX=$(quoted "$prefix")"
        echo "WINE_EXE=$(quoted "$exe")"
        echo "EXAMPLE_HOST=$(quoted "$example")"
        echo "WINE_PEER=$(quoted "$windows_peer")"
        echo "WINE_PEER_UNPROTECTED=$(quoted "$work/hidapi_peer_unprotected.exe")"
    } >"$root/data/wine.env"
fi
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
prepared=$(seconds_since "$started")

# --- Guest time ------------------------------------------------------------------------
# The machine boots twice. The checks run with -icount shift=auto,sleep=off:
# the guest clock is driven by executed instructions and jumps over idle
# stretches, so the two unanswered requests' 16 x 5 s waits cost seconds, not
# 80 s each. The timing runs in a boot of its own with shift=0: 1 ns of guest
# time per instruction whatever the host's load, so its figures are the same
# on every run. --real-time measures both against the host clock instead.
checks_clock="-icount shift=auto,sleep=off"
timing_clock="-icount shift=0,sleep=off"
[ $real_time = no ] || { checks_clock= timing_clock=; }

# boot NAME LIMIT CLOCK APPEND [-m MiB] [QEMU_OPTION...]: boots the image once, for at
# most LIMIT seconds; the guest's verdict as the status (isa-debug-exit makes
# qemu exit with (value << 1) | 1: 1 is the guest's pass, 3 its fail). The
# guest picks what it runs from ob310.part= in APPEND.
boot() {
    name=$1 limit=$2 clock=$3 append=$4
    shift 4
    memory=512
    if [ "${1:-}" = -m ]; then memory=$2; shift 2; fi
    echo "run-vm-test: booting $(basename "$vmlinuz") from $package for the $name"
    booted=$(now)
    {
        status=0
        timeout "$limit" qemu-system-x86_64 $clock -machine pc -accel tcg -m "$memory" -no-reboot -net none \
            -display none -monitor none -serial stdio \
            -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
            -append "console=ttyS0 quiet panic=-1 $append" \
            -device isa-debug-exit,iobase=0xf4,iosize=0x04 "$@" </dev/null || status=$?
        echo $status >"$work/qemu.status"
    } | tee "$work/console-$name.log"
    status=$(cat "$work/qemu.status")
    echo "run-vm-test: the $name ran $(seconds_since "$booted") s of host time"
    case $status in
    1) return 0 ;;
    3)
        # Each failed check said FAIL on the console above.
        echo "run-vm-test: the $name failed in the guest (log: $work/console-$name.log)"
        exit 1
        ;;
    124) stop "the $name did not finish within $limit s" ;;
    *) stop "qemu ended with $status before the guest gave a verdict on the $name" ;;
    esac
}

# --- Power cut --------------------------------------------------------------------------
# The log of a run that exited 0 must survive a power cut. The guest logs to
# an ext4 image on a virtio disk with cache=none: qemu writes through to the
# image, so what the guest has not flushed lives only in the guest's memory.
# Host time here (no -icount): an idle guest must not leap over ext4's 5 s
# commit before the host reacts. One boot erases, one writes; after each exit
# 0 the guest says so on the console and the host kills qemu (SIGKILL) at
# once. The host then replays the journal, as the next mount would, and reads
# the log from the image: both records, whole.
power_cut() {
    console=$work/console-power-cut-$1.log
    : >"$console"
    echo "run-vm-test: power-cut boot: $1"
    qemu-system-x86_64 -machine pc -accel tcg -m 512 -no-reboot -net none -display none \
        -monitor none -serial file:"$console" -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0 quiet panic=-1 ob310.part=power-cut ob310.step=$1" \
        -drive file="$disk",format=raw,if=virtio,cache=none \
        -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null >/dev/null 2>&1 &
    qemu=$!
    polls=0
    until grep -q '^vm-test: POWER-CUT' "$console"; do
        if ! kill -0 $qemu 2>/dev/null || [ $polls -ge 5600 ]; then
            kill -9 $qemu 2>/dev/null || true
            cat "$console"
            stop "the power-cut boot ($1) gave no exit 0 within 280 s"
        fi
        sleep 0.05
        polls=$((polls + 1))
    done
    kill -9 $qemu
    wait $qemu 2>/dev/null || true
    grep -h '^vm-test: ' "$console"
    echo "run-vm-test: power cut (qemu killed) right after it"
}

power_cut_test() {
    command -v mkfs.ext4 >/dev/null && command -v debugfs >/dev/null ||
        skip "no mkfs.ext4 or debugfs (e2fsprogs)"
    disk=$work/power-cut.img
    rm -f "$disk"
    truncate -s 32M "$disk"
    mkfs.ext4 -q -F "$disk" || stop "mkfs.ext4 failed"
    power_cut erase
    power_cut write
    e2fsck -fy "$disk" >"$work/e2fsck.log" 2>&1 || [ $? -le 1 ] || stop "e2fsck: $(cat "$work/e2fsck.log")"
    log=$(debugfs -R 'cat /station.log' "$disk" 2>/dev/null | tr -d '\r')
    echo "run-vm-test: the log on the disk after the power cuts:"
    echo "$log"
    stamp='[0-3][0-9]\.[01][0-9]\.[12][0-9]\{3\} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
    expected="$stamp: CMD=erase;STATE=success;SN=12345678;REV=1026;
$stamp: CMD=write;STATE=success;SN=12345678;REV=1026;FILE=/data/example.ob310;"
    [ "$(echo "$log" | wc -l)" -eq 2 ] && echo "$log" | sed -n 1p | grep -qx "$(echo "$expected" | sed -n 1p)" &&
        echo "$log" | sed -n 2p | grep -qx "$(echo "$expected" | sed -n 2p)" ||
        stop "a record of a run that exited 0 did not survive the power cut"
    echo "run-vm-test: PASS both records survived the power cuts whole"
}

echo "run-vm-test: image prepared in $prepared s"
# Each mode is a list of boots. The checks boot waits out two requests' 16 x
# 5 s: in real time that alone is 160 s.
checks_limit=280
[ $real_time = no ] || checks_limit=600
if [ $power_cut_only = yes ]; then
    power_cut_test
    echo "run-vm-test: PASS"
    exit 0
fi
if [ $wine = yes ]; then
    # Wine under TCG: the default qemu64 CPU (with -cpu max the guest kernel
    # oopses on Wine's iretq), 2 vCPUs and 2 GiB. No -icount: it made Wine
    # slower, not faster, so the one refused erase waits its 80 s.
    part=wine
    [ $timing_only = no ] || part=wine-timing
    boot wine-boot 1500 "" ob310.part=$part -m 2048 -smp 2 \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap
    grep -h '^wine-vm-test: \(PASS\|FAIL\)' "$work/console-wine-boot.log" | sed 's/\r$//'
    grep -h '^wine-vm-test: TABLE ' "$work/console-wine-boot.log" | sed 's/\r$//'
else
    [ $timing_only = yes ] || boot checks "$checks_limit" "$checks_clock" ""
    if [ $device_only = no ] && [ $checks_only = no ]; then
        boot timing 280 "$timing_clock" ob310.part=timing
        [ $timing_only = yes ] || power_cut_test
    fi
fi
echo "run-vm-test: whole test $(seconds_since "$started") s"
if [ $wine = no ] && [ $device_only = no ] && [ $checks_only = no ]; then
    grep -h '^vm-test: TABLE ' "$work/console-timing.log" | sed 's/^vm-test: TABLE //'
fi
echo "run-vm-test: PASS"
exit 0
