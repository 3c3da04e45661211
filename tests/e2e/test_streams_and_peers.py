"""End-to-end: the write goes on, and the program ends when it should, whatever
its standard streams and peers do: a standard error that is closed, not read
or whose reader goes away; a system bus or a display that accepts a connection
and never answers; a second quit signal; a display that goes away mid-write.

Run through CTest with the walk's environment (TRB_PROGRAM, TRB_MAKE_UPDATE_FILE).
"""

import contextlib
import fcntl
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import unittest

import trb_x11
from test_command_line import EXIT_CANNOT_START, EXIT_UPDATED, EXIT_WRITE_INTERRUPTED, run_alone, unused_display
from test_update_walk import MAKE_UPDATE_FILE, PROGRAM, ST_BLOCK_HEADER, ST_BLOCK_WAIT, ST_COMPLETE, ST_INITIAL, \
    ST_READY, Walk

# Long enough (at least 12 s: twelve busy polls of 100 ms for each of ten
# blocks) that the write is still under way when what a test does to the
# program has taken effect.
LASTING = "latency_ms=0\nbusy_count=12\n"
# The first block stays in its poll: the write goes on until the test ends it.
HELD_IN_THE_WRITE = "latency_ms=0\nbusy_count=-1\n"
# How long a program may take to end once it has been told to. Generous for a
# loaded machine, yet shorter than what a peer that never answers used to hold
# it for (64 s after OK, 85 s after a quit signal, or for ever).
ENDS_SOON = 45
RUN_AGAIN = "exit status 5: ended during the write; run the update again"
# The support log's result line of a write cut off (session/Outcomes.cpp).
RESULT_INTERRUPTED = "result: stopped during the write: nothing more was sent"


class SilentListener:
    """A unix socket that accepts every connection and never says a word."""

    def __init__(self, address):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.bind(address)
        self.socket.listen(16)
        self.accepted = []
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            self.accepted.append(connection)

    def close(self):
        self.socket.shutdown(socket.SHUT_RDWR)
        self.socket.close()
        for connection in self.accepted:
            connection.close()


def silent_display():
    """A display name whose socket accepts and never answers, and its listener.
    The X library tries the abstract socket of a display first, so no file in
    /tmp/.X11-unix is needed."""
    name = unused_display()
    for number in range(int(name[1:]), int(name[1:]) + 100):
        with contextlib.suppress(OSError):
            return f":{number}", SilentListener(f"\0/tmp/.X11-unix/X{number}")
    raise trb_x11.HarnessError("no free abstract display socket")


class PeersTestCase(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")
        self.server = trb_x11.private_server(self)

    def start_write(self, scenario=LASTING, **walk_args):
        """Starts the program and the write, and returns its walk on the progress screen."""
        walk = Walk(self, scenario=scenario, **walk_args)
        self.press(walk, "ok", ST_INITIAL)
        walk.wait_for_status(ST_READY, "the ready screen")
        self.press(walk, "ok", ST_READY)
        walk.wait_for_screen(lambda s: ST_BLOCK_HEADER <= s["status"] <= ST_BLOCK_WAIT, "the progress screen")
        return walk

    @staticmethod
    def press(walk, control, leaves_status):
        # One click, then the wait for the next screen (see test_command_line).
        walk.click(control)
        walk.wait_for_screen(lambda s: s["status"] != leaves_status, f"{control} to take effect")

    def finish(self, walk, within=trb_x11.PATIENCE):
        """Waits for the completion screen, presses OK and returns the exit status."""
        walk.wait_for_status(ST_COMPLETE, "the completion screen")
        walk.click("ok")
        try:
            return walk.program.wait(within)
        except subprocess.TimeoutExpired:
            self.fail(f"the program did not end within {within} s of its OK")

    def silent_system_bus(self):
        """Points the programs started from here on at a system bus that never answers."""
        folder = tempfile.mkdtemp(prefix="trb-silent-bus-")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "bus")
        listener = SilentListener(path)
        self.addCleanup(listener.close)
        return {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + path}


