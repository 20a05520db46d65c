"""A real X session for end-to-end tests: Xvfb, a window manager, the program under test.

Standard library only; X is driven through xdotool and read back with the tests' own helper,
x_events (VQ_X_EVENTS names it).
"""
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import threading
import time


# The X server's dummy video driver: monitors whose modes change and that go and come back, as
# real ones do (Xvfb's screen has one size for good). DUMMY0 shows first; DUMMY1.. are off.
DUMMY_CONFIG = """
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 4096 2160
    EndSubSection
EndSection
"""


class XSession:
    def __init__(self, size="1440x900", wm=True, dummy=False):
        self.size = size
        self.wm = wm
        self.dummy = dummy
        self.procs = []
        self.home = tempfile.mkdtemp(prefix="vq-e2e-home-")
        self.app = None
        self.acted_at = 0.0  # when the last key or click went out
        self.proxies = []

    # -- the server and the window manager ---------------------------------------------------
    def __enter__(self):
        read_fd, write_fd = os.pipe()
        if self.dummy:
            config = os.path.join(self.home, "xorg.conf")
            with open(config, "w") as f:
                f.write(DUMMY_CONFIG)
            os.mkdir(os.path.join(self.home, "xorg.conf.d"))
            server = ["Xorg", "-config", config, "-configdir", os.path.join(self.home, "xorg.conf.d"),
                      "-logfile", os.path.join(self.home, "xorg.log"), "-novtswitch", "-sharevts"]
        else:
            server = ["Xvfb", "-screen", "0", self.size + "x24", "-wr"]
        xserver = subprocess.Popen(server + ["-displayfd", str(write_fd), "-nolisten", "tcp", "-noreset"],
                                   pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        self.procs.append(xserver)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("%s did not start" % server[0])
        self.display = ":" + number
        self.env = dict(os.environ, DISPLAY=self.display, HOME=self.home)
        if self.dummy:
            self.xrandr("--output", "DUMMY0", "--mode", self.size)
        self.env.pop("XDG_DATA_HOME", None)
        self.env.pop("QT_QPA_PLATFORM", None)
        if self.wm:
            ready = os.path.join(self.home, "wm-ready")
            wm = subprocess.Popen(["openbox", "--startup", "touch " + ready], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(wm)
            self.wait_for(lambda: os.path.exists(ready), 10, "the window manager to start")
        return self

    def __exit__(self, *exc):
        for proxy in self.proxies:
            proxy.close()
        end_all(self.app, self.procs)
        shutil.rmtree(self.home, ignore_errors=True)

    def stopping_display(self, stop_at, pause=None):
        """A display of the test's own in front of the server (StoppingProxy); its name."""
        number = next(n for n in range(200, 300) if not os.path.exists("/tmp/.X11-unix/X%d" % n)
                      and not os.path.exists("/tmp/.X%d-lock" % n))
        self.proxies.append(StoppingProxy(self.procs[0], "/tmp/.X11-unix/X" + self.display.lstrip(":"),
                                          "/tmp/.X11-unix/X%d" % number, x_message_length, stop_at, pause))
        return self.proxies[-1], ":%d" % number

    def wait_for(self, predicate, timeout, what):
        return wait_for(predicate, timeout, what, self.seen)

    def seen(self):
        """What was on the screen and what the program was doing, for a failure's message."""
        lines = []
        try:
            for window in self.x("xdotool", "search", "--onlyvisible", "--name", "").stdout.split():
                name = self.x("xdotool", "getwindowname", window).stdout.strip()
                lines.append("window %s %r at %s" % (window, name, self.geometry(int(window))))
            lines.append("active window: " + self.x("xdotool", "getactivewindow").stdout.strip())
        except (AssertionError, subprocess.TimeoutExpired) as error:
            lines.append("the windows could not be listed: %s" % error)
        return "\n".join(lines + [program_state(self.app)])

    # -- the program -------------------------------------------------------------------------
    def start(self, binary, extra_env=None, unset=(), user=None, wrapper=(), blocked=(), ignored=(), arguments=()):
        """Starts the program with a fresh HOME; user runs it as that unprivileged account;
        blocked signals are blocked when it starts, as some launchers leave them, and ignored
        ones ignored, as a shell does for a background job."""
        env = dict(self.env, **(extra_env or {}))
        for name in unset:
            env.pop(name, None)
        command = list(wrapper) + [binary] + list(arguments)
        if user:
            command = as_user(user) + command
        def prepare():
            signal.pthread_sigmask(signal.SIG_BLOCK, blocked)
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)
        self.app = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    cwd=self.home, preexec_fn=prepare if blocked or ignored else None)
        return self.app

    def memory_kib(self):
        """Resident and peak resident memory of the running program, in KiB."""
        with open("/proc/%d/status" % self.app.pid) as status:
            fields = dict(line.split(":", 1) for line in status)
        return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])

    def exit_status(self, timeout=10):
        return exit_status(self, timeout)

    def x(self, *args):
        return subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=20)

    def xrandr(self, *args):
        """Changes the monitors; the screen's size follows what they cover."""
        result = self.x("xrandr", *args)
        if result.returncode != 0:
            raise AssertionError("xrandr %s failed: %s" % (" ".join(args), result.stderr.strip()))
        monitors = self.monitors().values()
        if monitors:
            self.size = "%dx%d" % (max(x + w for x, _, w, _ in monitors), max(y + h for _, y, _, h in monitors))

    def monitors(self):
        """Each active monitor's name and (x, y, width, height)."""
        found = re.findall(r"(\d+)/\d+x(\d+)/\d+\+(\d+)\+(\d+)\s+(\S+)", self.x("xrandr", "--listmonitors").stdout)
        return {name: (int(x), int(y), int(w), int(h)) for w, h, x, y, name in found}

    def key(self, *keys):
        self.acted_at = time.monotonic()
        self.x("xdotool", "key", "--clearmodifiers", *keys)

    def click(self, x, y):
        self.x("xdotool", "mousemove", "--sync", str(x), str(y))
        self.acted_at = time.monotonic()
        self.x("xdotool", "click", "1")

    # -- windows -------------------------------------------------------------------------------
    # X tools that walk or inspect windows fail with BadWindow when a window goes while they
    # look (the start window's frame goes right after GO). Such a failure says nothing about
    # the screen: the look is taken again, within a bound, and never read as "no window".
    def x_query(self, *args, timeout=5):
        end = time.monotonic() + timeout
        while True:
            result = self.x(*args)
            if result.returncode == 0 or (result.returncode == 1 and not result.stderr.strip()):
                return result
            if time.monotonic() > end:
                raise AssertionError("%s kept failing: %s" % (args[0], result.stderr.strip()))
            time.sleep(0.02)

    def visible_windows(self, name="Untitled"):
        result = self.x_query("xdotool", "search", "--onlyvisible", "--name", "^%s$" % name)
        return [int(w) for w in result.stdout.split()]

    def geometry(self, window):
        """The window's place and size on the screen, or None once it is gone."""
        result = self.x(os.environ["VQ_X_EVENTS"], "geometry", str(window))
        if result.returncode not in (0, 2):
            raise AssertionError(result.stderr.strip())
        return tuple(int(n) for n in result.stdout.split()) if result.returncode == 0 else None

    def wait_for_window(self, predicate, what, timeout=15):
        def find():
            for window in self.visible_windows():
                geometry = self.geometry(window)
                if geometry and predicate(geometry):
                    return window, geometry
            return None
        return self.wait_for(find, timeout, what)

    def wait_for_only_window(self, window, timeout=10):
        """Waits until the given window is the only one showing (others may still be going)."""
        self.wait_for(lambda: self.visible_windows() == [window], timeout, "window %d alone on screen" % window)

    def wait_active(self, window, timeout=10):
        """Keys go to the focused window: wait until the window manager has given it the focus."""
        def active():
            out = self.x("xdotool", "getactivewindow").stdout.strip()
            return out.isdigit() and int(out) == window
        self.wait_for(active, timeout, "window %d to get the focus" % window)

    def screen_saver_on(self):
        """Whether the X server's screen saver is active now (the X screen-saver extension)."""
        import ctypes

        class Info(ctypes.Structure):
            _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                        ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong), ("event_mask", ctypes.c_ulong)]
        x11 = ctypes.CDLL("libX11.so.6")
        xss = ctypes.CDLL("libXss.so.1")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(Info)]
        dpy = x11.XOpenDisplay(self.display.encode())
        info = Info()
        try:
            if not xss.XScreenSaverQueryInfo(dpy, x11.XDefaultRootWindow(dpy), ctypes.byref(info)):
                raise RuntimeError("no screen-saver extension")
        finally:
            x11.XCloseDisplay(dpy)
        return info.state == 1  # ScreenSaverOn

    def screen_size(self):
        width, height = self.size.split("x")
        return int(width), int(height)

    # -- pixels --------------------------------------------------------------------------------
    def screenshot(self):
        result = subprocess.run([os.environ["VQ_X_EVENTS"], "screenshot"], env=self.env, capture_output=True, timeout=20)
        if result.returncode != 0:
            raise AssertionError(result.stderr.decode(errors="replace"))
        return PpmImage(result.stdout)


