"""Solve the generated large instance and plot Orvik's improvement curve.

Writes the seeded instance of ``generate_large_instance.py`` (1,000 points, 10 agents of two
types, windows on 20 % of the points; reused when the file exists), solves it with Orvik (with
improvement) and, if asked, with the peers, each in its own child process as
``compare.py`` runs them, checks every result with the independent checker, and prints one row
per solver: objective as checked, feasibility, wall-clock solve time, when Orvik's first and
last solutions came, its number of solutions and the child's peak resident memory. The plot
shows Orvik's objective against wall-clock time (its "anytime" history) with the peers' final
values as markers.

    python benchmarks/large_instance.py                         # 1,000 points, 10 s
    python benchmarks/large_instance.py --points 2000 --budget 30 --peers ortools
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from pathlib import Path
from typing import Any

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import compare  # noqa: E402 (found through the path set above)
import generate_large_instance  # noqa: E402


def plot(path: Path, instance: dict[str, Any], rows: list[dict[str, Any]],
         records: dict[str, dict[str, Any]], objective: str, budget: float) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(7, 4.2))
    key = "max_cost" if objective == "min_max" else "sum_cost"
    history = (records.get("orvik", {}).get("result") or {}).get("anytime", [])
    if history:
        times = [entry["time"] for entry in history]
        values = [entry[key] for entry in history]
        # The last value holds to the end of the run.
        ax.step([*times, max(budget, times[-1])], [*values, values[-1]], where="post",
                marker=".", markevery=list(range(len(times))), label="orvik (improvement)")
    for row in rows:
        # A peer's final value, where it is a solution.
        if row["solver"] != "orvik" and row["objective_value"] != "" and row["feasible"] == "yes":
            ax.scatter([float(row["solve_time_s"])], [float(row["objective_value"])], marker="x",
                       s=60, label=f"{row['solver']} (final)")
    ax.set_xlabel("wall-clock time (s)")
    ax.set_ylabel(f"objective ({objective})")
    ax.set_title(f"{instance.get('name', 'instance')}: {len(instance['nodes'])} points, "
                 f"{len(instance['agents'])} agents")
    ax.set_xlim(0.0, budget * 1.1)
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--points", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1, help="seed of the generated instance")
    parser.add_argument("--objective", choices=("min_max", "min_sum"), default="min_max")
    parser.add_argument("--budget", type=float, default=10.0, help="seconds per solver")
    parser.add_argument("--peers", nargs="*", choices=("ortools", "pyvrp"), default=[],
                        help="peers to run as well (PyVRP only with min_sum)")
    parser.add_argument("--out-dir", type=Path, default=HERE / "results")
    parser.add_argument("--core-path", type=Path,
                        help="folder holding the _orvik_core extension, put on PYTHONPATH")
    args = parser.parse_args(argv)

    out_dir: Path = args.out_dir.resolve()  # the children run in benchmarks/
    (out_dir / "logs").mkdir(parents=True, exist_ok=True)
    name = f"generated-{args.points}-s{args.seed}-{args.objective}"
    path = out_dir / "instances" / f"{name}.json"
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists():
        instance = generate_large_instance.generate(args.points, objective=args.objective,
                                                    seed=args.seed)
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(instance, handle, separators=(",", ":"))
    with open(path, encoding="utf-8") as handle:
        instance = json.load(handle)
    case = compare.case_of(path, instance)

    env = dict(os.environ)
    paths = [str(HERE), str(ROOT / "python")]
    if args.core_path is not None:
        paths.insert(0, str(args.core_path.resolve()))
    env["PYTHONPATH"] = os.pathsep.join(paths + ([env["PYTHONPATH"]] if env.get("PYTHONPATH")
                                                 else []))
    print(f"machine load (1, 5, 15 min): {compare.machine_load()}")
    rows = []
    records: dict[str, dict[str, Any]] = {}
    for solver in ["orvik", *args.peers]:
        record = compare.run_child(solver, case, args.budget, env, out_dir / "logs")
        records[solver] = record
        row = compare.make_row(case, solver, args.budget, record, instance, None)
        result = record.get("result") or {}
        history = result.get("anytime") or []
        row["first_s"] = round(history[0]["time"], 3) if solver == "orvik" and history else ""
        row["last_s"] = (round(result["statistics"]["last_update_time"], 3)
                         if solver == "orvik" and history else "")
        rows.append(row)
        print(f"  {solver}: objective {row['objective_value'] or '-'} feasible {row['feasible']} "
              f"solve time {row['solve_time_s']} s, first solution {row['first_s'] or '-'} s, "
              f"last improvement {row['last_s'] or '-'} s, solutions {row['solutions_found']}, "
              f"peak RSS {row['peak_rss_mib']} MiB {row['note']}", flush=True)
    print(f"machine load (1, 5, 15 min) at the end: "
          f"{compare.machine_load()}")
    figure = out_dir / f"{name}.png"
    plot(figure, instance, rows, records, args.objective, args.budget)
    print(f"wrote {figure}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
