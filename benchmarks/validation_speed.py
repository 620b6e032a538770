"""How long ``orvik.validate`` takes on large instances, and the machine's load meanwhile.

Two instances:

- ``nodes``: N nodes (default 10,000) with an assignment entry and a time window each, 20 agents
  of two types starting at the first node; the cost matrices are left out (a matrix of 10,000
  nodes squared has no place in memory here), so the findings are the missing matrices.
- ``large``: the seeded instance of ``generate_large_instance.py`` with ``--points`` points
  (default 2,000) and full matrices for both agent types.

    python benchmarks/validation_speed.py
    python benchmarks/validation_speed.py --nodes 20000 --points 1000 --repeat 5
"""

from __future__ import annotations

import argparse
import os
import time
from typing import Any

import orvik
from generate_large_instance import generate


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


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=10_000, help="nodes of the first instance")
    parser.add_argument("--points", type=int, default=2_000, help="points of the second instance")
    parser.add_argument("--repeat", type=int, default=3, help="validations per instance (best)")
    args = parser.parse_args()
    cases = [(f"{args.nodes:,} nodes, no matrices", many_nodes(args.nodes)),
             (f"{args.points:,} points, full matrices", generate(points=args.points))]
    for name, document in cases:
        seconds, errors, warnings = timed(document, args.repeat)
        load = os.getloadavg()[0]
        print(f"{name:32s} {seconds:7.3f} s  ({errors} errors, {warnings} warnings; "
              f"1-minute load {load:.2f})")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
