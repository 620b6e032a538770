"""A bad-input campaign: hundreds of broken, odd or hostile inputs to every command and to the
Python API, each in its own process with a timeout, and how each was answered.

Every input runs in a fresh interpreter (``python -m orvik ...`` or ``python -c ...``) in its own
folder. Its outcome falls into one of six classes:

- ``clear error``: refused with a short message and no internal text (command line: exit
  status 2, or 1 from ``validate`` with its findings, or 1 from ``solve-many`` with the error in
  the instance's row; Python: ``ValidationError``, ``InstanceError``, ``ValueError``,
  ``TypeError``, ``KeyError`` from a look-up, ``OSError`` from a file);
- ``honest failure``: no solution, or violations found by ``check``, where that is the truth;
- ``checked success``: a success whose outcome this script verified (the solution passes the
  checker, keeps every route limit as written and the inputs are untouched; a plot exists where
  the command said; a conversion validates);
- ``wrong success``: a success, or a failure that claims the input was fine, where the input
  should have been refused, or a success whose outcome does not hold;
- ``traceback``: a Python traceback, an unexpected exception type or an internal message (the
  binding's argument errors, ``unhashable type``, ``object is not iterable``, JSON library
  codes, ...);
- ``hang``: no answer within the timeout.

    python benchmarks/bad_inputs.py                  # all inputs, two at a time
    python benchmarks/bad_inputs.py --jobs 1 --show bad
    python benchmarks/bad_inputs.py --only check --show all
    python benchmarks/bad_inputs.py --children-path OTHER/python   # another tree's package

``--children-path`` puts a folder first on the inputs' PYTHONPATH (with a ``sitecustomize.py``
there that drops an editable install's import hook, the inputs run that folder's ``orvik``),
so that one campaign can be run against two versions; the verification stays this tree's.
"""

from __future__ import annotations

import argparse
import copy
import hashlib
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from collections import Counter
from collections.abc import Callable
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

CLASSES = ("clear error", "honest failure", "checked success", "wrong success", "traceback",
           "hang")
# Text that belongs to the implementation rather than to the user's input.
INTERNAL = re.compile(
    r"Traceback|incompatible function arguments|unhashable type|object is not (iterable|"
    r"subscriptable|callable)|has no attribute|json\.exception|std::|nlohmann|"
    r"not supported between instances|takes \d+ positional|got an unexpected keyword|"
    r"object of type .* has no len|can't multiply|unsupported operand|KeyError|"
    r"list index out of range|invalid literal for int|must be real number, not|"
    r"cannot convert float|OverflowError|RecursionError|maximum recursion")
DATA = Path(__file__).resolve().parents[1] / "tests" / "data" / "bench"


# ---------------------------------------------------------------------------------------------
# The inputs


def base_instance() -> dict[str, Any]:
    """Five nodes (10 is the depot), a car and a drone, a window and assignments: solvable in a
    moment, every feature of the format used."""
    n = 5
    car = [[0.0 if i == j else float(abs(i - j) * 3) for j in range(n)] for i in range(n)]
    drone = [[c / 2 for c in row] for row in car]
    return {
        "nodes": [{"id": 10 + v, "x": v, "y": 0, "z": 0, "type": "DEPOT" if v == 0 else "TARGET"}
                  for v in range(n)],
        "agents": [
            {"id": 1, "type": "car", "start_node": 10, "end_node": 10, "max_length": 100},
            {"id": 2, "type": "drone", "start_node": 10, "end_node": 10},
        ],
        "costs": {"car": car, "drone": drone},
        "constraints": [
            {"kind": "assignment", "items": [{"node": 10 + v, "types": ["car", "drone"]}
                                             for v in range(n)]},
            {"kind": "timewindow", "items": [{"node": 12, "start": 0, "end": 50}]},
        ],
        "options": {"objective": "min_max", "return_to_end": True, "time_limit": 1},
    }


def _at(doc: Any, path: tuple[Any, ...]) -> Any:
    for key in path:
        doc = doc[key]
    return doc


def put(*path_and_value: Any) -> Callable[[dict[str, Any]], Any]:
    *path, value = path_and_value

    def mutate(doc: dict[str, Any]) -> Any:
        _at(doc, tuple(path[:-1]))[path[-1]] = copy.deepcopy(value)
        return doc
    return mutate


def drop(*path: Any) -> Callable[[dict[str, Any]], Any]:
    def mutate(doc: dict[str, Any]) -> Any:
        del _at(doc, tuple(path[:-1]))[path[-1]]
        return doc
    return mutate


def whole(value: Any) -> Callable[[dict[str, Any]], Any]:
    return lambda doc: copy.deepcopy(value)


def both(*mutations: Callable[[dict[str, Any]], Any]) -> Callable[[dict[str, Any]], Any]:
    def mutate(doc: dict[str, Any]) -> Any:
        for m in mutations:
            doc = m(doc)
        return doc
    return mutate


def far_site(limit: Any) -> Callable[[dict[str, Any]], Any]:
    """One depot, one site 10 away, one agent with the given route limit."""
    return whole({"nodes": [{"id": 0, "x": 0, "y": 0, "type": "DEPOT"}, {"id": 1, "x": 10, "y": 0}],
                  "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0,
                              "max_length": limit}],
                  "costs": {"car": [[0, 10], [10, 0]]}, "options": {"time_limit": 1}})


