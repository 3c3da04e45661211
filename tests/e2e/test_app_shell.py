"""End-to-end tests of the application shell: the real program in Xvfb.

Run through CTest (tests/e2e/CMakeLists.txt), which passes the program's path
in TRB_PROGRAM. By hand:
    TRB_PROGRAM=build/normal/.../TRBKelo7UpdateDemo python3 -m unittest -v test_app_shell
"""

import fcntl
import os
import re
import secrets
import signal
import subprocess
import sys
import time
import unittest

import trb_x11
from test_update_walk import ST_BLOCK_HEADER, ST_BLOCK_WAIT, ST_COMPLETE, ST_INITIAL, ST_READY, Walk

PROGRAM = os.environ.get("TRB_PROGRAM", "")
SCREEN_WIDTH, SCREEN_HEIGHT = 1280, 800
# The window starts as "TRB-Kelo7 update program" and takes the catalogue's
# application title at the main component's first refresh, before it is shown.
APP_TITLE_ENGLISH = "Updater Program"
ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
# Exit statuses (session/ExitStatus.h): a run that ended before any write, and a
# launch that found another updater holding the lock without answering.
EXIT_LEFT_BEFORE_WRITE = 4
EXIT_ANOTHER_UPDATER = 6
# A controller that takes its time with every block, so that the write lasts.
SLOW = "latency_ms=1\nbusy_count=20\n"
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

# A process of the same user that connects to the running instance's hand-over
# (argv[1], an abstract name) and sends a byte every 0.2 s for a minute,
# connecting again whenever the instance hangs up on it.
TRICKLER = r"""
import socket, sys, time
connection, said = None, False
for _ in range(300):
    try:
        if connection is None:
            connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            connection.connect("\0" + sys.argv[1])
            if not said:
                print("connected", flush=True)
                said = True
        connection.send(b"x")
    except OSError:
        connection = None
    time.sleep(0.2)
"""


class AppShellEndToEnd(unittest.TestCase):
    def setUp(self):
        if not PROGRAM:
            self.skipTest("TRB_PROGRAM is not set")
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
        return holder

    def test_a_launch_never_starts_beside_a_lock_holder_that_does_not_answer(self):
        # The name a holder writes: drawn per run, as the program draws its own,
        # so that a run beside this one never finds the address taken.
        endpoint = f"TRBKelo7UpdateProgram.{secrets.token_hex(16)}"
        holder = self.hold_silently(self.server.instance_lock_file, endpoint,
                                    f"{endpoint}.instance.{os.getuid()}", "flock")

        program = self.server.start(PROGRAM, extra_env=ENGLISH)
        self.addCleanup(program.stop)
        self.assertEqual(program.wait(), EXIT_ANOTHER_UPDATER, program.output())
        self.assertEqual(program.windows(), [])
        self.assertRegex(program.output(), re.escape(f"another updater (process {holder.pid}, ") + r"python[\d.]*\) "
                         + re.escape(f"holds {self.server.instance_lock_file} but does not answer; close that updater, "
                                     f"or end it if it hangs (kill {holder.pid}), then start this one again"))

    @staticmethod
    def press_ok(walk, on_status):
        walk.wait_for_status(on_status, f"screen {on_status}")
        walk.click("ok")
        walk.wait_for_screen(lambda s: s["status"] != on_status, "the OK to take effect")

    def walk_to_the_write(self):
        walk = Walk(self, scenario=SLOW)
        for status in (ST_INITIAL, ST_READY):
            self.press_ok(walk, status)
        walk.wait_for_screen(lambda s: ST_BLOCK_HEADER <= s["status"] <= ST_BLOCK_WAIT, "the progress screen")
        return walk

    def finish(self, walk):
        walk.wait_for_status(ST_COMPLETE, "the completion screen")
        walk.click("ok")
        self.assertEqual(walk.program.wait(), 0, walk.program.output())

    def test_a_launch_while_the_running_updater_is_stopped_ends_without_writing(self):
        # Stopped on the ready screen rather than mid-write: the rule is the same,
        # and a stop of unknown length mid-write would run into the reply time-out.
        walk = Walk(self)
        self.press_ok(walk, ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        first = walk.program
        first.signal(signal.SIGSTOP)
        self.addCleanup(lambda: first.process.poll() is None and first.signal(signal.SIGCONT))

        second = self.server.start(PROGRAM, extra_env=ENGLISH)
        self.addCleanup(second.stop)
        self.assertEqual(second.wait(), EXIT_ANOTHER_UPDATER, second.output())
        self.assertNotIn("write started", second.output())
        self.assertIn(f"another updater (process {first.pid}, ", second.output())
        self.assertIn(f"but is stopped; resume it ('fg' in its terminal, or kill -CONT {first.pid}) "
                      "and let it finish, then start this one again", second.output())

        # The first, resumed, writes the update to the end.
        first.signal(signal.SIGCONT)
        self.press_ok(walk, ST_READY)
        self.finish(walk)

    def test_a_process_trickling_bytes_into_the_hand_over_keeps_no_launch_from_the_writing_updater(self):
        walk = self.walk_to_the_write()
        with open(self.server.instance_lock_file) as f:
            endpoint = f.readline().strip()
        trickler = subprocess.Popen([sys.executable, "-c", TRICKLER, f"{endpoint}.instance.{os.getuid()}"],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(trickler.wait)
        self.addCleanup(trickler.kill)
        self.assertEqual(trickler.stdout.readline().strip(), "connected")

        # Heard by the writing updater, which carries on: this launch ends at once.
        second = self.server.start(PROGRAM, extra_env=ENGLISH)
        self.addCleanup(second.stop)
        self.assertEqual(second.wait(), 0, second.output())
        self.assertNotIn("write started", second.output())
        self.assertIsNone(trickler.poll(), "the trickler must still be sending while the launch is heard")
        self.finish(walk)

    def test_another_users_lock_and_socket_neither_stop_a_launch_nor_switch_the_rule_off(self):
        if os.getuid() != 0:
            self.skipTest("needs root, to act as another user")
        # What another user could do: hold the framework's old machine-wide
        # lock file, and squat the hand-over's old well-known socket name.
        trb_x11.hold_machine_lock(self)
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
