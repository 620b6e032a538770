"""The shapes suite: seeded instances of the everyday shapes a single-depot benchmark never
tries, each feasible by construction (``orvik.random_shapes``).

The suite crosses the four features that change a solver's work the most, so that every
combination occurs once in 48 instances: 1 to 4 depots, windows on 0, 20 or 50 % of the sites,
MinMax or MinSum, and closed or open routes (``return_to_end`` false). The rest is drawn from
the instance's seed: 30 to 200 sites, 1 to 3 agent types (with two or more, some sites are open to
some types only), 2 to 6 agents, with two depots or more half or all of the agents ending at
another depot than their start (often where other agents start), and route limits on half of
the agents of every other instance.

    python benchmarks/shapes.py OUT_DIR                 # writes shape-0.json ... shape-47.json
    python benchmarks/shapes.py OUT_DIR --count 96      # the design repeated with other seeds
    python benchmarks/compare.py --shapes               # the suite against OR-Tools

``compare.py --shapes`` runs the suite with Orvik (improvement on), Orvik's search alone and
OR-Tools and prints a summary per budget.
"""

from __future__ import annotations

import argparse
import json
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import orvik_modules  # noqa: E402 (found through the path set above)

DEFAULT_COUNT = 48
DEPOTS = (1, 2, 3, 4)
WINDOW_SHARES = (0.0, 0.2, 0.5)
OBJECTIVES = ("min_max", "min_sum")


def design(i: int) -> dict[str, Any]:
    """The crossed features of the suite's i-th instance."""
    return {
        "depots": DEPOTS[i % 4],
        "windows": WINDOW_SHARES[(i // 4) % 3],
        "objective": OBJECTIVES[(i // 12) % 2],
        "return_to_end": (i // 24) % 2 == 0,
    }


def suite(count: int = DEFAULT_COUNT, first_seed: int = 0, sites: tuple[int, int] = (30, 200),
          time_limit: float = 10.0) -> list[dict[str, Any]]:
    """The suite's instances: the i-th has seed first_seed + i and the features of design(i)."""
    shapes = orvik_modules.load("random_shapes")
    instances = []
    for i in range(count):
        seed = first_seed + i
        instances.append(shapes.shape_instance(
            seed, sites=sites, separate_ends=[0.5, 1.0], limits=0.5 if i % 2 else 0.0,
            time_limit=time_limit, **design(i)))
    return instances


def describe(instance: dict[str, Any]) -> str:
    """One line: sites, depots, agents, types, separate ends, open routes, windows, limits and
    the objective."""
    nodes = instance["nodes"]
    depots = sum(1 for node in nodes if node.get("type") == "DEPOT")
    agents = instance["agents"]
    windows = sum(len(c["items"]) for c in instance["constraints"] if c["kind"] == "timewindow")
    separate = sum(1 for a in agents if a["start_node"] != a["end_node"])
    limited = sum(1 for a in agents if a.get("max_length", 0) > 0)
    options = instance["options"]
    return (f"{len(nodes) - depots} sites, {depots} depots, {len(agents)} agents "
            f"({separate} ending elsewhere, {limited} limited), "
            f"{len(instance['costs'])} types, {windows} windows, "
            f"{'closed' if options['return_to_end'] else 'open'} routes, {options['objective']}")


def write_suite(out_dir: Path, instances: list[dict[str, Any]]) -> list[Path]:
    out_dir.mkdir(parents=True, exist_ok=True)
    paths = []
    for instance in instances:
        path = out_dir / f"{instance['name']}.json"
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(instance, handle, separators=(",", ":"))
        paths.append(path)
    return paths


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir", type=Path, help="where the instance files go")
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT)
    parser.add_argument("--first-seed", type=int, default=0)
    args = parser.parse_args(argv)
    instances = suite(args.count, args.first_seed)
    for path, instance in zip(write_suite(args.out_dir, instances), instances, strict=True):
        print(f"{path.name}: {describe(instance)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
