"""Cues from the show, from real senders: liblo's oscsend, and mosquitto_pub through Debian's
mosquitto broker, started here on a free port. Each cue over each protocol on the board, the
state the broker is told, and a broker that comes and goes."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import BoardChecks  # noqa: E402
from xsession import LineReader, XSession  # noqa: E402

TOPIC = "bridge/board"
PERIOD = 1.4


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """A mosquitto of the test's own on 127.0.0.1, keeping what is retained across restarts."""

    def __init__(self, user=None, password=None):
        self.port = free_port()
        self.folder = tempfile.mkdtemp(prefix="vq-broker-")
        self.auth = ["-u", user, "-P", password] if user else []
        lines = ["listener %d 127.0.0.1" % self.port, "persistence true",
                 "persistence_location %s/" % self.folder]
        if os.geteuid() == 0:
            lines.append("user root")  # else it drops to an account that cannot write the folder
        if user:
            passwords = os.path.join(self.folder, "passwords")
            subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, user, password], check=True,
                           capture_output=True, timeout=10)
            lines += ["allow_anonymous false", "password_file " + passwords]
        else:
            lines.append("allow_anonymous true")
        self.config = os.path.join(self.folder, "mosquitto.conf")
        with open(self.config, "w") as config:
            config.write("\n".join(lines) + "\n")
        self.proc = None
        self.watchers = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        for watcher in self.watchers:
            watcher.kill()
            watcher.wait()
            watcher.stdout.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", self.config], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        end = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > end:
                    raise AssertionError("the broker did not start: %s" % self.proc.stderr.read().decode())
                time.sleep(0.05)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()  # writes what is retained to its folder
            self.proc.wait(10)
        if self.proc:
            self.proc.stderr.close()

    def publish(self, message, retain=False):
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.port), "-t", TOPIC, "-m", message,
                        "-q", "1"] + self.auth + (["-r"] if retain else []), check=True, timeout=10)

    def states(self):
        """The state the board publishes, line by line, the retained one first."""
        watcher = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-t",
                                    TOPIC + "/state"] + self.auth, stdout=subprocess.PIPE)
        self.watchers.append(watcher)
        return LineReader(watcher.stdout)


def osc_cue(port, cue, *arguments):
    subprocess.run(["oscsend", "127.0.0.1", str(port), "/board/" + cue, *arguments], check=True, timeout=10)


class Cues(BoardChecks, unittest.TestCase):
    def wait_state(self, states, state):
        """The state the board published last, once it is `state`."""
        end = time.monotonic() + 10
        while not (states.lines and states.lines[-1] == state):
            self.assertLess(time.monotonic(), end, "the board's state is not %r: %r" % (state, states.lines))
            states.read(0.1)

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
                states = broker.states()
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
                take, _ = self.next_patterns(session, 3)

                senders[second]("back-to-one")
                self.wait_first_frame(session, 0, 720)
                self.assertEqual(self.next_patterns(session, 2)[0], take[:2])
                senders[first]("hold")
                self.wait_state(states, "held")
                self.assert_unchanged(session, 3 * PERIOD)
                senders[second]("resume")
                self.wait_state(states, "board")
                self.assertEqual(self.next_patterns(session, 1)[0], take[2:], "resume did not go on where it held")

                senders[first]("seed", "i", "43")
                self.wait_first_frame(session, 0, 720)
                self.assertNotEqual(self.next_patterns(session, 3)[0], take)
                senders[second]("hold")
                self.wait_state(states, "held")
                senders[first]("seed", "s", "42")  # back to one with seed 42, held: every block lit
                self.wait_first_frame(session, 0, 720)
                self.assertEqual(self.assert_unchanged(session, 1.5), [True] * 36)
                senders[first]("resume")
                self.assertEqual(self.next_patterns(session, 3)[0], take)

                senders[first]("bogus")
                senders[second]("jump")  # within a second of the first: no second line
                time.sleep(0.5)
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)
                self.wait_state(states, "offline")
                self.assertEqual(session.stderr.decode().count("ignoring the cue"), 1, session.stderr)
                self.assertRegex(session.stderr.decode(), r"\Avelquarin-control-board: ignoring the cue "
                                 r"'(bogus|jump)': the cues are go, back-to-one, hold, resume and seed N")

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
            broker.start()
            back = "velquarin-control-board: connected to %s again" % where
            end = time.monotonic() + 15
            while errors.lines.count(back) < 2:
                self.assertLess(time.monotonic(), end, "not connected again: %r" % errors.lines)
                errors.read(0.1)
            # Subscribed again, and the retained back-to-one replayed with it is no cue.
            self.assertEqual(self.assert_unchanged(session, 1), held)
            broker.publish("resume")
            self.blink_changes(session, 1, 5)
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertEqual(len(errors.lines + session.stderr.decode().splitlines()), 4, errors.lines)

        with Broker("stage", "right") as broker, XSession("720x450") as session:
            broker.start()
            credentials = os.path.join(session.home, "credentials")
            with open(credentials, "w") as file:
                file.write("stage:wrong\n")
            session.start(self.BINARY, arguments=["--go", "--mqtt", "mqtt://127.0.0.1:%d/%s" % (broker.port, TOPIC),
                                                  "--mqtt-credentials", credentials])
            self.assert_board(session)
            self.blink_changes(session, 3, 8)  # retried meanwhile, at 1, 2 and 4 s
            session.key("Escape")
            self.assertEqual(session.exit_status(), 0)
            self.assertEqual(session.stderr.decode().splitlines(), [
                "velquarin-control-board: warning: every user of this machine can read the MQTT password in "
                "'%s' (chmod o-r)" % credentials,
                "velquarin-control-board: the broker at 127.0.0.1:%d refused the connection: "
                "Connection Refused: not authorised." % broker.port])


if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
