#!/bin/sh
# Installs what is missing, builds the program (Release) and starts it.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build"
exec "$build/velquarin-control-board"
