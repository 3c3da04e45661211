"""End-to-end walk through the updater's screens: the real demo program in Xvfb,
on the simulated controller, driven with keys and clicks like a user.

What each screen says is read from the program's screen log (TRB_SCREEN_LOG,
log/ScreenLog.h): one JSON line per screen with its texts and visible controls.
What must be drawn where (the warning icon, the text's left edge, the focus
frame of the default button) is checked on the window's pixels. Every screen
is also saved as a PNG in TRB_SCREENSHOT_DIR (CTest sets build/<tree>/screenshots;
docs/screenshots/ holds the committed copies).

Run through CTest (tests/e2e/CMakeLists.txt), which passes TRB_PROGRAM and
TRB_MAKE_UPDATE_FILE. By hand, from tests/e2e:
    TRB_PROGRAM=.../TRBKelo7UpdateDemo TRB_MAKE_UPDATE_FILE=.../make-update-file \\
        python3 -m unittest -v test_update_walk
"""

import itertools
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import trb_x11

PROGRAM = os.environ.get("TRB_PROGRAM", "")
MAKE_UPDATE_FILE = os.environ.get("TRB_MAKE_UPDATE_FILE", "")
SCREENSHOT_DIR = os.environ.get("TRB_SCREENSHOT_DIR", "")

ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
JAPANESE = {"LC_ALL": "ja_JP.UTF-8", "LC_MESSAGES": "", "LANG": "ja_JP.UTF-8"}
LANGUAGE_ENGLISH, LANGUAGE_JAPANESE = 0, 11

ST_INITIAL, ST_READY, ST_BLOCK_HEADER, ST_BLOCK_WAIT, ST_COMPLETE = 0, 1, 3, 6, 7
ERR_FILE_CONTENT, ERR_FILE_DIGEST, ERR_NOT_CONNECTED, ERR_DEVICE_REMOVED, ERR_NOT_TAKEN = 0x0E04, 0x0E06, 0x0E21, 0x0E37, 0x0E38
# Exit statuses (session/ExitStatus.h).
EXIT_UPDATED, EXIT_UPDATE_FAILED, EXIT_LEFT_BEFORE_WRITE, EXIT_NOT_TAKEN, EXIT_NOT_CHOSEN = 0, 3, 4, 7, 8

# A quick controller: no answer latency, and six busy polls per block, so that
# each block lasts at least 0.6 s of the updater's own 100 ms poll pauses and a
# picture of the progress screen taken after the fifth of the ten blocks comes
# seconds before the end, however slow the machine (the pauses do not shrink).
QUICK = "latency_ms=0\nbusy_count=6\n"
# A language choice that shows no effect for this long is made again, at most
# this many times in all (see Walk.choose_language).
LANGUAGE_WAIT, LANGUAGE_ATTEMPTS = 60, 3
FILE_VERSION, FILE_STAMP, FILE_CONTENT = "1.05", "20261209", "seed:105"
FILE_NAME = "trbkelo7__v105.bin"
# (offset, length) of the regions written: the same addresses in file and flash.
REGIONS = [(0x000000, 0x90000), (0x090000, 0x80000), (0x1D0000, 0x10000)]

WINDOW_SIZE = (406, 154)
RIGHT_SLOT = [286, 114, 100, 20]
LEFT_SLOT = [176, 114, 100, 20]
# Where the language list, the controllers' list and the progress bar sit.
CONTROL_PLACE = [20, 74, 366, 20]
ICON = (20, 15, 64, 64)
ERROR_TEXT_LEFT = 105
# The default button's focus frame: a grey line 15 % down the button.
FOCUS_FRAME_ROW = 3
BACKGROUND = (0xEA, 0xEA, 0xEA)


def is_yellow(p):
    return p[0] > 200 and p[1] > 150 and p[2] < 100


def is_ink(p):
    return max(p) < 128


def is_frame_grey(p):
    return p[0] == p[1] == p[2] and 128 <= p[0] < 220


def is_list_highlight(p):
    """The fill behind the language list's highlighted entry."""
    return p == (0x00, 0x00, 0x40)


