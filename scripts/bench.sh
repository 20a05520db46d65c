#!/bin/sh
# Installs what is missing, builds the program (Release) and measures it: the real program on
# Xvfb with a window manager (bench/run.py), then the micro benchmarks of one tick and of the
# board's open step; then the program beside the same job written directly on Qt, on X and
# on Wayland (bench/compare.py).
# Options go to bench/run.py (e.g. --runs 7 --blink 30).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/packages.sh"
need_packages $BUILD_PACKAGES $TEST_PACKAGES libbenchmark-dev

build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON -DVQ_BENCHMARKS=ON >/dev/null
# The programs, and the tests' X helper, through which the harness reads where windows are.
cmake --build "$build" --target velquarin-control-board bench_board reference_board x_events
export VQ_X_EVENTS="$build/tests/x_events"
python3 "$root/bench/run.py" "$@" "$build/velquarin-control-board"
echo
"$build/bench/bench_board"

# Beside the same job written directly on Qt, on X and on Wayland (ROUNDS=6, BLINK=15 by
# default; ONLY=x11 or ONLY=wayland for one of them).
echo
python3 "$root/bench/compare.py" --rounds "${ROUNDS:-6}" --blink "${BLINK:-15}" ${ONLY:+--only "$ONLY"} \
    "$build/velquarin-control-board" "$build/bench/reference_board"
python3 "$root/bench/tick_instructions.py" "$build/velquarin-control-board" "$build/bench/reference_board"
