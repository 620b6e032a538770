"""The shipments suite: seeded pickup-and-delivery instances (``orvik.random_shipments``), each
feasible by construction, solved by Orvik and by OR-Tools at the same wall-clock budget.

The 20 instances run from 50 to 200 sites, every site the pickup or the delivery of one
shipment, with one depot at the centre, a fleet of agents with a capacity (one dimension, two on
every fifth instance) and shipment amounts that make it bind; every other instance gives every
site a service duration and a time window, and the sites lie uniformly or in clusters, two
instances of each in turn. The objective is MinSum (``--objective min_max`` runs MinMax
instead).

Each (instance, solver) runs in its own child process, one at a time (``compare.py``): Orvik as a
user calls it (the ``orvik`` package's ``Model.from_json(...).solve(time_limit=B)``, improvement
on, seed 0), OR-Tools through ``ortools_adapter.py`` (pickup-and-delivery pairs on one vehicle,
pickup first, a capacity dimension per load dimension, service durations and windows on the time
dimension). Every result, OR-Tools' routes included, is checked and its cost recomputed by
Orvik's independent checker (``orvik.checker``); a result that fails the check counts as none.
The run prints one row per instance with the machine's load at its end, the share of instances
on which Orvik is at least as good as OR-Tools, and writes ``results/shipments.csv``.

    python benchmarks/shipments.py                    # 20 instances x 2 solvers x 10 s
    python benchmarks/shipments.py --count 4 --budget 2
    python benchmarks/shipments.py --write OUT_DIR    # only write the instances
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import compare  # noqa: E402 (found through the path set above)
import orvik_modules  # noqa: E402
import shapes  # noqa: E402

DEFAULT_COUNT = 20
SITES = (50, 200)
SOLVERS = ("orvik-package", "ortools")
COLUMNS = ("instance", "sites", "agents", "windows", "dims", "layout", "orvik", "ortools",
           "gap_pct", "orvik_note", "ortools_note", "load_1min")


def design(i: int, count: int = DEFAULT_COUNT) -> dict[str, Any]:
    """The features of the suite's i-th instance: sites from 50 to 200 (even), windows on every
    other one, the layout alternating in twos, two load dimensions on every fifth."""
    low, high = SITES
    sites = low + round((high - low) * i / max(count - 1, 1))
    return {
        "sites": sites + sites % 2,
        "windows": i % 2 == 1,
        "layout": "clustered" if (i // 2) % 2 else "uniform",
        "dimensions": 2 if i % 5 == 2 else 1,
    }


def suite(count: int = DEFAULT_COUNT, first_seed: int = 0, objective: str = "min_sum",
          time_limit: float = 10.0) -> list[dict[str, Any]]:
    """The suite's instances: the i-th has seed first_seed + i and the features of design(i)."""
    shipments = orvik_modules.load("random_shipments")
    return [shipments.shipment_instance(first_seed + i, objective=objective,
                                        time_limit=time_limit, **design(i, count))
            for i in range(count)]


def describe(instance: dict[str, Any]) -> dict[str, Any]:
    """Sites, agents, windows, load dimensions and layout of an instance of the suite."""
    capacity = instance["agents"][0]["capacity"]
    return {
        "sites": len(instance["nodes"]) - 1,
        "agents": len(instance["agents"]),
        "windows": any(c["kind"] == "timewindow" for c in instance["constraints"]),
        "dims": len(capacity) if isinstance(capacity, list) else 1,
    }


def load_now() -> float:
    return os.getloadavg()[0]


