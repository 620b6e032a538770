"""Search throughput and memory on generated instances.

Solves seeded random instances (a depot and targets in a 100 x 100 square, Euclidean costs,
optionally with time windows) through ``_orvik_core.solve_json_str``, each in its own child
process so that peak memory and processor time belong to that solve alone, and prints one line
per instance: states generated and expanded, states per processor second of the solve, peak
resident memory of the child, the objective reached and the number of improving solutions.

Not a test: figures depend on the machine and its load.

    python benchmarks/bench_search.py --time-limit 10
    python benchmarks/bench_search.py --sizes 20 50 --agents 2 3 --windows off --module-path build/x/python
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
from dataclasses import dataclass

import orvik_modules

# Runs inside the child: solve one instance file, write the figures to the output file. The
# solver prints progress lines on the child's standard output, so results go through a file.
CHILD_CODE = r"""
import json, sys, time
module_path, instance_path, output_path, time_limit = sys.argv[1:5]
if module_path:
    sys.path.insert(0, module_path)
import _orvik_core
with open(instance_path) as f:
    text = f.read()
cpu0, wall0 = time.process_time(), time.perf_counter()
result = _orvik_core.solve_json_str(text, float(time_limit))
cpu, wall = time.process_time() - cpu0, time.perf_counter() - wall0
with open(output_path, "w") as f:
    json.dump({"cpu": cpu, "wall": wall, "status": result["status"],
               "timeout": result["timeout"], "statistics": result["statistics"],
               "anytime": result["anytime"]}, f)
"""


@dataclass
class Case:
    nodes: int
    agents: int
    windows: bool
    seed: int


def make_instance(case: Case, objective: str, time_limit: float) -> dict:
    """A depot (node 0) and nodes - 1 targets; every agent starts and ends at the depot."""
    rng = random.Random(case.seed * 1_000_003 + case.nodes * 101 + case.agents * 7 + case.windows)
    points = [(50.0, 50.0)] + [
        (rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(case.nodes - 1)
    ]
    dist = [[round(math.dist(a, b), 2) for b in points] for a in points]
    nodes = [
        {"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
        for i, (x, y) in enumerate(points)
    ]
    agents = [
        {"id": k, "type": "vehicle", "start_node": 0, "end_node": 0} for k in range(case.agents)
    ]
    constraints = [
        {"kind": "assignment", "items": [{"node": i, "types": ["vehicle"]} for i in range(case.nodes)]}
    ]
    if case.windows:
        # Horizon: a nearest-neighbour tour shared by the agents, with some slack. Every window
        # opens no earlier than the direct trip from the depot could arrive.
        tour, here, todo = 0.0, 0, set(range(1, case.nodes))
        while todo:
            nxt = min(todo, key=lambda j: dist[here][j])
            tour += dist[here][nxt]
            here = nxt
            todo.remove(nxt)
        horizon = 1.5 * (tour + dist[here][0]) / case.agents
        items = []
        for i in range(1, case.nodes):
            start = rng.uniform(dist[0][i], max(dist[0][i], horizon))
            items.append({"node": i, "start": round(start, 2), "end": round(start + horizon / 3, 2)})
        constraints.append({"kind": "timewindow", "items": items})
    return {
        "nodes": nodes,
        "agents": agents,
        "costs": {"vehicle": dist},
        "constraints": constraints,
        "options": {"return_to_end": True, "objective": objective, "time_limit": time_limit},
    }


def run_case(case: Case, args: argparse.Namespace) -> dict:
    instance = make_instance(case, args.objective, args.time_limit)
    with tempfile.TemporaryDirectory() as tmp:
        instance_path = os.path.join(tmp, "instance.json")
        output_path = os.path.join(tmp, "result.json")
        with open(instance_path, "w") as f:
            json.dump(instance, f)
        child = subprocess.Popen(
            [sys.executable, "-c", CHILD_CODE, args.module_path or "", instance_path,
             output_path, str(args.time_limit)],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        assert child.stderr is not None
        errors = child.stderr.read().decode(errors="replace")
        # Reap the child ourselves to get its own resource usage.
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0 or not os.path.exists(output_path):
            return {"error": f"child exited with {child.returncode}: {errors.strip()[-300:]}"}
        with open(output_path) as f:
            figures = json.load(f)
    figures["peak_rss_mib"] = usage.ru_maxrss / 1024.0  # Linux reports KiB
    figures["child_cpu"] = usage.ru_utime + usage.ru_stime
    return figures


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[20, 50, 100])
    parser.add_argument("--agents", type=int, nargs="+", default=[2, 3, 5])
    parser.add_argument("--windows", choices=["both", "on", "off"], default="both")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--time-limit", type=float, default=10.0,
                        help="processor seconds per solve (default 10)")
    rules = orvik_modules.load("rules")
    parser.add_argument("--objective", choices=rules.OBJECTIVES, default=rules.MIN_MAX)
    parser.add_argument("--module-path", default="",
                        help="folder holding a built _orvik_core, put first on sys.path")
    parser.add_argument("--json", action="store_true", help="print one JSON object per instance")
    args = parser.parse_args()

    window_modes = {"both": [False, True], "on": [True], "off": [False]}[args.windows]
    cases = [
        Case(n, m, w, args.seed) for n in args.sizes for m in args.agents for w in window_modes
    ]
    header = (f"{'nodes':>5} {'agents':>6} {'tw':>3} {'status':>7} {'tmout':>5} "
              f"{'generated':>10} {'expanded':>10} {'states/cpu-s':>12} {'peak MiB':>8} "
              f"{'max_cost':>9} {'sum_cost':>9} {'sols':>4}")
    if not args.json:
        print(f"time limit {args.time_limit} s, objective {args.objective}, seed {args.seed}")
        print(header)
    for case in cases:
        figures = run_case(case, args)
        if "error" in figures:
            print(f"{case.nodes:>5} {case.agents:>6} {'on' if case.windows else 'off':>3} "
                  f"{figures['error']}")
            continue
        stats = figures["statistics"]
        rate = stats["n_generated"] / figures["cpu"] if figures["cpu"] > 0 else float("nan")
        row = {
            "nodes": case.nodes, "agents": case.agents, "windows": case.windows,
            "status": figures["status"], "timeout": figures["timeout"],
            "n_generated": stats["n_generated"], "n_expanded": stats["n_expanded"],
            "states_per_cpu_second": rate, "solve_cpu": figures["cpu"],
            "peak_rss_mib": figures["peak_rss_mib"], "max_cost": stats["max_cost"],
            "sum_cost": stats["sum_cost"], "solutions": len(figures["anytime"]),
            "last_update_time": stats["last_update_time"],
        }
        if args.json:
            print(json.dumps(row))
        else:
            print(f"{case.nodes:>5} {case.agents:>6} {'on' if case.windows else 'off':>3} "
                  f"{row['status']:>7} {row['timeout']!s:>5} {row['n_generated']:>10} "
                  f"{row['n_expanded']:>10} {rate:>12.0f} {row['peak_rss_mib']:>8.1f} "
                  f"{row['max_cost']:>9.2f} {row['sum_cost']:>9.2f} {row['solutions']:>4}")
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
