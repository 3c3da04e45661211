"""End-to-end tests of the terminal front-end (--terminal): the real demo program
in a pseudo-terminal, on the simulated controller, answered like a user at a
keyboard (or a script), with no display at all.

The program's terminal is the pseudo-terminal's other end, which these tests read;
its stderr goes to a file of its own, where the support log lands when it is not
a terminal. What was written to the controller is read from the simulated
controller's flash dump and request log.

Run through CTest (tests/e2e/CMakeLists.txt), which passes TRB_PROGRAM and
TRB_MAKE_UPDATE_FILE. By hand, from tests/e2e:
    TRB_PROGRAM=.../TRBKelo7UpdateDemo TRB_MAKE_UPDATE_FILE=.../make-update-file \\
        python3 -m unittest -v test_terminal
"""

import fcntl
import hashlib
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import threading
import unittest

import trb_x11
from test_command_line import unused_display
from test_update_walk import (ENGLISH, FILE_CONTENT, FILE_NAME, FILE_STAMP, FILE_VERSION, MAKE_UPDATE_FILE,
                              PROGRAM, QUICK, REGIONS)

# session/ExitStatus.h
EXIT_UPDATED, EXIT_UPDATE_FAILED, EXIT_LEFT_BEFORE_WRITE, EXIT_WRITE_INTERRUPTED, EXIT_ANOTHER_UPDATER, \
    EXIT_NOT_TAKEN = 0, 3, 4, 5, 6, 7
# A controller that takes its time with every block, so that the write lasts.
SLOW = "latency_ms=1\nbusy_count=20\n"
QUESTION = "Start the update? [y/N] "
INTRO = "Updates the version of your TRB-Kelo7 firmware."
COMPLETE = "The update of your version of the TRB-Kelo7 firmware is now complete."
PROGRESS = re.compile(r" *(\d+) %  (\d+) of (\d+) KiB  \d+:\d\d elapsed  (?:\d+:\d\d|-:--) left")
# Requests that change the controller's flash (device/simulated/ControllerModel.cpp).
WRITING_REQUESTS = ("prepare", "header", "data", "last", "checksum", "finish")
COLUMNS = 100


