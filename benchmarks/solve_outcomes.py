"""Outcomes of the search on seeded random instances, and how two builds' outcomes differ.

``record`` solves ``--count`` random instances (``orvik.random_instances``, seeds from
``--first-seed``) through ``_orvik_core.solve_json_str`` and writes one JSON line per instance:
seed, status, routes, route costs, states generated and expanded, whether the time limit was
reached, and whether the instance has missing cost entries. Each success is also checked by
``orvik.checker``.

``compare OLD NEW`` reads two such files (for example from the builds before and after a change)
and counts, separately for instances with and without missing entries: unchanged outcomes,
success that became failure, failure that became success, and successes with other routes or
other search counts. Instances that reached their time limit in either file are counted apart,
since their outcome depends on the machine's speed.

``--improve`` turns the improvement on for every instance, with the improvement seed
``--improve-seed`` and at most ``--iterations`` iterations, so that its outcome too is the same
on every run. ``--build LABEL=REVISION|DIR`` records with another build of the core: a git
revision (built once into build/bench-revs/, as ``mend_outcomes.py`` builds it) or a directory
holding an ``_orvik_core`` module; without it, the installed one.

    python benchmarks/solve_outcomes.py record out.jsonl --count 600 --missing 1.0
    python benchmarks/solve_outcomes.py record before.jsonl --build before=main --improve
    python benchmarks/solve_outcomes.py compare before.jsonl after.jsonl
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from collections import Counter
from typing import Any

import orvik_modules


def _has_missing_entries(instance: dict[str, Any]) -> bool:
    rules = orvik_modules.load("rules")
    n = len(instance["nodes"])
    for matrix in instance["costs"].values():
        if len(matrix) < n or any(len(row) < n for row in matrix):
            return True
        if any(rules.is_no_connection(c) for row in matrix for c in row):
            return True
    return False


def _with_improvement(instance: dict[str, Any], seed: int, iterations: int) -> dict[str, Any]:
    options = dict(instance.get("options", {}))
    options.update({"improve": True, "seed": seed, "improve_iterations": iterations})
    return {**instance, "options": options}


def record(
    path: str,
    count: int,
    first_seed: int,
    missing: float,
    time_limit: float,
    improve: tuple[int, int] | None = None,
) -> int:
    import _orvik_core as core

    generator = orvik_modules.load("random_instances")
    checker = orvik_modules.load("checker")
    rejected = 0
    with open(path, "w", encoding="utf-8") as out:
        for seed in range(first_seed, first_seed + count):
            instance = generator.random_instance(seed, missing=missing, time_limit=time_limit)
            if improve is not None:
                instance = _with_improvement(instance, *improve)
            with open(os.devnull, "w") as sink:
                saved = os.dup(1), os.dup(2)
                os.dup2(sink.fileno(), 1)
                os.dup2(sink.fileno(), 2)
                try:
                    result = core.solve_json_str(json.dumps(instance))
                finally:
                    os.dup2(saved[0], 1)
                    os.dup2(saved[1], 2)
                    os.close(saved[0])
                    os.close(saved[1])
            accepted = None
            if result["status"] == "success":
                accepted = checker.check(instance, result).ok
                rejected += 0 if accepted else 1
            line = {
                "seed": seed,
                "missing": _has_missing_entries(instance),
                "status": result["status"],
                "timeout": result["timeout"],
                "paths": [r["path"] for r in result["routes"]],
                "costs": [r["cost"] for r in result["routes"]],
                "n_generated": result["statistics"]["n_generated"],
                "n_expanded": result["statistics"]["n_expanded"],
                "checker_accepts": accepted,
            }
            out.write(json.dumps(line) + "\n")
    mode = "search alone" if improve is None else "improvement seed {}, {} iterations".format(*improve)
    print(f"wrote {count} outcomes ({mode}) to {path}; the checker rejected {rejected} successes")
    return 0


def _read(path: str) -> dict[int, dict[str, Any]]:
    with open(path, encoding="utf-8") as handle:
        return {line["seed"]: line for line in map(json.loads, handle)}


def _change(old: dict[str, Any], new: dict[str, Any]) -> str:
    if old["timeout"] or new["timeout"]:
        return "time limit reached"
    if old["status"] != new["status"]:
        return f"{old['status']} -> {new['status']}"
    if old["paths"] != new["paths"] or old["costs"] != new["costs"]:
        return "other routes"
    if (old["n_generated"], old["n_expanded"]) != (new["n_generated"], new["n_expanded"]):
        return "same routes, other search counts"
    return "unchanged"


def compare(old_path: str, new_path: str) -> int:
    old, new = _read(old_path), _read(new_path)
    seeds = sorted(set(old) & set(new))
    for missing in (True, False):
        group = [s for s in seeds if new[s]["missing"] == missing]
        counts = Counter(_change(old[s], new[s]) for s in group)
        rejected_old = sum(1 for s in group if old[s]["checker_accepts"] is False)
        rejected_new = sum(1 for s in group if new[s]["checker_accepts"] is False)
        title = "with missing entries" if missing else "without missing entries"
        print(f"{len(group)} instances {title}")
        for change, number in sorted(counts.items()):
            print(f"  {change}: {number}")
        print(f"  successes the checker rejects: {rejected_old} before, {rejected_new} after")
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    rec = sub.add_parser("record", help="solve random instances and write their outcomes")
    rec.add_argument("out")
    rec.add_argument("--count", type=int, default=600)
    rec.add_argument("--first-seed", type=int, default=0)
    rec.add_argument("--missing", type=float, default=1.0,
                     help="probability that an instance has missing cost entries")
    rec.add_argument("--time-limit", type=float, default=5.0, help="per instance, seconds")
    rec.add_argument("--improve", action="store_true",
                     help="run the improvement after the search, on a fixed seed and budget")
    rec.add_argument("--improve-seed", type=int, default=7, help="the improvement's seed")
    rec.add_argument("--iterations", type=int, default=200,
                     help="the improvement's iteration limit (at least 1)")
    rec.add_argument("--build", metavar="LABEL=REVISION|DIR",
                     help="record with this build of the core instead of the installed one")
    cmp_ = sub.add_parser("compare", help="count how the outcomes of two files differ")
    cmp_.add_argument("old")
    cmp_.add_argument("new")
    args = parser.parse_args(argv)
    if args.command == "record":
        if args.improve and args.iterations < 1:
            parser.error("--iterations must be at least 1, so that the outcome is fixed")
        if args.build:
            import mend_outcomes

            sys.path.insert(0, str(mend_outcomes.parse_build(args.build).module_dir))
        improve = (args.improve_seed, args.iterations) if args.improve else None
        return record(args.out, args.count, args.first_seed, args.missing, args.time_limit,
                      improve)
    return compare(args.old, args.new)


if __name__ == "__main__":
    sys.exit(main())
