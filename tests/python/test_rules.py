"""orvik.rules and the core agree: objective names, scoring, improvement, no connection."""

import json
import math

import _orvik_core as core
import pytest
from orvik import rules
from orvik.random_instances import random_instance

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


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("objective", ["min_max", "MIN_MAX", "min_sum", "other"])
def test_history_keeps_the_snapshots_the_python_rules_keep(seed, objective):
    """The entry point's improvement history is the recorded solutions that improve on the last
    kept one under the objective the options name, as orvik.rules scores them."""
    instance = random_instance(seed, missing=0.0, windows=0.0, limits=0.0)
    instance["options"]["objective"] = objective
    result = core.solve_json_str(json.dumps(instance))

    problem = core.Problem()
    for node in instance["nodes"]:
        item = core.Node()
        item.id = node["id"]
        problem.add_node(item)
    for agent in instance["agents"]:
        item = core.Agent()
        item.id, item.type = agent["id"], agent["type"]
        item.start_node, item.end_node = agent["start_node"], agent["end_node"]
        problem.add_agent(item, agent["id"])
    for name, matrix in instance["costs"].items():
        problem.set_cost_matrix(name, matrix)
    assignment = core.AssignmentConstraint()
    for item in instance["constraints"][0]["items"]:
        assignment.set_assignment(item["node"], item["types"])
    problem.set_assignment_constraint(assignment)
    options = core.Options()
    options.return_to_end = instance["options"]["return_to_end"]
    options.objective = (
        core.ObjectiveType.MinMax
        if rules.objective_from_name(objective) == rules.MIN_MAX
        else core.ObjectiveType.MinSum
    )
    solver = core.Solver(problem, options)
    solver.solve()

    kept = []
    best = 1e18
    for _, snapshot in solver.get_result_process():
        costs = list(snapshot.times.values())
        value = rules.objective_value(objective, costs)
        if rules.improves(value, best):
            longest, total = rules.route_totals(costs)
            kept.append((longest, total))
            best = value
    assert [(item["max_cost"], item["sum_cost"]) for item in result["anytime"]] == kept
    longest, total = rules.route_totals(route["cost"] for route in result["routes"])
    assert (result["statistics"]["max_cost"], result["statistics"]["sum_cost"]) == (longest, total)
