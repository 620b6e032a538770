"""A route limit holds as written wherever the package solves, and the checker judges it so."""

import json

import orvik
import pytest
from orvik.units import solver_document, unit_scale


def _far_site(limit, costs=(10.0, 10.0)):
    """A depot and one site: going costs costs[0], coming back costs[1]."""
    return {"nodes": [{"id": 0, "x": 0, "y": 0, "type": "DEPOT"}, {"id": 1, "x": 10, "y": 0}],
            "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0,
                        "max_length": limit}],
            "costs": {"car": [[0, costs[0]], [costs[1], 0]]},
            "options": {"time_limit": 1}}


@pytest.mark.parametrize(
    ("limit", "costs", "solved"),
    [(0.5, (10, 10), False), (0.25, (10, 10), False), (19.5, (10, 10), False),
     (20.5, (10, 10), True), (20.0, (10, 10), True), (20.3, (10.1, 10.1), True),
     (20.1, (10.1, 10.1), False), (10001.5, (5000, 5000), True),
     (10000.4, (5000.25, 5000.25), False), (0.75, (0.375, 0.375), True)],
)
def test_the_solve_keeps_the_limit_as_written(limit, costs, solved):
    doc = _far_site(limit, costs)
    solution = orvik.solve(doc, 1)
    assert solution.solved == solved, (solution.status, solution.reasons, solution.notes)
    if solved:
        assert solution.routes[0].cost <= limit
        assert solution.check().ok


def test_a_limit_below_one_from_the_builder_holds():
    model = orvik.Model()
    model.add_depot("dock", 0, 0)
    model.add_site("far", 10, 0)
    model.add_agent("car-1", "car", "dock", max_length=0.5)
    model.costs_from_coordinates("car")
    solution = model.solve(1)
    assert solution.status == "no solution"
    assert any("max_length below the cheapest trip" in reason for reason in solution.reasons)


def test_the_command_line_keeps_the_limit_and_says_how(run_cli, tmp_path):
    path = tmp_path / "far.json"
    path.write_text(json.dumps(_far_site(0.5)))
    checked = run_cli("validate", str(path))
    assert checked.returncode == 0, checked.stdout
    assert ("0.5 limits the route cost to 1 in the solver's units, which allows the same routes: "
            "every cost and window bound is a multiple of 2") in checked.stdout
    solved = run_cli("solve", str(path), "-q")
    assert solved.returncode == 1, solved.stdout
    assert solved.stdout.startswith("status: no solution")


def test_the_checker_judges_the_limit_as_written(run_cli, tmp_path):
    instance, result = tmp_path / "far.json", tmp_path / "result.json"
    instance.write_text(json.dumps(_far_site(0.5)))
    # What the raw module, which reads 0.5 as no limit, returns.
    result.write_text(json.dumps({"status": "success", "routes": [
        {"agent_id": 0, "path": [0, 1, 0], "cost": 20.0}]}))
    done = run_cli("check", str(instance), str(result))
    assert done.returncode == 1
    assert "violation: route 0 (agent id 0): cost 10.000000 exceeds its max_length 0.5" in \
        done.stdout


@pytest.mark.parametrize(
    ("limit", "costs", "factor", "applied"),
    [(0.5, (10, 10), 1.0, 1.0),  # every cost a multiple of 2: 1 allows what 0.5 allows
     (150.9, (1.5, 1.5), 0.5, 150.5),  # multiples of 0.5: 150.5 is exact in halves
     (0.75, (0.375, 0.375), 0.25, 0.75),  # a whole number of quarters
     (20.3, (10.1, 10.1), 2.0**-8, 5196 / 256)],  # no common unit: the finest one, tightened
)
def test_the_unit_makes_the_limit_a_whole_number(limit, costs, factor, applied):
    doc = _far_site(limit, costs)
    scale = unit_scale(doc)
    assert (scale.factor, scale.limits) == (factor, (applied,))
    solver_limit = solver_document(doc, scale)["agents"][0]["max_length"]
    assert int(solver_limit) == applied / factor  # what the solver reads, a whole number


def test_a_limit_the_units_cannot_hold_is_refused():
    doc = _far_site(1.0, (40001.0, 0.0))  # units of 8: a limit of 1 would read as none
    findings = orvik.validate(doc)
    assert [f.path for f in findings.errors] == ["$.agents[0].max_length"]
    assert "cannot be applied" in findings.errors[0].message
    with pytest.raises(orvik.ValidationError, match="cannot be applied"):
        orvik.solve(doc, 1)