# (name, mutation, verdict): "invalid" must be refused by validate, solve and the solving API;
# "valid" may be solved (and the solution is then checked) or found to have no solution.
MUTATIONS: list[tuple[str, Callable[[dict[str, Any]], Any], str]] = [
    ("document is an array", whole([1, 2]), "invalid"),
    ("document is a number", whole(5), "invalid"),
    ("document is empty", whole({}), "invalid"),
    ("nodes is a number", whole({"nodes": 5}), "invalid"),
    ("nodes of numbers", whole({"nodes": [1, 2], "agents": []}), "invalid"),
    ("nodes is an object", put("nodes", {"a": 1}), "invalid"),
    ("nodes is null", put("nodes", None), "invalid"),
    ("nodes is empty", put("nodes", []), "invalid"),
    ("node is a string", put("nodes", 1, "node"), "invalid"),
    ("node id missing", drop("nodes", 1, "id"), "invalid"),
    ("node id a string", put("nodes", 1, "id", "11"), "invalid"),
    ("node id fractional", put("nodes", 1, "id", 11.5), "invalid"),
    ("node id negative", put("nodes", 1, "id", -1), "invalid"),
    ("node id 2^64", put("nodes", 1, "id", 2**64), "invalid"),
    ("node id boolean", put("nodes", 1, "id", True), "invalid"),
    ("node id written 11.0", put("nodes", 1, "id", 11.0), "valid"),
    ("node ids written as floats",
     lambda d: [n.update(id=float(n["id"])) for n in d["nodes"]] and d, "valid"),
    ("node id repeated", put("nodes", 2, "id", 11), "invalid"),
    ("node x missing", drop("nodes", 1, "x"), "invalid"),
    ("node x a string", put("nodes", 1, "x", "1"), "invalid"),
    ("node x NaN", put("nodes", 1, "x", math.nan), "invalid"),
    ("node y infinite", put("nodes", 1, "y", math.inf), "invalid"),
    ("node z null", put("nodes", 1, "z", None), "invalid"),
    ("node type a number", put("nodes", 1, "type", 3), "invalid"),
    ("node type lower-case depot", put("nodes", 0, "type", "depot"), "valid"),
    ("node demand NaN", put("nodes", 1, "demand", math.nan), "invalid"),
    ("node demand a string", put("nodes", 1, "demand", "3"), "invalid"),
    ("node name empty", put("nodes", 1, "name", ""), "invalid"),
    ("node name a number", put("nodes", 1, "name", 5), "invalid"),
    ("node names repeated",
     both(put("nodes", 1, "name", "a"), put("nodes", 2, "name", "a")), "invalid"),
    ("agents missing", drop("agents"), "invalid"),
    ("agents is a string", put("agents", "car"), "invalid"),
    ("agents of strings", put("agents", ["car", "drone"]), "invalid"),
    ("agents empty", put("agents", []), "invalid"),
    ("no site: only the depot", put("nodes", [{"id": 10, "x": 0, "y": 0, "type": "DEPOT"}]),
     "invalid"),
    ("agent start_node misspelled",
     both(drop("agents", 0, "start_node"), put("agents", 0, "strat_node", 10)), "invalid"),
    ("agent max_length misspelled", put("agents", 0, "max_lenght", 5), "valid"),
    ("options misspelled at the top", put("option", {"objective": "min_sum"}), "valid"),
    ("window item key misspelled", put("constraints", 1, "items", 0, "windw", 3), "valid"),
    ("agent id repeated", put("agents", 1, "id", 1), "invalid"),
    ("agent type missing", drop("agents", 0, "type"), "invalid"),
    ("agent type empty", put("agents", 0, "type", ""), "invalid"),
    ("agent type a number", put("agents", 0, "type", 7), "invalid"),
    ("agent type without costs", put("agents", 0, "type", "Car"), "invalid"),
    ("agent start unknown", put("agents", 0, "start_node", 99), "invalid"),
    ("agent start a string", put("agents", 0, "start_node", "10"), "invalid"),
    ("agent end null", put("agents", 0, "end_node", None), "invalid"),
    ("agent start written 10.0", put("agents", 0, "start_node", 10.0), "valid"),
    ("max_length 0.5", far_site(0.5), "valid"),
    ("max_length 0.25", far_site(0.25), "valid"),
    ("max_length 19.5", far_site(19.5), "valid"),
    ("max_length 20.5", far_site(20.5), "valid"),
    ("max_length 10.3 on decimal costs",
     both(far_site(20.3), put("costs", "car", [[0, 10.1], [10.1, 0]])), "valid"),
    ("max_length 0", far_site(0), "valid"),
    ("max_length negative", far_site(-5), "valid"),
    ("max_length NaN", far_site(math.nan), "invalid"),
    ("max_length infinite", far_site(math.inf), "invalid"),
    ("max_length 2^31", far_site(2**31), "either"),
    ("max_length 2^40", far_site(2**40), "either"),
    ("max_length 1e300", far_site(1e300), "either"),
    ("max_length 12345.5", far_site(12345.5), "valid"),
    ("max_length a string", far_site("20"), "invalid"),
    ("max_length true", far_site(True), "either"),
    ("capacity NaN", put("agents", 0, "capacity", math.nan), "invalid"),
    ("capacity a string", put("agents", 0, "capacity", "x"), "invalid"),
    ("capacity negative", put("agents", 0, "capacity", -4), "invalid"),
    ("capacity of five dimensions", put("agents", 0, "capacity", [1, 1, 1, 1, 1]), "invalid"),
    ("capacity array with a string", put("agents", 0, "capacity", [3, "x"]), "invalid"),
    ("demand above every capacity",
     both(put("agents", 0, "capacity", 5), put("agents", 1, "capacity", 5),
          put("nodes", 1, "demand", 9)), "invalid"),
    ("demand and delivery both", both(put("nodes", 1, "demand", 1), put("nodes", 1, "delivery", 1)),
     "invalid"),
    ("pickup negative", put("nodes", 1, "pickup", [1, -1]), "invalid"),
    ("service negative", put("nodes", 1, "service", -2), "invalid"),
    ("service a string", put("nodes", 1, "service", "5"), "invalid"),
    ("shipment to an unknown node",
     lambda d: d["constraints"].append({"kind": "shipment", "items": [
         {"pickup": 11, "delivery": 99}]}) or d,
     "invalid"),
    ("shipment without items",
     lambda d: d["constraints"].append({"kind": "shipment"}) or d, "invalid"),
    ("pair type misspelled", lambda d: d["constraints"].append({
        "kind": "sequence", "precedence": [{"before": 11, "after": 12, "type": "Same"}]}) or d,
     "invalid"),
    ("pairs in a cycle", lambda d: d["constraints"].append({
        "kind": "sequence", "precedence": [{"before": 11, "after": 12},
                                           {"before": 12, "after": 11}]}) or d, "invalid"),
    ("pair same and diff", lambda d: d["constraints"].append({
        "kind": "sequence", "precedence": [{"before": 11, "after": 12, "type": "same"},
                                           {"before": 11, "after": 12, "type": "diff"}]}) or d,
     "invalid"),
    ("costs missing", drop("costs"), "invalid"),
    ("costs is a list", put("costs", [[0]]), "invalid"),
    ("costs matrix a number", put("costs", "car", 3), "invalid"),
    ("costs matrix null", put("costs", "car", None), "invalid"),
    ("costs row null", put("costs", "car", 2, None), "invalid"),
    ("costs row a number", put("costs", "car", 2, 4), "invalid"),
    ("costs row short", lambda d: d["costs"]["car"][2].pop() and d, "invalid"),
    ("costs row long", lambda d: d["costs"]["car"][2].append(1.0) or d, "invalid"),
    ("costs matrix short", lambda d: d["costs"]["car"].pop() and d, "invalid"),
    ("costs entry a string", put("costs", "car", 1, 2, "3"), "invalid"),
    ("costs entry boolean", put("costs", "car", 1, 2, True), "invalid"),
    ("costs entry negative", put("costs", "car", 1, 2, -1.0), "invalid"),
    ("costs entry NaN", put("costs", "car", 1, 2, math.nan), "invalid"),
    ("costs entry infinite", put("costs", "car", 1, 2, math.inf), "invalid"),
    ("costs entry null", put("costs", "car", 1, 2, None), "valid"),
    ("costs entry 9999", put("costs", "car", 1, 2, 9999.0), "valid"),
    ("costs entry 1e6", put("costs", "car", 1, 2, 1e6), "valid"),
    ("costs entry 1e300", put("costs", "car", 1, 2, 1e300), "either"),
    ("costs entry a list", put("costs", "car", 1, 2, [1]), "invalid"),
    ("costs for a type no agent has", put("costs", "boat", [[0.0] * 5] * 5), "invalid"),
    ("constraints an object", put("constraints", {"kind": "assignment"}), "invalid"),
    ("constraint a string", put("constraints", 0, "assignment"), "invalid"),
    ("constraint kind misspelled", put("constraints", 1, "kind", "timewindows"), "invalid"),
    ("constraint kind missing", drop("constraints", 1, "kind"), "invalid"),
    ("constraint kind a number", put("constraints", 1, "kind", 2), "invalid"),
    ("constraint kind upper-case", put("constraints", 1, "kind", "TIMEWINDOW"), "invalid"),
    ("assignment items missing", drop("constraints", 0, "items"), "invalid"),
    ("assignment items a number", put("constraints", 0, "items", 4), "invalid"),
    ("assignment item a string", put("constraints", 0, "items", 1, "x"), "invalid"),
    ("assignment item without types", drop("constraints", 0, "items", 1, "types"), "invalid"),
    ("assignment types a string", put("constraints", 0, "items", 1, "types", "car"), "invalid"),
    ("assignment types of numbers", put("constraints", 0, "items", 1, "types", [1]), "invalid"),
    ("assignment node unknown", put("constraints", 0, "items", 1, "node", 99), "invalid"),
    ("assignment node a string", put("constraints", 0, "items", 1, "node", "11"), "invalid"),
    ("assignment to a ghost type", put("constraints", 0, "items", 1, "types", ["ghost"]),
     "valid"),
    ("window item without end", drop("constraints", 1, "items", 0, "end"), "invalid"),
    ("window start after end", put("constraints", 1, "items", 0, "start", 60), "invalid"),
    ("window end NaN", put("constraints", 1, "items", 0, "end", math.nan), "invalid"),
    ("window end a string", put("constraints", 1, "items", 0, "end", "50"), "invalid"),
    ("window closes before 0", both(put("constraints", 1, "items", 0, "start", -9),
                                    put("constraints", 1, "items", 0, "end", -5)), "valid"),
    ("window bound 1e5", put("constraints", 1, "items", 0, "end", 1e5), "valid"),
    ("window node unknown", put("constraints", 1, "items", 0, "node", 99), "invalid"),
    ("sequence without precedence",
     lambda d: d["constraints"].append({"kind": "sequence"}) or d, "invalid"),
    ("sequence of unknown nodes",
     lambda d: d["constraints"].append({"kind": "sequence", "precedence": [
         {"before": 98, "after": 99}]}) or d, "invalid"),
    ("options a list", put("options", [1]), "invalid"),
    ("objective misspelled", put("options", "objective", "minmax"), "invalid"),
    ("objective a number", put("options", "objective", 1), "invalid"),
    ("return_to_end a string", put("options", "return_to_end", "no"), "invalid"),
    ("return_to_end false", put("options", "return_to_end", False), "valid"),
    ("time_limit a string", put("options", "time_limit", "1"), "invalid"),
    ("time_limit NaN", put("options", "time_limit", math.nan), "invalid"),
    ("time_limit negative", put("options", "time_limit", -1), "either"),
    ("time_limit infinite", put("options", "time_limit", math.inf), "invalid"),
    ("seed negative", put("options", "seed", -1), "invalid"),
    ("seed fractional", put("options", "seed", 1.5), "invalid"),
    ("improve a string", put("options", "improve", "yes"), "invalid"),
    ("improve_iterations negative", put("options", "improve_iterations", -3), "invalid"),
    ("name a number", put("name", 5), "invalid"),
    ("deeply nested", put("extra", json.loads("[" * 200 + "]" * 200)), "either"),
]
# Raw text files that are no JSON object at all.
RAW_FILES: dict[str, str | None] = {
    "empty file": "",
    "blank file": " \n\t\n",
    "not JSON": '{"nodes": [1, 2,\n',
    "two documents": "{} {}",
    "a JSON string": '"instance"',
    "NaN literal at the top": "NaN",
    "latin-1 bytes": None,  # written as bytes below
    "nested too deeply": "[" * 100000 + "]" * 100000,
    "an unknown key nested 700 deep": json.dumps(base_instance())[:-1] + ', "extra": '
    + "[" * 700 + "]" * 700 + "}",
}


