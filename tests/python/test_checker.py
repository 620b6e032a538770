"""The solution checker: recomputed costs and every kind of violation on hand-made results."""

import copy
import json

import pytest
from orvik import checker
from orvik.documents import InstanceError

# Car costs between vertices 0..4 (symmetric); the drone pays half, except 2.5 on 0 <-> 3.
_CAR = {(0, 1): 3, (0, 2): 4, (0, 3): 6, (0, 4): 5, (1, 2): 2, (1, 3): 7, (1, 4): 6,
        (2, 3): 3, (2, 4): 4, (3, 4): 2}


def _sym(table, i, j):
    return 0.0 if i == j else float(table[(min(i, j), max(i, j))])


def _instance():
    """Node ids differ from vertices; node 103 is drone-only; node 102 opens at 8."""
    car = [[_sym(_CAR, i, j) for j in range(5)] for i in range(5)]
    drone = [[c / 2 for c in row] for row in car]
    drone[0][3] = drone[3][0] = 2.5
    return {
        "nodes": [{"id": 100 + v, "x": v, "y": 0, "z": 0} for v in range(5)],
        "agents": [
            {"id": 7, "type": "car", "start_node": 100, "end_node": 100, "max_length": 40.9},
            {"id": 8, "type": "drone", "start_node": 100, "end_node": 100},
        ],
        "costs": {"car": car, "drone": drone},
        "constraints": [
            {"kind": "assignment", "items": [
                {"node": 103, "types": ["drone"]},
                {"node": 104, "types": ["car", "ghost"]},
            ]},
            {"kind": "timewindow", "items": [{"node": 102, "start": 8, "end": 20}]},
        ],
        "options": {"objective": "min_max"},
    }


def _result(car_path=(0, 1, 2, 4, 0), drone_path=(0, 3, 0), car_cost=17.0, drone_cost=5.0):
    """Car: 3 + 2 = 5, waits until 8, + 4 + 5 = 17. Drone: 2.5 + 2.5 = 5."""
    return {
        "status": "success",
        "timeout": False,
        "routes": [
            {"agent_id": 7, "path": list(car_path), "cost": car_cost},
            {"agent_id": 8, "path": list(drone_path), "cost": drone_cost},
        ],
        "statistics": {"max_cost": max(car_cost, drone_cost), "sum_cost": car_cost + drone_cost},
    }


def test_valid_result_passes_with_recomputed_costs():
    report = checker.check(_instance(), _result())
    assert report.ok, report.violations
    assert report.route_costs == [17.0, 5.0]
    assert (report.max_cost, report.sum_cost) == (17.0, 22.0)
    assert report.objective == "min_max" and report.objective_value == 17.0
    inst = _instance()
    inst["options"]["objective"] = "MinMax"  # only min_max / MIN_MAX select MinMax
    assert checker.check(inst, _result()).objective_value == 22.0


def _set_window_close(inst, close):
    inst["constraints"][1]["items"][0]["end"] = close


def _set_limit(inst, value):
    inst["agents"][0]["max_length"] = value


def _drop_entry(inst):
    inst["costs"]["car"][2] = inst["costs"]["car"][2][:4]  # no entry for 2 -> 4


