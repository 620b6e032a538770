"""Two vans deliver to eight customers within their time windows; the total time is minimised.

Customers have names, the costs come from a travel-time matrix (minutes, service included),
and the routes are printed with arrival, waiting and departure at every stop.

    python examples/deliveries_with_windows.py [--time-limit 5] [-o result.json]
"""

from __future__ import annotations

import argparse

import orvik

# Travel minutes between the depot and the customers, the 5 minutes of service at a customer
# folded into the legs that leave it.
PLACES = ["depot", "bakery", "clinic", "school", "market", "library", "garage", "hotel", "farm"]
MINUTES = [
    [0, 12, 18, 9, 22, 15, 30, 11, 40],
    [17, 0, 13, 14, 19, 12, 27, 10, 36],
    [23, 18, 0, 16, 11, 14, 21, 19, 31],
    [14, 19, 21, 0, 20, 10, 28, 13, 38],
    [27, 24, 16, 25, 0, 17, 14, 23, 25],
    [20, 17, 19, 15, 22, 0, 24, 16, 33],
    [35, 32, 26, 33, 19, 29, 0, 31, 16],
    [16, 15, 24, 18, 28, 21, 36, 0, 45],
    [45, 41, 36, 43, 30, 38, 21, 50, 0],
]
WINDOWS = {"bakery": (0, 30), "clinic": (30, 90), "school": (0, 45), "hotel": (60, 120),
           "farm": (40, 200)}


def build() -> orvik.Model:
    """The depot, eight customers with names and windows, two vans."""
    model = orvik.Model(objective="min_sum")
    model.add_depot("depot", 0.0, 0.0)
    for i, name in enumerate(PLACES[1:], start=1):
        # Positions only for plots: customers on a circle around the depot.
        model.add_site(name, float(i % 3) * 10 - 10, float(i // 3) * 10 - 10,
                       window=WINDOWS.get(name))
    model.add_agent("van-1", "van", start="depot")
    model.add_agent("van-2", "van", start="depot")
    model.set_costs("van", MINUTES)
    return model


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=5.0, help="seconds of search")
    parser.add_argument("-o", "--output", help="write the solution as JSON")
    args = parser.parse_args()

    model = build()
    solution = model.solve(time_limit=args.time_limit)
    print(f"{solution.status}: total {solution.sum_cost:g} minutes "
          f"({solution.objective_meaning})")
    for route in solution.routes:
        print(f"{route.agent}: {' -> '.join(map(str, route.nodes))} ({route.cost:g} min)")
        for stop in route.stops[1:]:
            wait = f", waits {stop.wait:g}" if stop.wait else ""
            print(f"  {stop.node:<8} arrives {stop.arrival:6.1f}{wait}")
    if args.output:
        solution.to_json(args.output)
        print(f"solution: {args.output}")


if __name__ == "__main__":
    main()
