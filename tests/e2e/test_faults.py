"""Faults and bad input on the real program: a broken start picture, data folders in every
state, key mashing, double GO, signals, the display going away, and memcheck."""
import os
import pwd
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from checks import DATA_FOLDER, BoardChecks  # noqa: E402
from xsession import LineReader, XSession, catches, run_as, snapshot  # noqa: E402

USER = "nobody"  # an account without privileges, for faults that root would not feel
MEMORY_BOUND_KIB = 300 * 1024


def jpeg_with_size(width, height):
    """The shipped picture with its frame header claiming another size."""
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "resources", "VQ1.jpeg"), "rb") as f:
        data = bytearray(f.read())
    sof = data.index(b"\xff\xc0")
    data[sof + 5:sof + 9] = height.to_bytes(2, "big") + width.to_bytes(2, "big")
    return bytes(data)


PNG_BYTES = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                          "1f15c4890000000d49444154789c6360000002000154a24f0f0000000049454e44ae426082")


class Faults(BoardChecks, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="vq-faults-prefix-")
        subprocess.run(["cmake", "--install", os.path.dirname(cls.BINARY), "--prefix", cls.prefix],
                       check=True, capture_output=True)
        os.chmod(cls.prefix, 0o755)
        cls.installed = os.path.join(cls.prefix, "bin", "velquarin-control-board")
        cls.picture = os.path.join(cls.prefix, "share", "velquarin-control-board", "VQ1.jpeg")
        with open(cls.picture, "rb") as f:
            cls.good_picture = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def restore_picture(self):
        if os.path.isdir(self.picture):
            os.rmdir(self.picture)
        with open(self.picture, "wb") as f:
            f.write(self.good_picture)
        os.chmod(self.picture, 0o644)

    def give_home_to(self, session, user):
        account = pwd.getpwnam(user)
        for folder, dirs, files in os.walk(session.home):
            for name in [folder] + [os.path.join(folder, n) for n in dirs + files]:
                os.chown(name, account.pw_uid, account.pw_gid)

    # -- the start picture -----------------------------------------------------------------------
    def test_broken_start_picture_leaves_a_blank_canvas_and_a_working_program(self):
        faults = {
            "missing": lambda p: os.remove(p),
            "empty": lambda p: open(p, "wb").close(),
            "truncated": lambda p: open(p, "wb").write(self.good_picture[:len(self.good_picture) // 2]),
            "text": lambda p: open(p, "w").write("not a picture\n"),
            "png": lambda p: open(p, "wb").write(PNG_BYTES),
            "absurd size": lambda p: open(p, "wb").write(jpeg_with_size(60000, 60000)),
            "unreadable": lambda p: os.chmod(p, 0),
            "folder": lambda p: (os.remove(p), os.mkdir(p)),
        }
        for name, spoil in faults.items():
            with self.subTest(fault=name), XSession("1440x900") as session:
                try:
                    spoil(self.picture)
                    user = None
                    if name == "unreadable":
                        user = USER
                        self.give_home_to(session, user)
                        self.assertNotEqual(run_as(user, "cat", self.picture).returncode, 0, "fault not set up")
                    _, geometry = self.open_start_window(session, self.installed, user=user)
                    self.assert_canvas_blank(session, geometry)
                    session.key("Return")
                    self.assert_board(session)
                    rss, peak = session.memory_kib()
                    self.assertLess(peak, MEMORY_BOUND_KIB)
                    session.key("Escape")
                    self.assertEqual(session.exit_status(), 0)
                    self.assertNotIn(b"Exception", session.stderr)
                finally:
                    self.restore_picture()

    # -- the data folder -------------------------------------------------------------------------
    def test_no_home_for_the_data_folder_says_so_and_fails(self):
        cases = {
            "HOME and XDG_DATA_HOME unset": ({}, ("HOME", "XDG_DATA_HOME")),
            "HOME empty": ({"HOME": ""}, ("XDG_DATA_HOME",)),
            "XDG_DATA_HOME relative, HOME unset": ({"XDG_DATA_HOME": "data"}, ("HOME",)),
        }
        password_home = os.path.join(pwd.getpwuid(os.getuid()).pw_dir, ".local", "share")
        for name, (env, unset) in cases.items():
            with self.subTest(case=name), XSession("1440x900") as session:
                watched = [session.home, "/", password_home]
                before = [sorted(os.listdir(p)) if os.path.isdir(p) else None for p in watched]
                home_before = snapshot(session.home)
                session.start(self.installed, extra_env=env, unset=unset)
                box = session.wait_for(lambda: session.visible_windows("Velquarin Control Board"), 15,
                                       "the message box")[0]
                self.assertEqual(session.visible_windows(), [], "a start window or board showed")
                session.wait_active(box)
                session.key("Return")
                self.assertEqual(session.exit_status(), 70)
                self.assertIn(b"no folder for application data", session.stderr)
                after = [sorted(os.listdir(p)) if os.path.isdir(p) else None for p in watched]
                self.assertEqual(after, before, "something was created")
                self.assertEqual(snapshot(session.home), home_before)

    def data_folder_case(self, session, prepare, user=None, expect_folder=True):
        data_home = os.path.join(session.home, "xdg-data")
        prepare(data_home)
        if user:
            self.give_home_to(session, user)
        before = snapshot(session.home)
        self.open_start_window(session, self.installed, extra_env={"XDG_DATA_HOME": data_home}, user=user)
        self.assertEqual(len(session.visible_windows("Velquarin Control Board")), 0, "a message showed")
        session.key("Return")
        self.assert_board(session)
        session.key("Escape")
        self.assertEqual(session.exit_status(), 0)
        after = snapshot(session.home)
        for item, state in before.items():
            self.assertEqual(after.get(item), state, item + " changed")
        folder = os.path.join(data_home, DATA_FOLDER)
        self.assertEqual(os.path.isdir(folder), expect_folder)
        return data_home

    def test_data_folder_faults_touch_nothing_that_was_there(self):
        with self.subTest(case="XDG_DATA_HOME does not exist yet"), XSession("1440x900") as session:
            data_home = self.data_folder_case(session, lambda d: None)
            self.assertEqual(stat.S_IMODE(os.stat(data_home).st_mode), 0o700)

        def read_only(d):
            os.mkdir(d, 0o555)
        with self.subTest(case="read-only parent"), XSession("1440x900") as session:
            data_home = os.path.join(session.home, "xdg-data")
            read_only(data_home)
            self.give_home_to(session, USER)
            os.chmod(data_home, 0o555)
            probe = run_as(USER, "mkdir", os.path.join(data_home, "probe"))
            self.assertNotEqual(probe.returncode, 0, "fault not set up: the folder is writable")
            os.rmdir(data_home)
            self.data_folder_case(session, read_only, user=USER, expect_folder=False)

        def file_in_place(d):
            os.mkdir(d)
            with open(os.path.join(d, DATA_FOLDER), "w") as f:
                f.write("a file of the user's\n")
        with self.subTest(case="a file where the folder goes"), XSession("1440x900") as session:
            self.data_folder_case(session, file_in_place, expect_folder=False)

        def folder_with_files(d):
            os.makedirs(os.path.join(d, DATA_FOLDER, "inner"))
            with open(os.path.join(d, DATA_FOLDER, "notes.txt"), "w") as f:
                f.write("kept\n")
        with self.subTest(case="the folder holds files"), XSession("1440x900") as session:
            self.data_folder_case(session, folder_with_files)

    # -- keys, GO twice, signals, the display ------------------------------------------------------
    def test_mashing_keys_and_double_go_give_one_board(self):
        for how in ("Return twice", "GO clicked twice"):
            with self.subTest(how=how), XSession("1440x900") as session:
                _, geometry = self.open_start_window(session)
                self.assert_picture_shown(session, geometry)
                if how == "Return twice":
                    session.key("Return", "Return")
                else:
                    x, y = self.go_button(geometry)
                    session.x("xdotool", "mousemove", "--sync", str(x), str(y))
                    session.x("xdotool", "click", "--repeat", "2", "--delay", "30", "1")
                self.assert_board(session)
                session.x("xdotool", "type", "--delay", "2", "qwertyuiop[]asdfghjkl;'zxcvbnm,./1234567890-= QAZ")
                session.key("Return", "space", "Tab", "BackSpace", "Delete", "Up", "Down", "Left", "Right",
                            "Home", "End", "Prior", "Next", "F1", "F5", "F12", "ctrl+a", "ctrl+z", "shift+Tab")
                self.blink_changes(session, 1, 5)  # the keys are in; it still blinks
                self.assertIsNone(session.app.poll(), "the program ended")
                width, height = session.screen_size()
                self.assertEqual([session.geometry(w) for w in session.visible_windows()], [(0, 0, width, height)])
                session.key("Escape")
                self.assertEqual(session.exit_status(), 0)

    def test_termination_signals_end_the_run_within_a_second_in_every_state(self):
        """Each ends the run within its bound, in every state; SIGUSR1 sent first ends nothing."""
        states = (("start-up", signal.SIGTERM, 143), ("start window", signal.SIGINT, 130),
                  ("board", signal.SIGTERM, 143), ("failure message", signal.SIGTERM, 70))
        for state, number, status in states:
            with self.subTest(state=state), XSession("1440x900") as session:
                if state == "start-up":  # sent at once, held pending until the program can take it
                    session.start(self.BINARY, blocked=(number,))
                elif state == "failure message":  # no home for the data folder
                    session.start(self.installed, unset=("HOME", "XDG_DATA_HOME"))
                    session.wait_for(lambda: session.visible_windows("Velquarin Control Board"), 15, "the message")
                else:
                    self.open_start_window(session)
                    if state == "board":
                        session.key("Return")
                        self.assert_board(session)
                if state != "start-up":  # the operator's signal ends nothing
                    session.app.send_signal(signal.SIGUSR1)
                    time.sleep(0.5)
                    self.assertIsNone(session.app.poll(), "SIGUSR1 ended the program")
                session.app.send_signal(number)
                self.assertEqual(session.exit_status(timeout=1.5), status)  # the bound is 1 s

    def test_a_display_that_stops_answering_does_not_hold_the_program(self):
        """The X server stops as the board is taken down after Escape, no signal sent: the quit
        ends with 0 within its bound. Stopped before a stop request: the signal's status within
        a second, at once on a second signal; a failure's status stays."""
        for how in ("Escape", "one signal", "a second signal", "the failure message up"):
            with self.subTest(how=how), XSession("1440x900", wm=False) as session:
                server = session.procs[0]
                if how == "Escape":
                    # The program's first unmapping request (opcode 10) after Escape stops the server.
                    proxy, display = session.stopping_display(lambda m, from_client, proxy: proxy.armed and from_client and m[0] == 10)
                    session.start(self.BINARY, extra_env={"DISPLAY": display}, arguments=["--go"])
                    self.assert_board(session)
                    proxy.armed = True
                    session.procs.append(subprocess.Popen(["xdotool", "key", "Escape"], env=session.env))  # its release waits
                    session.wait_for(lambda: proxy.stopped_at, 5, "the board to be taken down")
                    self.assertEqual(session.exit_status(timeout=4.5), 0)
                    continue
                if how == "the failure message up":  # status 70 decided; its quit then hangs
                    session.start(self.installed, unset=("HOME", "XDG_DATA_HOME"))
                    session.wait_for(lambda: session.visible_windows("Velquarin Control Board"), 15, "the message")
                server.send_signal(signal.SIGSTOP)  # connecting to it, or leaving it, now waits for ever
                try:
                    if how != "the failure message up":
                        session.start(self.BINARY)
                    session.wait_for(lambda: catches(session.app, signal.SIGTERM), 10, "the signal handler")
                    session.app.send_signal(signal.SIGTERM)
                    if how == "a second signal":  # ends it at once, with the first one's status
                        time.sleep(0.1)  # two pending at once would be taken lowest number first
                        session.app.send_signal(signal.SIGINT)
                    self.assertEqual(session.exit_status(timeout=0.4 if how == "a second signal" else 2),
                                     70 if how == "the failure message up" else 143)
                finally:
                    server.send_signal(signal.SIGCONT)

    def test_an_interrupt_ignored_by_the_launcher_stays_ignored(self):
        with XSession("1440x900") as session:
            self.open_start_window(session, ignored=(signal.SIGINT,))
            session.app.send_signal(signal.SIGINT)
            time.sleep(1.5)  # past the bound within which a stop request ends the program
            self.assertIsNone(session.app.poll(), "SIGINT ended the program")
            session.app.send_signal(signal.SIGTERM)
            self.assertEqual(session.exit_status(timeout=2), 143)

    def test_display_going_away_ends_the_program_with_failure(self):
        with XSession("1440x900") as session:
            self.open_start_window(session)
            session.key("Return")
            self.assert_board(session)
            session.procs[0].kill()  # the X server
            self.assertEqual(session.exit_status(timeout=5), 1)

    # -- memory errors and leaks ---------------------------------------------------------------------
    def test_memcheck_through_start_go_ticks_and_escape(self):
        """Under valgrind, which slows every step: no memory errors or leaks, and the board,
        watched through the X server's own events, maps once and stays mapped until Escape."""
        supp = os.path.join(os.path.dirname(__file__), "..", "valgrind.supp")
        with XSession("1440x900") as session:
            recorder = subprocess.Popen([os.environ["VQ_X_EVENTS"]], env=session.env, stdout=subprocess.PIPE)
            session.procs.append(recorder)
            events = LineReader(recorder.stdout)
            events.wait_for("ready")
            log = os.path.join(session.home, "memcheck.log")
            wrapper = ["valgrind", "--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=definite",
                       "--errors-for-leak-kinds=definite", "--suppressions=" + supp, "--log-file=" + log]
            session.start(self.BINARY, wrapper=wrapper)
            window, geometry = session.wait_for_window(lambda g: g[2] == 470, "the start window", timeout=120)
            session.wait_active(window)
            session.key("Return")
            board = self.assert_board(session)
            self.blink_changes(session, 3, 20)
            before_escape = events.drain()
            session.key("Escape")
            status = session.exit_status(timeout=120)
            with open(log) as f:
                report = f.read()
            self.assertEqual(status, 0, report[-4000:])
            self.assertIn("ERROR SUMMARY: 0 errors", report)

            # Lines: "map W", "mapped W" (already, when first watched), "unmap W", "reparent W P", ...
            frames = [line.split()[2] for line in before_escape if line.startswith("reparent %d " % board)][:1]
            watched = ["%d" % board] + frames
            history = [line for line in before_escape if line.split()[1] in watched]
            shown = [line for line in history if line.split()[0] in ("map", "mapped")]
            self.assertEqual(len(shown), len(watched), history)  # the board and its frame, once each
            self.assertEqual([line for line in history if line.split()[0] in ("unmap", "destroy")], [], history)
            events.wait_for("destroy %d" % board, exact=True)  # the recorder did watch the board

if __name__ == "__main__":
    BoardChecks.BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