class StoppingProxy:
    """A display socket of the test's own in front of a display server's, through which the
    program connects; bytes and file descriptors go on as they come, whole messages at a time.
    Each message, either way, is shown to watch(message, from_client, proxy): at the first it
    returns true for, the server is stopped before that message goes on, for `pause` seconds or
    until close(). length(buffer, from_client, first) tells how long the buffer's first message
    is; inject() hands the program a message as if from the server."""

    def __init__(self, server, target, path, length, watch, pause=None):
        self.server, self.target, self.path, self.length = server, target, path, length
        self.watch, self.pause, self.stopped_at, self.armed = watch, pause, None, False
        self.clients, self.lock = [], threading.Lock()
        self.listener = socket.socket(socket.AF_UNIX)
        self.listener.bind(path)
        os.chmod(path, 0o777)
        self.listener.listen(4)
        threading.Thread(target=self.accept, daemon=True).start()

    def close(self):
        self.listener.close()
        os.unlink(self.path)
        if self.stopped_at and self.pause is None:
            self.server.send_signal(signal.SIGCONT)

    def inject(self, message):
        with self.lock:
            self.clients[0].sendall(message)

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.socket(socket.AF_UNIX)
            server.connect(self.target)
            self.clients.append(client)
            threading.Thread(target=self.forward, args=(client, server, True), daemon=True).start()
            threading.Thread(target=self.forward, args=(server, client, False), daemon=True).start()

    def forward(self, source, sink, from_client):
        pending, fds, first = b"", [], True
        while True:
            try:
                data, more, _, _ = socket.recv_fds(source, 65536, 16)
            except OSError:
                data, more = b"", []
            if not data:
                for end in (source, sink):
                    end.close()
                return
            pending, fds, whole = pending + data, fds + more, 0
            view = memoryview(pending)  # messages looked at in place, not copied out one by one
            while 0 < (size := self.length(view[whole:], from_client, first)) <= len(pending) - whole:
                if self.stopped_at is None and self.watch(bytes(view[whole:whole + size]), from_client, self):
                    self.stopped_at = time.monotonic()
                    self.server.send_signal(signal.SIGSTOP)
                    if self.pause is not None:
                        threading.Timer(self.pause, self.server.send_signal, (signal.SIGCONT,)).start()
                whole, first = whole + size, False
            if not whole:
                continue
            try:
                with self.lock:
                    sent = socket.send_fds(sink, [pending[:whole]], fds) if fds else 0
                    sink.sendall(pending[sent:whole])
            except OSError:
                return
            finally:
                for fd in fds:
                    os.close(fd)
            pending, fds = pending[whole:], []


