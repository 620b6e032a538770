"""Outcomes of the same seeded random instances under several builds of the core.

Generates small instances (2 to 7 targets, 2 to 5 agents; both objectives; one shared depot or
one depot per agent; with and without time windows, asymmetric costs and route-length limits;
``--mix tight`` makes every instance strongly asymmetric with tight route limits), solves each
under every build named on the command line and prints, for each build against the
one before it: instances newly solved or lost, objectives better, worse or unchanged, state
counts that changed, and for each build the results the independent checker rejects.

A build is a git revision (built here into build/bench-revs/, the extension module only) or a
directory holding an ``_orvik_core`` module. The instances are small enough for the search to
end before its time limit, so a build gives the same answer on every run.

Not a test: it prints figures. For example, the change of two mends one after the other:

    python benchmarks/mend_outcomes.py --build before=main --build dominance=REV1 \\
        --build merging=REV2 --count 600
"""

from __future__ import annotations

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

from orvik_modules import ROOT, load

checker = load("checker")

# Runs inside a child with the build's module first on the path: solves every instance of the
# input file, one JSON line per instance in the output file. The solver prints progress on the
# child's standard streams, so results go through a file.
CHILD_CODE = r"""
import json, sys
module_dir, instances_path, output_path, time_limit = sys.argv[1:5]
sys.path.insert(0, module_dir)
import _orvik_core
with open(instances_path) as f, open(output_path, "w") as out:
    for line in f:
        try:
            result = _orvik_core.solve_json_str(line, float(time_limit))
        except Exception as error:  # a refusal counts as a failure to solve
            result = {"status": "error", "error": str(error), "routes": [], "statistics": {}}
        out.write(json.dumps(result) + "\n")
"""

OBJECTIVE_TOLERANCE = 1e-6


@dataclass
class Build:
    label: str
    module_dir: Path


def make_instance(seed: int, mix: str = "mixed") -> dict:
    """One seeded random instance; see the module docstring for the mixes."""
    rng = random.Random(seed)
    targets = rng.randint(2, 7)
    agents = rng.randint(2, 5)
    shared = rng.random() < 0.5
    depots = 1 if shared else agents
    n = depots + targets
    points = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)]
    tight = mix == "tight"
    asymmetric = tight or rng.random() < 0.4
    low, high = (0.3, 4.0) if tight else (0.5, 3.0)
    matrix = []
    for i, (xi, yi) in enumerate(points):
        row = []
        for j, (xj, yj) in enumerate(points):
            d = ((xi - xj) ** 2 + (yi - yj) ** 2) ** 0.5
            if asymmetric and i != j:
                d *= rng.uniform(low, high)
            row.append(round(d, 2))
        matrix.append(row)
    nodes = [
        {"id": v, "x": x, "y": y, "z": 0, "type": "DEPOT" if v < depots else "TARGET"}
        for v, (x, y) in enumerate(points)
    ]
    limited = tight or rng.random() < 0.4
    agent_list = []
    for a in range(agents):
        depot = 0 if shared else a
        agent = {"id": a, "type": "robot", "start_node": depot, "end_node": depot}
        if limited:
            agent["max_length"] = rng.randint(120, 260) if tight else rng.randint(150, 400)
        agent_list.append(agent)
    constraints = [
        {"kind": "assignment", "items": [{"node": v, "types": ["robot"]} for v in range(n)]}
    ]
    if rng.random() < 0.5:
        items = []
        for v in range(depots, n):
            if rng.random() < 0.6:
                opens = rng.uniform(0, 150)
                items.append({"node": v, "start": round(opens, 1),
                              "end": round(opens + rng.uniform(40, 200), 1)})
        constraints.append({"kind": "timewindow", "items": items})
    objective = rng.choice(["min_max", "min_sum"])
    return {
        "nodes": nodes,
        "agents": agent_list,
        "costs": {"robot": matrix},
        "constraints": constraints,
        "options": {"objective": objective, "return_to_end": True},
    }


def revision_source(revision: str, folder: str) -> tuple[str, Path]:
    """The commit of a git revision and its files, extracted once into
    build/bench-revs/<commit>/<folder>."""
    commit = subprocess.run(
        ["git", "-C", str(ROOT), "rev-parse", "--verify", f"{revision}^{{commit}}"],
        check=True, capture_output=True, text=True,
    ).stdout.strip()
    source = ROOT / "build" / "bench-revs" / commit / folder
    if not (source / "CMakeLists.txt").exists():
        source.mkdir(parents=True, exist_ok=True)
        archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit],
                                 check=True, capture_output=True).stdout
        subprocess.run(["tar", "-x", "-C", str(source)], input=archive, check=True)
    return commit, source


