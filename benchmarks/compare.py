"""Compare Orvik with OR-Tools and PyVRP on benchmark instances under several time budgets.

Each (instance, solver, budget) runs in its own child process, one at a time. The child solves
and reports its result dictionary and its own peak resident memory; the parent checks the
routes with ``orvik.checker`` (the same doubles for every solver) and prints one row:
objective as checked, gap to the reference value where one is known, feasibility, solutions
found (Orvik: "anytime" entries; OR-Tools: improving solutions; PyVRP: best-cost
improvements), states per second (Orvik: n_generated / solve_time), peak resident memory of
the child and its solve time. The table is also written as CSV, with a PNG plot of the mean
gap against the budget per solver.

Defaults: the TSPLIB files eil51, berlin52, eil76 with 2, 3, 5 and 7 agents under MinMax
(exact distances), and the Solomon subsets c101 and r101 with 25, 50 and 100 customers and their
usual vehicle counts under MinSum (distances truncated to one decimal); budgets 1 s and 10 s.

Orvik runs with improvement (the search's first solution improved by local search and
ruin-and-recreate for the rest of the budget; --no-improve runs the search alone), seed 0
unless --seed says otherwise; the solver "orvik-search" is Orvik's search alone beside it. Every
solver's budget counts wall-clock time. Every row reports the wall-clock solve time, and the run
prints the machine's load.

``--shapes`` runs the shapes suite of ``shapes.py`` instead (48 instances of 30 to 200 sites:
several depots, agents ending at other agents' depots, open routes, types, windows, limits, both
objectives) with Orvik, its search alone and OR-Tools, and ends with a summary per budget: where
the improvement is worse than the search alone, the share of instances on which Orvik is at
least as good as OR-Tools, the mean gap to the better of the two, and the instances Orvik loses.

    python benchmarks/compare.py                       # the defaults
    python benchmarks/compare.py --budgets 1 --solvers ortools pyvrp
    python benchmarks/compare.py --instances my.json --budgets 5 30
    python benchmarks/compare.py --shapes              # the shapes suite at 1 s and 10 s
"""

from __future__ import annotations

import argparse
import csv
import json
import os
import resource
import subprocess
import sys
import tempfile
import time
import traceback
from dataclasses import dataclass
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import orvik_modules  # noqa: E402 (found through the path set above)
from instance_view import InstanceView  # noqa: E402

DEFAULT_RAW = ROOT.parent / "shared" / "bench" / "raw"
SOLVERS = ("orvik", "orvik-search", "ortools", "pyvrp")
SHAPES_SOLVERS = ("orvik", "orvik-search", "ortools")
# Two objective values closer than this are equal in the summaries.
TIE = 1e-6
TSPLIB_DEFAULTS = ("eil51", "berlin52", "eil76")
TSPLIB_AGENTS = (2, 3, 5, 7)
SOLOMON_DEFAULTS = (
    ("c101", 25, 3), ("r101", 25, 8), ("c101", 50, 5), ("r101", 50, 12), ("c101", 100, 10),
    ("r101", 100, 19),
)
COLUMNS = (
    "instance", "agents", "objective", "solver", "budget_s", "objective_value", "reference",
    "gap_pct", "feasible", "violations", "solutions_found", "states_per_s", "peak_rss_mib",
    "solve_time_s", "note",
)


@dataclass
class Case:
    path: Path
    name: str
    agents: int
    objective: str
    rounding: str | None
    scale: float


# ---------------------------------------------------------------------------------------------
# Instances and reference values


def default_cases(raw_dir: Path, work_dir: Path) -> list[Case]:
    """Convert the default benchmark files into JSON instances under work_dir."""
    oio = orvik_modules.load("io")
    min_max, min_sum = oio.MIN_MAX, oio.MIN_SUM
    work_dir.mkdir(parents=True, exist_ok=True)
    cases = []
    for name in TSPLIB_DEFAULTS:
        for m in TSPLIB_AGENTS:
            inst = oio.tsplib_instance(raw_dir / f"{name}.tsp", m, min_max, "exact")
            cases.append(_write_case(oio, inst, work_dir / f"{name}-m{m}-{min_max}.json"))
    for name, customers, m in SOLOMON_DEFAULTS:
        inst = oio.solomon_instance(raw_dir / f"{name}.txt", m, min_sum, customers)
        cases.append(_write_case(oio, inst, work_dir / f"{name}.{customers}-m{m}-{min_sum}.json"))
    return cases


