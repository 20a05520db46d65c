"""Cues from the show, from real senders: liblo's oscsend, and mosquitto_pub through Debian's
mosquitto broker, started here on a free port. Each cue over each protocol on the board, the
state the broker is told, and a broker that comes and goes."""
import contextlib
import ctypes
import os
import re
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks, layout, message  # noqa: E402
from broker import TOPIC, Broker, free_port  # noqa: E402
from xsession import LineReader, XSession  # noqa: E402

PERIOD = 1.4


def osc_cue(port, cue, *arguments, address=None):
    """The cue to /board/CUE, or to the address (a pattern too) given."""
    subprocess.run(["oscsend", "127.0.0.1", str(port), address or "/board/" + cue, *arguments], check=True,
                   timeout=10)


@contextlib.contextmanager
def stopped(pid, whole):
    """The program's main thread stopped alone, as a debugger stops one thread (ptrace), or the
    whole program (SIGSTOP)."""
    if whole:
        os.kill(pid, signal.SIGSTOP)
        try:
            yield
        finally:
            os.kill(pid, signal.SIGCONT)
        return
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
    seize, interrupt, detach, all_threads = 0x4206, 0x4207, 17, 0x40000000
    if libc.ptrace(seize, pid, None, None) != 0 or libc.ptrace(interrupt, pid, None, None) != 0:
        raise OSError(ctypes.get_errno(), "ptrace")
    os.waitpid(pid, all_threads)  # the thread's stop
    try:
        yield
    finally:
        libc.ptrace(detach, pid, None, None)


