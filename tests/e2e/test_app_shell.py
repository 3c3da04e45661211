"""End-to-end tests of the application shell: the real program in Xvfb.

Run through CTest (tests/e2e/CMakeLists.txt), which passes the program's path
in TRB_PROGRAM. By hand:
    TRB_PROGRAM=build/normal/.../TRBKelo7UpdateDemo python3 -m unittest -v test_app_shell
"""

import fcntl
import os
import signal
import subprocess
import sys
import time
import unittest

import trb_x11

PROGRAM = os.environ.get("TRB_PROGRAM", "")
SCREEN_WIDTH, SCREEN_HEIGHT = 1280, 800
# The window starts as "TRB-Kelo7 update program" and takes the catalogue's
# application title at the main component's first refresh, before it is shown.
APP_TITLE_ENGLISH = "Updater Program"
ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
# The exit status of a run that ended before any write (app/ExitStatus.h).
EXIT_LEFT_BEFORE_WRITE = 4
# The lock file the framework used to take for the whole machine.
OLD_MACHINE_LOCK = "/var/tmp/juceAppLock_TRBKelo7UpdateProgram"
OTHER_USER = 65534

# A process that takes a lock file (argv[1], with lockf, as the framework did,
# or flock, as the program does), optionally writes an endpoint name into it,
# binds an abstract socket (argv[3]) and listens there without ever answering.
SILENT_HOLDER = r"""
import fcntl, socket, sys, time
lock_path, endpoint, address, kind = sys.argv[1:5]
handle = open(lock_path, "a+")
if kind == "flock":
    fcntl.flock(handle, fcntl.LOCK_EX)
else:
    fcntl.lockf(handle, fcntl.LOCK_EX)
if endpoint:
    handle.truncate(0)
    handle.write(endpoint + "\n")
    handle.flush()
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind("\0" + address)
listener.listen(4)
print("ready", flush=True)
time.sleep(600)
"""


class AppShellEndToEnd(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("TRB_PROGRAM is not set")
        trb_x11.hold_program_lock(self)
        self.server = trb_x11.XServer(SCREEN_WIDTH, SCREEN_HEIGHT).__enter__()
        self.addCleanup(self.server.__exit__, None, None, None)

    def start(self):
        program = self.server.start(PROGRAM, extra_env=ENGLISH)
        self.addCleanup(program.stop)
        return program, program.wait_for_window()

    def end(self, program):
        """Ends the program the way the system does and checks it went through
        its shutdown; in the sanitizer builds a report would show here as a
        non-zero exit code."""
        program.signal(signal.SIGTERM)
        self.assertEqual(program.wait(), EXIT_LEFT_BEFORE_WRITE, program.output())

    def test_window_is_a_centred_fixed_406_by_154_window_on_top(self):
        program, window = self.start()

        info = window.info()
        self.assertEqual((info["width"], info["height"]), (406, 154))
        self.assertAlmostEqual(info["x"], (SCREEN_WIDTH - 406) // 2, delta=1)
        self.assertAlmostEqual(info["y"], (SCREEN_HEIGHT - 154) // 2, delta=1)
        self.assertEqual(window.title(), APP_TITLE_ENGLISH)

        # What a window manager reads: the only function offered is moving the
        # window (no resize, minimise, maximise or close), and it stays above.
        motif = [int(v, 0) for v in window.property("_MOTIF_WM_HINTS").split(",")]
        self.assertEqual(motif[1], trb_x11.MOTIF_FUNC_MOVE)
        allowed = window.property("_NET_WM_ALLOWED_ACTIONS") or ""
        for action in ("RESIZE", "MINIMIZE", "FULLSCREEN", "CLOSE"):
            self.assertNotIn("_NET_WM_ACTION_" + action, allowed)
        self.assertIn("_NET_WM_STATE_ABOVE", window.property("_NET_WM_STATE") or "")
        self.end(program)

    def test_a_close_request_from_outside_leaves_the_window_open(self):
        program, window = self.start()
        self.server.request_close(window.id)
        time.sleep(1.0)
        self.assertIsNone(program.process.poll(), program.output())
        self.assertTrue(window.info()["viewable"])
        self.end(program)

    def test_a_second_launch_ends_and_brings_the_running_window_forward(self):
        first, window = self.start()
        self.server.focus(self.server.root_window())
        self.assertNotEqual(self.server.focused_window(), window.id)

        second = self.server.start(PROGRAM)
        self.addCleanup(second.stop)
        self.assertEqual(second.wait(), 0, second.output())

        trb_x11.wait_until(lambda: self.server.focused_window() == window.id, trb_x11.PATIENCE,
                           what="the running window to take the focus")
        self.assertIsNone(first.process.poll(), "the running instance must go on")
        self.assertEqual([w.id for w in first.windows()], [window.id])
        self.end(first)

    def hold_silently(self, lock_path, endpoint, address, kind, user=None):
        # The system's interpreter: another user may not reach this one's.
        python = "/usr/bin/python3" if user is not None else sys.executable
        holder = subprocess.Popen([python, "-c", SILENT_HOLDER, lock_path, endpoint, address, kind],
                                  stdout=subprocess.PIPE, text=True, user=user)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), "ready")

    def test_a_launch_starts_anyway_when_the_lock_holder_does_not_answer(self):
        endpoint = "TRBKelo7UpdateProgram.0123456789abcdef"
        self.hold_silently(self.server.instance_lock_file, endpoint,
                           f"{endpoint}.instance.{os.getuid()}", "flock")

        program, window = self.start()
        self.assertIn("does not answer; starting anyway", program.output())
        self.end(program)

    def test_another_users_lock_and_socket_neither_stop_a_launch_nor_switch_the_rule_off(self):
        if os.getuid() != 0:
            self.skipTest("needs root, to act as another user")
        # What another user could do: hold the framework's old machine-wide
        # lock file, and squat the hand-over's old well-known socket name.
        if os.path.exists(OLD_MACHINE_LOCK):
            os.chmod(OLD_MACHINE_LOCK, 0o666)
        self.hold_silently(OLD_MACHINE_LOCK, "", f"TRBKelo7UpdateProgram.instance.{os.getuid()}", "lockf",
                           user=OTHER_USER)

        first, window = self.start()
        self.server.focus(self.server.root_window())
        second = self.server.start(PROGRAM)
        self.addCleanup(second.stop)
        self.assertEqual(second.wait(15), 0, second.output())
        trb_x11.wait_until(lambda: self.server.focused_window() == window.id, trb_x11.PATIENCE,
                           what="the running window to take the focus")
        self.assertEqual([w.id for w in first.windows()], [window.id])
        self.end(first)

    def test_a_quit_signal_ends_the_program_through_its_shutdown(self):
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                program, window = self.start()
                program.signal(number)
                # The program's own status after shutdown(); a signal's
                # default action would end the process with -number instead.
                self.assertEqual(program.wait(), EXIT_LEFT_BEFORE_WRITE, program.output())
                # The next launch is the instance again, not handed over to the one gone.
                fcntl.flock(open(self.server.instance_lock_file), fcntl.LOCK_EX | fcntl.LOCK_NB)


if __name__ == "__main__":
    unittest.main()
