"""End-to-end tests of the command line, the exit status and the places where
the update file is looked for: the real demo program, driven like a user or a
script would drive it, its stderr read as a supporter would read the journal.

Run through CTest (tests/e2e/CMakeLists.txt), which passes TRB_PROGRAM and
TRB_MAKE_UPDATE_FILE. By hand, from tests/e2e:
    TRB_PROGRAM=.../TRBKelo7UpdateDemo TRB_MAKE_UPDATE_FILE=.../make-update-file \\
        python3 -m unittest -v test_command_line
"""

import os
import random
import re
import shutil
import socket
import subprocess
import tempfile
import unittest

import trb_x11
from test_update_walk import (FILE_NAME, FILE_STAMP, FILE_VERSION, MAKE_UPDATE_FILE, PROGRAM, ST_BLOCK_HEADER,
                              ST_BLOCK_WAIT, ST_INITIAL, ST_READY, Walk)

# session/ExitStatus.h
EXIT_UPDATED, EXIT_CANNOT_START, EXIT_USAGE, EXIT_UPDATE_FAILED, EXIT_LEFT_BEFORE_WRITE, EXIT_WRITE_INTERRUPTED = \
    0, 1, 2, 3, 4, 5
# A controller that takes its time with every block, so that the write lasts.
SLOW = "latency_ms=1\nbusy_count=20\n"
ERR_FILE_NOT_FOUND = 0x0E01
# Where a display number that nothing answers is drawn from: far above the
# numbers X servers take for themselves (Xvfb -displayfd counts up from 0).
UNUSED_DISPLAYS_FROM, UNUSED_DISPLAYS_TO = 1000, 30000


def run_alone(*args, display=None, timeout=trb_x11.PATIENCE):
    """Runs the program to its end with no display, or with the one named."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    if display is not None:
        env["DISPLAY"] = display
    if os.environ.get("TRB_PROGRAM_PRELOAD"):
        env["LD_PRELOAD"] = os.environ["TRB_PROGRAM_PRELOAD"]
    return subprocess.run([PROGRAM, *args], env=env, capture_output=True, text=True, timeout=timeout)


def project_version():
    """The version the build gives the program: the project's own."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(\w+ VERSION ([0-9.]+)", f.read()).group(1)


def display_is_taken(number):
    """Whether display number has a server or a listener: its lock file, its
    socket file, or someone on its abstract socket (where a test of another run
    may be listening without any file)."""
    if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
        return True
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        try:
            probe.connect(f"\0/tmp/.X11-unix/X{number}")
        except OSError:
            return False
    return True


def unused_display():
    """A display name that no X server answers on this machine, drawn at random
    from numbers far above those servers take, so that runs side by side do not
    draw the same one."""
    for _ in range(100):
        number = random.randrange(UNUSED_DISPLAYS_FROM, UNUSED_DISPLAYS_TO)
        if not display_is_taken(number):
            return f":{number}"
    raise trb_x11.HarnessError("no unused display number")


