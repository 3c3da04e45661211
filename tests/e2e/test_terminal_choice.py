"""End-to-end tests of the terminal's choice among several controllers, --serial,
--list, --check and a controller whose claim another process holds: the demo
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

    def test_several_controllers_without_a_choice_end_with_8_and_their_list_before_anything_is_sent(self):
        # (name, arguments, stdin)
        cases = [
            ("--yes without --serial", ["--yes"], "pty"),
            ("a serial that matches none", ["--yes", "--serial", "KELO7-NONE"], "pty"),
            ("nobody can answer", [], "devnull"),
        ]
        for name, args, stdin in cases:
            with self.subTest(name):
                run, status, events, said = self.json_run(*args, stdin=stdin)
                self.assertEqual(status, EXIT_NOT_CHOSEN, said)
                self.assertEqual((events[-1]["result"], events[-1]["exit_status"]), ("not chosen", EXIT_NOT_CHOSEN))
                listed = [e for e in events if e["event"] == "controller"]
                self.assertEqual([(e["number"], e["serial"], e["port"]) for e in listed],
                                 [(1, SERIALS[0], PORTS[0]), (2, SERIALS[1], PORTS[1])], said)
                self.assertIn(f"  2. serial {SERIALS[1]}, port {PORTS[1]}", run.errors())
                self.assertEqual(sent(run), [], "nothing is sent to any controller")

    def test_the_number_answered_chooses_the_controller_and_anything_else_chooses_none(self):
        # (keys typed at the choice, the device chosen or None)
        cases = [("2\n", 1), (" 1 \n", 0), ("3\n", None), ("two\n", None), ("\x04", None), ("2\x04\x04", None)]
        for keys, chosen in cases:
            with self.subTest(keys=keys):
                run = Terminal(self, scenario=TWO)
                run.wait_for(CHOICE_QUESTION)
                self.assertIn(f"  1. serial {SERIALS[0]}, port {PORTS[0]}", run.text())
                run.type(keys)
                if chosen is not None:
                    run.wait_for(QUESTION)
                    self.assertIn(f"serial {SERIALS[chosen]}, port {PORTS[chosen]}", run.text())
                    run.type("n\n")
                status = run.wait()
                self.assertEqual(status, EXIT_LEFT_BEFORE_WRITE if chosen is not None else EXIT_NOT_CHOSEN,
                                 run.text() + run.errors())
                devices = {device for device, _ in sent(run)}
                self.assertEqual(devices, {chosen} if chosen is not None else set(), "only the chosen one is asked")

    def test_a_serial_picks_its_controller_which_alone_is_written_and_named(self):
        run, status, events, said = self.json_run("--yes", "--serial", SERIALS[1])
        self.assertEqual(status, EXIT_UPDATED, said)
        found = events[0]
        self.assertEqual((found["event"], found["serial"], found["port"]), ("found", SERIALS[1], PORTS[1]))
        self.assertEqual({device for device, _ in sent(run)}, {1}, said)
        self.assertIn(f"(2024-01-01), serial {SERIALS[1]}, port {PORTS[1]}, node simulated", run.errors())

    def test_a_claim_held_elsewhere_ends_with_6_naming_the_holder_before_any_request(self):
        for args in (["--yes"], ["--check"]):
            with self.subTest(args=args):
                run, status, events, said = self.json_run(*args, scenario=QUICK + HELD)
                self.assertEqual(status, EXIT_ANOTHER_UPDATER, said)
                self.assertEqual(events[-1]["result"], "controller held", said)
                holder = events[0]["held_by"]
                self.assertEqual((events[0]["event"], holder["pid"], holder["name"]), ("controller", 4242, "djprogram"), said)
                self.assertIn("another program (process 4242, djprogram) holds the controller", run.errors())
                self.assertEqual(sent(run), [])

    def test_list_names_each_controller_asking_only_those_it_may_claim(self):
        held, free = (f"serial {SERIALS[0]}, port {PORTS[0]}, node simulated: not asked: another program (process 4242, djprogram) holds it",
                      f"serial {SERIALS[1]}, port {PORTS[1]}, node simulated: version 1.00 (2024-01-01)")
        # (name, scenario, exit status, plain lines, the JSON controller events' versions)
        cases = [
            ("one held elsewhere", TWO + HELD, EXIT_UPDATED, [held, free], [None, "1.00"]),
            ("none connected", "controllers=0\n", EXIT_UPDATE_FAILED, ["Error ID: 0x0E21"], []),
        ]
        for name, scenario, exit_status, lines, versions in cases:
            with self.subTest(name):
                plain = Terminal(self, "--list", scenario=scenario)
                self.assertEqual(plain.wait(), exit_status, plain.text() + plain.errors())
                for line in lines:
                    self.assertIn(line, plain.text().splitlines())
                run, status, events, said = self.json_run("--list", scenario=scenario)
                self.assertEqual(status, exit_status, said)
                listed = [e for e in events if e["event"] == "controller"]
                self.assertEqual([e.get("version") for e in listed], versions, said)
                if versions:
                    self.assertEqual(listed[0]["held_by"]["pid"], 4242)
                    self.assertEqual((listed[1]["serial"], listed[1]["stamp"]), (SERIALS[1], "20240101"))
                self.assertNotIn("exit status 0: the update was written", run.errors(), "nothing was written")
                # Only the information is asked, and only of the controller it could claim.
                self.assertEqual(sent(run), [(1, "info")] if versions else [], said)

    def test_check_tells_the_plan_and_ends_with_its_own_status_writing_nothing(self):
        up_to_date = QUICK + f"version={FILE_VERSION}\nstamp=0x{FILE_STAMP}\n"
        # (name, scenario, exit status, JSON result, plan's up_to_date, a line said)
        cases = [
            ("older firmware", QUICK, EXIT_CHECK_WOULD_WRITE, "update available", False,
             "An update would write: main, 576 KiB at 0x000000; extra, 512 KiB at 0x090000; info, 64 KiB at 0x1D0000"),
            ("the file's own", up_to_date, EXIT_UPDATED, "up to date", True,
             "Up to date: the controller already holds the update file's version 1.05 (2026-12-09); nothing would be written."),
            ("no controller", "controllers=0\n", EXIT_UPDATE_FAILED, "error", None, "Error ID: 0x0E21"),
        ]
        for name, scenario, exit_status, result, plan_up_to_date, line in cases:
            with self.subTest(name):
                run, status, events, said = self.json_run("--check", scenario=scenario)
                self.assertEqual(status, exit_status, said)
                self.assertEqual(events[-1]["result"], result)
                self.assertIn(line, run.errors().splitlines())
                if plan_up_to_date is not None:
                    self.assertEqual([e["event"] for e in events], ["found", "file", "plan", "result"], said)
                    self.assertEqual(events[2]["up_to_date"], plan_up_to_date)
                self.assertTrue({kind for _, kind in sent(run)} <= {"status", "info"}, said)
                self.assertNotIn(QUESTION, run.errors())
                self.assertNotIn("exit status 0: the update was written", run.errors(), "nothing was written")


if __name__ == "__main__":
    unittest.main()
