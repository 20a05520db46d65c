"""Debian's mosquitto broker, started by a test or a benchmark on a free port of its own."""
import glob
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time

from xsession import LineReader

TOPIC = "bridge/board"


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """A mosquitto of the test's own on 127.0.0.1, keeping what is retained across restarts."""

    def __init__(self, user=None, password=None, tls=False, refuse_subscriptions=False):
        self.port = free_port()
        self.folder = tempfile.mkdtemp(prefix="vq-broker-")
        self.auth = ["-u", user, "-P", password] if user else []
        lines = ["listener %d 127.0.0.1" % self.port, "persistence true",
                 "persistence_location %s/" % self.folder]
        if tls:
            lines += self.certificates()
            self.auth += ["--cafile", self.authority]
        if os.geteuid() == 0:
            lines.append("user root")  # else it drops to an account that cannot write the folder
        if user:
            passwords = os.path.join(self.folder, "passwords")
            subprocess.run(["mosquitto_passwd", "-b", "-c", passwords, user, password], check=True,
                           capture_output=True, timeout=10)
            lines += ["allow_anonymous false", "password_file " + passwords]
        else:
            lines.append("allow_anonymous true")
        if refuse_subscriptions:  # its access rules, through its own plug-in: publishing only
            rules = os.path.join(self.folder, "rules.json")
            with open(rules, "w") as file:
                json.dump({"defaultACLAccess": {"publishClientSend": True, "publishClientReceive": True,
                                                "subscribe": False, "unsubscribe": True},
                           "clients": [], "groups": [], "roles": []}, file)
            lines += ["plugin " + glob.glob("/usr/lib/*/mosquitto_dynamic_security.so")[0],
                      "plugin_opt_config_file " + rules]
        self.config = os.path.join(self.folder, "mosquitto.conf")
        with open(self.config, "w") as config:
            config.write("\n".join(lines) + "\n")
        self.proc = None
        self.log = ""  # what it said while it ran, once stopped
        self.watchers = []

    def __enter__(self):
        return self

    def certificates(self):
        """A certificate authority of the test's own (self.authority), and the broker's
        certificate for 127.0.0.1 signed by it: the broker's lines for them."""
        def run(*command):
            subprocess.run(["openssl", *command], cwd=self.folder, check=True, capture_output=True, timeout=30)
        key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
        run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=Stage CA")
        run("req", *key, "-keyout", "broker.key", "-out", "broker.csr", "-subj", "/CN=127.0.0.1")
        with open(os.path.join(self.folder, "names"), "w") as names:
            names.write("subjectAltName=IP:127.0.0.1\n")
        run("x509", "-req", "-in", "broker.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "broker.pem", "-days", "2", "-extfile", "names")
        self.authority = os.path.join(self.folder, "ca.pem")
        return ["cafile " + self.authority, "certfile " + os.path.join(self.folder, "broker.pem"),
                "keyfile " + os.path.join(self.folder, "broker.key")]

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
        if self.proc and not self.proc.stderr.closed:
            self.log += self.proc.stderr.read().decode(errors="replace")
            self.proc.stderr.close()

    def publish(self, message, retain=False, to=None):
        """The message on the boards' topic, or on the topic of the board named `to`."""
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.port), "-t",
                        TOPIC + ("/" + to if to else ""), "-m", message,
                        "-q", "1"] + self.auth + (["-r"] if retain else []), check=True, timeout=10)

    def publish_many(self, message, count):
        """The message `count` times from one client, at QoS 1, as fast as the broker takes them."""
        subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(self.port), "-t", TOPIC, "-l", "-q", "1"]
                       + self.auth, input=(message + "\n") * count, text=True, check=True, timeout=60)

    def states(self, name="+", verbose=False):
        """The state the board of that name publishes, line by line, the retained one first; with
        verbose, each line "TOPIC/NAME/state STATE"."""
        watcher = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-t",
                                    "%s/%s/state" % (TOPIC, name)] + (["-v"] if verbose else []) + self.auth,
                                   stdout=subprocess.PIPE)
        self.watchers.append(watcher)
        return LineReader(watcher.stdout)