def _write_case(oio: Any, instance: dict[str, Any], path: Path) -> Case:
    oio.write_instance(instance, path)
    return case_of(path, instance)


def case_of(path: Path, instance: dict[str, Any] | None = None) -> Case:
    if instance is None:
        with open(path, encoding="utf-8") as handle:
            instance = json.load(handle)
    view = InstanceView(instance)
    source = instance.get("source") or {}
    return Case(
        path,
        str(instance.get("name") or path.stem),
        len(view.agents),
        view.objective,
        source.get("rounding"),
        float(source.get("scale", 1.0)),
    )


def load_references(path: Path) -> list[dict[str, Any]]:
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)["values"]


def reference_for(case: Case, references: list[dict[str, Any]]) -> float | None:
    if case.scale != 1.0:
        return None
    for ref in references:
        if (
            ref["instance"] == case.name
            and ref["objective"] == case.objective
            and ref["rounding"] == case.rounding
            and ref["agents"] in (None, case.agents)
        ):
            return float(ref["value"])
    return None


# ---------------------------------------------------------------------------------------------
# Child process


def orvik_solve(instance_path: str, budget: float, improve: bool, seed: int) -> dict[str, Any]:
    """Orvik on one instance file, with or without improvement, on the wall clock."""
    import _orvik_core

    text = Path(instance_path).read_text(encoding="utf-8")
    return _orvik_core.solve_document(text, time_limit=float(budget), clock="wall",
                                      improve=improve, seed=seed)


def package_solve(instance_path: str, budget: float, seed: int) -> dict[str, Any]:
    """Orvik through its package (the product layer, which honours loads and orders), on the
    wall clock: the solution document."""
    import orvik

    return orvik.solve(instance_path, time_limit=float(budget), seed=seed).to_dict()


