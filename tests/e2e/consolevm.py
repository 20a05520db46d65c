"""A computer with no desktop, for end-to-end tests on the Linux console: a minimal Debian guest
made from Debian's packages (mmdebstrap, from this machine's apt sources) with the program's
package and what it depends on, booted under qemu-system with software emulation.

The guest's root is an initramfs: a base archive, kept under build/vm/ and keyed by what it was
made from, and a small archive of each boot's own, laid over it, with the package's files and an
init that starts udev and then runs the shell lines the test sends it on the serial port. The
amd64 guest boots systemd instead where a test asks for it, with the board's console unit
enabled in place of tty1's login prompt, as the README says; a service of the guest's own then
runs the lines. The screen is read with QMP's screendump, keys typed with its send-key.

Standard library only."""
import glob
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from xsession import PpmImage, wait_for

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CACHE = os.path.join(ROOT, "build", "vm")
# The releases the guest is made from: this machine's, or those the test command found whole.
SOURCES = os.environ.get("VQ_APT_SOURCES", "/etc/apt/sources.list.d/debian.sources")
# What the guest carries beside the package: udev, the kernel, the tools of the init,
# avahi-browse, cec-ctl, an X server with its keyboard and xset, and sway with seatd.
GUEST_PACKAGES = ["udev", "kmod", "procps", "kbd", "systemd", "iproute2", "avahi-utils", "v4l-utils",
                  "xserver-xorg-core", "xserver-xorg-input-libinput", "x11-xserver-utils", "sway", "seatd"]
# What an extracted guest carries of a system, where nothing installs the essential packages.
EXTRACTED_SYSTEM = ["base-files", "base-passwd", "dash", "bash", "coreutils", "util-linux", "libc-bin", "mount",
                    "sed", "grep"]
# Changed whenever Guest.make makes a guest otherwise: guests made before are made anew.
GUEST_RECIPE = 8
# The kernel's modules a guest may need; the rest of its tree goes.
MODULES = ["drivers/gpu", "drivers/video", "drivers/virtio", "drivers/char", "drivers/input", "drivers/i2c",
           "drivers/tty", "drivers/platform", "drivers/dma-buf", "drivers/base", "lib", "mm", "fs/fuse",
           "drivers/net/virtio_net.ko", "net/core", "drivers/media"]
MACHINES = {
    "amd64": {"qemu": "qemu-system-x86_64", "kernel": "linux-image-amd64", "serial": "ttyS0",
              "machine": ["-M", "pc"], "vga": {"virtio": ["-vga", "none", "-device", "virtio-gpu-pci,id=video0{outputs}"],
                                                "std": ["-vga", "std"]}},
    # This machine cannot run arm64's package scripts: its guest is extracted, not installed.
    "arm64": {"qemu": "qemu-system-aarch64", "kernel": "linux-image-arm64", "serial": "ttyAMA0", "extract": True,
              "machine": ["-M", "virt", "-cpu", "cortex-a72"],
              "vga": {"virtio": ["-device", "virtio-gpu-pci,id=video0{outputs}", "-device", "virtio-keyboard-pci"]}},
}

# The guest's init: the kernel's file systems, udev with every device announced, then the lines
# the test sends, each run by the shell, its output and status on the serial port.
INIT = r"""#!/bin/sh
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=linux LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
for folder in /run /tmp /dev/shm; do mount -t tmpfs tmpfs $folder; done
chmod 1777 /tmp
[ -e /etc/ld.so.cache ] || ldconfig  # an extracted guest's libraries, found
/lib/systemd/systemd-udevd --daemon
udevadm trigger --type=subsystems --action=add
udevadm trigger --type=devices --action=add
udevadm settle --timeout=60
exec /bin/sh /lines
"""
# The lines the test sends, run one by one, under the init above or under systemd.
LINES = r"""export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root TERM=linux LANG=C.UTF-8
serial=/dev/@SERIAL@
stty -F $serial raw -echo
# Open from here on: a port that nothing holds open loses what comes in meanwhile.
exec 3<>$serial
cat > /tmp/lib.sh <<'END'
# A command's standard error and status, then the word that the line is done.
run() {
    "$@" 2>/tmp/stderr </dev/null
    echo "VQ-STATUS $?"
}
# The program on tty1, its controlling terminal, in the background: its process number in
# /tmp/board.pid, its status in /tmp/board.status once it ends.
board() {
    rm -f /tmp/board.status /tmp/board.pid
    setsid -c sh -c '"$@" <>/dev/tty1 >&0 2>/tmp/stderr & echo $! >/tmp/board.pid; wait $!; echo $? >/tmp/board.status' \
        board "$@" <>/dev/tty1 >&0 &
    while [ ! -s /tmp/board.pid ]; do sleep 0.1; done
}
# Waits for the program to end, at most $1 seconds.
ended() {
    for i in $(seq $(($1 * 10))); do
        [ -s /tmp/board.status ] && break
        sleep 0.1
    done
    echo "VQ-STATUS $(cat /tmp/board.status 2>/dev/null || echo running)"
}
END
echo VQ-READY >&3
# Each line the test sends runs in a shell of its own: a mistake in one ends only that shell.
while IFS= read -r line; do
    sh -c ". /tmp/lib.sh; $line" 3>&-
    echo "VQ-DONE"
done <&3 >&3 2>&1
echo o > /proc/sysrq-trigger
"""
# Under systemd: the lines as a service, and the serial port left to them (no login prompt there).
SERIAL_SERVICE = """[Unit]
Description=The test's shell lines on the serial port
[Service]
ExecStart=/bin/sh /lines
"""


