"""Capacitated routing: Orvik beside PyVRP and OR-Tools at equal wall-clock budgets.

Two sets, both MinSum with capacity on:

- CVRP (the default): the CVRPLIB X instances in ``raw/cvrp`` (Uchoa et al.; 100 to 302
  customers), converted by ``orvik.io`` as the literature means them: distances rounded to the
  nearest integer, every demand a delivery, the file's CAPACITY on every agent and its VEHICLES
  as the number of agents (idle agents cost nothing).
- ``--solomon``: the Solomon problems c101 and r101 with 100 customers and 10 and 19 vehicles
  of capacity 200: distances truncated to one decimal, service folded into the legs, windows
  bounding the start of service, waiting counted; a route costs the time its vehicle is back.

Orvik solves through its package (``orvik.solve``, the product layer); PyVRP and OR-Tools
through ``pyvrp_adapter`` and ``ortools_adapter``. Every run is a child process of its own,
one at a time (``compare.run_child``). Every result is checked twice: by Orvik's checker
(``orvik.checker``) and by a recomputation here from the benchmark file itself (read with
``vrplib``, or row by row for a Solomon file): every customer served once, every route's load
within the capacity, at most the fleet's routes, the windows kept, and the objective summed
anew. A result counts as feasible only when both agree; the value shown is the recomputed one.

The table gives per run the value, the gap to PyVRP at the same budget, the gap to the best
known value (the X set: LKH-3, best of its four published runs) and feasibility; then, per
budget, Orvik's mean and worst gap to PyVRP and the instances where OR-Tools is ahead of it.
Each run's record is kept under ``--out-dir``; ``--reuse`` takes the records of an earlier run
instead of running again (to run the peers once and Orvik after each change of it).

    python benchmarks/cvrp.py                           # X set, 10 s and 60 s
    python benchmarks/cvrp.py --budget 10 --instances X-n101-k25 X-n251-k28
    python benchmarks/cvrp.py --solomon --budget 10
"""

from __future__ import annotations

import argparse
import itertools
import json
import math
import os
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import compare  # noqa: E402 (found through the path set above)
import orvik_modules  # noqa: E402

X_INSTANCES = ("X-n101-k25", "X-n157-k13", "X-n200-k36", "X-n251-k28", "X-n303-k21")
SOLOMON = (("c101", 10), ("r101", 19))
SOLOMON_CUSTOMERS = 100
SOLOMON_CAPACITY = 200
SOLVERS = ("orvik", "pyvrp", "ortools")
# What each solver is in compare.py's worker.
WORKER = {"orvik": "orvik-package", "pyvrp": "pyvrp", "ortools": "ortools"}
# Recomputed and reported objectives closer than this (relative) agree.
AGREE = 1e-6


@dataclass
class Bench:
    """One instance: its JSON file for the solvers, the raw file it came from, its fleet."""

    name: str
    path: Path
    raw: Path
    kind: str  # "cvrp" or "solomon"
    vehicles: int
    best_known: float | None


# ---------------------------------------------------------------------------------------------
# Instances


def default_raw_dir() -> Path:
    """The benchmark files beside the checkout (shared/bench/raw in a folder above it)."""
    for parent in HERE.parents:
        if (parent / "shared" / "bench" / "raw").is_dir():
            return parent / "shared" / "bench" / "raw"
    return compare.DEFAULT_RAW


def x_benches(raw_dir: Path, work: Path, names: list[str]) -> list[Bench]:
    oio = orvik_modules.load("io")
    references = compare.load_references(HERE / "best_known.json")
    out = []
    for name in names:
        raw = raw_dir / "cvrp" / f"{name}.vrp"
        instance = oio.tsplib_instance(raw, None, oio.MIN_SUM, "tsplib")
        out.append(_write(oio, instance, work, raw, "cvrp", references))
    return out


