"""The board under a headless GNOME session, started at login from an autostart entry: in
front of the overview GNOME opens as the session starts, with the keyboard, and kept awake
through GNOME's own services; natively on Wayland and through XWayland."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from gnomesession import GnomeSession  # noqa: E402


class Gnome(BoardChecks, unittest.TestCase):
    def test_board_started_at_login_comes_to_the_front_kept_awake(self):
        for platform, environment in (("wayland", ""), ("xcb", "QT_QPA_PLATFORM=xcb")):
            with self.subTest(platform=platform), GnomeSession(self.BINARY, os.environ["GNOME_PROBE"], environment) as session:
                session.wait_for(session.board, 60, "the board started at login")
                session.wait_for(lambda: not session.overview_active(), 10, "the overview to close")
                # A notice of the session's own may stand over the board for a few seconds.
                session.wait_for(lambda: self.laid_out_for(session, 0, 1920, 1080, 1920), 20,
                                 "the board in front, covering the monitor")
                self.assertTrue(session.idle_inhibited())
                session.key("0xff1b")  # Escape, once
                self.assertEqual(session.exit_status(), 0)
                self.assertFalse(session.idle_inhibited())


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
