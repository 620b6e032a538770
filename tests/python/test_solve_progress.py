"""Model.solve while it runs: progress reports in the instance's units, the clock, a stop event,
errors of the caller's callback, the solver's lines on the logger, and the interrupted status."""

from __future__ import annotations

import json
import logging
import re
import threading

import orvik
import pytest
from conftest import scattered_instance
from orvik.solution import Solution
from orvik.solving import CORE_LOGGER, budget_seconds


def _scaled_line(unit: float) -> orvik.Model:
    """A dock and two sites on a line; every cost times ``unit``."""
    m = orvik.Model(objective="min_sum")
    m.add_depot("dock", 0, 0)
    m.add_site("a", 10, 0)
    m.add_site("b", 20, 0)
    m.add_agent("robot", "ground", "dock")
    m.set_costs("ground", [[c * unit for c in row]
                           for row in ([0, 10, 20], [10, 0, 10], [20, 10, 0])])
    return m


@pytest.mark.parametrize("unit", [1.0, 1000.0])
def test_progress_reports_speak_the_instance_units(unit):
    reports: list[orvik.ProgressReport] = []
    solution = _scaled_line(unit).solve(time_limit=5, progress=reports.append)
    assert solution.solved and solution.objective_value == 40 * unit
    improvements = [r for r in reports if r.improved]
    assert improvements and improvements[-1].best == solution.objective_value
    assert all(isinstance(r, orvik.ProgressReport) and r.phase == "search" for r in reports)


def test_a_stop_event_gives_an_interrupted_solution_with_routes():
    model = orvik.Model.from_json(scattered_instance(51, 3, 1))
    stop = threading.Event()
    solution = model.solve(60, progress=lambda report: report.improved and stop.set(),
                           stop=stop)
    assert solution.status == "interrupted" and solution.interrupted and not solution.solved
    assert len(solution.routes) == 3 and solution.check().ok
    report = solution.report().splitlines()
    assert report[:2] == ["status: interrupted",
                          "interrupted: these are the best routes found before the stop"]
    assert report[2].startswith("objective: min_max = ")
    again = Solution.from_json(solution.to_dict(), instance=model)
    assert again == solution and again.check().ok


def test_the_clock_is_chosen_and_reported():
    model = orvik.Model.from_json(scattered_instance(51, 3, 1))
    for clock in ("wall", "cpu"):
        solution = model.solve(0.3, clock=clock, improve=False)
        assert solution.statistics.clock == clock
        assert solution.statistics.timeout
        # The limit bounds the whole call: the search gets what the set-up leaves of it.
        assert solution.statistics.search_time >= 0.2
    with pytest.raises(ValueError, match="clock must be one of 'wall', 'cpu', got 'gpu'"):
        model.solve(1, clock="gpu")


@pytest.mark.parametrize("error", [RuntimeError("mine"), IndexError("mine"), ValueError("mine")])
def test_an_error_of_the_progress_callback_comes_out_as_it_was(error):
    def progress(report):
        raise error

    with pytest.raises(type(error), match="mine") as raised:
        _scaled_line(1.0).solve(5, progress=progress)
    assert not isinstance(raised.value, orvik.SolverError)


def test_the_solver_lines_go_to_the_core_logger(caplog, node_3_without_assignment):
    model = orvik.Model.from_json(node_3_without_assignment, validate=False)
    with caplog.at_level(logging.DEBUG, logger=CORE_LOGGER.name):
        model.solve(5, validate=False)
    records = [(r.levelno, r.getMessage()) for r in caplog.records if r.name == CORE_LOGGER.name]
    # The package names every node's types itself, so the solver has nothing to warn about;
    # its progress lines arrive at DEBUG.
    assert records and all(level == logging.DEBUG for level, _ in records)


@pytest.mark.parametrize(
    ("given", "own", "expected"),
    [(5.0, None, 5.0), (None, 7.0, 7.0), (None, None, 60.0), (0.0, 7.0, 7.0), (-1.0, None, 60.0)],
)
def test_the_budget_is_the_given_limit_else_the_models_else_60(given, own, expected):
    model = _scaled_line(1.0)
    model.time_limit = own
    assert budget_seconds(model, given) == expected


@pytest.mark.parametrize(
    ("options", "message"),
    [({"seed": -1}, "seed must be a whole number from 0 to 2**64 - 1, got -1"),
     ({"seed": 1.5}, "seed must be a whole number from 0 to 2**64 - 1, got 1.5"),
     ({"seed": 1 << 64}, "seed must be a whole number from 0 to 2**64 - 1"),
     ({"iterations": -2}, "iterations must be a whole number, 0 (no limit) or more, got -2"),
     ({"iterations": True}, "iterations must be a whole number, 0 (no limit) or more, got True")],
)
def test_seed_and_iterations_are_checked_before_solving(options, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        _scaled_line(1.0).solve(1, **options)


@pytest.mark.parametrize(
    ("arguments", "message"),
    [(["--seed", "-3"], "argument --seed: must be 0 or more, got -3"),
     (["--iterations", "x"], "argument --iterations: not a whole number: 'x'")],
)
def test_the_command_line_refuses_a_negative_seed_in_one_line(run_cli, tmp_path, arguments,
                                                              message):
    path = tmp_path / "line.json"
    _scaled_line(1.0).to_json(path)
    done = run_cli("solve", str(path), *arguments)
    assert done.returncode == 2
    assert done.stderr.splitlines()[-1].endswith(message)
    assert "Traceback" not in done.stderr


def _renamed(doc: dict, offset: int = 1000) -> dict:
    """The instance with node ids that are not the nodes' positions."""
    doc = json.loads(json.dumps(doc))
    for node in doc["nodes"]:
        node["id"] += offset
    for agent in doc["agents"]:
        agent["start_node"] += offset
        agent["end_node"] += offset
    for constraint in doc["constraints"]:
        for item in constraint["items"]:
            item["node"] += offset
    return doc


@pytest.mark.parametrize("improve", [True, False])
def test_progress_reports_carry_the_best_routes_in_the_callers_ids(improve):
    doc = _renamed(scattered_instance(41, 3, 2))
    reports: list[orvik.ProgressReport] = []
    solution = orvik.solve(doc, 2, improve=improve, seed=1, progress=reports.append)
    assert solution.routes
    carried = [r for r in reports if r.routes is not None]
    assert carried, "no report carried routes"
    ids = [node["id"] for node in doc["nodes"]]
    for report in carried:
        assert [r.agent for r in report.routes] == [100, 101, 102]
        assert all(isinstance(r, orvik.ProgressRoute) for r in report.routes)
        for route in report.routes:
            assert list(route.nodes) == [ids[p] for p in route.positions]
            assert route.nodes[0] == route.nodes[-1] == 1000
        # A whole solution of the instance, as the independent checker sees it, whose
        # objective is the report's best.
        check = orvik.check(doc, {"status": "solved",
                                  "routes": [r.to_dict() for r in report.routes]})
        assert check.ok, check.violations
        assert max(r.cost for r in report.routes) == pytest.approx(report.best)
    # The last routes reported are the solution's.
    assert [list(r.nodes) for r in carried[-1].routes] == [r.nodes for r in solution.routes]
    # Paced: far fewer reports with routes than improvements on a run that improves often.
    improvements = sum(r.improved for r in reports)
    assert len(carried) <= improvements + 1
    assert all(r.to_dict().keys() == {"phase", "elapsed", "work", "best", "improved"}
               for r in reports if r.routes is None)
