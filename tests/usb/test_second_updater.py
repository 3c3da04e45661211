"""A second updater beside one that writes, over USB under umockdev: the first
terminal run writes into the emulated controller (EmulatedControllerHost runs
it inside the testbed) and is held in a block's polls while a second terminal
run starts in the same testbed. Whoever the second is (the same user with
another runtime folder, another user, the same user in the same runtime
folder), it must send the controller nothing and end with 6 naming the first;
the first must then finish, confirmed, with the flash equal to the file.

The first run is held in a poll whose reply the host keeps back (so that no
reply lies on the emulated node for the second's reader to take: umockdev's
node is one PTY, where the kernel gives each hidraw reader its own copy), and
whatever reaches the controller meanwhile is the second's. The first waits
for that reply for at most its reply timeout (10 s): the second must end in
that time, which a refused run does in well under a second.

Run through CTest (tests/usb/CMakeLists.txt), which passes TRB_PROGRAM,
TRB_MAKE_UPDATE_FILE, TRB_CONTROLLER_HOST and TRB_UMOCKDEV_WRAPPER.
"""

import os
import re
import shutil
import stat
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

FILE_NAME = "trbkelo7__v105.bin"
FILE_ARGS = ["1.05", "20261209", "seed:105"]
SERIAL = "KELO7-0001"
EXIT_ANOTHER_UPDATER = 6
OTHER_USER, OTHER_GROUP = "nobody", "nogroup"
# The request the first run is held in: it waits for the reply while the second runs.
HELD_REQUEST = "poll"

# (case, the second's runtime folder is the first's, the second runs as another user)
CASES = [
    ("same user, another runtime folder", False, False),
    ("another user", False, True),
    ("same user, same runtime folder", True, False),
]


def request_log(path):
    try:
        with open(path, encoding="utf-8") as f:
            return [line.split()[1] for line in f if line.endswith("\n")]
    except OSError:
        return []


class SecondUpdaterEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE and CONTROLLER_HOST):
            self.skipTest("TRB_PROGRAM, TRB_MAKE_UPDATE_FILE or TRB_CONTROLLER_HOST is not set")

    def folder(self, name, mode=0o700):
        path = os.path.join(self.work, name)
        os.mkdir(path, mode)
        os.chmod(path, mode)
        return path

    def second_updater(self, first_pid, runtime, as_other_user, update_file):
        """Runs the second terminal run inside the first's testbed (its preload and
        folder, read from the first's environment) and returns its status and output."""
        with open(f"/proc/{first_pid}/environ", "rb") as f:
            inherited = dict(item.split(b"=", 1) for item in f.read().split(b"\0") if b"=" in item)
        env = dict(os.environ, LC_ALL="C.UTF-8", XDG_RUNTIME_DIR=runtime,
                   LD_PRELOAD=inherited[b"LD_PRELOAD"].decode(), UMOCKDEV_DIR=inherited[b"UMOCKDEV_DIR"].decode())
        command = [PROGRAM, "--terminal", "--yes", update_file]
        if as_other_user:
            # What a udev rule would do for the user at the machine (the node), and a
            # testbed the other user may enter, with the emulation's sockets open to it.
            testbed = env["UMOCKDEV_DIR"]
            os.chmod(testbed, 0o755)
            for folder, _, names in os.walk(testbed):
                for name in names:
                    path = os.path.join(folder, name)
                    if stat.S_ISSOCK(os.lstat(path).st_mode):
                        os.chmod(path, 0o777)
            for node in os.listdir(os.path.join(testbed, "dev")):
                if node.startswith("hidraw"):
                    os.chmod(os.path.join(testbed, "dev", node), 0o666)
            subprocess.run(["chown", OTHER_USER, runtime], check=True)
            env["HOME"] = runtime
            command = ["setpriv", f"--reuid={OTHER_USER}", f"--regid={OTHER_GROUP}", "--clear-groups", "--"] + command
        try:
            done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=trb_x11.PATIENCE)
        except subprocess.TimeoutExpired as hung:
            out = (hung.stdout or b"") + (hung.stderr or b"")
            return None, out.decode("utf-8", "replace")
        return done.returncode, (done.stdout + done.stderr).decode("utf-8", "replace")

    def test_a_second_updater_sends_nothing_while_the_first_writes_and_the_first_completes(self):
        for case, same_runtime, as_other_user in CASES:
            with self.subTest(case):
                if as_other_user and os.geteuid() != 0:
                    self.skipTest("another user's updater needs the test to run as root (to switch users)")
                self.work = tempfile.mkdtemp(prefix="trb-second-updater-")
                self.addCleanup(shutil.rmtree, self.work, True)
                os.chmod(self.work, 0o755)
                update_file = os.path.join(self.folder("file", 0o755), FILE_NAME)
                subprocess.run([MAKE_UPDATE_FILE] + FILE_ARGS + [update_file], check=True, capture_output=True)
                first_runtime = self.folder("runtime-first")
                second_runtime = first_runtime if same_runtime else self.folder("runtime-second")
                log = os.path.join(self.work, "requests.log")
                hold = os.path.join(self.work, "hold")
                open(hold, "w").close()

                host = subprocess.Popen(
                    [UMOCKDEV_WRAPPER, CONTROLLER_HOST, "--serial", SERIAL, "--request-log", log,
                     "--hold-poll-while", hold, "--update-file", update_file, "--expect-text", "Confirmed",
                     "--", PROGRAM, "--terminal", "--yes", update_file],
                    env=dict(os.environ, LC_ALL="C.UTF-8", XDG_RUNTIME_DIR=first_runtime),
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                self.addCleanup(host.stdout.close)
                self.addCleanup(lambda h=host: h.poll() is None and h.kill())
                def running(what):
                    if host.poll() is not None:
                        raise trb_x11.HarnessError(f"the host ended before {what}:\n{_peek(host)}")
                    return what

                first_pid = trb_x11.wait_until(
                    lambda: running("the first run's start") and re.search(r"program started: pid (\d+)", _peek(host)),
                    trb_x11.PATIENCE, what="the first run's start").group(1)
                # Blocks are going: the first block is sent, and its poll waits for its reply until
                # the hold is gone; whatever reaches the controller meanwhile is the second's.
                trb_x11.wait_until(lambda: running("the first run's write") and HELD_REQUEST in request_log(log),
                                   trb_x11.PATIENCE, what="the first run's write")

                before = len(request_log(log))
                status, output = self.second_updater(first_pid, second_runtime, as_other_user, update_file)
                during = request_log(log)[before:]
                os.remove(hold)
                # Read while waiting, so that the host never blocks on a full pipe.
                trb_x11.wait_until(lambda: _peek(host) is not None and host.poll() is not None,
                                   trb_x11.PATIENCE, what="the first run's end")
                host_status, host_output = host.returncode, _peek(host)

                self.assertEqual(status, EXIT_ANOTHER_UPDATER, f"the second run:\n{output}")
                self.assertIn(str(first_pid), output, "the second run does not name the first's process")
                self.assertEqual(during, [], "requests while the second ran")
                self.assertEqual(host_status, 0, host_output)
                self.assertEqual(host_output.count("equal to the file"), 3, host_output)
                self.assertIn("whole path: passed", host_output)


_outputs = {}


def _peek(process):
    """What the process has written so far (read without waiting)."""
    os.set_blocking(process.stdout.fileno(), False)
    chunk = process.stdout.read()
    if chunk:
        _outputs[process.pid] = _outputs.get(process.pid, b"") + chunk
    return _outputs.get(process.pid, b"").decode("utf-8", "replace")


if __name__ == "__main__":
    unittest.main()