class Walk:
    """One demo program in a folder of its own with its scenario, update file,
    screen log and flash dump."""

    def __init__(self, test, scenario=QUICK, file_args=None, language=ENGLISH,
                 update_file=None, args=(), cwd=None, extra_env=None, popen_args=None, record_requests=False):
        """update_file: where to write the update file (default: beside the
        program); args, cwd, extra_env and popen_args: how the program is started;
        record_requests: the simulated controllers log what they receive."""
        self.test, self.server = test, test.server
        self.folder = tempfile.mkdtemp(prefix="trb-walk-")
        test.addCleanup(shutil.rmtree, self.folder, True)
        # A copy, not a link: the program takes the update file from the folder
        # of its real path.
        program = os.path.join(self.folder, "TRBKelo7UpdateDemo")
        shutil.copy2(PROGRAM, program)
        file_args = file_args or [FILE_VERSION, FILE_STAMP, FILE_CONTENT]
        self.update_file = update_file or os.path.join(self.folder, FILE_NAME)
        subprocess.run([MAKE_UPDATE_FILE] + file_args + [self.update_file], check=True, capture_output=True)
        scenario_path = self.path("scenario.txt")
        with open(scenario_path, "w") as f:
            f.write(scenario)
        self.log_path, self.flash_path = self.path("screen.log"), self.path("flash.bin")
        self.request_log_path = self.path("requests.log")
        env = dict(language, TRB_SCREEN_LOG=self.log_path, TRB_SIM_SCENARIO=scenario_path,
                   TRB_SIM_FLASH_DUMP=self.flash_path)
        if record_requests:
            env["TRB_SIM_REQUEST_LOG"] = self.request_log_path
        env.update(extra_env or {})
        self.program = self.server.start(program, *args, cwd=cwd, extra_env=env, popen_args=popen_args)
        test.addCleanup(self.program.stop)
        self.window = self.program.wait_for_window()

    def path(self, name):
        return os.path.join(self.folder, name)

    def entries(self):
        try:
            with open(self.log_path, encoding="utf-8") as f:
                return [json.loads(line) for line in f if line.strip()]
        except (OSError, ValueError):
            return []

    def screen(self):
        """The last screen the program showed, once its window has its size."""
        screens = [e for e in self.entries() if e["event"] == "screen" and e["width"] == WINDOW_SIZE[0]]
        return screens[-1] if screens else None

    def wait_for_screen(self, condition, what, timeout=trb_x11.PATIENCE):
        def found():
            if self.program.process.poll() is not None:
                raise trb_x11.HarnessError(f"program ended ({self.program.process.returncode}) while waiting for "
                                           f"{what}:\n{self.program.output()}")
            screen = self.screen()
            return screen if screen and condition(screen) else None
        return trb_x11.wait_until(found, timeout, 0.01, what)

    def wait_for_status(self, status, what):
        # The progress screen that waits for the controller's word after the last
        # block carries the completed status, but is not the completion screen.
        return self.wait_for_screen(lambda s: s["status"] == status and not s.get("confirming"), what)

    def pixels(self):
        return self.window.pixels()

    def wait_for_focus_frame(self, slot, what):
        """Gives the window the input focus as a window manager does for a new
        window, and waits until the default button shows its focus frame."""
        self.server.focus(self.window.id)
        x, y, w, _ = slot

        def framed():
            row = y + FOCUS_FRAME_ROW
            return self.pixels().count(is_frame_grey, x + 10, row, x + w - 10, row + 1) > w // 2
        trb_x11.wait_until(framed, trb_x11.PATIENCE, 0.05, what)

    def other_windows(self):
        """The program's visible windows besides the main one: an open language list."""
        return [w for w in self.program.windows() if w.id != self.window.id]

    def popup(self, known=()):
        """The language list's window once it is open: one that was not among known."""
        def find():
            fresh = [w for w in self.other_windows() if w.id not in known]
            return fresh[0] if fresh else None
        return trb_x11.wait_until(find, trb_x11.PATIENCE, what="the language list")

    def choose_language(self, index):
        """Opens the language box with a click and clicks the entry. A choice that
        shows no effect within a minute is made again: choosing an entry twice
        changes nothing, and on a loaded X server a click on a list that has only
        just opened is now and then lost."""
        for attempt in range(LANGUAGE_ATTEMPTS):
            # After a lost click the list may still be open: its entry is clicked again.
            still_open = self.other_windows() if attempt > 0 else []
            self.click_entry(index, still_open[0] if still_open else None)
            try:
                return self.wait_for_screen(lambda s: s["language"] == index, f"language {index}", LANGUAGE_WAIT)
            except trb_x11.HarnessError:
                if self.program.process.poll() is not None or attempt == LANGUAGE_ATTEMPTS - 1:
                    raise

    def choose_controller(self, index):
        """Chooses row index of the choice screen's list as choose_language does."""
        for attempt in range(LANGUAGE_ATTEMPTS):
            still_open = self.other_windows() if attempt > 0 else []
            self.click_entry(index, still_open[0] if still_open else None, "controllers")
            try:
                return self.wait_for_screen(lambda s: s.get("screen") == "choice" and s["controls"]["controllers"]["text"]
                                            == s["controls"]["controllers"]["rows"][index], f"row {index}", LANGUAGE_WAIT)
            except trb_x11.HarnessError:
                if self.program.process.poll() is not None or attempt == LANGUAGE_ATTEMPTS - 1:
                    raise

    def click_box(self, control="language"):
        x, y, w, h = self.screen()["controls"][control]["bounds"]
        self.window.click(x + w // 2, y + h // 2)

    def click_entry(self, index, popup=None, control="language"):
        """Clicks entry index of a list (the languages, or the controllers), opening
        it first unless popup is it."""
        box = self.screen()["controls"][control]
        if popup is None:
            known = {w.id for w in self.other_windows()}
            self.click_box(control)
            popup = self.popup(known)
        shown_at = time.monotonic()
        width, height = popup.size()
        # The list's entries stand one under another inside a thin border.
        border = 2
        entry = (height - 2 * border) / box["items"]
        x, y = width // 2, int(border + entry * index + entry / 2)

        # The list takes a click on the entry it shows highlighted, which it does
        # once it has followed the pointer there: the pointer moves over the entry
        # (again, until the list has seen it) and the click waits for the highlight.
        wiggle = itertools.cycle((0, 1))

        def highlighted():
            self.server.tool("xdotool", "mousemove", "--window", str(popup.id), str(x), str(y - next(wiggle)))
            row = popup.pixels().count(is_list_highlight, 0, y, width, y + 1)
            return row > width // 2
        trb_x11.wait_until(highlighted, trb_x11.PATIENCE, 0.1, f"entry {index} of the {control} list to be highlighted")
        # A release within a quarter second of the list's opening is not taken
        # as a choice.
        time.sleep(max(0.0, shown_at + 0.3 - time.monotonic()))
        popup.click(x, y)

    def click(self, control):
        """Clicks a control of the current screen in its middle."""
        x, y, w, h = self.screen()["controls"][control]["bounds"]
        self.window.click(x + w // 2, y + h // 2)

    def screenshot(self, name):
        if SCREENSHOT_DIR:
            os.makedirs(SCREENSHOT_DIR, exist_ok=True)
            self.window.screenshot(os.path.join(SCREENSHOT_DIR, name + ".png"))

    def flash(self):
        with open(self.flash_path, "rb") as f:
            return f.read()

    def requested_devices(self):
        """The device numbers the simulated controllers received requests on, once
        the program has ended (the log is written then): "<device> <kind> <hex>"."""
        try:
            with open(self.request_log_path) as f:
                return {int(line.split()[0]) for line in f if line.strip()}
        except FileNotFoundError:
            return set()


class UpdateWalkEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if SCREENSHOT_DIR:
            print(f"screenshots in {SCREENSHOT_DIR}")

    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")
        self.server = trb_x11.private_server(self)

    def assert_controls(self, screen, expected):
        """expected: control name -> caption (None for controls without one)."""
        controls = screen["controls"]
        self.assertEqual(sorted(controls), sorted(expected), screen)
        for name, caption in expected.items():
            if caption is not None:
                self.assertEqual(controls[name]["caption"], caption)

    def assert_no_icon(self, pixels):
        self.assertEqual(pixels.count(is_yellow, *self.icon_box()), 0, "a warning icon where none belongs")

    @staticmethod
    def icon_box():
        x, y, w, h = ICON
        return x, y, x + w, y + h

    def assert_ends_with(self, walk, exit_status):
        self.assertEqual(walk.program.wait(), exit_status, walk.program.output())

    def assert_log(self, walk, expected):
        """The support log's lines (stderr) that start with one of the expected
        lines' first words are exactly the expected lines, in order."""
        prefixes = tuple(line.split(":")[0] + ":" for line in expected) + tuple(
            line for line in expected if ":" not in line)
        lines = [line for line in walk.program.output().splitlines() if line.startswith(prefixes)]
        self.assertEqual(lines, expected, walk.program.output())

    def test_the_language_screen_starts_in_the_detected_language(self):
        for language, index, box_text, title in ((ENGLISH, LANGUAGE_ENGLISH, "English", "Updater Program"),
                                                 (JAPANESE, LANGUAGE_JAPANESE, "日本語", "アップデートプログラム")):
            with self.subTest(language=language["LANG"]):
                walk = Walk(self, language=language)
                screen = walk.wait_for_status(ST_INITIAL, "the language screen")
                self.assertEqual(screen["language"], index)
                self.assertEqual(screen["controls"]["language"]["text"], box_text)
                self.assertEqual(screen["title"], title)
                trb_x11.wait_until(lambda: walk.window.title() == title, trb_x11.PATIENCE, what="the window's title")
                walk.program.signal()
                self.assert_ends_with(walk, EXIT_LEFT_BEFORE_WRITE)

    def test_a_full_update_from_the_language_screen_to_ok(self):
        walk = Walk(self)
        window = walk.window
        self.assertEqual(window.size(), WINDOW_SIZE)

        # The language screen, in the detected language, OK as the default button.
        screen = walk.wait_for_status(ST_INITIAL, "the language screen")
        self.assertEqual(window.title(), "Updater Program")
        self.assertEqual(screen["title"], "Updater Program")
        self.assertEqual(screen["heading"].strip(), "Language Selections")
        self.assertEqual(screen["controls"]["language"]["text"], "English")
        self.assert_controls(screen, {"language": None, "ok": "OK", "cancel": "Cancel"})
        self.assertEqual(screen["controls"]["ok"]["bounds"], RIGHT_SLOT)
        self.assertEqual(screen["controls"]["cancel"]["bounds"], LEFT_SLOT)
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame")
        self.assert_no_icon(walk.pixels())
        walk.screenshot("language-english")

        # Another language from the list: every text follows, the title too.
        screen = walk.choose_language(LANGUAGE_JAPANESE)
        self.assertEqual(screen["controls"]["language"]["text"], "日本語")
        self.assertEqual(screen["title"], "アップデートプログラム")
        self.assertEqual(screen["controls"]["ok"]["caption"], "OK")
        self.assertEqual(screen["controls"]["cancel"]["caption"], "キャンセル")
        trb_x11.wait_until(lambda: window.title() == "アップデートプログラム", trb_x11.PATIENCE,
                           what="the Japanese title")
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame after the language change")
        walk.screenshot("language-japanese")
        screen = walk.choose_language(LANGUAGE_ENGLISH)
        self.assertEqual(screen["heading"].strip(), "Language Selections")

        # Return on OK: the file and the controller are checked, the versions shown.
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame")
        window.key("Return")
        screen = walk.wait_for_status(ST_READY, "the ready screen")
        self.assertIn("Current Version: Ver. 1.00", screen["body"].split("\n"))
        self.assertIn("Update Version: Ver. 1.05", screen["body"].split("\n"))
        self.assert_controls(screen, {"ok": "Start", "cancel": "Close"})
        self.assertEqual(screen["controls"]["ok"]["bounds"], RIGHT_SLOT)
        self.assertEqual(screen["controls"]["cancel"]["bounds"], LEFT_SLOT)
        walk.wait_for_focus_frame(RIGHT_SLOT, "Start's focus frame")
        self.assert_no_icon(walk.pixels())
        walk.screenshot("ready")

        # Return on Start: the progress screen has the bar and no button.
        window.key("Return")
        screen = walk.wait_for_screen(lambda s: ST_BLOCK_HEADER <= s["status"] <= ST_BLOCK_WAIT, "the progress screen")
        self.assertTrue(screen["heading"].startswith("Updating your TRB-Kelo7 firmware."))
        self.assert_controls(screen, {"progress": None})
        self.assert_no_icon(walk.pixels())
        # The picture a little way in, with some progress to show.
        trb_x11.wait_until(lambda: sum(1 for e in walk.entries() if e.get("status") == ST_BLOCK_HEADER) >= 5,
                           trb_x11.PATIENCE, 0.01, what="some blocks written")
        walk.screenshot("progress")
        self.assertNotEqual(walk.screen()["status"], ST_COMPLETE, "the picture must show the progress screen")

        # The completion screen: only OK, which ends the program.
        screen = walk.wait_for_status(ST_COMPLETE, "the completion screen")
        self.assertIn("is now complete", screen["single"])
        self.assert_controls(screen, {"ok": "OK"})
        self.assertEqual(screen["controls"]["ok"]["bounds"], RIGHT_SLOT)
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame on completion")
        self.assert_no_icon(walk.pixels())
        walk.screenshot("complete")
        # The completion screen comes once the restarted controller confirmed the write.
        self.assertIn("write confirmed: ", walk.program.output())
        self.assertEqual(walk.screen()["status"], ST_COMPLETE)
        self.assert_controls(walk.screen(), {"ok": "OK"})
        window.key("Return")
        self.assert_ends_with(walk, EXIT_UPDATED)

        # What a supporter reads in the journal: every step, in order.
        self.assert_log(walk, [
            "controller connected: node simulated, serial KELO7-SIM-0001, port sim-1",
            f"update file taken: {walk.update_file}, version {FILE_VERSION}, date stamp {FILE_STAMP}",
            "controller found: version 1.00, date stamp 20240101, node simulated, serial KELO7-SIM-0001, port sim-1",
            "regions to write: main at 0x000000, 589824 bytes; extra at 0x090000, 524288 bytes; "
            "info at 0x1D0000, 65536 bytes",
            "write started",
            "region written: main at 0x000000, 589824 bytes",
            "region written: extra at 0x090000, 524288 bytes",
            "region written: info at 0x1D0000, 65536 bytes",
            "controller removed: node simulated",
            "controller connected: node simulated, serial KELO7-SIM-0001, port sim-1",
            f"write confirmed: the controller reports version {FILE_VERSION}, date stamp {FILE_STAMP}",
            "result: complete, confirmed by the controller",
            "exit status 0: the update was written",
        ])

        # The controller now holds the file's regions.
        with open(walk.update_file, "rb") as f:
            image = f.read()
        flash = walk.flash()
        for offset, length in REGIONS:
            self.assertTrue(flash[offset:offset + length] == image[offset:offset + length],
                            f"flash region at {offset:#x} differs from the file")

    def test_a_write_the_controller_did_not_take_shows_error_0x0e38_never_complete_and_ends_with_7(self):
        walk = Walk(self, scenario="latency_ms=0\nunchanged_after_finish=1\n")
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.click("ok")
        walk.wait_for_status(ST_READY, "the ready screen")
        walk.click("ok")
        # After the last block the progress screen stays, bar and text, no button,
        # until the restarted controller has answered.
        waiting = walk.wait_for_screen(lambda s: s.get("confirming"), "the progress screen awaiting the controller")
        self.assert_controls(waiting, {"progress": None})
        self.assertTrue(waiting["heading"].startswith("Updating your TRB-Kelo7 firmware."))
        screen = walk.wait_for_status(ERR_NOT_TAKEN, "the error screen 0x0E38")
        self.assertTrue(screen["error"].endswith("Error ID:\t0x0E38"), screen["error"])
        self.assertIn("It was not possible to update the program.", screen["error"])
        self.assert_controls(screen, {"cancel": "Close"})
        # An error screen like the others: the warning icon, and Close with the focus.
        walk.wait_for_focus_frame(RIGHT_SLOT, "Close's focus frame")
        self.assertGreater(walk.pixels().count(is_yellow, *self.icon_box()), 64 * 64 // 5)
        self.assertFalse(any(e.get("event") == "screen" and "complete" in e.get("single", "") for e in walk.entries()),
                         "never the completion screen")
        walk.click("cancel")
        self.assert_ends_with(walk, EXIT_NOT_TAKEN)
        self.assert_log(walk, [
            f"write not taken: the controller reports version 1.00, date stamp 20240101 instead of version "
            f"{FILE_VERSION}, date stamp {FILE_STAMP}; run the update again; if it still reports the old version, "
            "replug the controller and run it again; else contact support",
            "result: error 0x0E38, the update was written, but the controller then reported another version or date "
            "stamp: the update did not take",
            "exit status 7: written, but the controller reports another version",
        ])

    def test_quitting_while_the_controllers_word_is_awaited_ends_as_written_not_confirmed(self):
        walk = Walk(self, scenario="latency_ms=0\nrestart_ms=60000\n")
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.click("ok")
        walk.wait_for_status(ST_READY, "the ready screen")
        walk.click("ok")
        walk.wait_for_screen(lambda s: s.get("confirming"), "the progress screen awaiting the controller")
        walk.program.signal()
        self.assert_ends_with(walk, EXIT_UPDATED)
        self.assert_log(walk, ["result: written, not confirmed (the controller did not answer)",
                               "exit status 0: the update was written"])

    def test_with_two_controllers_the_choice_screen_lists_both_and_only_the_one_chosen_is_written(self):
        walk = Walk(self, scenario=QUICK + "controllers=2\n", record_requests=True)
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.click("ok")
        screen = walk.wait_for_screen(lambda s: s.get("screen") == "choice", "the choice screen")
        self.assertEqual(screen["controls"]["controllers"]["rows"],
                         ["Serial KELO7-SIM-0001, port sim-1", "Serial KELO7-SIM-0002, port sim-2"])
        self.assertEqual(screen["heading"] + screen["body"],
                         "Several controllers are connected.\nWhich one do you want to update?")
        self.assert_controls(screen, {"controllers": None, "ok": "Select", "cancel": "Cancel"})
        self.assertEqual(screen["controls"]["controllers"]["bounds"], CONTROL_PLACE)
        walk.screenshot("choice")

        walk.choose_controller(1)
        walk.click("ok")
        walk.wait_for_status(ST_READY, "the ready screen")
        walk.click("ok")
        walk.wait_for_status(ST_COMPLETE, "the completion screen")
        walk.click("ok")
        self.assert_ends_with(walk, EXIT_UPDATED)
        # Device 1 is the second controller: the first heard nothing at all.
        self.assertEqual(walk.requested_devices(), {1})
        self.assertIn("serial KELO7-SIM-0002", walk.program.output())

    def test_a_serial_matching_none_of_two_controllers_ends_with_8_and_sends_nothing(self):
        walk = Walk(self, scenario=QUICK + "controllers=2\n", args=("--serial", "KELO7-SIM-0009"), record_requests=True)
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.click("ok")
        screen = walk.wait_for_screen(lambda s: s.get("screen") == "ended", "the end before any request")
        self.assert_controls(screen, {"cancel": "Close"})
        self.assertTrue(screen["error"].startswith("The controller named with --serial is not connected."), screen["error"])
        walk.screenshot("serial-not-connected")
        walk.click("cancel")
        self.assert_ends_with(walk, EXIT_NOT_CHOSEN)
        self.assertEqual(walk.requested_devices(), set())

    def test_each_error_screen_shows_the_icon_the_error_and_only_close(self):
        cases = [
            ("error-no-controller", ERR_NOT_CONNECTED, "controllers=0\n", None, ()),
            ("error-faulty-file", ERR_FILE_CONTENT, QUICK, ["--allow-invalid", "1x05", FILE_STAMP, FILE_CONTENT], ()),
            ("error-removed", ERR_DEVICE_REMOVED, QUICK + "fault=data 3 remove -1\n", None, ()),
            # A sound file, but not the one whose digest the maker published.
            ("error-digest", ERR_FILE_DIGEST, QUICK, None, ("--sha256", "0" * 64)),
        ]
        for name, error, scenario, file_args, args in cases:
            with self.subTest(name):
                walk = Walk(self, scenario=scenario, file_args=file_args, args=args)
                try:
                    self.check_error_screen(walk, name, error)
                finally:
                    # A failed case must not leave its program holding the instance lock.
                    walk.program.stop()

    def check_error_screen(self, walk, name, error):
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame")
        walk.window.key("Return")
        if error == ERR_DEVICE_REMOVED:
            walk.wait_for_status(ST_READY, "the ready screen")
            walk.wait_for_focus_frame(RIGHT_SLOT, "Start's focus frame")
            walk.window.key("Return")
        screen = walk.wait_for_status(error, f"error {error:#06x}")

        self.assertTrue(screen["error"].endswith(f"Error ID:\t0x{error:04X}"), screen["error"])
        self.assertEqual(screen["heading"] + screen["body"] + screen["single"], "")
        self.assert_controls(screen, {"cancel": "Close"})
        self.assertEqual(screen["controls"]["cancel"]["bounds"], RIGHT_SLOT)
        walk.wait_for_focus_frame(RIGHT_SLOT, "Close's focus frame")

        pixels = walk.pixels()
        x0, y0, x1, y1 = self.icon_box()
        # The icon fills its 64 x 64 square: yellow near each corner of
        # the triangle's box, none outside the square.
        self.assertGreater(pixels.count(is_yellow, x0, y0, x1, y1), 64 * 64 // 5)
        self.assertGreater(pixels.count(is_yellow, x0, y1 - 16, x0 + 16, y1), 0, "bottom left")
        self.assertGreater(pixels.count(is_yellow, x1 - 16, y1 - 16, x1, y1), 0, "bottom right")
        self.assertGreater(pixels.count(is_yellow, x0 + 24, y0, x1 - 24, y0 + 16), 0, "top")
        self.assertEqual(pixels.count(is_yellow, 0, 0, pixels.width, pixels.height)
                         - pixels.count(is_yellow, x0, y0, x1, y1), 0, "yellow outside the icon")
        # The text starts at x 105: ink just right of it, none between the icon and it.
        text_rows = (ICON[1], ICON[1] + 60)
        self.assertEqual(pixels.count(is_ink, x1 + 1, text_rows[0], ERROR_TEXT_LEFT, text_rows[1]), 0)
        self.assertGreater(pixels.count(is_ink, ERROR_TEXT_LEFT, text_rows[0], ERROR_TEXT_LEFT + 4, text_rows[1]), 0)
        walk.screenshot(name)

        walk.window.key("Return")
        self.assert_ends_with(walk, EXIT_UPDATE_FAILED)
        self.assertIn(f"result: error 0x{error:04X}, ", walk.program.output())
        if error == ERR_DEVICE_REMOVED:
            self.assertIn("controller removed: node simulated", walk.program.output())
        if error == ERR_NOT_CONNECTED:
            self.assertIn("controller not connected", walk.program.output())
        if error == ERR_FILE_DIGEST:
            self.assertIn(f"update file faulty: {walk.update_file}: its SHA-256 ", walk.program.output())
        if error == ERR_FILE_CONTENT:
            self.assertIn(f"update file faulty: {walk.update_file}: its version text \"1x05\" is not a version",
                          walk.program.output())


if __name__ == "__main__":
    unittest.main()
