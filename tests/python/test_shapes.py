"""Agents that start at one depot and end at another, open routes, depots that are other agents'
depots: solved through solve_json_str, with and without the improvement, and the generator of
such shapes (orvik.random_shapes), whose instances are feasible by construction."""

from __future__ import annotations

import json
import math
import random
from typing import Any

import _orvik_core as core
import pytest
from orvik import checker
from orvik.random_shapes import shape_and_plan


def depots_instance(agents: list[tuple[int, int]], sites: int, *, return_to_end: bool,
                    objective: str = "min_max", seed: int = 3) -> dict[str, Any]:
    """Two depots (ids 0 and 1) and seeded sites in a 100 x 100 square, one type, Euclidean
    costs; agent k runs from its start to its end node."""
    rng = random.Random(seed)
    xy = [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(2 + sites)]
    return {
        "nodes": [{"id": v, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if v < 2 else "TARGET"}
                  for v, (x, y) in enumerate(xy)],
        "agents": [{"id": k, "type": "r", "start_node": s, "end_node": e}
                   for k, (s, e) in enumerate(agents)],
        "costs": {"r": [[round(math.dist(a, b), 3) for b in xy] for a in xy]},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": v, "types": ["r"]} for v in range(2 + sites)]}],
        "options": {"return_to_end": return_to_end, "objective": objective, "time_limit": 2.0},
    }


def solve(instance: dict[str, Any], **options: Any) -> dict[str, Any]:
    document = dict(instance, options=dict(instance["options"], **options))
    return core.solve_json_str(json.dumps(document))


def checked_value(instance: dict[str, Any], result: dict[str, Any]) -> float:
    assert result["status"] == "success"
    report = checker.check(instance, result)
    assert report.ok, report.violations
    return report.objective_value


SHAPES = [
    pytest.param([(0, 1), (1, 1), (1, 0)], False, id="open-0to1-1to1-1to0"),
    pytest.param([(1, 0), (0, 0)], False, id="open-1to0-0to0"),
    pytest.param([(0, 0), (1, 0)], True, id="closed-0to0-1to0"),
    pytest.param([(0, 1), (1, 0)], True, id="closed-swap"),
]


@pytest.mark.parametrize(("agents", "return_to_end"), SHAPES)
@pytest.mark.parametrize("sites", [5, 20])
def test_agents_reach_their_own_depots_where_others_start_or_end(agents, return_to_end, sites,
                                                                  capfd):
    instance = depots_instance(agents, sites, return_to_end=return_to_end)
    alone = solve(instance)
    improved = solve(instance, improve=True, seed=1, improve_iterations=1000)
    assert "invalid path" not in capfd.readouterr().err
    value_alone = checked_value(instance, alone)
    assert checked_value(instance, improved) <= value_alone + 1e-9
    for route, (start, end) in zip(improved["routes"], agents, strict=True):
        assert route["path"][0] == start
        assert route["path"][-1] in ((end,) if return_to_end else (start, end))


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_the_improvement_is_never_worse_than_the_solution_the_search_hands_over(objective, seed):
    """The first entries of the history are the search's; nothing after them is worse, and the
    result is the history's last entry."""
    instance = depots_instance([(0, 0), (1, 0), (1, 1)], 40, return_to_end=True,
                               objective=objective, seed=seed)
    result = solve(instance, improve=True, seed=seed, improve_iterations=50)
    value = checked_value(instance, result)
    key = "max_cost" if objective == "min_max" else "sum_cost"
    history = [entry[key] for entry in result["anytime"]]
    assert history
    assert value <= min(history) + 1e-9
    assert history[-1] == pytest.approx(value)


@pytest.mark.parametrize("sites", [(30, 200), (3, 12)], ids=["suite-size", "small"])
def test_every_generated_shape_is_solved_by_its_reference_plan(sites):
    for seed in range(60):
        instance, plan = shape_and_plan(seed, sites=sites)
        report = checker.check(instance, plan)
        assert report.ok, (seed, report.violations)
        assert shape_and_plan(seed, sites=sites)[0] == instance  # the same for the same seed


def test_the_generator_draws_every_feature():
    seen: set[str] = set()
    for seed in range(80):
        instance, _ = shape_and_plan(seed, sites=(3, 12))
        agents = instance["agents"]
        depots = [n for n in instance["nodes"] if n.get("type") == "DEPOT"]
        starts = {a["start_node"] for a in agents}
        seen.add(f"{len(depots)} depots")
        seen.add(f"{len(instance['costs'])} types")
        seen.add(instance["options"]["objective"])
        seen.add("closed" if instance["options"]["return_to_end"] else "open")
        if any(a["end_node"] != a["start_node"] and a["end_node"] in starts for a in agents):
            seen.add("ends at another agent's start")
        if any(a.get("max_length", 0) > 0 for a in agents):
            seen.add("route limits")
        if any(c["kind"] == "timewindow" for c in instance["constraints"]):
            seen.add("windows")
        items = next(c["items"] for c in instance["constraints"] if c["kind"] == "assignment")
        if any(len(item["types"]) < len(instance["costs"]) for item in items):
            seen.add("sites open to some types only")
    assert seen == {
        "1 depots", "2 depots", "3 depots", "4 depots", "1 types", "2 types", "3 types",
        "min_max", "min_sum", "closed", "open", "ends at another agent's start", "route limits",
        "windows", "sites open to some types only",
    }
