"""The independent checker referees the solver: every success on random instances passes it.

Seeded random instances (orvik.random_instances) cover both objectives, return_to_end on and
off, shared and separate start and end nodes, assignment, time windows, route limits and
missing cost entries; each is solved through solve_json_str with a small time limit. Seeded
shapes (orvik.random_shapes), feasible by construction, add several depots and agents that end
at other agents' depots, and hold the improvement to never doing worse than the search alone.
Both generators draw loads, service durations, shipments and sequence pairs too, for the
cases at the end.
"""

import json
from collections import Counter
from functools import cache

import _orvik_core as core
import orvik
import pytest
from orvik import checker, rules
from orvik.random_instances import random_instance
from orvik.random_shapes import shape_and_plan, shape_instance
from orvik.solving import core_enforces_constraints

SEEDS = range(1000, 1240)
TIME_LIMIT = 2.0


def _instance(seed: int) -> dict:
    return random_instance(seed, missing=0.4, windows=0.4, limits=0.4, separate_ends=0.5,
                           time_limit=TIME_LIMIT)


@cache
def _result(seed: int) -> dict:
    return core.solve_json_str(json.dumps(_instance(seed)))


@pytest.mark.parametrize("seed", SEEDS, ids=lambda seed: f"seed-{seed}")
def test_every_success_passes_the_checker(seed):
    result = _result(seed)
    assert result["status"] in ("success", "failed")
    if result["status"] == "success":
        report = checker.check(_instance(seed), result)
        assert report.ok, report.violations


def _features(instance: dict) -> set[str]:
    options = instance["options"]
    features = {
        f"objective {rules.objective_from_name(options['objective'])}",
        f"return_to_end {options['return_to_end']}",
    }
    n = len(instance["nodes"])
    if any(a["start_node"] != a["end_node"] for a in instance["agents"]):
        features.add("separate start and end")
    if any(a.get("max_length", 0) > 0 for a in instance["agents"]):
        features.add("route limits")
    if any(c["kind"] == "timewindow" for c in instance["constraints"]):
        features.add("time windows")
    if any(len(m) < n or any(len(row) < n for row in m) for m in instance["costs"].values()):
        features.add("missing entries")
    if any(rules.is_no_connection(c) for m in instance["costs"].values() for r in m for c in r):
        features.add("no-connection costs")
    return features


def test_the_instances_cover_every_feature_among_the_successes():
    """Each feature occurs in solved instances often enough for the referee to see it."""
    seen = Counter()
    for seed in SEEDS:
        if _result(seed)["status"] == "success":
            seen.update(_features(_instance(seed)))
    expected = {
        "objective min_max", "objective min_sum", "return_to_end True", "return_to_end False",
        "separate start and end", "route limits", "time windows", "missing entries",
        "no-connection costs",
    }
    assert set(seen) == expected
    assert min(seen.values()) >= 10, seen


# ---------------------------------------------------------------------------------------------
# Everyday shapes (orvik.random_shapes): several depots, agents ending at other agents' depots,
# open routes, types, windows and limits. Each is solved by the search alone and with the
# improvement (a fixed seed and iteration limit, so the outcome does not depend on the machine).

SHAPE_SEEDS = range(240)
SHAPE_ITERATIONS = 1000


def _shape(seed: int) -> dict:
    return shape_instance(seed, sites=(3, 9), agents=(2, 4), time_limit=1.0)


@cache
def _shape_results(seed: int) -> tuple[dict, dict]:
    instance = _shape(seed)
    alone = core.solve_json_str(json.dumps(instance))
    options = dict(instance["options"], improve=True, seed=1,
                   improve_iterations=SHAPE_ITERATIONS)
    improved = core.solve_json_str(json.dumps(dict(instance, options=options)))
    return alone, improved


@pytest.mark.parametrize("seed", SHAPE_SEEDS, ids=lambda seed: f"shape-{seed}")
def test_every_shape_is_solved_and_passes_the_checker(seed):
    """Every shape is feasible by construction: both runs solve it, and the checker accepts."""
    for result in _shape_results(seed):
        assert result["status"] == "success"
        report = checker.check(_shape(seed), result)
        assert report.ok, report.violations


