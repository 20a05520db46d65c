"""The program as a native Wayland client under a headless sway: the start window, the board
full screen on the start window's output, the display kept awake, the compositor going away."""
import os
import signal
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from waylandsession import WaylandSession  # noqa: E402

APP_ID = "org.velquarin.VelquarinControlBoard"


class Wayland(BoardChecks, unittest.TestCase):
    def start_window(self, session):
        session.start(self.BINARY)  # only WAYLAND_DISPLAY names a display: Wayland it is
        return session.wait_for_view(lambda v: v["app_id"] == APP_ID and v["rect"]["width"] < 1000, "the start window")

    def test_start_window_board_kept_awake_and_escape(self):
        with WaylandSession() as session:
            window = self.start_window(session)
            self.assertEqual(window["shell"], "xdg_shell")
            self.assertEqual(window["idle_inhibitors"]["application"], "none")
            session.key("Return")
            board = session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
            self.assertEqual(board["app_id"], APP_ID)
            self.assertEqual((board["rect"]["x"], board["rect"]["y"], board["rect"]["width"], board["rect"]["height"]),
                             (0, 0, 1920, 1080))
            self.wait_first_frame(session, 0, 1920)
            self.assertEqual([v["idle_inhibitors"]["application"] for v in session.views()], ["enabled"])
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_board_covers_the_output_of_the_start_window(self):
        with WaylandSession(outputs=2) as session:
            session.swaymsg("focus", "output", "HEADLESS-2")
            window = self.start_window(session)
            self.assertGreaterEqual(window["rect"]["x"], 1920, window["rect"])
            session.key("Return")
            board = session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
            self.assertEqual((board["rect"]["x"], board["rect"]["width"]), (1920, 1920))
            session.shown_output = "HEADLESS-2"
            self.wait_first_frame(session, 0, 1920)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_a_stop_request_stops_the_board_of_a_stopped_compositor(self):
        with WaylandSession() as session:
            session.start(self.BINARY, arguments=["--go"])
            session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")
            self.wait_first_frame(session, 0, 1920)
            compositor = session.procs[0]
            compositor.send_signal(signal.SIGSTOP)
            try:
                session.app.send_signal(signal.SIGTERM)
                self.assertEqual(session.exit_status(timeout=2), 143)
            finally:
                compositor.send_signal(signal.SIGCONT)

    def test_compositor_going_away_ends_with_failure(self):
        with WaylandSession() as session:
            self.start_window(session)
            session.procs[0].send_signal(signal.SIGKILL)
            self.assertEqual(session.exit_status(), 1)


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