class Terminal:
    """One demo program in a folder of its own, with the update file beside it,
    its stdin and stdout on a pseudo-terminal (unless told otherwise) and its
    stderr in a file."""

    def __init__(self, test, *args, scenario=QUICK, file_args=None, language=ENGLISH, stdin="pty",
                 stdout="pty", display=None, runtime_dir=None):
        """scenario: the simulated controller's (text or bytes);
        stdin/stdout: "pty", "devnull", "closed" or "pipe"; display: the DISPLAY to
        give (none by default); runtime_dir: where the per-user lock lies."""
        self.test = test
        self.folder = tempfile.mkdtemp(prefix="trb-terminal-")
        test.addCleanup(shutil.rmtree, self.folder, True)
        program = self.path("TRBKelo7UpdateDemo")
        shutil.copy2(PROGRAM, program)
        self.update_file = self.path(FILE_NAME)
        subprocess.run([MAKE_UPDATE_FILE] + (file_args or [FILE_VERSION, FILE_STAMP, FILE_CONTENT]) + [self.update_file],
                       check=True, capture_output=True)
        with open(self.path("scenario.txt"), "wb") as f:
            f.write(scenario if isinstance(scenario, bytes) else scenario.encode())
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY")}
        env.update(language, TRB_SIM_SCENARIO=self.path("scenario.txt"), TRB_SIM_FLASH_DUMP=self.path("flash.bin"),
                   TRB_SIM_REQUEST_LOG=self.path("requests.log"),
                   XDG_RUNTIME_DIR=runtime_dir or self.private_runtime_dir(), TERM="xterm")
        if display is not None:
            env["DISPLAY"] = display
        if os.environ.get("TRB_PROGRAM_PRELOAD"):
            env["LD_PRELOAD"] = os.environ["TRB_PROGRAM_PRELOAD"]

        self.master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, COLUMNS, 0, 0))
        self.stderr = open(self.path("stderr.txt"), "w+b")
        self.pipe_output = None
        streams = {}
        for name, kind in (("stdin", stdin), ("stdout", stdout)):
            if kind == "pty":
                streams[name] = slave
            elif kind == "devnull":
                streams[name] = subprocess.DEVNULL
            elif kind == "pipe":
                streams[name] = subprocess.PIPE
        closed = stdin == "closed"

        def become_the_terminals_session():
            # The pseudo-terminal becomes the controlling terminal, so that Ctrl+C
            # typed into it reaches the program as SIGINT, as at a real one.
            os.setsid()
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
            if closed:
                os.close(0)

        self.process = subprocess.Popen([program, "--terminal", *args], cwd=self.folder, env=env,
                                        stdin=streams.get("stdin", subprocess.DEVNULL),
                                        stdout=streams.get("stdout"), stderr=self.stderr,
                                        preexec_fn=become_the_terminals_session, pass_fds=[slave])
        os.close(slave)
        test.addCleanup(self.stop)
        self.screen = b""
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        if stdout == "pipe":
            self.pipe_reader = threading.Thread(target=self._read_pipe, daemon=True)
            self.pipe_output = b""
            self.pipe_reader.start()

    def private_runtime_dir(self):
        path = tempfile.mkdtemp(prefix="trb-terminal-runtime-")
        os.chmod(path, 0o700)
        self.test.addCleanup(shutil.rmtree, path, True)
        return path

    def path(self, name):
        return os.path.join(self.folder, name)

    def _read(self):
        while True:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            with self.lock:
                self.screen += chunk

    def _read_pipe(self):
        for chunk in iter(lambda: self.process.stdout.read1(4096), b""):
            with self.lock:
                self.pipe_output += chunk

    def text(self):
        """What the program wrote to its terminal so far, line ends as a terminal shows them."""
        with self.lock:
            return self.screen.decode("utf-8", "replace").replace("\r\n", "\n")

    def piped(self):
        with self.lock:
            return (self.pipe_output or b"").decode("utf-8", "replace")

    def errors(self):
        with open(self.path("stderr.txt"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_for(self, words, timeout=trb_x11.PATIENCE):
        def seen():
            if words in self.text():
                return True
            if self.process.poll() is not None:
                self.reader.join(10)
                if words in self.text():
                    return True
                raise trb_x11.HarnessError(f"program ended ({self.process.returncode}) before {words!r}:\n"
                                           f"{self.text()}\n--- stderr:\n{self.errors()}")
            return False
        trb_x11.wait_until(seen, timeout, 0.02, repr(words))

    def type(self, keys):
        os.write(self.master, keys.encode())

    def wait(self, timeout=trb_x11.PATIENCE):
        status = self.process.wait(timeout)
        self.reader.join(10)
        if self.pipe_output is not None:
            self.pipe_reader.join(10)
        return status

    def requests(self):
        try:
            with open(self.path("requests.log")) as f:
                return [line.split()[1] for line in f if line.strip()]
        except FileNotFoundError:
            return []

    def writing_requests(self):
        return [kind for kind in self.requests() if kind in WRITING_REQUESTS]

    def flash_holds_the_update(self):
        with open(self.update_file, "rb") as f:
            image = f.read()
        with open(self.path("flash.bin"), "rb") as f:
            flash = f.read()
        return all(flash[offset:offset + length] == image[offset:offset + length] for offset, length in REGIONS)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        try:
            os.close(self.master)
        except OSError:
            pass
        for stream in (self.process.stdin, self.process.stdout, self.stderr):
            if stream is not None:
                stream.close()


class TerminalEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")

    def end_status(self, run):
        status = run.wait()
        return status, run.text() + "\n--- stderr:\n" + run.errors()

    def test_the_whole_update_asks_then_writes_with_its_progress_redrawn_in_place(self):
        run = Terminal(self)
        run.wait_for(QUESTION)
        lines = run.text().splitlines()
        self.assertEqual(lines[:4], [
            INTRO,
            "Current Version: Ver. 1.00 (2024-01-01), serial KELO7-SIM-0001, port sim-1, node simulated",
            f"Update Version: Ver. 1.05 (2026-12-09), {run.update_file}",
            "To write: main, 576 KiB at 0x000000; extra, 512 KiB at 0x090000; info, 64 KiB at 0x1D0000"])
        self.assertEqual(run.writing_requests(), [], "nothing is written before the answer")
        run.type("y\n")
        status, output = self.end_status(run)
        self.assertEqual(status, EXIT_UPDATED, output)
        self.assertTrue(run.flash_holds_the_update())
        text = run.text()
        self.assertIn("Updating your TRB-Kelo7 firmware.\n", text)
        self.assertIn(COMPLETE + "\n", text)

        # One line, redrawn in place: each drawing starts with a carriage return, and
        # the percentages never go back; the last drawing is the whole write.
        progress = text[text.index("Please wait"):text.index("Written.")]
        drawings = [d.rstrip(" \n") for d in progress.split("\r")[1:]]
        self.assertGreater(len(drawings), 1, progress)
        percents = []
        for drawing in drawings:
            match = PROGRESS.fullmatch(drawing)
            self.assertIsNotNone(match, repr(drawing))
            percents.append(int(match.group(1)))
            self.assertLess(len(drawing), COLUMNS)
        self.assertEqual(percents, sorted(percents))
        self.assertEqual(drawings[-1][:5], "100 %")
        self.assertEqual(progress.count("\n"), 2, "the progress is one line (after the line asking to wait)")

    def test_yes_writes_without_asking_with_no_display_or_one_that_answers_nothing(self):
        for display in (None, unused_display()):
            with self.subTest(display=display):
                run = Terminal(self, "--yes", display=display)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_UPDATED, output)
                self.assertNotIn(QUESTION, run.text())
                self.assertTrue(run.flash_holds_the_update())

    def test_off_a_terminal_the_progress_is_one_line_per_tenth(self):
        run = Terminal(self, "--yes", stdout="pipe")
        status, output = self.end_status(run)
        self.assertEqual(status, EXIT_UPDATED, output + run.piped())
        lines = [line for line in run.piped().splitlines() if PROGRESS.fullmatch(line)]
        self.assertNotIn("\r", run.piped())
        tenths = [int(PROGRESS.fullmatch(line).group(1)) // 10 for line in lines]
        self.assertEqual(tenths, sorted(set(tenths)), lines)
        self.assertLessEqual(len(lines), 10)
        self.assertEqual(tenths[-1], 10)

    def test_ctrl_c_at_the_question_leaves_with_4_and_writes_nothing(self):
        for keys in ("\x03", "n\n", "\x04"):
            with self.subTest(keys=keys):
                run = Terminal(self)
                run.wait_for(QUESTION)
                run.type(keys)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_LEFT_BEFORE_WRITE, output)
                self.assertEqual(run.writing_requests(), [])

    def test_a_quit_signal_during_the_write_stops_sending_and_ends_with_5(self):
        for how in ("ctrl+c", signal.SIGTERM, signal.SIGHUP):
            with self.subTest(how=how):
                run = Terminal(self, "--yes", scenario=SLOW)
                run.wait_for(" KiB ")
                if how == "ctrl+c":
                    run.type("\x03")
                else:
                    run.process.send_signal(how)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_WRITE_INTERRUPTED, output)
                self.assertIn("Run the updater again to finish the update.", run.text())
                self.assertIn("exit status 5: ended during the write; run the update again", run.errors())
                self.assertNotIn("finish", run.requests())

    def test_errors_end_with_3_their_id_and_what_to_do(self):
        cases = [
            ("no controller", "controllers=0\n", None, "Your TRB-Kelo7 is not connected.", "0x0E21",
             "What to do: plug it in and run again"),
            ("faulty file", QUICK, ["--allow-invalid", "1x05", FILE_STAMP, FILE_CONTENT],
             "There is an error in the update file.", "0x0E04", "What to do: get a new file."),
        ]
        for name, scenario, file_args, says, error_id, remedy in cases:
            with self.subTest(name):
                run = Terminal(self, scenario=scenario, file_args=file_args)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_UPDATE_FAILED, output)
                lines = run.text().splitlines()
                self.assertIn(says, lines)
                self.assertIn(f"Error ID: {error_id}", lines)
                self.assertTrue(any(line.startswith(remedy) for line in lines), output)
                self.assertNotIn(QUESTION, run.text())
                self.assertEqual(run.writing_requests(), [])

    def test_no_answer_without_yes_is_a_refusal_with_4_never_a_wait(self):
        for stdin in ("closed", "devnull", "pipe"):
            with self.subTest(stdin=stdin):
                run = Terminal(self, stdin=stdin)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_LEFT_BEFORE_WRITE, output)
                self.assertIn("standard input is not a terminal", run.text())
                self.assertIn("--yes", run.text())
                self.assertEqual(run.writing_requests(), [])

    def test_json_gives_one_object_per_event_and_the_plain_lines_on_stderr(self):
        run = Terminal(self, "--yes", "--json", stdout="pipe")
        status, output = self.end_status(run)
        self.assertEqual(status, EXIT_UPDATED, output + run.piped())
        events = [json.loads(line) for line in run.piped().splitlines()]
        names = [e["event"] for e in events]
        self.assertEqual(names[:4], ["found", "file", "plan", "started"])
        self.assertEqual(names[-2:], ["confirmation", "result"])
        self.assertEqual(set(names[4:-2]), {"progress"})
        found, file, plan = events[:3]
        self.assertEqual((found["version"], found["stamp"], found["serial"], found["port"], found["node"]),
                         ("1.00", "20240101", "KELO7-SIM-0001", "sim-1", "simulated"))
        self.assertEqual((file["path"], file["version"], file["stamp"]), (run.update_file, FILE_VERSION, FILE_STAMP))
        self.assertEqual([(r["name"], r["address"], r["length"]) for r in plan["regions"]],
                         [("main", 0, 0x90000), ("extra", 0x90000, 0x80000), ("info", 0x1D0000, 0x10000)])
        percents = [e["percent"] for e in events if e["event"] == "progress"]
        self.assertEqual(percents, sorted(set(percents)))
        self.assertEqual(percents[-1], 100)
        self.assertEqual(events[-1]["exit_status"], EXIT_UPDATED)
        self.assertEqual((events[-1]["result"], events[-1]["error_id"]), ("complete", None))
        self.assertIn("Current Version: Ver. 1.00 (2024-01-01)", run.errors())
        self.assertIn(COMPLETE, run.errors())

    def test_json_carries_the_error_id_and_the_exit_status(self):
        run = Terminal(self, "--json", scenario="controllers=0\n", stdout="pipe")
        status, output = self.end_status(run)
        self.assertEqual(status, EXIT_UPDATE_FAILED, output)
        last = json.loads(run.piped().splitlines()[-1])
        self.assertEqual((last["event"], last["result"], last["error_id"], last["exit_status"]),
                         ("result", "error", "0x0E21", EXIT_UPDATE_FAILED))

    def test_after_the_write_the_controllers_word_is_told_with_its_own_exit_status(self):
        # The simulated controller restarts after the finish request and comes back
        # with what was written, stays away, or comes back unchanged.
        cases = [
            ("comes back updated", "", EXIT_UPDATED, "confirmed",
             "Confirmed: the controller now reports version 1.05 (2026-12-09).", "write confirmed: "),
            ("does not come back", "gone_after_finish=1\n", EXIT_UPDATED, "no answer",
             "Written, not confirmed (replug the controller to check).", "written, not confirmed"),
            ("comes back unchanged", "unchanged_after_finish=1\n", EXIT_NOT_TAKEN, "mismatch",
             "Warning: the controller now reports version 1.00 (2024-01-01), not the update's 1.05 (2026-12-09)",
             "write not taken: "),
        ]
        for name, scenario, exit_status, outcome, says, logged in cases:
            with self.subTest(name):
                run = Terminal(self, "--yes", "--json", scenario=QUICK + scenario, stdout="pipe")
                status, output = self.end_status(run)
                self.assertEqual(status, exit_status, output + run.piped())
                self.assertTrue(any(line.startswith(says) for line in run.errors().splitlines()), run.errors())
                # "Complete" is never said of a write the controller did not take.
                self.assertEqual(COMPLETE in run.errors(), exit_status == EXIT_UPDATED)
                self.assertTrue(any(line.startswith(logged) for line in run.errors().splitlines()), run.errors())
                events = [json.loads(line) for line in run.piped().splitlines()]
                self.assertEqual([e["event"] for e in events[-2:]], ["confirmation", "result"])
                self.assertEqual(events[-2]["outcome"], outcome)
                self.assertEqual(events[-1]["exit_status"], exit_status)
                if exit_status == EXIT_UPDATED:
                    self.assertTrue(run.flash_holds_the_update())

    def json_events(self, run):
        events = [json.loads(line) for line in run.piped().splitlines()]
        self.assertEqual([e["event"] for e in events].count("result"), 1, run.piped())
        self.assertEqual(events[-1]["event"], "result", run.piped())
        return events

    def test_two_quit_signals_back_to_back_during_the_write_still_end_with_one_result_line_last(self):
        for json_asked in (True, False):
            with self.subTest(json=json_asked):
                args = ["--yes", "--json"] if json_asked else ["--yes"]
                run = Terminal(self, *args, scenario=SLOW, stdout="pipe" if json_asked else "pty")
                if json_asked:
                    trb_x11.wait_until(lambda: '"progress"' in run.piped(), trb_x11.PATIENCE, what="the write's progress")
                else:
                    run.wait_for(" KiB ")
                # A closing terminal sends such pairs.
                run.process.send_signal(signal.SIGINT)
                run.process.send_signal(signal.SIGTERM)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_WRITE_INTERRUPTED, output + run.piped())
                plain = run.errors() if json_asked else run.text()
                self.assertIn("Stopped during the write: nothing more was sent. Run the updater again to finish the update.",
                              plain)
                self.assertNotIn("finish", run.requests())
                if json_asked:
                    last = self.json_events(run)[-1]
                    self.assertEqual((last["result"], last["exit_status"]), ("interrupted", EXIT_WRITE_INTERRUPTED))

    def test_a_command_line_not_understood_with_json_ends_with_its_result_line(self):
        run = Terminal(self, "--json", "--no-such-option", stdout="pipe")
        status, output = self.end_status(run)
        self.assertEqual(status, 2, output)
        last = self.json_events(run)[-1]
        self.assertEqual((last["result"], last["exit_status"], last["error_id"]), ("usage", 2, None))
        self.assertIn("--no-such-option", last["message"])

    def test_another_updater_holding_the_lock_ends_with_6_and_its_result_line(self):
        runtime_dir = tempfile.mkdtemp(prefix="trb-terminal-runtime-")
        os.chmod(runtime_dir, 0o700)
        self.addCleanup(shutil.rmtree, runtime_dir, True)
        first = Terminal(self, runtime_dir=runtime_dir)
        first.wait_for(QUESTION)
        second = Terminal(self, "--json", runtime_dir=runtime_dir, stdout="pipe")
        status, output = self.end_status(second)
        self.assertEqual(status, EXIT_ANOTHER_UPDATER, output)
        last = self.json_events(second)[-1]
        self.assertEqual((last["result"], last["exit_status"]), ("another updater", EXIT_ANOTHER_UPDATER))
        self.assertIn(f"another updater (process {first.process.pid}", last["message"])
        first.type("n\n")
        self.assertEqual(first.wait(), EXIT_LEFT_BEFORE_WRITE, first.errors())

    def test_the_file_taken_is_told_whatever_ends_the_run(self):
        # (name, scenario, file_args, the path given or None for the file beside the
        # program, error ID, version told)
        missing = "does-not-exist.bin"
        cases = [
            ("no controller", "controllers=0\n", None, None, "0x0E21", FILE_VERSION),
            ("invalid date stamp", QUICK, ["--allow-invalid", FILE_VERSION, "20261341", FILE_CONTENT], None, "0x0E04",
             FILE_VERSION),
            ("named and missing", QUICK, None, missing, "0x0E01", ""),
        ]
        for name, scenario, file_args, named, error_id, version in cases:
            with self.subTest(name):
                args = ["--json"] + (["--", missing] if named else [])
                run = Terminal(self, *args, scenario=scenario, file_args=file_args, stdout="pipe")
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_UPDATE_FAILED, output + run.piped())
                events = self.json_events(run)
                files = [e for e in events if e["event"] == "file"]
                self.assertEqual(len(files), 1, run.piped())
                path = run.path(named) if named else run.update_file
                self.assertEqual((files[0]["path"], files[0]["version"]), (path, version))
                if named:
                    self.assertNotIn("sha256", files[0], "no file was read")
                else:
                    with open(path, "rb") as f:
                        self.assertEqual(files[0]["sha256"], hashlib.sha256(f.read()).hexdigest())
                self.assertEqual(events[-1]["error_id"], error_id)
                if named:
                    self.assertIn(f"Update file: {path} (does not exist)", run.errors())

    def test_a_sha256_given_admits_only_that_file_and_refuses_another_before_anything_is_sent(self):
        folder = tempfile.mkdtemp(prefix="trb-terminal-digest-")
        self.addCleanup(shutil.rmtree, folder, True)
        made = os.path.join(folder, FILE_NAME)
        subprocess.run([MAKE_UPDATE_FILE, FILE_VERSION, FILE_STAMP, FILE_CONTENT, made], check=True, capture_output=True)
        with open(made, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        other = hashlib.sha256(b"another file").hexdigest()
        # (name, the digest given, exit status, error ID of the result, written)
        cases = [
            ("the file's own, in capitals", digest.upper(), EXIT_UPDATED, None, True),
            ("another file's", other, EXIT_UPDATE_FAILED, "0x0E06", False),
            ("not 64 hex digits", digest[:-1] + "g", 2, None, False),
        ]
        for name, given, exit_status, error_id, written in cases:
            with self.subTest(name):
                run = Terminal(self, "--yes", "--json", "--sha256", given, stdout="pipe")
                status, output = self.end_status(run)
                self.assertEqual(status, exit_status, output + run.piped())
                events = self.json_events(run)
                self.assertEqual(events[-1]["error_id"], error_id)
                if written:
                    self.assertTrue(run.flash_holds_the_update(), output)
                else:
                    self.assertEqual(run.requests(), [], "nothing is sent to the controller")
                files = [e["sha256"] for e in events if e["event"] == "file"]
                self.assertEqual(files, [] if exit_status == 2 else [digest], run.piped())

    def test_only_a_whole_line_of_y_or_yes_starts_the_write_and_the_answers_line_is_ended(self):
        # What is typed at the question, and whether it starts the write. A NUL
        # (Ctrl+Space) ends a line of the terminal but is no answer; Ctrl+D after
        # text hands the text over unended, a second one ends the input.
        cases = [
            (" Yes \n", True),
            ("y\x00no\n", False),
            ("y\x04\x04", False),
            ("\x04", False),
            ("\ty\n", False),
            ("\x1b[Ay\n", False),
            ("yes please\n", False),
        ]
        for keys, writes in cases:
            with self.subTest(keys=keys):
                run = Terminal(self)
                run.wait_for(QUESTION)
                run.type(keys)
                status, output = self.end_status(run)
                self.assertEqual(status, EXIT_UPDATED if writes else EXIT_LEFT_BEFORE_WRITE, output)
                self.assertEqual(run.writing_requests() != [], writes, output)
                # The answer's line is ended before the program's next words.
                after = run.text().split(QUESTION, 1)[1]
                self.assertRegex(after, r"^[^\n]*\n(Updating|Left before the write started|No answer)", output)

    def test_a_terminal_narrowed_during_the_write_gets_redraws_that_fit_it(self):
        narrow = 30
        run = Terminal(self, "--yes", scenario=SLOW)
        run.wait_for(" KiB ")

        def drawings():
            text = run.text()
            return text[text.index("Please wait"):].split("Stopped during")[0].split("\r")[1:]

        def lengths():
            return [len(d.rstrip("\n")) for d in drawings()]

        before = len(lengths())
        fcntl.ioctl(run.master, termios.TIOCSWINSZ, struct.pack("HHHH", 24, narrow, 0, 0))
        trb_x11.wait_until(lambda: len(lengths()) >= before + 8, trb_x11.PATIENCE, 0.05, "eight more drawings")
        run.process.send_signal(signal.SIGTERM)  # Ctrl+C would be echoed after the drawing
        status, output = self.end_status(run)
        self.assertEqual(status, EXIT_WRITE_INTERRUPTED, output)
        # A drawing made before the width changed may still come after it; from the
        # first one that fits, every one does.
        after = lengths()[before:]
        first_narrow = next((i for i, length in enumerate(after) if length < narrow), len(after))
        self.assertLess(first_narrow, 5, after)
        self.assertTrue(all(length < narrow for length in after[first_narrow:]), after)
        self.assertEqual(sum(d.count("\n") for d in drawings()), 1, "the progress stays one line")

    def test_json_lines_are_json_whatever_bytes_come_from_outside(self):
        # Every byte a folder's name may hold (all but NUL and "/"), many of them no
        # UTF-8. (The controller's version and a holder's name are written through
        # the same strings: JsonEventWriter's tests give them every byte.)
        home = tempfile.mkdtemp(prefix="trb-terminal-json-")
        self.addCleanup(shutil.rmtree, home, True)
        folder = os.path.join(os.fsencode(home), bytes(b for b in range(1, 256) if b != ord("/")))
        os.mkdir(folder)
        update_file = os.path.join(folder, FILE_NAME.encode())
        subprocess.run([MAKE_UPDATE_FILE, FILE_VERSION, FILE_STAMP, FILE_CONTENT, update_file], check=True,
                       capture_output=True)
        run = Terminal(self, "--yes", "--json", update_file, stdout="pipe")
        status, output = self.end_status(run)
        with run.lock:
            raw = run.pipe_output
        self.assertEqual(status, EXIT_UPDATED, output + repr(raw))
        # Strictly: UTF-8 throughout, no raw control character in a string.
        events = [json.loads(line.decode("utf-8"), strict=True) for line in raw.splitlines()]
        self.assertEqual([e["event"] for e in events[:2]], ["found", "file"])
        # Each byte that begins no UTF-8 character is one U+FFFD; in this name no lead
        # byte is followed by a byte that could continue it, so Python's decoder agrees.
        self.assertEqual(events[1]["path"], update_file.decode("utf-8", "replace"))
        self.assertEqual(events[-1]["event"], "result")

    def test_the_lines_speak_the_language_asked_for_or_the_users(self):
        for args, language, says in ((["--language", "ja"], ENGLISH, "現在のバージョン"),
                                     ([], {"LC_ALL": "fr_FR.UTF-8", "LC_MESSAGES": "", "LANG": "fr_FR.UTF-8"},
                                      "Version actuelle")):
            with self.subTest(args=args):
                run = Terminal(self, *args, language=language)
                run.wait_for(QUESTION)
                self.assertIn(says, run.text())
                run.type("n\n")
                self.assertEqual(run.wait(), EXIT_LEFT_BEFORE_WRITE)


class TerminalBesideTheWindow(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")
        self.server = trb_x11.private_server(self)

    def test_a_window_run_and_a_terminal_run_started_together_never_both_write(self):
        terminal = Terminal(self, "--yes", runtime_dir=self.server.runtime_dir)
        folder = tempfile.mkdtemp(prefix="trb-window-")
        self.addCleanup(shutil.rmtree, folder, True)
        program = os.path.join(folder, "TRBKelo7UpdateDemo")
        shutil.copy2(PROGRAM, program)
        subprocess.run([MAKE_UPDATE_FILE, FILE_VERSION, FILE_STAMP, FILE_CONTENT, os.path.join(folder, FILE_NAME)],
                       check=True, capture_output=True)
        window_requests = os.path.join(folder, "requests.log")
        window = self.server.start(program, extra_env=dict(ENGLISH, TRB_SIM_REQUEST_LOG=window_requests))
        self.addCleanup(window.stop)

        terminal_status = terminal.wait()
        if terminal_status == EXIT_UPDATED:
            # The terminal run held the lock: the window's launch did not start beside
            # it. It either ended, or (on a machine slow enough that it came to the lock
            # only after the terminal run had ended) opened its window after that end.
            self.assertTrue(terminal.flash_holds_the_update())
            trb_x11.wait_until(lambda: window.process.poll() is not None or window.windows(), trb_x11.PATIENCE,
                               what="the window's launch to end or show its window")
            if window.process.poll() is not None:
                self.assertEqual(window.process.returncode, EXIT_ANOTHER_UPDATER, window.output())
                self.assertIn("another updater (process", window.output())
                self.assertIn("takes no launches", window.output())
                self.assertNotIn("kill", window.output())
        else:
            # The window held it first: the terminal run wrote nothing and said who holds it.
            self.assertEqual(terminal_status, EXIT_ANOTHER_UPDATER, terminal.errors())
            self.assertEqual(terminal.writing_requests(), [])
            self.assertIn("another updater (process", terminal.errors())
            window.wait_for_window()
        if window.process.poll() is None:
            window.signal()
            window.wait()
        # The window was never asked to start its write, whoever held the lock.
        if os.path.exists(window_requests):
            with open(window_requests) as f:
                self.assertEqual([line for line in f if line.split()[1] in WRITING_REQUESTS], [])

    def test_a_window_launch_beside_a_terminal_run_at_its_question_says_it_is_busy_not_hung(self):
        terminal = Terminal(self, runtime_dir=self.server.runtime_dir)
        terminal.wait_for(QUESTION)
        window = self.server.start(PROGRAM, extra_env=ENGLISH)
        self.addCleanup(window.stop)
        self.assertEqual(window.wait(), EXIT_ANOTHER_UPDATER, window.output())
        self.assertIn(f"another updater (process {terminal.process.pid}", window.output())
        self.assertIn("takes no launches", window.output())
        # Ending a busy terminal run would interrupt its write.
        self.assertNotIn("kill", window.output())
        terminal.type("n\n")
        self.assertEqual(terminal.wait(), EXIT_LEFT_BEFORE_WRITE, terminal.errors())


if __name__ == "__main__":
    unittest.main()
