"""End-to-end tests of the terminal with a controller whose claim another process holds: the demo
program in a pseudo-terminal on the simulated controller (test_terminal.Terminal),
with what reached which controller read from the simulated controller's request
log (one line per request: device number, kind, bytes).

Run through CTest (tests/e2e/CMakeLists.txt), or by hand as test_terminal is.
"""

import json
import unittest

from test_terminal import EXIT_ANOTHER_UPDATER, EXIT_LEFT_BEFORE_WRITE, EXIT_UPDATED, EXIT_UPDATE_FAILED, QUESTION, Terminal
from test_update_walk import FILE_STAMP, FILE_VERSION, MAKE_UPDATE_FILE, PROGRAM, QUICK

# session/ExitStatus.h
EXIT_NOT_CHOSEN, EXIT_CHECK_WOULD_WRITE = 8, 10
TWO = QUICK + "controllers=2\n"
SERIALS, PORTS = ["KELO7-SIM-0001", "KELO7-SIM-0002"], ["sim-1", "sim-2"]
CHOICE_QUESTION = "Which controller to update? [1-2] "
HELD = "claimed_by=4242 djprogram\n"


def sent(run):
    """(device number, kind) of every request the simulated controllers received."""
    try:
        with open(run.path("requests.log")) as f:
            return [(int(line.split()[0]), line.split()[1]) for line in f if line.strip()]
    except FileNotFoundError:
        return []


class TerminalChoiceEndToEnd(unittest.TestCase):
    def setUp(self):
        if not (PROGRAM and MAKE_UPDATE_FILE):
            self.skipTest("TRB_PROGRAM or TRB_MAKE_UPDATE_FILE is not set")

    def json_run(self, *args, scenario=TWO, stdin="pty"):
        """Runs to its end with --json; returns (exit status, events, what it said)."""
        run = Terminal(self, "--json", *args, scenario=scenario, stdout="pipe", stdin=stdin)
        status = run.wait()
        said = run.piped() + "\n--- stderr:\n" + run.errors()
        events = [json.loads(line) for line in run.piped().splitlines()]
        self.assertEqual([e["event"] for e in events].count("result"), 1, said)
        self.assertEqual(events[-1]["event"], "result", said)
        return run, status, events, said

    def test_a_claim_held_elsewhere_ends_with_6_naming_the_holder_before_any_request(self):
        for args in (["--yes"], []):
            with self.subTest(args=args):
                run, status, events, said = self.json_run(*args, scenario=QUICK + HELD)
                self.assertEqual(status, EXIT_ANOTHER_UPDATER, said)
                self.assertEqual(events[-1]["result"], "controller held", said)
                self.assertIn("another program (process 4242, djprogram) holds the controller", run.errors())
                self.assertEqual(sent(run), [])


if __name__ == "__main__":
    unittest.main()