@dataclass
class Case:
    """One input: a command line or a Python snippet, what it must get, how to verify it."""

    group: str
    name: str
    argv: list[str] | None = None
    code: str | None = None
    verdict: str = "either"  # "invalid": must be refused; "valid"/"either": may succeed
    verify: Callable[[Path, subprocess.CompletedProcess[str]], str | None] | None = None
    files: dict[str, Any] = field(default_factory=dict)  # name -> document, text or bytes
    protect: list[str] = field(default_factory=list)  # files that must not change
    before: Callable[[Path], None] | None = None


# ---------------------------------------------------------------------------------------------
# Verification of successes


def _written_limits(instance: Any) -> dict[int, float]:
    limits: dict[int, float] = {}
    if not isinstance(instance, dict) or not isinstance(instance.get("agents"), list):
        return limits
    for k, agent in enumerate(instance["agents"]):
        limit = agent.get("max_length") if isinstance(agent, dict) else None
        if isinstance(limit, (int, float)) and not isinstance(limit, bool) and limit > 0:
            limits[k] = float(limit)
    return limits


def verify_solution(instance: Any, solution: dict[str, Any]) -> str | None:
    """None when a solution document holds: the checker accepts it and every route keeps its
    agent's route limit as written; else what is wrong."""
    from orvik import checker

    if solution.get("status") == "no solution":
        return None
    try:
        report = checker.check(instance, solution)
    except Exception as error:  # noqa: BLE001 - a checker that cannot read it is a finding
        return f"the checker cannot read the solution: {type(error).__name__}: {error}"
    if not report.ok:
        return f"the checker rejects it: {report.violations[:2]}"
    limits = _written_limits(instance)
    for k, route in enumerate(solution.get("routes") or []):
        if k in limits and route["cost"] > limits[k] + 1e-9:
            return f"route {k} costs {route['cost']} over its written limit {limits[k]}"
    return None


def solution_file(name: str, instance: str) -> Callable[..., str | None]:
    def verify(folder: Path, done: subprocess.CompletedProcess[str]) -> str | None:
        path = folder / name
        if not path.exists():
            return f"{name} was not written"
        return verify_solution(_load(folder / instance), json.loads(path.read_text()))
    return verify


def _load(path: Path) -> Any:
    try:
        return json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError, RecursionError):
        return None


# ---------------------------------------------------------------------------------------------
# The cases


def _instance_cases() -> list[Case]:
    cases: list[Case] = []
    for name, mutate, verdict in MUTATIONS:
        doc = mutate(base_instance())
        files = {"in.json": doc}
        cases.append(Case("validate", name, ["validate", "in.json"], verdict=verdict,
                          files=files))
        cases.append(Case("info", name, ["info", "in.json"], verdict="either", files=files))
        cases.append(Case("solve", name, ["solve", "in.json", "--time-limit", "1", "-q", "-o",
                                          "out.json"], verdict=verdict, files=files,
                          verify=solution_file("out.json", "in.json"), protect=["in.json"]))
        cases.append(Case("solve-many", name, ["solve-many", "in.json", "--out", "res",
                                               "--time-limit", "1", "-q"], verdict=verdict,
                          files=files, verify=solution_file("res/in.json", "in.json"),
                          protect=["in.json"]))
        cases.append(Case("api", f"orvik.solve: {name}", code=(
            "result = orvik.solve('in.json', 1)"), verdict=verdict, files=files))
        cases.append(Case("api", f"Model.from_json().solve(): {name}", code=(
            "result = orvik.Model.from_json('in.json').solve(1)"), verdict=verdict,
            files=files))
    for name, text in RAW_FILES.items():
        files = {"in.json": text if text is not None else b"{\"nodes\": \"\xe9\"}"}
        verdict = "either" if name.startswith("an unknown key") else "invalid"
        for command in ("validate", "info", "solve", "solve-many"):
            argv = [command, "in.json"] + (["--out", "res"] if command == "solve-many" else [])
            cases.append(Case(command, name, argv, verdict=verdict, files=files))
        cases.append(Case("api", f"orvik.solve: {name}", code="result = orvik.solve('in.json', 1)",
                          verdict=verdict, files=files))
    return cases


