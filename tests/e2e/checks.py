"""What a person sees, checked on screen: the start window, its picture, the board."""
import os
import re
import time

DATA_FOLDER = "org.velquarin.Velquarin Control Board"
ROW_COLOURS = [(255, 0, 0), (255, 0, 0), (255, 255, 0), (255, 255, 0), (0, 170, 0), (0, 170, 0)]
BLACK = (0, 0, 0)
CAPTION = (0x66, 0xFF, 0x66)


def message(address):
    """An OSC message to the address, with no arguments."""
    return address + b"\0" * (4 - len(address) % 4) + b",\0\0\0"


def layout(width):
    q = lambda k: width * k // 1440
    return [(q(59) + (i % 6) * q(232), q(51) + (i // 6) * q(109), q(180), q(60)) for i in range(36)]


def opengl_loaded(pid):
    """The OpenGL libraries in the program's memory: EGL's Mesa driver, a DRI driver, LLVM."""
    with open("/proc/%d/maps" % pid) as maps:
        names = {line.rsplit("/", 1)[-1] for line in maps.read().splitlines() if "/" in line}
    return sorted(n for n in names if n.startswith(("libEGL_mesa", "libLLVM")) or re.match(r".*_dri\.so", n))


class BoardChecks:
    """Mixin for unittest.TestCase; BINARY is the program under test."""
    BINARY = None

    def wait_state(self, states, state, timeout=10):
        """The state the board published last, once it is `state` (states: a broker's LineReader)."""
        end = time.monotonic() + timeout
        while not (states.lines and states.lines[-1] == state):
            self.assertLess(time.monotonic(), end, "the board's state is not %r: %r" % (state, states.lines))
            states.read(0.1)

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
        """The board covers the screen alone, drawn right. Its first frame, before the first tick
        at 1.4 s can change it, shows every block lit."""
        width, height = session.screen_size()
        board, _ = session.wait_for_window(lambda g: g == (0, 0, width, height), "a full-screen board")
        if session.wm:  # without one, nothing names the active window; the pointer decides
            session.wait_active(board)
        session.wait_for_only_window(board)

        def drawn_board():
            taken = time.monotonic()
            image = session.screenshot()
            states = self.block_states(image, width, height)
            edges_black = all(image.pixel(left, top) == BLACK for left, top, _, _ in layout(width) if top < height)
            if None in states or not edges_black or image.pixel(width // 2, height - 2) != BLACK \
                    or image.pixel(1, 1) != BLACK:
                return None
            return taken, states

        taken, states = session.wait_for(drawn_board, 10, "the board's pixels")
        if taken - session.acted_at < 1.3:
            self.assertEqual(states, [True] * len(states), "the first frame did not show every block")
        else:  # slow (valgrind): a tick may have come first, and one leaves at least two blocks lit
            self.assertGreaterEqual(sum(states), 2)
        return board

    def assert_data_folder_empty(self, session):
        folder = os.path.join(session.home, ".local", "share", DATA_FOLDER)
        self.assertTrue(os.path.isdir(folder), folder)
        self.assertEqual(os.listdir(folder), [])

    def block_states(self, image, width, height, x=0, turn=0):
        """Each fully visible block as True (its row colour) or False (black); None if mixed.
        The board is `width` pixels wide at x on the screen; turned (--rotate), `width` and
        `height` are the board's seen upright."""
        def pixel(px, py):
            place = {0: (px, py), 90: (height - 1 - py, px), 180: (width - 1 - px, height - 1 - py),
                     270: (py, width - 1 - px)}[turn]
            return image.pixel(x + place[0], place[1])
        states = []
        for i, (left, top, w, h) in enumerate(layout(width)):
            if top + h > height:
                continue
            samples = {pixel(left + dx, top + dy) for dx in (2, w // 2, w - 3) for dy in (2, h // 2, h - 3)}
            states.append(True if samples == {ROW_COLOURS[i // 6]} else False if samples == {BLACK} else None)
        return states

    def wait_turned_patterns(self, session, turn, screen, x=0, count=3):
        """Waits for `count` different patterns of the board turned `turn` degrees on a screen of
        this size at x: every block in its row's colour or black where the layout for the width
        seen turned puts it (the first frame, then a tick's changes)."""
        width, height = screen if turn % 180 == 0 else screen[::-1]
        patterns = []

        def blinked():
            states = self.block_states(session.screenshot(), width, height, x, turn)
            if None not in states and len(states) == 36 and any(states) and states not in patterns:
                patterns.append(states)
            return len(patterns) >= count
        session.wait_for(blinked, 15, "the board turned %d to show %d patterns" % (turn, count))

    def laid_out_for(self, session, x, width, height, before):
        """The board at x, width x height: every block where the layout for width puts it, each
        its row's colour or black, and black where the layout for the width before had blocks
        and the new one has none."""
        image = session.screenshot()
        if None in self.block_states(image, width, height, x):
            return False
        blocks = layout(width)
        inside = lambda px, py: any(l <= px < l + w and t <= py < t + h for l, t, w, h in blocks)
        return all(image.pixel(x + l + w // 2, t + h // 2) == BLACK for l, t, w, h in layout(before)
                   if l + w // 2 < width and t + h // 2 < height and not inside(l + w // 2, t + h // 2))

    def wait_first_frame(self, session, left, width, scale=1):
        """Waits for the board's first frame on a monitor at x = left, `width` device pixels
        wide: every block lit in its row's colour, as before the first tick 1.4 s after GO."""
        height = session.screen_size()[1]

        def lit():
            image = session.screenshot()
            every = all(image.pixel(left + scale * (l + w // 2), scale * (t + h // 2)) == ROW_COLOURS[i // 6]
                        for i, (l, t, w, h) in enumerate(layout(width // scale)) if scale * (t + h) <= height)
            return image if every else None
        return session.wait_for(lit, 5, "the board's first frame")

    def next_patterns(self, session, count, timeout=15):
        """The board's next `count` patterns (which blocks are lit), each once it was the same on
        two screenshots in a row; and when the first was first seen: once the screenshot that
        showed it was taken, a moment that cannot come before the change, however slow the
        screenshot under load."""
        width, height = session.screen_size()
        patterns, first_at, previous, seen_at = [], None, None, None
        end = time.monotonic() + timeout
        current = self.block_states(session.screenshot(), width, height)
        while len(patterns) < count:
            self.assertLess(time.monotonic(), end, "the board showed %d new patterns, not %d" % (len(patterns), count))
            states = self.block_states(session.screenshot(), width, height)
            taken = time.monotonic()
            self.assertNotIn(None, states, "a block was neither its colour nor black")
            if states == previous and states != current:
                patterns.append(states)
                current = states
                first_at = first_at or seen_at
            if states != previous:
                seen_at = taken
            previous = states
            time.sleep(0.05)
        return patterns, first_at

    def blink_changes(self, session, count, timeout, x=0, size=None):
        """Watches the board (at x, `size` or the screen's size) until it has changed `count`
        times: each change as the span of time (earliest, latest) in which it happened. Every
        pattern seen must be a right one."""
        width, height = size or session.screen_size()
        changes = []
        previous, seen_at = None, None
        end = time.monotonic() + timeout
        while len(changes) < count:
            self.assertLess(time.monotonic(), end, "the board changed %d times, not %d" % (len(changes), count))
            taken = time.monotonic()
            states = self.block_states(session.screenshot(), width, height, x)
            self.assertNotIn(None, states, "a block was neither its colour nor black")
            if previous is not None and states != previous:
                self.assertLessEqual(sum(a != b for a, b in zip(previous, states)), 34)
                changes.append((seen_at, taken))
            previous, seen_at = states, taken
            time.sleep(0.05)
        return changes

    @staticmethod
    def canvas_origin(geometry):
        x, y, width, height = geometry
        return x + 11, y + height - 332 + 12

    def assert_picture_shown(self, session, geometry, turn=0):
        """The start picture on the canvas; turned 90 degrees clockwise (--rotate 90), the
        window's geometry is the turned one."""
        x, y, width, height = geometry
        left, top = self.canvas_origin((0, 0, height, width) if turn == 90 else (0, 0, width, height))

        def at(image, dx, dy):  # a point of the upright window
            return image.pixel(x + width - 1 - (top + dy), y + left + dx) if turn == 90 else \
                image.pixel(x + left + dx, y + top + dy)

        def shown():
            image = session.screenshot()
            lamp = at(image, 30, 150)  # the first red lamp of the picture
            gauge = at(image, 85, 95)  # the dark face of the first gauge
            return lamp[0] > 180 and lamp[1] < 110 and lamp[2] < 110 and max(gauge) < 60
        session.wait_for(shown, 10, "the start picture on the canvas")

    def assert_canvas_blank(self, session, geometry):
        """The canvas above the caption shows one plain colour: the window's own background."""
        left, top = self.canvas_origin(geometry)

        def caption_drawn():  # the caption lies on the canvas: once it shows, the canvas is painted
            image = session.screenshot()
            return image if any(image.pixel(left + dx, top + dy) == CAPTION
                                for dx in range(100, 346) for dy in range(220, 250)) else None
        image = session.wait_for(caption_drawn, 10, "the caption")
        colours = {image.pixel(left + dx, top + dy) for dx in range(5, 440, 20) for dy in range(5, 200, 20)}
        self.assertEqual(len(colours), 1, "the canvas is not blank")
