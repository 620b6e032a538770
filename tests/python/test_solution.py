"""Model.solve and Solution: routes in the caller's ids, schedules, JSON, the checker, units."""

import json

import orvik
import pytest
from orvik.diagnosis import no_solution_reasons
from orvik.units import solver_document, unit_scale


def _line(unit=1.0, window=(0.0, 1000.0), limit=None):
    """A dock at 0 and sites "a" (10 away), "b" (20 away) on a line; "b" opens at 30.

    The one robot goes dock -> a -> b -> dock: a at 10, b at 20 then waits until 30, back at
    50. ``unit`` multiplies every cost, window bound and limit.
    """
    m = orvik.Model(objective="min_sum")
    m.add_depot("dock", 0, 0)
    m.add_site("a", 10, 0)
    m.add_site("b", 20, 0, window=(30 * unit, window[1] * unit))
    m.add_agent("robot", "ground", "dock", max_length=None if limit is None else limit * unit)
    m.set_costs("ground", [[c * unit for c in row]
                           for row in ([0, 10, 20], [10, 0, 10], [20, 10, 0])])
    return m


def test_routes_and_schedules_speak_the_models_ids():
    solution = _line().solve(time_limit=2)
    assert solution.status == "solved" and solution.solved
    (route,) = solution.routes
    assert (route.agent, route.agent_type, route.cost) == ("robot", "ground", 50.0)
    assert route.nodes in (["dock", "a", "b", "dock"], ["dock", "b", "a", "dock"])
    if route.nodes[1] == "a":
        expected = [(0, 0, 0), (10, 0, 10), (20, 10, 30), (50, 0, 50)]
        assert [(s.arrival, s.wait, s.departure) for s in route.stops] == expected
    assert route.positions == [{"dock": 0, "a": 1, "b": 2}[n] for n in route.nodes]
    assert route.sites == route.nodes[1:-1]
    assert (solution.objective, solution.objective_value) == ("min_sum", 50.0)
    assert solution.objective_meaning == "the sum of the route costs"
    assert solution.route("robot") is route
    assert "Route(agent='robot', cost=50" in repr(solution)


def test_a_solution_round_trips_through_json(tmp_path):
    model = _line()
    solution = model.solve(time_limit=2)
    path = tmp_path / "result.json"
    solution.to_json(path)
    again = orvik.Solution.from_json(path, instance=model)
    assert again == solution
    assert again.check().ok
    assert json.loads(path.read_text())["routes"][0]["nodes"] == solution.routes[0].nodes


def test_check_agrees_with_orvik_check(tmp_path, run_cli):
    instance = tmp_path / "instance.json"
    result = tmp_path / "result.json"
    _line().to_json(instance)
    done = run_cli("solve", str(instance), "--time-limit", "2", "-o", str(result))
    assert done.returncode == 0, done.stderr
    solution = orvik.Solution.from_json(result)
    report = solution.check(instance)
    checked = run_cli("check", str(instance), str(result))
    assert checked.returncode == 0, checked.stdout
    assert checked.stdout.splitlines()[-1] == report.summary()
    assert report.ok and report.route_costs == [r.cost for r in solution.routes]


def test_check_finds_a_tampered_solution(tmp_path, run_cli):
    model = _line()
    doc = model.solve(time_limit=2).to_dict()
    doc["routes"][0]["cost"] = 1.0
    report = orvik.Solution.from_json(doc, instance=model).check()
    assert not report.ok
    assert any("reported cost 1.0" in v for v in report.violations)


@pytest.mark.parametrize(
    ("largest", "factor"),
    [(9998.9, 1.0), (9999.0, 2.0), (19997.0, 2.0), (19998.0, 4.0), (100000.0, 16.0)],
)
def test_the_scale_is_the_smallest_power_of_two_below_no_connection(largest, factor):
    doc = _line().to_dict()
    doc["costs"]["ground"][0][2] = largest
    assert unit_scale(doc).factor == factor


@pytest.mark.parametrize("unit", [1000.0, 1 / 64])
def test_large_or_small_units_give_the_same_solution(unit):
    plain = _line(window=(0, 100), limit=60).solve(time_limit=2)
    scaled = _line(unit, window=(0, 100), limit=60).solve(time_limit=2)
    assert scaled.status == "solved", scaled.reasons
    assert scaled.routes[0].nodes == plain.routes[0].nodes
    assert scaled.objective_value == plain.objective_value * unit
    assert [s.arrival for s in scaled.routes[0].stops] == [
        s.arrival * unit for s in plain.routes[0].stops]
    # Large units reach 9999; in small ones the limit of 60/64 is no whole number, and the
    # solver, which reads limits as whole numbers, works in sixteenths so that it holds.
    assert scaled.notes and ("reaches 9999" if unit > 1 else "not a whole number") in \
        scaled.notes[0]
    assert scaled.check().ok


