"""The improvement mode: options, JSON entry points, object API and the command line."""

from __future__ import annotations

import json
import math
from typing import Any

import _orvik_core as core
import pytest
from orvik.checker import check

RESULT_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]
STATISTICS_KEYS = [
    "solve_time",
    "max_cost",
    "sum_cost",
    "n_generated",
    "n_expanded",
    "last_update_time",
]


def grid_instance(
    points: int,
    agents: int,
    objective: str = "min_max",
    windows: bool = False,
    **options: Any,
) -> dict[str, Any]:
    """Points on a jittered grid, point 0 the depot of every agent; Euclidean costs."""
    xy = [((v % 13) * 7.0 + (v * 37) % 5, (v // 13) * 6.0 + (v * 53) % 7) for v in range(points)]
    nodes = [
        {"id": v, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if v == 0 else "TARGET"}
        for v, (x, y) in enumerate(xy)
    ]
    matrix = [[math.dist(a, b) for b in xy] for a in xy]
    constraints: list[dict[str, Any]] = [
        {"kind": "assignment", "items": [{"node": v, "types": ["robot"]} for v in range(points)]}
    ]
    if windows:
        items = [
            {"node": v, "start": xy[v][0], "end": xy[v][0] + 400.0}
            for v in range(1, points)
            if v % 3 == 0
        ]
        constraints.append({"kind": "timewindow", "items": items})
    return {
        "nodes": nodes,
        "agents": [
            {"id": a, "type": "robot", "start_node": 0, "end_node": 0} for a in range(agents)
        ],
        "costs": {"robot": matrix},
        "constraints": constraints,
        "options": {"objective": objective, "time_limit": 30.0, **options},
    }


def objective_value(instance: dict[str, Any], result: dict[str, Any]) -> float:
    report = check(instance, result)
    assert report.ok, report.violations
    return report.objective_value


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
@pytest.mark.parametrize("windows", [False, True], ids=["plain", "windows"])
def test_improvement_returns_checked_routes_no_worse_than_the_search(objective, windows):
    instance = grid_instance(30, 3, objective, windows)
    searched = core.solve_json_str(json.dumps(instance), 1.0)
    instance["options"].update(improve=True, seed=3, improve_iterations=200)
    improved = core.solve_json_str(json.dumps(instance))
    assert list(improved) == RESULT_KEYS
    assert list(improved["statistics"]) == STATISTICS_KEYS
    assert improved["status"] == "success"
    assert improved["timeout"] is False
    value = objective_value(instance, improved)
    if searched["status"] == "success":
        assert value <= objective_value(instance, searched) + 1e-9
    # The history ends with the reported objective value (it lists improvements of the value
    # alone, so a later solution that only shortens other routes under MinMax is not in it).
    history = improved["anytime"]
    assert history
    key = "max_cost" if objective == "min_max" else "sum_cost"
    assert history[-1][key] == pytest.approx(improved["statistics"][key])
    assert history[-1]["time"] <= improved["statistics"]["last_update_time"]
    assert [entry["time"] for entry in history] == sorted(entry["time"] for entry in history)


def test_same_seed_and_iteration_limit_give_the_same_routes():
    instance = grid_instance(25, 4, "min_sum", improve=True, seed=11, improve_iterations=80)
    first = core.solve_json_str(json.dumps(instance))
    second = core.solve_json_str(json.dumps(instance))
    assert first["routes"] == second["routes"]


def test_above_256_points_improvement_solves_and_the_search_alone_refuses():
    instance = grid_instance(300, 5, "min_max", improve=True, improve_iterations=5)
    result = core.solve_json_str(json.dumps(instance))
    assert result["status"] == "success"
    objective_value(instance, result)
    assert result["statistics"]["n_generated"] == 0
    instance["options"]["improve"] = False
    with pytest.raises(RuntimeError, match="the instance has 300 points"):
        core.solve_json_str(json.dumps(instance))


def test_a_point_no_agent_may_serve_fails_with_the_reason(capfd):
    instance = grid_instance(6, 2, improve=True)
    instance["constraints"][0]["items"][4]["types"] = ["drone"]
    result = core.solve_json_str(json.dumps(instance))
    assert result["status"] == "failed"
    assert all(route["path"] == [] for route in result["routes"])
    assert capfd.readouterr().err.splitlines() == [
        "[warning] point 4 (node id 4) cannot be served: no agent's type may serve it"
    ]


def test_a_window_no_agent_can_meet_fails_with_the_point_and_how_late(capfd):
    instance = grid_instance(6, 2, improve=True, improve_iterations=100)
    instance["constraints"].append(
        {"kind": "timewindow", "items": [{"node": 4, "start": 0.0, "end": 1.0}]}
    )
    result = core.solve_json_str(json.dumps(instance))
    assert result["status"] == "failed"
    warnings = [line for line in capfd.readouterr().err.splitlines() if "[warning]" in line]
    assert len(warnings) == 1
    assert warnings[0].startswith(
        "[warning] no solution found within the limit: the closest routes found arrive after "
        "the window closes at 1 point (point 4 (node id 4) by "
    )


@pytest.mark.parametrize(
    ("options", "message"),
    [
        ({"improve": "yes"}, "type must be boolean, but is string"),
        ({"improve_iterations": -1}, "key 'improve_iterations' has value -1"),
        ({"seed": "7"}, "type must be number, but is string"),
    ],
)
def test_bad_improvement_options_are_refused(options, message):
    instance = grid_instance(4, 1, **options)
    with pytest.raises(RuntimeError, match=message):
        core.solve_json_str(json.dumps(instance))


def test_object_api_improves_and_refuses_a_negative_iteration_limit(load_problem, tmp_path):
    path = tmp_path / "grid.json"
    path.write_text(json.dumps(grid_instance(20, 2)), encoding="utf-8")
    problem = load_problem(path)
    options = problem.options()
    options.improve = True
    options.seed = 5
    options.improve_iterations = 40
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    result = solver.get_result()
    assert sorted(v for path in result.paths.values() for v in path[1:-1]) == list(range(1, 20))
    snapshots = solver.get_result_process()
    assert snapshots[-1][1].paths == result.paths
    options.improve_iterations = -1
    with pytest.raises(ValueError, match="improve_iterations must be 0"):
        core.Solver(problem, options)


# ---------------------------------------------------------------------------------------------
# The command line


@pytest.fixture
def grid_file(tmp_path):
    """A 12-point grid instance for two robots, MinSum, as a file."""
    path = tmp_path / "grid.json"
    path.write_text(json.dumps(grid_instance(12, 2, "min_sum")), encoding="utf-8")
    return path


def test_cli_improves_by_default(run_cli, grid_file):
    plain = run_cli("solve", str(grid_file), "--json", "--no-improve", "--time-limit", "5")
    improved = run_cli("solve", str(grid_file), "--json", "--time-limit", "5")
    assert plain.returncode == 0, plain.stderr
    assert improved.returncode == 0, improved.stderr
    plain_doc, improved_doc = json.loads(plain.stdout), json.loads(improved.stdout)
    assert improved_doc["status"] == "solved"
    assert improved_doc["objective_value"] <= plain_doc["objective_value"] + 1e-9


def test_cli_seed_fixes_the_routes(run_cli, grid_file):
    runs = [run_cli("solve", str(grid_file), "--json", "--seed", "4") for _ in range(2)]
    for done in runs:
        assert done.returncode == 0, done.stderr
    first, second = (json.loads(done.stdout) for done in runs)
    assert first["routes"] == second["routes"]


def test_cli_reports_a_point_that_cannot_be_served(run_cli, target_no_agent_may_serve):
    done = run_cli("solve", str(target_no_agent_may_serve), "--no-validate")
    assert done.returncode == 1
    assert (
        "[warning] point 2 (node id 3) cannot be served: no agent's type may serve it"
        in done.stderr.splitlines()
    )