@pytest.mark.parametrize(
    ("result", "mutate", "expected"),
    [
        pytest.param(_result(car_path=(0, 1, 4, 0), car_cost=14.0), None, "1 node(s) not served",
                     id="unserved"),
        pytest.param(_result(drone_path=(0, 3, 2, 0), drone_cost=8.0), None,
                     "served 2 times", id="served-twice"),
        pytest.param(_result(car_path=(1, 2, 4, 0), car_cost=14.0), None, "begins at vertex 1",
                     id="wrong-start"),
        pytest.param(_result(car_path=(0, 1, 2, 4), car_cost=12.0), None, "ends at vertex 4",
                     id="wrong-end"),
        pytest.param(_result(car_path=(0, 1, 2, 4, 3, 0), drone_path=(0,), car_cost=20.0,
                             drone_cost=0.0), None, "type 'car' may not serve vertex 3",
                     id="assignment"),
        pytest.param(_result(drone_path=(0, 4, 3, 0), car_path=(0, 1, 2, 0), car_cost=12.0,
                             drone_cost=6.0), None, "type 'drone' may not serve vertex 4",
                     id="assignment-ghost-type-ignored"),
        pytest.param(_result(), lambda i: _set_window_close(i, 4.5), "after its window closes",
                     id="time-window"),
        pytest.param(_result(), lambda i: _set_limit(i, 16.9), "exceeds its max_length 16",
                     id="route-limit"),
        pytest.param(_result(car_cost=10012.0), _drop_entry, "no connection (cost 9999)",
                     id="missing-matrix-entry"),
        pytest.param(_result(car_cost=17.01), None, "reported cost 17.01", id="route-cost"),
        pytest.param({**_result(), "statistics": {"max_cost": 17.0, "sum_cost": 21.0}}, None,
                     "statistics sum_cost", id="statistics"),
        pytest.param({**_result(), "status": "failed"}, None, "status is 'failed'", id="status"),
        pytest.param({**_result(), "routes": _result()["routes"][:1]}, None,
                     "1 routes for 2 agents", id="route-count"),
        pytest.param(_result(car_path=(0, 1, 0, 2, 4, 0), car_cost=19.0), None,
                     "passes through its own start or end", id="depot-in-the-middle"),
        pytest.param(_result(car_path=(0, 1, 9, 0)), None, "out of range", id="bad-vertex"),
    ],
)
def test_each_violation_is_reported(result, mutate, expected):
    inst = _instance()
    if mutate is not None:
        mutate(inst)
    report = checker.check(inst, result)
    assert not report.ok
    assert any(expected in line for line in report.violations), report.violations


def test_agent_id_is_checked_by_position():
    result = _result()
    result["routes"].reverse()
    report = checker.check(_instance(), result)
    assert any("agent_id 8, expected 7" in v for v in report.violations)


def test_limit_truncates_to_an_integer_and_allows_equality():
    inst = _instance()
    _set_limit(inst, 17.9)  # read as 17: a route of cost 17 is within it
    assert checker.check(inst, _result()).ok
    _set_limit(inst, 0)
    assert checker.check(inst, _result()).ok


@pytest.mark.parametrize("value", [2**32 + 5, 2**40, -(2**31) - 1, 2147483648.0])
def test_limit_outside_32_bits_is_refused_like_the_loader_does(value):
    inst = _instance()
    _set_limit(inst, value)
    with pytest.raises(ValueError, match="not a valid 32-bit integer"):
        checker.check(inst, _result())


def test_check_command_reports_an_unreadable_instance(tmp_path, capsys):
    from orvik.cli import main

    inst_file, result_file = tmp_path / "inst.json", tmp_path / "result.json"
    inst = _instance()
    _set_limit(inst, 2**32 + 5)
    inst_file.write_text(json.dumps(inst))
    result_file.write_text(json.dumps(_result()))
    assert main(["check", str(inst_file), str(result_file)]) == 2  # input it cannot use
    err = capsys.readouterr().err
    assert "max_length 4294967301 is not a valid 32-bit integer" in err
    assert "Traceback" not in err
    assert main(["check", str(tmp_path / "missing.json"), str(result_file)]) == 2
    assert len(capsys.readouterr().err.splitlines()) == 1


def test_arrival_at_close_is_allowed_and_waiting_counts():
    inst = _instance()
    _set_window_close(inst, 5.0)  # the car arrives at vertex 2 at exactly 5
    inst["constraints"][1]["items"][0]["start"] = 0.0
    report = checker.check(inst, _result(car_cost=14.0))
    assert report.ok, report.violations
    assert report.route_costs[0] == 14.0


