"""Seeded pickup-and-delivery instances (orvik.random_shipments): well formed, solved by their
reference plan, and every solution Orvik returns on them passes the independent checker."""

from __future__ import annotations

from collections import Counter

import orvik
import pytest
from orvik import checker
from orvik.random_shipments import shipment_and_plan, shipment_instance

CASES = [
    pytest.param(1, {"sites": 12, "windows": False, "layout": "uniform"}, id="uniform"),
    pytest.param(2, {"sites": 14, "windows": True, "layout": "clustered"}, id="clustered-windows"),
    pytest.param(3, {"sites": 16, "windows": True, "dimensions": 2}, id="two-dimensions"),
    pytest.param(4, {"sites": 20, "agents": 2, "objective": "min_max"}, id="min-max"),
]


def _amounts(value: int | list[int]) -> list[int]:
    return value if isinstance(value, list) else [value]


@pytest.mark.parametrize(("seed", "features"), CASES)
def test_instances_are_well_formed_and_their_plan_solves_them(seed, features):
    instance, plan = shipment_and_plan(seed, **features)
    findings = orvik.validate(instance)
    assert findings.ok, [str(f) for f in findings.errors]
    assert not findings.warnings, [str(f) for f in findings.warnings]

    sites = [node["id"] for node in instance["nodes"] if node["type"] == "TARGET"]
    assert len(sites) == features["sites"]
    (shipments,) = [c["items"] for c in instance["constraints"] if c["kind"] == "shipment"]
    # Every site is the pickup or the delivery of exactly one shipment.
    ends = Counter(item[key] for item in shipments for key in ("pickup", "delivery"))
    assert sorted(ends) == sorted(sites) and set(ends.values()) == {1}
    capacities = {tuple(_amounts(agent["capacity"])) for agent in instance["agents"]}
    assert len(capacities) == 1
    (capacity,) = capacities
    assert len(capacity) == features.get("dimensions", 1)
    for item in shipments:
        amount = _amounts(item["amount"])
        assert len(amount) == len(capacity)
        assert all(0 < a <= c for a, c in zip(amount, capacity, strict=True))
    windows = [c for c in instance["constraints"] if c["kind"] == "timewindow"]
    services = [node for node in instance["nodes"] if node.get("service", 0) > 0]
    assert bool(windows) == bool(services) == features.get("windows", bool(windows))
    assert instance["options"]["enforce_constraints"] is True

    report = checker.check(instance, plan)
    assert report.ok, report.violations


def test_the_seed_fixes_the_instance():
    assert shipment_instance(7, sites=30) == shipment_instance(7, sites=30)
    assert shipment_instance(7, sites=30) != shipment_instance(8, sites=30)


@pytest.mark.parametrize(("seed", "features"), CASES)
def test_every_solution_passes_the_checker(seed, features):
    instance = shipment_instance(seed, **features)
    solution = orvik.Model.from_json(instance).solve(time_limit=30, seed=0, iterations=200)
    assert solution.solved, solution.reasons
    report = solution.check()
    assert report.ok, report.violations
    plan = checker.check(instance, shipment_and_plan(seed, **features)[1])
    # The reference plan serves every pair one by one, in sweeps: the search does better.
    assert report.objective_value <= plan.objective_value + 1e-6
