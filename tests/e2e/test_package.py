"""A Debian package that dpkg-buildpackage made, installed with apt-get like any package, run
from its installed path, and purged again, leaving the machine as it was. A package built for
another machine (arm64, armhf) is installed the same way into the system it was built in (ROOT,
a Debian root of the same release with that machine's libraries) and its program run from there
under the emulator.

Usage: test_package.py DEB [EMULATOR [ROOT]]"""
import os
import shutil
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


def in_root(root, *command):
    """The command as it runs in the system at root: chrooted unless that is this one."""
    return (["chroot", root] if root != "/" else []) + list(command)


def dpkg_query(root, *arguments):
    return subprocess.run(["dpkg-query", "--admindir", os.path.join(root, "var/lib/dpkg")] + list(arguments),
                          capture_output=True, text=True)


def installed(root="/"):
    return "install ok installed" in dpkg_query(root, "-W", "-f=${Status}", PACKAGE).stdout


class Package(BoardChecks, unittest.TestCase):
    DEB, EMULATOR, ROOT = None, None, "/"

    def test_deb_installs_runs_and_purges(self):
        if not can_be_root():
            self.skipTest("installing a package needs root or passwordless sudo")
        root = self.ROOT
        if root != "/" and installed(root):  # the build root's, left by a run that was stopped
            as_root(*in_root(root, "apt-get", "purge", "-y", "-q", PACKAGE))
        if installed(root):  # somebody's own installation: never touched
            self.skipTest("the package is installed on this machine already")
        deb = self.DEB
        architecture = subprocess.run(["dpkg-deb", "-f", deb, "Architecture"], capture_output=True, text=True).stdout
        self.assertTrue(deb.endswith("_%s.deb" % architecture.strip()), (deb, architecture))
        fields = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
        for library in ("libqt6widgets6", "libqt6gui6", "libqt6core6", "libqt6dbus6", "libxcb-screensaver0",
                        "libwayland-client0", "qt6-qpa-plugins", "qt6-wayland", "libqt6opengl6", "qt6-base-abi (= 6."):
            self.assertIn(library, fields)

        before = set(dpkg_query(root, "-W", "-f=${binary:Package}\\n").stdout.split())
        if root != "/":  # where apt-get in the root finds it
            shutil.copy(deb, os.path.join(root, "tmp"))
            deb = os.path.join("/tmp", os.path.basename(deb))
        result = as_root(*in_root(root, "apt-get", "install", "-y", "-q", deb))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        try:
            self.assertTrue(installed(root))
            files = dpkg_query(root, "-L", PACKAGE).stdout.split()
            self.assertIn("/usr/bin/velquarin-control-board", files)
            self.assertIn("/usr/share/velquarin-control-board/VQ1.jpeg", files)
            self.assertIn("/usr/share/applications/org.velquarin.VelquarinControlBoard.desktop", files)
            self.assertIn("/usr/share/man/man1/velquarin-control-board.1.gz", files)
            self.assertIn("/usr/share/doc/velquarin-control-board/copyright", files)
            for unit in ("/usr/lib/systemd/user/velquarin-control-board.service",
                         "/lib/systemd/system/velquarin-control-board-console.service"):
                self.assertIn(unit, files)
                result = subprocess.run(in_root(root, "systemd-analyze", "verify", unit), capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            # Installed, not enabled: tty1 keeps its login prompt until the board is asked for.
            self.assertFalse(os.path.lexists(os.path.join(root, "etc/systemd/system/multi-user.target.wants/"
                                                          "velquarin-control-board-console.service")))
            wrapper = [self.EMULATOR] if self.EMULATOR else []
            program = os.path.join(root, "usr/bin/velquarin-control-board")
            result = subprocess.run(wrapper + [program, "--version"], capture_output=True, text=True, timeout=60)
            self.assertEqual((result.returncode, result.stdout), (0, "velquarin-control-board 1.1.0\n"))
            with XSession("1440x900") as session:
                _, geometry = self.open_start_window(session, program, wrapper=wrapper)
                self.assert_picture_shown(session, geometry)
                session.key("Return")
                self.assert_board(session)
                session.key("Escape")
                self.assertEqual(session.exit_status(timeout=30), 0)
        finally:
            result = as_root(*in_root(root, "apt-get", "purge", "-y", "-q", PACKAGE))
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            added = set(dpkg_query(root, "-W", "-f=${binary:Package}\\n").stdout.split()) - before
            if added:
                as_root(*in_root(root, "apt-get", "purge", "-y", "-q", *sorted(added)))
            if root != "/":
                os.remove(os.path.join(root, deb.lstrip("/")))
        self.assertFalse(installed(root))
        self.assertFalse(os.path.exists(os.path.join(root, "usr/bin/velquarin-control-board")))
        self.assertFalse(os.path.exists(os.path.join(root, "usr/share/velquarin-control-board")))


if __name__ == "__main__":
    Package.DEB = os.path.abspath(sys.argv.pop(1))
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        Package.EMULATOR = sys.argv.pop(1)
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        Package.ROOT = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