class Cues(BoardChecks, unittest.TestCase):
    def assert_unchanged(self, session, seconds):
        width, height = session.screen_size()
        held = self.block_states(session.screenshot(), width, height)
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.assertEqual(self.block_states(session.screenshot(), width, height), held, "the board changed")
            time.sleep(0.2)
        return held

    def test_every_cue_over_osc_and_over_mqtt(self):
        for first, second in (("osc", "mqtt"), ("mqtt", "osc")):
            with self.subTest(first=first), Broker() as broker, XSession("720x450") as session:
                broker.start()
                # Named by its host when no name is given.
                host = re.sub("[^A-Za-z0-9_-]", "-", socket.gethostname().split(".")[0] or "board")[:63]
                states = broker.states(host)
                osc = free_port(socket.SOCK_DGRAM)
                senders = {"osc": lambda cue, *arguments: osc_cue(osc, cue, *arguments),
                           "mqtt": lambda cue, *arguments: broker.publish(" ".join([cue] + list(arguments[1:])))}
                self.open_start_window(session, arguments=[
                    "--seed", "42", "--osc", str(osc), "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
                self.wait_state(states, "start")
                senders[second]("back-to-one")  # the board's cue, while the start window shows: nothing
                senders[first]("go")
                self.assert_board(session)
                self.wait_state(states, "board")
                take, _ = self.next_patterns(session, 4)

                senders[second]("back-to-one")
                self.wait_first_frame(session, 0, 720)
                self.assertEqual(self.next_patterns(session, 2)[0], take[:2])
                senders[first]("hold")
                self.wait_state(states, "held")
                self.assert_unchanged(session, 3 * PERIOD)
                senders[second]("resume")
                self.wait_state(states, "board")
                self.assertEqual(self.next_patterns(session, 1)[0], take[2:3], "resume did not go on where it held")

                senders[first]("seed", "i", "43")
                self.wait_first_frame(session, 0, 720)
                self.assertNotEqual(self.next_patterns(session, 3)[0], take[:3])
                senders[second]("hold")
                self.wait_state(states, "held")
                senders[first]("seed", "s", "42")  # back to one with seed 42, held: every block lit
                self.wait_first_frame(session, 0, 720)
                self.assertEqual(self.assert_unchanged(session, 1.5), [True] * 36)
                senders[first]("resume")
                self.assertEqual(self.next_patterns(session, 3)[0], take[:3])
                # Dark: every block out at once, held; resume lights the board as it was and goes
                # on; back to one from dark blinks from every block lit.
                sent = time.monotonic()
                senders[second]("dark")
                session.wait_for(lambda: self.block_states(session.screenshot(), 720, 450) == [False] * 36, 5,
                                 "every block out")
                self.assertLess(time.monotonic() - sent, 0.5)
                self.wait_state(states, "dark")
                self.assert_unchanged(session, 3 * PERIOD)
                senders[first]("resume")
                self.wait_state(states, "board")
                self.assertEqual(self.block_states(session.screenshot(), 720, 450), take[2])
                self.assertEqual(self.next_patterns(session, 1)[0], take[3:])
                senders[second]("dark")
                self.wait_state(states, "dark")
                senders[first]("back-to-one")
                self.wait_first_frame(session, 0, 720)
                self.wait_state(states, "board")
                self.assertEqual(self.next_patterns(session, 1)[0], take[:1])
                # Standby where the display has no way to switch off (Xvfb has no DPMS): one line,
                # the board blinking on, its state unchanged; wake, awake, does nothing.
                senders[second]("standby")
                senders[first]("wake")
                self.next_patterns(session, 2)
                states.read(0.5)
                self.assertEqual(states.lines[-1], "board")
                self.assertNotIn("standby", states.lines)

                if first == "osc":
                    # The window's thread stopped alone (an event loop that hangs), then the whole
                    # board: the broker says it is offline within 20 s, and the board once it runs.
                    for whole in (False, True):
                        with stopped(session.app.pid, whole):
                            since = time.monotonic()
                            self.wait_state(states, "offline", timeout=25)
                            self.assertLess(time.monotonic() - since, 20, "whole" if whole else "the thread")
                        self.wait_state(states, "board", timeout=15)
                with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:  # within a second: one line
                    for cue in (b"/board/bogus\0\0\0\0,\0\0\0", b"/board/jump\0,\0\0\0"):
                        sender.sendto(cue, ("127.0.0.1", osc))
                time.sleep(0.5)
                if first == "osc":
                    session.key("Escape")
                else:  # the terminal that started it closed: the same orderly end
                    session.app.send_signal(signal.SIGHUP)
                self.assertEqual(session.exit_status(), 0 if first == "osc" else 129)
                self.wait_state(states, "offline")
                self.assertEqual(session.stderr.decode().count("ignoring the cue"), 1, session.stderr)
                self.assertRegex(session.stderr.decode(), r"(?m)^velquarin-control-board: ignoring the cue "
                                 r"'(bogus|jump)': the cues are go, back-to-one, hold, resume, dark, standby, wake and seed N")
                self.assertEqual(session.stderr.decode().count("cannot switch the display"), 1, session.stderr)
                self.assertIn("velquarin-control-board: cannot switch the display off: the X server has no display "
                              "power management (DPMS)\n", session.stderr.decode())

    def test_a_broker_that_is_down_restarts_or_refuses_never_stops_the_board(self):
        with Broker() as broker, XSession("720x450") as session:
            session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
            errors = LineReader(session.app.stderr)
            self.assert_board(session)
            self.blink_changes(session, 2, 5)
            where = "the broker at 127.0.0.1:%d" % broker.port
            errors.wait_for("velquarin-control-board: cannot reach %s: Connection refused; trying again" % where,
                            exact=True)
            broker.start()
            errors.wait_for("velquarin-control-board: connected to %s again" % where, timeout=15, exact=True)
            self.wait_state(broker.states(), "board")
            broker.publish("back-to-one", retain=True)  # live, it is a cue
            self.wait_first_frame(session, 0, 720)
            self.blink_changes(session, 1, 5)
            broker.publish("hold")
            held = self.assert_unchanged(session, PERIOD)
            self.assertNotEqual(held, [True] * 36)

            broker.stop()
            errors.wait_for("velquarin-control-board: lost the connection to %s; trying again" % where, exact=True)
            time.sleep(20)
            broker.start()
            restarted = time.monotonic()
            back = "velquarin-control-board: connected to %s again" % where
            while errors.lines.count(back) < 2:
                self.assertLess(time.monotonic(), restarted + 15, "not connected again: %r" % errors.lines)
                errors.read(0.1)
            self.assertLess(time.monotonic() - restarted, 5, "back on the broker %.1f s after its restart"
                            % (time.monotonic() - restarted))
            # Subscribed again, and the retained back-to-one replayed with it is no cue.
            self.assertEqual(self.assert_unchanged(session, 1), held)
            broker.publish("resume")
            self.blink_changes(session, 1, 5)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertEqual(len(errors.lines + session.stderr.decode().splitlines()), 4, errors.lines)
            # Every orderly end leaves the broker cleanly: one "offline" each, never the will too.
            states = broker.states()
            self.wait_state(states, "offline")
            for _ in range(12):
                session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
                self.assert_board(session)
                self.wait_state(states, "board")
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
                self.wait_state(states, "offline")
            time.sleep(1)
            states.read(0.5)
            broker.stop()
            self.assertEqual(states.lines, ["offline"] + ["board", "offline"] * 12, broker.log)

        with Broker(refuse_subscriptions=True) as broker, XSession("720x450") as session:
            broker.start()
            session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
            self.assert_board(session)
            errors = LineReader(session.app.stderr)
            errors.wait_for("velquarin-control-board: the broker at 127.0.0.1:%d refused the subscription to '%s'; "
                            "trying again" % (broker.port, TOPIC), exact=True)
            self.blink_changes(session, 3, 8)  # tried again meanwhile, each time leaving cleanly: no will
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            broker.stop()
            self.assertGreaterEqual(broker.log.count("New client connected"), 2, broker.log)
            self.assertFalse([line for line in broker.log.splitlines()  # the will's mark (not the start's probe)
                              if "closed its connection" in line and "<unknown>" not in line], broker.log)
            self.assertEqual(len(errors.lines + session.stderr.decode().splitlines()), 1, errors.lines)

        with Broker("stage", "right") as broker, XSession("720x450") as session:
            broker.start()
            credentials = os.path.join(session.home, "credentials")
            with open(credentials, "w") as file:
                file.write("stage:wrong\n")
            session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC),
                                                  "--mqtt-credentials", credentials])
            self.assert_board(session)
            self.blink_changes(session, 3, 8)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            broker.stop()
            self.assertGreaterEqual(broker.log.count("not authorised"), 3, "not tried again: " + broker.log)
            self.assertEqual(session.stderr.decode().splitlines(), [
                "velquarin-control-board: warning: every user of this machine can read the MQTT password in "
                "'%s' (chmod o-r)" % credentials,
                "velquarin-control-board: the broker at 127.0.0.1:%d refused the connection: "
                "Connection Refused: not authorised" % broker.port])
            # Under systemd, the credential its unit hands over (LoadCredential=) when none is named.
            broker.start()
            handed = os.path.join(session.home, "credentials.d")
            os.mkdir(handed, 0o700)
            with open(os.open(os.path.join(handed, "mqtt-credentials"), os.O_CREAT | os.O_WRONLY, 0o400), "w") as file:
                file.write("stage:right\n")
            states = broker.states()
            session.start(self.BINARY, extra_env={"CREDENTIALS_DIRECTORY": handed},
                          arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
            self.assert_board(session)
            self.wait_state(states, "board")
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertEqual(session.stderr.decode(), "")

    def test_tls_with_the_shows_own_authority(self):
        with Broker(tls=True) as broker:
            broker.start()
            address = "mqtts://127.0.0.1:%d/%s" % (broker.port, TOPIC)
            with self.subTest(authority="the system's"), XSession("720x450") as session:
                # Not one the system trusts: the board shows all the same, and says why once.
                session.start(self.BINARY, arguments=["--go", "--mqtt", address])
                self.assert_board(session)
                self.blink_changes(session, 2, 5)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
                self.assertEqual(session.stderr.decode(), "velquarin-control-board: cannot reach the broker at "
                                 "127.0.0.1:%d: its certificate cannot be verified with the trusted authorities; "
                                 "trying again\n" % broker.port)
            with self.subTest(authority="--mqtt-ca, another host name"), XSession("720x450") as session:
                session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtts://localhost:%d/%s" % (broker.port, TOPIC),
                                                      "--mqtt-ca", broker.authority])
                self.assert_board(session)
                self.blink_changes(session, 2, 5)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
                self.assertEqual(session.stderr.decode(), "velquarin-control-board: cannot reach the broker at "
                                 "localhost:%d: its certificate is not for 'localhost'; trying again\n" % broker.port)
            with self.subTest(authority="--mqtt-ca"), XSession("720x450") as session:
                states = broker.states()
                session.start(self.BINARY, arguments=["--go", "--mqtt", address, "--mqtt-ca", broker.authority])
                self.assert_board(session)
                self.wait_state(states, "board")
                broker.publish("hold")
                self.wait_state(states, "held")
                self.assert_unchanged(session, PERIOD + 0.2)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
                self.wait_state(states, "offline")
                self.assertEqual(session.stderr.decode(), "")

    def test_two_boards_one_cue(self):
        """Two boards, a and b, with the same seed on two displays, cued by one publish and then by
        one OSC message to each: the same lit sets from then on, each change on both within 50 ms.
        Each has a state of its own, and takes the cues for it alone."""
        with Broker() as broker, XSession("720x450") as one, XSession("720x450") as two:
            broker.start()
            boards = [one, two]
            ports = [free_port(socket.SOCK_DGRAM), free_port(socket.SOCK_DGRAM)]
            listing, states = broker.states(verbose=True), {name: broker.states(name) for name in "ab"}
            # a listens on every address, on a machine with no Avahi daemon: it says so, once.
            for board, port, name in zip(boards, ports, "ab"):
                board.start(self.BINARY, arguments=["--go", "--seed", "7", "--osc", ("0.0.0.0:" if name == "a" else "")
                                                    + str(port), "--name", name,
                                                    "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)],
                            extra_env={"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent"})
                self.assert_board(board)
            rows = [str(t + h // 2) for _, t, _, h in layout(720)[::6]]
            watchers = [subprocess.Popen([os.environ["VQ_X_EVENTS"], "changes", *rows], env=board.env,
                                         stdout=subprocess.PIPE) for board in boards]
            for board, watcher in zip(boards, watchers):
                board.procs.append(watcher)
            changes = [LineReader(watcher.stdout) for watcher in watchers]
            self.blink_changes(one, 1, 5)
            for cue in ("mqtt", "osc"):
                time.sleep(0.7)  # mid-tick
                for name in "ab":
                    self.wait_state(states[name], "board")
                sent = time.monotonic()
                if cue == "mqtt":
                    broker.publish("back-to-one")
                else:
                    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
                        for port in ports:
                            sender.sendto(b"/board/back-to-one\0\0,\0\0\0", ("127.0.0.1", port))
                for board in boards:
                    self.wait_first_frame(board, 0, 720)
                seen = [[], []]
                end = time.monotonic() + 15
                while min(len(patterns) for patterns in seen) < 5:
                    self.assertLess(time.monotonic(), end, "the boards showed %s new patterns" % [len(p) for p in seen])
                    for board, patterns in zip(boards, seen):
                        states_now = self.block_states(board.screenshot(), 720, 450)
                        if states_now != [True] * 36 and (not patterns or patterns[-1] != states_now):
                            patterns.append(states_now)
                self.assertEqual(seen[0][:5], seen[1][:5], "the boards went different ways after one cue")
                # Each board's changes since the cue, as spans (earliest, latest): the n-th on one
                # and the n-th on the other at most 50 ms apart.
                spans = []
                for reader in changes:
                    while reader.read(0.2):
                        pass
                    board = []
                    for line in reader.lines:
                        early, late = map(float, line.split()[1:])
                        # A change seen in two looks (some rows drawn before the one, some after)
                        # is one change.
                        if late > sent and not (board and early - board[-1][1] < 0.1):
                            board.append((early, late))
                    spans.append(board)
                    reader.lines.clear()
                for (early_one, late_one), (early_two, late_two) in zip(*spans):
                    gap = max(early_one - late_two, early_two - late_one)
                    self.assertLess(gap, 0.05, "the boards changed %.0f ms apart: %s" % (gap * 1000, spans))
                self.assertGreaterEqual(min(len(s) for s in spans), 4, spans)
            for watcher in watchers:
                watcher.kill()
                watcher.wait()
                watcher.stdout.close()
            # A cue for b alone; one subscription lists both; a gone, b still up.
            broker.publish("hold", to="b")
            self.wait_state(states["b"], "held")
            self.assert_unchanged(two, PERIOD + 0.2)
            self.blink_changes(one, 1, 5)
            listing.read(0.5)
            self.assertEqual({line.split()[0] for line in listing.lines}, {TOPIC + "/a/state", TOPIC + "/b/state"})
            # Over OSC, by pattern to both ports, from a desk's own port: each board takes what
            # names it, and answers with its state once the cue is acted on; a ping, with a pong.
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as desk:
                desk.bind(("127.0.0.1", 0))
                desk.settimeout(10)
                for port in ports:
                    desk.sendto(message(b"/board/{b,c}/resume"), ("127.0.0.1", port))
                    desk.sendto(message(b"/board/[a]/hold"), ("127.0.0.1", port))
                desk.sendto(message(b"/board/a/ping"), ("127.0.0.1", ports[0]))
                answers = [desk.recvfrom(512) for _ in range(3)]
                self.assertEqual(sorted((port, [part.decode() for part in answer.split(b"\0") if part])
                                        for answer, (_, port) in answers),
                                 sorted([(ports[0], ["/board/state", ",ss", "a", "held"]),
                                         (ports[0], ["/board/pong", ",ss", "a", "held"]),
                                         (ports[1], ["/board/state", ",ss", "b", "board"])]))
            self.wait_state(states["b"], "board")
            self.wait_state(states["a"], "held")
            self.blink_changes(two, 1, 5)
            # A button pressed (the cue) and let go (nothing, not a line); then one cue to all.
            osc_cue(ports[0], "resume", "f", "1.0")
            osc_cue(ports[0], "resume", "f", "0.0")
            self.wait_state(states["a"], "board")
            # The same over TCP, framed by size (OSC 1.0) or by SLIP (OSC 1.1): answered on the
            # connection, framed as it came.
            def slip(packet):
                return b"\xc0" + packet.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc") + b"\xc0"
            for port, framing, address, answer in (
                    (ports[0], "size", b"/board/a/hold", ["/board/state", ",ss", "a", "held"]),
                    (ports[1], "slip", b"/board/ping", ["/board/pong", ",ss", "b", "board"])):
                with socket.create_connection(("127.0.0.1", port), timeout=10) as desk:
                    packet = message(address)
                    desk.sendall(struct.pack(">I", len(packet)) + packet if framing == "size" else slip(packet))
                    received = b""
                    while not (received.endswith(b"\xc0") if framing == "slip" else len(received) >= 4
                               and len(received) >= 4 + struct.unpack(">I", received[:4])[0]):
                        chunk = desk.recv(512)
                        self.assertTrue(chunk, "the board closed the connection: %r" % received)
                        received += chunk
                    body = received[4:] if framing == "size" else received.strip(b"\xc0")
                    self.assertEqual([part.decode() for part in body.split(b"\0") if part], answer, framing)
            self.wait_state(states["a"], "held")
            for port in ports:
                osc_cue(port, None, address="/*/back-to-one")
            for board in boards:
                self.wait_first_frame(board, 0, 720)
            one.key("Escape")
            self.assertEqual(one.exit_status(), 0)
            self.assertEqual(one.stderr.decode(), "velquarin-control-board: no Avahi daemon runs: the board is not "
                             "announced on the network (its cues reach it all the same)\n")
            self.wait_state(states["a"], "offline")
            # Another board named b: each of the two says so, once.
            said = LineReader(two.app.stderr)
            one.start(self.BINARY, arguments=["--go", "--name", "b", "--mqtt",
                                              "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
            self.assert_board(one)
            namesake = "velquarin-control-board: another board named 'b' publishes its state on the broker at " \
                       "127.0.0.1:%d: give each board a name of its own (--name)" % broker.port
            said.wait_for(namesake, exact=True)
            for board in boards:
                board.key("Escape")
                self.assertEqual(board.exit_status(), 0)
            self.assertEqual(one.stderr.decode().splitlines(), [namesake])
            self.assertEqual(said.lines + two.stderr.decode().splitlines(), [namesake])
            self.assertEqual(states["a"].lines[-1], "offline")

    def test_a_flood_of_cues_keeps_memory_flat_and_escape_quick(self):
        """One cue a datagram, bundles of 3,000 and 20,000 messages at QoS 1 from one MQTT client: the
        board's memory stays flat, the cues it had no time for are told in a line, and Escape in the
        middle of it all ends the board within a second."""
        osc = free_port(socket.SOCK_DGRAM)
        cue = b"/board/back-to-one\0\0,\0\0\0"
        hold = b"/board/hold\0,\0\0\0"
        bundle = b"#bundle\0" + bytes(7) + b"\1" + (struct.pack(">I", len(hold)) + hold) * 3000

        def send(datagram, count, seconds):
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
                start = time.monotonic()
                for sent in range(count):
                    sender.sendto(datagram, ("127.0.0.1", osc))
                    ahead = start + seconds * sent / count - time.monotonic()
                    if ahead > 0:
                        time.sleep(ahead)

        with Broker() as broker, XSession("720x450") as session:
            broker.start()
            floods = [lambda: send(cue, 20000, 2), lambda: send(bundle, 30, 2),
                      lambda: broker.publish_many("back-to-one", 20000)]
            session.start(self.BINARY, arguments=["--go", "--osc", str(osc), "--mqtt",
                                                  "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC)])
            self.assert_board(session)
            self.wait_state(broker.states(), "board")
            before = session.memory_kib()[0]
            for flood in floods:
                flood()
            time.sleep(1)
            after = session.memory_kib()[0]
            self.assertLess(after - before, 2048, "RSS %d KiB before the floods, %d KiB after" % (before, after))
            senders = [threading.Thread(target=flood) for flood in floods]
            for sender in senders:
                sender.start()
            time.sleep(1)
            session.key("Escape")
            pressed = time.monotonic()
            self.assertEqual(session.exit_status(), 0)
            ended = time.monotonic() - pressed
            for sender in senders:
                sender.join()
            self.assertLess(ended, 1, "Escape in a flood of cues ended the program after %.2f s" % ended)
            self.assertRegex(session.stderr.decode(), r"velquarin-control-board: dropped \d+ cues that came faster "
                             r"than the board takes them; the newest were kept\n")


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
