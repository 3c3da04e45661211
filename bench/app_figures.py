#!/usr/bin/env python3
"""Figures of the running demo updater, measured by hand (not part of CTest).

    python3 bench/app_figures.py [path/to/TRBKelo7UpdateDemo] [--runs N]
    python3 bench/app_figures.py --usb [--runs N]    # the real program over USB
    python3 bench/app_figures.py --choice [--runs N] # launch to the ready screen, 1 and 4 controllers

Starts the real demo program in a private Xvfb (tests/e2e/trb_x11.py) and prints:
- launch to first paint: from just before the process starts to the window's
  first paint (the program's screen log, TRB_SCREEN_LOG, stamps it with the
  monotonic clock), and to the window being found mapped by xdotool;
- CPU while the ready screen waits for "Start": the program's run time over
  ten seconds (all threads, in nanoseconds), as a share of one core, the X
  server's share, which shows whether the program keeps repainting, and how
  often each of the program's threads was woken meanwhile;
- the wait for the controller's word: from the finish request (the first screen
  that waits for it, "confirming") to the completion screen, with the simulated
  controller's default restart (--confirmation-only measures this alone);
- memory during a full update: the resident set (VmRSS) at the start, on the
  ready screen and at most while writing (sampled), the window's growth while
  it writes over the ready screen, and the largest resident set (VmHWM).
With --choice it prints only the time from launch to the ready screen with one
and with four simulated controllers (four: named with --serial, and chosen on
the choice screen, with the time to that screen): the program's own time, the
window's first paint after launch plus, after each click, the time to the next
screen, without the user's (or the harness's) time between them.
Without a path it takes build/normal's demo on the simulated controller. With
--usb it takes build/normal's real program instead, against the controller that
umockdev emulates (tests/usb's controller host, started under umockdev-wrapper,
as the USB tests run it); its launch then includes the host's start.
"""

import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import trb_x11  # noqa: E402

TICKS_PER_SECOND = os.sysconf("SC_CLK_TCK")
ST_READY, ST_COMPLETE = 1, 7
ENGLISH = {"LC_ALL": "en_US.UTF-8", "LC_MESSAGES": "", "LANG": "en_US.UTF-8"}
# The demo's own pace: a USB frame of latency and two busy polls per block.
SCENARIO = "latency_ms=1\nbusy_count=2\n"
CPU_SECONDS = 10.0
UPDATE_FILE = "trbkelo7__v105.bin"


