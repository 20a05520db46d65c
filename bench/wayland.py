"""Measures a program as a native Wayland client under a headless sway (1920x1080), run as the
unprivileged account the tests use (sway refuses root).

Times come from the client's own protocol trace (WAYLAND_DEBUG=client): from the launch to
its first committed buffer (the start window), and from the Return key's arrival to the first
committed buffer of the output's size (the board). A second run, without the trace, gives
CPU per tick and memory while the board blinks.
"""
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from waylandsession import USER, WaylandSession, copy_program  # noqa: E402
from xsession import as_user, wait_for  # noqa: E402

from run import blinking  # noqa: E402

OUTPUT = (1920, 1080)
LINE = re.compile(r"^\[\s*(\d+)\.(\d+)\]\s+(->\s+)?(\S+?)@(\d+)\.(\w+)\((.*)\)$")


def trace_clock():
    """Now on the trace's clock: libwayland stamps each line with the wall clock's microseconds,
    kept in 32 bits, shown as milliseconds."""
    return (int(time.time() * 1e6) % 2 ** 32) / 1000


def since(start, stamp):
    return ((stamp - start) * 1000 % 2 ** 32) / 1000


def parse(text):
    """The trace's lines as (ms, sent, interface, id, message, arguments)."""
    for line in text.splitlines():
        found = LINE.match(line.strip())
        if found:
            stamp, fraction, sent, interface, number, message, arguments = found.groups()
            yield int(stamp) + int(fraction) / 1000, bool(sent), interface, int(number), message, arguments


def frames(text):
    """Each committed buffer as (ms, width, height), and each key pressed as (ms, None, None)."""
    sizes, attached = {}, {}
    for stamp, sent, interface, number, message, arguments in parse(text):
        if sent and message == "create_buffer":
            fields = [a.strip() for a in arguments.split(",")]
            buffer = int(fields[0].rsplit("@", 1)[1])
            sizes[buffer] = (int(fields[2]), int(fields[3]))
        elif sent and interface == "wl_surface" and message == "attach" and arguments.startswith("wl_buffer@"):
            attached[number] = sizes.get(int(arguments.split(",")[0].split("@")[1]), (0, 0))
        elif sent and interface == "wl_surface" and message == "commit" and number in attached:
            yield (stamp,) + attached.pop(number)
        elif not sent and interface == "wl_keyboard" and message == "key":
            # The first key pressed is Return (its code is the typing tool's own keymap's).
            if int(arguments.split(",")[3]) == 1:
                yield stamp, None, None


def program_copy(command, folder):
    """The command with its program, and the files it names, where the unprivileged account
    reaches them."""
    program = copy_program(command[0], folder)
    copied = [program]
    for part in command[1:]:
        if os.path.isfile(part):
            part = shutil.copy2(part, folder)
        copied.append(part)
    return copied


def timing_run(command):
    with WaylandSession() as session:
        command = program_copy(command, session.root)
        trace = os.path.join(session.root, "trace")
        with open(trace, "w") as out:
            os.chmod(trace, 0o666)
            started = trace_clock()
            session.app = subprocess.Popen(as_user(USER) + command, env=dict(session.env, WAYLAND_DEBUG="client"),
                                           cwd=session.home, stdout=subprocess.DEVNULL, stderr=out)

        def seen():
            with open(trace) as f:
                return list(frames(f.read()))
        first = wait_for(lambda: [f for f in seen() if f[1]], 30, "the first frame")[0]
        time.sleep(0.5)
        session.key("Return")

        def board():
            found = seen()
            keys = [f[0] for f in found if f[1] is None]
            if not keys:
                return None
            return [f for f in found if f[1] and f[0] >= keys[0] and f[1:] == OUTPUT] and (keys[0], found)
        key, found = wait_for(board, 30, "the board's first frame")
        board_frame = next(f for f in found if f[1] and f[0] >= key and f[1:] == OUTPUT)
        status = end(session)
        return {"first_window_ms": round(since(started, first[0]), 1),
                "return_board_ms": round(since(key, board_frame[0]), 1), "status": status}


def usage_run(command, blink):
    with WaylandSession() as session:
        command = program_copy(command, session.root)
        session.app = subprocess.Popen(as_user(USER) + command, env=session.env, cwd=session.home,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        session.wait_for_view(lambda v: v["rect"]["width"] < 1000, "the start window", timeout=30)
        time.sleep(0.5)
        session.key("Return")
        session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "the full-screen board", timeout=30)
        usage = blinking(session.app.pid, blink)  # setpriv runs the program in its own process
        usage["status"] = end(session)
        return usage


def end(session):
    """Escape, and the exit status; "hung" for a program that did not end within 10 s (Qt 6.4's
    Wayland client can wait for ever at exit for a read its event thread never took)."""
    session.key("Escape")
    try:
        return session.exit_status(10)
    except AssertionError:
        session.app.kill()
        return "hung"


def one_run(command, blink):
    result = timing_run(command)
    usage = usage_run(command, blink)
    result.update(cpu_ms_per_tick=usage["cpu_ms_per_tick"], wakeups_per_s=usage["wakeups_per_s"],
                  rss_kb=usage["rss_kb"], pss_kb=usage["pss_kb"], statuses=[result["status"], usage["status"]])
    del result["status"]
    return result
