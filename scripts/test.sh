#!/bin/sh
# Installs what is missing, builds everything and runs every test. The Debian packages are
# built for amd64, arm64 and armhf with dpkg-buildpackage: the amd64 build, on this machine, runs
# the unit and widget tests headless and then the end-to-end tests on real X and Wayland display
# servers; arm64 and armhf are cross-built in a clean Debian root of the same release
# (scripts/buildroot.sh), where their unit tests run under the emulator, and their main road
# runs under the emulator here; each package is checked with lintian, installed, run and purged.
# The unit tests run once more in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
#
# Builds go on beside the tests of what was built before them: the sanitizer build and the
# packages for arm64 and armhf beside the amd64 package's tests, the build root beside the amd64
# build, and the console's tests beside the end-to-end tests. The lines come in a fixed order
# all the same.
#
# A package build is reused when the sources, its options and the versions of its build tools
# are all the same as when it was made (and it passed); the tests on it run every time. Each step
# prints one line; its whole output goes to build/logs/, and a step that fails shows its last
# lines and the path of its log.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
. "$root/scripts/buildroot.sh"
logs="$root/build/logs"
rm -rf "$logs"
mkdir -p "$logs"

jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
native=$(dpkg --print-architecture)
export DEB_BUILD_OPTIONS="terse ${DEB_BUILD_OPTIONS:-}"
export VQ_X_EVENTS="$root/build/deb/amd64/velquarin-control-board/obj-x86_64-linux-gnu/tests/x_events"
export VQ_FREEZE_THREAD="$root/build/deb/amd64/velquarin-control-board/obj-x86_64-linux-gnu/tests/freeze_thread"

# How many tests a log tells of: ctest's summaries and Python's unittest runs.
tests_in() {
    awk '/tests passed, [0-9]+ tests? failed out of/ { n += $NF }
         /^Ran [0-9]+ tests?[ :]/ { n += $2 }
         END { if (n) printf "%d passed", n }' "$1"
}

# step LOG DESCRIPTION COMMAND...: runs the command with its output in build/logs/LOG.log and
# says in one line how it went; a failure shows the log's last lines and its path, and marks
# the run failed.
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
    : >"$logs/FAILED"
    printf '%-64s %4d s  FAILED\n' "$what" "$(($(date +%s) - began))"
    tail -n 40 "$log" | sed 's/^/    | /'
    echo "    (the whole log: $log)"
    return 1
}

# later LOG DESCRIPTION COMMAND...: a step of a job in the background; its line waits in
# build/logs/LOG.line until show prints it.
later() {
    name=$1
    passed=0
    step "$@" >"$logs/$name.part" || passed=1
    mv "$logs/$name.part" "$logs/$name.line"
    return $passed
}
# show LOG PID: waits for that step of the background job PID, prints its line, and answers
# whether it passed; a job that ended without it is a failure.
show() {
    while [ ! -e "$logs/$1.line" ]; do
        if ! kill -0 "$2" 2>/dev/null && [ ! -e "$logs/$1.line" ]; then
            printf '%-64s %4s    FAILED: its job ended without a word (see %s)\n' "  $1" "" "$logs/$1.log"
            : >"$logs/FAILED"
            return 1
        fi
        sleep 1
    done
    cat "$logs/$1.line"
    ! grep -q '  FAILED$' "$logs/$1.line"
}

