"""The program among the desktop's services: an installed tree, the screen kept awake."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from xsession import LineReader, XSession  # noqa: E402

FAKE_SCREENSAVER = None
FAKE_PORTAL = None
APP_ID = "org.velquarin.VelquarinControlBoard"


class Integration(BoardChecks, unittest.TestCase):
    def test_desktop_screen_saver_is_inhibited_while_the_board_shows(self):
        with XSession("1440x900") as session:
            bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            session.procs.append(bus)
            address = bus.stdout.readline().decode().strip()
            self.assertTrue(address, "no session bus")
            env = {"DBUS_SESSION_BUS_ADDRESS": address}
            saver = subprocess.Popen([FAKE_SCREENSAVER], env=dict(session.env, **env), stdout=subprocess.PIPE)
            session.procs.append(saver)
            calls = LineReader(saver.stdout)
            calls.wait_for("ready")
            portal = subprocess.Popen([FAKE_PORTAL], env=dict(session.env, **env), stdout=subprocess.PIPE)
            session.procs.append(portal)
            portal_calls = LineReader(portal.stdout)
            portal_calls.wait_for("ready")

            _, geometry = self.open_start_window(session, extra_env=env)
            self.assert_picture_shown(session, geometry)
            self.assertEqual(calls.drain() + portal_calls.drain(), [], "asked before the board showed")
            session.key("Return")
            board = self.assert_board(session)
            inhibit = calls.wait_for("Inhibit ")
            self.assertIn("Velquarin Control Board", inhibit)
            cookie = inhibit.rsplit("-> ", 1)[1]
            request = portal_calls.wait_for("PortalInhibit ")
            self.assertIn("window=x11:%x flags=8 reason=Showing the control board -> " % board, request)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertEqual(calls.wait_for("UnInhibit "), "UnInhibit " + cookie)
            self.assertEqual(portal_calls.wait_for("Close "), "Close " + request.rsplit("-> ", 1)[1])

    def test_a_session_bus_without_the_service_changes_nothing(self):
        with XSession("1440x900") as session:
            bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            session.procs.append(bus)
            env = {"DBUS_SESSION_BUS_ADDRESS": bus.stdout.readline().decode().strip()}
            self.open_start_window(session, extra_env=env)
            session.key("Return")
            self.assert_board(session)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)

    def test_x_screen_saver_does_not_blank_the_board(self):
        with XSession("1440x900") as session:
            session.x("xset", "s", "3", "0")
            session.x("xset", "s", "blank")
            # The fault is real: left alone, the screen saver comes on within a few seconds.
            session.x("xdotool", "mousemove", "5", "5")
            self.assertFalse(session.screen_saver_on())
            session.wait_for(session.screen_saver_on, 10, "the X screen saver")
            session.x("xdotool", "mousemove", "10", "10")  # wakes the screen again
            session.wait_for(lambda: not session.screen_saver_on(), 5, "the screen to wake")

            self.open_start_window(session)
            session.key("Return")
            self.assert_board(session)
            for _ in range(12):  # twice the saver's timeout, without input
                time.sleep(0.5)
                self.assertFalse(session.screen_saver_on(), "the screen saver came on over the board")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            # Once the program is gone, blanking works again.
            session.wait_for(session.screen_saver_on, 10, "blanking to resume")

    def test_installed_tree_has_valid_desktop_entry_metainfo_and_icons(self):
        prefix = tempfile.mkdtemp(prefix="vq-install-")
        try:
            subprocess.run(["cmake", "--install", os.path.dirname(self.BINARY), "--prefix", prefix],
                           check=True, capture_output=True)
            share = os.path.join(prefix, "share")
            desktop = os.path.join(share, "applications", APP_ID + ".desktop")
            metainfo = os.path.join(share, "metainfo", APP_ID + ".metainfo.xml")
            for path in (os.path.join(prefix, "bin", "velquarin-control-board"), desktop, metainfo,
                         os.path.join(share, "icons", "hicolor", "scalable", "apps", APP_ID + ".svg"),
                         os.path.join(share, "icons", "hicolor", "256x256", "apps", APP_ID + ".png"),
                         os.path.join(share, "velquarin-control-board", "VQ1.jpeg")):
                self.assertTrue(os.path.isfile(path), path)
            result = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            result = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo],
                                    capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertNotRegex(result.stdout, r"(?m)^[EW]:", result.stdout)
        finally:
            shutil.rmtree(prefix, ignore_errors=True)

    def test_windows_carry_the_desktop_id_and_icon(self):
        with XSession("1440x900") as session:
            window, _ = self.open_start_window(session)
            props = session.x("xprop", "-id", str(window), "WM_CLASS", "_NET_WM_ICON", "_KDE_NET_WM_DESKTOP_FILE",
                              "_GTK_APPLICATION_ID").stdout
            self.assertIn('"velquarin-control-board"', props)
            self.assertIn("_NET_WM_ICON(CARDINAL) = ", props)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)


if __name__ == "__main__":
    FAKE_PORTAL = os.path.abspath(sys.argv.pop(3))
    FAKE_SCREENSAVER = os.path.abspath(sys.argv.pop(2))
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
