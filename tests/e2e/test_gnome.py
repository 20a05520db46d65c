"""The board under a headless GNOME session, started at login from an autostart entry: in
front of the overview GNOME opens as the session starts, with the keyboard, and kept awake
through GNOME's own services; natively on Wayland and through XWayland."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import CAPTION, BoardChecks, opengl_loaded  # noqa: E402
from gnomesession import GnomeSession  # noqa: E402


class Gnome(BoardChecks, unittest.TestCase):
    def test_board_started_at_login_comes_to_the_front_kept_awake(self):
        """...and gives its holds back at Escape, while it still runs. Started by the user later
        in the session, an overview the user opens while the board shows is left open."""
        for platform, environment in (("wayland", ""), ("xcb", "QT_QPA_PLATFORM=xcb")):
            with self.subTest(platform=platform), GnomeSession(self.BINARY, os.environ["GNOME_PROBE"], environment) as session:
                def overview_opened():
                    try:
                        return session.overview_active()
                    except AssertionError:  # the shell not on the bus yet
                        return False
                session.wait_for(overview_opened, 60, "the overview GNOME opens at login")
                session.let_start()
                session.wait_for(session.board, 20, "the board started at login")
                session.wait_for(lambda: not session.overview_active(), 10, "the overview to close")
                # A notice of the session's own may stand over the board for a few seconds.
                session.wait_for(lambda: self.laid_out_for(session, 0, 1920, 1080, 1920), 20,
                                 "the board in front, covering the monitor")
                self.assertTrue(session.idle_inhibited())
                calls = session.watch_calls("UnInhibit", "Close")
                session.key("0xff1b")  # Escape, once
                # gnome-session drops the holds of a program that has left: the program's own
                # give-backs are looked for on the bus.
                calls.wait_for("method call", 10)
                calls.drain(0.5)
                made = [line for line in calls.lines if line.startswith("method call")]
                self.assertTrue(any("interface=org.freedesktop.ScreenSaver; member=UnInhibit" in line for line in made), made)
                self.assertTrue(any("interface=org.freedesktop.portal.Request; member=Close" in line for line in made), made)
                self.assertEqual(session.exit_status(), 0)
                self.assertFalse(session.idle_inhibited())
                if platform != "wayland":
                    continue
                program = session.start()

                def start_window_drawn():  # its caption, on its picture, wherever GNOME placed it
                    image = session.screenshot()
                    return any(image.pixel(x, y) == CAPTION for x in range(0, image.width, 3)
                               for y in range(0, image.height, 3))
                session.wait_for(start_window_drawn, 20, "the start window")
                # GNOME draws no title bars: the toolkit draws the start window's, with its OpenGL.
                self.assertNotEqual(opengl_loaded(session.board()), [])
                session.key("0xff0d")  # Return: GO
                session.wait_for(lambda: self.laid_out_for(session, 0, 1920, 1080, 1920), 20, "the board, after GO")
                time.sleep(3)
                session.call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Set",
                             "org.gnome.Shell", "OverviewActive", "<true>")
                session.wait_for(session.overview_active, 5, "the overview the user opened")
                time.sleep(3)
                self.assertTrue(session.overview_active(), "the overview the user opened was closed")
                program.terminate()
                self.assertEqual(program.wait(10), 143)


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
