"""A Debian package that dpkg-buildpackage made, installed with apt-get like any package, run
from its installed path, and purged again, leaving the machine as it was. A package built for
another machine (arm64, armhf) is installed beside this machine's libraries and its program run
under the emulator.

Usage: test_package.py DEB [EMULATOR]"""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from xsession import XSession  # noqa: E402

PACKAGE = "velquarin-control-board"


def can_be_root():
    if os.geteuid() == 0:
        return True
    return subprocess.run(["sudo", "-n", "true"], capture_output=True).returncode == 0


def as_root(*command):
    prefix = [] if os.geteuid() == 0 else ["sudo", "-n"]
    return subprocess.run(prefix + list(command), capture_output=True, text=True, timeout=600,
                          env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def installed():
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE], capture_output=True, text=True)
    return "install ok installed" in result.stdout


class Package(BoardChecks, unittest.TestCase):
    DEB, EMULATOR = None, None

    def test_deb_installs_runs_and_purges(self):
        if not can_be_root():
            self.skipTest("installing a package needs root or passwordless sudo")
        if installed():  # somebody's own installation: never touched
            self.skipTest("the package is installed on this machine already")
        deb = self.DEB
        architecture = subprocess.run(["dpkg-deb", "-f", deb, "Architecture"], capture_output=True, text=True).stdout
        self.assertTrue(deb.endswith("_%s.deb" % architecture.strip()), (deb, architecture))
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
        for library in ("libqt6widgets6", "libqt6gui6", "libqt6core6", "libqt6dbus6", "libxcb-screensaver0",
                        "libwayland-client0", "qt6-qpa-plugins", "qt6-wayland", "libqt6opengl6", "qt6-base-abi (= 6."):
            self.assertIn(library, fields)

        before = set(subprocess.run(["dpkg-query", "-W", "-f=${binary:Package}\\n"], capture_output=True,
                                    text=True).stdout.split())
        result = as_root("apt-get", "install", "-y", "-q", deb)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        try:
            self.assertTrue(installed())
            files = subprocess.run(["dpkg", "-L", PACKAGE], capture_output=True, text=True).stdout.split()
            self.assertIn("/usr/bin/velquarin-control-board", files)
            self.assertIn("/usr/share/velquarin-control-board/VQ1.jpeg", files)
            self.assertIn("/usr/share/applications/org.velquarin.VelquarinControlBoard.desktop", files)
            self.assertIn("/usr/share/man/man1/velquarin-control-board.1.gz", files)
            self.assertIn("/usr/share/doc/velquarin-control-board/copyright", files)
            for unit in ("/usr/lib/systemd/user/velquarin-control-board.service",
                         "/lib/systemd/system/velquarin-control-board-console.service"):
                self.assertIn(unit, files)
                result = subprocess.run(["systemd-analyze", "verify", unit], capture_output=True, text=True,
                                        timeout=60)
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            # Installed, not enabled: tty1 keeps its login prompt until the board is asked for.
            self.assertFalse(os.path.lexists("/etc/systemd/system/multi-user.target.wants/"
                                             "velquarin-control-board-console.service"))
            wrapper = [self.EMULATOR] if self.EMULATOR else []
            result = subprocess.run(wrapper + ["/usr/bin/velquarin-control-board", "--version"], capture_output=True,
                                    text=True, timeout=60)
            self.assertEqual((result.returncode, result.stdout), (0, "velquarin-control-board 1.1.0\n"))
            with XSession("1440x900") as session:
                _, geometry = self.open_start_window(session, "/usr/bin/velquarin-control-board", wrapper=wrapper)
                self.assert_picture_shown(session, geometry)
                session.key("Return")
                self.assert_board(session)
                session.key("Escape")
                self.assertEqual(session.exit_status(timeout=30), 0)
        finally:
            result = as_root("apt-get", "purge", "-y", "-q", PACKAGE)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            added = set(subprocess.run(["dpkg-query", "-W", "-f=${binary:Package}\\n"], capture_output=True,
                                       text=True).stdout.split()) - before
            if added:
                as_root("apt-get", "purge", "-y", "-q", *sorted(added))
        self.assertFalse(installed())
        self.assertFalse(os.path.exists("/usr/bin/velquarin-control-board"))
        self.assertFalse(os.path.exists("/usr/share/velquarin-control-board"))


if __name__ == "__main__":
    Package.DEB = os.path.abspath(sys.argv.pop(1))
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        Package.EMULATOR = sys.argv.pop(1)
    unittest.main(verbosity=2)
