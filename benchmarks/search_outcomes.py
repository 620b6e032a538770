"""Outcomes of the anytime search under two builds, on seeded instances, with a state budget.

Generates ``--count`` seeded instances (seeds from ``--first-seed``) of 8 to ``--max-points``
points and 1 to 5 agents of one or two types: both objectives, with and without the return
rule, a shared depot or depots of their own, assignment entries, time windows, route-length
limits and missing cost entries, each drawn from its own probability. Every build's
``search_speed`` program (``benchmarks/search_speed.cpp``) searches each instance, improvement
off, until ``--states`` states are generated or the search ends: the budget counts states, not
seconds, so a build gives the same answer on every run whatever the load. The script then
compares the builds instance by instance: routes, route costs, states generated and expanded,
whether the budget ended the search, the statistics and every recorded solution of the
history. Any difference is printed and counted.

Not a test: it prints figures.

    python benchmarks/search_outcomes.py --build before=build/baseline/obj/benchmarks/search_speed \\
        --build after=build/cpp/benchmarks/search_speed --count 1000
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
from collections import Counter
from typing import Any

NO_CONNECTION = 9999.0


def make_instance(seed: int, max_points: int) -> dict[str, Any]:
    """One seeded instance; see the module docstring for what is drawn."""
    rng = random.Random(seed)
    n = rng.randint(8, max_points)
    sites = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    m = rng.randint(1, min(5, n // 3))
    types = ["ground", "air"][: rng.randint(1, min(2, m))]
    separate = rng.random() < 0.3
    depots = rng.sample(range(n), 2 * m) if separate else [0] * (2 * m)
    agents = []
    for k in range(m):
        agent: dict[str, Any] = {"id": k, "type": types[k % len(types)],
                                 "start_node": depots[2 * k], "end_node": depots[2 * k + 1]}
        if rng.random() < 0.2:
            agent["max_length"] = rng.uniform(150, 600)
        agents.append(agent)
    rounding = rng.choice(["exact", "one-decimal", "integer"])
    costs = {}
    for name in types:
        stretch = 1.0 if name == "ground" else rng.uniform(0.5, 0.9)
        matrix = []
        for i, a in enumerate(sites):
            row = []
            for j, b in enumerate(sites):
                d = 0.0 if i == j else math.dist(a, b) * stretch
                if rounding == "one-decimal":
                    d = math.floor(10 * d) / 10
                elif rounding == "integer":
                    d = float(int(d + 0.5))
                row.append(d)
            matrix.append(row)
        if rng.random() < 0.15:
            for _ in range(rng.randint(1, max(1, n // 4))):
                u, v = rng.randrange(n), rng.randrange(n)
                if u != v:
                    matrix[u][v] = NO_CONNECTION
        costs[name] = matrix
    items = [{"node": v, "types": list(types)} for v in range(n)]
    if len(types) > 1 and rng.random() < 0.5:
        for item in items:
            if item["node"] not in depots and rng.random() < 0.3:
                item["types"] = [rng.choice(types)]
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": items}]
    if rng.random() < 0.35:
        horizon = rng.uniform(150, 500)
        spans = []
        for v in rng.sample(range(n), rng.randint(1, n)):
            opens = rng.uniform(0, horizon)
            spans.append({"node": v, "start": round(opens, 1),
                          "end": round(opens + rng.uniform(30, horizon), 1)})
        constraints.append({"kind": "timewindow", "items": spans})
    return {
        "nodes": [{"id": v, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if v == depots[0] else
                   "TARGET"} for v, (x, y) in enumerate(sites)],
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {"objective": rng.choice(["min_max", "min_sum"]),
                    "return_to_end": rng.random() < 0.8},
    }


def outcomes(program: str, instances_path: str, states: int) -> list[dict[str, Any]]:
    run = subprocess.run([program, "outcomes", str(states), instances_path],
                         capture_output=True, text=True, check=False)
    if run.returncode != 0:
        raise SystemExit(f"{program} failed ({run.returncode}): {run.stderr.strip()[-500:]}")
    return [json.loads(line) for line in run.stdout.splitlines() if line.startswith("{")]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", required=True, metavar="LABEL=PROGRAM",
                        help="a search_speed program; give two (before, after)")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--first-seed", type=int, default=0)
    parser.add_argument("--max-points", type=int, default=40)
    parser.add_argument("--states", type=int, default=20000,
                        help="state budget per instance (default 20000)")
    args = parser.parse_args(argv)
    builds = [item.partition("=")[::2] for item in args.build]
    if len(builds) != 2 or any(not os.access(p, os.X_OK) for _, p in builds):
        parser.error("give --build twice, each LABEL=PROGRAM with an executable program")

    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "instances.jsonl")
        with open(path, "w") as f:
            for seed in range(args.first_seed, args.first_seed + args.count):
                f.write(json.dumps(make_instance(seed, args.max_points)) + "\n")
        (old_label, old_program), (new_label, new_program) = builds
        old = outcomes(old_program, path, args.states)
        new = outcomes(new_program, path, args.states)
    if len(old) != args.count or len(new) != args.count:
        print(f"expected {args.count} lines, got {len(old)} ({old_label}) and {len(new)} "
              f"({new_label})")
        return 1
    kinds: Counter[str] = Counter()
    differences = 0
    for seed, (a, b) in enumerate(zip(old, new), start=args.first_seed):
        if "error" in a:
            kinds["refused"] += 1
        elif a.get("stopped"):
            kinds["stopped by the state budget"] += 1
        elif a.get("found"):
            kinds["search ended, solved"] += 1
        else:
            kinds["search ended, no solution"] += 1
        if a != b:
            differences += 1
            fields = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
            print(f"seed {seed}: differs in {', '.join(fields)}")
    print(f"{args.count} instances (seeds {args.first_seed}..{args.first_seed + args.count - 1}, "
          f"at most {args.max_points} points, {args.states} states each): "
          + ", ".join(f"{k} {v}" for k, v in sorted(kinds.items())))
    print(f"{new_label} against {old_label}: {differences} instances differ")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
