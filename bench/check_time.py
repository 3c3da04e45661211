#!/usr/bin/env python3
"""How long `--check` takes against the simulated controller, measured by hand
(not part of CTest):

    python3 bench/check_time.py [path/to/TRBKelo7UpdateDemo] [--runs N] [--controllers N]

Runs the demo program with `--check --json` (no display, no terminal) in a folder
of its own beside an update file newer than the simulated controller's firmware,
with the demo's own pace (a USB frame of latency per exchange), and prints the
median wall time from just before the process starts to its end, over --runs
runs (5 by default), with the slowest and the fastest. Each run must end with
exit status 10 (an update would be written) and its "plan" event, else the script
stops with the program's output.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXIT_CHECK_WOULD_WRITE = 10
UPDATE_FILE = "trbkelo7__v105.bin"
SCENARIO = "latency_ms=1\n"


def main():
    build = os.path.join(ROOT, "build", "normal")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("program", nargs="?", default=os.path.join(build, "TRBKelo7UpdateDemo_artefacts", "RelWithDebInfo",
                                                                    "TRBKelo7UpdateDemo"))
    parser.add_argument("--tool", default=os.path.join(build, "tools", "make-update-file"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--controllers", type=int, default=1, help="simulated controllers (with several, --serial picks the first)")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="trb-check-time-")
    try:
        subprocess.run([args.tool, "1.05", "20261209", "seed:105", os.path.join(folder, UPDATE_FILE)], check=True,
                       capture_output=True)
        scenario = os.path.join(folder, "scenario.txt")
        with open(scenario, "w") as f:
            f.write(SCENARIO + f"controllers={args.controllers}\n")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(TRB_SIM_SCENARIO=scenario, XDG_RUNTIME_DIR=folder, LC_ALL="C.UTF-8")
        command = [args.program, "--check", "--json"] + (["--serial", "KELO7-SIM-0001"] if args.controllers > 1 else []) + [folder]

        times = []
        for _ in range(args.runs):
            start = time.monotonic()
            done = subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, capture_output=True)
            times.append((time.monotonic() - start) * 1000.0)
            events = [json.loads(line)["event"] for line in done.stdout.decode().splitlines()]
            if done.returncode != EXIT_CHECK_WOULD_WRITE or "plan" not in events:
                sys.exit(f"--check ended with {done.returncode}:\n{done.stdout.decode()}\n{done.stderr.decode()}")

        print(f"--check on the simulated controller ({args.controllers} connected): median {statistics.median(times):6.1f} ms  "
              f"(min {min(times):.1f}, max {max(times):.1f}, {args.runs} runs)")
    finally:
        shutil.rmtree(folder, True)


if __name__ == "__main__":
    main()