def solomon_benches(raw_dir: Path, work: Path, names: list[str]) -> list[Bench]:
    oio = orvik_modules.load("io")
    out = []
    for name, vehicles in SOLOMON:
        if names and name not in names:
            continue
        raw = raw_dir / f"{name}.txt"
        instance = oio.solomon_instance(raw, vehicles, oio.MIN_SUM, SOLOMON_CUSTOMERS,
                                        capacity=SOLOMON_CAPACITY)
        instance["name"] = f"{name}.{SOLOMON_CUSTOMERS}"
        out.append(_write(oio, instance, work, raw, "solomon", []))
    return out


def _write(oio: Any, instance: dict[str, Any], work: Path, raw: Path, kind: str,
           references: list[dict[str, Any]]) -> Bench:
    # The raw module's results (the peers') are checked with the rules of loads as well.
    instance["options"]["enforce_constraints"] = True
    work.mkdir(parents=True, exist_ok=True)
    path = work / f"{instance['name']}.json"
    oio.write_instance(instance, path)
    best = compare.reference_for(compare.case_of(path, instance), references)
    return Bench(str(instance["name"]), path, raw, kind, len(instance["agents"]), best)


# ---------------------------------------------------------------------------------------------
# The independent recomputation


@dataclass
class Raw:
    """A benchmark file's own numbers, indexed by node number (the depot is 0)."""

    xy: list[tuple[float, float]]
    demand: list[float]
    capacity: float
    ready: list[float] | None = None
    due: list[float] | None = None
    service: list[float] | None = None


def read_raw(bench: Bench) -> Raw:
    if bench.kind == "cvrp":
        import vrplib

        data = vrplib.read_instance(bench.raw, compute_edge_weights=False)
        return Raw([(float(x), float(y)) for x, y in data["node_coord"]],
                   [float(d) for d in data["demand"]], float(data["capacity"]))
    rows = [[float(p) for p in line.split()] for line in bench.raw.read_text().splitlines()
            if line.split()]
    rows = [r for r in rows if len(r) == 7][: SOLOMON_CUSTOMERS + 1]
    return Raw([(r[1], r[2]) for r in rows], [r[3] for r in rows], float(SOLOMON_CAPACITY),
               [r[4] for r in rows], [r[5] for r in rows], [r[6] for r in rows])


def _distance(raw: Raw, kind: str, a: int, b: int) -> float:
    dx = raw.xy[a][0] - raw.xy[b][0]
    dy = raw.xy[a][1] - raw.xy[b][1]
    if kind == "cvrp":
        return float(int(math.sqrt(dx * dx + dy * dy) + 0.5))
    return math.floor(10.0 * math.sqrt(dx * dx + dy * dy) + 1e-9) / 10.0


def recompute(bench: Bench, raw: Raw, instance: dict[str, Any],
              result: dict[str, Any]) -> tuple[float | None, list[str], int]:
    """The objective of a result recomputed from the raw file, the faults found, and the
    number of routes used."""
    node_number = [int(node["id"]) for node in instance["nodes"]]
    faults: list[str] = []
    seen = [0] * len(raw.xy)
    total = 0.0
    used = 0
    for k, route in enumerate(result.get("routes") or []):
        stops = [node_number[p] for p in route.get("path") or []]
        if len(stops) <= 1 or all(v == 0 for v in stops):
            continue
        used += 1
        if stops[0] != 0 or stops[-1] != 0:
            faults.append(f"route {k} does not start and end at the depot")
        load = 0.0
        time = 0.0
        for a, b in itertools.pairwise(stops):
            if b != 0:
                seen[b] += 1
                load += raw.demand[b]
            if bench.kind == "cvrp":
                time += _distance(raw, bench.kind, a, b)
                continue
            assert raw.service is not None and raw.ready is not None and raw.due is not None
            time += (raw.service[a] if a != 0 else 0.0) + _distance(raw, bench.kind, a, b)
            time = max(time, raw.ready[b])
            if time > raw.due[b] + 1e-9:
                faults.append(f"route {k} reaches {b} at {time:g}, after its window closes")
        if load > raw.capacity + 1e-9:
            faults.append(f"route {k} carries {load:g} > capacity {raw.capacity:g}")
        total += time
    missing = [v for v in range(1, len(raw.xy)) if seen[v] != 1]
    if missing:
        faults.append(f"{len(missing)} customers not served exactly once (first {missing[0]})")
    if used > bench.vehicles:
        faults.append(f"{used} routes for {bench.vehicles} vehicles")
    return (None if not result.get("routes") else total), faults, used


