"""The board on a Linux console with no desktop: the package installed in a minimal Debian guest
under qemu (consolevm.py), the program started on tty1 as a boot-to-the-board unit would, the
screen read back from the virtual graphics card and keys typed on the guest's keyboard.

Usage: test_console.py DEB

A package for another machine (arm64) is tested in an emulated machine of its kind: there the
board, its blink and Escape only, the rest being the same code."""
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BLACK, CAPTION, ROW_COLOURS, BoardChecks, layout  # noqa: E402
from consolevm import MACHINES, ConsoleVM, Guest, deb_field  # noqa: E402
from broker import TOPIC, Broker  # noqa: E402

PROGRAM = "velquarin-control-board"
WIDTH, HEIGHT = 1280, 800  # the virtual cards' first mode
# The account a boot-to-the-board unit runs as, in the groups the console needs.
AS_BOARD = "setpriv --reuid=board --regid=board --init-groups env HOME=/home/board "
AS_STRANGER = "setpriv --reuid=stranger --regid=stranger --init-groups env HOME=/home/stranger "
CONSOLE_TEXT = "text written on the console before the board"


def can_make_guests(arch):
    tools = ("mmdebstrap", MACHINES[arch]["qemu"], "cpio", "depmod")
    return os.geteuid() == 0 and all(subprocess.run(["sh", "-c", "command -v " + tool], capture_output=True).returncode
                                     == 0 for tool in tools)


