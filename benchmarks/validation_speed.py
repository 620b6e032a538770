"""How long ``orvik.validate`` takes on large instances, how long a solve's set-up in Python
takes, and the machine's load meanwhile.

Two instances:

- ``nodes``: N nodes (default 10,000) with an assignment entry and a time window each, 20 agents
  of two types starting at the first node; the cost matrices are left out (a matrix of 10,000
  nodes squared has no place in memory here), so the findings are the missing matrices.
- ``float ids``: the first instance with its node ids written as floats (1.0): every node is
  then checked by the schema, not only by the reader's quick look;
- ``large``: the seeded instance of ``generate_large_instance.py`` with ``--points`` points
  (default 2,000) and full matrices for both agent types.

For the last, the set-up of a solve is timed too, step by step: the document read once
(``orvik.instance``), validated, its unit scale found, the solver's document built and written
as the JSON text the solver receives.

    python benchmarks/validation_speed.py
    python benchmarks/validation_speed.py --nodes 20000 --points 1000 --repeat 5
"""

from __future__ import annotations

import argparse
import json
import os
import time
from typing import Any

import orvik
from generate_large_instance import generate
from orvik.instance import read_instance
from orvik.units import solver_document, unit_scale


def many_nodes(count: int) -> dict[str, Any]:
    """``count`` nodes with an assignment entry and a window each, no matrices."""
    return {
        "nodes": [{"id": v, "x": float(v % 100), "y": float(v // 100),
                   "type": "DEPOT" if v == 0 else "TARGET"} for v in range(count)],
        "agents": [{"id": k, "type": ("van", "bike")[k % 2], "start_node": 0, "end_node": 0}
                   for k in range(20)],
        "constraints": [
            {"kind": "assignment",
             "items": [{"node": v, "types": ["van", "bike"]} for v in range(count)]},
            {"kind": "timewindow",
             "items": [{"node": v, "start": 0.0, "end": 1000.0 + v % 1000} for v in range(count)]},
        ],
        "options": {"objective": "min_max"},
    }


def timed(document: dict[str, Any], repeat: int) -> tuple[float, int, int]:
    """The best of ``repeat`` validations in seconds, with the errors and warnings found."""
    best = float("inf")
    findings = orvik.validate(document)
    for _ in range(repeat):
        start = time.perf_counter()
        findings = orvik.validate(document)
        best = min(best, time.perf_counter() - start)
    return best, len(findings.errors), len(findings.warnings)


def set_up(document: dict[str, Any], repeat: int) -> dict[str, float]:
    """The best of ``repeat`` runs of each step of a solve's set-up, in seconds."""
    best: dict[str, float] = {}
    for _ in range(repeat):
        times = [time.perf_counter()]
        instance = read_instance(document).require()
        times.append(time.perf_counter())
        orvik.validate(instance)
        times.append(time.perf_counter())
        scale = unit_scale(instance)
        times.append(time.perf_counter())
        sent = solver_document(instance, scale)
        times.append(time.perf_counter())
        json.dumps(sent, allow_nan=False)
        times.append(time.perf_counter())
        steps = ("read", "validate", "scale", "solver document", "text")
        for step, start, end in zip(steps, times, times[1:], strict=False):
            best[step] = min(best.get(step, float("inf")), end - start)
    return best


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=10_000, help="nodes of the first instance")
    parser.add_argument("--points", type=int, default=2_000, help="points of the second instance")
    parser.add_argument("--repeat", type=int, default=3, help="validations per instance (best)")
    args = parser.parse_args()
    floats = many_nodes(args.nodes)
    for node in floats["nodes"]:
        node["id"] = float(node["id"])
    cases = [(f"{args.nodes:,} nodes, no matrices", many_nodes(args.nodes)),
             (f"{args.nodes:,} nodes, float ids", floats),
             (f"{args.points:,} points, full matrices", generate(points=args.points))]
    for name, document in cases:
        seconds, errors, warnings = timed(document, args.repeat)
        load = os.getloadavg()[0]
        print(f"{name:32s} {seconds:7.3f} s  ({errors} errors, {warnings} warnings; "
              f"1-minute load {load:.2f})")
    steps = set_up(cases[-1][1], args.repeat)
    load = os.getloadavg()[0]
    print(f"{'set-up of a solve of the last':32s} {sum(steps.values()):7.3f} s  ("
          + ", ".join(f"{step} {seconds:.3f}" for step, seconds in steps.items())
          + f"; 1-minute load {load:.2f})")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
