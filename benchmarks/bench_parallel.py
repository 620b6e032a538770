"""Solves in parallel threads against the same solves one after the other.

Solves a few seeded instances (a depot and scattered sites, several agents) once serially and
once on a pool of threads through ``orvik.solve_many``, and prints the wall time of each batch,
the states the searches generated and their pace. The solver releases the interpreter lock, so
on a machine with free cores the threads run side by side. With ``--clock cpu`` every solve gets
its own thread's processor time, so the work of each solve stays the same in both batches and
only the wall time shrinks; with ``--clock wall`` every solve takes its time limit of wall time.

Not a test: figures depend on the machine and its load, printed beside them.

    python benchmarks/bench_parallel.py                  # 2 threads x 4 instances, 2 s each
    python benchmarks/bench_parallel.py --threads 2 --instances 4 --time-limit 3 --clock wall
"""

from __future__ import annotations

import argparse
import math
import random
import sys
import time
from typing import Any

import orvik


def instance(seed: int, sites: int, agents: int) -> dict[str, Any]:
    """A depot in the middle of a 100 x 100 square and scattered sites, Euclidean costs."""
    rng = random.Random(seed)
    points = [(50.0, 50.0)] + [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(sites)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "type": "DEPOT" if i == 0 else "TARGET"}
                  for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "car", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "costs": {"car": [[round(math.dist(a, b), 2) for b in points] for a in points]},
        "options": {"objective": "min_max"},
    }


def load() -> str:
    with open("/proc/loadavg", encoding="ascii") as f:
        return " ".join(f.read().split()[:3])


def run(label: str, models: list[orvik.Model], workers: int, options: dict[str, Any]) -> None:
    load_before = load()
    start = time.perf_counter()
    if workers == 1:
        solutions = [model.solve(**options) for model in models]
    else:
        solutions = orvik.solve_many(models, workers=workers, **options)
    wall = time.perf_counter() - start
    states = sum(s.statistics.n_generated for s in solutions)
    search = sum(s.statistics.search_time for s in solutions)
    objectives = " ".join(f"{s.objective_value:.1f}" for s in solutions)
    print(f"{label:<12} {wall:8.2f} {search:10.2f} {states:12,d} {states / wall:14,.0f}   "
          f"{load_before:<16} {objectives}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--instances", type=int, default=4)
    parser.add_argument("--sites", type=int, default=50)
    parser.add_argument("--agents", type=int, default=3)
    parser.add_argument("--time-limit", type=float, default=2.0)
    parser.add_argument("--clock", choices=("cpu", "wall"), default="cpu")
    args = parser.parse_args()

    models = [orvik.Model.from_json(instance(seed, args.sites, args.agents))
              for seed in range(args.instances)]
    options = {"time_limit": args.time_limit, "clock": args.clock, "improve": False}
    print(f"{args.instances} instances of {args.sites} sites and {args.agents} agents, "
          f"{args.time_limit:g} s each on the {args.clock} clock; machine load before each batch "
          f"(1, 5, 15 min)")
    print(f"{'batch':<12} {'wall s':>8} {'search s':>10} {'states':>12} {'states/wall s':>14}   "
          f"{'load':<16} objectives")
    run("serial", models, 1, options)
    run(f"{args.threads} threads", models, args.threads, options)
    return 0


if __name__ == "__main__":
    sys.exit(main())