def _open_routes_instance():
    """Two agents with distinct start (100, 101) and end (104) nodes, routes may end at start."""
    inst = _instance()
    inst["agents"] = [
        {"id": 1, "type": "car", "start_node": 100, "end_node": 104},
        {"id": 2, "type": "car", "start_node": 101, "end_node": 104},
    ]
    inst["constraints"] = []
    inst["options"] = {"return_to_end": False, "objective": "min_sum"}
    return inst


def test_open_routes_end_at_start_or_end_for_free():
    inst = _open_routes_instance()
    result = {
        "status": "success",
        "routes": [
            {"agent_id": 1, "path": [0, 2, 0], "cost": 4.0},  # back to start: last leg free
            {"agent_id": 2, "path": [1, 3, 4], "cost": 7.0},  # into its end: last leg free
        ],
    }
    report = checker.check(inst, result)
    assert report.ok, report.violations
    assert report.objective_value == 11.0
    # With return_to_end every leg is paid and a route may not end at its start.
    inst["options"]["return_to_end"] = True
    report = checker.check(inst, result)
    assert any("ends at vertex 0" in v for v in report.violations)
    assert any("recomputed 9.0" in v for v in report.violations)


def test_open_routes_may_not_enter_another_agents_start():
    inst = _open_routes_instance()
    result = {
        "status": "success",
        "routes": [
            {"agent_id": 1, "path": [0, 1, 2, 3, 0], "cost": 5.0},
            {"agent_id": 2, "path": [1], "cost": 0.0},
        ],
    }
    report = checker.check(inst, result)
    assert any("another agent's start node vertex 1" in v for v in report.violations)
    inst["options"]["return_to_end"] = True  # now passing through it is allowed ...
    result["routes"][0] = {"agent_id": 1, "path": [0, 1, 2, 3, 4], "cost": 10.0}
    report = checker.check(inst, result)
    # ... but agent 2 must still reach its end node.
    assert report.violations == [
        "route 1 (agent id 2): stays at its start but must end at vertex 4 (node id 104)"
    ]


def test_one_point_route_costs_nothing_when_start_is_end():
    inst = _instance()
    result = _result(car_path=(0, 1, 2, 4, 3, 0), car_cost=20.0, drone_path=(0,), drone_cost=0.0)
    inst["constraints"][0]["items"] = []
    report = checker.check(inst, result)
    assert report.ok, report.violations
    assert report.route_costs == [20.0, 0.0]


def test_check_command_exit_status(tmp_path, capsys):
    import argparse

    parser = argparse.ArgumentParser()
    checker.add_check_command(parser.add_subparsers(dest="command"))
    inst_file = tmp_path / "inst.json"
    inst_file.write_text(json.dumps(_instance()))
    good, bad = tmp_path / "good.json", tmp_path / "bad.json"
    good.write_text(json.dumps(_result()))
    bad.write_text(json.dumps(_result(car_cost=1.0)))
    args = parser.parse_args(["check", str(inst_file), str(good)])
    assert args.func(args) == 0
    args = parser.parse_args(["check", str(inst_file), str(bad)])
    assert args.func(args) == 1
    assert "violation: route 0" in capsys.readouterr().out


def test_instance_is_not_modified():
    inst = _instance()
    before = copy.deepcopy(inst)
    checker.check(inst, _result())
    assert inst == before