def thread_figures(pid):
    """Run time in ns summed over the process's threads (schedstat counts in
    nanoseconds, where utime/stime count 10 ms ticks), and per thread name
    the voluntary context switches: how often each thread went to sleep, so
    the number of times something woke it."""
    run_ns, switches = 0, {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                run_ns += int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{task}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{task}/status") as f:
                count = next(int(line.split()[1]) for line in f if line.startswith("voluntary_ctxt_switches"))
            switches[f"{name}/{task}"] = count
        except (OSError, StopIteration):
            pass
    return run_ns, switches


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime


def status_kb(pid, name):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return 0


class Run:
    """One started demo in its own folder with an update file and a screen log."""

    def __init__(self, server, program, folder, host=None, scenario_text=SCENARIO, args=()):
        """host: the emulated controller's host command (the real program over USB),
        which starts the program itself; None for the demo. scenario_text: the
        simulated controller's settings; args: the program's command line."""
        self.server = server
        self.log_path = os.path.join(folder, "screen.log")
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        scenario = os.path.join(folder, "scenario.txt")
        with open(scenario, "w") as f:
            f.write(scenario_text)
        env = dict(ENGLISH, TRB_SCREEN_LOG=self.log_path, TRB_SIM_SCENARIO=scenario)
        self.started = time.monotonic()
        if host is None:
            self.program = server.start(program, *args, extra_env=env)
            self.pid = self.program.pid
        else:
            self.program = server.start(*host, "--", program, extra_env=env)
            found = trb_x11.wait_until(lambda: re.search(r"program started: pid (\d+)", self.program.output()),
                                       trb_x11.PATIENCE, what="the program's start")
            self.pid = int(found.group(1))

    def window(self):
        def find():
            if self.program.process.poll() is not None:
                raise trb_x11.HarnessError(f"ended before showing a window:\n{self.program.output()}")
            out = self.server.tool("xdotool", "search", "--onlyvisible", "--pid", str(self.pid), check=False)
            return trb_x11.Window(self.server, int(out.split()[0])) if out.split() else None
        return trb_x11.wait_until(find, trb_x11.PATIENCE, what="the program's window")

    def entries(self):
        try:
            with open(self.log_path) as f:
                return [json.loads(line) for line in f if line.strip()]
        except (OSError, ValueError):
            return []

    def wait_for(self, predicate, timeout=30, what="log entry"):
        return trb_x11.wait_until(lambda: next((e for e in self.entries() if predicate(e)), None),
                                  timeout, 0.001, what)

    def wait_until_ready_for_keys(self, server, window):
        """Gives the window the input focus as a window manager would; the
        default button takes the keyboard focus at the next paint."""
        server.focus(window.id)
        time.sleep(0.3)

    def end(self):
        # The host's program is its child: killed first, so none outlives the run.
        if self.pid != self.program.pid:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.program.stop()


def prepare_folder(program, tool):
    folder = tempfile.mkdtemp(prefix="trb-bench-")
    copy = os.path.join(folder, os.path.basename(program))
    shutil.copy2(program, copy)
    subprocess.run([tool, "1.05", "20261209", "seed:105", os.path.join(folder, UPDATE_FILE)],
                   check=True, capture_output=True)
    return folder, copy


# Each run ends (killed and reaped) before the next starts; the instance lock
# lives in the private server's runtime folder and goes with its process.
def launch_figures(server, program, folder, runs, host):
    painted, mapped = [], []
    for _ in range(runs):
        run = Run(server, program, folder, host)
        try:
            run.window()
            mapped.append((time.monotonic() - run.started) * 1000)
            paint = run.wait_for(lambda e: e["event"] == "painted", what="the first paint")
            painted.append(paint["ms"] - run.started * 1000)
        finally:
            run.end()
    return painted, mapped


def ready_cpu(server, program, folder, host):
    run = Run(server, program, folder, host)
    try:
        window = run.window()
        run.wait_for(lambda e: e["event"] == "painted")
        run.wait_until_ready_for_keys(server, window)
        window.key("Return")
        run.wait_for(lambda e: e.get("status") == ST_READY, what="the ready screen")
        time.sleep(0.5)
        pid, xpid = run.pid, server.process.pid
        t0, (p0, w0), x0 = time.monotonic(), thread_figures(pid), cpu_ticks(xpid)
        time.sleep(CPU_SECONDS)
        t1, (p1, w1), x1 = time.monotonic(), thread_figures(pid), cpu_ticks(xpid)
        seconds = t1 - t0
        wakeups = {name: (w1[name] - w0.get(name, 0)) / seconds for name in w1}
        return (100.0 * (p1 - p0) / 1e9 / seconds,
                100.0 * (x1 - x0) / TICKS_PER_SECOND / seconds, seconds, wakeups)
    finally:
        run.end()


def update_memory(server, program, folder, host):
    run = Run(server, program, folder, host)
    try:
        window = run.window()
        run.wait_for(lambda e: e["event"] == "painted")
        run.wait_until_ready_for_keys(server, window)
        pid = run.pid
        before = status_kb(pid, "VmRSS")
        window.key("Return")
        run.wait_for(lambda e: e.get("status") == ST_READY, what="the ready screen")
        ready = status_kb(pid, "VmRSS")
        window.key("Return")
        started = time.monotonic()
        samples = []
        while not any(e.get("status") == ST_COMPLETE for e in run.entries()):
            samples.append(status_kb(pid, "VmRSS"))
            if time.monotonic() - started > 120:
                raise trb_x11.HarnessError("the update did not complete")
            time.sleep(0.05)
        duration = time.monotonic() - started
        return before, ready, max(samples or [0]), status_kb(pid, "VmHWM"), duration
    finally:
        run.end()


def confirmation_figures(server, program, folder, runs, host):
    """Milliseconds from the finish request to the completion screen, per run: the
    controller restarts (about a second by default) and is asked for its version."""
    waits = []
    for _ in range(runs):
        run = Run(server, program, folder, host, "latency_ms=0\nbusy_count=0\n")
        try:
            window = run.window()
            run.wait_for(lambda e: e.get("event") == "screen" and e.get("status") == 0, what="the language screen")
            run.wait_until_ready_for_keys(server, window)
            window.key("Return")
            run.wait_for(lambda e: e.get("event") == "screen" and e.get("status") == ST_READY, what="the ready screen")
            run.wait_until_ready_for_keys(server, window)
            window.key("Return")
            finish = run.wait_for(lambda e: e.get("event") == "screen" and e.get("confirming"), timeout=120,
                                  what="the finish request")
            done = run.wait_for(lambda e: e.get("event") == "screen" and e.get("status") == ST_COMPLETE
                                and not e.get("confirming"), timeout=60, what="the completion screen")
            waits.append(done["ms"] - finish["ms"])
        finally:
            run.end()
    return waits


def click_and_time(run, window, screen, control, following, what):
    """Clicks control of screen and returns the milliseconds from the click to the
    first screen entry for which following(entry) holds."""
    x, y, w, h = screen["controls"][control]["bounds"]
    clicked = time.monotonic() * 1000
    window.click(x + w // 2, y + h // 2)
    shown = run.wait_for(lambda e: e.get("event") == "screen" and e.get("ms", 0) > clicked and following(e),
                         what=what)
    return shown["ms"] - clicked


def is_ready(entry):
    return entry.get("status") == ST_READY and "screen" not in entry


def choice_figures(server, program, folder, runs, controllers, args=(), choose=False):
    """Per run, milliseconds: launch to the first paint, then the click on OK to the
    next screen (the ready screen, or the choice screen when choose), and with choose
    the click on its main button (the first controller) to the ready screen."""
    painted, to_next, to_ready = [], [], []
    for _ in range(runs):
        run = Run(server, program, folder, None, SCENARIO + f"controllers={controllers}\n", args)
        try:
            window = run.window()
            paint = run.wait_for(lambda e: e["event"] == "painted", what="the first paint")
            painted.append(paint["ms"] - run.started * 1000)
            language = run.wait_for(lambda e: e.get("event") == "screen" and e.get("status") == 0
                                    and e.get("width") == 406 and "ok" in e["controls"], what="the language screen")
            following = (lambda e: e.get("screen") == "choice") if choose else is_ready
            to_next.append(click_and_time(run, window, language, "ok", following, "the next screen"))
            if choose:
                choice = run.wait_for(lambda e: e.get("screen") == "choice", what="the choice screen")
                to_ready.append(click_and_time(run, window, choice, "ok", is_ready, "the ready screen"))
        finally:
            run.end()
    return painted, to_next, to_ready


def print_choice_figures(server, program, folder, runs):
    def median(values):
        return statistics.median(values) if values else 0.0

    for label, controllers, args, choose in (("1 controller", 1, (), False),
                                             ("4 controllers, --serial", 4, ("--serial", "KELO7-SIM-0003"), False),
                                             ("4 controllers, chosen", 4, (), True)):
        painted, to_next, to_ready = choice_figures(server, program, folder, runs, controllers, args, choose)
        total = [p + n + r for p, n, r in zip(painted, to_next, to_ready or [0.0] * len(painted))]
        print(f"launch to ready screen, {label + ':':24} median {median(total):6.1f} ms  (first paint "
              f"{median(painted):.1f}, OK to {'choice' if choose else 'ready'} screen {median(to_next):.1f}"
              + (f", Select to ready screen {median(to_ready):.1f}" if choose else "") + f"; {len(total)} runs)")
        if choose:
            to_choice = [p + n for p, n in zip(painted, to_next)]
            print(f"launch to choice screen, {label + ':':22} median {median(to_choice):6.1f} ms")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    build = os.path.join(ROOT, "build", "normal")
    parser.add_argument("program", nargs="?", help="the program to measure (default: build/normal's demo, "
                        "or its real program with --usb)")
    parser.add_argument("--tool", default=os.path.join(build, "tools", "make-update-file"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--usb", action="store_true",
                        help="the real program against the emulated controller (needs umockdev)")
    parser.add_argument("--host", default=os.path.join(build, "tests", "usb", "trb_emulated_controller_host"))
    parser.add_argument("--confirmation-only", action="store_true",
                        help="measure only the wait from the finish request to the completion screen")
    parser.add_argument("--choice", action="store_true",
                        help="measure only launch to the ready screen with one and with four simulated controllers")
    args = parser.parse_args()
    name = "TRBKelo7UpdateProgram" if args.usb else "TRBKelo7UpdateDemo"
    program = args.program or os.path.join(build, f"{name}_artefacts", "RelWithDebInfo", name)

    folder, program = prepare_folder(program, args.tool)
    host = None
    if args.usb:
        host = [shutil.which("umockdev-wrapper") or "umockdev-wrapper", args.host,
                "--update-file", os.path.join(folder, UPDATE_FILE)]
    try:
        with trb_x11.XServer() as server:
            if args.choice:
                print_choice_figures(server, program, folder, args.runs)
                return
            waits = confirmation_figures(server, program, folder, args.runs, host)
            print(f"finish request to completion screen: median {statistics.median(waits):6.1f} ms  "
                  f"(min {min(waits):.1f}, max {max(waits):.1f}, {len(waits)} runs)")
            if args.confirmation_only:
                return
            painted, mapped = launch_figures(server, program, folder, args.runs, host)
            print(f"launch to first paint:   median {statistics.median(painted):6.1f} ms  "
                  f"(min {min(painted):.1f}, max {max(painted):.1f}, {len(painted)} runs)")
            print(f"launch to window mapped: median {statistics.median(mapped):6.1f} ms  "
                  f"(found by polling xdotool, so coarser)")

            program_cpu, server_cpu, seconds, wakeups = ready_cpu(server, program, folder, host)
            print(f"ready screen, waiting:   program {program_cpu:5.2f} % of one core, "
                  f"X server {server_cpu:5.2f} % (over {seconds:.1f} s)")
            busy = sorted(((rate, name) for name, rate in wakeups.items() if rate >= 0.5), reverse=True)
            print("  wake-ups per second:   " + (", ".join(f"{name} {rate:.0f}" for rate, name in busy) or "none"))

            before, ready, during, peak, duration = update_memory(server, program, folder, host)
            print(f"memory:                  VmRSS {before / 1024:.1f} MiB at start, {ready / 1024:.1f} MiB ready, "
                  f"{during / 1024:.1f} MiB at most while writing; VmHWM {peak / 1024:.1f} MiB "
                  f"(full update took {duration:.1f} s)")
            print(f"growth while writing:    {(during - ready) / 1024:+.1f} MiB over the ready screen")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
