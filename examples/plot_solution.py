"""Solve the bundled instance and save its routes and the search's progress as PNG files.

    python examples/plot_solution.py [--routes routes.png] [--history history.png]
"""

from __future__ import annotations

import argparse
from pathlib import Path

import orvik
from matplotlib.figure import Figure
from orvik.plotting import plot_history, plot_solution

INSTANCE = Path(__file__).resolve().parent / "two_robots_square.json"


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--routes", default="routes.png", help="image of the routes")
    parser.add_argument("--history", default="history.png", help="image of the progress")
    parser.add_argument("--time-limit", type=float, default=2.0, help="seconds of search")
    args = parser.parse_args()

    model = orvik.Model.from_json(INSTANCE)
    solution = model.solve(time_limit=args.time_limit)
    print(repr(solution))

    figure = Figure(figsize=(11, 4.5), layout="constrained")
    left, right = figure.subplots(1, 2, width_ratios=[1.2, 1])
    plot_solution(solution, model, ax=left)
    plot_history(solution, ax=right)
    figure.savefig(args.routes, dpi=120)
    print(f"routes: {args.routes}")

    history = plot_history(solution)
    history.figure.savefig(args.history, dpi=120)
    print(f"history: {args.history}")


if __name__ == "__main__":
    main()