def _result_cases(instance: dict[str, Any], result: dict[str, Any]) -> list[Case]:
    """``check`` and ``plot`` on results that are broken, wrong or foreign."""

    def route(k: int, key: str, value: Any) -> Callable[[dict[str, Any]], Any]:
        return put("routes", k, key, value)

    mutations: list[tuple[str, Callable[[dict[str, Any]], Any], str]] = [
        ("the result as written", lambda d: d, "valid"),
        ("result is an array", whole([1]), "unreadable"),
        ("result is empty", whole({}), "wrong"),
        ("routes missing", drop("routes"), "wrong"),
        ("routes a number", put("routes", 3), "unreadable"),
        ("route a string", put("routes", 0, "x"), "unreadable"),
        ("route null", put("routes", 0, None), "unreadable"),
        ("path missing", lambda d: d["routes"][0].pop("path") and d, "unreadable"),
        ("path a string", route(0, "path", "0 1"), "unreadable"),
        ("path of strings", route(0, "path", ["0", "1"]), "unreadable"),
        ("path out of range", route(0, "path", [0, 7, 0]), "wrong"),
        ("path negative", route(0, "path", [0, -1, 0]), "wrong"),
        ("path empty", route(0, "path", []), "wrong"),
        ("path of floats", route(0, "path", [0.0, 1.0, 0.0]), "unreadable"),
        ("cost a string", route(0, "cost", "5"), "wrong"),
        ("cost NaN", route(0, "cost", math.nan), "wrong"),
        ("cost wrong", route(0, "cost", 1.0), "wrong"),
        ("agent_id wrong", route(0, "agent_id", 77), "wrong"),
        ("agent_id a string", route(0, "agent_id", "x"), "unreadable"),
        ("status failed", put("status", "failed"), "wrong"),
        ("status a number", put("status", 3), "wrong"),
        ("statistics a list", put("statistics", [1]), "unreadable"),
        ("statistics max_cost wrong", put("statistics", {"max_cost": 1.0}), "wrong"),
        ("max_cost a string", put("max_cost", "x"), "wrong"),
        ("routes swapped", lambda d: d["routes"].reverse() or d, "wrong"),
        ("one route dropped", lambda d: d["routes"].pop() and d, "wrong"),
        ("stops of another instance", route(0, "nodes", [10, 99, 10]), "either"),
        ("scale claims 1.5", put("scale", 1.5), "valid"),
        ("scale a string", put("scale", "x"), "valid"),
        ("a route through every node, twice", put("routes", 0, "path", [0, 1, 2, 3, 4, 1, 0]),
         "wrong"),
    ]
    cases: list[Case] = []
    for name, mutate, verdict in mutations:
        doc = mutate(copy.deepcopy(result))
        files = {"in.json": instance, "result.json": doc}
        expected = "invalid" if verdict in ("unreadable", "wrong") else verdict
        cases.append(Case("check", name, ["check", "in.json", "result.json"], verdict=expected,
                          files=files))
        cases.append(Case("plot", name, ["plot", "in.json", "result.json", "-o", "r.png"],
                          verdict="invalid" if verdict == "unreadable" else "either",
                          files=files, verify=_image("r.png")))
    # Instances the checker must refuse or judge as written.
    for name, mutate, verdict in MUTATIONS:
        if verdict != "invalid" or name.startswith("document"):
            continue
        doc = mutate(base_instance())
        cases.append(Case("check", f"instance: {name}", ["check", "in.json", "result.json"],
                          verdict="either", files={"in.json": doc, "result.json": result}))
    # A no-connection leg in a raw result that claims scaled units.
    raw = {"nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 1, "y": 0}],
           "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0}],
           "costs": {"car": [[0, 9999], [1, 0]]}}
    claim = {"status": "success", "scale": 1.5,
             "routes": [{"agent_id": 0, "path": [0, 1, 0], "cost": 10000.0}]}
    cases.append(Case("check", "a raw result claiming scale 1.5 over a 9999 leg",
                      ["check", "in.json", "result.json"], verdict="invalid",
                      files={"in.json": raw, "result.json": claim}))
    # A route limit between 0 and 1, judged as written.
    limited = far_site(0.5)({})
    over = {"status": "success",
            "routes": [{"agent_id": 0, "path": [0, 1, 0], "cost": 20.0}]}
    cases.append(Case("check", "max_length 0.5 against a route of 20",
                      ["check", "in.json", "result.json"], verdict="invalid",
                      files={"in.json": limited, "result.json": over}))
    # A window of an unknown kind.
    unknown = copy.deepcopy(instance)
    unknown["constraints"][1]["kind"] = "timewindows"
    cases.append(Case("check", "a misspelled constraint kind",
                      ["check", "in.json", "result.json"], verdict="invalid",
                      files={"in.json": unknown, "result.json": result}))
    # A result of a larger instance over a smaller one.
    small = {"nodes": [{"id": 0, "x": 0, "y": 0, "type": "DEPOT"}, {"id": 1, "x": 1, "y": 0}],
             "agents": [{"id": 1, "type": "car", "start_node": 0, "end_node": 0},
                        {"id": 2, "type": "drone", "start_node": 0, "end_node": 0}],
             "costs": {"car": [[0, 1], [1, 0]], "drone": [[0, 1], [1, 0]]}}
    for command in ("check", "plot"):
        argv = [command, "small.json", "result.json"] + (["-o", "r.png"] if command == "plot"
                                                          else [])
        cases.append(Case(command, "a result of a larger instance", argv, verdict="invalid",
                          files={"small.json": small, "result.json": result}))
    # Output names of plot.
    files = {"in.json": instance, "result.json": result}
    for output, image in ((".", None), ("picture", "picture.png"), ("pic.svg", "pic.svg"),
                          ("missing/dir/p.png", None), ("in.json", None), ("p.txt", None)):
        cases.append(Case("plot", f"-o {output}", ["plot", "in.json", "result.json", "-o",
                                                   output],
                          verdict="invalid" if image is None else "either", files=files,
                          verify=_image(image) if image else None, protect=["in.json"]))
    for output, verdict in (("missing/dir/out.json", "invalid"), ("in.json", "invalid"),
                            (".", "invalid")):
        cases.append(Case("solve", f"-o {output}", ["solve", "in.json", "-q", "--time-limit",
                                                    "1", "-o", output],
                          verdict=verdict, files={"in.json": instance}, protect=["in.json"]))
    return cases


def _image(name: str | None) -> Callable[..., str | None]:
    def verify(folder: Path, done: subprocess.CompletedProcess[str]) -> str | None:
        if name is None:
            return None
        if not (folder / name).is_file():
            return f"{name} was not written"
        if f"wrote {name}" not in done.stdout:
            return f"the command did not name {name}: {done.stdout.strip()!r}"
        return None
    return verify


def _batch_cases(instance: dict[str, Any]) -> list[Case]:
    """Where solve-many writes: over its inputs, through links, into folders it cannot use."""
    two = {"a.json": instance, "b.json": instance}
    cases = [
        Case("solve-many", "--out . over its own inputs",
             ["solve-many", "a.json", "b.json", "--out", ".", "-q", "--time-limit", "1"],
             verdict="invalid", files=two, protect=["a.json", "b.json"]),
        Case("solve-many", "--out '' over its own inputs",
             ["solve-many", "a.json", "b.json", "--out", "", "-q", "--time-limit", "1"],
             verdict="invalid", files=two, protect=["a.json", "b.json"]),
        Case("solve-many", "res/a.json --out res",
             ["solve-many", "res/a.json", "--out", "res", "-q", "--time-limit", "1"],
             verdict="invalid", files={"res/a.json": instance}, protect=["res/a.json"]),
        Case("solve-many", "--out a file",
             ["solve-many", "a.json", "--out", "b.json", "-q", "--time-limit", "1"],
             verdict="invalid", files=two, protect=["a.json", "b.json"]),
        Case("solve-many", "--out under a file",
             ["solve-many", "a.json", "--out", "b.json/res", "-q", "--time-limit", "1"],
             verdict="invalid", files=two, protect=["a.json", "b.json"]),
        Case("solve-many", "--out a folder nobody may write",
             ["solve-many", "a.json", "--out", "/proc/self", "-q", "--time-limit", "1"],
             verdict="invalid", files=two),
        Case("solve-many", "a result name taken by a folder",
             ["solve-many", "a.json", "b.json", "--out", "res", "-q", "--time-limit", "1"],
             verdict="either", files=two, before=lambda d: (d / "res" / "a.json").mkdir(
                 parents=True), verify=solution_file("res/b.json", "b.json")),
        Case("solve-many", "a link in --out pointing outside",
             ["solve-many", "a.json", "--out", "res", "-q", "--time-limit", "1"],
             verdict="either", files={"a.json": instance, "victim.txt": "keep me"},
             before=lambda d: _link(d / "res", "a.json", d / "victim.txt"),
             protect=["victim.txt"], verify=solution_file("res/a.json", "a.json")),
        Case("solve-many", "the same file twice",
             ["solve-many", "a.json", "a.json", "--out", "res", "-q", "--time-limit", "1"],
             verdict="either", files=two, protect=["a.json"],
             verify=solution_file("res/a-2.json", "a.json")),
        Case("solve-many", "--workers 0",
             ["solve-many", "a.json", "--out", "res", "--workers", "0"], verdict="invalid",
             files=two),
        Case("solve-many", "--workers x",
             ["solve-many", "a.json", "--out", "res", "--workers", "x"], verdict="invalid",
             files=two),
        Case("solve-many", "--time-limit -1",
             ["solve-many", "a.json", "--out", "res", "--time-limit", "-1", "-q"],
             verdict="invalid", files=two),
        Case("solve-many", "--time-limit nan",
             ["solve-many", "a.json", "--out", "res", "--time-limit", "nan", "-q"],
             verdict="invalid", files=two),
        Case("solve-many", "a missing instance among good ones",
             ["solve-many", "a.json", "gone.json", "--out", "res", "-q", "--time-limit", "1"],
             verdict="either", files=two, verify=solution_file("res/a.json", "a.json")),
        Case("solve", "--time-limit nan", ["solve", "a.json", "--time-limit", "nan", "-q"],
             verdict="invalid", files=two),
        Case("solve", "--time-limit -3", ["solve", "a.json", "--time-limit", "-3", "-q"],
             verdict="invalid", files=two),
        Case("solve", "--time-limit inf", ["solve", "a.json", "--time-limit", "inf", "-q"],
             verdict="invalid", files=two),
        Case("solve", "--time-limit 1e300", ["solve", "a.json", "--time-limit", "1e300", "-q",
                                             "--iterations", "5", "-o", "out.json"],
             verdict="either", files=two, verify=solution_file("out.json", "a.json")),
        Case("solve", "--seed 2^64", ["solve", "a.json", "--seed", str(2**64), "-q"],
             verdict="invalid", files=two),
        Case("solve", "--iterations 2^63", ["solve", "a.json", "--iterations", str(2**63),
                                            "-q"], verdict="invalid", files=two),
        Case("solve", "--plot into a missing folder",
             ["solve", "a.json", "-q", "--time-limit", "1", "--plot", "nowhere/p.png"],
             verdict="invalid", files=two),
        Case("solve", "a folder as the instance", ["solve", "."], verdict="invalid"),
        Case("validate", "a folder as the instance", ["validate", "."], verdict="invalid"),
        Case("info", "a folder as the instance", ["info", "."], verdict="invalid"),
        Case("solve", "no such command option", ["solve", "a.json", "--fast"], verdict="invalid",
             files=two),
    ]
    return cases


