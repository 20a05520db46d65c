#!/usr/bin/env python3
"""Measures the real program on its own Xvfb with a window manager, as a user meets it.

  python3 bench/run.py [--runs N] [--blink SECONDS] [--size WxH] [BINARY]

Per run: launch to the start window shown with its picture painted; Return to the board fully
drawn; CPU time per tick and wakeups per second while the board blinks (the process's threads,
from /proc); resident and proportional memory with the board running; Escape to exit. Prints
one JSON line per run, then a table of medians with the spread.
"""
import argparse
import ctypes
import glob
import json
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from checks import ROW_COLOURS, layout  # noqa: E402
from xsession import XSession  # noqa: E402

TICK_S = 1.4


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int), ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
                ("blue_mask", ctypes.c_ulong), ("obdata", ctypes.c_void_p),
                ("funcs", ctypes.c_void_p * 6)]


class Screen:
    """Reads pixels of the root window straight from the X server: a few ms per look."""

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                     ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XDestroyImage = None
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display)
        self.root = self.x.XDefaultRootWindow(self.dpy)

    def pixels(self, points):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        left, top = min(xs), min(ys)
        width, height = max(xs) - left + 1, max(ys) - top + 1
        image = self.x.XGetImage(self.dpy, self.root, left, top, width, height, 0xFFFFFFFF, 2)
        if not image:
            return [None] * len(points)
        img = image.contents
        step = img.bits_per_pixel // 8
        out = []
        for x, y in points:
            offset = (y - top) * img.bytes_per_line + (x - left) * step
            out.append((img.data[offset + 2], img.data[offset + 1], img.data[offset]))
        destroy = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(XImage))(img.funcs[1])
        destroy(image)
        return out


def process_cpu_ns(pid):
    total = 0
    for path in glob.glob("/proc/%d/task/*/schedstat" % pid):
        with open(path) as f:
            total += int(f.read().split()[0])
    return total


def voluntary_switches(pid):
    total = 0
    for path in glob.glob("/proc/%d/task/*/status" % pid):
        with open(path) as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches"):
                    total += int(line.split()[1])
    return total


def memory_kib(pid):
    values = {}
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            parts = line.split()
            if parts[0] in ("Rss:", "Pss:"):
                values[parts[0][:-1].lower()] = int(parts[1])
    return values["rss"], values["pss"]


def wait(predicate, timeout, what, step=0.002):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    raise RuntimeError("timed out waiting for " + what)


def one_run(command, size, blink):
    """One run of the program (a command line) on X: Xvfb and openbox."""
    with XSession(size) as session:
        screen = Screen(session.display)
        width, height = session.screen_size()
        started = time.monotonic()
        session.start(command[0], arguments=command[1:])

        def start_window_painted():
            for window in session.visible_windows():
                x, y, w, h = session.geometry(window)
                if w != 470:
                    continue
                left, top = x + 11, y + h - 332 + 12
                lamp, gauge = screen.pixels([(left + 30, top + 150), (left + 85, top + 95)])
                if lamp and lamp[0] > 180 and lamp[1] < 110 and max(gauge) < 60:
                    return window
            return None
        window = wait(start_window_painted, 30, "the start window with its picture")
        first_window_ms = (time.monotonic() - started) * 1000
        session.wait_active(window)
        time.sleep(0.5)

        blocks = [(l + w // 2, t + h // 2) for l, t, w, h in layout(width) if t + h < height]
        want = [ROW_COLOURS[i // 6] for i in range(len(blocks))]
        pressed = time.monotonic()
        session.key("Return")
        wait(lambda: screen.pixels(blocks) == want, 30, "the board")
        return_board_ms = (time.monotonic() - pressed) * 1000

        usage = blinking(session.app.pid, blink)
        pressed = time.monotonic()
        session.key("Escape")
        status = session.exit_status(10)
        exit_ms = (time.monotonic() - pressed) * 1000
        return dict({"first_window_ms": round(first_window_ms, 1), "return_board_ms": round(return_board_ms, 1)},
                    **usage, exit_ms=round(exit_ms, 1), status=status)


# Each figure as the README's table names it, with its unit (the JSON lines keep the keys).
NAMES = {
    "first_window_ms": "launch to the start window (ms)",
    "return_board_ms": "Return to the board (ms)",
    "cpu_ms_per_tick": "CPU per tick (ms)",
    "wakeups_per_s": "wakeups per second while blinking",
    "rss_kb": "RSS with the board blinking (KiB)",
    "pss_kb": "PSS with the board blinking (KiB)",
    "exit_ms": "Escape to exit (ms)",
    "status": "exit status",
}


def blinking(pid, blink):
    """What the board costs while it blinks, from a second after it showed."""
    time.sleep(1.0)
    cpu0, wake0, t0 = process_cpu_ns(pid), voluntary_switches(pid), time.monotonic()
    time.sleep(blink)
    cpu1, wake1, t1 = process_cpu_ns(pid), voluntary_switches(pid), time.monotonic()
    rss, pss = memory_kib(pid)
    ticks = (t1 - t0) / TICK_S
    return {"cpu_ms_per_tick": round((cpu1 - cpu0) / 1e6 / ticks, 3),
            "wakeups_per_s": round((wake1 - wake0) / (t1 - t0), 2), "rss_kb": rss, "pss_kb": pss}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary", nargs="?",
                        default=os.path.join(os.path.dirname(__file__), "..", "build", "release",
                                             "velquarin-control-board"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--blink", type=float, default=30.0, help="seconds of blinking measured (20+ ticks)")
    parser.add_argument("--size", default="1920x1080")
    args = parser.parse_args()

    results = []
    for run in range(args.runs):
        result = one_run([os.path.abspath(args.binary)], args.size, args.blink)
        print(json.dumps(dict(result, run=run + 1)), flush=True)
        results.append(result)

    print("\n| measure | median | min | max |\n|---|---|---|---|")
    for key in results[0]:
        values = [r[key] for r in results]
        print("| %s | %s | %s | %s |" % (NAMES.get(key, key), round(statistics.median(values), 3), min(values), max(values)))


if __name__ == "__main__":
    main()
