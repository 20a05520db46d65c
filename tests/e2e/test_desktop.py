"""End to end on a real X server: the real program, a window manager, real keys and clicks."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from xsession import XSession  # noqa: E402

class Desktop(BoardChecks, unittest.TestCase):
    def test_return_opens_the_board_which_blinks_keeps_other_keys_and_escape_quits(self):
        with XSession("1440x900") as session:
            _, geometry = self.open_start_window(session)
            self.assert_picture_shown(session, geometry)
            session.key("Return")
            self.assert_board(session)
            changes = self.blink_changes(session, 3, 10)
            # One tick every 1.4 s; a tick that changes nothing leaves a gap of two or three.
            for (early, late), (next_early, next_late) in zip(changes, changes[1:]):
                shortest, longest = next_early - late, next_late - early
                self.assertTrue(any(shortest - 0.1 <= 1.4 * k <= longest + 0.1 for k in (1, 2, 3)),
                                "changes %.2f to %.2f s apart" % (shortest, longest))
            for key in ("a", "space", "Return", "Left", "Down", "F2"):
                session.key(key)
            self.blink_changes(session, 1, 5)  # the keys are in; it still blinks
            self.assertIsNone(session.app.poll(), "a key other than Escape ended the program")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assert_data_folder_empty(session)

    def test_installed_tree_moved_and_renamed_shows_the_picture_and_go_opens_the_board(self):
        build = os.path.dirname(self.BINARY)
        folder = tempfile.mkdtemp(prefix="vq-e2e-prefix-")
        try:
            prefix = os.path.join(folder, "installed")
            subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, capture_output=True)
            moved = os.path.join(folder, "moved")
            os.rename(prefix, moved)
            installed = os.path.join(moved, "bin", "board")
            os.rename(os.path.join(moved, "bin", "velquarin-control-board"), installed)
            with XSession("1920x1080") as session:
                _, geometry = self.open_start_window(session, installed)
                self.assert_picture_shown(session, geometry)
                session.click(*self.go_button(geometry))
                self.assert_board(session)
                session.key("ctrl+q")
                self.assertEqual(session.exit_status(), 0)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_start_window_quits_with_zero(self):
        for how in ("Escape", "ctrl+q", "click Quit", "close request"):
            with self.subTest(how=how), XSession("1440x900") as session:
                window, (x, y, width, height) = self.open_start_window(session)
                # As a person would: act once the window is there to see.
                self.assert_picture_shown(session, (x, y, width, height))
                if how == "click Quit":
                    session.click(x + 278 + 40, y + height - 332 + 299 + 10)
                elif how == "close request":
                    # What Alt+F4 or the frame's menu makes the window manager send; asked of the
                    # window manager directly, as the key went astray under load now and then.
                    session.x("wmctrl", "-i", "-c", str(window))
                else:
                    session.key(how)
                self.assertEqual(session.exit_status(), 0)
                self.assert_data_folder_empty(session)


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
