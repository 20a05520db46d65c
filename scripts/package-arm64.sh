#!/bin/sh
# Makes the arm64 Debian package (Raspberry Pi OS 64-bit, Debian 12 arm64) on a Debian 12
# amd64 machine, installing the cross compiler and the arm64 libraries it needs first.
# The package is left in build/arm64.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES dpkg-dev
need_arm64_packages

build="$root/build/arm64"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" >/dev/null
cmake --build "$build"
rm -f "$build"/velquarin-control-board_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/velquarin-control-board_*_arm64.deb
