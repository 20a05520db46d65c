#!/bin/sh
# Installs what is missing, builds everything and runs every test. The Debian packages are
# built for amd64, arm64 and armhf with dpkg-buildpackage: the amd64 build runs the unit and
# widget tests headless and then the end-to-end tests on real X and Wayland display servers; the
# arm64 build runs its unit tests and main road under the emulator; each package is checked with
# lintian, installed, run and purged. The unit tests run once more in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
#
# A package build is reused when the sources, its options and the versions of its build tools
# are all the same as when it was made (and it passed); the tests on it run every time. Each step
# prints one line; its whole output goes to build/logs/, and a step that fails shows its last
# lines and the path of its log.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
logs="$root/build/logs"
rm -rf "$logs"
mkdir -p "$logs"

jobs=$(nproc 2>/dev/null || echo 2)
status=0
start=$(date +%s)
export DEB_BUILD_OPTIONS="terse ${DEB_BUILD_OPTIONS:-}"
export VQ_X_EVENTS="$root/build/deb/amd64/velquarin-control-board/obj-x86_64-linux-gnu/tests/x_events"

# How many tests a log tells of: ctest's summaries and Python's unittest runs.
tests_in() {
    awk '/tests passed, [0-9]+ tests? failed out of/ { n += $NF }
         /^Ran [0-9]+ tests?[ :]/ { n += $2 }
         END { if (n) printf "%d passed", n }' "$1"
}

# step LOG DESCRIPTION COMMAND...: runs the command with its output in build/logs/LOG.log and
# says in one line how it went; a failure shows the log's last lines and its path.
step() {
    log="$logs/$1.log"
    what=$2
    shift 2
    began=$(date +%s)
    if "$@" >"$log" 2>&1; then
        printf '%-64s %4d s  %s\n' "$what" "$(($(date +%s) - began))" "$(tests_in "$log")${note:-}"
        note=""
        return 0
    fi
    note=""
    status=1
    printf '%-64s %4d s  FAILED\n' "$what" "$(($(date +%s) - began))"
    tail -n 40 "$log" | sed 's/^/    | /'
    echo "    (the whole log: $log)"
    return 1
}

# package ARCH [dpkg-buildpackage options]: builds from a copy of the sources in build/deb/ARCH,
# where the packages land, unless those there were built from the same inputs; sets $build to
# the build folder.
package() {
    arch=$1
    shift
    dir="$root/build/deb/$arch"
    build="$dir/velquarin-control-board/obj-$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)"
    key=$(package_key "$arch" "$@")
    if [ -f "$dir/inputs" ] && [ "$(cat "$dir/inputs")" = "$key" ]; then
        echo "The packages in $dir were built from these very inputs: reused."
        note="reused, nothing changed"
        return 0
    fi
    rm -rf "$dir"
    mkdir -p "$dir/velquarin-control-board"
    sources | tar -x -C "$dir/velquarin-control-board"
    (cd "$dir/velquarin-control-board" && dpkg-buildpackage -us -uc -j"$jobs" "$@") || return 1
    lintian --allow-root --fail-on error,warning "$dir"/*.changes || return 1
    echo "lintian: no error or warning in the $arch packages"
    echo "$key" >"$dir/inputs"
}
end_to_end() {
    (cd "$build" && ctest --output-on-failure -j "$jobs" -L e2e)
}
install_and_run() {
    python3 "$root/tests/e2e/test_package.py" "$root/build/deb/$1/velquarin-control-board_"*"_$1.deb" ${2:-}
}
# The README's screenshots, made by its script into build/screenshots: both pictures, each of its
# size. Debian's Python runs it, with Debian's Pillow, whatever python3 comes first on the PATH.
screenshots() {
    /usr/bin/python3 "$root/scripts/screenshots.py" "$build" "$root/build/screenshots" &&
        /usr/bin/python3 - "$root/build/screenshots" <<'EOF'
import sys
from PIL import Image
sizes = [Image.open(sys.argv[1] + name).size for name in ("/start-window.png", "/board.png")]
assert sizes == [(470, 375), (720, 450)], sizes
print("Ran 1 test: both screenshots, of their sizes")
EOF
}
sanitizer_build() {
    cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVQ_SANITIZE=ON &&
        cmake --build "$root/build/asan"
}
sanitizer_tests() {
    cd "$root/build/asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -L unit -j "$jobs"
}
# Each in a shell of its own: a package that cannot be installed ends that shell, not the run.
need_test_packages() (
    # shellcheck disable=SC2086 # one word per package
    need_packages $BUILD_PACKAGES $PACKAGE_PACKAGES $TEST_PACKAGES
    # shellcheck disable=SC2086
    APT_OPTIONS=--no-install-recommends need_packages $GNOME_TEST_PACKAGES
)
need_cross() (
    need_cross_packages "$1"
)
wait_guest() {
    wait "$guest" || { cat "$logs/console-guest-$1.log"; return 1; }
}
# The console's guest for a package is made in the background: it mostly waits for the mirror.
make_guest() {
    python3 "$root/tests/e2e/consolevm.py" "$@" >"$logs/console-guest-${2:-amd64}.log" 2>&1 &
    guest=$!
}

step packages "Debian packages this needs, installed where missing" need_test_packages || exit 1

echo "amd64"
if step amd64-package "  source and binary packages, with the unit tests" package amd64; then
    deb=$(echo "$root/build/deb/amd64/velquarin-control-board_"*"_amd64.deb")
    make_guest "$deb"
    step amd64-e2e "  end-to-end: X, Wayland, GNOME" end_to_end || true
    step amd64-install "  the package installed, run and purged" install_and_run amd64 || true
    step amd64-screenshots "  the README's screenshots (scripts/screenshots.py)" screenshots || true
    step amd64-guest "  the console's virtual machine" wait_guest amd64 || true
    step amd64-console "  on a console with no desktop (virtual machine)" python3 "$root/tests/e2e/test_console.py" "$deb" || true
fi

echo "Sanitizers (ASan, UBSan)"
step asan-build "  build" sanitizer_build && step asan-unit "  unit and widget tests" sanitizer_tests || true

echo "arm64 (cross-built, run under the emulator)"
step arm64-packages "  Debian packages for arm64, installed where missing" need_cross arm64 &&
if step arm64-package "  binary package, with the unit tests" package arm64 -b -a arm64 -Pcross; then
    deb=$(echo "$root/build/deb/arm64/velquarin-control-board_"*"_arm64.deb")
    make_guest "$deb" arm64
    step arm64-e2e "  end-to-end: the main road" end_to_end || true
    step arm64-install "  the package installed, run and purged" install_and_run arm64 qemu-aarch64-static || true
    step arm64-guest "  the console's virtual machine" wait_guest arm64 || true
    step arm64-console "  on a console with no desktop (virtual machine)" python3 "$root/tests/e2e/test_console.py" "$deb" || true
fi

echo "armhf (cross-built, run under the emulator)"
step armhf-packages "  Debian packages for armhf, installed where missing" need_cross armhf &&
    step armhf-package "  binary package" package armhf -b -a armhf -Pcross,nocheck &&
    step armhf-install "  the package installed, run and purged" install_and_run armhf qemu-arm-static || true

if [ "$status" -eq 0 ]; then
    echo "All tests passed in $(($(date +%s) - start)) s; the logs are in $logs."
else
    echo "Some tests FAILED (after $(($(date +%s) - start)) s); the logs are in $logs." >&2
fi
exit "$status"
