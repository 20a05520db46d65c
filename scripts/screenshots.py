#!/usr/bin/env python3
"""Makes the README's screenshots from the real program on Xvfb: the start window and the board.

  python3 scripts/screenshots.py [BINARY]    (default: build/release/velquarin-control-board)
"""
import os
import struct
import sys
import time
import zlib

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
from checks import BoardChecks  # noqa: E402
from xsession import XSession  # noqa: E402


def write_png(path, image, left, top, width, height, scale=1):
    rows = []
    for y in range(top, top + height, scale):
        row = bytearray([0])
        for x in range(left, left + width, scale):
            row.extend(image.pixel(x, y))
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width // scale, height // scale, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
                + chunk(b"IEND", b""))


class Shooter(BoardChecks):
    def assertEqual(self, a, b, message=None):
        if a != b:
            raise AssertionError(message or "%r != %r" % (a, b))

    def assertGreater(self, a, b, message=None):
        if not a > b:
            raise AssertionError(message or "%r <= %r" % (a, b))


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "release", "velquarin-control-board")
    out = os.path.join(root, "docs")
    shooter = Shooter()
    shooter.BINARY = os.path.abspath(binary)
    with XSession("1440x900") as session:
        session.x("xdotool", "mousemove", "1439", "899")
        window, geometry = shooter.open_start_window(session)
        shooter.assert_picture_shown(session, geometry)
        x, y, width, height = geometry
        image = session.screenshot()
        # The client area with the window manager's title bar above it.
        title = 24
        write_png(os.path.join(out, "start-window.png"), image, x, max(0, y - title), width, height + title)
        session.key("Return")
        shooter.assert_board(session)
        time.sleep(3.2)  # two ticks: some blocks have gone dark
        write_png(os.path.join(out, "board.png"), session.screenshot(), 0, 0, 1440, 900, scale=2)
        session.key("Escape")
        session.exit_status()
    print("wrote docs/start-window.png and docs/board.png")


if __name__ == "__main__":
    main()
