#!/bin/sh
# Builds the program (Release) and installs it into PREFIX (default /usr/local), as root or,
# where the prefix is not the user's to write, through sudo. Records the folders the install
# makes, so that scripts/uninstall.sh removes those and no others. BUILD names another built
# tree to install from.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:-/usr/local}
build=${BUILD:-$root/build/release}
. "$root/scripts/packages.sh"

if [ -z "${BUILD:-}" ]; then
    need_packages $BUILD_PACKAGES
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build"
fi

# The nearest folder on the way to the prefix that exists decides who may write there.
existing=$prefix
while [ ! -e "$existing" ]; do existing=$(dirname "$existing"); done
sudo=""
if [ "$(id -u)" -ne 0 ] && [ ! -w "$existing" ]; then
    command -v sudo >/dev/null 2>&1 || { echo "$prefix is not yours to write: install as root" >&2; exit 1; }
    sudo="sudo"
fi

# A trial install into a scratch folder shows the folders the real one needs.
staged=$(mktemp -d)
trap 'rm -rf "$staged"' EXIT
DESTDIR="$staged" cmake --install "$build" --prefix "$prefix" >/dev/null
{
    # The prefix and those of its parents that are not there yet.
    missing=$prefix
    while [ ! -e "$missing" ]; do echo "$missing"; missing=$(dirname "$missing"); done
    (cd "$staged$prefix" && find . -mindepth 1 -type d) | while read -r folder; do
        [ -e "$prefix/${folder#./}" ] || echo "$prefix/${folder#./}"
    done
} > "$build/install_folders.txt"
$sudo cmake --install "$build" --prefix "$prefix"