def x_message_length(buffer, from_client, first):
    """The length of an X connection's first message (0 while its header is not in)."""
    if len(buffer) < (4 if from_client and not first else 8):
        return 0
    word = lambda offset: struct.unpack_from("=H", buffer, offset)[0]
    padded = lambda n: (n + 3) & ~3
    if first:  # the connection's setup: the client's names its authorisation, the server's answer its length
        return 12 + padded(word(6)) + padded(word(8)) if from_client else 8 + 4 * word(6)
    if from_client:  # a request; a length of 0 words says the big-requests length follows
        if word(2):
            return 4 * word(2)
        return 4 * struct.unpack_from("=I", buffer, 4)[0] if len(buffer) >= 8 else 0
    return 32 + (4 * struct.unpack_from("=I", buffer, 4)[0] if buffer[0] & 0x7f in (1, 35) else 0)


def wait_for(predicate, timeout, what, seen=None):
    """Polls predicate until it gives a true value; on time-out the error says what was seen."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out after %s s waiting for %s%s" % (timeout, what, "\n" + seen() if seen else ""))


def exit_status(session, timeout):
    """The program's exit status; if it has not ended in time, the error says where it was."""
    try:
        session.stdout, session.stderr = session.app.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError("the program did not end within %s s\n%s" % (timeout, session.seen()))
    return session.app.returncode


