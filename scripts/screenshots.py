#!/usr/bin/env python3
"""Makes the README's screenshots from the real program on Xvfb: the start window and the board.

  python3 scripts/screenshots.py [BUILD [FOLDER]]

BUILD is a build folder holding the program and the tests' X helper (by default the one the
test command makes, build/deb/amd64/velquarin-control-board/obj-x86_64-linux-gnu); the pictures
go to FOLDER (by default docs/). Needs Xvfb, openbox, xdotool and Pillow (python3-pil), which
the test command installs.
"""
import os
import sys
import time

from PIL import Image

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
from checks import BoardChecks  # noqa: E402
from xsession import XSession  # noqa: E402


def save(path, image, left, top, width, height, scale=1):
    picture = Image.frombytes("RGB", (image.width, image.height), image.pixels)
    picture = picture.crop((left, top, left + width, top + height))
    if scale != 1:
        picture = picture.resize((width // scale, height // scale), Image.Resampling.NEAREST)
    picture.save(path, optimize=True)


class Shooter(BoardChecks):
    def assertEqual(self, a, b, message=None):
        if a != b:
            raise AssertionError(message or "%r != %r" % (a, b))

    def assertGreater(self, a, b, message=None):
        if not a > b:
            raise AssertionError(message or "%r <= %r" % (a, b))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "build", "deb", "amd64", "velquarin-control-board", "obj-x86_64-linux-gnu"))
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs")
    os.makedirs(out, exist_ok=True)
    os.environ["VQ_X_EVENTS"] = os.path.join(build, "tests", "x_events")
    for needed in (os.path.join(build, "velquarin-control-board"), os.environ["VQ_X_EVENTS"]):
        if not os.access(needed, os.X_OK):
            sys.exit("%s is missing: build with sh scripts/test.sh, or name a build folder" % needed)
    shooter = Shooter()
    shooter.BINARY = os.path.join(build, "velquarin-control-board")
    with XSession("1440x900") as session:
        session.x("xdotool", "mousemove", "1439", "899")
        window, geometry = shooter.open_start_window(session)
        shooter.assert_picture_shown(session, geometry)
        x, y, width, height = geometry
        image = session.screenshot()
        # The client area with the window manager's title bar above it.
        title = 24
        save(os.path.join(out, "start-window.png"), image, x, max(0, y - title), width, height + title)
        session.key("Return")
        shooter.assert_board(session)
        time.sleep(3.2)  # two ticks: some blocks have gone dark
        save(os.path.join(out, "board.png"), session.screenshot(), 0, 0, 1440, 900, scale=2)
        session.key("Escape")
        session.exit_status()
    print("wrote %s and %s" % (os.path.join(out, "start-window.png"), os.path.join(out, "board.png")))


if __name__ == "__main__":
    main()
