"""Two warehouse robots carry totes from shelves to packing stations; each tote is picked up
and dropped by the same robot, a robot carries at most two totes, and one order must be packed
before another. The time of the last robot to finish is minimised.

A task is a shipment: pick up at a shelf, drop at a station, one tote on board in between.
Picking takes 20 s at a shelf and dropping 10 s at a station (service durations). The order
"express" must start packing no later than "standard" does, whichever robots carry them.

    python examples/robots_pickup_and_delivery.py [--time-limit 3]
"""

from __future__ import annotations

import argparse

import orvik

# Task: (shelf, its x and y in m), (station, its x and y in m).
TASKS = {
    "express": (("shelf-A3", 4, 12), ("pack-1", 20, 0)),
    "standard": (("shelf-B7", 12, 18), ("pack-2", 24, 6)),
    "spares": (("shelf-C1", 2, 20), ("pack-3", 16, 2)),
    "returns": (("shelf-D4", 14, 10), ("pack-4", 26, 12)),
    "refill": (("shelf-E2", 8, 4), ("pack-5", 22, 16)),
}
ROBOT_SPEED = 1.2  # m per second


def build() -> orvik.Model:
    model = orvik.Model(objective="min_max")
    model.add_depot("charger", 0.0, 0.0)
    for (shelf, sx, sy), (station, dx, dy) in TASKS.values():
        model.add_site(shelf, sx, sy, service=20)
        model.add_site(station, dx, dy, service=10)
    for (shelf, _, _), (station, _, _) in TASKS.values():
        model.add_shipment(shelf, station, amount=1)
    # The express order is packed first: its drop starts no later than the standard one's.
    model.add_precedence(TASKS["express"][1][0], TASKS["standard"][1][0])
    for robot in ("robot-1", "robot-2"):
        model.add_agent(robot, "robot", start="charger", capacity=2)
    model.costs_from_coordinates("robot", metric="manhattan", speed=ROBOT_SPEED)
    return model


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=3.0, help="seconds of search")
    args = parser.parse_args()

    solution = build().solve(time_limit=args.time_limit)
    print(f"{solution.status}: last robot done after {solution.max_cost:.1f} s")
    for reason in solution.reasons:
        print(f"  reason: {reason}")
    for route in solution.routes:
        print(f"{route.agent} ({route.cost:.1f} s):")
        for stop in route.stops[1:-1]:
            totes = stop.load[0] if stop.load else 0
            print(f"  {stop.node:<9} {stop.start:6.1f}-{stop.departure:6.1f} s, "
                  f"{totes:g} tote(s) on board")
    if solution.routes:
        print(f"checker: {solution.check().summary()}")


if __name__ == "__main__":
    main()