def run(command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options)


def deb_field(deb, field):
    return subprocess.run(["dpkg-deb", "-f", deb, field], capture_output=True, text=True).stdout.strip()


def package_names(relation):
    """The first package of each alternative in a Depends or Recommends field."""
    return [re.split(r"[\s(]", choice.split("|")[0].strip())[0] for choice in relation.split(",") if choice.strip()]


class Guest:
    """The guest made for one package and architecture: its kernel and its base archive."""

    def __init__(self, deb, arch):
        self.deb, self.arch, self.machine = os.path.abspath(deb), arch, MACHINES[arch]
        key = hashlib.sha256(repr((GUEST_RECIPE, GUEST_PACKAGES, EXTRACTED_SYSTEM, MODULES)).encode())
        with open(SOURCES, "rb") as sources:
            key.update(sources.read())
        for field in ("Depends", "Recommends", "Architecture"):
            key.update(deb_field(self.deb, field).encode())
        self.folder = os.path.join(CACHE, "%s-%s" % (arch, key.hexdigest()[:16]))
        self.kernel = os.path.join(self.folder, "vmlinuz")
        self.base = os.path.join(self.folder, "base.cpio")

    def make(self):
        """Makes the guest unless it is made already; returns the seconds it took, None if kept."""
        if os.path.exists(self.base):
            return None
        started = time.monotonic()
        for other in glob.glob(os.path.join(CACHE, self.arch + "-*")):  # made from anything else
            shutil.rmtree(other)
        tree = os.path.join(self.folder, "root")
        os.makedirs(self.folder)
        packages = GUEST_PACKAGES + [self.machine["kernel"]] + package_names(deb_field(self.deb, "Recommends"))
        if self.machine.get("extract"):
            # The package's own files come with each boot; its dependencies are extracted by name.
            packages += EXTRACTED_SYSTEM + package_names(deb_field(self.deb, "Depends"))
            options = ["--variant=extract", "--skip=check/qemu"]
        else:
            options = ["--variant=minbase", "--include=" + self.deb,
                       "--hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount",
                       # An account in the groups the console needs, and one in none of them.
                       "--customize-hook=chroot \"$1\" useradd --create-home --groups video,render,input board",
                       "--customize-hook=chroot \"$1\" useradd --create-home stranger",
                       # The README's boot to the board, for a guest that boots systemd.
                       "--customize-hook=chroot \"$1\" systemctl disable getty@tty1.service",
                       "--customize-hook=chroot \"$1\" systemctl enable velquarin-control-board-console.service"]
        run(["mmdebstrap", "--architectures=" + self.arch, "--mode=root", "--quiet",
             "--aptopt=APT::Install-Recommends false", "--include=" + ",".join(packages)] + options
            + ["bookworm", tree, SOURCES], timeout=1200)
        for table in ("passwd", "group"):  # what base-passwd would have installed
            if not os.path.exists(os.path.join(tree, "etc", table)):
                shutil.copy(os.path.join(tree, "usr/share/base-passwd/%s.master" % table),
                            os.path.join(tree, "etc", table))
        kernels = [name for name in os.listdir(os.path.join(tree, "boot")) if name.startswith("vmlinuz-")]
        shutil.copy(os.path.join(tree, "boot", kernels[0]), self.kernel)
        self._prune(tree, kernels[0][len("vmlinuz-"):])
        self._pack(tree, self.base + ".part")
        shutil.rmtree(tree)
        os.rename(self.base + ".part", self.base)
        return time.monotonic() - started

    @staticmethod
    def _prune(tree, release):
        for folder in ("boot", "usr/share/doc", "usr/share/man", "usr/share/locale", "usr/share/info",
                       "var/cache/apt", "var/lib/apt/lists", "usr/share/zoneinfo"):
            shutil.rmtree(os.path.join(tree, folder), ignore_errors=True)
        modules = "usr/lib/modules" if os.path.isdir(os.path.join(tree, "usr/lib/modules")) else "lib/modules"
        kernel = os.path.join(tree, modules, release, "kernel")
        for top, folders, _ in os.walk(kernel):
            relative = os.path.relpath(top, kernel)
            for folder in list(folders):
                path = folder if relative == "." else os.path.join(relative, folder)
                if not any(path == keep or keep.startswith(path + "/") or path.startswith(keep + "/")
                           for keep in MODULES):
                    shutil.rmtree(os.path.join(top, folder))
                    folders.remove(folder)
        run(["depmod", "--basedir", tree, release])

    @staticmethod
    def _pack(tree, archive):
        with open(archive, "wb") as out:
            with subprocess.Popen(["find", "."], cwd=tree, stdout=subprocess.PIPE) as files:
                subprocess.run(["cpio", "--quiet", "-o", "-H", "newc"], cwd=tree, stdin=files.stdout, stdout=out,
                               check=True)


