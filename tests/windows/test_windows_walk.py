"""End-to-end walk of the Windows demo under Wine: the .exe on the simulated
controller, from the language screen to the completion screen, driven with
keys like a user, on the run's private X display (Wine's windows are X windows
there, so the Linux tests' X tools drive them too).

What each screen says is read from the program's screen log, as in the Linux
walk (tests/e2e/test_update_walk.py); the controller's flash is compared with
the update file and the exit status checked. The time from the start to the
first screen drawn (the first paint) is printed. Each screen is saved as a PNG
in TRB_SCREENSHOT_DIR when it is set (docs/screenshots/windows/ holds copies).

Run through CTest (tests/windows/CMakeLists.txt), which passes TRB_PROGRAM,
TRB_MAKE_UPDATE_FILE, TRB_WINE_SH, TRB_WINE_PREFIX and TRB_DISPLAY_FILE.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import trb_x11  # noqa: E402

PROGRAM = os.environ.get("TRB_PROGRAM", "")
MAKE_UPDATE_FILE = os.environ.get("TRB_MAKE_UPDATE_FILE", "")
WINE_SH = os.environ.get("TRB_WINE_SH", "")
WINE_PREFIX = os.environ.get("TRB_WINE_PREFIX", "")
DISPLAY_FILE = os.environ.get("TRB_DISPLAY_FILE", "")
SCREENSHOT_DIR = os.environ.get("TRB_SCREENSHOT_DIR", "")

ST_INITIAL, ST_READY, ST_BLOCK_HEADER, ST_BLOCK_WAIT, ST_COMPLETE = 0, 1, 3, 6, 7
EXIT_UPDATED, EXIT_LEFT_BEFORE_WRITE = 0, 4
QUICK = "latency_ms=0\nbusy_count=6\n"
FILE_VERSION, FILE_STAMP, FILE_CONTENT = "1.05", "20261209", "seed:105"
FILE_NAME = "trbkelo7__v105.bin"
REGIONS = [(0x000000, 0x90000), (0x090000, 0x80000), (0x1D0000, 0x10000)]
# The size the screen is laid out at once the native title bar has taken over
# (the whole window is client area then), as in the Linux walk. Under Wine the
# screen is logged at the content's own 404 x 126 first, and the window can get
# its title before that relayout: a screen of the earlier size is never the one
# a key acts on, so only screens at the final size count.
WINDOW_SIZE = (406, 154)


def windows_path(path):
    """The path as a Windows program under Wine opens it: the machine's root is Z:."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineDisplay:
    """The run's shared display, as trb_x11's windows and programs use a server."""

    def __init__(self):
        with open(DISPLAY_FILE) as f:
            self.display = f.read().strip()

    @property
    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def tool(self, *args, check=True):
        result = subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=trb_x11.PATIENCE)
        if check and result.returncode != 0:
            raise trb_x11.HarnessError(f"{args[0]} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    def focus(self, window):
        self.tool("xdotool", "windowfocus", "--sync", str(window))


class WineProgram:
    """The demo started under Wine; its windows are found by their title's
    owner, the Unix process Wine runs the program in (Wine keeps the process
    it was started as)."""

    def __init__(self, display, exe, env):
        self.display = display
        self.log = tempfile.TemporaryFile()
        full_env = display.env
        full_env.update(env)
        self.started = time.monotonic()
        self.process = subprocess.Popen([WINE_SH, "run", WINE_PREFIX, exe], env=full_env,
                                        stdout=self.log, stderr=subprocess.STDOUT)

    def windows(self):
        out = self.display.tool("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid), check=False)
        return [trb_x11.Window(self.display, int(w)) for w in out.split()]

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()


class WindowsWalkEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE and WINE_SH and WINE_PREFIX and DISPLAY_FILE):
            self.skipTest("TRB_PROGRAM, TRB_MAKE_UPDATE_FILE, TRB_WINE_SH, TRB_WINE_PREFIX or TRB_DISPLAY_FILE unset")
        self.display = WineDisplay()
        self.folder = tempfile.mkdtemp(prefix="trb-wine-walk-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def start_demo(self):
        # A copy beside the update file: the program takes the file from its own folder.
        exe = self.path("TRBKelo7UpdateDemo.exe")
        shutil.copy2(PROGRAM, exe)
        self.update_file = self.path(FILE_NAME)
        subprocess.run([WINE_SH, "run", WINE_PREFIX, MAKE_UPDATE_FILE, FILE_VERSION, FILE_STAMP, FILE_CONTENT,
                        windows_path(self.update_file)], check=True, capture_output=True, env=self.display.env)
        with open(self.path("scenario.txt"), "w") as f:
            f.write(QUICK)
        self.log_path, self.flash_path = self.path("screen.log"), self.path("flash.bin")
        # Wine takes the user's language from the locale variables.
        env = {"LC_ALL": "en_US.UTF-8", "LANG": "en_US.UTF-8",
               "TRB_SCREEN_LOG": windows_path(self.log_path),
               "TRB_SIM_SCENARIO": windows_path(self.path("scenario.txt")),
               "TRB_SIM_FLASH_DUMP": windows_path(self.flash_path)}
        self.program = WineProgram(self.display, exe, env)
        self.addCleanup(self.program.stop)

    def entries(self):
        try:
            with open(self.log_path, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except (OSError, ValueError):
            return []

    def wait_for_screen(self, condition, what):
        def found():
            if self.program.process.poll() is not None:
                raise trb_x11.HarnessError(f"program ended ({self.program.process.returncode}) while waiting for "
                                           f"{what}:\n{self.program.output()}")
            screens = [e for e in self.entries() if e["event"] == "screen" and e["width"] == WINDOW_SIZE[0]]
            return screens[-1] if screens and condition(screens[-1]) else None
        return trb_x11.wait_until(found, trb_x11.PATIENCE, 0.01, what)

    def wait_for_window(self):
        def find():
            if self.program.process.poll() is not None:
                raise trb_x11.HarnessError(f"program ended ({self.program.process.returncode}) before its "
                                           f"window:\n{self.program.output()}")
            return next((w for w in self.program.windows() if w.size()[0] >= WINDOW_SIZE[0]), None)
        return trb_x11.wait_until(find, trb_x11.PATIENCE, 0.05, "the program's window")

    def screenshot(self, window, name):
        if SCREENSHOT_DIR:
            os.makedirs(SCREENSHOT_DIR, exist_ok=True)
            window.screenshot(os.path.join(SCREENSHOT_DIR, name + ".png"))

    def press_return(self, window):
        # Wine takes no synthetic key events sent to a window: the key goes
        # through the X server's test extension to the window with the focus.
        self.display.focus(window.id)
        self.display.tool("xdotool", "key", "Return")

    def test_a_full_update_under_wine_from_the_language_screen_to_ok(self):
        self.start_demo()
        window = self.wait_for_window()
        screen = self.wait_for_screen(lambda s: s["status"] == ST_INITIAL, "the language screen")
        print(f"first paint under Wine: {time.monotonic() - self.program.started:.1f} s after the start")
        self.assertEqual(screen["controls"]["language"]["text"], "English")
        trb_x11.wait_until(lambda: window.title() == "Updater Program", trb_x11.PATIENCE, what="the window's title")
        self.screenshot(window, "language-english")

        self.press_return(window)
        screen = self.wait_for_screen(lambda s: s["status"] == ST_READY, "the ready screen")
        self.assertIn("Update Version: Ver. 1.05", screen["body"].split("\n"))
        self.assertEqual(screen["title"], window.title())
        self.screenshot(window, "ready")

        self.press_return(window)
        self.wait_for_screen(lambda s: ST_BLOCK_HEADER <= s["status"] <= ST_BLOCK_WAIT, "the progress screen")
        trb_x11.wait_until(lambda: sum(1 for e in self.entries() if e.get("status") == ST_BLOCK_HEADER) >= 5,
                           trb_x11.PATIENCE, 0.01, what="some blocks written")
        self.screenshot(window, "progress")

        # After the last block the progress screen waits for the controller's word
        # ("confirming"), then the completion screen follows.
        screen = self.wait_for_screen(lambda s: s["status"] == ST_COMPLETE and not s.get("confirming"),
                                      "the completion screen")
        self.assertIn("is now complete", screen["single"])
        self.screenshot(window, "complete")
        self.press_return(window)
        self.assertEqual(self.program.process.wait(trb_x11.PATIENCE), EXIT_UPDATED, self.program.output())

        with open(self.update_file, "rb") as f:
            image = f.read()
        with open(self.flash_path, "rb") as f:
            flash = f.read()
        for offset, length in REGIONS:
            self.assertTrue(flash[offset:offset + length] == image[offset:offset + length],
                            f"flash region at {offset:#x} differs from the file")


if __name__ == "__main__":
    unittest.main()
