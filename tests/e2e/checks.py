"""What a person sees, checked on screen: the start window, its picture, the board."""
import os
import time

DATA_FOLDER = "org.velquarin.Velquarin Control Board"
ROW_COLOURS = [(255, 0, 0), (255, 0, 0), (255, 255, 0), (255, 255, 0), (0, 170, 0), (0, 170, 0)]
BLACK = (0, 0, 0)


def layout(width):
    q = lambda k: width * k // 1440
    return [(q(59) + (i % 6) * q(232), q(51) + (i // 6) * q(109), q(180), q(60)) for i in range(36)]


class BoardChecks:
    """Mixin for unittest.TestCase; BINARY is the program under test."""
    BINARY = None

    def open_start_window(self, session, binary=None, scale=1, **start):
        session.start(binary or self.BINARY, **start)
        window, geometry = session.wait_for_window(lambda g: g[2] == 470 * scale, "the start window")
        if session.wm:
            session.wait_active(window)
        return window, geometry

    def go_button(self, geometry):
        x, y, width, height = geometry
        bar = height - 332  # the menu bar sits above the 470 x 332 content area
        return x + 370 + 40, y + bar + 299 + 10

    def assert_board(self, session):
        width, height = session.screen_size()
        board, _ = session.wait_for_window(lambda g: g == (0, 0, width, height), "a full-screen board")
        if session.wm:  # without one, nothing names the active window; the pointer decides
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

    def block_states(self, image, width, height):
        """Each fully visible block as True (its row colour) or False (black); None if mixed."""
        states = []
        for i, (left, top, w, h) in enumerate(layout(width)):
            if top + h > height:
                continue
            samples = {image.pixel(left + dx, top + dy) for dx in (2, w // 2, w - 3) for dy in (2, h // 2, h - 3)}
            states.append(True if samples == {ROW_COLOURS[i // 6]} else False if samples == {BLACK} else None)
        return states

    @staticmethod
    def canvas_origin(geometry):
        x, y, width, height = geometry
        return x + 11, y + height - 332 + 12

    def assert_picture_shown(self, session, geometry):
        left, top = self.canvas_origin(geometry)

        def shown():
            image = session.screenshot()
            lamp = image.pixel(left + 30, top + 150)  # the first red lamp of the picture
            gauge = image.pixel(left + 85, top + 95)  # the dark face of the first gauge
            return lamp[0] > 180 and lamp[1] < 110 and lamp[2] < 110 and max(gauge) < 60
        session.wait_for(shown, 10, "the start picture on the canvas")

    def assert_canvas_blank(self, session, geometry):
        """The canvas above the caption shows one plain colour: the window's own background."""
        left, top = self.canvas_origin(geometry)
        time.sleep(0.3)  # let a first paint land, were there one
        image = session.screenshot()
        colours = {image.pixel(left + dx, top + dy) for dx in range(5, 440, 20) for dy in range(5, 200, 20)}
        self.assertEqual(len(colours), 1, "the canvas is not blank")