# ---------------------------------------------------------------------------------------------
# Runs and rows


def run(bench: Bench, solver: str, budget: float, seed: int, out_dir: Path,
        reuse: bool) -> dict[str, Any]:
    """One run's record (compare.run_child's), kept under out_dir/records."""
    records = out_dir / "records"
    records.mkdir(parents=True, exist_ok=True)
    keep = records / f"{bench.name}.{solver}.{budget:g}s.json"
    if reuse and keep.exists():
        with open(keep, encoding="utf-8") as handle:
            return json.load(handle)
    case = compare.case_of(bench.path)
    log_dir = out_dir / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    record = compare.run_child(WORKER[solver], case, budget, compare.child_env(None), log_dir,
                               ("--seed", str(seed)))
    record["load"] = os.getloadavg()[0]
    with open(keep, "w", encoding="utf-8") as handle:
        json.dump(record, handle)
    return record


def make_row(bench: Bench, raw: Raw, solver: str, budget: float,
             record: dict[str, Any]) -> dict[str, Any]:
    checker = orvik_modules.load("checker")
    row: dict[str, Any] = {"instance": bench.name, "solver": solver, "budget": budget,
                           "value": None, "routes": "", "feasible": "no", "note": "",
                           "load": record.get("load")}
    result = record.get("result")
    if result is None:
        row["note"] = record.get("error") or "no result"
        return row
    if result.get("status") == "skipped":
        row["feasible"] = "-"
        row["note"] = str(result.get("statistics", {}).get("reason", "skipped"))
        return row
    with open(bench.path, encoding="utf-8") as handle:
        instance = json.load(handle)
    report = checker.check(instance, result)
    value, faults, used = recompute(bench, raw, instance, result)
    row["routes"] = used
    if value is not None and report.ok and not faults:
        reported = report.objective_value
        if abs(reported - value) > AGREE * max(1.0, abs(value)):
            faults.append(f"the checker's objective {reported:g} is not the recomputed {value:g}")
    if value is not None:
        row["value"] = value
    if report.ok and not faults and value is not None:
        row["feasible"] = "yes"
    else:
        row["note"] = (report.violations[0] if not report.ok else "; ".join(faults))[:100]
    return row


def gap(value: float | None, reference: float | None) -> float | None:
    if value is None or reference is None or reference <= 0:
        return None
    return 100.0 * (value - reference) / reference


def _pct(x: float | None) -> str:
    return "" if x is None else f"{x:+.2f}"


def print_table(rows: list[dict[str, Any]], benches: list[Bench]) -> None:
    best = {b.name: b.best_known for b in benches}
    pyvrp = {(r["instance"], r["budget"]): r["value"] for r in rows
             if r["solver"] == "pyvrp" and r["feasible"] == "yes"}
    head = ("instance", "budget_s", "solver", "value", "gap_pyvrp_%", "gap_best_%", "routes",
            "feasible", "load", "note")
    table = [head]
    for r in rows:
        value = r["value"] if r["feasible"] == "yes" else None
        table.append((
            r["instance"], f"{r['budget']:g}", r["solver"],
            "" if r["value"] is None else f"{r['value']:.1f}",
            _pct(gap(value, pyvrp.get((r["instance"], r["budget"])))),
            _pct(gap(value, best.get(r["instance"]))), str(r["routes"]), r["feasible"],
            "" if r["load"] is None else f"{r['load']:.2f}", r["note"],
        ))
    widths = [max(len(str(line[c])) for line in table) for c in range(len(head))]
    for line in table:
        print("  ".join(str(x).ljust(w) for x, w in zip(line, widths, strict=True)).rstrip())