def _link(folder: Path, name: str, target: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    (folder / Path(name).name).symlink_to(target)


def _convert_cases() -> list[Case]:
    tsp = (DATA / "five_cities_euc2d.tsp").read_text()
    solomon = (DATA / "solomon_depot_four_customers.txt").read_text()
    files = {"a.tsp": tsp, "s.txt": solomon}
    bad = {
        "garbage.tsp": "this is not a TSPLIB file\n",
        "empty.tsp": "",
        "nocoords.tsp": "NAME : x\nTYPE : TSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EUC_2D\n",
        "dim.tsp": tsp.replace("DIMENSION : 5", "DIMENSION : 9"),
        "weight.tsp": tsp.replace("EUC_2D", "MAN_3D"),
        "letters.tsp": tsp.replace("2 3 4", "2 three 4"),
        "rows.txt": "0 1 2\n",
        "words.txt": "C101\nVEHICLE\nNUMBER CAPACITY\n x y\n",
        "nodepot.txt": "1 0 0 0 0 100 0\n2 1 1 1 0 100 0\n",
        "huge.tsp": tsp.replace("5 0 10", "5 0 100000"),
    }
    cases = []
    for name in bad:
        kind = "solomon" if name.endswith(".txt") else "tsplib"
        cases.append(Case("convert", f"{kind} {name}", ["convert", kind, name, "out.json",
                                                         "--agents", "2"],
                          verdict="invalid", files={**files, **bad}))
    for name, argv, verdict in [
        ("missing input", ["tsplib", "gone.tsp", "out.json", "--agents", "2"], "invalid"),
        ("zero agents", ["tsplib", "a.tsp", "out.json", "--agents", "0"], "invalid"),
        ("negative agents", ["tsplib", "a.tsp", "out.json", "--agents", "-2"], "invalid"),
        ("agents not a number", ["tsplib", "a.tsp", "out.json", "--agents", "x"], "invalid"),
        ("customers for tsplib", ["tsplib", "a.tsp", "out.json", "--agents", "2",
                                  "--customers", "2"], "invalid"),
        ("too many customers", ["solomon", "s.txt", "out.json", "--agents", "2",
                                "--customers", "50"], "invalid"),
        ("zero customers", ["solomon", "s.txt", "out.json", "--agents", "2", "--customers",
                            "0"], "invalid"),
        ("scale 0", ["tsplib", "a.tsp", "out.json", "--agents", "2", "--scale", "0"],
         "invalid"),
        ("scale nan", ["tsplib", "a.tsp", "out.json", "--agents", "2", "--scale", "nan"],
         "invalid"),
        ("time limit nan", ["tsplib", "a.tsp", "out.json", "--agents", "2", "--time-limit",
                            "nan"], "invalid"),
        ("output over the input", ["tsplib", "a.tsp", "a.tsp", "--agents", "2"], "invalid"),
        ("output into a missing folder", ["tsplib", "a.tsp", "no/out.json", "--agents", "2"],
         "invalid"),
        ("output is a folder", ["tsplib", "a.tsp", ".", "--agents", "2"], "invalid"),
        ("unknown format", ["tsp", "a.tsp", "out.json", "--agents", "2"], "invalid"),
        ("a good tsplib file", ["tsplib", "a.tsp", "out.json", "--agents", "2"], "valid"),
        ("a good solomon file", ["solomon", "s.txt", "out.json", "--agents", "2"], "valid"),
    ]:
        cases.append(Case("convert", name, ["convert", *argv], verdict=verdict, files=files,
                          protect=["a.tsp"], verify=_converted("out.json")))
    return cases


def _converted(name: str) -> Callable[..., str | None]:
    def verify(folder: Path, done: subprocess.CompletedProcess[str]) -> str | None:
        import orvik

        if not (folder / name).is_file():
            return f"{name} was not written"
        findings = orvik.validate(folder / name)
        return None if findings.ok else f"the conversion does not validate: {findings.errors}"
    return verify


# Python calls: (name, code setting `result`, verdict).
MODEL = """
m = orvik.Model(objective='min_max')
m.add_depot('dock', 0, 0)
m.add_site(1, 10, 0)
m.add_agent('a', 'car', 'dock')
m.costs_from_coordinates('car')
"""
API_CALLS: list[tuple[str, str, str]] = [
    ("Model(objective=5)", "result = orvik.Model(objective=5)", "invalid"),
    ("Model(objective=[1])", "result = orvik.Model(objective=[1])", "invalid"),
    ("Model(objective=None)", "result = orvik.Model(objective=None)", "invalid"),
    ("Model(time_limit='x')", "result = orvik.Model(time_limit='x')", "invalid"),
    ("Model(time_limit=-1)", "result = orvik.Model(time_limit=-1)", "invalid"),
    ("Model(time_limit=nan)", "result = orvik.Model(time_limit=float('nan'))", "invalid"),
    ("Model(name=5)", "result = orvik.Model(name=5)", "invalid"),
    ("Model(return_to_end='no')", "result = orvik.Model(return_to_end='no')", "invalid"),
    ("add_depot(id=[1])", "result = orvik.Model().add_depot([1], 0, 0)", "invalid"),
    ("add_depot(id=None)", "result = orvik.Model().add_depot(None, 0, 0)", "invalid"),
    ("add_depot(id=True)", "result = orvik.Model().add_depot(True, 0, 0)", "invalid"),
    ("add_depot(id=-1)", "result = orvik.Model().add_depot(-1, 0, 0)", "invalid"),
    ("add_depot(id=2**64)", "result = orvik.Model().add_depot(2**64, 0, 0)", "invalid"),
    ("add_depot(id='')", "result = orvik.Model().add_depot('', 0, 0)", "invalid"),
    ("add_depot(id=1.0)", "result = orvik.Model().add_depot(1.0, 0, 0)", "invalid"),
    ("add_depot(x='a')", "result = orvik.Model().add_depot(1, 'a', 0)", "invalid"),
    ("add_depot(x=nan)", "result = orvik.Model().add_depot(1, float('nan'), 0)", "invalid"),
    ("add_depot(x=10**400)", "result = orvik.Model().add_depot(1, 10**400, 0)", "invalid"),
    ("add_depot(window=(5, 1))", "result = orvik.Model().add_depot(1, 0, 0, window=(5, 1))",
     "invalid"),
    ("add_depot(window='ab')", "result = orvik.Model().add_depot(1, 0, 0, window='ab')",
     "invalid"),
    ("add_depot(window=(1,2,3))", "result = orvik.Model().add_depot(1, 0, 0, window=(1, 2, 3))",
     "invalid"),
    ("add_depot(window=(None, 1))",
     "result = orvik.Model().add_depot(1, 0, 0, window=(None, 1))", "invalid"),
    ("add_depot(window=5)", "result = orvik.Model().add_depot(1, 0, 0, window=5)", "invalid"),
    ("add_depot(window={1, 2})", "result = orvik.Model().add_depot(1, 0, 0, window={1, 2})",
     "invalid"),
    ("add_site twice", "m = orvik.Model(); m.add_site(1, 0, 0); result = m.add_site(1, 0, 0)",
     "invalid"),
    ("add_site(types='car')", "result = orvik.Model().add_site(1, 0, 0, types='car')",
     "invalid"),
    ("add_site(types=[1])", "result = orvik.Model().add_site(1, 0, 0, types=[1])", "invalid"),
    ("add_site(types=5)", "result = orvik.Model().add_site(1, 0, 0, types=5)", "invalid"),
    ("add_site(types=[''])", "result = orvik.Model().add_site(1, 0, 0, types=[''])", "invalid"),
    ("add_site(demand='x')", "result = orvik.Model().add_site(1, 0, 0, demand='x')", "invalid"),
    ("add_site(demand=nan)", "result = orvik.Model().add_site(1, 0, 0, demand=float('nan'))",
     "invalid"),
    ("add_site(z=None)", "result = orvik.Model().add_site(1, 0, 0, None)", "invalid"),
    ("add_agent(start=[1])", MODEL + "result = m.add_agent('b', 'car', [1])", "invalid"),
    ("add_agent(start={})", MODEL + "result = m.add_agent('b', 'car', {})", "invalid"),
    ("add_agent(end=[1])", MODEL + "result = m.add_agent('b', 'car', 'dock', [1])", "invalid"),
    ("add_agent(start unknown)", MODEL + "result = m.add_agent('b', 'car', 'nowhere')",
     "invalid"),
    ("add_agent(id=[1])", MODEL + "result = m.add_agent([1], 'car', 'dock')", "invalid"),
    ("add_agent(id=None)", MODEL + "result = m.add_agent(None, 'car', 'dock')", "invalid"),
    ("add_agent twice", MODEL + "result = m.add_agent('a', 'car', 'dock')", "invalid"),
    ("add_agent(type=5)", MODEL + "result = m.add_agent('b', 5, 'dock')", "invalid"),
    ("add_agent(type='')", MODEL + "result = m.add_agent('b', '', 'dock')", "invalid"),
    ("add_agent(max_length='x')",
     MODEL + "result = m.add_agent('b', 'car', 'dock', max_length='x')", "invalid"),
    ("add_agent(max_length=nan)",
     MODEL + "result = m.add_agent('b', 'car', 'dock', max_length=float('nan'))", "invalid"),
    ("add_agent(max_length=2**31)",
     MODEL + "m.add_agent('b', 'car', 'dock', max_length=2**31); result = m.solve(1)",
     "either"),
    ("add_agent(max_length=1e300)",
     MODEL + "m.add_agent('b', 'car', 'dock', max_length=1e300); result = m.solve(1)",
     "either"),
    ("add_agent(max_length=10**400)",
     MODEL + "result = m.add_agent('b', 'car', 'dock', max_length=10**400)", "invalid"),
    ("add_agent(max_length=0.5) then solve",
     MODEL.replace("m.add_agent('a', 'car', 'dock')",
                   "m.add_agent('a', 'car', 'dock', max_length=0.5)") + "result = m.solve(1)",
     "valid"),
    ("add_agent(max_length=20.25) then solve",
     MODEL.replace("m.add_agent('a', 'car', 'dock')",
                   "m.add_agent('a', 'car', 'dock', max_length=19.75)") + "result = m.solve(1)",
     "valid"),
    ("add_agent(capacity='x')",
     MODEL + "result = m.add_agent('b', 'car', 'dock', capacity='x')", "invalid"),
    ("add_agent(capacity=[1, -1])",
     MODEL + "result = m.add_agent('b', 'car', 'dock', capacity=[1, -1])", "invalid"),
    ("add_site(pickup=[1]*5)", "result = orvik.Model().add_site(1, 0, 0, pickup=[1] * 5)",
     "invalid"),
    ("add_site(service=-1)", "result = orvik.Model().add_site(1, 0, 0, service=-1)", "invalid"),
    ("add_shipment(unknown site)", MODEL + "result = m.add_shipment(1, 'nowhere')", "invalid"),
    ("add_precedence(same_agent='yes')",
     MODEL + "m.add_site(2, 0, 5); result = m.add_precedence(1, 2, same_agent='yes')",
     "invalid"),
    ("set_costs(matrix=5)", MODEL + "result = m.set_costs('car', 5)", "invalid"),
    ("set_costs(matrix=[5])", MODEL + "result = m.set_costs('car', [5])", "invalid"),
    ("set_costs(matrix='ab')", MODEL + "result = m.set_costs('car', 'ab')", "invalid"),
    ("set_costs(matrix=None)", MODEL + "result = m.set_costs('car', None)", "invalid"),
    ("set_costs(one row for two nodes)", MODEL + "result = m.set_costs('car', [[0, 1]])",
     "invalid"),
    ("set_costs(a short row)", MODEL + "result = m.set_costs('car', [[0, 1], [1]])", "invalid"),
    ("set_costs(entry 'a')", MODEL + "result = m.set_costs('car', [[0, 'a'], [1, 0]])",
     "invalid"),
    ("set_costs(entry -1)", MODEL + "result = m.set_costs('car', [[0, -1], [1, 0]])", "invalid"),
    ("set_costs(entry inf)", MODEL + "result = m.set_costs('car', [[0, float('inf')], [1, 0]])",
     "invalid"),
    ("set_costs(type=5)", MODEL + "result = m.set_costs(5, [[0, 1], [1, 0]])", "invalid"),
    ("set_costs(type='')", MODEL + "result = m.set_costs('', [[0, 1], [1, 0]])", "invalid"),
    ("set_costs(short) then solve", MODEL + "m.set_costs('car', [[0]]); result = m.solve(1)",
     "invalid"),
    ("costs_from_coordinates(metric='x')",
     MODEL + "result = m.costs_from_coordinates('car', metric='x')", "invalid"),
    ("costs_from_coordinates(metric=[1])",
     MODEL + "result = m.costs_from_coordinates('car', metric=[1])", "invalid"),
    ("costs_from_coordinates(speed=0)",
     MODEL + "result = m.costs_from_coordinates('car', speed=0)", "invalid"),
    ("costs_from_coordinates(speed='x')",
     MODEL + "result = m.costs_from_coordinates('car', speed='x')", "invalid"),
    ("costs_from_coordinates(service=-1)",
     MODEL + "result = m.costs_from_coordinates('car', service=-1)", "invalid"),
    ("costs_from_coordinates(type=5)",
     MODEL + "result = m.costs_from_coordinates(5)", "invalid"),
    ("solve(time_limit='x')", MODEL + "result = m.solve('x')", "invalid"),
    ("solve(time_limit=-1)", MODEL + "result = m.solve(-1)", "invalid"),
    ("solve(time_limit='5')", MODEL + "result = m.solve(time_limit='5')", "invalid"),
    ("solve(tim_limit=1)", MODEL + "result = orvik.solve(m, tim_limit=1)", "invalid"),
    ("solve(time_limit=nan)", MODEL + "result = m.solve(float('nan'))", "invalid"),
    ("solve(time_limit=inf)", MODEL + "result = m.solve(float('inf'))", "invalid"),
    ("solve(time_limit=1e300)", MODEL + "result = m.solve(1e300, iterations=5)", "either"),
    ("solve(time_limit=[1])", MODEL + "result = m.solve([1])", "invalid"),
    ("solve(seed='x')", MODEL + "result = m.solve(1, seed='x')", "invalid"),
    ("solve(seed=2**64)", MODEL + "result = m.solve(1, seed=2**64)", "invalid"),
    ("solve(iterations=1.5)", MODEL + "result = m.solve(1, iterations=1.5)", "invalid"),
    ("solve(clock='gpu')", MODEL + "result = m.solve(1, clock='gpu')", "invalid"),
    ("solve(clock=[1])", MODEL + "result = m.solve(1, clock=[1])", "invalid"),
    ("solve(progress=5)", MODEL + "result = m.solve(1, progress=5)", "invalid"),
    ("solve(stop=5)", MODEL + "result = m.solve(1, stop=5)", "invalid"),
    ("solve(improve='no')", MODEL + "result = m.solve(1, improve='no')", "invalid"),
    ("solve(validate='no')", MODEL + "result = m.solve(1, validate='no')", "invalid"),
    ("solve a model without nodes", "result = orvik.Model().solve(1)", "either"),
    ("solve a model without costs",
     MODEL.replace("m.costs_from_coordinates('car')", "") + "result = m.solve(1)", "invalid"),
    ("solve a model whose type has no costs",
     MODEL + "m.add_agent('b', 'boat', 'dock'); result = m.solve(1)", "invalid"),
    ("add_site(0) after a node named 'dock' with id 0",
     ("m = orvik.Model.from_json({'nodes': [{'id': 0, 'name': 'dock', 'x': 0, 'y': 0, "
     "'type': 'DEPOT'}], 'agents': [{'id': 0, 'type': 'car', 'start_node': 0, 'end_node': 0}], "
     "'costs': {'car': [[0]]}}); m.add_site(0, 10, 10); m.costs_from_coordinates('car'); "
     "result = m.solve(1)"), "invalid"),
    ("add_agent(0) after an agent named 'a' with id 0",
     ("m = orvik.Model.from_json({'nodes': [{'id': 0, 'x': 0, 'y': 0, 'type': 'DEPOT'}, "
     "{'id': 1, 'x': 1, 'y': 0}], 'agents': [{'id': 0, 'name': 'a', 'type': 'car', "
     "'start_node': 0, 'end_node': 0}], 'costs': {'car': [[0, 1], [1, 0]]}}); "
     "m.add_agent(0, 'car', 0); result = m.solve(1)"), "invalid"),
    ("node([1])", MODEL + "result = m.node([1])", "invalid"),
    ("node('nowhere')", MODEL + "result = m.node('nowhere')", "invalid"),
    ("position([1])", MODEL + "result = m.position([1])", "invalid"),
    ("cost_matrix([1])", MODEL + "result = m.cost_matrix([1])", "invalid"),
    ("to_json into a missing folder", MODEL + "result = m.to_json('no/where.json')", "invalid"),
    ("to_json(indent='x')", MODEL + "result = m.to_json(indent='x')", "invalid"),
    ("Model.from_json(5)", "result = orvik.Model.from_json(5)", "invalid"),
    ("Model.from_json('gone.json')", "result = orvik.Model.from_json('gone.json')", "invalid"),
    ("Model.from_json([1])", "result = orvik.Model.from_json([1])", "invalid"),
    ("Model.from_json(validate='x')",
     "result = orvik.Model.from_json({'nodes': [], 'agents': []}, validate='x')", "invalid"),
    ("orvik.solve(5)", "result = orvik.solve(5)", "invalid"),
    ("orvik.solve(None)", "result = orvik.solve(None)", "invalid"),
    ("orvik.solve(workers='2')", MODEL + "result = orvik.solve(m, 1, workers='2')", "invalid"),
    ("orvik.solve(workers=0)", MODEL + "result = orvik.solve(m, 1, workers=0)", "invalid"),
    ("orvik.solve(workers=1.5)", MODEL + "result = orvik.solve(m, 1, workers=1.5)", "invalid"),
    ("orvik.solve(executor=5)", MODEL + "result = orvik.solve(m, 1, workers=2, executor=5)",
     "invalid"),
    ("orvik.solve(seed=-1, workers=2)", MODEL + "result = orvik.solve(m, 1, workers=2, seed=-1)",
     "invalid"),
    ("orvik.solve(time_limit='x')", MODEL + "result = orvik.solve(m, 'x')", "invalid"),
    ("orvik.solve(unknown option)", MODEL + "result = orvik.solve(m, 1, speed=3)", "invalid"),
    ("orvik.solve_many(5)", "result = orvik.solve_many(5)", "invalid"),
    ("orvik.solve_many('in.json')", "result = orvik.solve_many('in.json')", "invalid"),
    ("orvik.solve_many([5])", "result = orvik.solve_many([5])", "invalid"),
    ("orvik.solve_many([5], return_exceptions)",
     ("result = orvik.solve_many([5], return_exceptions=True)[0]; "
     "assert isinstance(result, (TypeError, ValueError)), result; raise result"), "invalid"),
    ("orvik.solve_many(workers=0)", MODEL + "result = orvik.solve_many([m], workers=0)",
     "invalid"),
    ("orvik.solve_many(executor=5)", MODEL + "result = orvik.solve_many([m], executor=5)",
     "invalid"),
    ("orvik.solve_many(on_result=5)", MODEL + "result = orvik.solve_many([m], on_result=5)",
     "invalid"),
    ("orvik.solve_many(time_limit='x')",
     MODEL + "result = orvik.solve_many([m], time_limit='x')", "invalid"),
    ("orvik.solve_many(unknown option)", MODEL + "result = orvik.solve_many([m], speed=3)",
     "invalid"),
    ("orvik.validate(5)", "result = orvik.validate(5)", "invalid"),
    ("orvik.validate(None)", "result = orvik.validate(None)", "invalid"),
    ("orvik.validate('gone.json')", "result = orvik.validate('gone.json')", "invalid"),
    ("orvik.check(5, {})", "result = orvik.check(5, {})", "invalid"),
    ("orvik.check({}, 5)", "result = orvik.check({'nodes': [], 'agents': []}, 5)", "invalid"),
    ("orvik.check(routes=5)",
     "result = orvik.check({'nodes': [], 'agents': []}, {'routes': 5})", "invalid"),
    ("orvik.check(route a string)",
     "result = orvik.check({'nodes': [], 'agents': []}, {'routes': ['x']})", "invalid"),
    ("orvik.check(nodes of numbers)",
     "result = orvik.check({'nodes': [1, 2], 'agents': []}, {'routes': []})", "invalid"),
    ("Solution.from_json(5)", "result = orvik.Solution.from_json(5)", "invalid"),
    ("Solution.from_json({})", "result = orvik.Solution.from_json({})", "invalid"),
    ("Solution.from_json(routes=5)",
     ("result = orvik.Solution.from_json({'status': 'solved', 'objective': 'min_max', "
     "'objective_value': 0, 'max_cost': 0, 'sum_cost': 0, 'routes': 5})"), "invalid"),
    ("Solution.from_json(statistics=[1])",
     ("result = orvik.Solution.from_json({'status': 'solved', 'objective': 'min_max', "
      "'objective_value': 0, 'max_cost': 0, 'sum_cost': 0, 'routes': [], 'statistics': [1]})"),
     "invalid"),
    ("Solution.from_json(objective='x')",
     ("result = orvik.Solution.from_json({'status': 'solved', 'objective': 'x', "
     "'objective_value': 0, 'max_cost': 0, 'sum_cost': 0, 'routes': []})"), "invalid"),
    ("Solution.check() without an instance",
     "result = orvik.Solution('solved', 'min_max', 0, 0, 0).check()", "invalid"),
    ("Solution.check(5)", MODEL + "result = m.solve(1).check(5)", "invalid"),
    ("Solution.to_json into a missing folder",
     MODEL + "result = m.solve(1).to_json('no/where.json')", "invalid"),
    ("plot_solution(model=5)",
     MODEL + "from orvik.plotting import plot_solution; result = plot_solution(m.solve(1), 5)",
     "invalid"),
    ("plot_solution of another model",
     MODEL + ("from orvik.plotting import plot_solution; s = m.solve(1); m2 = orvik.Model(); "
              "m2.add_depot('dock', 0, 0); result = plot_solution(s, m2)"), "invalid"),
    ("save_solution_plot into a missing folder",
     MODEL + ("from orvik.plotting import save_solution_plot; "
              "result = save_solution_plot(m.solve(1), m, 'no/where.png')"), "invalid"),
    ("plot_history(5)", "from orvik.plotting import plot_history; result = plot_history(5)",
     "invalid"),
]


def _api_cases(instance: dict[str, Any]) -> list[Case]:
    files = {"in.json": instance}
    return [Case("api", name, code=code, verdict=verdict, files=files)
            for name, code, verdict in API_CALLS]


# ---------------------------------------------------------------------------------------------
# Running and classifying

# A snippet's wrapper: runs it and prints one JSON line saying how it went.
WRAPPER = r"""
import json, sys, traceback
import orvik
from orvik.documents import InstanceError
def _report(**what):
    print("@@" + json.dumps(what, default=str))
try:
    exec(compile(sys.argv[1], "<case>", "exec"))
except (orvik.ValidationError, InstanceError, ValueError, TypeError, KeyError, OSError) as e:
    _report(raised=type(e).__name__, message=str(e))
except BaseException as e:
    _report(raised=type(e).__name__, message=str(e), unexpected=True,
            trace=traceback.format_exc())
else:
    value = locals().get("result")
    if isinstance(value, orvik.Solution):
        doc = value.to_dict()
        instance = value.instance
        _report(solution=doc, instance=instance)
    else:
        _report(value=repr(value)[:200])
"""


def classify(case: Case, folder: Path, done: subprocess.CompletedProcess[str] | None,
             hashes: dict[str, str]) -> tuple[str, str]:
    """The class of an outcome and a few words on it."""
    if done is None:
        return "hang", "no answer within the timeout"
    out, err = done.stdout, done.stderr
    changed = [name for name, digest in hashes.items() if _digest(folder / name) != digest]
    if changed:
        return "wrong success", f"changed {changed}"
    if case.code is not None:
        return _classify_api(case, out, err)
    if INTERNAL.search(err) or INTERNAL.search(out):
        line = next((ln for ln in err.splitlines()[::-1] if ln.strip()), err[-200:])
        return "traceback", line[:200]
    code = done.returncode
    first_error = err.strip().splitlines()[-1][:160] if err.strip() else ""
    command = case.argv[0] if case.argv else ""
    if code == 2:
        return ("clear error", first_error) if err.strip() else ("traceback", "exit 2, silent")
    if code == 1:
        return _classify_one(case, command, out, err, folder)
    if code == 0:
        if case.verdict == "invalid" and command != "info":
            return "wrong success", f"exit 0: {(out.strip().splitlines() or [''])[-1][:160]}"
        if case.verify is not None:
            problem = case.verify(folder, done)
            if problem is not None:
                return "wrong success", problem
        if command == "check" and case.verdict == "invalid":
            return "wrong success", "accepted"
        return "checked success", (out.strip().splitlines() or [""])[-1][:160]
    return "traceback", f"exit {code}: {first_error}"


def _classify_one(case: Case, command: str, out: str, err: str, folder: Path
                  ) -> tuple[str, str]:
    last = (out.strip().splitlines() or [""])[-1][:160]
    if command == "validate":
        if "error:" in out:
            return "clear error", last
        if err.strip():
            return "clear error", err.strip().splitlines()[-1][:160]
        return "wrong success", f"exit 1 without a finding: {last}"
    if command == "check":
        if "violation:" in out:
            if case.verdict != "valid":
                return "honest failure", out.splitlines()[0][:160]
            return "wrong success", f"violations of a valid result: {out.splitlines()[0]}"
        return ("clear error", err.strip()[:160]) if err.strip() else ("traceback", "silent")
    if command == "solve":
        if out.startswith("status: no solution"):
            if case.verdict == "invalid":
                return "wrong success", "solved an invalid instance: no solution"
            return "honest failure", "no solution"
        if err.strip():
            return "clear error", err.strip().splitlines()[-1][:160]
        return "traceback", "exit 1, silent"
    if command == "solve-many":
        names = {arg for arg in case.argv or [] if arg.endswith(".json")}
        rows = [row for row in out.splitlines() if row.split()[:1] and row.split()[0] in names]
        statuses = [row.split()[1] for row in rows if len(row.split()) > 1]
        if "error" in statuses and case.verdict != "valid":
            return "clear error", rows[statuses.index("error")][:160]
        if "no" in statuses and case.verdict != "invalid":
            return "honest failure", rows[0][:160]
        if statuses and case.verdict == "invalid":
            return "wrong success", f"rows {statuses}"
        if err.strip():
            return "clear error", err.strip().splitlines()[-1][:160]
        return "honest failure", last
    if err.strip():
        return "clear error", err.strip().splitlines()[-1][:160]
    return "traceback", "exit 1, silent"


def _classify_api(case: Case, out: str, err: str) -> tuple[str, str]:
    line = next((ln for ln in out.splitlines() if ln.startswith("@@")), None)
    if line is None:
        tail = err.strip().splitlines()[-1] if err.strip() else "no report"
        return "traceback", tail[:200]
    what = json.loads(line[2:])
    if "raised" in what:
        message = what["message"]
        text = f"{what['raised']}: {message}"[:200]
        if what.get("unexpected") or INTERNAL.search(message) or not message.strip():
            return "traceback", text
        if what["raised"] == "KeyError" and "node(" not in case.name:
            return "traceback", text
        return "clear error", text
    if "solution" in what:
        solution = what["solution"]
        if case.verdict == "invalid":
            return "wrong success", f"status {solution['status']}"
        if solution["status"] == "no solution":
            return "honest failure", "; ".join(solution.get("reasons") or [])[:160]
        problem = verify_solution(what["instance"], solution)
        if problem is not None:
            return "wrong success", problem
        return "checked success", f"{solution['status']} {solution['objective_value']:g}"
    value = what["value"]
    if value.startswith("[Finding(") and "severity='error'" in value:
        return "clear error", value[:160]
    if value.startswith("CheckReport(ok=False"):
        return "honest failure", value[:160]
    if case.verdict == "invalid":
        return "wrong success", f"returned {value}"
    return "checked success", f"returned {value}"


def _digest(path: Path) -> str:
    try:
        return hashlib.sha256(path.read_bytes()).hexdigest()
    except OSError:
        return "missing"


CHILD_PATH: list[str] = []


def run_case(case: Case, root: Path, index: int, timeout: float) -> tuple[Case, str, str, float]:
    folder = root / f"case{index:04d}"
    folder.mkdir()
    for name, content in case.files.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, bytes):
            path.write_bytes(content)
        elif isinstance(content, str):
            path.write_text(content, encoding="utf-8")
        else:
            path.write_text(json.dumps(content), encoding="utf-8")
    if case.before is not None:
        case.before(folder)
    hashes = {name: _digest(folder / name) for name in case.protect}
    if case.argv is not None:
        command = [sys.executable, "-m", "orvik", *case.argv]
    else:
        command = [sys.executable, "-c", WRAPPER, case.code or ""]
    env = {**os.environ, "MPLBACKEND": "Agg", "COLUMNS": "200"}
    if CHILD_PATH:
        env["PYTHONPATH"] = os.pathsep.join([*CHILD_PATH, env.get("PYTHONPATH", "")]).rstrip(
            os.pathsep)
    start = time.monotonic()
    try:
        done: subprocess.CompletedProcess[str] | None = subprocess.run(
            command, cwd=folder, capture_output=True, text=True, timeout=timeout, env=env,
            check=False)
    except subprocess.TimeoutExpired:
        done = None
    seconds = time.monotonic() - start
    kind, detail = classify(case, folder, done, hashes)
    return case, kind, detail, seconds