class CommandLineWithoutDisplay(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("TRB_PROGRAM is not set")

    def test_help_and_version_print_and_end_without_a_display(self):
        result = run_alone("--help")
        self.assertEqual(result.returncode, EXIT_UPDATED, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertTrue(result.stdout.startswith("Usage: TRBKelo7UpdateDemo "), result.stdout)
        for words in ("--version", "FILE-OR-FOLDER", "Downloads", "Exit status:",
                      f"{EXIT_UPDATE_FAILED}  an error screen"):
            self.assertIn(words, result.stdout)

        # The first of the two wins; what follows them is not read.
        for args in (["--version"], ["--version", "--help"], ["some-file.bin", "--version", "--bad"]):
            with self.subTest(args=args):
                result = run_alone(*args)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (EXIT_UPDATED, f"TRBKelo7UpdateProgram {project_version()}\n", ""))

    def test_a_command_line_not_understood_ends_with_one_line_and_status_2(self):
        for args, words in ((["--frobnicate"], "unknown option '--frobnicate'"),
                            (["a.bin", "b.bin"], "only one update file or folder"),
                            ([""], "empty path")):
            with self.subTest(args=args):
                result = run_alone(*args)
                self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn(words, result.stderr)
                self.assertIn("--help", result.stderr)

    def test_an_argument_that_is_not_utf8_ends_as_usual(self):
        # A stray continuation byte far ahead of the argument's end (os.fsencode
        # turns the escape back into the byte 0x80).
        odd = "a\udc80" + "B" * 100
        result = run_alone(odd)
        self.assertEqual(result.returncode, EXIT_CANNOT_START, result.stderr)
        self.assertIn("DISPLAY is not set", result.stderr)
        for args, quoted in ((["--" + odd], True), ([odd, "second.bin"], False)):
            with self.subTest(args=args):
                result = run_alone(*args)
                self.assertEqual(result.returncode, EXIT_USAGE, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                if quoted:
                    # The byte is shown as U+FFFD, never passed on raw.
                    self.assertIn("'--a\ufffd" + "B" * 100 + "'", result.stderr)

    def test_no_display_or_one_that_cannot_be_opened_ends_with_one_line_and_status_1(self):
        for display, words in ((None, "DISPLAY is not set"), ("", "DISPLAY is not set"),
                               (unused_display(), "cannot open the display")):
            with self.subTest(display=display):
                result = run_alone(display=display)
                self.assertEqual(result.returncode, EXIT_CANNOT_START, result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn(words, result.stderr)


class CommandLineEndToEnd(unittest.TestCase):
    """Runs with a window: each in a private Xvfb, from a current folder and a
    home of its own, so that no update file of the machine is found."""

    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")
        self.server = trb_x11.private_server(self)
        self.home = tempfile.mkdtemp(prefix="trb-home-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.current = os.path.join(self.home, "current")
        self.elsewhere = os.path.join(self.home, "elsewhere")
        for folder in (self.current, self.elsewhere):
            os.makedirs(folder)

    def walk(self, update_file=None, args=(), scenario=None):
        env = {"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config")}
        extra = {"scenario": scenario} if scenario else {}
        walk = Walk(self, update_file=update_file, args=args, cwd=self.current, extra_env=env, **extra)
        self.addCleanup(walk.program.stop)
        walk.wait_for_status(ST_INITIAL, "the language screen")
        return walk

    @staticmethod
    def press(walk, control, leaves_status):
        """Clicks a control of the screen showing leaves_status and waits until
        the screen changes. One click only: a second one, sent while a loaded
        machine is still handling the first, would land on whatever the next
        screen shows at that place."""
        walk.click(control)
        walk.wait_for_screen(lambda s: s["status"] != leaves_status,
                             f"{control} to take effect")

    @staticmethod
    def close(walk):
        """Clicks the screen's Close (or Cancel) and returns the program's exit status."""
        walk.click("cancel")
        return walk.program.wait()

    def log_line(self, walk, start):
        """The one line of the support log that begins with start. The program
        writes its lines from a thread of its own, so a line may reach stderr a
        moment after the screen it belongs to: it is waited for."""
        def lines():
            return [line for line in walk.program.output().splitlines() if line.startswith(start)]
        trb_x11.wait_until(lambda: lines() or walk.program.process.poll() is not None, trb_x11.PATIENCE,
                           what=f"a log line beginning {start!r}")
        self.assertEqual(len(lines()), 1, walk.program.output())
        return lines()[0]

    def test_leaving_before_the_write_ends_with_status_4(self):
        for leave_on in (ST_INITIAL, ST_READY):
            with self.subTest(screen=leave_on):
                walk = self.walk()
                if leave_on == ST_READY:
                    self.press(walk, "ok", ST_INITIAL)
                    walk.wait_for_status(ST_READY, "the ready screen")
                self.assertEqual(self.close(walk), EXIT_LEFT_BEFORE_WRITE, walk.program.output())
                self.assertEqual(self.log_line(walk, "exit status"), "exit status 4: left before the write started")

    def test_a_quit_signal_during_the_write_ends_with_status_5(self):
        walk = self.walk(scenario=SLOW)
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        self.press(walk, "ok", ST_READY)
        walk.wait_for_screen(lambda s: ST_BLOCK_HEADER <= s["status"] <= ST_BLOCK_WAIT, "the progress screen")
        walk.program.signal()
        self.assertEqual(walk.program.wait(), EXIT_WRITE_INTERRUPTED, walk.program.output())
        self.assertIn("write started", walk.program.output().splitlines())
        self.assertEqual(self.log_line(walk, "exit status"),
                         "exit status 5: ended during the write; run the update again")

    def test_no_update_file_anywhere_names_every_folder_searched_and_ends_with_status_3(self):
        walk = self.walk(update_file=os.path.join(self.elsewhere, FILE_NAME))
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ERR_FILE_NOT_FOUND, "the file error screen")
        self.assertEqual(self.log_line(walk, "update file"),
                         f"update file not found: searched {walk.folder}, {self.current}, "
                         f"{os.path.join(self.home, 'Downloads')}")
        self.assertEqual(self.log_line(walk, "result"), "result: error 0x0E01, no update file (trbkelo7__vNNN.bin) was found")
        self.assertEqual(self.close(walk), EXIT_UPDATE_FAILED, walk.program.output())

    def test_a_file_named_on_the_command_line_is_taken_whatever_its_name(self):
        named = os.path.join(self.elsewhere, "firmware (1).bin")
        walk = self.walk(update_file=named, args=[named])
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        self.assertEqual(self.log_line(walk, "update file"),
                         f"update file taken: {named}, version {FILE_VERSION}, date stamp {FILE_STAMP}")

    def test_a_named_file_that_does_not_exist_is_not_replaced_by_another(self):
        missing = os.path.join(self.elsewhere, "trbkelo7__v999.bin")
        # A good file lies beside the program, but the user asked for another.
        walk = self.walk(args=[missing])
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ERR_FILE_NOT_FOUND, "the file error screen")
        self.assertEqual(self.log_line(walk, "update file"),
                         f"update file not found: {missing} does not exist (named on the command line)")
        self.assertEqual(self.close(walk), EXIT_UPDATE_FAILED, walk.program.output())

    def test_the_download_folder_is_the_one_the_user_dirs_name(self):
        downloads = os.path.join(self.home, "Téléchargements")
        os.makedirs(downloads)
        os.makedirs(os.path.join(self.home, ".config"))
        with open(os.path.join(self.home, ".config", "user-dirs.dirs"), "w") as f:
            f.write('XDG_DOWNLOAD_DIR="$HOME/Téléchargements"\n')
        walk = self.walk(update_file=os.path.join(downloads, FILE_NAME))
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        self.assertEqual(self.log_line(walk, "update file"),
                         f"update file taken: {os.path.join(downloads, FILE_NAME)}, version {FILE_VERSION}, "
                         f"date stamp {FILE_STAMP}")

    def test_names_that_are_not_utf8_are_found_and_taken_by_their_bytes(self):
        # The current folder's name and the file's are not UTF-8; a dangling link
        # named like a newer update file lies beside the program.
        current = os.path.join(self.home, "cur\udcfe")
        os.makedirs(current)
        self.current = current
        odd_name = "trbkelo7__v1\udcff3.bin"
        walk = self.walk(update_file=os.path.join(current, "staging"))
        os.rename(os.path.join(current, "staging"), os.path.join(current, odd_name))
        # Never taken (not 18 characters), but listed: its stray continuation
        # byte lies far ahead of the name's end.
        with open(os.path.join(current, "trbkelo7__v\udc80" + "a" * 200 + ".bin"), "wb"):
            pass
        os.symlink("/nonexistent/trbkelo7", os.path.join(walk.folder, "trbkelo7__v999.bin"))
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        shown = os.path.join(self.home, "cur\ufffd", "trbkelo7__v1\ufffd3.bin")
        self.assertEqual(self.log_line(walk, "update file"),
                         f"update file taken: {shown}, version {FILE_VERSION}, date stamp {FILE_STAMP}")
        self.assertEqual(self.close(walk), EXIT_LEFT_BEFORE_WRITE, walk.program.output())

        # Files named on the command line: relative to that folder, and one whose
        # stray continuation byte lies far ahead of the argument's end.
        far = "a\udc80" + "B" * 100 + ".bin"
        os.rename(os.path.join(self.home, "cur\udcfe", odd_name), os.path.join(self.elsewhere, far))
        os.symlink(os.path.join(self.elsewhere, far), os.path.join(current, odd_name))
        for arg, taken in ((odd_name, shown),
                           (os.path.join(self.elsewhere, far), os.path.join(self.elsewhere, "a\ufffd" + "B" * 100 + ".bin"))):
            with self.subTest(arg=arg):
                named = self.walk(update_file=os.path.join(self.elsewhere, FILE_NAME), args=[arg])
                self.press(named, "ok", ST_INITIAL)
                named.wait_for_status(ST_READY, "the ready screen")
                self.assertEqual(self.log_line(named, "update file"),
                                 f"update file taken: {taken}, version {FILE_VERSION}, date stamp {FILE_STAMP}")
                self.assertEqual(self.close(named), EXIT_LEFT_BEFORE_WRITE, named.program.output())

    def test_a_user_dirs_file_that_is_no_regular_file_neither_hangs_nor_is_read(self):
        config = os.path.join(self.home, ".config")
        os.makedirs(config)
        user_dirs = os.path.join(config, "user-dirs.dirs")
        downloads = os.path.join(self.home, "Downloads")
        for what, make in (("a FIFO", lambda: os.mkfifo(user_dirs)),
                           ("a link to /dev/zero", lambda: os.symlink("/dev/zero", user_dirs))):
            with self.subTest(what=what):
                if os.path.lexists(user_dirs):
                    os.unlink(user_dirs)
                make()
                walk = self.walk(update_file=os.path.join(self.elsewhere, FILE_NAME))
                self.assertEqual(self.log_line(walk, "download folder"),
                                 f"download folder: {user_dirs} is not a regular file; using {downloads}")
                self.press(walk, "ok", ST_INITIAL)
                walk.wait_for_status(ERR_FILE_NOT_FOUND, "the file error screen")
                self.assertIn(f"searched {walk.folder}, {self.current}, {downloads}", walk.program.output())
                self.assertEqual(self.close(walk), EXIT_UPDATE_FAILED, walk.program.output())


if __name__ == "__main__":
    unittest.main()
