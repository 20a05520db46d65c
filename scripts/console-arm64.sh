#!/bin/sh
# The arm64 package on a Linux console with no desktop, in an emulated arm64 machine
# (qemu-system-aarch64, software emulation): the board, its blink and Escape. Slow (minutes),
# so not part of the test command, which tests the amd64 package there. DEB defaults to the
# package that the test command builds.
# Usage: sh scripts/console-arm64.sh [DEB]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages mmdebstrap qemu-system-arm cpio kmod python3 dpkg-dev
deb=${1:-$(echo "$root/build/deb/arm64/velquarin-control-board_"*"_arm64.deb")}
[ -f "$deb" ] || { echo "no arm64 package: run sh scripts/test.sh first, or name one" >&2; exit 1; }
exec python3 "$root/tests/e2e/test_console.py" "$deb"
