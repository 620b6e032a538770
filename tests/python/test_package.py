"""The orvik package: its re-exports and the orvik command line."""

import json

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


def test_solve_prints_status_routes_and_statistics(run_cli, two_agents_shared_depot):
    expected = core.solve_json_file(str(two_agents_shared_depot))
    done = run_cli("solve", str(two_agents_shared_depot), "--time-limit", "5")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert "status: success" in lines
    for route in expected["routes"]:
        path = " ".join(str(v) for v in route["path"])
        assert any(line.startswith(f"agent {route['agent_id']}: [{path}] cost ") for line in lines)
    for key in expected["statistics"]:
        assert any(line.startswith(f"{key}: ") for line in lines)


def test_solve_json_prints_only_the_dictionary(run_cli, two_agents_shared_depot):
    expected = core.solve_json_file(str(two_agents_shared_depot))
    done = run_cli("solve", str(two_agents_shared_depot), "--json")
    assert done.returncode == 0, done.stderr
    printed = json.loads(done.stdout)
    assert list(printed) == list(expected)
    assert printed["routes"] == expected["routes"]


def test_solve_reports_a_failed_search(run_cli, target_no_agent_may_serve):
    done = run_cli("solve", str(target_no_agent_may_serve))
    assert done.returncode == 1
    assert "status: failed" in done.stdout.splitlines()


@pytest.mark.parametrize(
    ("fixture", "message"),
    [
        (None, "orvik: Cannot open file: /nonexistent/instance.json"),
        ("node_missing_x", "orvik: [json.exception.out_of_range.403] key 'x' not found"),
        ("agent_start_not_a_node", "orvik: _Map_base::at"),
        (
            "agents_of_two_types_under_one_id",
            (
                "orvik: agents at positions 0 and 1 share id 7 but have different types 'car' and "
                "'drone'; give agents of different types their own ids"
            ),
        ),
    ],
)
def test_solve_reports_errors_on_standard_error(run_cli, request, fixture, message):
    path = "/nonexistent/instance.json" if fixture is None else str(request.getfixturevalue(fixture))
    done = run_cli("solve", path)
    assert done.returncode == 1
    assert message in done.stderr.splitlines()
    assert done.stdout == ""


def test_solve_keeps_progress_lines_before_the_summary(run_cli, one_weight_update):
    done = run_cli("solve", str(one_weight_update))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[:2] == ["w = 1", "status: success"]


def test_solve_json_moves_progress_lines_to_standard_error(run_cli, one_weight_update):
    done = run_cli("solve", str(one_weight_update), "--json")
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["status"] == "success"
    assert done.stderr.splitlines() == ["w = 1"]
