"""End to end on a real X server: the real program, a window manager, real keys and clicks."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from xsession import XSession  # noqa: E402

BINARY = None
DATA_FOLDER = "org.velquarin.Velquarin Control Board"
ROW_COLOURS = [(255, 0, 0), (255, 0, 0), (255, 255, 0), (255, 255, 0), (0, 170, 0), (0, 170, 0)]
BLACK = (0, 0, 0)


def layout(width):
    q = lambda k: width * k // 1440
    return [(q(59) + (i % 6) * q(232), q(51) + (i // 6) * q(109), q(180), q(60)) for i in range(36)]


class Desktop(unittest.TestCase):
    def open_start_window(self, session, binary=None):
        session.start(binary or BINARY)
        window, geometry = session.wait_for_window(lambda g: g[2] == 470, "the start window")
        session.wait_active(window)
        return window, geometry

    def go_button(self, geometry):
        x, y, width, height = geometry
        bar = height - 332  # the menu bar sits above the 470 x 332 content area
        return x + 370 + 40, y + bar + 299 + 10

    def assert_board(self, session):
        width, height = session.screen_size()
        board, _ = session.wait_for_window(lambda g: g == (0, 0, width, height), "a full-screen board")
        session.wait_active(board)
        self.assertEqual(session.visible_windows(), [session.visible_windows()[0]], "one window only")

        def board_right():
            image = session.screenshot()
            for i, (left, top, w, h) in enumerate(layout(width)):
                if top + h > height:
                    continue
                samples = {image.pixel(left + dx, top + dy)
                           for dx in (2, w // 2, w - 3) for dy in (2, h // 2, h - 3)}
                # A block shows its row's colour or, once blinking, is wholly black.
                if samples not in ({ROW_COLOURS[i // 6]}, {BLACK}):
                    return False
                if image.pixel(left, top) != BLACK:  # the one-pixel black border
                    return False
            return image.pixel(width // 2, height - 2) == BLACK and image.pixel(1, 1) == BLACK

        session.wait_for(board_right, 10, "the board's pixels")
        image = session.screenshot()
        shown = sum(image.pixel(l + w // 2, t + h // 2) != BLACK for l, t, w, h in layout(width) if t + h <= height)
        self.assertGreater(shown, 0)

    def assert_data_folder_empty(self, session):
        folder = os.path.join(session.home, ".local", "share", DATA_FOLDER)
        self.assertTrue(os.path.isdir(folder), folder)
        self.assertEqual(os.listdir(folder), [])

    def test_return_opens_board_on_1440x900(self):
        with XSession("1440x900") as session:
            _, geometry = self.open_start_window(session)
            self.assert_picture_shown(session, geometry)
            session.key("Return")
            self.assert_board(session)
            session.key("ctrl+q")
            self.assertEqual(session.exit_status(), 0)
            self.assert_data_folder_empty(session)

    def test_click_on_go_opens_board_on_1920x1080(self):
        with XSession("1920x1080") as session:
            _, geometry = self.open_start_window(session)
            session.click(*self.go_button(geometry))
            self.assert_board(session)
            session.key("ctrl+q")
            self.assertEqual(session.exit_status(), 0)

    def block_states(self, image, width, height):
        """Each fully visible block as True (its row colour) or False (black); None if mixed."""
        states = []
        for i, (left, top, w, h) in enumerate(layout(width)):
            if top + h > height:
                continue
            samples = {image.pixel(left + dx, top + dy) for dx in (2, w // 2, w - 3) for dy in (2, h // 2, h - 3)}
            states.append(True if samples == {ROW_COLOURS[i // 6]} else False if samples == {BLACK} else None)
        return states

    def test_board_blinks_other_keys_keep_it_and_escape_quits(self):
        with XSession("1440x900") as session:
            self.open_start_window(session)
            session.key("Return")
            self.assert_board(session)
            patterns = []
            end = time.monotonic() + 5.0  # more than three ticks of 1.4 s
            while time.monotonic() < end:
                states = self.block_states(session.screenshot(), 1440, 900)
                self.assertNotIn(None, states, "a block was neither its colour nor black")
                if not patterns or states != patterns[-1]:
                    patterns.append(states)
                time.sleep(0.2)
            self.assertGreaterEqual(len(patterns), 3, "the board did not blink")
            for before, after in zip(patterns, patterns[1:]):
                self.assertLessEqual(sum(a != b for a, b in zip(before, after)), 34)
            for key in ("a", "space", "Return", "Left", "Down", "F2"):
                session.key(key)
            time.sleep(0.5)
            self.assertIsNone(session.app.poll(), "a key other than Escape ended the program")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def assert_picture_shown(self, session, geometry):
        x, y, width, height = geometry
        left, top = x + 11, y + height - 332 + 12

        def shown():
            image = session.screenshot()
            lamp = image.pixel(left + 30, top + 150)  # the first red lamp of the picture
            gauge = image.pixel(left + 85, top + 95)  # the dark face of the first gauge
            return lamp[0] > 180 and lamp[1] < 110 and lamp[2] < 110 and max(gauge) < 60
        session.wait_for(shown, 10, "the start picture on the canvas")

    def test_start_window_shows_the_picture_from_an_installed_tree(self):
        build = os.path.dirname(BINARY)
        prefix = tempfile.mkdtemp(prefix="vq-e2e-prefix-")
        try:
            subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, capture_output=True)
            installed = os.path.join(prefix, "bin", "velquarin-control-board")
            with XSession("1440x900") as session:
                _, geometry = self.open_start_window(session, installed)
                self.assert_picture_shown(session, geometry)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
        finally:
            shutil.rmtree(prefix, ignore_errors=True)

    def test_start_window_quits_with_zero(self):
        for how in ("Escape", "ctrl+q", "click Quit", "alt+F4"):
            with self.subTest(how=how), XSession("1440x900") as session:
                _, (x, y, width, height) = self.open_start_window(session)
                # As a person would: act once the window is there to see.
                self.assert_picture_shown(session, (x, y, width, height))
                if how == "click Quit":
                    session.click(x + 278 + 40, y + height - 332 + 299 + 10)
                else:
                    session.key(how)
                self.assertEqual(session.exit_status(), 0)
                self.assert_data_folder_empty(session)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