def _prepare() -> tuple[dict[str, Any], dict[str, Any]]:
    """The base instance and a solution of it from ``orvik solve -o``."""
    instance = base_instance()
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "in.json"
        path.write_text(json.dumps(instance))
        subprocess.run([sys.executable, "-m", "orvik", "solve", str(path), "-q", "-o",
                        str(Path(folder) / "out.json"), "--time-limit", "1"], check=True,
                       capture_output=True)
        result = json.loads((Path(folder) / "out.json").read_text())
    return instance, result


def all_cases() -> list[Case]:
    instance, result = _prepare()
    return (_instance_cases() + _result_cases(instance, result) + _batch_cases(instance)
            + _convert_cases() + _api_cases(instance))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=2, help="inputs run at once (default 2)")
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds per input")
    parser.add_argument("--only", help="run the inputs of one group (a command, or api)")
    parser.add_argument("--show", choices=("bad", "all", "none"), default="bad",
                        help="list the inputs of the last three classes (default), all, none")
    parser.add_argument("--children-path", help="a folder put first on the inputs' PYTHONPATH")
    args = parser.parse_args()
    if args.children_path:
        CHILD_PATH.append(os.path.abspath(args.children_path))
    cases = [c for c in all_cases() if args.only is None or c.group == args.only]
    root = Path(tempfile.mkdtemp(prefix="orvik-bad-inputs-"))
    start = time.monotonic()
    try:
        with ThreadPoolExecutor(args.jobs) as pool:
            outcomes = list(pool.map(lambda pair: run_case(pair[1], root, pair[0], args.timeout),
                                     enumerate(cases)))
    finally:
        for path in root.rglob("*"):
            if path.is_dir() and not path.is_symlink():
                path.chmod(0o755)
        shutil.rmtree(root, ignore_errors=True)
    elapsed = time.monotonic() - start
    counts: Counter[tuple[str, str]] = Counter()
    for case, kind, detail, _ in outcomes:
        counts[(case.group, kind)] += 1
        if args.show == "all" or (args.show == "bad" and kind in CLASSES[3:]):
            print(f"{kind:16s} {case.group:10s} {case.name}: {detail}")
    groups = sorted({case.group for case in cases})
    width = max(len(g) for g in groups) + 2
    print()
    print(" " * width + "".join(f"{c:>17s}" for c in CLASSES) + f"{'total':>8s}")
    for group in groups:
        row = [counts[(group, c)] for c in CLASSES]
        print(f"{group:{width}s}" + "".join(f"{n:17d}" for n in row) + f"{sum(row):8d}")
    totals = [sum(counts[(g, c)] for g in groups) for c in CLASSES]
    print(f"{'all':{width}s}" + "".join(f"{n:17d}" for n in totals) + f"{sum(totals):8d}")
    print(f"\n{len(cases)} inputs in {elapsed:.0f} s, {args.jobs} at a time; 1-minute load "
          f"{os.getloadavg()[0]:.2f}")
    return 0 if sum(totals[3:]) == 0 else 1


if __name__ == "__main__":
    raise SystemExit(main())
