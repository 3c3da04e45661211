"""End-to-end: the demo program holds a sleep lock while it writes the
controller, and a quit signal in the middle of the write ends the program and
the lock with it. logind is python-dbusmock's stand-in on a private bus, which
the program reaches as its system bus (DBUS_SYSTEM_BUS_ADDRESS).

Run through CTest with the walk's environment (TRB_PROGRAM, TRB_MAKE_UPDATE_FILE).
"""

import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import trb_x11
from test_update_walk import MAKE_UPDATE_FILE, PROGRAM, RIGHT_SLOT, ST_BLOCK_WAIT, ST_INITIAL, ST_READY, Walk

# The system's interpreter, which has python-dbusmock.
SYSTEM_PYTHON = "/usr/bin/python3"
WHY = 'string "A firmware update of the TRB-Kelo7 is in progress"'
# The first block stays in its poll: the write goes on until the test ends it.
HELD_IN_THE_WRITE = "latency_ms=0\nbusy_count=-1\n"


class SleepLockEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")
        if subprocess.run([SYSTEM_PYTHON, "-c", "import dbusmock"], capture_output=True).returncode != 0:
            self.skipTest("python3-dbusmock is not installed (tools/install-deps.sh installs it)")
        self.start_mock_logind()
        self.server = trb_x11.private_server(self)

    def start_mock_logind(self):
        folder = tempfile.mkdtemp(prefix="trb-bus-")
        self.addCleanup(shutil.rmtree, folder, True)
        address = "unix:path=" + os.path.join(folder, "bus")
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(bus.wait)
        self.addCleanup(bus.kill)
        # The programs started from here on (the X server copies this
        # environment) take this bus for the system bus.
        previous = os.environ.get("DBUS_SYSTEM_BUS_ADDRESS")
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = address
        self.addCleanup(lambda: os.environ.__setitem__("DBUS_SYSTEM_BUS_ADDRESS", previous) if previous
                        else os.environ.pop("DBUS_SYSTEM_BUS_ADDRESS", None))
        trb_x11.wait_until(lambda: os.path.exists(os.path.join(folder, "bus")), trb_x11.PATIENCE, what="the private bus")
        logind = subprocess.Popen([SYSTEM_PYTHON, "-m", "dbusmock", "--system", "--template", "logind"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(logind.wait)
        self.addCleanup(logind.kill)
        trb_x11.wait_until(lambda: self.inhibitors() is not None, trb_x11.PATIENCE, what="the stand-in for logind")

    @staticmethod
    def inhibitors():
        """How many update inhibitors the stand-in holds; None when it cannot be asked."""
        result = subprocess.run(["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.login1",
                                 "/org/freedesktop/login1", "org.freedesktop.login1.Manager.ListInhibitors"],
                                capture_output=True, text=True)
        if result.returncode != 0:
            return None
        return sum(1 for line in result.stdout.splitlines() if line.strip() == WHY)

    def test_a_quit_signal_mid_write_ends_the_program_and_its_sleep_lock(self):
        walk = Walk(self, scenario=HELD_IN_THE_WRITE)
        walk.wait_for_status(ST_INITIAL, "the language screen")
        walk.wait_for_focus_frame(RIGHT_SLOT, "OK's focus frame")
        walk.window.key("Return")
        walk.wait_for_status(ST_READY, "the ready screen")
        self.assertEqual(self.inhibitors(), 0, "no lock before Start")

        walk.wait_for_focus_frame(RIGHT_SLOT, "Start's focus frame")
        walk.window.key("Return")
        walk.wait_for_status(ST_BLOCK_WAIT, "the write")
        trb_x11.wait_until(lambda: self.inhibitors() == 1, trb_x11.PATIENCE, what="the sleep lock")

        walk.program.signal(signal.SIGTERM)
        # Told to quit while writing (session/ExitStatus.h).
        self.assertEqual(walk.program.wait(), 5, walk.program.output())
        trb_x11.wait_until(lambda: self.inhibitors() == 0, trb_x11.PATIENCE, what="the sleep lock to end")


if __name__ == "__main__":
    unittest.main()
