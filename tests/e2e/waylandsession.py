"""A headless sway session for end-to-end tests. sway refuses to run as root: it and the
program under test run as an unprivileged account, with a runtime folder of its own.

A nested session runs its sway inside a window of another: its output is that window, so it
goes when the window is closed (a display switched off) and `create_output` brings a new one,
which a headless output cannot do."""
import json
import os
import pwd
import shutil
import struct
import subprocess
import tempfile

from xsession import PpmImage, StoppingProxy, as_user, end_all, exit_status, program_state, wait_for

USER = "nobody"


def copy_program(binary, folder):
    """A copy of the program and its resources, where it has them, in folder, for the
    unprivileged account to run whatever the folder the tree was built in (a fresh clone's may
    be root's alone)."""
    program = os.path.join(folder, os.path.basename(binary))
    shutil.copy2(binary, program)
    resources = os.path.join(os.path.dirname(binary), "resources")
    if os.path.isdir(resources):
        shutil.copytree(resources, os.path.join(folder, "resources"))
    return program


class WaylandSession:
    def __init__(self, outputs=1, nested=False, borders=True, activation="focus"):
        self.outputs = outputs
        self.borders = borders
        self.activation = activation  # sway's own default only marks the window urgent
        self.outer = WaylandSession(borders=False) if nested else None
        self.shown_output = "WL-1" if nested else "HEADLESS-1"  # what screenshot() takes
        self.procs, self.proxies = [], []
        self.app = None
        account = pwd.getpwnam(USER)
        self.root = tempfile.mkdtemp(prefix="vq-wayland-")
        os.chmod(self.root, 0o755)
        self.runtime = os.path.join(self.root, "runtime")
        self.home = os.path.join(self.root, "home")
        for folder in (self.runtime, self.home):
            os.mkdir(folder, 0o700)
            os.chown(folder, account.pw_uid, account.pw_gid)

    def __enter__(self):
        if self.outer:
            self.outer.__enter__()
        config = os.path.join(self.root, "config")
        with open(config, "w") as f:
            f.write("focus_on_window_activation %s\n" % self.activation)
            if not self.borders:
                f.write("default_border none\n")
            for n in range(1, self.outputs + 1):
                f.write("output HEADLESS-%d resolution 1920x1080 position %d 0\n" % (n, 1920 * (n - 1)))
        os.chmod(config, 0o644)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home,
                    "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
                    "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_HEADLESS_OUTPUTS": str(self.outputs)}
        if self.outer:
            self.env.update(WLR_BACKENDS="wayland", WLR_WL_OUTPUTS=str(self.outputs),
                            WAYLAND_DISPLAY=os.path.join(self.outer.runtime, self.outer.env["WAYLAND_DISPLAY"]))
        sway = subprocess.Popen(as_user(USER) + ["sway", "-c", config], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(sway)

        def sockets():
            names = os.listdir(self.runtime)
            display = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            return (display[0], ipc[0]) if display and ipc else None
        display, ipc = wait_for(sockets, 15, "sway to start")
        self.env.update(WAYLAND_DISPLAY=display, SWAYSOCK=os.path.join(self.runtime, ipc))
        self.wait_for(lambda: len(self.outputs_now()) == self.outputs, 15, "sway's outputs")
        return self

    def __exit__(self, *exc):
        for proxy in self.proxies:
            proxy.close()
        end_all(self.app, self.procs)
        shutil.rmtree(self.root, ignore_errors=True)
        if self.outer:
            self.outer.__exit__(*exc)

    def stopping_display(self, watch):
        """A display of the test's own in front of sway's (StoppingProxy); its path."""
        path = os.path.join(self.runtime, "proxy-%d" % len(self.proxies))
        self.proxies.append(StoppingProxy(self.procs[0], os.path.join(self.runtime, self.env["WAYLAND_DISPLAY"]), path,
                                          lambda buffer, *_: struct.unpack_from("=I", buffer, 4)[0] >> 16 if len(buffer) >= 8 else 0,
                                          watch))
        return self.proxies[-1], path

    def run(self, *command):
        return subprocess.run(as_user(USER) + list(command), env=self.env, capture_output=True, timeout=20)

    def start(self, binary, extra_env=None, arguments=()):
        env = dict(self.env, **(extra_env or {}))
        self.app = subprocess.Popen(as_user(USER) + [binary] + list(arguments), env=env, cwd=self.home,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return self.app

    def exit_status(self, timeout=10):
        return exit_status(self, timeout)

    def wait_for(self, predicate, timeout, what):
        return wait_for(predicate, timeout, what, self.seen)

    def seen(self):
        """What sway showed and what the program was doing, for a failure's message."""
        try:
            views = ["view %r app_id %r at %s fullscreen %s focused %s inhibitor %s" % (
                v.get("name"), v.get("app_id"), v["rect"], v.get("fullscreen_mode"), v.get("focused"),
                v.get("idle_inhibitors", {}).get("application")) for v in self.views()]
            focus = [o["name"] for o in self.swaymsg("-t", "get_outputs", "-r") if o.get("focused")]
            views.append("focused output: %s" % focus)
        except (AssertionError, subprocess.TimeoutExpired, ValueError) as error:
            views = ["sway's views could not be listed: %s" % error]
        return "\n".join(views + [program_state(self.app)])

    def key(self, name):
        # The pauses let the virtual keyboard's keymap reach the client before the key.
        self.run("wtype", "-s", "300", "-k", name, "-s", "300")

    def swaymsg(self, *arguments):
        result = self.run("swaymsg", *arguments)
        if result.returncode != 0:
            raise AssertionError("swaymsg failed: %s" % result.stderr.decode())
        return json.loads(result.stdout) if result.stdout.strip().startswith((b"{", b"[")) else None

    def outputs_now(self):
        return [o["name"] for o in self.swaymsg("-t", "get_outputs", "-r")]

    def views(self):
        """Every application view in sway's tree."""
        found = []

        def walk(node):
            if node.get("shell"):
                found.append(node)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(self.swaymsg("-t", "get_tree", "-r"))
        return found

    def wait_for_view(self, predicate, what, timeout=15):
        return self.wait_for(lambda: next((v for v in self.views() if predicate(v)), None), timeout, what)

    def screenshot(self):
        return PpmImage(self.run("grim", "-t", "ppm", "-o", self.shown_output, "-").stdout)

    @staticmethod
    def screen_size():
        return 1920, 1080
