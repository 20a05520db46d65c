"""The program built for another machine (arm64), run under qemu-user on real display servers:
the start window and the board on X, the board kept awake under Wayland, the version.

Usage: test_emulated.py EMULATOR BINARY"""
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from waylandsession import WaylandSession, copy_program  # noqa: E402
from xsession import XSession  # noqa: E402


class Emulated(BoardChecks, unittest.TestCase):
    EMULATOR = None

    def test_version(self):
        result = subprocess.run([self.EMULATOR, self.BINARY, "--version"], capture_output=True, text=True, timeout=60)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "velquarin-control-board 1.1.0\n", ""))

    def test_start_window_board_blink_and_escape_on_x(self):
        with XSession("1440x900") as session:
            _, geometry = self.open_start_window(session, wrapper=[self.EMULATOR])
            self.assert_picture_shown(session, geometry)
            session.key("Return")
            self.assert_board(session)
            self.blink_changes(session, 1, 5)
            session.key("Escape")
            self.assertEqual(session.exit_status(timeout=30), 0)

    def test_board_kept_awake_under_wayland(self):
        with WaylandSession() as session:
            program = copy_program(self.BINARY, session.root)  # the compositor's account runs it
            session.start(shutil.which(self.EMULATOR), arguments=[program, "--go"])
            session.wait_for_view(lambda v: v["fullscreen_mode"] == 1, "a full-screen board")

            def drawn():
                states = self.block_states(session.screenshot(), 1920, 1080)
                return None not in states and any(states)
            session.wait_for(drawn, 15, "the board drawn")
            self.assertEqual([v["idle_inhibitors"]["application"] for v in session.views()], ["enabled"])
            session.key("Escape")
            self.assertEqual(session.exit_status(timeout=30), 0)

if __name__ == "__main__":
    Emulated.EMULATOR = sys.argv.pop(1)
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