def test_a_limit_the_factor_does_not_divide_is_tightened_and_said():
    model = _line()
    model.add_agent("spare", "ground", "dock", max_length=10001)
    model.set_costs("ground", [[0, 10, 12000], [10, 0, 10], [12000, 10, 0]])
    scale = unit_scale(model.to_dict())
    assert scale.factor == 2.0
    assert scale.notes[1] == ("agent spare (agents[1]): max_length 10001 is applied as 10000, "
                              "because the solver reads limits as whole numbers of the scaled "
                              "unit 2")
    doc = solver_document(model.to_dict(), scale, improve=False, seed=3)
    assert doc["agents"][1]["max_length"] == 5000.5  # the solver truncates it to 5000
    assert doc["options"]["improve"] is False and doc["options"]["seed"] == 3


def test_no_connection_reaches_the_solver_as_9999():
    m = orvik.Model()
    m.add_depot(0, 0, 0)
    m.add_site(1, 1, 0)
    m.add_agent(0, "car", 0)
    m.set_costs("car", [[0, None], [2, 0]])
    assert m.to_dict()["costs"] == {"car": [[0.0, None], [2.0, 0.0]]}
    assert orvik.validate(m.to_dict()).ok
    doc = solver_document(m.to_dict(), unit_scale(m.to_dict()))
    assert doc["costs"]["car"] == [[0.0, 9999.0], [2.0, 0.0]]
    assert doc["constraints"] == [{"kind": "assignment",
                                   "items": [{"node": 0, "types": ["car"]},
                                             {"node": 1, "types": ["car"]}]}]
    solution = m.solve(time_limit=1)  # the solver never travels the missing connection
    assert (solution.status, solution.routes) == ("no solution", ())
    assert solution.reasons == (
        ("site 1: no agent allowed to serve it (car) can reach it from its start and go on to "
        "its end: the costs have no connection"),
    )


def _with(mutate):
    model = _line()
    mutate(model)
    return model


@pytest.mark.parametrize(
    ("mutate", "reason"),
    [
        (lambda m: m.add_site("c", 5, 5, types=["drone"]),
         "site c: no agent may serve it (its allowed types are no agent's type)"),
        (lambda m: m.add_site("c", 5, 5, window=(0, 15)),
         ("site c: its window closes at 15, but the earliest arrival is 20 (agent robot straight "
         "from its start)")),
        (lambda m: m.add_agent("short", "drone", "dock", max_length=30) and m.add_site(
            "c", 5, 5, types=["drone"]),
         ("site c: every agent allowed to serve it has a max_length below the cheapest trip "
         "through it (agent short: trip 40 > max_length 30)")),
        (lambda m: m.add_site("c", 5, 5, types=["drone"]) and m.add_agent(
            "rover", "ground", "dock", end="c"),
         "agent rover cannot end its route: its type ground may not serve its end node c"),
        (lambda m: m.add_site("c", 5, 5, types=["drone"]) and m.add_site(
            "d", 5, 9, types=["drone"]) and m.add_agent("rover", "ground", "d", end="c") and (
            setattr(m, "return_to_end", False)),
         ("agent rover cannot end its route: its type ground may not serve its end node c, nor "
          "its start node d, where an open route may end too")),
    ],
)
def test_reasons_for_no_solution(mutate, reason):
    def build(model):
        mutate(model)
        n = len(model.nodes)
        for kind in model.agent_types:
            model.set_costs(kind, [[0 if i == j else (20 if 3 in (i, j) else 10 * abs(i - j))
                                    for j in range(n)] for i in range(n)])
    model = _with(build)
    assert no_solution_reasons(model.to_dict()) == [reason]
    solution = model.solve(time_limit=1)
    assert solution.status == "no solution"
    assert reason in solution.reasons
    # No objective value where there are no routes.
    assert repr(solution).startswith(f"Solution(status='no solution', objective="
                                     f"{solution.objective!r}, reasons=[")
    assert "=0" not in repr(solution)


def test_solving_an_invalid_model_lists_the_errors():
    model = _line()
    model.add_agent("drone", "drone", "dock")
    with pytest.raises(orvik.ValidationError) as raised:
        model.solve(time_limit=1)
    assert "$.agents[1].type: agent type 'drone' has no cost matrix" in str(raised.value)


def test_the_report_tells_agent_1_from_agent_text_1():
    m = orvik.Model()
    m.add_depot("0", 0, 0)
    m.add_site(5, 1, 0)
    m.add_site("x y", 2, 0)
    m.add_agent(1, "car", "0")
    m.add_agent("1", "car", "0")
    m.costs_from_coordinates("car")
    report = m.solve(1).report()
    headers = [line.split(" (")[0] for line in report.splitlines() if line.startswith("agent ")]
    assert headers == ["agent 1", 'agent "1"']
    assert '"0" -> ' in report and '"x y"' in report
