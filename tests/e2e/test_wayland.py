"""The program as a native Wayland client under a headless sway: the start window, the board
full screen on the start window's output, the display kept awake, the compositor going away."""
import atexit
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from broker import free_port  # noqa: E402
from checks import BoardChecks, layout, opengl_loaded  # noqa: E402
from waylandsession import USER, WaylandSession, copy_program  # noqa: E402
from xsession import as_user, wait_for  # noqa: E402

APP_ID = "org.velquarin.VelquarinControlBoard"


class Registry:
    """What the compositor announced on the program's first registry, read from its messages
    (a StoppingProxy's watch), to tell the program that an output went, or came back."""

    def __init__(self):
        self.id, self.outputs = None, []

    def __call__(self, message, from_client, proxy):
        target, opcode = struct.unpack_from("=IH", message)
        if from_client and target == 1 and opcode == 1 and self.id is None:  # wl_display.get_registry
            self.id = struct.unpack_from("=I", message, 8)[0]
        elif not from_client and target == self.id and opcode == 0 and message[16:26] == b"wl_output\0":
            self.outputs.append(message)  # wl_registry.global, in the order the outputs came
        # A key's press, Escape's (evdev code 1): wl_keyboard.key(serial, time, 1, 1).
        return proxy.armed and not from_client and opcode == 3 and message[16:] == struct.pack("=II", 1, 1)

    def output_gone(self, n):
        return struct.pack("=IHHI", self.id, 1, 12, struct.unpack_from("=I", self.outputs[n], 8)[0])


