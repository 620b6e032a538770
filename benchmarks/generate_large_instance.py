"""Write a seeded large instance: points in a square, agents of two types, windows on a share
of the points, and a guarantee that a feasible solution exists.

The default is the benchmark's 1,000-point instance: one depot in the middle, 10 agents (6 vans
and 4 bikes, which are slower), 10 % of the points open to vans only, and time windows on 20 %
of the points. Windows are laid around the arrival times of a reference plan (the points split
into angular sectors around the depot, one per agent, each visited in nearest-neighbour order),
so the instance is feasible whatever the objective.

    python benchmarks/generate_large_instance.py out.json
    python benchmarks/generate_large_instance.py out.json --points 2000 --seed 3 --objective min_sum
"""

from __future__ import annotations

import argparse
import json
import math
import random
from pathlib import Path
from typing import Any

TYPES = ("van", "bike")
BIKE_SLOWDOWN = 1.3  # a bike pays this much more than a van on every leg
SIDE = 1000.0


def _leg(kind: str, a: tuple[float, float], b: tuple[float, float]) -> float:
    d = math.dist(a, b)
    return round(d * (BIKE_SLOWDOWN if kind == "bike" else 1.0), 2)


def generate(
    points: int = 1000,
    vans: int = 6,
    bikes: int = 4,
    window_share: float = 0.2,
    van_only_share: float = 0.1,
    objective: str = "min_max",
    seed: int = 1,
    time_limit: float = 10.0,
) -> dict[str, Any]:
    """The instance as a JSON-ready dictionary; point 0 is the depot of every agent."""
    rng = random.Random(seed)
    xy = [(SIDE / 2, SIDE / 2)] + [
        (rng.uniform(0, SIDE), rng.uniform(0, SIDE)) for _ in range(points - 1)
    ]
    kinds = ["van"] * vans + ["bike"] * bikes
    van_only = set(rng.sample(range(1, points), int(van_only_share * (points - 1))))

    # Reference plan: angular sectors, one per agent, each in nearest-neighbour order. A van-only
    # point in a bike's sector moves to the nearest van sector by angle.
    def angle(v: int) -> float:
        return math.atan2(xy[v][1] - xy[0][1], xy[v][0] - xy[0][0]) % (2 * math.pi)

    order = sorted(range(1, points), key=angle)
    per_agent = math.ceil(len(order) / len(kinds))
    sectors = [order[i * per_agent : (i + 1) * per_agent] for i in range(len(kinds))]
    van_sectors = [k for k, kind in enumerate(kinds) if kind == "van"]
    for k, kind in enumerate(kinds):
        if kind == "bike":
            moved = [v for v in sectors[k] if v in van_only]
            sectors[k] = [v for v in sectors[k] if v not in van_only]
            for v in moved:
                target = min(van_sectors, key=lambda s: min(abs(k - s), len(kinds) - abs(k - s)))
                sectors[target].append(v)

    arrival: dict[int, float] = {}
    for k, kind in enumerate(kinds):
        here, t, left = 0, 0.0, set(sectors[k])
        while left:
            nxt = min(left, key=lambda v: math.dist(xy[here], xy[v]))
            t += _leg(kind, xy[here], xy[nxt])
            arrival[nxt] = t
            left.remove(nxt)
            here = nxt

    windowed = rng.sample(range(1, points), int(window_share * (points - 1)))
    windows = []
    for v in sorted(windowed):
        opens = max(0.0, arrival[v] - rng.uniform(50.0, 400.0))
        closes = arrival[v] + rng.uniform(50.0, 400.0)
        windows.append({"node": v, "start": round(opens, 2), "end": round(closes, 2)})

    costs = {kind: [[_leg(kind, a, b) for b in xy] for a in xy] for kind in TYPES}
    assignment = [
        {"node": v, "types": ["van"] if v in van_only else list(TYPES)} for v in range(points)
    ]
    return {
        "name": f"generated-{points}-s{seed}",
        "source": {"format": "generated", "seed": seed, "rounding": "two-decimals", "scale": 1.0},
        "nodes": [
            {"id": v, "x": round(x, 3), "y": round(y, 3), "z": 0.0,
             "type": "DEPOT" if v == 0 else "TARGET"}
            for v, (x, y) in enumerate(xy)
        ],
        "agents": [
            {"id": k, "type": kind, "start_node": 0, "end_node": 0} for k, kind in enumerate(kinds)
        ],
        "costs": costs,
        "constraints": [
            {"kind": "assignment", "items": assignment},
            {"kind": "timewindow", "items": windows},
        ],
        "options": {"objective": objective, "time_limit": time_limit},
    }


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", type=Path, help="where to write the JSON instance")
    parser.add_argument("--points", type=int, default=1000, help="points, the depot included")
    parser.add_argument("--vans", type=int, default=6)
    parser.add_argument("--bikes", type=int, default=4)
    parser.add_argument("--windows", type=float, default=0.2, help="share of points with windows")
    parser.add_argument("--objective", choices=("min_max", "min_sum"), default="min_max")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    instance = generate(args.points, args.vans, args.bikes, args.windows,
                        objective=args.objective, seed=args.seed)
    with open(args.out, "w", encoding="utf-8") as handle:
        json.dump(instance, handle, separators=(",", ":"))
    print(f"wrote {args.out}: {args.points} points, {args.vans + args.bikes} agents, "
          f"{len(instance['constraints'][1]['items'])} windows")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