def worker(solver: str, instance_path: str, budget: float, out_path: str, improve: bool = True,
           seed: int = 0) -> int:
    """Solve one instance with one solver and write {result, peak_rss_kib, error} as JSON;
    the solver "orvik-package" is the ``orvik`` package (see package_solve)."""
    record: dict[str, Any] = {"result": None, "error": None}
    try:
        if solver in ("orvik", "orvik-search"):
            record["result"] = orvik_solve(instance_path, budget,
                                           improve and solver == "orvik", seed)
        elif solver == "orvik-package":
            record["result"] = package_solve(instance_path, budget, seed)
        else:
            with open(instance_path, encoding="utf-8") as handle:
                instance = json.load(handle)
            if solver == "ortools":
                import ortools_adapter

                record["result"] = ortools_adapter.solve(instance, budget)
            elif solver == "pyvrp":
                import pyvrp_adapter

                record["result"] = pyvrp_adapter.solve(instance, budget)
            else:
                raise ValueError(f"unknown solver {solver!r}")
    except BaseException as error:  # noqa: BLE001 (report anything, the parent decides)
        record["error"] = f"{type(error).__name__}: {error}"
        record["traceback"] = traceback.format_exc()
    record["peak_rss_kib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    with open(out_path, "w", encoding="utf-8") as handle:
        json.dump(record, handle)
    return 0


def run_child(solver: str, case: Case, budget: float, env: dict[str, str],
              log_dir: Path, orvik_args: tuple[str, ...] = ()) -> dict[str, Any]:
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "record.json"
        log = log_dir / f"{case.path.stem}.{solver}.{budget:g}s.log"
        started = time.perf_counter()
        try:
            with open(log, "w", encoding="utf-8") as handle:
                proc = subprocess.run(
                    [sys.executable, str(Path(__file__).resolve()), "--worker", solver,
                     str(case.path), str(budget), str(out), *orvik_args],
                    stdout=handle, stderr=subprocess.STDOUT, env=env, cwd=str(HERE),
                    timeout=budget * 5 + 120, check=False,
                )
            code = proc.returncode
        except subprocess.TimeoutExpired:
            return {"result": None, "error": "child timed out", "peak_rss_kib": None}
        wall = time.perf_counter() - started
        if not out.exists():
            return {"result": None, "peak_rss_kib": None,
                    "error": f"child exited with status {code} without a result (see {log})"}
        with open(out, encoding="utf-8") as handle:
            record = json.load(handle)
        record["wall"] = wall
        return record


def child_env(core_path: Path | None) -> dict[str, str]:
    """The environment of a child: the benchmarks and the package source (and the folder of a
    given core first) on PYTHONPATH."""
    env = dict(os.environ)
    paths = [str(HERE), str(ROOT / "python")]
    if core_path is not None:
        paths.insert(0, str(core_path.resolve()))
    if env.get("PYTHONPATH"):
        paths.append(env["PYTHONPATH"])
    env["PYTHONPATH"] = os.pathsep.join(paths)
    return env


def orvik_available(env: dict[str, str]) -> str | None:
    """None when the child can import the core's JSON entry point, else the reason."""
    probe = subprocess.run(
        [sys.executable, "-c", "import _orvik_core; _orvik_core.solve_json_file"],
        capture_output=True, text=True, env=env, check=False,
    )
    if probe.returncode == 0:
        return None
    lines = (probe.stderr or "").strip().splitlines()
    return lines[-1] if lines else f"exit status {probe.returncode}"


# ---------------------------------------------------------------------------------------------
# Rows, table, plot


def make_row(case: Case, solver: str, budget: float, record: dict[str, Any],
             instance: dict[str, Any], reference: float | None) -> dict[str, Any]:
    checker = orvik_modules.load("checker")
    row: dict[str, Any] = dict.fromkeys(COLUMNS, "")
    row.update(instance=case.name, agents=case.agents, objective=case.objective, solver=solver,
               budget_s=budget, reference="" if reference is None else reference)
    rss = record.get("peak_rss_kib")
    row["peak_rss_mib"] = "" if rss is None else round(rss / 1024.0, 1)
    result = record.get("result")
    if result is None:
        row["feasible"] = "no"
        row["note"] = record.get("error") or "no result"
        return row
    if result.get("status") == "skipped":
        row["feasible"] = "-"
        row["note"] = "skipped: " + str(result["statistics"].get("reason", ""))
        return row
    report = checker.check(instance, result)
    stats = result.get("statistics", {})
    row["feasible"] = "yes" if report.ok else "no"
    row["violations"] = len(report.violations)
    if result.get("status") in checker.SUCCESS_STATUSES:
        value = report.objective_value
        row["objective_value"] = round(value, 4)
        if reference is not None and reference > 0:
            row["gap_pct"] = round(100.0 * (value - reference) / reference, 3)
    solve_time = float(stats.get("solve_time", 0.0) or 0.0)
    row["solve_time_s"] = round(solve_time, 3)
    if solver.startswith("orvik"):
        row["solutions_found"] = len(result.get("anytime", result.get("history", [])))
        if solve_time > 0:
            row["states_per_s"] = round(stats.get("n_generated", 0) / solve_time)
    else:
        row["solutions_found"] = stats.get("solutions_found", "")
    if not report.ok:
        row["note"] = report.violations[0][:120]
    elif stats.get("reason"):
        row["note"] = str(stats["reason"])
    return row


def print_table(rows: list[dict[str, Any]]) -> None:
    shown = ("instance", "agents", "objective", "solver", "budget_s", "objective_value",
             "reference", "gap_pct", "feasible", "solutions_found", "states_per_s",
             "peak_rss_mib", "solve_time_s", "note")
    widths = {c: max(len(c), *(len(str(r[c])) for r in rows)) if rows else len(c) for c in shown}
    widths["note"] = min(widths["note"], 60)
    print("  ".join(c.ljust(widths[c]) for c in shown))
    for r in rows:
        print("  ".join(str(r[c])[: widths[c]].ljust(widths[c]) for c in shown))


def _values(rows: list[dict[str, Any]], solver: str, budget: float) -> dict[str, float]:
    """Checked objective values of one solver at one budget, by instance (feasible runs only)."""
    return {r["instance"]: float(r["objective_value"]) for r in rows
            if r["solver"] == solver and r["budget_s"] == budget and r["feasible"] == "yes"
            and r["objective_value"] != ""}


def summarize(rows: list[dict[str, Any]], describe: dict[str, str] | None = None) -> None:
    """Per budget: Orvik against its search alone and against OR-Tools, where both have rows."""
    describe = describe or {}
    for budget in sorted({r["budget_s"] for r in rows}):
        orvik = _values(rows, "orvik", budget)
        instances = sorted({r["instance"] for r in rows if r["budget_s"] == budget})
        print(f"\n{budget:g} s: Orvik solved {len(orvik)} of {len(instances)} instances")
        alone = _values(rows, "orvik-search", budget)
        if any(r["solver"] == "orvik-search" for r in rows):
            both = [i for i in orvik if i in alone]
            worse = [i for i in both if orvik[i] > alone[i] + TIE]
            unsolved = [i for i in alone if i not in orvik]
            print(f"  improvement against the search alone: worse on {len(worse)} of {len(both)}"
                  f"{', ' + ', '.join(worse) if worse else ''}; the search alone solved "
                  f"{len(alone)}, the improvement missed {len(unsolved)} of those")
        peer = _values(rows, "ortools", budget)
        if any(r["solver"] == "ortools" for r in rows):
            both = [i for i in instances if i in orvik or i in peer]
            ahead = [i for i in both if i in orvik and (i not in peer or orvik[i] <= peer[i] + TIE)]
            gaps = [100.0 * (orvik[i] - min(orvik[i], peer[i])) / min(orvik[i], peer[i])
                    for i in both if i in orvik and i in peer and min(orvik[i], peer[i]) > 0]
            share = 100.0 * len(ahead) / len(both) if both else 0.0
            mean = sum(gaps) / len(gaps) if gaps else 0.0
            print(f"  Orvik at least as good as OR-Tools on {len(ahead)} of {len(both)} "
                  f"({share:.1f} %); mean gap to the better of the two {mean:.3f} % "
                  f"(over {len(gaps)} solved by both); OR-Tools solved {len(peer)}")
            for i in both:
                if i not in ahead:
                    mine = f"{orvik[i]:.2f}" if i in orvik else "none"
                    theirs = f"{peer[i]:.2f}" if i in peer else "none"
                    gap = (f" (+{100.0 * (orvik[i] - peer[i]) / peer[i]:.2f} %)"
                           if i in orvik and i in peer else "")
                    print(f"    behind on {i}: {mine} against {theirs}{gap}"
                          f"{'; ' + describe[i] if i in describe else ''}")


def machine_load() -> str:
    """The 1, 5 and 15 minute load averages, as every benchmark prints them."""
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def write_csv(rows: list[dict[str, Any]], path: Path,
              columns: tuple[str, ...] | list[str] = COLUMNS) -> None:
    with open(path, "w", newline="", encoding="utf-8") as handle:
        writer = csv.DictWriter(handle, fieldnames=columns, extrasaction="ignore")
        writer.writeheader()
        writer.writerows(rows)


def plot(rows: list[dict[str, Any]], path: Path) -> None:
    """Mean gap (feasible runs with a reference value) against the budget, per solver, with
    one panel per objective."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    objectives = sorted({r["objective"] for r in rows if r["gap_pct"] != ""})
    if not objectives:
        print("no gaps to plot")
        return
    fig, axes = plt.subplots(1, len(objectives), figsize=(6 * len(objectives), 4.2),
                             squeeze=False)
    for ax, objective in zip(axes[0], objectives):
        for solver in SOLVERS:
            points: dict[float, list[float]] = {}
            for r in rows:
                if (r["objective"] == objective and r["solver"] == solver
                        and r["gap_pct"] != "" and r["feasible"] == "yes"):
                    points.setdefault(float(r["budget_s"]), []).append(float(r["gap_pct"]))
            if points:
                budgets = sorted(points)
                means = [sum(points[b]) / len(points[b]) for b in budgets]
                counts = [len(points[b]) for b in budgets]
                ax.plot(budgets, means, marker="o", label=f"{solver} (n={max(counts)})")
        ax.set_xscale("log")
        ax.axhline(0.0, color="grey", linewidth=0.8)
        ax.set_xlabel("time budget (s)")
        ax.set_ylabel("mean gap to reference (%)")
        ax.set_title(objective)
        ax.legend()
        ax.grid(True, which="both", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)


# ---------------------------------------------------------------------------------------------


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "--worker":
        solver, instance_path, budget, out_path = argv[1:5]
        improve = "--no-improve" not in argv[5:]
        seed = int(argv[argv.index("--seed") + 1]) if "--seed" in argv[5:] else 0
        return worker(solver, instance_path, float(budget), out_path, improve, seed)

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--instances", nargs="+", type=Path,
                        help="JSON instance files (default: the converted benchmark set)")
    parser.add_argument("--budgets", nargs="+", type=float, default=[1.0, 10.0],
                        help="time budgets in seconds (default: 1 10)")
    parser.add_argument("--solvers", nargs="+", choices=SOLVERS,
                        help="default: orvik ortools pyvrp; with --shapes: "
                        + " ".join(SHAPES_SOLVERS))
    parser.add_argument("--shapes", nargs="?", type=int, const=0, metavar="COUNT",
                        help="run the shapes suite of shapes.py (COUNT instances, default 48)")
    parser.add_argument("--raw-dir", type=Path, default=DEFAULT_RAW,
                        help=f"folder of the benchmark files (default: {DEFAULT_RAW})")
    parser.add_argument("--out-dir", type=Path, default=HERE / "results",
                        help="where instances, logs, the CSV and the plot go")
    parser.add_argument("--core-path", type=Path,
                        help="folder holding the _orvik_core extension, put on PYTHONPATH")
    parser.add_argument("--references", type=Path, default=HERE / "best_known.json")
    parser.add_argument("--no-improve", dest="improve", action="store_false",
                        help="run Orvik's search alone, without the improvement engine")
    parser.add_argument("--seed", type=int, default=0, help="seed of Orvik's improvement")
    args = parser.parse_args(argv)
    orvik_args = ("--seed", str(args.seed)) + (() if args.improve else ("--no-improve",))
    print(f"machine load (1, 5, 15 min): {machine_load()}; "
          f"Orvik {'with' if args.improve else 'without'} improvement, seed {args.seed}; "
          "budgets: wall-clock time", flush=True)

    out_dir: Path = args.out_dir.resolve()  # the children run in benchmarks/
    log_dir = out_dir / "logs"
    log_dir.mkdir(parents=True, exist_ok=True)
    if args.solvers is None:
        args.solvers = list(SHAPES_SOLVERS if args.shapes is not None
                            else ("orvik", "ortools", "pyvrp"))
    describe: dict[str, str] = {}
    if args.shapes is not None:
        import shapes

        suite = shapes.suite(args.shapes or shapes.DEFAULT_COUNT)
        cases = [case_of(p, inst) for p, inst in
                 zip(shapes.write_suite(out_dir / "shapes", suite), suite, strict=True)]
        describe = {inst["name"]: shapes.describe(inst) for inst in suite}
    elif args.instances:
        cases = [case_of(p.resolve()) for p in args.instances]
    else:
        cases = default_cases(args.raw_dir, out_dir / "instances")
    references = load_references(args.references)

    env = child_env(args.core_path)
    orvik_missing = orvik_available(env) if "orvik" in args.solvers else None
    if orvik_missing:
        print(f"orvik: the core is not available ({orvik_missing}); its rows are marked pending")

    pyvrp_adapter = __import__("pyvrp_adapter")
    rows = []
    for case in cases:
        with open(case.path, encoding="utf-8") as handle:
            instance = json.load(handle)
        reference = reference_for(case, references)
        for solver in args.solvers:
            for budget in args.budgets:
                if solver.startswith("orvik") and orvik_missing:
                    record = {"result": None, "error": "pending: core not available"}
                elif solver == "pyvrp" and (
                    reason := pyvrp_adapter.unsupported_reason(InstanceView(instance))
                ):
                    record = {"result": {"status": "skipped", "statistics": {"reason": reason}}}
                else:
                    record = run_child(solver, case, budget, env, log_dir, orvik_args)
                row = make_row(case, solver, budget, record, instance, reference)
                rows.append(row)
                print(f"  {case.name} m={case.agents} {solver} {budget:g}s: "
                      f"{row['objective_value'] or '-'} ({row['feasible']}) {row['note']}",
                      flush=True)
    print()
    print_table(rows)
    summarize(rows, describe)
    stem = "compare-shapes" if args.shapes is not None else "compare"
    write_csv(rows, out_dir / f"{stem}.csv")
    plot(rows, out_dir / f"{stem}.png")
    print(f"\nmachine load (1, 5, 15 min) at the end: "
          f"{machine_load()}")
    print(f"wrote {out_dir / f'{stem}.csv'} and {out_dir / f'{stem}.png'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