def build_revision(label: str, revision: str) -> Build:
    """The extension module of a git revision, built once into build/bench-revs/<commit>."""
    commit, source = revision_source(revision, "src")
    binary = source.parent / "build"
    print(f"[build] {label} = {revision} ({commit[:10]})", file=sys.stderr, flush=True)
    subprocess.run(
        ["cmake", "-S", str(source), "-B", str(binary), "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=Release", "-DORVIK_BUILD_PYTHON=ON", "-DORVIK_BUILD_TESTS=OFF",
         f"-DPython_EXECUTABLE={sys.executable}"],
        check=True, stdout=subprocess.DEVNULL,
    )
    subprocess.run(["cmake", "--build", str(binary), "-j", "2", "--target", "_orvik_core"],
                   check=True, stdout=subprocess.DEVNULL)
    return Build(label, binary / "python")


def parse_build(text: str) -> Build:
    label, sep, what = text.partition("=")
    if not sep or not label or not what:
        raise argparse.ArgumentTypeError(f"expected LABEL=REVISION or LABEL=DIR, got {text!r}")
    path = Path(what)
    if path.is_dir() and any(path.glob("_orvik_core*")):
        return Build(label, path.resolve())
    return build_revision(label, what)


def solve_all(build: Build, instances: list[dict], time_limit: float) -> list[dict]:
    with tempfile.TemporaryDirectory() as tmp:
        src, out = Path(tmp) / "instances.jsonl", Path(tmp) / "results.jsonl"
        src.write_text("".join(json.dumps(i) + "\n" for i in instances), encoding="utf-8")
        subprocess.run(
            [sys.executable, "-c", CHILD_CODE, str(build.module_dir), str(src), str(out),
             str(time_limit)],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        return [json.loads(line) for line in out.read_text(encoding="utf-8").splitlines()]


def objective_value(instance: dict, result: dict) -> float | None:
    if result.get("status") != "success":
        return None
    stats = result["statistics"]
    return stats["max_cost"] if instance["options"]["objective"] == "min_max" else stats["sum_cost"]


def compare(instances: list[dict], before: list[dict], after: list[dict]) -> dict[str, int]:
    counts = dict.fromkeys(
        ["solved", "lost", "better", "worse", "unchanged", "both failed", "states changed"], 0)
    for inst, a, b in zip(instances, before, after, strict=True):
        va, vb = objective_value(inst, a), objective_value(inst, b)
        if va is None and vb is None:
            counts["both failed"] += 1
        elif va is None:
            counts["solved"] += 1
        elif vb is None:
            counts["lost"] += 1
        elif vb < va - OBJECTIVE_TOLERANCE:
            counts["better"] += 1
        elif vb > va + OBJECTIVE_TOLERANCE:
            counts["worse"] += 1
        else:
            counts["unchanged"] += 1
        if a.get("statistics", {}).get("n_generated") != b.get("statistics", {}).get("n_generated"):
            counts["states changed"] += 1
    return counts


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", action="append", type=parse_build, required=True,
                        metavar="LABEL=REVISION|DIR", help="a build to run; give two or more")
    parser.add_argument("--count", type=int, default=600, help="instances (default 600)")
    parser.add_argument("--seed", type=int, default=11, help="first instance seed (default 11)")
    parser.add_argument("--mix", choices=["mixed", "tight"], default="mixed",
                        help="mixed (default) or tight: every instance with strongly asymmetric "
                        "costs and tight route limits, where merging meets limits most often")
    parser.add_argument("--time-limit", type=float, default=10.0,
                        help="seconds per solve; the instances should end well before it")
    args = parser.parse_args(argv)
    if len(args.build) < 2:
        parser.error("give at least two builds to compare")

    os.environ.setdefault("ORVIK_MEMORY_LIMIT_MB", "1024")
    instances = [make_instance(args.seed + k, args.mix) for k in range(args.count)]
    results = {}
    for build in args.build:
        print(f"[solve] {build.label}: {len(instances)} instances", file=sys.stderr, flush=True)
        results[build.label] = solve_all(build, instances, args.time_limit)

    with open("/proc/loadavg", encoding="ascii") as f:
        load_avg = " ".join(f.read().split()[:3])
    print(f"{args.count} {args.mix} instances from seed {args.seed}; load average {load_avg}")
    print(f"{'build':<14}{'solved':>8}{'timeouts':>10}{'rejected by checker':>21}")
    for build in args.build:
        rs = results[build.label]
        solved = sum(r.get("status") == "success" for r in rs)
        timeouts = sum(bool(r.get("timeout")) for r in rs)
        rejected = sum(
            r.get("status") == "success" and not checker.check(inst, r).ok
            for inst, r in zip(instances, rs, strict=True)
        )
        print(f"{build.label:<14}{solved:>8}{timeouts:>10}{rejected:>21}")
    for prev, cur in zip(args.build, args.build[1:]):
        counts = compare(instances, results[prev.label], results[cur.label])
        print(f"{prev.label} -> {cur.label}: " + ", ".join(f"{k} {v}" for k, v in counts.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