def catches(app, number):
    """Whether the running program has its own handler for the signal."""
    with open("/proc/%d/status" % app.pid) as status:
        caught = next(int(line.split()[1], 16) for line in status if line.startswith("SigCgt:"))
    return bool(caught >> (number - 1) & 1)


def program_state(app):
    """The program's threads, each with its state and, from gdb, where it stands."""
    if not app or app.poll() is not None:
        return "the program: %s" % ("not started" if not app else "ended with %s" % app.returncode)
    lines = ["the program (pid %d), its threads:" % app.pid]
    for task in sorted(os.listdir("/proc/%d/task" % app.pid), key=int):
        try:
            with open("/proc/%d/task/%s/stat" % (app.pid, task)) as f:
                stat = f.read()
            with open("/proc/%d/task/%s/wchan" % (app.pid, task)) as f:
                wchan = f.read()
        except OSError:
            continue
        name, state = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2]
        lines.append("  %s %s state %s in %s" % (task, name, state, wchan or "-"))
    try:
        trace = subprocess.run(["gdb", "-p", str(app.pid), "-batch", "-nx", "-ex", "thread apply all bt 12"],
                               capture_output=True, text=True, timeout=60)
        lines += [line for line in trace.stdout.splitlines() if line.startswith(("Thread ", "#"))]
    except (OSError, subprocess.TimeoutExpired) as error:
        lines.append("no backtraces: %s" % error)
    return "\n".join(lines)


class LineReader:
    """Lines a helper prints, read with a deadline."""

    def __init__(self, stream):
        self.fd = stream.fileno()  # read unbuffered: select() sees no data held in a buffer
        self.pending = b""
        self.lines = []

    def read(self, timeout):
        """Takes in what arrives within timeout; False when nothing did or the stream ended."""
        if not select.select([self.fd], [], [], timeout)[0]:
            return False
        chunk = os.read(self.fd, 65536)
        if not chunk:
            return False
        *complete, self.pending = (self.pending + chunk).split(b"\n")
        self.lines.extend(line.decode().strip() for line in complete)
        return True

    def wait_for(self, prefix, timeout=10, exact=False):
        end = time.monotonic() + timeout
        while True:
            for line in self.lines:
                if line == prefix or (not exact and line.startswith(prefix)):
                    return line
            if time.monotonic() >= end:
                raise AssertionError("no line starting with %r; got %r" % (prefix, self.lines))
            self.read(0.1)

    def drain(self, quiet=0.2):
        """The lines that came since the last look, once none has come for `quiet` seconds."""
        start = len(self.lines)
        while self.read(quiet):
            pass
        return self.lines[start:]


def end_all(app, procs):
    """Ends the program under test, then every helper, the last started first."""
    if app:
        if app.poll() is None:
            app.kill()
        try:  # a child of the program's may still hold its output open
            app.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            pass
    for proc in reversed(procs):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()


def as_user(user):
    """A command prefix that drops root for the named account (CI runs as root, which ignores
    permission bits)."""
    return ["setpriv", "--reuid=" + user, "--regid=" + user_group(user), "--clear-groups", "--"]


def user_group(user):
    import grp
    import pwd
    return grp.getgrgid(pwd.getpwnam(user).pw_gid).gr_name


def run_as(user, *command):
    return subprocess.run(as_user(user) + list(command), capture_output=True, text=True, timeout=20)


def snapshot(root):
    """Every item below root with its type, mode and, for files, a checksum of its bytes."""
    import hashlib
    items = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            digest = ""
            if os.path.isfile(path) and not os.path.islink(path):
                try:
                    with open(path, "rb") as f:
                        digest = hashlib.sha256(f.read()).hexdigest()
                except OSError:
                    digest = "unreadable"
            items[os.path.relpath(path, root)] = (info.st_mode, digest)
    return items


class PpmImage:
    def __init__(self, data):
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)  # one whitespace byte ends it
        if not header:
            raise AssertionError("no picture")
        self.width, self.height = int(header.group(1)), int(header.group(2))
        self.pixels = data[header.end():]

    def pixel(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])
