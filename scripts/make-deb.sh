#!/bin/sh
# Makes the .deb in build/packages: debhelper (debian/) over the release
# preset. Needs debhelper, cmake, g++ and scdoc (Debian:
# apt-get install debhelper cmake g++ scdoc). Time stamps in the package are
# SOURCE_DATE_EPOCH when set, else the time of the last commit, so the same
# commit always gives the same bytes.
set -eu
cd "$(dirname "$0")/.."
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        { echo "not a git checkout: set SOURCE_DATE_EPOCH"; exit 1; }
fi
export SOURCE_DATE_EPOCH
# The package is built as an ordinary user would (debian/control: no root
# needed): dpkg-deb sets root as the owner of every file.
export DEB_RULES_REQUIRES_ROOT=no
mkdir -p build/packages
# clean drops debhelper's stamps and staging folder, so the CMake build always
# runs (it is incremental); the CMake build folders stay.
debian/rules clean
debian/rules binary
