"""End-to-end tests of what the desktop sees of the window: its icon, its
class (which ties it to the desktop entry) and its size on a scaled desktop.

Run through CTest (tests/e2e/CMakeLists.txt), which passes the program's path
in TRB_PROGRAM. By hand:
    TRB_PROGRAM=build/normal/.../TRBKelo7UpdateDemo python3 -m unittest -v test_desktop_window
"""

import json
import os
import signal
import tempfile
import time
import unittest

import trb_x11

# Exit statuses (session/ExitStatus.h).
EXIT_UPDATE_FAILED, EXIT_LEFT_BEFORE_WRITE = 3, 4

PROGRAM = os.environ.get("TRB_PROGRAM", "")
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DESKTOP_ENTRY = os.path.join(ROOT, "packaging", "trbkelo7-updater.desktop")
ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
WINDOW_SIZE = (406, 154)
ICON_SIZE = 128


def voluntary_switches(pid):
    """How often the program's threads have gone to sleep so far."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                total += next(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
        except (OSError, StopIteration):
            pass
    return total


def startup_wm_class():
    with open(DESKTOP_ENTRY, encoding="utf-8") as f:
        return next(line.split("=", 1)[1].strip() for line in f if line.startswith("StartupWMClass="))


class DesktopWindowEndToEnd(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("TRB_PROGRAM is not set")

    def launch(self, resources=None, extra_env=None, screen_size=(1280, 800)):
        """Starts the program in a server of its own, with the X resources
        given loaded as xrdb would; returns the program, its window and the
        screen log's language screen as it stands after the first paint. The
        instance lock allows one program at a time: end it before the next."""
        server = trb_x11.private_server(self, *screen_size)
        if resources:
            server.tool("xprop", "-root", "-f", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER", resources)
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        log = os.path.join(folder.name, "screen.log")
        program = server.start(PROGRAM, cwd=folder.name, extra_env=dict(ENGLISH, TRB_SCREEN_LOG=log, **(extra_env or {})))
        self.addCleanup(program.stop)
        window = program.wait_for_window()

        def entries():
            try:
                with open(log) as f:
                    return [json.loads(line) for line in f if line.strip()]
            except (OSError, ValueError):
                return []

        logged = trb_x11.wait_until(lambda: (lambda e: e if any(x["event"] == "painted" for x in e) else None)(entries()),
                                    trb_x11.PATIENCE, what="the first paint")
        screen = [e for e in logged if e["event"] == "screen"][-1]
        return program, window, screen

    def end(self, program, exit_status=EXIT_LEFT_BEFORE_WRITE):
        program.signal(signal.SIGTERM)
        self.assertEqual(program.wait(), exit_status, program.output())

    def test_the_window_carries_the_program_icon_and_the_class_of_the_desktop_entry(self):
        program, window, _ = self.launch()

        # WM_CLASS is "instance", "class"; the desktop matches the class.
        classes = [c.strip().strip('"') for c in window.property("WM_CLASS").split(",")]
        self.assertEqual(classes[1], startup_wm_class())

        icon = window.server.tool("xprop", "-id", str(window.id), "-f", "_NET_WM_ICON", "32c", "_NET_WM_ICON")
        self.assertIn("=", icon, "the window has no _NET_WM_ICON")
        values = [int(v) for v in icon.split("=", 1)[1].replace("\n", " ").split(",")]
        width, height, argb = values[0], values[1], values[2:]
        self.assertEqual((width, height), (ICON_SIZE, ICON_SIZE))
        self.assertEqual(len(argb), width * height)
        alpha = [(p >> 24) & 0xFF for p in argb]
        # Transparent round the drawing, opaque in the controller's body.
        self.assertEqual(alpha[0], 0)
        self.assertEqual(alpha[100 * width + 64], 255)
        self.assertGreater(sum(1 for a in alpha if a == 255), width * height // 3)
        self.end(program)

    def test_on_a_desktop_at_2x_the_window_doubles_and_everything_keeps_its_place(self):
        program, window_1x, screen_1x = self.launch()
        self.assertEqual(window_1x.size(), WINDOW_SIZE)
        self.assertEqual(screen_1x["scale"], 1)
        self.end(program)

        for name, resources, env in (("Xft.dpi: 192", "Xft.dpi:\t192\n", None),
                                     ("GDK_SCALE=2", None, {"GDK_SCALE": "2"})):
            with self.subTest(name):
                program, window, screen = self.launch(resources, env)
                size = window.size()
                self.end(program)
                self.assertEqual(size, (2 * WINDOW_SIZE[0], 2 * WINDOW_SIZE[1]))
                self.assertEqual(screen["scale"], 2)
                self.assertEqual((screen["width"], screen["height"]), (2 * screen_1x["width"], 2 * screen_1x["height"]))
                self.assertEqual(set(screen["controls"]), set(screen_1x["controls"]))
                for control, at_1x in screen_1x["controls"].items():
                    self.assertEqual(screen["controls"][control]["bounds"], [2 * v for v in at_1x["bounds"]], control)
                # The texts, laid out in the layout's units, are the same.
                for field in ("heading", "body", "title"):
                    self.assertEqual(screen[field], screen_1x[field], field)

    def test_a_scale_too_large_for_the_screen_is_cut_so_that_the_window_fits(self):
        screen_size = (1024, 768)
        for name, resources, env in (("GDK_SCALE=8", None, {"GDK_SCALE": "8"}),
                                     ("Xft.dpi: 768", "Xft.dpi:\t768\n", None)):
            with self.subTest(name):
                program, window, screen = self.launch(resources, env, screen_size)
                info = window.info()
                self.end(program)
                self.assertLessEqual(info["x"] + info["width"], screen_size[0], info)
                self.assertLessEqual(info["y"] + info["height"], screen_size[1], info)
                self.assertGreaterEqual(min(info["x"], info["y"]), 0, info)
                # 1024 / 406 = 2.52: as large as still fits.
                self.assertGreater(info["width"], 2.5 * WINDOW_SIZE[0], info)
                self.assertIn("desktop scale 8 would make the window larger than the screen's work area "
                              "(1024 x 768 pixels); drawing at 2.52", program.output())

    def test_a_window_that_has_gone_quiet_still_paints_the_next_screen(self):
        program, window, screen = self.launch()
        before = window.pixels().raw

        # The window stops its frame clock once nothing is left to paint: wait
        # until the program wakes less than 30 times a second (the framework's
        # timer thread looks in ten times a second; the clock ran at 100).
        def quiet():
            first = voluntary_switches(program.pid)
            time.sleep(0.5)
            return voluntary_switches(program.pid) - first < 15
        trb_x11.wait_until(quiet, trb_x11.PATIENCE, 0, "the program to go quiet")

        # "OK" leads to the next screen (an error screen here: no update file).
        x, y, w, h = screen["controls"]["ok"]["bounds"]
        window.click(x + w // 2, y + h // 2)
        trb_x11.wait_until(lambda: window.pixels().raw != before, trb_x11.PATIENCE, 0.05, "the next screen to be painted")
        self.end(program, EXIT_UPDATE_FAILED)


if __name__ == "__main__":
    unittest.main()
