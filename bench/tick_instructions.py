#!/usr/bin/env python3
"""Instructions per tick while the board blinks, counted by callgrind: the steady figure for
the cost of a tick, beside the same job written directly on Qt (bench/reference/board.cpp). Each
program runs under valgrind on its own Xvfb with openbox. Counting starts before Return and
callgrind writes a profile at every tick (at each entry of QTimer's timer event, which only the
blink timer uses by then), so each profile holds one tick and the repaint it caused. Both blink
with the same seed and the same ticks are counted (the 3rd to the 42nd by default): the two
programs flip the same blocks, tick for tick. With --turned DEGREES, the program is counted
once more with its windows turned (--rotate), against itself upright.

  python3 bench/tick_instructions.py [--ticks 40] [--seed 1] [--turned 90] BINARY REFERENCE
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from xsession import XSession  # noqa: E402

SIZE = (1920, 1080)


def tally(profile):
    """Instructions in a callgrind profile, and the calls of QTimer::timerEvent in it."""
    names, total, timer_events, callee = {}, 0, 0, None
    with open(profile) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                total = max(total, int(line.split()[1]))
            elif line.startswith(("fn=", "cfn=")):
                # A name is given once, with its number; later lines give the number only.
                ident, _, name = line.split("=", 1)[1].strip().partition(" ")
                if name:
                    names[ident] = name
                if line.startswith("cfn="):
                    callee = names.get(ident, ident)
            elif line.startswith("calls=") and callee and callee.startswith("QTimer::timerEvent"):
                timer_events += int(line[6:].split()[0])
    return total, timer_events


def windows(session):
    """The visible windows of any class (the reference's name is valgrind's under it)."""
    return [int(w) for w in session.x_query("xdotool", "search", "--onlyvisible", "--class", ".").stdout.split()]


def measure(label, command, first, ticks):
    """Instructions per tick over ticks first .. first + ticks - 1, with the profile folder."""
    folder = tempfile.mkdtemp(prefix="vq-ticks-")
    profile = os.path.join(folder, "callgrind.out")
    parts = lambda: sorted((int(name.rsplit(".", 1)[1]), os.path.join(folder, name)) for name in os.listdir(folder)
                           if re.fullmatch(r"callgrind\.out\.\d+", name))
    with XSession(size="%dx%d" % SIZE) as session:
        session.start(command[0], arguments=command[1:],
                      wrapper=("valgrind", "--tool=callgrind", "--instr-atstart=no",
                               "--dump-before=QTimer::timerEvent*", "--callgrind-out-file=" + profile))
        session.wait_for(lambda: windows(session), 120, label + "'s start window")
        time.sleep(1)
        subprocess.run(["callgrind_control", "-i", "on", str(session.app.pid)], check=True, stdout=subprocess.DEVNULL)
        session.key("Return")
        # A profile is written as each tick begins: the one before the first holds the board's
        # opening, and tick n's is the n + 1st.
        session.wait_for(lambda: len(parts()) > first + ticks, 60 + 3 * ticks, "%d ticks of %s" % (first + ticks, label))
        session.key("Escape")
        session.exit_status(timeout=60)
    counted = parts()[first:first + ticks]
    total = 0
    for number, path in counted:
        instructions, fired = tally(path)
        # Another timer of its own beside the blink would split a tick in two.
        if fired != 1:
            sys.exit("%s: %d timer events in profile %d (in %s)" % (label, fired, number, folder))
        total += instructions
    return total / ticks, folder


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("reference")
    parser.add_argument("--ticks", type=int, default=40)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--first", type=int, default=3, help="the first tick counted")
    parser.add_argument("--turned", choices=["90", "180", "270"], help="count the program turned this much too")
    args = parser.parse_args()
    picture = os.path.join(ROOT, "resources", "VQ1.jpeg")
    results = {}
    seed = ["--seed", str(args.seed)]
    runs = [("program", [os.path.abspath(args.binary)] + seed),
            ("reference", [os.path.abspath(args.reference), picture] + seed)]
    if args.turned:
        runs.append(("program turned", [os.path.abspath(args.binary), "--rotate", args.turned] + seed))
    for label, command in runs:
        results[label] = measure(label, command, args.first, args.ticks)
        print("%s: %.0f instructions per tick (ticks %d to %d; profiles in %s)"
              % (label, results[label][0], args.first, args.first + args.ticks - 1, results[label][1]))
    print("program / reference: %.2fx" % (results["program"][0] / results["reference"][0]))
    if args.turned:
        print("turned %s / upright: %.3fx" % (args.turned, results["program turned"][0] / results["program"][0]))


if __name__ == "__main__":
    main()