class Wayland(BoardChecks, unittest.TestCase):
    def start_window(self, session, arguments=()):
        session.start(self.BINARY, arguments=arguments)  # only WAYLAND_DISPLAY names a display: Wayland it is
        return session.wait_for_view(lambda v: v["app_id"] == APP_ID and v["rect"]["width"] < 1000, "the start window")

    def test_start_window_then_the_board_on_its_output_kept_awake_and_escape(self):
        with WaylandSession(outputs=2) as session:
            session.swaymsg("focus", "output", "HEADLESS-2")
            osc = free_port(socket.SOCK_DGRAM)
            self.start_window(session, ["--osc", str(osc)])
            # sway draws its title bar (it offers xdg-decoration): the toolkit loads no OpenGL.
            # (A view just mapped can show no border until sway has taken in its decoration.)
            window = session.wait_for_view(lambda v: v["app_id"] == APP_ID and v["border"] != "none",
                                           "the start window's border")
            self.assertEqual(window["shell"], "xdg_shell")
            self.assertEqual(window["border"], "normal", window)
            self.assertEqual(opengl_loaded(session.app.pid), [])
            self.assertGreaterEqual(window["rect"]["x"], 1920, window["rect"])
            self.assertEqual(window["idle_inhibitors"]["application"], "none")
            session.key("Return")
            board = session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
            self.assertEqual(board["app_id"], APP_ID)
            self.assertEqual((board["rect"]["x"], board["rect"]["y"], board["rect"]["width"], board["rect"]["height"]),
                             (1920, 0, 1920, 1080))
            session.shown_output = "HEADLESS-2"
            self.wait_first_frame(session, 0, 1920)
            self.assertEqual([v["idle_inhibitors"]["application"] for v in session.views()], ["enabled"])
            self.blink_changes(session, 1, 5)
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as cue:
                cue.sendto(b"/board/back-to-one\0\0,\0\0\0", ("127.0.0.1", osc))
            self.wait_first_frame(session, 0, 1920)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def show_board(self, session, output=None, display=None, users_own=None):
        """The board shown with --go (on the output named, if any), its first frame drawn; with
        the user's own toolkit variables, if any."""
        env = dict(users_own or {}, **({"WAYLAND_DISPLAY": display} if display else {}))
        session.start(self.BINARY, extra_env=env or None, arguments=["--go"] + (["--screen", output] if output else []))
        board = session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
        session.shown_output = output or session.shown_output
        self.wait_first_frame(session, 0, 1920)
        if users_own:  # the user's choice stands, and with it the toolkit's OpenGL
            self.assertNotEqual(opengl_loaded(session.app.pid), [])
        else:  # a board alone never has a title bar
            self.assertEqual(opengl_loaded(session.app.pid), [])
        return board

    def test_board_follows_its_output_through_mode_changes(self):
        with WaylandSession() as session:
            self.show_board(session, users_own={"QT_WAYLAND_DISABLE_WINDOWDECORATION": "0"})
            before = 1920
            for width, height in ((1280, 720), (2560, 1440)):
                session.swaymsg("output", "HEADLESS-1", "resolution", "%dx%d" % (width, height))
                session.wait_for_view(lambda v: (v["rect"]["width"], v["rect"]["height"]) == (width, height),
                                      "the board at %dx%d" % (width, height))
                session.wait_for(lambda: session.screenshot().width == width
                                 and self.laid_out_for(session, 0, width, height, before), 10,
                                 "the blocks laid out for %d px, none left where %d px had them" % (width, before))
                before = width
            self.assertEqual([v["idle_inhibitors"]["application"] for v in session.views()], ["enabled"])
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_board_turned_on_its_side_keeps_turned_through_a_mode_change(self):
        with WaylandSession() as session:
            session.start(self.BINARY, arguments=["--go", "--rotate", "90"])
            session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
            self.wait_turned_patterns(session, 90, (1920, 1080))
            session.swaymsg("output", "HEADLESS-1", "resolution", "1280x720")
            session.wait_for(lambda: session.screenshot().width == 1280, 10, "the output at 1280x720")
            self.wait_turned_patterns(session, 90, (1280, 720))
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_board_covers_its_output_when_it_goes_and_comes_back(self):
        with WaylandSession(nested=True) as session:
            self.show_board(session)
            session.outer.swaymsg("[app_id=wlroots]", "kill")  # the display is switched off
            session.wait_for(lambda: session.outputs_now() == [], 10, "the output to go")
            session.outer.swaymsg("output", "HEADLESS-1", "resolution", "1280x720")
            session.swaymsg("create_output")  # and on again, in another mode
            session.shown_output = "WL-2"
            session.wait_for_view(lambda v: v["fullscreen_mode"] == 1 and (v["rect"]["width"], v["rect"]["height"]) == (1280, 720),
                                  "the board covering the new output")
            session.wait_for(lambda: session.screenshot().width == 1280
                             and self.laid_out_for(session, 0, 1280, 720, 1920), 10, "the blocks laid out for 1280 px")
            shown = self.block_states(session.screenshot(), 1280, 720)
            session.wait_for(lambda: self.block_states(session.screenshot(), 1280, 720) != shown, 5, "a blink")
            self.assertEqual([v["idle_inhibitors"]["application"] for v in session.views()], ["enabled"])
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_board_goes_back_to_its_output_kept_awake_on_its_new_surface(self):
        """Told that its output went and came back, the board is shown there anew: a new view,
        full screen, the idle inhibitor on it."""
        with WaylandSession(outputs=2) as session:
            registry = Registry()
            proxy, display = session.stopping_display(registry)
            board = self.show_board(session, "HEADLESS-2", display)
            proxy.inject(registry.output_gone(1))
            proxy.inject(registry.outputs[1])
            session.wait_for_view(lambda v: v["id"] != board["id"] and v["fullscreen_mode"] == 1 and v["rect"]["x"] == 1920
                                  and v["idle_inhibitors"]["application"] == "enabled", "the board anew on HEADLESS-2, kept awake")
            self.assertEqual(len(session.views()), 1)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_board_on_an_output_without_the_focus_asks_for_the_keyboard(self):
        """Where the compositor only marks the asking window urgent (sway's own policy), the
        board is marked so, and takes Escape once the user moves there."""
        with WaylandSession(outputs=2, activation="urgent") as session:
            session.swaymsg("focus", "output", "HEADLESS-1")
            board = self.show_board(session, "HEADLESS-2")
            self.assertEqual((board["rect"]["x"], board["rect"]["width"]), (1920, 1920))
            session.wait_for_view(lambda v: v["urgent"], "the board to be marked urgent")
            session.swaymsg("focus", "output", "HEADLESS-2")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_escape_ends_the_board_of_a_compositor_that_stops_answering(self):
        """The compositor stops as Escape reaches the board: the program's own bounded waits
        end it, with 0, no signal sent."""
        with WaylandSession() as session:
            proxy, display = session.stopping_display(Registry())
            self.show_board(session, display=display)
            proxy.armed = True
            session.procs.append(subprocess.Popen(as_user(USER) + ["wtype", "-s", "300", "-k", "Escape"], env=session.env))
            session.wait_for(lambda: proxy.stopped_at, 5, "Escape to reach the board")
            self.assertEqual(session.exit_status(timeout=2), 0)

    def test_a_compositor_that_pauses_as_the_board_shows_is_asked_again_on_one_registry(self):
        """The compositor stops as the board asks for the idle inhibitor, for longer than the
        program waits, so that it asks again on its schedule: all on one registry of its own for
        the whole run (the compositor keeps every registry a client makes), and the inhibitor
        stands once the compositor is back."""
        registries = []

        def stop_at_the_program_s_registry(message, from_client, proxy):
            target, opcode = struct.unpack_from("=IH", message)
            if from_client and target == 1 and opcode == 1:  # wl_display.get_registry
                registries.append(message)
            return len(registries) == TOOLKIT_REGISTRIES + 1
        with WaylandSession() as session:
            proxy, display = session.stopping_display(stop_at_the_program_s_registry)
            proxy.pause = 3.5  # the program waits 0.5 s, and asks again 1 s and 2 s after that
            trace = os.path.join(session.home, "trace")
            with open(trace, "w"):
                os.chmod(trace, 0o666)
            session.start("/bin/sh", {"WAYLAND_DISPLAY": display, "WAYLAND_DEBUG": "client"},
                          ["-c", 'exec "$0" --go 2>>"$1"', self.BINARY, trace])
            session.wait_for(lambda: proxy.stopped_at, 20, "the compositor stopped")
            time.sleep(max(0, proxy.stopped_at + proxy.pause + 0.2 - time.monotonic()))  # it answers nobody meanwhile
            session.wait_for_view(lambda v: v["fullscreen_mode"] == 1 and v["idle_inhibitors"]["application"] == "enabled",
                                  "the board kept awake once the compositor is back", timeout=20)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            with open(trace) as f:
                lines = f.read().splitlines()
        made = [re.search(r"wl_registry@\d+", line).group() for line in lines if "-> wl_display@1.get_registry(" in line]
        bound = [line.split(".bind(")[0].split()[-1] for line in lines if '.bind(' in line and "zwp_idle_inhibit_manager_v1" in line]
        self.assertEqual((len(made), bound), (TOOLKIT_REGISTRIES + 1, made[TOOLKIT_REGISTRIES:]),
                         "the toolkit's registries and the program's own, no more, the manager bound on that one")
        said = [line for line in lines if line.startswith("velquarin")]
        self.assertEqual(said, ["velquarin-control-board: the display may blank: the compositor did not answer in time; trying again",
                                "velquarin-control-board: the display is kept awake through the compositor again"])

    def test_compositor_going_away_ends_with_failure(self):
        with WaylandSession() as session:
            self.start_window(session)
            session.procs[0].send_signal(signal.SIGKILL)
            self.assertEqual(session.exit_status(), 1)


