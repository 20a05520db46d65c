#!/bin/sh
# Installs what is missing, builds everything and runs every test: the unit and widget tests
# headless, the end-to-end tests on real X and Wayland display servers, the unit tests once
# more in a build with AddressSanitizer and UndefinedBehaviorSanitizer, and an arm64 build's
# tests and package under the emulator.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES $TEST_PACKAGES
APT_OPTIONS=--no-install-recommends need_packages $GNOME_TEST_PACKAGES

jobs=$(nproc 2>/dev/null || echo 2)
status=0

echo "== Release build: unit, widget and end-to-end tests"
cmake -S "$root" -B "$root/build/test" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/test"
(cd "$root/build/test" && ctest --output-on-failure -j "$jobs") || status=1

echo "== Sanitizer build (ASan, UBSan): unit and widget tests"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=ON >/dev/null
cmake --build "$root/build/asan"
(cd "$root/build/asan" && ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -L unit -j "$jobs") || status=1

echo "== arm64 build, run under the emulator: unit tests, main road, package"
need_arm64_packages
cmake -S "$root" -B "$root/build/arm64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" >/dev/null
cmake --build "$root/build/arm64"
(cd "$root/build/arm64" && ctest --output-on-failure -j "$jobs") || status=1

[ "$status" -eq 0 ] && echo "All tests passed." || echo "Some tests FAILED." >&2
exit "$status"
