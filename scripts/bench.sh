#!/bin/sh
# Installs what is missing, builds the program (Release) and measures it: the real program on
# Xvfb with a window manager (bench/run.py), then the micro benchmarks of one tick and of the
# board's open step; then, where the shared reference boards are, the program beside them.
# Options go to bench/run.py (e.g. --runs 7 --blink 30).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES $TEST_PACKAGES libbenchmark-dev

build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVQ_BENCHMARKS=ON >/dev/null
cmake --build "$build"
python3 "$root/bench/run.py" "$@" "$build/velquarin-control-board"
echo
"$build/bench/bench_board"

# Beside the reference boards, when the workplace's shared harness is there: ROUNDS=8 (the
# default), UHD=1 for 3840x2160 too.
shared="$root/../shared/bench"
if [ -f "$shared/measure.py" ]; then
    echo
    sh "$shared/anchors/build.sh" >/dev/null
    python3 "$root/bench/compare.py" --rounds "${ROUNDS:-8}" ${UHD:+--4k} "$build/velquarin-control-board"
    python3 "$root/bench/tick_instructions.py" "$build/velquarin-control-board"
fi
