"""Three trucks deliver from one depot to fifteen shops; each truck carries at most its weight
and its volume, and some shops send empty crates back. The total driving time is minimised.

Each shop orders a weight (kg) and a volume (crates) delivered from the depot; some give back
empty crates (a pickup of volume only). A truck's load after every stop must fit both of its
capacities. The routes are printed with the load on board as each shop is left.

    python examples/delivery_fleet_capacities.py [--time-limit 5] [--plot routes.png]
"""

from __future__ import annotations

import argparse

import orvik

# Shop: x and y in km, the delivery as (kg, crates), empty crates picked up, minutes unloading.
SHOPS = {
    "north-1": (2, 9, (320, 6), 0, 6), "north-2": (-3, 11, (150, 3), 2, 4),
    "north-3": (5, 14, (410, 8), 0, 8), "east-1": (10, 2, (260, 5), 3, 5),
    "east-2": (13, -1, (520, 9), 0, 9), "east-3": (9, 6, (180, 4), 4, 4),
    "south-1": (1, -8, (300, 6), 2, 6), "south-2": (-4, -12, (220, 4), 0, 5),
    "south-3": (6, -10, (390, 7), 5, 7), "west-1": (-9, 1, (280, 5), 0, 5),
    "west-2": (-12, -3, (340, 7), 3, 6), "west-3": (-8, 7, (160, 3), 0, 4),
    "centre-1": (1, 2, (120, 2), 2, 3), "centre-2": (-2, -2, (90, 2), 0, 3),
    "centre-3": (3, -3, (200, 4), 1, 4),
}
# Truck: weight capacity (kg) and volume capacity (crates).
TRUCKS = {"truck-a": (1500, 28), "truck-b": (1500, 28), "truck-c": (1000, 20)}
SPEED = 0.6  # km per minute


def build() -> orvik.Model:
    model = orvik.Model(objective="min_sum")
    model.add_depot("depot", 0.0, 0.0)
    for name, (x, y, delivery, crates, minutes) in SHOPS.items():
        model.add_site(name, x, y, delivery=delivery, pickup=(0, crates), service=minutes)
    for name, capacity in TRUCKS.items():
        model.add_agent(name, "truck", start="depot", capacity=capacity)
    model.costs_from_coordinates("truck", speed=SPEED)
    return model


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=5.0, help="seconds of search")
    parser.add_argument("--plot", metavar="PNG", help="draw the routes with their loads")
    args = parser.parse_args()

    model = build()
    solution = model.solve(time_limit=args.time_limit)
    print(f"{solution.status}: total {solution.sum_cost:.1f} minutes")
    for reason in solution.reasons:
        print(f"  reason: {reason}")
    for route in solution.routes:
        kg, crates = route.stops[0].load or (0, 0)
        capacity = TRUCKS[route.agent]
        print(f"{route.agent} leaves with {kg:g} kg, {crates:g} crates (capacity "
              f"{capacity[0]} kg, {capacity[1]} crates), {route.cost:.1f} min:")
        for stop in route.stops[1:-1]:
            kg, crates = stop.load
            print(f"  {stop.node:<9} starts at {stop.start:6.1f}, leaves with {kg:5g} kg, "
                  f"{crates:3g} crates")
    if solution.routes:
        print(f"checker: {solution.check().summary()}")
    if args.plot and solution.routes:
        from orvik.plotting import save_solution_plot

        save_solution_plot(solution, model, args.plot, loads=True)
        print(f"plot: {args.plot}")


if __name__ == "__main__":
    main()
