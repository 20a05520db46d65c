#!/usr/bin/env python3
"""Cue to the all-lit frame, and what a broker connection costs while the board blinks.

  python3 bench/cues.py [--runs N] [--idle MINUTES] BINARY      (--runs 0: the idle run alone)

Back to one by SIGUSR1, by an OSC message and by an MQTT publish through a local mosquitto
(one publisher kept connected, as a game master's panel is), each sent somewhere between two
ticks, N times (default 20):
- on X (Xvfb 1920x1080): from the send to the frame with every block lit, read off the screen
  every 2 ms;
- on Wayland (headless sway 1920x1080): from the send to the client's next committed buffer, on
  its own protocol trace.
Then, with --idle (default 0: skipped), two boards blink side by side on X for that long, one
connected to the broker and one with no cues at all: the CPU time and the wakeups of each.
Prints a JSON line per platform, then the medians.
"""
import argparse
import json
import os
import random
import signal
import socket
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from broker import TOPIC, Broker, free_port  # noqa: E402
from checks import ROW_COLOURS, layout  # noqa: E402
from waylandsession import USER, WaylandSession  # noqa: E402
from xsession import XSession, as_user, wait_for  # noqa: E402

from run import Screen, process_cpu_ns, voluntary_switches, wait  # noqa: E402
from wayland import end, frames, program_copy, trace_clock  # noqa: E402

OSC_BACK_TO_ONE = b"/board/back-to-one\0\0,\0\0\0"
WAYS = ("SIGUSR1", "OSC", "MQTT")


class Cuer:
    """Sends back to one the three ways to one program."""

    def __init__(self, pid, osc_port, broker):
        self.pid = pid
        self.osc = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.osc_port = osc_port
        self.publisher = subprocess.Popen(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(broker.port), "-t", TOPIC,
                                           "-l"], stdin=subprocess.PIPE)
        time.sleep(0.5)  # connected

    def send(self, way):
        if way == "SIGUSR1":
            os.kill(self.pid, signal.SIGUSR1)
        elif way == "OSC":
            self.osc.sendto(OSC_BACK_TO_ONE, ("127.0.0.1", self.osc_port))
        else:
            self.publisher.stdin.write(b"back-to-one\n")
            self.publisher.stdin.flush()

    def close(self):
        self.publisher.stdin.close()
        self.publisher.wait(10)
        self.osc.close()


def arguments(osc_port, broker):
    return ["--go", "--seed", "1", "--osc", str(osc_port), "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)]


def x_run(binary, runs):
    with Broker() as broker, XSession("1920x1080") as session:
        broker.start()
        osc = free_port(socket.SOCK_DGRAM)
        session.start(binary, arguments=arguments(osc, broker))
        screen = Screen(session.display)
        centres = [(left + width // 2, top + height // 2) for left, top, width, height in layout(1920)]
        every_lit = [ROW_COLOURS[i // 6] for i in range(36)]
        lit = lambda: screen.pixels(centres) == every_lit  # noqa: E731
        wait(lit, 30, "the board")
        cuer = Cuer(session.app.pid, osc, broker)
        times = {way: [] for way in WAYS}
        for _ in range(runs):
            for way in WAYS:
                wait(lambda: not lit(), 10, "a tick")
                time.sleep(random.uniform(0.1, 0.8))
                sent = time.monotonic()
                cuer.send(way)
                wait(lit, 5, "the all-lit frame")
                times[way].append((time.monotonic() - sent) * 1000)
        cuer.close()
        session.key("Escape")
        session.exit_status()
        return times


def wayland_run(binary, runs):
    with Broker() as broker, WaylandSession() as session:
        broker.start()
        osc = free_port(socket.SOCK_DGRAM)
        command = program_copy([binary] + arguments(osc, broker), session.root)
        trace = os.path.join(session.root, "trace")
        with open(trace, "w") as out:
            os.chmod(trace, 0o666)
            session.app = subprocess.Popen(as_user(USER) + command, env=dict(session.env, WAYLAND_DEBUG="client"),
                                           cwd=session.home, stdout=subprocess.DEVNULL, stderr=out)

        def commits():
            with open(trace) as f:
                return [stamp for stamp, width, _ in frames(f.read()) if width]
        wait_for(commits, 30, "the board's first frame")
        cuer = Cuer(session.app.pid, osc, broker)
        times = {way: [] for way in WAYS}
        for _ in range(runs):
            for way in WAYS:
                time.sleep(0.3)  # past the last frame
                before = len(commits())
                wait_for(lambda: len(commits()) > before, 10, "a tick")
                time.sleep(random.uniform(0.1, 0.8))
                sent = trace_clock()
                cuer.send(way)
                frame = wait_for(lambda: [c for c in commits()[before:] if c >= sent], 5, "the frame after the cue")[0]
                times[way].append(frame - sent)
        cuer.close()
        end(session)
        return times


def idle_run(binary, minutes):
    """Two boards on two displays for `minutes`: CPU and wakeups with a broker and without."""
    with Broker() as broker, XSession("1920x1080") as connected, XSession("1920x1080") as alone:
        broker.start()
        connected.start(binary, arguments=["--go", "--seed", "1", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
        alone.start(binary, arguments=["--go", "--seed", "1"])
        time.sleep(5)
        pids = {"broker": connected.app.pid, "no cues": alone.app.pid}
        first = {name: (process_cpu_ns(pid), voluntary_switches(pid)) for name, pid in pids.items()}
        time.sleep(minutes * 60)
        result = {}
        for name, pid in pids.items():
            cpu, wakeups = process_cpu_ns(pid) - first[name][0], voluntary_switches(pid) - first[name][1]
            result[name] = {"cpu_ms_per_hour": round(cpu / 1e6 * 60 / minutes, 1),
                            "wakeups_per_hour": round(wakeups * 60 / minutes)}
        for session in (connected, alone):
            session.key("Escape")
            session.exit_status()
        return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=20)
    parser.add_argument("--idle", type=float, default=0, help="minutes of the side-by-side idle run")
    parser.add_argument("binary")
    options = parser.parse_args()
    binary = os.path.abspath(options.binary)
    for platform, run in (("X", x_run), ("Wayland", wayland_run)) if options.runs else ():
        times = run(binary, options.runs)
        print(json.dumps({"platform": platform, "ms": times}))
        print("%-8s cue to the all-lit frame, median of %d (min-max): %s" % (platform, options.runs, ", ".join(
            "%s %.1f ms (%.1f-%.1f)" % (way, statistics.median(t), min(t), max(t)) for way, t in times.items())))
    if options.idle:
        result = idle_run(binary, options.idle)
        print(json.dumps({"idle_minutes": options.idle, **result}))


if __name__ == "__main__":
    main()