@pytest.mark.parametrize(
    ("window", "cost", "violation"),
    [
        pytest.param((10.0, 50.0), 17.0, None, id="waits-until-it-opens"),
        pytest.param((0.0, 50.0), 7.0, None, id="open-at-zero"),
        pytest.param((-5.0, -1.0), 7.0, "arrives at vertex 1 (node id 101) at 0.000000, after its "
                     "window closes at -1", id="closed-before-the-start"),
    ],
)
def test_a_window_at_the_start_node_counts(window, cost, violation):
    inst = _open_routes_instance()
    inst["constraints"] = [
        {"kind": "timewindow", "items": [{"node": 101, "start": window[0], "end": window[1]}]}
    ]
    result = {
        "status": "success",
        "routes": [
            {"agent_id": 1, "path": [0, 2, 0], "cost": 4.0},
            {"agent_id": 2, "path": [1, 3, 4], "cost": cost},  # 7 on the way, last leg free
        ],
    }
    report = checker.check(inst, result)
    assert report.route_costs == [4.0, cost]
    if violation is None:
        assert report.ok, report.violations
    else:
        assert report.violations == [f"route 1 (agent id 2): {violation}"]


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
def test_solver_and_checker_agree_on_a_window_at_the_depot(objective):
    import _orvik_core as core

    inst = _instance()
    inst["options"]["objective"] = objective
    inst["constraints"][1]["items"] = [{"node": 100, "start": 20, "end": 1000}]
    result = core.solve_json_str(json.dumps(inst), 5.0)
    report = checker.check(inst, result)
    assert report.ok, report.violations
    # Both agents leave at 20.
    assert min(report.route_costs) > 20.0


def _broken(path, value):
    """A copy of (instance, result) with the value at ``path`` ("instance" or "result" first)
    replaced, or removed when ``value`` is ``_GONE``."""
    documents = {"instance": _instance(), "result": _result()}
    *parents, last = path
    target = documents
    for key in parents:
        target = target[key]
    if value is _GONE:
        del target[last]
    else:
        target[last] = value
    return documents["instance"], documents["result"]


_GONE = object()


@pytest.mark.parametrize(
    ("path", "value", "words"),
    [
        (("result", "routes", 0), "x", "result: $.routes[0]: expected an object"),
        (("result", "routes", 0, "path"), "0 1", "result: $.routes[0].path: expected an array"),
        (("result", "statistics"), [1], "result: $.statistics: expected an object"),
        (("instance", "nodes"), [1, 2], "instance: $.nodes[0]: expected an object"),
        (("instance", "agents"), ["car"], "instance: $.agents[0]: expected an object"),
        (("instance", "costs", "car", 2), None, "instance: $.costs.car[2]: expected an array"),
        (("instance", "constraints", 0, "items", 0, "types"), _GONE,
         "instance: $.constraints[0].items[0]: missing required key 'types'"),
        (("instance", "constraints", 1, "items", 0, "end"), _GONE,
         "instance: $.constraints[1].items[0]: missing required key 'end'"),
        (("instance", "options"), [], "instance: $.options: expected an object"),
        (("instance", "constraints", 0), "assignment",
         "instance: $.constraints[0]: expected an object"),
        (("instance", "constraints", 1, "kind"), "timewindows",
         "instance: $.constraints[1].kind: 'timewindows' is not a constraint kind"),
        (("instance", "nodes", 2, "id"), 1.5, "instance: $.nodes[2].id: expected a whole number"),
        (("instance", "costs", "car", 1, 2), float("nan"),
         "instance: $.costs.car[1][2]: expected a finite number"),
        (("result", "routes", 0, "path", 1), "1",
         "result: $.routes[0].path[1]: expected a vertex"),
    ],
)
def test_what_the_checker_cannot_read_is_refused_in_one_line(path, value, words):
    instance, result = _broken(path, value)
    with pytest.raises(InstanceError) as raised:
        checker.check(instance, result)
    assert str(raised.value).startswith(words)
    assert "\n" not in str(raised.value)


def test_the_check_command_refuses_what_it_cannot_read_with_status_2(run_cli, tmp_path):
    instance, result = _broken(("instance", "nodes"), [1, 2])
    paths = tmp_path / "instance.json", tmp_path / "result.json"
    for path, document in zip(paths, (instance, result), strict=True):
        path.write_text(json.dumps(document))
    done = run_cli("check", *map(str, paths))
    assert done.returncode == 2
    assert done.stderr.splitlines() == [
        "orvik: instance: $.nodes[0]: expected an object, got a number"]


