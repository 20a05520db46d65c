"""The program among the desktop's services: an installed tree, the screen kept awake."""
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from xsession import LineReader, XSession  # noqa: E402

APP_ID = "org.velquarin.VelquarinControlBoard"


class Integration(BoardChecks, unittest.TestCase):
    def test_desktop_screen_saver_is_inhibited_while_the_board_shows(self):
        """Both services asked while the board shows, asked again when they restart, and
        what the new ones granted given back at Escape; standard error tells of the restart."""
        with XSession("1440x900") as session:
            bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            session.procs.append(bus)
            address = bus.stdout.readline().decode().strip()
            self.assertTrue(address, "no session bus")
            env = {"DBUS_SESSION_BUS_ADDRESS": address}

            def service(command):
                helper = subprocess.Popen(command, env=dict(session.env, **env), stdout=subprocess.PIPE)
                session.procs.append(helper)
                calls = LineReader(helper.stdout)
                calls.wait_for("ready")
                return helper, calls
            saver, calls = service([os.environ["FAKE_SCREENSAVER"]])
            portal, portal_calls = service([os.environ["FAKE_PORTAL"]])

            _, geometry = self.open_start_window(session, extra_env=env)
            self.assert_picture_shown(session, geometry)
            self.assertEqual(calls.drain() + portal_calls.drain(), [], "asked before the board showed")
            session.key("Return")
            board = self.assert_board(session)
            inhibit = calls.wait_for("Inhibit ")
            self.assertIn("Velquarin Control Board", inhibit)
            request = portal_calls.wait_for("PortalInhibit ")
            self.assertIn("window=x11:%x flags=8 reason=Showing the control board -> " % board, request)

            for helper in (saver, portal):  # a desktop shell restarted: what they granted is gone
                helper.kill()
                helper.wait()
            saver, calls = service([os.environ["FAKE_SCREENSAVER"], "--first-cookie", "100"])
            portal, portal_calls = service([os.environ["FAKE_PORTAL"]])
            self.assertIn("-> 100", calls.wait_for("Inhibit "))
            request = portal_calls.wait_for("PortalInhibit ")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            calls.wait_for("caller gone")  # heard after all the program sent
            self.assertEqual([line for line in calls.lines if line.startswith("UnInhibit")], ["UnInhibit 100"])
            self.assertEqual(portal_calls.wait_for("Close "), "Close " + request.rsplit("-> ", 1)[1])
            said = [line for line in session.stderr.decode().splitlines() if line.startswith("velquarin")]
            self.assertEqual(sorted(said), [
                "velquarin-control-board: the display is kept awake through the ScreenSaver service again",
                "velquarin-control-board: the display is kept awake through the desktop portal again",
                "velquarin-control-board: the display may blank: the ScreenSaver service went away",
                "velquarin-control-board: the display may blank: the desktop portal went away"])

    def test_services_started_by_the_program_s_own_call_are_asked_once(self):
        """The desktop's services are not running until the program's first call starts them
        (the bus starts them on demand, as at login): one Inhibit and one portal request, held
        while the board shows and given back at Escape, nothing on standard error; every round."""
        with XSession("1440x900") as session:
            for round in range(10):
                with self.subTest(round=round), tempfile.TemporaryDirectory(prefix="vq-bus-") as folder:
                    logs = {name: os.path.join(folder, name + ".log") for name in ("saver", "portal")}
                    for name, bus_name, program in (("saver", "org.freedesktop.ScreenSaver", "FAKE_SCREENSAVER"),
                                                    ("portal", "org.freedesktop.portal.Desktop", "FAKE_PORTAL")):
                        with open(os.path.join(folder, name + ".service"), "w") as f:
                            f.write("[D-BUS Service]\nName=%s\nExec=/bin/sh -c 'echo $$ >> %s/pids; exec %s >> %s 2>&1'\n"
                                    % (bus_name, folder, os.environ[program], logs[name]))
                    with open(os.path.join(folder, "bus.conf"), "w") as f:
                        f.write("<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><servicedir>%s</servicedir>"
                                "<policy context='default'><allow send_destination='*'/><allow eavesdrop='true'/><allow own='*'/></policy>"
                                "</busconfig>" % folder)
                    bus = subprocess.Popen(["dbus-daemon", "--config-file=" + os.path.join(folder, "bus.conf"),
                                            "--nofork", "--print-address=1"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
                    try:
                        address = bus.stdout.readline().decode().strip()
                        self.assertTrue(address, "no session bus")

                        def calls(name, prefix):
                            try:
                                with open(logs[name]) as f:
                                    return [line for line in f.read().splitlines() if line.startswith(prefix)]
                            except FileNotFoundError:
                                return []
                        session.start(self.BINARY, extra_env={"DBUS_SESSION_BUS_ADDRESS": address}, arguments=["--go"])
                        self.assert_board(session)
                        session.wait_for(lambda: calls("saver", "Inhibit ") and calls("portal", "PortalInhibit "), 10,
                                         "both services asked")
                        self.assertEqual(calls("saver", "UnInhibit") + calls("portal", "Close"), [], "given back while shown")
                        session.key("Escape")
                        self.assertEqual(session.exit_status(), 0)
                        self.assertEqual(session.stderr.decode(), "")
                        # Each service hears of the program leaving after all it sent: the whole story.
                        session.wait_for(lambda: calls("saver", "caller gone") and calls("portal", "caller gone"), 5,
                                         "both services to hear the program leave")
                        saver, portal = calls("saver", ""), calls("portal", "")
                        self.assertEqual(saver[1:], ["Inhibit Velquarin Control Board: Showing the control board -> 42",
                                                     "UnInhibit 42", "caller gone"], saver)
                        request = portal[1].rsplit("-> ", 1)[1]
                        self.assertEqual(portal[2:], ["Close " + request, "caller gone"], portal)
                    finally:
                        bus.kill()
                        bus.wait()
                        pids = os.path.join(folder, "pids")
                        with open(pids) if os.path.exists(pids) else io.StringIO() as f:
                            for pid in f.read().split():
                                try:
                                    os.kill(int(pid), signal.SIGKILL)
                                except ProcessLookupError:
                                    pass

    def test_without_a_session_bus_none_is_started(self):
        """Where no session bus runs, the D-Bus library could launch one for the program
        (through dbus-launch, where installed): nothing may start, stay behind or be written."""
        with XSession("1440x900") as session:
            runtime = os.path.join(session.home, "runtime")
            os.mkdir(runtime, 0o700)
            self.open_start_window(session, extra_env={"XDG_RUNTIME_DIR": runtime}, unset=("DBUS_SESSION_BUS_ADDRESS",))
            session.key("Return")
            self.assert_board(session)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertNotIn(".dbus", os.listdir(session.home))
            self.assertEqual(os.listdir(runtime), [])
            ours = {str(proc.pid) for proc in session.procs}
            left = [pid for pid in os.listdir("/proc")
                    if pid.isdigit() and pid not in ours and self.started_in(pid, session.home)]
            self.assertEqual(left, [], "processes left behind")

    @staticmethod
    def started_in(pid, home):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                return ("HOME=%s" % home).encode() in f.read().split(b"\0")
        except OSError:
            return False

    def test_x_screen_saver_is_suspended_once_a_paused_server_answers(self):
        """The X server stops for 1.5 s as the board shows, past the program's wait for it:
        once it answers again, the program asks again, and the saver, on by then, goes off."""
        with XSession("1440x900") as session:
            session.x("xset", "s", "2", "0")
            session.x("xset", "s", "activate")
            proxy, display = session.stopping_display(lambda message, *_: b"MIT-SCREEN-SAVER" in message, 1.5)
            session.start(self.BINARY, extra_env={"DISPLAY": display}, arguments=["--go"])
            errors = LineReader(session.app.stderr)
            session.wait_for(lambda: proxy.stopped_at, 15, "the program to ask for the screen saver")
            self.assert_board(session)
            # Asked again, on the program's own schedule: its line says when.
            errors.wait_for("velquarin-control-board: the display is kept awake through the X server again", 30)
            session.wait_for(lambda: not session.screen_saver_on(), 5, "the screen saver off once asked again")
            for _ in range(6):  # past the saver's timeout, without input
                self.assertFalse(session.screen_saver_on(), "the screen saver came on over the board")
                time.sleep(0.5)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            said = [line for line in errors.lines + session.stderr.decode().splitlines() if line.startswith("velquarin")]
            self.assertEqual(said, [
                "velquarin-control-board: the display may blank: the X server did not answer in time; trying again",
                "velquarin-control-board: the display is kept awake through the X server again"])

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

            # The program runs under gdb, which stops it as it takes the toolkit down: its windows
            # are gone, its connection to the X server is not. Blanking must work again by then,
            # not only once the server drops the program's requests with its connection.
            stopped, go_on = (os.path.join(session.home, name) for name in ("stopped", "go-on"))
            gdb = ["gdb", "-q", "-batch", "-nx", "-ex", "set breakpoint pending on",
                   "-ex", "break QApplication::~QApplication", "-ex", "run",
                   "-ex", "shell touch %s; for i in $(seq 600); do [ -e %s ] && break; sleep 0.1; done" % (stopped, go_on),
                   "-ex", "kill", "--args"]
            session.start(self.BINARY, wrapper=gdb)
            window, _ = session.wait_for_window(lambda g: g[2] == 470, "the start window", timeout=60)
            session.wait_active(window)
            session.key("Return")
            self.assert_board(session)
            for _ in range(12):  # twice the saver's timeout, without input
                time.sleep(0.5)
                self.assertFalse(session.screen_saver_on(), "the screen saver came on over the board")
            session.key("Escape")
            try:
                session.wait_for(lambda: os.path.exists(stopped), 20, "the program to take the toolkit down")
                session.wait_for(session.screen_saver_on, 10, "blanking to resume while the program is still connected")
            finally:
                open(go_on, "w").close()  # gdb then kills it: no status of the program's own to read

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

    def test_a_package_of_another_machine_does_not_count_as_installed(self):
        """The install step checks this machine's architecture: a plug-in installed for a cross
        build only (qt6-wayland:arm64) leaves this machine's to install. And a package built
        before is reused only for the same build: another compiler flag, or a point release of
        the compiler, builds it anew."""
        source = os.path.join(os.path.dirname(__file__), "..", "..")
        native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        other = "arm64" if native != "arm64" else "amd64"
        stubs = tempfile.mkdtemp(prefix="vq-apt-")
        try:
            # dpkg's answers: qt6-wayland installed for the other machine only, the rest for this one.
            answer = ('case "$*" in *qt6-wayland*) arch=%s;; *) arch=%s;; esac; case "$*" in *Architecture*) '
                      'echo "$arch install ok installed";; *) echo "install ok installed";; esac' % (other, native))
            for name, body in (("dpkg-query", answer),
                               ("apt-get", 'echo "$*" >> "%s/asked"' % stubs), ("id", "echo 0")):
                with open(os.path.join(stubs, name), "w") as stub:
                    stub.write("#!/bin/sh\n" + body + "\n")
                os.chmod(os.path.join(stubs, name), 0o755)
            result = subprocess.run(["sh", "-c", ". scripts/packages.sh; need_packages cmake qt6-wayland"], cwd=source,
                                    env=dict(os.environ, PATH=stubs + ":" + os.environ["PATH"]),
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual((result.returncode, result.stdout), (0, "Installing: qt6-wayland\n"), result.stderr)
            with open(os.path.join(stubs, "asked")) as asked:
                self.assertIn("install -y -qq qt6-wayland", asked.read())

            def key(stub=None, **env):
                if stub:
                    with open(os.path.join(stubs, "dpkg-query"), "w") as f:
                        f.write('#!/bin/sh\n/usr/bin/dpkg-query "$@"\n%s\n' % stub)
                return subprocess.run(["sh", "-c", '. scripts/packages.sh; root=$PWD; package_key %s -b' % native],
                                      cwd=source, env=dict(os.environ, PATH=stubs + ":" + os.environ["PATH"], **env),
                                      capture_output=True, text=True, timeout=120, check=True).stdout
            same = key(stub="true")
            self.assertEqual(key(), same)
            self.assertNotEqual(key(DEB_CXXFLAGS_APPEND="-O1"), same)
            self.assertNotEqual(key(stub="echo 'ii  g++-12:%s 12.2.0-14+deb12u9'" % native), same)
        finally:
            shutil.rmtree(stubs, ignore_errors=True)

    def test_readme_install_autostart_and_uninstall_lines_run_as_written(self):
        """The README's own lines, into a throwaway prefix and home: /usr/local and ~ are the
        only words changed, and the tree already built is installed instead of a new one."""
        source = os.path.join(os.path.dirname(__file__), "..", "..")
        with open(os.path.join(source, "README.md")) as f:
            code = [line[4:].rstrip() for line in f if line.startswith("    ")]
        code = [line.strip() for line in "\n".join(code).replace("\\\n", " ").split("\n")]
        install = next(line for line in code if line.startswith("sh scripts/install.sh "))
        uninstall = next(line for line in code if line.startswith("sh scripts/uninstall.sh"))
        autostart = [line for line in code if "/.config/autostart" in line]
        self.assertEqual(len(autostart), 2, autostart)  # the folder, then the entry
        root = tempfile.mkdtemp(prefix="vq-readme-")
        try:
            prefix, home = os.path.join(root, "prefix"), os.path.join(root, "home")
            os.makedirs(os.path.join(prefix, "share", "man", "man1"))  # there before: it stays
            os.mkdir(home)
            env = dict(os.environ, HOME=home, BUILD=os.path.dirname(self.BINARY))

            def run(line):
                result = subprocess.run(["sh", "-c", line.replace("/usr/local", prefix)], cwd=source, env=env,
                                        capture_output=True, text=True, timeout=300)
                self.assertEqual(result.returncode, 0, line + "\n" + result.stdout + result.stderr)
            run(install)
            self.assertTrue(os.access(os.path.join(prefix, "bin", "velquarin-control-board"), os.X_OK))
            for line in autostart:
                run(line)
            entry = os.path.join(home, ".config", "autostart", APP_ID + ".desktop")
            result = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
            self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            with open(entry) as f:
                self.assertIn("Exec=velquarin-control-board --go\n", f.read())
            for unit, options in (("user/velquarin-control-board.service", "--go"),
                                  ("system/velquarin-control-board-console.service", "--console --go $OPTIONS")):
                unit = os.path.join(prefix, "lib", "systemd", unit)
                with open(unit) as f:
                    self.assertIn("\nExecStart=%s/bin/velquarin-control-board %s\n" % (prefix, options), f.read())
                # It names the program, which must be there, and its manual page, under this prefix.
                result = subprocess.run(["systemd-analyze", "verify", unit], capture_output=True, text=True,
                                        timeout=60, env=dict(os.environ, MANPATH=os.path.join(prefix, "share", "man")))
                self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))
            run(uninstall)
            left = [os.path.relpath(os.path.join(d, n), prefix) for d, ds, fs in os.walk(prefix) for n in ds + fs]
            self.assertEqual(sorted(left), ["share", "share/man", "share/man/man1"])
            # A prefix whose parents the install made: they go with it.
            prefix = os.path.join(root, "made", "for", "it")
            run(install)
            run(uninstall)
            self.assertEqual(sorted(os.listdir(root)), ["home", "prefix"])
        finally:
            shutil.rmtree(root, ignore_errors=True)

    def test_windows_carry_the_desktop_id_and_icon(self):
        with XSession("1440x900") as session:
            window, _ = self.open_start_window(session)
            props = session.x("xprop", "-id", str(window), "WM_CLASS", "_NET_WM_ICON").stdout
            self.assertIn('WM_CLASS(STRING) = "velquarin-control-board", "Velquarin Control Board"\n', props)
            # Square taskbar sizes only: the large ones come from the desktop entry's themed icon.
            sizes = [(int(w), int(h)) for w, h in re.findall(r"Icon \((\d+) x (\d+)\)", props)]
            self.assertTrue(sizes and all(w == h <= 48 for w, h in sizes), sizes)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
