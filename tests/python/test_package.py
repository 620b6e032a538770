"""The orvik package: its re-exports and the orvik command line."""

import json
import re

import _orvik_core as core
import orvik
import pytest

PUBLIC = [name for name in vars(core) if not name.startswith("_")]


@pytest.mark.parametrize("name", PUBLIC)
def test_package_re_exports_the_module(name):
    assert getattr(orvik, name) is getattr(core, name)
    assert name in orvik.__all__


def test_version_is_a_string():
    assert isinstance(orvik.__version__, str)


def test_info(run_cli, two_agents_shared_depot):
    done = run_cli("info", str(two_agents_shared_depot))
    assert done.returncode == 0, done.stderr
    assert "nodes: 7" in done.stdout.splitlines()
    assert "agents: 2" in done.stdout.splitlines()


def test_solve_positions_prints_status_routes_and_statistics(run_cli, two_agents_shared_depot):
    expected = core.solve_json_file(str(two_agents_shared_depot))
    done = run_cli(
        "solve", str(two_agents_shared_depot), "--time-limit", "5", "--positions", "--no-improve"
    )
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert "status: solved" in lines  # the package's word, as in every other view
    for route in expected["routes"]:
        path = " ".join(str(v) for v in route["path"])
        assert any(line.startswith(f"agent {route['agent_id']}: [{path}] cost ") for line in lines)
    for key in expected["statistics"]:
        assert any(line.startswith(f"{key}: ") for line in lines)


def test_solve_json_prints_only_the_solution_document(run_cli, two_agents_shared_depot):
    expected = core.solve_json_file(str(two_agents_shared_depot))
    done = run_cli("solve", str(two_agents_shared_depot), "--json", "--no-improve")
    assert done.returncode == 0, done.stderr
    printed = json.loads(done.stdout)
    assert printed["status"] == "solved"
    assert [(r["agent_id"], r["path"], r["cost"]) for r in printed["routes"]] == [
        (r["agent_id"], r["path"], r["cost"]) for r in expected["routes"]
    ]


def test_solve_reports_a_failed_search(run_cli, target_no_agent_may_serve):
    done = run_cli("solve", str(target_no_agent_may_serve))
    assert done.returncode == 1
    lines = done.stdout.splitlines()
    assert "status: no solution" in lines
    assert "reason: site 3: no agent may serve it (its allowed types are no agent's type)" in lines


@pytest.mark.parametrize(
    ("fixture", "message", "status"),
    [
        (None, "orvik: /nonexistent/instance.json: no such file", 2),
        ("node_missing_x", "{path}: error: $.nodes[0]: missing required key 'x'", 2),
        ("agent_start_not_a_node", "{path}: error: $.agents[0].start_node: no node has id 5", 2),
        (
            "agents_of_two_types_under_one_id",
            "{path}: error: $.agents[1].id: agent id 7 repeats that of $.agents[0]",
            2,
        ),
    ],
)
def test_solve_reports_errors_on_standard_error(run_cli, request, fixture, message, status):
    path = "/nonexistent/instance.json" if fixture is None else str(request.getfixturevalue(fixture))
    done = run_cli("solve", path)
    assert done.returncode == status
    assert message.format(path=path) in done.stderr.splitlines()
    assert "Traceback" not in done.stderr
    assert done.stdout == ""


def test_solve_keeps_progress_lines_before_the_summary(run_cli, one_weight_update):
    done = run_cli("solve", str(one_weight_update))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[:2] == ["w = 1", "status: solved"]


def test_solve_json_moves_progress_lines_to_standard_error(run_cli, one_weight_update):
    done = run_cli("solve", str(one_weight_update), "--json")
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["status"] == "solved"
    assert "w = 1" in done.stderr.splitlines()
    # Besides, standard error holds the live progress: its first line and one per improvement.
    live = re.compile(r"^(solving .*|\s*\d+\.\d\d s  min_\w+ .* \w+/s)$")
    assert all(line == "w = 1" or ": warning: " in line or live.match(line)
               for line in done.stderr.splitlines())