def run(paths: list[Path], instances: list[dict[str, Any]], budget: float, seed: int,
        out_dir: Path) -> list[dict[str, Any]]:
    """One row per instance: both solvers' checked values (empty when a result fails the check
    or is missing) and what went wrong."""
    env = compare.child_env(None)
    log_dir = out_dir / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    rows = []
    for i, (path, instance) in enumerate(zip(paths, instances, strict=True)):
        case = compare.case_of(path, instance)
        row: dict[str, Any] = dict.fromkeys(COLUMNS, "")
        row.update(instance=case.name, layout=design(i, len(paths))["layout"],
                   **describe(instance))
        for solver, column in zip(SOLVERS, ("orvik", "ortools"), strict=True):
            record = compare.run_child(solver, case, budget, env, log_dir, ("--seed", str(seed)))
            checked = compare.make_row(case, solver, budget, record, instance, None)
            if checked["feasible"] == "yes" and checked["objective_value"] != "":
                row[column] = checked["objective_value"]
            result = record.get("result") or {}
            reasons = result.get("reasons") or [checked["note"] or "no solution"]
            row[f"{column}_note"] = "" if row[column] != "" else str(reasons[0])[:80]
        if row["orvik"] != "" and row["ortools"] != "" and row["ortools"] > 0:
            row["gap_pct"] = round(100.0 * (row["orvik"] - row["ortools"]) / row["ortools"], 2)
        row["load_1min"] = round(load_now(), 2)
        rows.append(row)
        print(f"  {row['instance']}: {row['sites']} sites, {row['agents']} agents, "
              f"{'windows' if row['windows'] else 'no windows'}: Orvik {row['orvik'] or '-'} "
              f"{row['orvik_note']}, OR-Tools {row['ortools'] or '-'} {row['ortools_note']} "
              f"(load {row['load_1min']})", flush=True)
    return rows


def at_least_as_good(row: dict[str, Any]) -> bool:
    """Orvik has a checked result no worse than OR-Tools' (or OR-Tools has none)."""
    if row["orvik"] == "":
        return False
    return row["ortools"] == "" or row["orvik"] <= row["ortools"] + compare.TIE


def summarize(rows: list[dict[str, Any]]) -> None:
    shown = ("instance", "sites", "agents", "windows", "dims", "layout", "orvik", "ortools",
             "gap_pct", "load_1min")
    widths = {c: max(len(c), *(len(str(r[c])) for r in rows)) for c in shown}
    print("  ".join(c.ljust(widths[c]) for c in shown))
    for r in rows:
        print("  ".join(str(r[c]).ljust(widths[c]) for c in shown))
    ahead = [r for r in rows if at_least_as_good(r)]
    gaps = [r["gap_pct"] for r in rows if r["gap_pct"] != ""]
    print(f"\nOrvik at least as good as OR-Tools on {len(ahead)} of {len(rows)} "
          f"({100.0 * len(ahead) / max(len(rows), 1):.0f} %); mean gap to OR-Tools "
          f"{sum(gaps) / max(len(gaps), 1):+.2f} % over {len(gaps)} solved by both; "
          f"Orvik solved {sum(r['orvik'] != '' for r in rows)}, "
          f"OR-Tools {sum(r['ortools'] != '' for r in rows)} (checked)")
    for r in rows:
        if not at_least_as_good(r):
            print(f"  behind on {r['instance']}: {r['orvik'] or 'none'} against {r['ortools']}"
                  f"{' (' + r['orvik_note'] + ')' if r['orvik_note'] else ''}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT)
    parser.add_argument("--first-seed", type=int, default=0)
    parser.add_argument("--budget", type=float, default=10.0, help="seconds per solve (wall)")
    parser.add_argument("--objective", choices=("min_sum", "min_max"), default="min_sum")
    parser.add_argument("--seed", type=int, default=0, help="seed of Orvik's improvement")
    parser.add_argument("--out-dir", type=Path, default=HERE / "results")
    parser.add_argument("--write", type=Path, metavar="OUT_DIR",
                        help="only write the instances into this folder")
    args = parser.parse_args(argv)
    instances = suite(args.count, args.first_seed, args.objective, args.budget)
    if args.write is not None:
        for path, instance in zip(shapes.write_suite(args.write, instances), instances, strict=True):
            print(f"{path.name}: {describe(instance)}")
        return 0
    out_dir: Path = args.out_dir.resolve()
    print(f"machine load (1, 5, 15 min): {compare.machine_load()}; "
          f"{args.count} instances, {args.objective}, {args.budget:g} s each (wall clock), "
          f"Orvik seed {args.seed}", flush=True)
    paths = shapes.write_suite(out_dir / "shipments", instances)
    rows = run(paths, instances, args.budget, args.seed, out_dir)
    print()
    summarize(rows)
    compare.write_csv(rows, out_dir / "shipments.csv", COLUMNS)
    print(f"\nmachine load (1, 5, 15 min) at the end: "
          f"{compare.machine_load()}")
    print(f"wrote {out_dir / 'shipments.csv'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
