"""orvik.rules and the core agree: objective names, scoring, improvement, no connection.

The entry points' own use of the rules (the history filter, the totals) is held to orvik.rules
in test_json_entry_points.py.
"""

import math

import _orvik_core as core
import pytest
from orvik import rules

core_rules = core._rules

NAMES = ["min_max", "MIN_MAX", "min_sum", "MIN_SUM", "MinMax", "minmax", "max", "", "min_max "]
COSTS = [
    [],
    [3.0],
    [3.0, 7.5, 0.0, 2.0],
    [5.0, 5.0],
    [0.1] * 10,  # the sum's rounding depends on the order of the additions
    [1e-10, 2e-10],
    [9999.0, 1.0],
]


def test_constants_agree():
    assert rules.NO_CONNECTION == core_rules.NO_CONNECTION
    assert rules.IMPROVEMENT_TOLERANCE == core_rules.IMPROVEMENT_TOLERANCE
    assert rules.SEARCH_POINT_LIMIT == core_rules.SEARCH_POINT_LIMIT


@pytest.mark.parametrize("name", NAMES)
def test_objective_names_are_read_alike(name):
    assert rules.objective_from_name(name) == core_rules.objective_from_name(name)


@pytest.mark.parametrize("name", [rules.MIN_MAX, rules.MIN_SUM])
@pytest.mark.parametrize("costs", COSTS, ids=lambda costs: f"{len(costs)}-costs")
def test_route_costs_score_alike(name, costs):
    # Bit for bit: both add in the order given, from 0.0.
    assert rules.objective_value(name, costs) == core_rules.objective_value(name, costs)


@pytest.mark.parametrize(
    ("candidate", "best"),
    [(9.0, 10.0), (10.0, 10.0), (10.0 - 1e-10, 10.0), (10.0 - 2e-9, 10.0), (11.0, 10.0),
     (0.0, 1e18), (1e18, 1e18)],
)
def test_improvement_is_judged_alike(candidate, best):
    assert rules.improves(candidate, best) == core_rules.improves(candidate, best)


@pytest.mark.parametrize("cost", [0.0, 9998.999, 9999.0, 20018.0, math.inf, -math.inf, math.nan])
def test_no_connection_is_judged_alike(cost):
    assert rules.is_no_connection(cost) == core_rules.is_no_connection(cost)


@pytest.mark.parametrize("name", [rules.MIN_MAX, rules.MIN_SUM])
@pytest.mark.parametrize(
    ("candidate", "best"),
    [([3.0, 4.0], [4.0, 4.0]), ([4.0, 4.0], [3.0, 4.0]), ([5.0, 1.0], [4.0, 3.0]),
     ([4.0, 1.0], [4.0, 2.0]), ([4.0, 2.0], [4.0, 2.0]), ([4.0, 2.0 - 1e-10], [4.0, 2.0]),
     ([], [1.0]), ([1.0], [])],
)
def test_whole_solutions_are_compared_alike(name, candidate, best):
    assert rules.better(name, candidate, best) == core_rules.better(name, candidate, best)
