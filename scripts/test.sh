#!/bin/sh
# Installs what is missing, builds everything and runs every test. The Debian packages are
# built for amd64, arm64 and armhf with dpkg-buildpackage, each once: the amd64 build runs the
# unit and widget tests headless and then the end-to-end tests on real X and Wayland display
# servers; the arm64 build runs its unit tests and main road under the emulator; each package is
# checked with lintian, installed, run and purged. The unit tests run once more in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES $PACKAGE_PACKAGES $TEST_PACKAGES
APT_OPTIONS=--no-install-recommends need_packages $GNOME_TEST_PACKAGES

jobs=$(nproc 2>/dev/null || echo 2)
status=0
start=$(date +%s)
stage() { echo "== [$(($(date +%s) - start)) s] $*"; }
export DEB_BUILD_OPTIONS="terse ${DEB_BUILD_OPTIONS:-}"
export VQ_X_EVENTS="$root/build/deb/amd64/velquarin-control-board/obj-x86_64-linux-gnu/tests/x_events"

# package ARCH [dpkg-buildpackage options]: builds from a copy of the sources in build/deb/ARCH,
# where the packages land; prints the build folder.
package() {
    arch=$1
    shift
    rm -rf "$root/build/deb/$arch"
    mkdir -p "$root/build/deb/$arch/velquarin-control-board"
    (cd "$root" && tar -c --exclude=./build --exclude=./.git --exclude='./obj-*' .) |
        tar -x -C "$root/build/deb/$arch/velquarin-control-board"
    (cd "$root/build/deb/$arch/velquarin-control-board" && dpkg-buildpackage -us -uc -j"$jobs" "$@" >&2) || return 1
    lintian --allow-root --fail-on error,warning "$root/build/deb/$arch"/*.changes >&2 || return 1
    echo "lintian: no error or warning in the $arch packages" >&2
    echo "$root/build/deb/$arch/velquarin-control-board/obj-$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)"
}
install_and_run() {
    python3 "$root/tests/e2e/test_package.py" "$root/build/deb/$1/velquarin-control-board_"*"_$1.deb" ${2:-}
}

stage "amd64: source and binary packages with the unit tests; end-to-end tests on that build and on a console"
build=$(package amd64) || status=1
deb=$(echo "$root/build/deb/amd64/velquarin-control-board_"*"_amd64.deb")
# The console's guest is made meanwhile: it mostly waits for the package mirror.
mkdir -p "$root/build"
python3 "$root/tests/e2e/consolevm.py" "$deb" >"$root/build/console-guest.log" 2>&1 &
guest=$!
(cd "$build" && ctest --output-on-failure -j "$jobs" -L e2e) || status=1
install_and_run amd64 || status=1
wait "$guest" || cat "$root/build/console-guest.log" >&2
python3 "$root/tests/e2e/test_console.py" "$deb" || status=1

stage "Sanitizer build (ASan, UBSan): unit and widget tests"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=ON >/dev/null
cmake --build "$root/build/asan"
(cd "$root/build/asan" && ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -L unit -j "$jobs") || status=1

stage "arm64: cross-built package with its unit tests under the emulator; main road, package, console"
need_cross_packages arm64
build=$(package arm64 -b -a arm64 -Pcross) || status=1
deb=$(echo "$root/build/deb/arm64/velquarin-control-board_"*"_arm64.deb")
python3 "$root/tests/e2e/consolevm.py" "$deb" arm64 >"$root/build/console-guest-arm64.log" 2>&1 &
guest=$!
(cd "$build" && ctest --output-on-failure -j "$jobs" -L e2e) || status=1
install_and_run arm64 qemu-aarch64-static || status=1
wait "$guest" || cat "$root/build/console-guest-arm64.log" >&2
python3 "$root/tests/e2e/test_console.py" "$deb" || status=1

stage "armhf: cross-built package, installed and run under the emulator"
need_cross_packages armhf
package armhf -b -a armhf -Pcross,nocheck >/dev/null || status=1
install_and_run armhf qemu-arm-static || status=1

stage "done"
[ "$status" -eq 0 ] && echo "All tests passed." || echo "Some tests FAILED." >&2
exit "$status"