class ConsoleVM:
    """One boot of the guest with the package's current files laid over it.
    gpu: "virtio" (virtio-gpu) or "std" (the standard VGA, bochs-drm); outputs: virtio-gpu's heads;
    systemd: systemd boots, not the test's init;
    network: a network card, on qemu's own network, where 10.0.2.2 is this machine's 127.0.0.1;
    program: a build's program in place of the package's (VQ_CONSOLE_PROGRAM, for a developer);
    the test's helper freeze_thread (VQ_FREEZE_THREAD) goes in as /usr/local/bin/freeze_thread."""

    def __init__(self, guest, gpu="virtio", outputs=1, memory=2048, kernel_options="", systemd=False, network=False):
        self.guest, self.gpu, self.outputs, self.systemd, self.network = guest, gpu, outputs, systemd, network
        self.program = os.environ.get("VQ_CONSOLE_PROGRAM")
        self.memory, self.kernel_options = memory, kernel_options
        self.folder = tempfile.mkdtemp(prefix="vq-console-")
        self.qemu, self.serial, self.qmp, self.log = None, None, None, b""
        self.booted_in = None

    def __enter__(self):
        try:
            self._boot()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        for connection in (self.serial, self.qmp):
            if connection:
                connection.close()
        if self.qemu:
            if self.qemu.poll() is None:
                self.qemu.kill()
            self.qemu.communicate()
        shutil.rmtree(self.folder, ignore_errors=True)

    def _overlay(self):
        """The package's files and the init, as an archive laid over the base."""
        tree = os.path.join(self.folder, "overlay")
        run(["dpkg-deb", "-x", self.guest.deb, tree])
        # A folder of the archive replaces whatever the base has of that name: the package's
        # /lib would take the place of a merged /usr's link to usr/lib, and every library
        # with it. Its files go where the link leads.
        for top in ("bin", "sbin", "lib"):
            if os.path.isdir(os.path.join(tree, top)):
                shutil.copytree(os.path.join(tree, top), os.path.join(tree, "usr", top), dirs_exist_ok=True)
                shutil.rmtree(os.path.join(tree, top))
        if self.program:
            shutil.copy(self.program, os.path.join(tree, "usr/bin/velquarin-control-board"))
        if os.environ.get("VQ_FREEZE_THREAD") and self.systemd:
            os.makedirs(os.path.join(tree, "usr/local/bin"), exist_ok=True)
            shutil.copy(os.environ["VQ_FREEZE_THREAD"], os.path.join(tree, "usr/local/bin/freeze_thread"))
        with open(os.path.join(tree, "init"), "w") as init:
            init.write(INIT)
        os.chmod(os.path.join(tree, "init"), 0o755)
        serial = self.guest.machine["serial"]
        with open(os.path.join(tree, "lines"), "w") as lines:
            lines.write(LINES.replace("@SERIAL@", serial))
        units = os.path.join(tree, "etc/systemd/system")
        os.makedirs(os.path.join(units, "multi-user.target.wants"))
        with open(os.path.join(units, "vq-lines.service"), "w") as unit:
            unit.write(SERIAL_SERVICE)
        os.symlink("../vq-lines.service", os.path.join(units, "multi-user.target.wants/vq-lines.service"))
        os.symlink("/dev/null", os.path.join(units, "serial-getty@%s.service" % serial))
        overlay = os.path.join(self.folder, "overlay.cpio")
        Guest._pack(tree, overlay)
        initrd = os.path.join(self.folder, "initrd")
        with open(initrd, "wb") as out:
            for part in (self.guest.base, overlay):
                with open(part, "rb") as f:
                    shutil.copyfileobj(f, out, 1 << 20)
        return initrd

    def _boot(self):
        started = time.monotonic()
        machine = self.guest.machine
        serial_path, qmp_path = os.path.join(self.folder, "serial"), os.path.join(self.folder, "qmp")
        outputs = ",max_outputs=%d,edid=off" % self.outputs if self.outputs > 1 else ""
        display = [part.format(outputs=outputs) for part in machine["vga"][self.gpu]]
        command = [machine["qemu"]] + machine["machine"] + [
            "-accel", "tcg", "-smp", "2", "-m", str(self.memory), "-nodefaults", "-no-user-config",
            "-display", "none", "-kernel", self.guest.kernel, "-initrd", self._overlay(),
            "-append", "console=%s rdinit=%s quiet loglevel=3 %s" % (
                machine["serial"], "/lib/systemd/systemd systemd.show_status=0" if self.systemd else "/init",
                self.kernel_options),
            "-chardev", "socket,id=serial,path=%s,server=on,wait=on" % serial_path, "-serial", "chardev:serial",
            "-qmp", "unix:%s,server=on,wait=off" % qmp_path] + display + (
                ["-nic", "user,model=virtio-net-pci"] if self.network else [])
        self.qemu = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.serial = wait_for(lambda: self._connected(serial_path), 30, "qemu's serial port")
        self.serial.setblocking(False)
        self.qmp = wait_for(lambda: self._connected(qmp_path), 30, "qemu's QMP socket", self.seen)
        self.qmp_file = self.qmp.makefile("rw")
        self.qmp_file.readline()  # the greeting
        self._command("qmp_capabilities")
        self.wait_for_serial(b"VQ-READY", 180, "the guest to boot")
        self.booted_in = time.monotonic() - started

    def _connected(self, path):
        # The path is there from QEMU's bind(), a moment before it listens: refused until then.
        assert self.qemu.poll() is None, "qemu ended with %s: %s" % (self.qemu.returncode, self.qemu.stdout.read())
        sock = socket.socket(socket.AF_UNIX)
        if sock.connect_ex(path) == 0:
            return sock
        sock.close()

    def _read(self):
        try:
            while True:
                data = self.serial.recv(65536)
                if not data:
                    break
                self.log += data
        except BlockingIOError:
            pass
        return self.log

    def seen(self):
        text = self._read().decode(errors="replace")
        state = "qemu: running" if self.qemu and self.qemu.poll() is None else "qemu: ended"
        if self.qemu and self.qemu.poll() is not None:
            state += " with %s: %s" % (self.qemu.returncode, self.qemu.stdout.read().decode(errors="replace"))
        return "%s\nthe serial port's last lines:\n%s" % (state, "\n".join(text.splitlines()[-25:]))

    def wait_for_serial(self, word, timeout, what):
        start = len(self.log)
        wait_for(lambda: word in self._read()[start:] or self.qemu.poll() is not None, timeout, what, self.seen)
        if word not in self.log[start:]:
            raise AssertionError("qemu ended waiting for %s\n%s" % (what, self.seen()))

    def shell(self, line, timeout=60):
        """Runs one shell line in the guest; returns what it printed."""
        start = len(self._read())
        self.serial.sendall(line.encode() + b"\n")
        self.wait_for_serial(b"VQ-DONE", timeout, "the guest to run: " + line)
        return self.log[start:self.log.index(b"VQ-DONE", start)].decode(errors="replace")

    def status(self, output):
        found = re.search(r"VQ-STATUS (\d+)", output)
        if not found:
            raise AssertionError("no status in: " + output)
        return int(found.group(1))

    def stderr(self):
        return self.shell("cat /tmp/stderr")

    def _command(self, name, **arguments):
        self.qmp_file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.qmp_file.flush()
        while True:
            answer = json.loads(self.qmp_file.readline())
            if "return" in answer:
                return answer["return"]
            if "error" in answer:
                raise AssertionError("QMP %s: %s" % (name, answer["error"]))

    def screenshot(self, head=None):
        path = os.path.join(self.folder, "screen.ppm")
        arguments = {"filename": path}
        if head is not None:
            arguments.update(device="video0", head=head)
        self._command("screendump", **arguments)
        with open(path, "rb") as f:
            return PpmImage(f.read())

    def key(self, *names):
        """Types a key (QMP's key codes: esc, ret, ...), with any modifiers before it."""
        self._command("send-key", keys=[{"type": "qcode", "data": name} for name in names])

    def wait_for(self, predicate, timeout, what):
        return wait_for(predicate, timeout, what, self.seen)


if __name__ == "__main__":
    # consolevm.py DEB [ARCH]: makes the guest for the package ahead of the tests that boot it.
    made = Guest(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "amd64").make()
    print("guest %s" % ("made in %.0f s" % made if made is not None else "kept from before"))