# package ARCH [dpkg-buildpackage options]: builds from a copy of the sources in build/deb/ARCH,
# where the packages land, unless those there were built from the same inputs. Another machine's
# package is built in the build root.
package() {
    arch=$1
    shift
    dir="$root/build/deb/$arch"
    admindir=""
    [ "$arch" = "$native" ] || admindir="$root/build/cross/root/var/lib/dpkg"
    key=$(package_key "$arch" "$@")
    if [ -f "$dir/inputs" ] && [ "$(cat "$dir/inputs")" = "$key" ]; then
        echo "The packages in $dir were built from these very inputs: reused."
        note="reused, nothing changed"
        return 0
    fi
    rm -rf "$dir"
    mkdir -p "$dir/velquarin-control-board"
    sources | tar -x -C "$dir/velquarin-control-board"
    if [ -z "$admindir" ]; then
        (cd "$dir/velquarin-control-board" && dpkg-buildpackage -us -uc -j"$jobs" "$@") || return 1
    else
        # shellcheck disable=SC2016 # the inner shell's
        in_buildroot env DEB_BUILD_OPTIONS="$DEB_BUILD_OPTIONS" sh -c 'cd "$1" && shift && exec dpkg-buildpackage "$@"' \
            sh "$dir/velquarin-control-board" -us -uc -j"$jobs" "$@" || return 1
        [ -z "$sudo" ] || $sudo chown -R "$(id -u):$(id -g)" "$dir"
    fi
    lintian --allow-root --fail-on error,warning "$dir"/*.changes || return 1
    echo "lintian: no error or warning in the $arch packages"
    echo "$key" >"$dir/inputs"
}
build_of() {
    echo "$root/build/deb/$1/velquarin-control-board/obj-$(dpkg-architecture -a"$1" -qDEB_HOST_GNU_TYPE 2>/dev/null)"
}
deb_of() {
    echo "$root/build/deb/$1/velquarin-control-board_"*"_$1.deb"
}
end_to_end() {
    (cd "$(build_of "$native")" && ctest --output-on-failure -j "$jobs" -L e2e)
}
install_and_run() {
    python3 "$root/tests/e2e/test_package.py" "$(deb_of "$native")"
}
# Another machine's program on this machine's display servers, and its package installed into
# the build root: both run under the emulator with the root's libraries.
emulated_end_to_end() {
    # shellcheck disable=SC2016 # the inner shell's
    with_sysroot "$1" sh -c 'python3 "$1" "$VQ_EMULATOR" "$2"' sh "$root/tests/e2e/test_emulated.py" \
        "$(build_of "$1")/velquarin-control-board"
}
emulated_install_and_run() {
    # shellcheck disable=SC2016 # the inner shell's
    with_sysroot "$1" sh -c 'python3 "$1" "$2" "$VQ_EMULATOR" "$VQ_SYSROOT"' sh "$root/tests/e2e/test_package.py" \
        "$(deb_of "$1")"
}
# The README's screenshots, made by its script into build/screenshots: both pictures, each of its
# size. Debian's Python runs it, with Debian's Pillow, whatever python3 comes first on the PATH.
screenshots() {
    /usr/bin/python3 "$root/scripts/screenshots.py" "$(build_of "$native")" "$root/build/screenshots" &&
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
# The console's guest for a package is made in the background: it mostly waits for the mirror.
make_guest() {
    python3 "$root/tests/e2e/consolevm.py" "$@" >"$logs/console-guest-${2:-amd64}.log" 2>&1 &
    guest=$!
}
wait_guest() {
    wait "$guest" || { cat "$logs/console-guest-$1.log"; return 1; }
}
# Another machine's steps, once its package is built: the main road, the package, and for arm64
# the console in an emulated machine of its kind.
other_machine() {
    arch=$1
    deb=$(deb_of "$arch")
    [ "$arch" != arm64 ] || make_guest "$deb" arm64
    step "$arch-e2e" "  end-to-end: the main road, under the emulator" emulated_end_to_end "$arch" || true
    step "$arch-install" "  the package installed in the build root, run and purged" \
        emulated_install_and_run "$arch" || true
    if [ "$arch" = arm64 ]; then
        step arm64-guest "  the console's virtual machine" wait_guest arm64 || true
        step arm64-console "  on a console with no desktop (virtual machine)" \
            python3 "$root/tests/e2e/test_console.py" "$deb" || true
    fi
}

step packages "Debian packages this needs, installed where missing" need_test_packages || exit 1
become_root "The packages for arm64 and armhf are built in a root of their own: run this as root or with sudo."
step indexes "The release's indexes for arm64 and armhf, fetched" release_indexes arm64 armhf || true
tail -n 1 "$logs/indexes.log" | sed 's/^/    /'
if [ -s "$root/build/cross/sources" ]; then
    # The guests take the same releases: what could not be fetched whole is left out there too.
    export VQ_APT_SOURCES="$root/build/cross/sources"
    # Made beside the amd64 build: it mostly waits for the mirror.
    later buildroot "  made with mmdebstrap from those indexes, or kept" buildroot arm64 armhf &
    rooting=$!
else
    : >"$logs/FAILED"
fi

echo "amd64"
if step amd64-package "  source and binary packages, with the unit tests" package "$native"; then
    # The console's guest made and its tests run beside the end-to-end tests: making it mostly
    # waits for the mirror, and the emulated machine takes one processor.
    (
        make_guest "$(deb_of "$native")"
        later amd64-guest "  the console's virtual machine" wait_guest amd64 &&
            later amd64-console "  on a console with no desktop (virtual machine)" \
                python3 "$root/tests/e2e/test_console.py" "$(deb_of "$native")" || true
    ) &
    consoling=$!
    # The sanitizer build, then the other machines' packages, beside the amd64 package's tests.
    (
        later asan-build "  build" sanitizer_build && later asan-unit "  unit and widget tests" sanitizer_tests
        [ -n "${VQ_APT_SOURCES:-}" ] || exit 0
        show buildroot "$rooting" >/dev/null || exit 0
        later arm64-package "  binary package, with the unit tests under the emulator" package arm64 -b -a arm64 -Pcross ||
            true
        later armhf-package "  binary package, with the unit tests under the emulator" package armhf -b -a armhf -Pcross ||
            true
    ) &
    building=$!
    step amd64-e2e "  end-to-end: X, Wayland, GNOME" end_to_end || true
    step amd64-install "  the package installed, run and purged" install_and_run || true
    step amd64-screenshots "  the README's screenshots (scripts/screenshots.py)" screenshots || true
    show amd64-guest "$consoling" && show amd64-console "$consoling" || true

    echo "Sanitizers (ASan, UBSan)"
    show asan-build "$building" && show asan-unit "$building" || true
    if [ -n "${VQ_APT_SOURCES:-}" ]; then
        echo "Build root for arm64 and armhf (build/cross/root)"
        if show buildroot "$rooting"; then
            echo "arm64 (cross-built in the build root, run under the emulator)"
            ! show arm64-package "$building" || other_machine arm64
            echo "armhf (cross-built in the build root, run under the emulator)"
            ! show armhf-package "$building" || other_machine armhf
        fi
    fi
fi
wait

if [ ! -e "$logs/FAILED" ]; then
    echo "All tests passed in $(($(date +%s) - start)) s; the logs are in $logs."
    exit 0
fi
echo "Some tests FAILED (after $(($(date +%s) - start)) s); the logs are in $logs." >&2
exit 1
