"""Throughput and peak memory of the anytime search alone, for one or more builds side by side.

Two cases, each solved by every build's ``search_speed`` program (built from
``benchmarks/search_speed.cpp``) in a child process of its own, improvement off:

- ``eil51``: TSPLIB eil51 (exact Euclidean distances, the first node as the depot), 3 agents,
  MinMax, ``--eil51-seconds`` of processor time (default 5): states generated per processor
  second of the search.
- ``uniform100``: 100 points drawn uniformly in a 100 x 100 square from a fixed seed (point 0
  the depot), exact Euclidean distances, 5 agents, MinMax, ``--memory-seconds`` of processor
  time (default 60): the child's peak resident memory.

Builds run one after the other, repeated ``--rounds`` times, so that a before and after meet
the same load; the 1-minute load average is printed with every line. Not a test: figures
depend on the machine and its load.

    python benchmarks/search_speed.py --build before=build/baseline/obj/benchmarks/search_speed \\
        --build after=build/bench/benchmarks/search_speed --tsp /work/shared/bench/raw/eil51.tsp
"""

from __future__ import annotations

import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile

import orvik_modules


def uniform_instance(points: int, agents: int, seed: int) -> dict:
    """``points`` points uniform in a 100 x 100 square, exact Euclidean costs, depot 0."""
    rng = random.Random(seed)
    sites = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(points)]
    matrix = [[0.0 if i == j else math.dist(a, b) for j, b in enumerate(sites)]
              for i, a in enumerate(sites)]
    return {
        "nodes": [{"id": v, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if v == 0 else "TARGET"}
                  for v, (x, y) in enumerate(sites)],
        "agents": [{"id": k, "type": "vehicle", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "costs": {"vehicle": matrix},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": v, "types": ["vehicle"]} for v in range(points)]}],
        "options": {"return_to_end": True, "objective": "min_max"},
    }


def run(program: str, seconds: float, instance_path: str) -> dict:
    """One search in a child; its JSON figures plus the child's own peak memory."""
    child = subprocess.Popen([program, "run", str(seconds), instance_path],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = child.communicate()
    if child.returncode != 0:
        return {"error": f"exit {child.returncode}: {err.decode(errors='replace').strip()[-300:]}"}
    return json.loads(out.decode().strip().splitlines()[-1])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", required=True, metavar="LABEL=PROGRAM",
                        help="a search_speed program to measure; repeat for each build")
    parser.add_argument("--tsp", default="/work/shared/bench/raw/eil51.tsp",
                        help="the eil51 TSPLIB file")
    parser.add_argument("--eil51-seconds", type=float, default=5.0)
    parser.add_argument("--memory-seconds", type=float, default=60.0)
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--cases", nargs="+", choices=["eil51", "uniform100"],
                        default=["eil51", "uniform100"])
    args = parser.parse_args(argv)
    builds = []
    for item in args.build:
        label, sep, program = item.partition("=")
        if not sep or not os.access(program, os.X_OK):
            parser.error(f"--build {item}: expected LABEL=PROGRAM with an executable program")
        builds.append((label, program))

    io = orvik_modules.load("io")
    with tempfile.TemporaryDirectory() as tmp:
        cases = []
        if "eil51" in args.cases:
            path = os.path.join(tmp, "eil51.json")
            with open(path, "w") as f:
                json.dump(io.tsplib_instance(args.tsp, 3, "min_max", "exact"), f)
            cases.append(("eil51, 3 agents, MinMax", path, args.eil51_seconds))
        if "uniform100" in args.cases:
            path = os.path.join(tmp, "uniform100.json")
            with open(path, "w") as f:
                json.dump(uniform_instance(100, 5, seed=99), f)
            cases.append(("uniform100 (seed 99), 5 agents, MinMax", path, args.memory_seconds))
        for title, path, seconds in cases:
            print(f"{title}, {seconds:g} s of search")
            for _ in range(args.rounds):
                for label, program in builds:
                    figures = run(program, seconds, path)
                    load = os.getloadavg()[0]
                    if "error" in figures:
                        print(f"  {label:>10}: {figures['error']}  (load {load:.2f})")
                        continue
                    print(f"  {label:>10}: {figures['n_generated']:>11,} states generated, "
                          f"{figures['states_per_cpu_second']:>11,.0f} per CPU-second, "
                          f"peak RSS {figures['peak_rss_kib'] / 1024:8.1f} MiB, "
                          f"objective {figures['objective']}  (load {load:.2f})")
            sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
