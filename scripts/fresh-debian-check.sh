#!/bin/sh
# The newcomer's contract: both README commands (scripts/demo.sh, then
# scripts/test.sh) on a truly fresh minimal Debian 12. It makes a root with
# debootstrap --variant=minbase bookworm, clones this repository (its last
# commit) into it, and runs each command there as root in a chroot with /proc,
# /sys and /dev mounted. Nothing is installed in the root beforehand: the
# commands install every package they need themselves.
#   scripts/fresh-debian-check.sh [FOLDER]   (default: build/fresh-bookworm,
#                                              removed and made again)
# Needs root, debootstrap, git and a Debian archive (the one apt uses here).
# It takes as long as a full test run plus the packages it installs. The last
# line is the test command's summary; the exit status is 0 when both passed.
set -eu
cd "$(dirname "$0")/.."
repo=$(pwd)
fresh=${1:-$repo/build/fresh-bookworm}
[ "$(id -u)" = 0 ] || { echo "run as root (debootstrap, chroot, mount)"; exit 2; }
mirror=$(grep -hoE 'https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null |
    head -n 1 | tr -d ' ')
mirror=${mirror:-http://deb.debian.org/debian}

unmount() {
    for m in dev sys proc; do
        mountpoint -q "$fresh/$m" 2>/dev/null && umount -R -l "$fresh/$m"
    done
    return 0
}
trap unmount EXIT INT TERM

unmount
# Never remove a root that still has the host's /dev or /sys mounted in it.
if grep -qF " $fresh/" /proc/mounts; then echo "still mounted under $fresh: not removing it"; exit 1; fi
rm -rf "$fresh"
mkdir -p "$(dirname "$fresh")"
echo "== debootstrap --variant=minbase bookworm $fresh $mirror"
debootstrap --variant=minbase bookworm "$fresh" "$mirror" >"$fresh.debootstrap.log" 2>&1 ||
    { tail -n 5 "$fresh.debootstrap.log"; echo "debootstrap failed"; exit 1; }
echo "== git clone (last commit: $(git log -1 --format='%h %s'))"
git clone -q --no-local "$repo" "$fresh/root/ob310_cli"
cp /etc/resolv.conf "$fresh/etc/resolv.conf"
mount -t proc proc "$fresh/proc"
mount --rbind /sys "$fresh/sys" && mount --make-rslave "$fresh/sys"
mount --rbind /dev "$fresh/dev" && mount --make-rslave "$fresh/dev"

in_root() {
    chroot "$fresh" /usr/bin/env -i HOME=/root TERM=dumb PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        sh -c "cd /root/ob310_cli && $1"
}

echo "== scripts/demo.sh (in the fresh root)"
demo=0
in_root scripts/demo.sh >"$fresh.demo.log" 2>&1 || demo=$?
tail -n 4 "$fresh.demo.log"
echo "== scripts/demo.sh: exit $demo"

echo "== scripts/test.sh (in the fresh root)"
test=0
in_root scripts/test.sh >"$fresh.test.log" 2>&1 || test=$?
grep -E '^(== |FAILED|SKIP)' "$fresh.test.log" | tail -n 40
echo "== scripts/test.sh: exit $test (whole output: $fresh.test.log)"
echo "Fresh Debian 12 root: scripts/demo.sh exit $demo; scripts/test.sh $(tail -n 1 "$fresh.test.log")"
[ "$demo" = 0 ] && [ "$test" = 0 ]
