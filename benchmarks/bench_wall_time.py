"""How long `orvik solve --time-limit S` takes from start to exit, in wall-clock time.

Runs the command line on a seeded instance (a depot and scattered sites whose search does not
end by itself) a few times and prints the wall time of each run, from the process's start to
its exit (interpreter start-up, validation, solve and printing included), beside the machine's
load. With the default wall clock the solve ends at its limit however busy the machine is; with
``--clock cpu`` it counts the solving thread's processor time, which a loaded machine hands out
more slowly than the wall clock runs.

Not a test: figures depend on the machine and its load.

    python benchmarks/bench_wall_time.py                 # 3 runs of --time-limit 3
    python benchmarks/bench_wall_time.py --time-limit 3 --runs 5 --clock cpu
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

from bench_parallel import instance, load


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=3.0)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--sites", type=int, default=50)
    parser.add_argument("--agents", type=int, default=3)
    parser.add_argument("--clock", choices=("wall", "cpu"), default="wall")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "instance.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(instance(1, args.sites, args.agents), f)
        command = [sys.executable, "-m", "orvik", "solve", path, "--time-limit",
                   str(args.time_limit), "--clock", args.clock, "--quiet", "--json"]
        print(f"orvik solve --time-limit {args.time_limit:g} --clock {args.clock}, "
              f"{args.sites} sites, {args.agents} agents")
        print(f"{'run':>3} {'wall s':>8} {'solve s':>8} {'search s':>9}   load (1, 5, 15 min)")
        walls = []
        for run in range(1, args.runs + 1):
            before = load()
            start = time.perf_counter()
            done = subprocess.run(command, capture_output=True, text=True, check=False)
            wall = time.perf_counter() - start
            if done.returncode != 0:
                print(f"run {run} failed ({done.returncode}): {done.stderr.strip()}")
                return 1
            stats = json.loads(done.stdout)["statistics"]
            walls.append(wall)
            print(f"{run:>3} {wall:8.2f} {stats['solve_time']:8.2f} {stats['search_time']:9.2f}"
                  f"   {before}")
        print(f"wall time: median {statistics.median(walls):.2f} s, most {max(walls):.2f} s "
              f"for a limit of {args.time_limit:g} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
