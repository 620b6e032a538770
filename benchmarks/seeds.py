"""Run Orvik with several seeds per instance and report the spread of its gaps.

Each (instance, seed, budget) runs in its own child process, one at a time, as
``compare.py`` runs them, and every result is checked with the independent checker. The gap of
a run is taken to the instance's best-known value (``best_known.json``) where there is one, and
otherwise to OR-Tools' value at the same budget (with ``--peers ortools``; OR-Tools then runs
once per instance and budget). Per instance and budget the script prints the mean, best and
worst gap and the standard deviation across seeds, then the same over all instances, and
writes every run to ``seeds-<tag>.csv`` and the summary to ``seeds-<tag>-summary.csv`` under
the output folder.

Instance sets:

- ``mtsplib`` (default): eil51, berlin52 and eil76 with 2, 3, 5 and 7 agents, MinMax, exact
  distances, as ``compare.py`` converts them;
- ``uniform``: seeded uniform-random Euclidean instances of 100, 150 and 200 cities in a
  4000 x 2000 rectangle (as the kroA/kroB instances are drawn), the depot first, with 3 and 5
  agents under MinMax; they have no best-known values, so run them with ``--peers ortools``;
- ``--instances``: JSON instance files.

    python benchmarks/seeds.py                                   # mtsplib, 5 seeds, 10 s
    python benchmarks/seeds.py --budgets 1 10 --seeds 3
    python benchmarks/seeds.py --set uniform --peers ortools --tag uniform
"""

from __future__ import annotations

import argparse
import json
import random
import statistics
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import compare  # noqa: E402 (found through the path set above)
import orvik_modules  # noqa: E402

UNIFORM_SIZES = (100, 150, 200)
UNIFORM_AGENTS = (3, 5)
RUN_COLUMNS = ("instance", "agents", "budget_s", "solver", "seed", "objective_value",
               "reference", "reference_kind", "gap_pct", "feasible", "solve_time_s", "note")
SUMMARY_COLUMNS = ("instance", "agents", "budget_s", "runs", "feasible_runs", "reference",
                   "reference_kind", "mean_gap_pct", "best_gap_pct", "worst_gap_pct",
                   "stdev_gap_pct")


def write_uniform_tsplib(path: Path, cities: int, seed: int) -> None:
    """A TSPLIB file of `cities` points drawn uniformly from a 4000 x 2000 rectangle."""
    rng = random.Random(seed * 100003 + cities)
    lines = [f"NAME : uniform{cities}", "TYPE : TSP",
             f"COMMENT : seeded uniform-random points (seed {seed})", f"DIMENSION : {cities}",
             "EDGE_WEIGHT_TYPE : EUC_2D", "NODE_COORD_SECTION"]
    for i in range(cities):
        lines.append(f"{i + 1} {rng.randint(0, 3999)} {rng.randint(0, 1999)}")
    lines.append("EOF")
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def uniform_cases(work_dir: Path, seed: int) -> list[compare.Case]:
    oio = orvik_modules.load("io")
    work_dir.mkdir(parents=True, exist_ok=True)
    cases = []
    for cities in UNIFORM_SIZES:
        tsp = work_dir / f"uniform{cities}.tsp"
        write_uniform_tsplib(tsp, cities, seed)
        for m in UNIFORM_AGENTS:
            inst = oio.tsplib_instance(tsp, m, oio.MIN_MAX, "exact")
            path = work_dir / f"uniform{cities}-m{m}-{oio.MIN_MAX}.json"
            oio.write_instance(inst, path)
            cases.append(compare.case_of(path, inst))
    return cases


def mtsplib_cases(raw_dir: Path, work_dir: Path) -> list[compare.Case]:
    oio = orvik_modules.load("io")
    work_dir.mkdir(parents=True, exist_ok=True)
    cases = []
    for name in compare.TSPLIB_DEFAULTS:
        for m in compare.TSPLIB_AGENTS:
            inst = oio.tsplib_instance(raw_dir / f"{name}.tsp", m, oio.MIN_MAX, "exact")
            path = work_dir / f"{name}-m{m}-{oio.MIN_MAX}.json"
            oio.write_instance(inst, path)
            cases.append(compare.case_of(path, inst))
    return cases


def gap(value: Any, reference: float | None) -> float | None:
    if value in ("", None) or reference is None or reference <= 0:
        return None
    return 100.0 * (float(value) - reference) / reference


def summarise(runs: list[dict[str, Any]]) -> dict[str, Any]:
    first = runs[0]
    gaps = [r["gap_pct"] for r in runs if r["gap_pct"] != ""]
    row: dict[str, Any] = {
        "instance": first["instance"], "agents": first["agents"], "budget_s": first["budget_s"],
        "runs": len(runs), "feasible_runs": sum(r["feasible"] == "yes" for r in runs),
        "reference": first["reference"], "reference_kind": first["reference_kind"],
    }
    for column in SUMMARY_COLUMNS[7:]:
        row[column] = ""
    if gaps:
        row["mean_gap_pct"] = round(statistics.fmean(gaps), 3)
        row["best_gap_pct"] = round(min(gaps), 3)
        row["worst_gap_pct"] = round(max(gaps), 3)
        row["stdev_gap_pct"] = round(statistics.pstdev(gaps), 3)
    return row


