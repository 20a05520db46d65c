#!/usr/bin/env python3
"""A long run of the board among services that come and go, as a kiosk meets them over days.

  python3 bench/soak.py [--wayland] [--minutes 30] [--restart 120] [--pause 180] BUILD

BUILD is a build tree with its tests (the program and the stand-in desktop services). On X,
the board shows with --go on its own Xvfb with a window manager and a private session bus with
a stand-in ScreenSaver service and portal. Every `--restart` seconds both services are
killed and started again; every `--pause` seconds the X server stops for 2 s. Every 10 s a
sample: whether the hold is taken (the current services granted it and have not had it back,
the X screen saver stays off past its 2 s timeout), and the program's resident memory, open
files and threads. With --wayland, the board shows under a headless sway instead, run as the
unprivileged account, and it is sway that stops for 2 s every `--pause` seconds; the hold is
the board's idle inhibitor as sway reports it. Prints one JSON line per sample, then a
summary; ends with status 1 when a sample found the hold missing or the program grew.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from waylandsession import WaylandSession, copy_program  # noqa: E402
from xsession import LineReader, XSession  # noqa: E402

SAMPLE_S = 10


class Service:
    """A stand-in service on the session bus, restarted with cookies that tell its lives apart."""

    def __init__(self, command, env):
        self.command, self.env, self.lives = command, env, 0
        self.start()

    def start(self):
        self.lives += 1
        arguments = ["--first-cookie", str(1000 * self.lives)] if "screensaver" in self.command else []
        self.proc = subprocess.Popen([self.command] + arguments, env=self.env, stdout=subprocess.PIPE)
        self.calls = LineReader(self.proc.stdout)
        self.calls.wait_for("ready")

    def restart(self):
        self.proc.kill()
        self.proc.wait()
        self.start()

    def held(self):
        """Granted by this life of the service, and not given back."""
        self.calls.drain(0.05)
        asked = [line for line in self.calls.lines if line.startswith(("Inhibit ", "PortalInhibit "))]
        given_back = [line for line in self.calls.lines if line.startswith(("UnInhibit ", "Close "))]
        return len(asked) == 1 and not given_back

    def stop(self):
        self.proc.kill()
        self.proc.wait()


def usage(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f)
    return {"rss_kib": int(fields["VmRSS"].split()[0]), "fds": len(os.listdir("/proc/%d/fd" % pid)),
            "threads": int(fields["Threads"])}


def x_board(options, build, sample):
    """The board on X among restarted services; calls sample(app, held) every 10 s."""
    binary = os.path.join(build, "velquarin-control-board")
    helpers = [os.path.join(build, "tests", name) for name in ("fake_screensaver", "fake_portal")]
    with XSession("1920x1080") as session:
        session.x("xset", "s", "2", "0")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        session.procs.append(bus)
        env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip())
        services = [Service(helper, env) for helper in helpers]
        session.start(binary, extra_env={"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"]},
                      arguments=["--go"])

        def restart():
            for service in services:
                service.restart()

        def held():
            deadline = time.monotonic() + 3  # a service just restarted is asked within this
            while not all(s.held() for s in services) and time.monotonic() < deadline:
                time.sleep(0.1)
            return all(s.held() for s in services) and not session.screen_saver_on()
        try:
            return soak(options, session, session.procs[0], restart, held, sample), services[0].lives - 1
        finally:
            for service in services:
                service.stop()


def wayland_board(options, build, sample):
    """The board under a headless sway, which stops now and then; no desktop services."""
    with WaylandSession() as session:
        session.start(copy_program(os.path.join(build, "velquarin-control-board"), session.root), arguments=["--go"])
        session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "the full-screen board", timeout=30)

        def held():
            deadline = time.monotonic() + 3
            while time.monotonic() < deadline:
                if [v["idle_inhibitors"]["application"] for v in session.views()] == ["enabled"]:
                    return True
                time.sleep(0.1)
            return False
        return soak(options, session, session.procs[0], None, held, sample), 0


def soak(options, session, server, restart, held, sample):
    """Runs the board for the minutes asked; the failures seen."""
    app = session.app
    failures = []
    start = time.monotonic()
    next_restart, next_pause, next_sample = start + options.restart, start + options.pause, start + SAMPLE_S
    end = start + 60 * options.minutes
    while time.monotonic() < end and app.poll() is None:
        now = time.monotonic()
        if restart and now >= next_restart:
            restart()
            next_restart += options.restart
        if now >= next_pause:
            server.send_signal(signal.SIGSTOP)
            time.sleep(2)
            server.send_signal(signal.SIGCONT)
            next_pause += options.pause
        if now >= next_sample:
            if not sample(round(now - start), held(), app.pid):
                failures.append("hold missing at %d s" % round(now - start))
            next_sample += SAMPLE_S
        time.sleep(0.05)
    if app.poll() is not None:
        failures.append("the program ended with %s" % app.returncode)
    else:
        session.key("Escape")
        status = session.exit_status(20)
        if status != 0:
            failures.append("Escape ended it with %s" % status)
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--wayland", action="store_true", help="under a headless sway, not on X")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--restart", type=float, default=120, help="seconds between service restarts (X)")
    parser.add_argument("--pause", type=float, default=180, help="seconds between display server pauses")
    parser.add_argument("build")
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    os.environ.setdefault("VQ_X_EVENTS", os.path.join(build, "tests", "x_events"))

    samples = []

    def sample(seconds, held, pid):
        taken = {"s": seconds, "held": held, **usage(pid)}
        samples.append(taken)
        print(json.dumps(taken), flush=True)
        return held
    failures, restarts = (wayland_board if options.wayland else x_board)(options, build, sample)
    if len(samples) >= 4:
        settled = samples[len(samples) // 4:]  # after start-up's own growth
        for key in ("rss_kib", "fds", "threads"):
            first, last, most = settled[0][key], settled[-1][key], max(s[key] for s in settled)
            print("%-8s first %7d  last %7d  most %7d" % (key, first, last, most))
            if key != "rss_kib" and most > first or key == "rss_kib" and last > first * 1.05 + 1024:
                failures.append("%s grew from %d to %d" % (key, first, last))
    print("%d samples, %d with the hold taken; %d service restarts"
          % (len(samples), sum(s["held"] for s in samples), restarts))
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