def _no_connection_leg():
    """A raw result whose route takes a leg the raw module reads as no connection."""
    instance = {"nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 1, "y": 0}],
                "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0}],
                "costs": {"car": [[0, 9999], [1, 0]]}}
    result = {"status": "success", "routes": [{"agent_id": 0, "path": [0, 1, 0],
                                              "cost": 10000.0}]}
    return instance, result


@pytest.mark.parametrize("scale", [None, 1.0, 1.5, 2.0])
def test_a_claimed_scale_changes_nothing(scale):
    instance, result = _no_connection_leg()
    if scale is not None:
        result["scale"] = scale
    report = checker.check(instance, result)
    assert any("has no connection" in v for v in report.violations), report.violations


def test_a_solution_of_the_package_reads_9999_as_a_cost():
    """The package solves such an instance in scaled units, where 9999 is a cost."""
    instance, result = _no_connection_leg()
    result["status"] = "solved"
    assert checker.check(instance, result).ok


def _one_leg_instance(leg):
    """One car and one site: the route 0 -> 1 -> 0 costs twice ``leg``."""
    return {"nodes": [{"id": 0, "x": 0, "y": 0, "type": "DEPOT"}, {"id": 1, "x": 1, "y": 0}],
            "agents": [{"id": 7, "type": "car", "start_node": 0, "end_node": 0}],
            "costs": {"car": [[0, leg], [leg, 0]]}}


def _rounded_result(cost):
    return {"status": "success", "routes": [{"agent_id": 7, "path": [0, 1, 0], "cost": cost}],
            "statistics": {"max_cost": cost, "sum_cost": cost}}


@pytest.mark.parametrize(("leg", "reported", "tolerance", "ok"), [
    # 168.037018530 to 3 decimals: within 1e-6 of its size.
    (84.018509265, 168.037, None, True),
    # 1.2345 to 3 decimals: 5e-4 off, beyond the default, within a tolerance of 1e-3.
    (0.61725, 1.235, None, False),
    (0.61725, 1.235, 1e-3, True),
    (0.61725, 1.237, 1e-3, False),
    (0.61725, 1.2345, 0.0, True),
])
def test_reported_costs_are_held_to_a_tolerance(run_cli, tmp_path, leg, reported, tolerance, ok):
    instance, result = tmp_path / "instance.json", tmp_path / "result.json"
    instance.write_text(json.dumps(_one_leg_instance(leg)))
    result.write_text(json.dumps(_rounded_result(reported)))
    given = [] if tolerance is None else ["--tolerance", str(tolerance)]
    done = run_cli("check", str(instance), str(result), *given)
    assert done.returncode == (0 if ok else 1), done.stdout + done.stderr
    used = f"{1e-6 if tolerance is None else tolerance:g}"
    assert (f"reported costs held to the recomputed ones within {used} (absolute) or {used} "
            "(relative), whichever is looser") in done.stdout.splitlines()
    report = checker.check(_one_leg_instance(leg), _rounded_result(reported),
                           **({} if tolerance is None else
                              {"cost_tolerance": tolerance, "cost_rel_tolerance": tolerance}))
    assert report.ok is ok
    if not ok:
        assert any(v.startswith("route 0: reported cost") for v in report.violations)


@pytest.mark.parametrize("tolerance", ["-1", "nan", "inf", "x"])
def test_a_bad_tolerance_is_one_line(run_cli, tmp_path, tolerance):
    instance, result = tmp_path / "instance.json", tmp_path / "result.json"
    instance.write_text(json.dumps(_one_leg_instance(1.0)))
    result.write_text(json.dumps(_rounded_result(2.0)))
    done = run_cli("check", str(instance), str(result), "--tolerance", tolerance)
    assert done.returncode == 2
    assert "--tolerance" in done.stderr and "Traceback" not in done.stderr
    with pytest.raises(ValueError, match="cost_tolerance must be a number of 0 or more"):
        checker.check(_one_leg_instance(1.0), _rounded_result(2.0),
                      cost_tolerance=float(tolerance) if tolerance != "x" else tolerance)