def print_summary(rows: list[dict[str, Any]]) -> None:
    shown = ("instance", "agents", "budget_s", "feasible_runs", "reference", "reference_kind",
             "mean_gap_pct", "best_gap_pct", "worst_gap_pct", "stdev_gap_pct")
    widths = {c: max(len(c), *(len(str(r[c])) for r in rows)) for c in shown}
    print("  ".join(c.ljust(widths[c]) for c in shown))
    for r in rows:
        print("  ".join(str(r[c]).ljust(widths[c]) for c in shown))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--set", choices=("mtsplib", "uniform"), default="mtsplib",
                        help="the instance set (ignored with --instances)")
    parser.add_argument("--instances", nargs="+", type=Path, help="JSON instance files")
    parser.add_argument("--seeds", type=int, default=5, help="seeds 0 .. N-1 (default 5)")
    parser.add_argument("--budgets", nargs="+", type=float, default=[10.0],
                        help="time budgets in seconds (default: 10)")
    parser.add_argument("--peers", nargs="*", choices=("ortools",), default=[],
                        help="run OR-Tools once per instance and budget; its value is the "
                        "reference where no best-known value exists")
    parser.add_argument("--uniform-seed", type=int, default=1,
                        help="seed of the uniform-random instances (default 1)")
    parser.add_argument("--raw-dir", type=Path, default=compare.DEFAULT_RAW,
                        help=f"folder of the TSPLIB files (default: {compare.DEFAULT_RAW})")
    parser.add_argument("--out-dir", type=Path, default=HERE / "results")
    parser.add_argument("--tag", default="", help="suffix of the CSV names (default: the set)")
    parser.add_argument("--core-path", type=Path,
                        help="folder holding the _orvik_core extension, put on PYTHONPATH")
    parser.add_argument("--references", type=Path, default=HERE / "best_known.json")
    args = parser.parse_args(argv)
    if args.seeds < 1:
        parser.error("--seeds must be at least 1")

    out_dir: Path = args.out_dir.resolve()  # the children run in benchmarks/
    log_dir = out_dir / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    if args.instances:
        cases = [compare.case_of(p.resolve()) for p in args.instances]
        tag = args.tag or "instances"
    elif args.set == "uniform":
        cases = uniform_cases(out_dir / "instances", args.uniform_seed)
        tag = args.tag or "uniform"
    else:
        cases = mtsplib_cases(args.raw_dir, out_dir / "instances")
        tag = args.tag or "mtsplib"
    references = compare.load_references(args.references)

    env = compare.child_env(args.core_path)
    missing = compare.orvik_available(env)
    if missing:
        print(f"the core is not available ({missing})", file=sys.stderr)
        return 1
    print(f"machine load (1, 5, 15 min): {compare.machine_load()}; {args.seeds} seeds; budgets "
          f"{' '.join(f'{b:g}' for b in args.budgets)} s (wall clock)", flush=True)

    runs: list[dict[str, Any]] = []
    summary: list[dict[str, Any]] = []
    for case in cases:
        with open(case.path, encoding="utf-8") as handle:
            instance = json.load(handle)
        known = compare.reference_for(case, references)
        for budget in args.budgets:
            reference, kind = known, "best known" if known is not None else ""
            for peer in args.peers:
                record = compare.run_child(peer, case, budget, env, log_dir)
                row = compare.make_row(case, peer, budget, record, instance, None)
                value = row["objective_value"] if row["feasible"] == "yes" else ""
                runs.append({**row, "seed": "", "reference_kind": "",
                             "gap_pct": ""})
                if reference is None and value != "":
                    reference, kind = float(value), f"{peer} at {budget:g} s"
                print(f"  {case.name} m={case.agents} {budget:g}s {peer}: {value or '-'}",
                      flush=True)
            these = []
            for seed in range(args.seeds):
                record = compare.run_child("orvik", case, budget, env, log_dir,
                                           ("--seed", str(seed)))
                row = compare.make_row(case, "orvik", budget, record, instance, None)
                found = row["feasible"] == "yes" and row["objective_value"] != ""
                g = gap(row["objective_value"], reference) if found else None
                run = {**row, "seed": seed, "reference": "" if reference is None else reference,
                       "reference_kind": kind, "gap_pct": "" if g is None else round(g, 3)}
                runs.append(run)
                these.append(run)
                print(f"  {case.name} m={case.agents} {budget:g}s seed {seed}: "
                      f"{row['objective_value'] or '-'} gap {run['gap_pct']} "
                      f"({row['feasible']}) {row['note']}", flush=True)
            summary.append(summarise(these))

    for budget in args.budgets:
        rows = [r for r in summary if r["budget_s"] == budget]
        gaps = [r["gap_pct"] for r in runs
                if r["solver"] == "orvik" and r["budget_s"] == budget and r["gap_pct"] != ""]
        overall = dict.fromkeys(SUMMARY_COLUMNS, "")
        overall.update(instance="all", agents="", budget_s=budget,
                       runs=sum(r["runs"] for r in rows),
                       feasible_runs=sum(r["feasible_runs"] for r in rows))
        if gaps:
            overall.update(mean_gap_pct=round(statistics.fmean(gaps), 3),
                           best_gap_pct=round(min(gaps), 3), worst_gap_pct=round(max(gaps), 3),
                           stdev_gap_pct=round(statistics.pstdev(gaps), 3))
        summary.append(overall)
    print()
    print_summary(summary)
    compare.write_csv(runs, out_dir / f"seeds-{tag}.csv", RUN_COLUMNS)
    compare.write_csv(summary, out_dir / f"seeds-{tag}-summary.csv", SUMMARY_COLUMNS)
    print(f"\nmachine load (1, 5, 15 min) at the end: {compare.machine_load()}")
    print(f"wrote {out_dir / f'seeds-{tag}.csv'} and {out_dir / f'seeds-{tag}-summary.csv'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
