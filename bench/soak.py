#!/usr/bin/env python3
"""A long run of the board among services that come and go, as a kiosk meets them over days.

  python3 bench/soak.py [--minutes 30] [--restart 120] [--pause 180] BUILD

BUILD is a build tree with its tests (the program and the stand-in desktop services). The
board shows with --go on its own Xvfb with a window manager and a private session bus with
a stand-in ScreenSaver service and portal. Every `--restart` seconds both services are
killed and started again; every `--pause` seconds the X server stops for 2 s. Every 10 s a
sample: whether the hold is taken (the current services granted it and have not had it back,
the X screen saver stays off past its 2 s timeout), and the program's resident memory, open
files and threads. Prints one JSON line per sample, then a summary; ends with status 1 when a
sample found the hold missing or the program grew.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--restart", type=float, default=120, help="seconds between service restarts")
    parser.add_argument("--pause", type=float, default=180, help="seconds between X server pauses")
    parser.add_argument("build")
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    os.environ.setdefault("VQ_X_EVENTS", os.path.join(build, "tests", "x_events"))
    binary = os.path.join(build, "velquarin-control-board")
    helpers = [os.path.join(build, "tests", name) for name in ("fake_screensaver", "fake_portal")]

    samples, failures = [], []
    with XSession("1920x1080") as session:
        session.x("xset", "s", "2", "0")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        session.procs.append(bus)
        env = dict(session.env, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip())
        services = [Service(helper, env) for helper in helpers]
        app = session.start(binary, extra_env={"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"]},
                            arguments=["--go"])
        start = time.monotonic()
        next_restart, next_pause, next_sample = start + options.restart, start + options.pause, start + SAMPLE_S
        end = start + 60 * options.minutes
        try:
            while time.monotonic() < end and app.poll() is None:
                now = time.monotonic()
                if now >= next_restart:
                    for service in services:
                        service.restart()
                    next_restart += options.restart
                if now >= next_pause:
                    session.procs[0].send_signal(signal.SIGSTOP)
                    time.sleep(2)
                    session.procs[0].send_signal(signal.SIGCONT)
                    next_pause += options.pause
                if now >= next_sample:
                    deadline = time.monotonic() + 3  # a service just restarted is asked within this
                    while not all(s.held() for s in services) and time.monotonic() < deadline:
                        time.sleep(0.1)
                    sample = {"s": round(now - start), "services_held": all(s.held() for s in services),
                              "screen_saver_off": not session.screen_saver_on(), **usage(app.pid)}
                    samples.append(sample)
                    print(json.dumps(sample), flush=True)
                    if not (sample["services_held"] and sample["screen_saver_off"]):
                        failures.append("hold missing at %d s" % sample["s"])
                    next_sample += SAMPLE_S
                time.sleep(0.05)
            if app.poll() is not None:
                failures.append("the program ended with %s" % app.returncode)
            else:
                session.key("Escape")
                status = session.exit_status(20)
                if status != 0:
                    failures.append("Escape ended it with %s" % status)
        finally:
            for service in services:
                service.stop()
    said = [line for line in (session.stderr or b"").decode().splitlines() if line.startswith("velquarin")]
    if len(samples) >= 4:
        settled = samples[len(samples) // 4:]  # after start-up's own growth
        for key in ("rss_kib", "fds", "threads"):
            first, last, most = settled[0][key], settled[-1][key], max(s[key] for s in settled)
            print("%-8s first %7d  last %7d  most %7d" % (key, first, last, most))
            if key != "rss_kib" and most > first or key == "rss_kib" and last > first * 1.05 + 1024:
                failures.append("%s grew from %d to %d" % (key, first, last))
    print("%d samples, %d with the hold taken; %d service restarts; %d lines on standard error"
          % (len(samples), sum(s["services_held"] and s["screen_saver_off"] for s in samples),
             services[0].lives - 1, len(said)))
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
