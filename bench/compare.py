#!/usr/bin/env python3
"""Measures the program beside the same job written directly on Qt (bench/reference/board.cpp:
the same start window and board, no layer between it and the toolkit), in interleaved rounds,
on X (Xvfb and openbox, bench/run.py) and on Wayland (a headless sway, bench/wayland.py), and
prints each figure's median with its spread and the program's ratio to the reference.

  python3 bench/compare.py [--rounds 6] [--blink 15] [--only x11|wayland] [--seed 1]
                           [--beside LABEL=BINARY]... BINARY REFERENCE

--beside measures another build of the program (an older one, say) in the same rounds.

Figures: launch to the start window shown (X: its picture painted; Wayland: its first committed
buffer), Return to the board (X: its pixels right; Wayland: the first committed buffer of the
output's size after the key arrived), CPU time per tick while it blinks, and its proportional
memory (PSS) then. Both blink with the same seed: they flip the same blocks, tick for tick.
"""
import argparse
import json
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402
import wayland  # noqa: E402

PICTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "VQ1.jpeg")
FIGURES = ("first_window_ms", "return_board_ms", "cpu_ms_per_tick", "pss_kb")


def measure(platform, command, blink):
    if platform == "x11":
        return run.one_run(command, "1920x1080", blink)
    return wayland.one_run(command, blink)


def summarize(platform, runs):
    labels = list(runs)
    print("\n%s, %d rounds: median (min..max)" % (platform, len(runs["program"])))
    print("| figure | " + " | ".join(labels) + " | program / reference |")
    print("|---|" + "---|" * (len(labels) + 1))
    for figure in FIGURES:
        cells, medians = [], {}
        for label in labels:
            values = [r[figure] for r in runs[label]]
            medians[label] = statistics.median(values)
            scale = 1024 if figure == "pss_kb" else 1
            cells.append("%.2f (%.2f..%.2f)" % (medians[label] / scale, min(values) / scale, max(values) / scale))
        ratio = "%.2fx" % (medians["program"] / medians["reference"]) if medians["reference"] else "-"
        print("| %s | %s | %s |" % (run.NAMES[figure].replace("(KiB)", "(MB)"), " | ".join(cells), ratio))
    for label in labels:
        ends = [s for r in runs[label] for s in (r.get("statuses") or [r.get("status")])]
        if any(s != 0 for s in ends):
            print("%s: exit statuses %s" % (label, ends))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("reference")
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--blink", type=float, default=15.0, help="seconds of blinking measured per run")
    parser.add_argument("--only", choices=("x11", "wayland"))
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--beside", action="append", default=[], metavar="LABEL=BINARY")
    args = parser.parse_args()
    seed = ["--seed", str(args.seed)]
    programs = {"program": [os.path.abspath(args.binary)] + seed}
    for beside in args.beside:
        label, _, binary = beside.partition("=")
        programs[label] = [os.path.abspath(binary)] + seed
    programs["reference"] = [os.path.abspath(args.reference), PICTURE] + seed
    raw = tempfile.mkdtemp(prefix="vq-compare-")
    for platform in [args.only] if args.only else ["x11", "wayland"]:
        runs = {label: [] for label in programs}
        with open(os.path.join(raw, platform + ".jsonl"), "w") as log:
            for round_ in range(args.rounds):
                # Each goes first every other round: a run is slower or faster after another.
                order = list(programs) if round_ % 2 == 0 else list(reversed(programs))
                for label in order:
                    result = measure(platform, programs[label], args.blink)
                    runs[label].append(result)
                    log.write(json.dumps(dict(result, label=label, round=round_ + 1)) + "\n")
                print("%s: round %d of %d done" % (platform, round_ + 1, args.rounds), file=sys.stderr, flush=True)
        summarize(platform, runs)
    print("\nraw runs: " + raw)


if __name__ == "__main__":
    main()