class Console(BoardChecks, unittest.TestCase):
    DEB = None
    guest = None
    times = {}

    @classmethod
    def setUpClass(cls):
        arch = deb_field(cls.DEB, "Architecture")
        if not can_make_guests(arch):
            raise unittest.SkipTest("making and booting a guest needs root, mmdebstrap, %s, cpio and kmod"
                                    % MACHINES[arch]["qemu"])
        cls.guest = Guest(cls.DEB, arch)
        made = cls.guest.make()
        cls.times["guest made"] = "%.0f s" % made if made is not None else "kept from before"

    @classmethod
    def tearDownClass(cls):
        print("\nconsole times: " + ", ".join("%s %s" % item for item in cls.times.items()), file=sys.stderr)

    def boot(self, everywhere=False, **options):
        if self.guest.arch != "amd64" and not everywhere:
            self.skipTest("the amd64 package's test")
        self.started = time.monotonic()
        return ConsoleVM(self.guest, **options)

    def tearDown(self):
        if hasattr(self, "started"):
            self.times[self._testMethodName[5:]] = "%.0f s" % (time.monotonic() - self.started)

    def start(self, vm, command):
        vm.shell("echo '%s' > /dev/tty1" % CONSOLE_TEXT)
        vm.shell("board " + command)

    def platform(self, vm):
        return vm.shell("grep -o 'libq[a-z]*\\.so' /proc/$(cat /tmp/board.pid)/maps | sort -u").split()

    def board_drawn(self, vm, head=None, width=WIDTH, height=HEIGHT, seen=None, turn=0):
        """The board covering the screen, every block in its row's colour or black where the
        board turned `turn` degrees has it: its blocks' states, or None."""
        seen = {} if seen is None else seen
        image = vm.screenshot(head)
        seen.update(size=(image.width, image.height), corner=image.pixel(1, 1))
        if (image.width, image.height) != (width, height) or image.pixel(1, 1) != BLACK:
            return None
        upright = (width, height) if turn % 180 == 0 else (height, width)
        seen["blocks"] = states = self.block_states(image, *upright, turn=turn)
        return states if None not in states and any(states) else None

    def wait_board(self, vm, head=None, width=WIDTH, height=HEIGHT, timeout=60, turn=0):
        seen = {}
        try:
            return vm.wait_for(lambda: self.board_drawn(vm, head, width, height, seen, turn), timeout,
                               "the board on the screen")
        except AssertionError as error:
            said = vm.shell("journalctl -b -o short-monotonic -u velquarin-control-board-console; dmesg | tail"
                            if vm.systemd else "cat /tmp/stderr")
            raise AssertionError("%s\nthe screen: %s\nthe program's standard error:\n%s" % (error, seen, said)) from None

    def assert_blinks(self, vm, first):
        vm.wait_for(lambda: self.block_states(vm.screenshot(), WIDTH, HEIGHT) not in (first, None), 60,
                    "a tick to change the board")

    def assert_console_back(self, vm):
        """Text mode again: the console's own text on black, nothing of the board."""
        def text_back():
            image = vm.screenshot()
            colours = {image.pixel(x, y) for x in range(0, 400, 2) for y in range(0, 48)}
            board = {image.pixel(left + 5, top + 5) for left, top, _, _ in layout(WIDTH)}
            return board == {BLACK} and len(colours) > 1
        vm.wait_for(text_back, 20, "the console's text back on the screen")

    def assert_standby_and_wake(self, vm, turn,
                                dpms="for c in /sys/class/drm/card*-*; do [ $(cat $c/status) = connected ] "
                                     "&& cat $c/dpms; done"):
        """The cues standby and wake over OSC (the board listening on port 9000): the screen's
        power off and on (as `dpms` reads it: by default the connector's), the board drawn
        again turned as it was; then standby, and Escape leaves the screen on."""
        vm.shell("ip link set lo up")

        def cue(name):  # an OSC message from bash: the address, its padding, no arguments
            address = "/board/" + name
            vm.shell("bash -c 'printf \"%s\" > /dev/udp/127.0.0.1/9000'"
                     % (address + "\\0" * (4 - len(address) % 4) + ",\\0\\0\\0"))

        def screen(word):  # every connected connector's DPMS reads the word
            try:
                vm.wait_for(lambda: set(vm.shell(dpms).split()) == {word}, 10, "the screen's DPMS to read " + word)
            except AssertionError as error:
                raise AssertionError("%s\nthe program's standard error:\n%s" % (error, vm.stderr())) from None
        screen("On")
        cue("wake")  # awake: nothing
        cue("standby")
        screen("Off")
        cue("wake")
        screen("On")
        self.wait_board(vm, turn=turn, timeout=20)
        cue("standby")
        screen("Off")
        vm.key("esc")
        self.assertEqual(self.ended(vm), 0)
        screen("On")
        self.assertNotIn("cannot switch", vm.stderr())

    def ended(self, vm, timeout=30):
        output = vm.shell("ended %d" % timeout, timeout=timeout + 10)
        return vm.status(output)

    def test_board_on_virtio_gpu_as_root(self):
        """Two outputs, the second not connected (QEMU connects a second head only when a user
        interface asks for it); the console blanks after 5 s without a key."""
        with self.boot(gpu="virtio", outputs=2, kernel_options="consoleblank=5") as vm:
            self.times["boot"] = "%.0f s" % vm.booted_in
            # A user in none of the groups the console needs is told which.
            output = vm.shell("run %s%s --console --go; cat /tmp/stderr" % (AS_STRANGER, PROGRAM))
            self.assertEqual(vm.status(output), 69)
            self.assertIn("no permission to use the console's screen and keyboard: the user is not in the groups "
                          "video,render,input", output)
            # Without a display and without --console, the console is left alone.
            output = vm.shell("run %s --go; cat /tmp/stderr" % PROGRAM)
            self.assertEqual(vm.status(output), 69)
            self.assertIn("on a Linux console with --console", output)
            output = vm.shell("run %s --console --screen HDMI-A-1; cat /tmp/stderr" % PROGRAM)
            self.assertEqual(vm.status(output), 64)
            self.assertIn("there is no screen named 'HDMI-A-1'; the screens are: Virtual-1", output)

            keyboard = vm.shell("kbd_mode -C /dev/tty1")
            self.start(vm, "%s --console --go" % PROGRAM)
            states = self.wait_board(vm)
            shown = time.monotonic()
            self.assertIn("libqlinuxfb.so", self.platform(vm))  # no OpenGL on the card: linuxfb
            self.assert_blinks(vm, states)
            time.sleep(max(0, shown + 8 - time.monotonic()))
            self.wait_board(vm)  # still there, not blanked
            vm.key("esc")
            self.assertEqual(self.ended(vm), 0)
            self.assert_console_back(vm)
            self.assertEqual(vm.shell("kbd_mode -C /dev/tty1"), keyboard)

            # Turned 90, for a screen on its side; standby and wake switch the connector, and tell
            # the television over HDMI-CEC (the kernel's emulated adapters: vivid's input is the
            # television, its output the board's).
            vm.shell("modprobe vivid && cec-ctl -d /dev/cec0 --tv >/dev/null && "
                     "{ cec-ctl -d /dev/cec0 --monitor >/tmp/cec.log 2>&1 & }")
            self.start(vm, "%s --console --go --rotate 90 --osc 9000" % PROGRAM)
            self.wait_board(vm, turn=90)
            self.assert_standby_and_wake(vm, 90)
            told = [opcode for opcode in re.findall(r"Received from .*: ([A-Z_]+) \(0x", vm.shell("cat /tmp/cec.log"))
                    if opcode in ("STANDBY", "IMAGE_VIEW_ON", "ACTIVE_SOURCE")]
            self.assertEqual(told, ["STANDBY", "IMAGE_VIEW_ON", "ACTIVE_SOURCE"] * 2, vm.shell("cat /tmp/cec.log"))

            # On X, the server's own standby and wake (its DPMS, through its modesetting driver on
            # this card).
            vm.shell("{ Xorg :1 vt2 -nolisten tcp -noreset >/tmp/xorg.log 2>&1 & }; "
                     "for i in $(seq 150); do [ -e /tmp/.X11-unix/X1 ] && break; sleep 0.2; done")
            self.start(vm, "env DISPLAY=:1 %s --go --osc 9000" % PROGRAM)
            self.wait_board(vm)
            self.assert_standby_and_wake(vm, 0, dpms="xset -display :1 q | sed -n 's/ *Monitor is //p'")
            vm.shell("pkill -x Xorg; while pgrep -x Xorg; do sleep 0.2; done")
            # On Wayland, sway's (its output power management), on the card through seatd, as the
            # board's account.
            wayland = "XDG_RUNTIME_DIR=/tmp/xdg LIBSEAT_BACKEND=seatd WLR_RENDERER=pixman "
            vm.shell("{ seatd -g video >/tmp/seatd.log 2>&1 & }; mkdir -m 700 /tmp/xdg; chown board /tmp/xdg; "
                     "{ %s%ssway >/tmp/sway.log 2>&1 & }; "
                     "for i in $(seq 150); do [ -e /tmp/xdg/wayland-1 ] && break; sleep 0.2; done" % (AS_BOARD, wayland))
            self.start(vm, "%s%sWAYLAND_DISPLAY=wayland-1 %s --go --osc 9000" % (AS_BOARD, wayland, PROGRAM))
            self.wait_board(vm)
            self.assert_standby_and_wake(vm, 0, dpms="SWAYSOCK=$(echo /tmp/xdg/sway-ipc.*) swaymsg -t get_outputs -r "
                                                     "| sed -n 's/.*\"dpms\": true.*/On/p; s/.*\"dpms\": false.*/Off/p'")
            vm.shell("pkill -x sway; pkill -x seatd; while pgrep -x sway || pgrep -x seatd; do sleep 0.2; done")

            # The frame buffer device, when the user names linuxfb.
            self.start(vm, "env QT_QPA_PLATFORM=linuxfb %s --console --go" % PROGRAM)
            self.wait_board(vm)
            vm.shell("kill -TERM $(cat /tmp/board.pid)")
            self.assertEqual(self.ended(vm), 143)
            self.assert_console_back(vm)
            self.assertEqual(vm.shell("kbd_mode -C /dev/tty1"), keyboard)

            # A screen plugged in later: the program waits for it, saying so once.
            self.start(vm, "%s --console --go --screen Virtual-2" % PROGRAM)
            vm.wait_for(lambda: "waiting for a screen on Virtual-2" in vm.stderr(), 60, "the program to wait")
            # Plugged in: QEMU cannot plug a head in, so the kernel is told to take it as connected
            # and tells of it as it does of a screen plugged in.
            vm.shell("echo on > /sys/class/drm/card0-Virtual-2/status; "
                     "echo change 00000000-0000-0000-0000-000000000000 HOTPLUG=1 > /sys/class/drm/card0/uevent")
            # Without a description from the screen (EDID), the kernel prefers 1024x768.
            self.wait_board(vm, head=1, width=1024, height=768)
            self.assertEqual(vm.stderr().count("velquarin-control-board:"), 1, vm.stderr())
            self.assertNotEqual(vm.screenshot(0).pixel(*layout(WIDTH)[0][:2]), ROW_COLOURS[0])
            vm.key("esc")
            self.assertEqual(self.ended(vm), 0)

            # Without udev's word on the devices, libinput finds no keyboard: the program says so.
            vm.shell("udevadm control --exit; rm -rf /run/udev/data")
            self.start(vm, "%s --console --go" % PROGRAM)
            self.wait_board(vm)
            vm.shell("kill -TERM $(cat /tmp/board.pid)")
            self.assertEqual(self.ended(vm), 143)
            self.assertIn("udev names no keyboard", vm.stderr())

    def test_board_blinks_and_escape(self):
        if self.guest.arch == "amd64":
            self.skipTest("the amd64 package has its board tested with the rest")
        with self.boot(everywhere=True, gpu="virtio") as vm:
            self.times["boot"] = "%.0f s" % vm.booted_in
            self.start(vm, "%s --console --go" % PROGRAM)
            self.assert_blinks(vm, self.wait_board(vm, timeout=300))
            vm.key("esc")
            self.assertEqual(self.ended(vm, timeout=120), 0)
            self.assert_console_back(vm)

    def test_start_window_return_and_escape_as_a_user(self):
        """On the standard VGA, as the unprivileged account, with eglfs forced: the start window,
        its picture and buttons, Return to the board, Escape."""
        with self.boot(gpu="std") as vm:
            self.start(vm, "%sQT_QPA_PLATFORM=eglfs %s --console" % (AS_BOARD, PROGRAM))
            def start_window():  # its caption, on its picture, at the top left
                image = vm.screenshot()
                return any(image.pixel(x, y) == CAPTION for x in range(60, 420, 2) for y in range(240, 300, 2))
            vm.wait_for(start_window, 60, "the start window's caption")
            self.assertIn("libqeglfs.so", self.platform(vm))
            vm.key("ret")
            self.wait_board(vm)
            vm.key("esc")
            self.assertEqual(self.ended(vm), 0)
            self.assert_console_back(vm)
            self.start(vm, "%sQT_QPA_PLATFORM=eglfs %s --console --go --rotate 90 --osc 9000" % (AS_BOARD, PROGRAM))
            self.wait_board(vm, turn=90)
            self.assert_standby_and_wake(vm, 90)

            # A crash gives the console back and ends with the signal's own status.
            keyboard = vm.shell("kbd_mode -C /dev/tty1")
            for signal, status in (("SEGV", 139), ("ABRT", 134)):
                self.start(vm, "%s%s --console --go" % (AS_BOARD, PROGRAM))
                self.wait_board(vm)
                vm.shell("kill -%s $(cat /tmp/board.pid)" % signal)
                self.assertEqual(self.ended(vm), status, signal)
                self.assert_console_back(vm)
                self.assertEqual(vm.shell("kbd_mode -C /dev/tty1"), keyboard, signal)
            # A stop request at any moment of the start, or the terminal hanging up: 128 + the
            # signal and the console back.
            for delay, name, status in ((0, "TERM", 143), (0.25, "TERM", 143), (0.5, "HUP", 129), (0.75, "TERM", 143),
                                        (1, "TERM", 143)):
                vm.shell("board %s%s --console --go; sleep %s; kill -%s $(cat /tmp/board.pid)"
                         % (AS_BOARD, PROGRAM, delay, name))
                self.assertEqual(self.ended(vm), status, "SIG%s %s s after the start:\n%s" % (name, delay, vm.stderr()))
                self.assert_console_back(vm)
                self.assertEqual(vm.shell("kbd_mode -C /dev/tty1"), keyboard, "SIG%s after %s s" % (name, delay))

    def test_boot_to_board_under_systemd(self):
        """The README's boot to the board, booted for real: its console unit enabled in place of
        tty1's login prompt. The card's driver is held back and loaded 20 s after the boot, as
        for a screen switched on late: the board waits for it, then shows; a crash is started
        again; Escape leaves tty1 its login prompt."""
        unit = "velquarin-control-board-console.service"
        with self.boot(systemd=True, network=True, kernel_options="modprobe.blacklist=virtio_gpu") as vm:
            self.times["systemd boot"] = "%.0f s" % vm.booted_in

            def program_lines(match="_SYSTEMD_UNIT=" + unit):
                return [line for line in vm.shell("journalctl -b -o cat " + match).splitlines() if line.strip()]
            vm.wait_for(lambda: any("waiting for a screen" in line for line in program_lines()), 60,
                        "the program to wait for a screen")
            time.sleep(20)
            vm.shell("modprobe virtio_gpu")
            loaded = time.monotonic()
            self.wait_board(vm)
            self.times["driver loaded to board"] = "%.1f s" % (time.monotonic() - loaded)
            said, unit_said = program_lines(), program_lines("-u " + unit)
            self.assertEqual(len(said), 1, said)
            self.assertLess(len(unit_said), 10, unit_said)
            self.assertEqual(vm.shell("systemctl show -p NRestarts --value " + unit).strip(), "0")

            def main_pid():
                return vm.shell("systemctl show -p MainPID --value " + unit).strip()
            crashed = main_pid()
            vm.shell("kill -SEGV " + crashed)
            killed = time.monotonic()
            vm.wait_for(lambda: main_pid() not in ("0", crashed), 30, "the unit to start the board again")
            self.wait_board(vm)
            back = time.monotonic() - killed
            self.times["crash to board"] = "%.1f s" % back
            self.assertLess(back, 10)
            # A healthy start says nothing.
            self.assertEqual(program_lines("_PID=" + main_pid()), [])
            self.assertFalse([line for line in program_lines() if "QStandardPaths" in line])

            # The owner's options, from the file the package ships: an OSC address that the
            # network brings up only after the board has started.
            vm.shell("sed -i 's/^OPTIONS=.*/OPTIONS=\"--seed 42 --osc 192.0.2.7:9000\"/' /etc/default/velquarin-control-board; "
                     "systemctl restart " + unit)
            seen = {}
            self.assertTrue(self.board_drawn(vm, seen=seen), "systemctl returned before the board showed: %s" % seen)
            self.assertEqual(vm.shell("tr '\\0' ' ' < /proc/%s/cmdline" % main_pid()).split()[1:],
                             ["--console", "--go", "--seed", "42", "--osc", "192.0.2.7:9000"])

            # A board whose window's thread hangs, stopped alone as a debugger stops one thread:
            # the watchdog ends it (10 s), and the unit shows it again.
            frozen = main_pid()
            said = vm.shell("/usr/local/bin/freeze_thread %s </dev/null >/tmp/frozen 2>&1 & "
                            "for i in $(seq 100); do grep -q frozen /tmp/frozen && break; sleep 0.1; done; "
                            "cat /tmp/frozen" % frozen)
            self.assertIn("frozen", said)
            since = time.monotonic()
            vm.wait_for(lambda: main_pid() not in ("0", frozen), 40, "the watchdog to end the frozen board")
            self.wait_board(vm)
            back = time.monotonic() - since
            self.times["frozen to board"] = "%.1f s" % back
            self.assertLess(back, 10 + 2 + 10)  # the watchdog, RestartSec, a start
            self.assertIn("Watchdog timeout", vm.shell("journalctl -b -o cat -u " + unit))
            vm.shell("ip address add 192.0.2.7/32 dev lo")
            # Cues from the show, over OSC: hold, then back to one, which lights every block and
            # stays held.
            vm.shell("bash -c \"printf '/board/hold\\0,\\0\\0\\0' > /dev/udp/192.0.2.7/9000; "
                     "printf '/board/back-to-one\\0\\0,\\0\\0\\0' > /dev/udp/192.0.2.7/9000\"")
            vm.wait_for(lambda: self.block_states(vm.screenshot(), WIDTH, HEIGHT) == [True] * 36, 20,
                        "every block lit after the cues")
            end = time.monotonic() + 3  # two periods: held, it stays so
            while time.monotonic() < end:
                self.assertEqual(self.block_states(vm.screenshot(), WIDTH, HEIGHT), [True] * 36, "not held")

            vm.key("esc")
            pressed = time.monotonic()
            vm.wait_for(lambda: "login:" in vm.shell("cat /dev/vcs1"), 30, "the login prompt on tty1")
            prompt = time.monotonic() - pressed
            self.times["Escape to login prompt"] = "%.1f s" % prompt
            self.assertLess(prompt, 5)
            self.assert_console_back(vm)
            self.assertEqual(vm.shell("systemctl show -p Result --value " + unit).strip(), "success")

            # An option that cannot hold: the login prompt again, with the program's line.
            vm.shell("sed -i 's/^OPTIONS=.*/OPTIONS=\"--screen HDMI-Z-9\"/' /etc/default/velquarin-control-board; "
                     "systemctl start " + unit)
            started = time.monotonic()
            vm.wait_for(lambda: vm.shell("systemctl is-active getty@tty1.service").strip() == "active"
                        and "login:" in vm.shell("cat /dev/vcs1"), 30, "the login prompt after a wrong screen")
            self.assertLess(time.monotonic() - started, 10)
            self.assertTrue([line for line in program_lines() if "HDMI-Z-9" in line], program_lines())

            # MQTT credentials the README's way, from a file only root can read, handed over by
            # a drop-in; then SIGHUP: an orderly end, its "offline" once, the console back.
            with Broker("stage", "right") as broker:
                broker.start()
                states = broker.states()
                card = vm.shell("udevadm settle; ls /sys/class/net | grep -vx lo").split()
                self.assertTrue(card, "no network card in the guest")
                vm.shell("ip link set %s up; ip address add 10.0.2.15/24 dev %s" % (card[0], card[0]))
                vm.shell("mkdir -p -m 700 /etc/velquarin-control-board; mkdir -p /etc/systemd/system/%s.d; "
                         "(umask 077; echo stage:right > /etc/velquarin-control-board/mqtt-credentials); "
                         "printf '[Service]\\nLoadCredential=mqtt-credentials:/etc/velquarin-control-board/"
                         "mqtt-credentials\\n' > /etc/systemd/system/%s.d/credentials.conf; "
                         "sed -i 's|^OPTIONS=.*|OPTIONS=\"--mqtt mqtt://10.0.2.2:%d/%s --osc 0.0.0.0:9000 --name deck\"|' "
                         "/etc/default/velquarin-control-board; systemctl daemon-reload; systemctl start %s"
                         % (unit, unit, broker.port, TOPIC, unit))
                self.wait_board(vm)
                self.wait_state(states, "board", timeout=30)
                # Its OSC port, announced on the guest's network by its name.
                for kind in ("udp", "tcp"):
                    vm.wait_for(lambda: [line for line in vm.shell("avahi-browse -rpt _osc._%s" % kind).split()
                                         if line.startswith("=;") and ";deck;_osc._%s;" % kind in line
                                         and line.endswith(";10.0.2.15;9000;")], 30,
                                "the board announced as deck at 10.0.2.15:9000 over _osc._" + kind)
                vm.shell("kill -HUP " + main_pid())
                self.wait_state(states, "offline")
                vm.wait_for(lambda: vm.shell("systemctl is-active " + unit).strip() == "inactive", 30,
                            "the board to end")
                self.assertEqual(sorted(vm.shell("systemctl show -p ExecMainStatus -p Result " + unit).split()),
                                 ["ExecMainStatus=129", "Result=success"])
                self.assert_console_back(vm)
                time.sleep(1)
                states.read(0.5)
                self.assertEqual(states.lines, ["board", "offline"], "the will as well: " + broker.log)


if __name__ == "__main__":
    Console.DEB = os.path.abspath(sys.argv.pop(1))
    BoardChecks.BINARY = "/usr/bin/" + PROGRAM
    unittest.main(verbosity=2)