def summarize(rows: list[dict[str, Any]]) -> None:
    def values(solver: str, budget: float) -> dict[str, float]:
        return {r["instance"]: r["value"] for r in rows if r["solver"] == solver
                and r["budget"] == budget and r["feasible"] == "yes"}

    for budget in sorted({r["budget"] for r in rows}):
        orvik = values("orvik", budget)
        print(f"\n{budget:g} s:")
        for peer in ("pyvrp", "ortools"):
            theirs = values(peer, budget)
            both = [i for i in orvik if i in theirs]
            if not both:
                continue
            gaps = {i: gap(orvik[i], theirs[i]) for i in both}
            worst = max(both, key=lambda i: gaps[i])
            behind = [f"{i} ({gaps[i]:+.2f} %)" for i in both if orvik[i] > theirs[i] + 1e-9]
            print(f"  Orvik against {peer}: mean gap {sum(gaps.values()) / len(both):+.3f} %, "
                  f"worst {gaps[worst]:+.2f} % ({worst}), over {len(both)} instances; behind on "
                  f"{len(behind)}{': ' + ', '.join(behind) if behind else ''}")
        unsolved = sorted({r["instance"] for r in rows if r["budget"] == budget} - set(orvik))
        if unsolved:
            print(f"  Orvik without a checked solution: {', '.join(unsolved)}")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--budget", nargs="+", type=float, default=[10.0, 60.0],
                        help="wall-clock budgets in seconds (default: 10 60)")
    parser.add_argument("--solvers", nargs="+", choices=SOLVERS, default=list(SOLVERS))
    parser.add_argument("--instances", nargs="+", default=[],
                        help="instance names (default: the whole set)")
    parser.add_argument("--solomon", action="store_true",
                        help="c101 and r101 (100 customers) with capacity instead of the X set")
    parser.add_argument("--seed", type=int, default=0, help="seed of every solver")
    parser.add_argument("--raw-dir", type=Path, default=default_raw_dir(),
                        help="folder of the benchmark files (default: shared/bench/raw above "
                        "the checkout)")
    parser.add_argument("--out-dir", type=Path, default=HERE / "results" / "cvrp")
    parser.add_argument("--reuse", action="store_true",
                        help="take the records of an earlier run where there are any")
    args = parser.parse_args(argv)
    out_dir = args.out_dir.resolve() / ("solomon" if args.solomon else "x")
    print(f"machine load (1, 5, 15 min): {compare.machine_load()}; "
          f"seed {args.seed}; budgets: wall-clock time", flush=True)
    if args.solomon:
        benches = solomon_benches(args.raw_dir, out_dir / "instances", args.instances)
    else:
        unknown = [n for n in args.instances if n not in X_INSTANCES]
        if unknown:
            parser.error(f"unknown instances {unknown}; the set is {', '.join(X_INSTANCES)}")
        benches = x_benches(args.raw_dir, out_dir / "instances",
                            args.instances or list(X_INSTANCES))
    rows = []
    for bench in benches:
        raw = read_raw(bench)
        for budget in args.budget:
            for solver in args.solvers:
                record = run(bench, solver, budget, args.seed, out_dir, args.reuse)
                row = make_row(bench, raw, solver, budget, record)
                rows.append(row)
                shown = "-" if row["value"] is None else f"{row['value']:.1f}"
                print(f"  {bench.name} {solver} {budget:g}s: {shown} ({row['feasible']}) "
                      f"{row['note']}", flush=True)
    print()
    print_table(rows, benches)
    summarize(rows)
    print(f"\nmachine load (1, 5, 15 min) at the end: "
          f"{compare.machine_load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
