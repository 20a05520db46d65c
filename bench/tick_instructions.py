#!/usr/bin/env python3
"""Instructions per tick while the board blinks, counted by callgrind: the steady figure for
the cost of a tick, beside the same job written directly on Qt (bench/reference/board.cpp). Each program
runs under valgrind on its own Xvfb with openbox; after Return and a few seconds of blinking,
counting is switched on for --ticks ticks' time, and the count is divided by the ticks that
fired meanwhile (calls of QTimer's timer event, which only the blink timer uses by then).

  python3 bench/tick_instructions.py [--ticks 40] BINARY REFERENCE
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
    """Total instructions and the calls of QTimer::timerEvent in a callgrind profile."""
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


def measure(label, command, ticks):
    folder = tempfile.mkdtemp(prefix="vq-ticks-")
    profile = os.path.join(folder, "callgrind.out")
    with XSession(size="%dx%d" % SIZE) as session:
        session.start(command[0], arguments=command[1:],
                      wrapper=("valgrind", "--tool=callgrind", "--instr-atstart=no",
                               "--callgrind-out-file=" + profile))
        session.wait_for(lambda: windows(session), 120, label + "'s start window")
        time.sleep(1)
        session.key("Return")
        session.wait_for(lambda: any(session.geometry(w) == (0, 0) + SIZE for w in windows(session)),
                         60, label + "'s board")
        control = lambda *what: subprocess.run(["callgrind_control", *what, str(session.app.pid)],
                                               check=True, stdout=subprocess.DEVNULL)
        control("-i", "on")
        time.sleep(4)  # the first ticks, and any one-off work after the board shows
        control("-z")
        time.sleep(ticks * 1.4)
        control("-d")
        session.key("Escape")
        session.exit_status(timeout=60)
    total, fired = tally(profile + ".1")  # the dump taken after the ticks
    # A timer of its own beside the blink would pass for ticks and make a tick look cheaper.
    if not ticks - 1 <= fired <= ticks + 1:
        sys.exit("%s: %d timer events in %d ticks' time (profile in %s)" % (label, fired, ticks, folder))
    return total / fired, fired


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("reference")
    parser.add_argument("--ticks", type=int, default=40)
    args = parser.parse_args()
    picture = os.path.join(ROOT, "resources", "VQ1.jpeg")
    results = {}
    for label, command in [("program", [os.path.abspath(args.binary)]),
                           ("reference", [os.path.abspath(args.reference), picture])]:
        results[label] = measure(label, command, args.ticks)
        print("%s: %.0f instructions per tick (%d ticks)" % ((label,) + results[label]))
    print("program / reference: %.2fx" % (results["program"][0] / results["reference"][0]))


if __name__ == "__main__":
    main()
