"""The whole USB path on Linux: the real updater program, in a private Xvfb,
against the umockdev-emulated controller (EmulatedControllerHost starts it
inside the testbed), driven with keys like a user from the language screen
to the completion screen. The host compares the flash with the update file.

Run through CTest (tests/usb/CMakeLists.txt), which passes TRB_PROGRAM,
TRB_MAKE_UPDATE_FILE, TRB_CONTROLLER_HOST and TRB_UMOCKDEV_WRAPPER; the host
runs under umockdev-wrapper, the display and this script do not.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import trb_x11  # noqa: E402

PROGRAM = os.environ.get("TRB_PROGRAM", "")
MAKE_UPDATE_FILE = os.environ.get("TRB_MAKE_UPDATE_FILE", "")
CONTROLLER_HOST = os.environ.get("TRB_CONTROLLER_HOST", "")
UMOCKDEV_WRAPPER = os.environ.get("TRB_UMOCKDEV_WRAPPER", "umockdev-wrapper")

ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
ST_INITIAL, ST_READY, ST_COMPLETE = 0, 1, 7
FILE_NAME = "trbkelo7__v105.bin"
FILE_ARGS = ["1.05", "20261209", "seed:105"]
WINDOW_WIDTH = 406


class WholeUsbPathEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE and CONTROLLER_HOST):
            self.skipTest("TRB_PROGRAM, TRB_MAKE_UPDATE_FILE or TRB_CONTROLLER_HOST is not set")
        self.server = trb_x11.private_server(self)
        self.folder = tempfile.mkdtemp(prefix="trb-usb-path-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def screens(self, log_path):
        try:
            with open(log_path, encoding="utf-8") as f:
                entries = [json.loads(line) for line in f if line.strip()]
        except (OSError, ValueError):
            return []
        return [e for e in entries if e["event"] == "screen" and e["width"] == WINDOW_WIDTH]

    def wait_for_status(self, host, log_path, status, what):
        def found():
            if host.process.poll() is not None:
                raise trb_x11.HarnessError(f"host ended while waiting for {what}:\n{host.output()}")
            screens = self.screens(log_path)
            # The progress screen that waits for the controller's word after the last
            # block carries the completed status, but is not the completion screen.
            last = screens[-1] if screens else None
            return last if last and last["status"] == status and not last.get("confirming") else None
        return trb_x11.wait_until(found, trb_x11.PATIENCE, 0.01, what)

    def test_the_real_program_writes_the_whole_file_into_the_emulated_controller(self):
        # A copy beside the update file: the program takes the file from its own folder.
        program = os.path.join(self.folder, os.path.basename(PROGRAM))
        shutil.copy2(PROGRAM, program)
        update_file = os.path.join(self.folder, FILE_NAME)
        subprocess.run([MAKE_UPDATE_FILE] + FILE_ARGS + [update_file], check=True, capture_output=True)
        log_path = os.path.join(self.folder, "screen.log")

        host = self.server.start(UMOCKDEV_WRAPPER, CONTROLLER_HOST, "--look-alike", "--update-file", update_file, "--", program,
                                 extra_env=dict(ENGLISH, TRB_SCREEN_LOG=log_path))
        self.addCleanup(host.stop)
        pid = trb_x11.wait_until(lambda: re.search(r"program started: pid (\d+)", host.output()),
                                 trb_x11.PATIENCE, what="the program's start").group(1)

        def window():
            out = self.server.tool("xdotool", "search", "--onlyvisible", "--pid", pid, check=False)
            return trb_x11.Window(self.server, int(out.split()[0])) if out.split() else None
        window = trb_x11.wait_until(window, trb_x11.PATIENCE, what="the program's window")

        self.wait_for_status(host, log_path, ST_INITIAL, "the language screen")
        window.key("Return")
        screen = self.wait_for_status(host, log_path, ST_READY, "the ready screen")
        self.assertIn("Update Version: Ver. 1.05", screen["body"].split("\n"))
        window.key("Return")
        self.wait_for_status(host, log_path, ST_COMPLETE, "the completion screen")
        window.key("Return")

        self.assertEqual(host.wait(), 0, host.output())
        output = host.output()
        self.assertIn("look-alike device opened: 0 times, requests written to it: 0", output)
        self.assertEqual(output.count("equal to the file"), 3, output)
        self.assertIn("controller connected: node /dev/hidraw1", output)
        self.assertIn("whole path: passed", output)


if __name__ == "__main__":
    unittest.main()
