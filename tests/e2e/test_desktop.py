"""End to end on a real X server: the real program, a window manager, real keys and clicks."""
import os
import sys
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
    def open_start_window(self, session):
        session.start(BINARY)
        return session.wait_for_window(lambda g: g[2] == 470, "the start window")

    def go_button(self, geometry):
        x, y, width, height = geometry
        bar = height - 332  # the menu bar sits above the 470 x 332 content area
        return x + 370 + 40, y + bar + 299 + 10

    def assert_board(self, session):
        width, height = session.screen_size()
        session.wait_for_window(lambda g: g == (0, 0, width, height), "a full-screen board")
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
            self.open_start_window(session)
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

    def test_start_window_quits_with_zero(self):
        for how in ("Escape", "ctrl+q", "click Quit", "alt+F4"):
            with self.subTest(how=how), XSession("1440x900") as session:
                _, (x, y, width, height) = self.open_start_window(session)
                if how == "click Quit":
                    session.click(x + 278 + 40, y + height - 332 + 299 + 10)
                else:
                    session.key(how)
                self.assertEqual(session.exit_status(), 0)
                self.assert_data_folder_empty(session)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
