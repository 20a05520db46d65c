"""A headless GNOME session for end-to-end tests: gnome-session with GNOME Shell on a virtual
monitor, as an unprivileged account under a session bus of its own, with the program started
at login from an autostart entry, as a kiosk has it.

GNOME Shell reaches logind over the system bus: it gets an empty bus of its own instead. It
lets only its known tools take screenshots; tests/helpers/gnome_probe.cpp takes such a tool's
name for them, and types through mutter's remote-desktop service."""
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from waylandsession import USER, PpmImage, copy_program
from xsession import LineReader, as_user, program_state, wait_for

MONITOR = (1920, 1080)


class GnomeSession:
    def __init__(self, binary, probe, environment=""):
        """`environment`: assignments the autostart entry puts before the program's name. The
        entry starts the program once let_start() is called, as a slow login would."""
        self.binary, self.probe, self.environment = binary, probe, environment
        self.procs = []
        account = pwd.getpwnam(USER)
        self.root = tempfile.mkdtemp(prefix="vq-gnome-")
        os.chmod(self.root, 0o755)
        self.home, self.runtime = os.path.join(self.root, "home"), os.path.join(self.root, "runtime")
        for folder in (self.home, self.runtime):
            os.mkdir(folder, 0o700)
            os.chown(folder, account.pw_uid, account.pw_gid)
        self.status_file = os.path.join(self.runtime, "status")
        self.closing = False

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)

    def __enter__(self):
        folder = os.path.join(self.root, "bin")
        os.mkdir(folder)
        os.chmod(folder, 0o755)
        copy_program(self.binary, folder)
        with open("/usr/share/applications/org.gnome.Shell.desktop") as f:
            shell = f.read().replace("Exec=/usr/bin/gnome-shell", "Exec=/usr/bin/gnome-shell --headless --wayland "
                                     "--virtual-monitor %dx%d" % MONITOR)
        self.write(os.path.join(self.home, ".local", "share", "applications", "org.gnome.Shell.desktop"), shell)
        # The README's autostart entry, its status kept for the test.
        self.write(os.path.join(self.home, ".config", "autostart", "org.velquarin.VelquarinControlBoard.desktop"),
                   "[Desktop Entry]\nType=Application\nName=Velquarin Control Board\n"
                   "Exec=sh -c 'while [ ! -e %s/go ]; do sleep 0.1; done; "
                   "%s velquarin-control-board --go 2> %s/stderr; echo $? > %s'\n"
                   % (self.runtime, self.environment, self.runtime, self.status_file))
        # GNOME's own session, less the settings daemons that have no hardware to manage here
        # (the USB protection one crashes without it, and the session then puts up its
        # failure dialog); the screen saver's proxy, which passes the hold on, stays.
        self.write(os.path.join(self.home, ".config", "gnome-session", "sessions", "kiosk.session"),
                   "[GNOME Session]\nName=Kiosk\nRequiredComponents=org.gnome.Shell;"
                   "org.gnome.SettingsDaemon.ScreensaverProxy;\n")
        start = os.path.join(self.root, "start")
        self.write(start, "#!/bin/sh\necho \"$DBUS_SESSION_BUS_ADDRESS\" > %s/bus-address\n"
                   "exec gnome-session --builtin --session=kiosk --disable-acceleration-check\n" % self.runtime)
        os.chmod(start, 0o755)
        # Without GNOME's display manager the shell cannot lock the screen, and says so the
        # first time in a notice that stays over every window: this account has seen it.
        self.write(os.path.join(self.home, ".local", "share", "gnome-shell", "lock-warning-shown"), "")
        subprocess.run(["chown", "-R", USER + ":", self.home], check=True)

        base = {"PATH": folder + ":/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime}
        system_bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"], base,
                                stdout=subprocess.PIPE)
        self.env = dict(base, XDG_SESSION_TYPE="wayland", XDG_CURRENT_DESKTOP="GNOME",
                        DBUS_SYSTEM_BUS_ADDRESS=system_bus.stdout.readline().decode().strip())
        self.log = open(os.path.join(self.root, "session.log"), "w")
        self.spawn(["dbus-run-session", "--", start], self.env, stdout=self.log, stderr=self.log)
        threading.Thread(target=self.end_stuck_forks, daemon=True).start()
        address = os.path.join(self.runtime, "bus-address")
        wait_for(lambda: os.path.exists(address) and open(address).read().strip(), 20, "the session bus")
        with open(address) as f:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = f.read().strip()
        return self

    def end_stuck_forks(self):
        """GNOME Shell 43 starts helpers (the input-method daemon) through a child that runs
        script code between fork and exec; now and then that child hangs on a lock another
        thread held at the fork, and the shell waits for it for good. A child of the shell
        still bearing the shell's name after two seconds is such a one: it is ended, and the
        shell goes on as if the helper could not be started."""
        seen = {}
        end = time.monotonic() + 60
        while time.monotonic() < end and not self.closing:
            shells = {}  # pid -> parent, for the session's processes named after the shell
            for pid in os.listdir("/proc"):
                try:
                    with open("/proc/%s/stat" % pid) as f:
                        stat = f.read()
                except OSError:
                    continue
                if stat[stat.index("(") + 1:stat.rindex(")")] == "gnome-shell" and self.started_here(pid):
                    shells[int(pid)] = int(stat[stat.rindex(")") + 2:].split()[1])
            for pid, parent in shells.items():
                if parent in shells and time.monotonic() - seen.setdefault(pid, time.monotonic()) > 2:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
            time.sleep(0.5)

    def spawn(self, command, env, **streams):
        proc = subprocess.Popen(as_user(USER) + command, env=env, start_new_session=True,
                                stderr=streams.pop("stderr", subprocess.DEVNULL), **streams)
        self.procs.append(proc)
        return proc

    def __exit__(self, *exc):
        self.closing = True
        # Everything the session started, wherever it sits in the process tree.
        for _ in range(3):
            ours = [int(pid) for pid in os.listdir("/proc") if pid.isdigit() and self.started_here(pid)]
            for pid in ours:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            if not ours:
                break
            time.sleep(0.2)
        for proc in self.procs:
            proc.wait()
        self.log.close()
        subprocess.run(["umount", "-l", os.path.join(self.runtime, "doc")], capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def started_here(self, pid):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                return ("HOME=%s" % self.home).encode() in f.read().split(b"\0")
        except OSError:
            return False

    def let_start(self):
        with open(os.path.join(self.runtime, "go"), "w"):
            pass

    def start(self, *arguments):
        """The program started by the user in the running session."""
        return self.spawn(["velquarin-control-board"] + list(arguments),
                          dict(self.env, WAYLAND_DISPLAY="wayland-0"), stdout=subprocess.DEVNULL)

    def watch_calls(self, *members):
        """The session bus's calls of those members, as dbus-monitor prints them, from now on."""
        monitor = self.spawn(["dbus-monitor", "--session"] + ["type='method_call',member='%s'" % m for m in members],
                             self.env, stdout=subprocess.PIPE)
        return LineReader(monitor.stdout)

    # -- what a person would see and do ----------------------------------------------------------
    def call(self, destination, path, method, *arguments):
        result = subprocess.run(as_user(USER) + ["gdbus", "call", "--session", "--dest", destination,
                                                 "--object-path", path, "--method", method, *arguments],
                                env=self.env, capture_output=True, text=True, timeout=20)
        if result.returncode != 0:
            raise AssertionError("%s failed: %s" % (method, result.stderr.strip()))
        return result.stdout.strip()

    def overview_active(self):
        return self.call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Get",
                         "org.gnome.Shell", "OverviewActive") == "(<true>,)"

    def idle_inhibited(self):
        """Whether the session manager holds an inhibitor of idleness (flag 8)."""
        return self.call("org.gnome.SessionManager", "/org/gnome/SessionManager",
                         "org.gnome.SessionManager.IsInhibited", "8") == "(true,)"

    def board(self):
        """The program's process id while it runs."""
        return self.process(b"velquarin-control-board")

    def process(self, name):
        """The id of the session's process of that name, while it runs."""
        for pid in os.listdir("/proc"):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    command = f.read().split(b"\0")
            except OSError:
                continue
            if os.path.basename(command[0]) == name and self.started_here(pid):
                return int(pid)
        return None

    def key(self, keysym):
        result = subprocess.run(as_user(USER) + [self.probe, "key", keysym], env=self.env,
                                capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise AssertionError(result.stderr)

    def screenshot(self):
        shot = os.path.join(self.runtime, "screen.ppm")
        result = subprocess.run(as_user(USER) + [self.probe, "screenshot", shot], env=self.env,
                                capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise AssertionError(result.stderr)
        with open(shot, "rb") as f:
            return PpmImage(f.read())

    @staticmethod
    def screen_size():
        return MONITOR

    def exit_status(self, timeout=10):
        wait_for(lambda: os.path.exists(self.status_file), timeout, "the program to end", self.seen)
        with open(self.status_file) as f:
            return int(f.read())

    def stderr(self):
        with open(os.path.join(self.runtime, "stderr")) as f:
            return f.read()

    def wait_for(self, predicate, timeout, what):
        return wait_for(predicate, timeout, what, self.seen)

    def seen(self):
        lines = []
        try:
            lines.append("overview active: %s; idle inhibited: %s" % (self.overview_active(), self.idle_inhibited()))
        except (AssertionError, subprocess.TimeoutExpired) as error:
            lines.append("the shell could not be asked: %s" % error)
        class Running:
            def __init__(self, pid):
                self.pid = pid

            def poll(self):
                return None if os.path.exists("/proc/%d" % self.pid) else 0
        for name in (b"velquarin-control-board", b"gnome-shell"):
            pid = self.process(name)
            lines.append(program_state(Running(pid)).replace("the program", name.decode()) if pid
                         else "%s is not running" % name.decode())
        with open(os.path.join(self.root, "session.log")) as f:
            log = f.read()
        lines.append("the shell's and the session manager's lines:\n" + "\n".join(
            line for line in log.splitlines() if "mutter" in line or "Shell" in line or "gnome-session" in line)[-3000:])
        return "\n".join(lines)
