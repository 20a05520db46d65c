#!/usr/bin/env python3
"""Measures the program beside reference boards that do the same job, in interleaved rounds,
with the shared harness (../shared/bench/measure.py), and prints each figure's median with its
spread and the ratio to the same-job reference: plain Qt showing the same start window and
board (qt-board -S PICTURE). Also the minimal Qt board (-s) and the Xlib board, for scale.

  python3 bench/compare.py [--rounds 8] [--blink 30] [--4k] BINARY

Needs the references built: sh ../shared/bench/anchors/build.sh (into /tmp/vq-anchors).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SHARED = os.path.join(ROOT, "..", "shared", "bench")
ANCHORS = os.environ.get("OUT", "/tmp/vq-anchors")
FIGURES = ("first_window_ms", "return_board_ms", "cpu_ms_per_tick", "pss_kb")


def programs(binary):
    picture = os.path.join(ROOT, "resources", "VQ1.jpeg")
    return [("ours", [binary]),
            ("same-job", [os.path.join(ANCHORS, "qt-board"), "-S", picture]),
            ("qt-minimal", [os.path.join(ANCHORS, "qt-board"), "-s"]),
            ("xlib", [os.path.join(ANCHORS, "xlib-board"), "-s"])]


def balanced_order(count, round_):
    """The order of the programs in a round. A run is slower or faster depending on the one
    before it (seen: about 10 ms more to the first window right after the Xlib board), so over
    every `count` rounds each program runs right after each other one exactly once (a
    Williams square; a plain rotation keeps the same neighbours). For an even count."""
    first, low, high = [0], 1, count - 1
    while len(first) < count:
        first.append(low)
        low += 1
        if len(first) < count:
            first.append(high)
            high -= 1
    return [(index + round_) % count for index in first]


def measure(size, label, command, blink, jsonl):
    subprocess.run([sys.executable, os.path.join(SHARED, "measure.py"), "--size", size + "x24", "--runs", "1",
                    "--start-window", "--blink", str(blink), "--label", label, "--jsonl", jsonl, "--", *command],
                   check=True, stdout=subprocess.DEVNULL)


def summarize(jsonl, size):
    by_label = {}
    with open(jsonl) as f:
        for line in f:
            run = json.loads(line)
            by_label.setdefault(run["label"], []).append(run)
    print("\n%s, %d rounds: median (min..max)" % (size, len(by_label.get("ours", []))))
    print("| figure | " + " | ".join(by_label) + " | ours / same-job |")
    print("|---|" + "---|" * (len(by_label) + 1))
    for figure in FIGURES:
        cells, medians = [], {}
        for label, runs in by_label.items():
            values = [r[figure] for r in runs if r.get(figure) is not None]
            if not values:
                cells.append("-")
                continue
            medians[label] = statistics.median(values)
            scale = 1024 if figure == "pss_kb" else 1
            cells.append("%.2f (%.2f..%.2f)" % (medians[label] / scale, min(values) / scale, max(values) / scale))
        if "ours" in medians and medians.get("same-job"):
            if figure == "pss_kb":
                ratio = "%+.2f MB" % ((medians["ours"] - medians["same-job"]) / 1024)
            else:
                ratio = "%.2fx" % (medians["ours"] / medians["same-job"])
        else:
            ratio = "-"
        print("| %s | %s | %s |" % (figure.replace("_kb", "_mb"), " | ".join(cells), ratio))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("--rounds", type=int, default=8)
    parser.add_argument("--blink", type=float, default=30.0)
    parser.add_argument("--4k", dest="uhd", action="store_true", help="also at 3840x2160")
    args = parser.parse_args()
    if not os.path.exists(os.path.join(SHARED, "measure.py")) or not os.path.exists(os.path.join(ANCHORS, "qt-board")):
        sys.exit("the shared harness or the reference boards are missing: sh ../shared/bench/anchors/build.sh")
    sizes = ["1920x1080"] + (["3840x2160"] if args.uhd else [])
    folder = tempfile.mkdtemp(prefix="vq-compare-")
    for size in sizes:
        jsonl = os.path.join(folder, size + ".jsonl")
        listed = programs(os.path.abspath(args.binary))
        for round_ in range(args.rounds):
            for index in balanced_order(len(listed), round_):
                label, command = listed[index]
                measure(size, label, command, args.blink, jsonl)
            print("%s: round %d of %d done" % (size, round_ + 1, args.rounds), file=sys.stderr, flush=True)
        summarize(jsonl, size)
    print("\nraw runs: " + folder)


if __name__ == "__main__":
    main()