class StandardStreamsEndToEnd(PeersTestCase):
    def test_the_write_completes_whatever_standard_error_is(self):
        def closed():
            # Closed in the child just before the program starts, as `2>&-` does.
            return {"preexec_fn": lambda: os.close(2)}, None

        def full_and_never_read():
            read_end, write_end = os.pipe()
            fcntl.fcntl(write_end, fcntl.F_SETFL, os.O_NONBLOCK)
            with contextlib.suppress(BlockingIOError):
                while True:
                    os.write(write_end, b"x" * 4096)
            fcntl.fcntl(write_end, fcntl.F_SETFL, 0)
            self.addCleanup(os.close, read_end)
            self.addCleanup(os.close, write_end)
            return {"stderr": write_end}, None

        def reader_goes_away_mid_write():
            read_end, write_end = os.pipe()
            self.addCleanup(os.close, write_end)
            return {"stderr": write_end}, lambda: os.close(read_end)

        for case in (closed, full_and_never_read, reader_goes_away_mid_write):
            with self.subTest(stderr=case.__name__):
                popen_args, mid_write = case()
                walk = self.start_write(popen_args=popen_args)
                if mid_write:
                    mid_write()
                self.assertEqual(self.finish(walk), EXIT_UPDATED, walk.program.output())


class StalledPeersEndToEnd(PeersTestCase):
    def test_a_system_bus_that_never_answers_neither_holds_the_write_nor_the_end(self):
        def after_ok(walk):
            return self.finish(walk, within=ENDS_SOON), EXIT_UPDATED

        def after_a_quit_signal_mid_write(walk):
            walk.program.signal(signal.SIGTERM)
            try:
                return walk.program.wait(ENDS_SOON), EXIT_WRITE_INTERRUPTED
            except subprocess.TimeoutExpired:
                self.fail(f"a quit signal did not end the program within {ENDS_SOON} s")

        bus = self.silent_system_bus()
        for end in (after_ok, after_a_quit_signal_mid_write):
            with self.subTest(end=end.__name__):
                walk = self.start_write(extra_env=bus)
                exit_status, expected = end(walk)
                self.assertEqual(exit_status, expected, walk.program.output())

    def test_a_display_that_never_answers_ends_the_program_with_status_1_and_its_line(self):
        display, listener = silent_display()
        self.addCleanup(listener.close)
        try:
            result = run_alone(display=display, timeout=ENDS_SOON)
        except subprocess.TimeoutExpired:
            self.fail(f"the program waited more than {ENDS_SOON} s for a display that never answers")
        self.assertEqual(result.returncode, EXIT_CANNOT_START, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertIn(f'cannot open the display "{display}" (its X server does not answer)', lines[0])


class SecondQuitSignalEndToEnd(PeersTestCase):
    def test_a_second_quit_signal_ends_the_write_at_once_with_status_5(self):
        # The bus holds up whatever waits for it, the shutdown included.
        walk = self.start_write(scenario=HELD_IN_THE_WRITE, extra_env=self.silent_system_bus())
        walk.program.signal(signal.SIGTERM)
        walk.program.signal(signal.SIGTERM)
        try:
            self.assertEqual(walk.program.wait(ENDS_SOON), EXIT_WRITE_INTERRUPTED, walk.program.output())
        except subprocess.TimeoutExpired:
            self.fail(f"two quit signals did not end the program within {ENDS_SOON} s")
        # Its result is told all the same, once, before the ending line.
        lines = walk.program.output().splitlines()
        self.assertEqual([line for line in lines if line.startswith("result: ")], [RESULT_INTERRUPTED], walk.program.output())
        self.assertEqual(lines[-1], RUN_AGAIN)


class DisplayLostEndToEnd(PeersTestCase):
    def test_losing_the_display_during_the_write_ends_with_status_5_and_says_to_run_again(self):
        walk = self.start_write(scenario=HELD_IN_THE_WRITE)
        self.server.process.kill()
        self.assertEqual(walk.program.wait(), EXIT_WRITE_INTERRUPTED, walk.program.output())
        lines = walk.program.output().splitlines()
        self.assertIn("display lost: the connection to the X server broke", lines)
        self.assertEqual(lines[-2:], [RESULT_INTERRUPTED, RUN_AGAIN])


if __name__ == "__main__":
    unittest.main()
