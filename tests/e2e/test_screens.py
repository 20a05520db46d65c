"""The board on real screens: no window manager, two monitors, the hidden pointer, a 2x scale,
monitors that change their mode, go and come back."""
import ctypes
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BLACK, ROW_COLOURS, BoardChecks, layout  # noqa: E402
from xsession import XSession  # noqa: E402


def cursor_is_blank(display):
    """Whether the pointer's current image (XFixes) has no visible pixel."""
    class CursorImage(ctypes.Structure):
        _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                    ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                    ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                    ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]
    x11 = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display.encode())
    try:
        image = xfixes.XFixesGetCursorImage(dpy)
        if not image:
            raise RuntimeError("XFixes gave no cursor image")
        img = image.contents
        visible = any((img.pixels[i] >> 24) & 0xFF for i in range(img.width * img.height))
        x11.XFree(image)
        return not visible
    finally:
        x11.XCloseDisplay(dpy)


class Screens(BoardChecks, unittest.TestCase):
    def test_bare_x_server_without_window_manager_and_the_pointer_hidden_from_the_first_frame(self):
        with XSession("1440x900", wm=False) as session:
            session.x("xdotool", "mousemove", "700", "450")
            _, geometry = self.open_start_window(session)
            self.assert_picture_shown(session, geometry)  # drawn, so it has taken the focus too
            self.assertFalse(cursor_is_blank(session.display), "the pointer was hidden already")
            session.key("Return")  # the pointer does not move from here on
            self.assert_board(session)
            session.wait_for(lambda: cursor_is_blank(session.display), 2, "the pointer to vanish")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_turned_for_a_screen_on_its_side_or_upside_down(self):
        """--rotate: at each angle the board laid out for the width seen turned, each block in its
        row's colour where the turned layout puts it; turned 90, a click on GO where it is drawn
        opens the board."""
        for turn in (0, 90, 180, 270):
            with self.subTest(turn=turn), XSession("1920x1080") as session:
                if turn == 90:
                    session.start(self.BINARY, arguments=["--rotate", "90"])
                    window, (x, y, w, h) = session.wait_for_window(lambda g: g[3] == 470, "the turned start window")
                    session.wait_active(window)
                    self.assert_picture_shown(session, (x, y, w, h), turn=90)
                    go_x, go_y = 370 + 40, w - 332 + 299 + 10  # upright, under the menu bar
                    session.click(x + w - 1 - go_y, y + go_x)
                else:
                    session.start(self.BINARY, arguments=["--go", "--rotate", str(turn)])
                session.wait_for_window(lambda g: g == (0, 0, 1920, 1080), "a full-screen board")
                self.wait_turned_patterns(session, turn, (1920, 1080))
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)

    def test_board_opens_on_the_monitor_of_the_start_window(self):
        with XSession("3840x1080") as session:
            session.x("xrandr", "--setmonitor", "LEFT", "1920/508x1080/286+0+0", "none")
            session.x("xrandr", "--setmonitor", "RIGHT", "1920/508x1080/286+1920+0", "none")
            session.x("xdotool", "mousemove", "2880", "540")
            window, _ = self.open_start_window(session)
            session.x("xdotool", "windowmove", "--sync", str(window), "2500", "300")
            _, geometry = session.wait_for_window(lambda g: g[2] == 470 and g[0] >= 1920, "the start window on the right")
            self.assert_picture_shown(session, geometry)
            session.key("Return")
            board, _ = session.wait_for_window(lambda g: g == (1920, 0, 1920, 1080), "a board covering the right monitor")
            self.wait_first_frame(session, 1920, 1920)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_sharp_at_twice_the_pixels(self):
        with XSession("1920x1080") as session:
            self.open_start_window(session, scale=2, extra_env={"QT_SCALE_FACTOR": "2"})
            session.key("Return")
            session.wait_for_window(lambda g: g == (0, 0, 1920, 1080), "a full-screen board")
            image = self.wait_first_frame(session, 0, 1920, scale=2)
            # Laid out in logical pixels (960 wide), drawn in device pixels: every pixel along a
            # row of blocks is black or the row's colour, never a blend of both.
            for row in range(0, 6):
                left, top, w, h = layout(960)[row * 6]
                y = 2 * (top + h // 2)
                colours = {image.pixel(x, y) for x in range(0, 1920)}
                self.assertEqual(colours, {BLACK, ROW_COLOURS[row]}, "blended pixels in row %d" % row)
                # Each block's left border is one logical pixel: two device pixels of black.
                self.assertEqual(image.pixel(2 * left, y), BLACK)
                self.assertEqual(image.pixel(2 * left + 1, y), BLACK)
                self.assertEqual(image.pixel(2 * left + 2, y), ROW_COLOURS[row])
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    # -- monitors that change under the program (the dummy video driver), with and without a
    # window manager: without one, nobody but the program fits its windows to what is left.
    def show_board(self, session, monitor):
        session.start(self.BINARY, arguments=["--go", "--screen", monitor])
        x, _, width, height = session.monitors()[monitor]
        session.wait_for_window(lambda g: g == (x, 0, width, height), "a board covering " + monitor)
        self.wait_first_frame(session, x, width)

    def assert_covers(self, session, monitor, before):
        x, y, width, height = session.monitors()[monitor]
        session.wait_for_window(lambda g: g == (x, y, width, height), "the board covering %s at %dx%d" % (monitor, width, height))
        session.wait_for(lambda: self.laid_out_for(session, x, width, height, before), 10,
                         "the blocks laid out for %d px, none left where %d px had them" % (width, before))
        return width

    def test_board_follows_its_monitor_through_mode_changes_and_moves_to_a_monitor_there_is(self):
        for wm in (True, False):
            with self.subTest(window_manager=wm), XSession("1920x1080", wm=wm, dummy=True) as session:
                session.x("xset", "s", "2", "0")
                idle_since = time.monotonic()
                for mode in ("1600x900", "1280x720"):
                    session.xrandr("--addmode", "DUMMY1", mode)
                session.xrandr("--output", "DUMMY1", "--mode", "1600x900", "--right-of", "DUMMY0")
                self.show_board(session, "DUMMY1")
                session.xrandr("--output", "DUMMY1", "--mode", "1280x720")  # its mode changes
                before = self.assert_covers(session, "DUMMY1", 1600)
                session.xrandr("--output", "DUMMY1", "--off")  # its monitor goes
                before = self.assert_covers(session, "DUMMY0", before)
                # and comes back in another mode (a television's fallback): the board goes back
                session.xrandr("--output", "DUMMY1", "--mode", "1600x900", "--right-of", "DUMMY0")
                self.assert_covers(session, "DUMMY1", before)
                self.blink_changes(session, 1, 5, x=1920, size=(1600, 900))
                time.sleep(max(0.0, idle_since + 3 - time.monotonic()))  # no input: the saver is due
                self.assertFalse(session.screen_saver_on(), "the screen saver came on over the board")
                session.x("xdotool", "mousemove", "--sync", "2500", "300")  # over the board, not DUMMY0
                session.wait_for(lambda: cursor_is_blank(session.display), 2, "the pointer hidden over the board")
                self.assertEqual(len(session.visible_windows()), 1, session.seen())
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)

    def test_start_window_stays_whole_when_its_monitor_goes(self):
        for wm in (True, False):
            with self.subTest(window_manager=wm), XSession("1920x1080", wm=wm, dummy=True) as session:
                session.xrandr("--addmode", "DUMMY1", "1280x720")
                session.xrandr("--output", "DUMMY1", "--mode", "1280x720", "--right-of", "DUMMY0")
                window, _ = self.open_start_window(session, arguments=["--screen", "DUMMY1"])
                session.wait_for_window(lambda g: g[0] > 1920, "the start window on DUMMY1")
                session.xrandr("--output", "DUMMY1", "--off")
                _, geometry = session.wait_for_window(
                    lambda g: g[0] >= 0 and g[1] >= 0 and g[0] + g[2] <= 1920 and g[1] + g[3] <= 1080,
                    "the start window whole on DUMMY0")
                self.assert_picture_shown(session, geometry)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