# The registries the toolkit makes for itself as it starts, before the program's own (with
# OpenGL loaded, EGL's two more).
TOOLKIT_REGISTRIES = 1

# A configure that gives the toplevel a size and states (full screen among them).
FULL_SCREEN_CONFIGURE = re.compile(r"xdg_toplevel@\d+\.configure\(([1-9]\d*), ([1-9]\d*), array\[[1-9]\d*\]\)")


def rects(pattern, text):
    return [tuple(int(n) for n in found) for found in re.findall(pattern, text)]


class Cage(unittest.TestCase):
    """The board under the cage kiosk compositor, read from the program's own protocol trace:
    a capture of a headless cage does not follow updates, the trace tells what was sent."""

    def test_board_is_full_screen_without_decorations(self):
        root = tempfile.mkdtemp(prefix="vq-cage-")
        try:
            os.chmod(root, 0o755)
            runtime = os.path.join(root, "runtime")
            os.mkdir(runtime, 0o700)
            shutil.chown(runtime, USER)
            program = copy_program(Wayland.BINARY, root)  # cage runs it as the unprivileged account
            trace = os.path.join(root, "trace")
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": root, "XDG_RUNTIME_DIR": runtime,
                   "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1",
                   "WAYLAND_DEBUG": "client"}
            with open(trace, "w") as out:
                os.chmod(trace, 0o666)
                cage = subprocess.Popen(as_user(USER) + ["cage", "--", program, "--go"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=out)
            try:
                # The full-screen configure (a size and states), the first frame, and a tick's frame
                # drawn after that configure.
                def frames():
                    with open(trace) as f:
                        text = f.read()
                    configured = FULL_SCREEN_CONFIGURE.search(text)
                    drawn = [part for part in text.split(".commit()")[:-1] if "attach(" in part]
                    return text if configured and len(drawn) >= 2 and "attach(" in text[configured.end():] \
                        and text[configured.end():].count(".commit()") >= 1 else None
                def trace_end():
                    with open(trace) as f:
                        return "the program's protocol trace ends:\n" + f.read()[-3000:]
                text = wait_for(frames, 20, "the board's first frame and a tick under cage", trace_end)
            finally:
                subprocess.run(["pkill", "-TERM", "-P", str(cage.pid)], check=False)  # the program
                cage.wait(10)
        finally:
            shutil.rmtree(root, ignore_errors=True)

        width, height = (int(n) for n in FULL_SCREEN_CONFIGURE.search(text).groups())
        self.assertEqual(set(rects(r"set_window_geometry\((\d+), (\d+), (\d+), (\d+)\)", text)),
                         {(0, 0, width, height)})
        self.assertEqual(set(rects(r"create_buffer\(new id wl_buffer@\d+, \d+, (\d+), (\d+),", text)),
                         {(width, height)})
        # Each frame's damage: the first frame is the whole window; every later one holds blocks
        # only, each where the layout for the output's width puts it.
        frames = [rects(r"damage_buffer\((\d+), (\d+), (\d+), (\d+)\)", part)
                  for part in text.split(".commit()")[:-1] if "attach(" in part]
        self.assertGreaterEqual(len(frames), 2, text[-3000:])
        self.assertEqual(frames[0], [(0, 0, width, height)])
        blocks = set(layout(width))
        for frame in frames[1:]:
            self.assertTrue(frame and set(frame) <= blocks, frame)


if __name__ == "__main__":
    # The unprivileged account runs the program: a copy, whatever folder the tree is in (one
    # that only root may enter, such as a clone under /root).
    copies = tempfile.mkdtemp(prefix="vq-wayland-program-")
    atexit.register(shutil.rmtree, copies, True)
    os.chmod(copies, 0o755)
    BoardChecks.BINARY = copy_program(os.path.abspath(sys.argv.pop(1)), copies)
    unittest.main(verbosity=2)