def test_on_the_shapes_the_improvement_is_never_worse_than_the_search_alone():
    """Wherever the search alone ended before its time limit (its outcome is then the machine's
    no more), the improvement is at least as good."""
    compared = 0
    for seed in SHAPE_SEEDS:
        alone, improved = _shape_results(seed)
        if alone["timeout"] or alone["status"] != "success":
            continue
        compared += 1
        instance = _shape(seed)
        value = checker.check(instance, improved).objective_value
        assert value <= checker.check(instance, alone).objective_value + 1e-9, seed
    assert compared >= 0.9 * len(SHAPE_SEEDS)


# ---------------------------------------------------------------------------------------------
# Loads and orders: deliveries, pickups and capacities, service durations, shipments and
# sequence pairs. The instances draw them once the bound core honours them
# (``core_enforces_constraints``); until then each case checks what needs no core: the
# generator's reference plan passes the checker and a plan that breaks a rule does not.

ENFORCED = core_enforces_constraints()
ORDER_SEEDS = range(2000, 2120)
ORDER_FEATURES = {"loads": 0.5, "services": 0.4, "shipments": 0.5, "pairs": 0.3}


def _ordered_shape(seed: int) -> tuple[dict, dict]:
    return shape_and_plan(seed, sites=(3, 9), agents=(2, 4), time_limit=1.0, **ORDER_FEATURES)


def _broken(instance: dict, plan: dict) -> dict:
    """The instance with a rule its plan breaks: the first route's first site is given a
    pickup above every capacity, or (without capacities) a "diff" pair with the next site."""
    doc = json.loads(json.dumps(instance))
    path = next(r["path"] for r in plan["routes"] if len(r["path"]) > 3)
    first, second = doc["nodes"][path[1]], doc["nodes"][path[2]]
    if any("capacity" in a for a in doc["agents"]):
        first["pickup"] = 10**6 if not isinstance(doc["agents"][0]["capacity"], list) else [
            10**6] * len(doc["agents"][0]["capacity"])
    else:
        doc["constraints"].append({"kind": "sequence", "precedence": [
            {"before": first["id"], "after": second["id"], "type": "diff"}]})
    doc["options"]["enforce_constraints"] = True
    return doc


@pytest.mark.parametrize("seed", ORDER_SEEDS, ids=lambda seed: f"ordered-{seed}")
def test_every_shape_with_loads_and_orders_is_feasible_and_solved_within_the_rules(seed):
    instance, plan = _ordered_shape(seed)
    report = checker.check(instance, plan)
    assert report.ok, report.violations
    if any(len(r["path"]) > 3 for r in plan["routes"]):
        assert not checker.check(_broken(instance, plan), plan).ok
    if ENFORCED:
        options = dict(instance["options"], improve=True, seed=1,
                       improve_iterations=SHAPE_ITERATIONS)
        improved = core.solve_json_str(json.dumps(dict(instance, options=options)))
        assert improved["status"] == "success"
        report = checker.check(instance, improved)
        assert report.ok, report.violations
        alone = core.solve_json_str(json.dumps(instance))
        if alone["status"] == "success":
            report = checker.check(instance, alone)
            assert report.ok, report.violations


def _ordered_instance(seed: int) -> dict:
    return random_instance(seed, missing=0.0, windows=0.4, limits=0.3, separate_ends=0.5,
                           time_limit=TIME_LIMIT, loads=0.5, services=0.4, orders=0.6)


@pytest.mark.parametrize("seed", range(1000, 1120), ids=lambda seed: f"orders-{seed}")
def test_every_success_with_loads_and_orders_passes_the_checker(seed):
    """Random instances with the new rules: their only findings are the loads and orders no
    route set satisfies, and every success of a core that honours the rules passes the
    checker."""
    instance = _ordered_instance(seed)
    assert instance["options"]["enforce_constraints"] is True
    findings = orvik.validate(instance)
    assert all(f.path.startswith(("$.constraints", "$.nodes")) for f in findings.errors), [
        str(f) for f in findings.errors]
    if ENFORCED:
        result = core.solve_json_str(json.dumps(instance))
        assert result["status"] in ("success", "failed")
        if result["status"] == "success":
            report = checker.check(instance, result)
            assert report.ok, report.violations
