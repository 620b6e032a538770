"""Three robots of two kinds serve 30 sites in a warehouse; the longest route is minimised.

Two ground robots drive along the aisles (Manhattan distances) and a drone flies straight
(Euclidean distances, faster). Heavy items at some sites need a ground robot; high shelves need
the drone; a few sites must be served within a time window. Sites have the ids 101 to 130, the
dock is "dock" and the robots have names.

    python examples/robots_two_types.py [--plot robots.png] [--time-limit 5]
"""

from __future__ import annotations

import argparse
import random

import orvik


def build() -> orvik.Model:
    """The warehouse: one dock, 30 sites, two ground robots and a drone."""
    rng = random.Random(14)
    model = orvik.Model(objective="min_max")
    model.add_depot("dock", 0.0, 0.0)
    heavy = {104, 109, 115, 121, 127}
    high = {102, 111, 118, 124, 130}
    windows = {106: (0, 40), 113: (30, 90), 120: (60, 140), 126: (0, 60)}
    spots = rng.sample([(x, y) for x in range(-40, 41, 5) for y in range(-5, 61, 5)], 30)
    for site, (x, y) in zip(range(101, 131), spots, strict=True):
        types = ["ground"] if site in heavy else ["drone"] if site in high else None
        model.add_site(site, x, y, types=types, window=windows.get(site))
    model.add_agent("ground-1", "ground", start="dock")
    model.add_agent("ground-2", "ground", start="dock")
    model.add_agent("drone", "drone", start="dock", max_length=220)
    model.costs_from_coordinates("ground", metric="manhattan", speed=1.0, service=2.0)
    model.costs_from_coordinates("drone", metric="euclidean", speed=1.5, service=1.0)
    return model


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plot", default="robots_two_types.png", help="image file to write")
    parser.add_argument("--time-limit", type=float, default=5.0, help="seconds of search")
    args = parser.parse_args()

    model = build()
    solution = model.solve(time_limit=args.time_limit, seed=1)
    print(f"{solution.status}: {solution.objective} = {solution.objective_value:.1f} "
          f"({solution.objective_meaning})")
    for route in solution.routes:
        stops = ", ".join(f"{stop.node}@{stop.arrival:.1f}" for stop in route.stops[1:-1])
        print(f"{route.agent} ({route.agent_type}), cost {route.cost:.1f}: {stops}")
    report = solution.check()
    print(f"checker: {report.summary()}")

    from orvik.plotting import save_solution_plot

    save_solution_plot(solution, model, args.plot, windows=True)
    print(f"plot: {args.plot}")


if __name__ == "__main__":
    main()
