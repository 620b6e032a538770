"""Solver: construction, search, results and the recorded solutions."""

import gc
import itertools
import json

import _orvik_core as core
import pytest


def snapshot(result):
    return (
        result.paths,
        result.times,
        result.n_generated,
        result.n_expanded,
        result.timeout,
    )


def make_node(node_id, x=0.0, depot=False):
    node = core.Node()
    node.id = node_id
    node.position.x = x
    if depot:
        node.type = core.NodeType.DEPOT
    return node


def make_agent(agent_id, agent_type="car", start=0, end=0):
    agent = core.Agent()
    agent.id = agent_id
    agent.type = agent_type
    agent.start_node = start
    agent.end_node = end
    return agent


def line_problem(count, agent_id=1, filed_as=None):
    """`count` nodes on a line, ids 0..count-1, one agent from and to node 0, all served by 'car'."""
    problem = core.Problem()
    assignment = core.AssignmentConstraint()
    for k in range(count):
        problem.add_node(make_node(k, float(k), depot=k == 0))
        assignment.set_assignment(k, ["car"])
    problem.add_agent(make_agent(agent_id), agent_id if filed_as is None else filed_as)
    problem.set_cost_matrix("car", [[float(abs(a - b)) for b in range(count)] for a in range(count)])
    problem.set_assignment_constraint(assignment)
    return problem


@pytest.fixture
def depot_problem(two_agents_shared_depot, load_problem):
    """The two-agent instance built through the object API."""
    return load_problem(two_agents_shared_depot)


def test_result_before_the_search(depot_problem):
    solver = core.Solver(depot_problem, depot_problem.options())
    result = solver.get_result()
    assert (result.paths, result.times) == ({}, {})
    assert (result.n_generated, result.n_expanded, result.timeout, result.last_update_time) == (0, 0, False, 0.0)
    assert solver.get_result_process() == []


def test_solve_finds_routes_keyed_by_agent_position(depot_problem):
    solver = core.Solver(problem=depot_problem, options=depot_problem.options())
    assert solver.solve() == 1
    result = solver.get_result()
    assert sorted(result.paths) == [0, 1] and sorted(result.times) == [0, 1]
    assert all(path[0] == 0 for path in result.paths.values())
    assert result.n_generated >= result.n_expanded > 0
    assert result.timeout is False
    assert result.last_update_time >= 0.0


def test_result_attributes_are_read_only_copies(depot_problem):
    solver = core.Solver(depot_problem, depot_problem.options())
    solver.solve()
    result = solver.get_result()
    for name in ("paths", "times", "n_generated", "n_expanded", "timeout", "last_update_time"):
        with pytest.raises(AttributeError):
            setattr(result, name, getattr(result, name))
    paths = result.paths
    paths[0].append(99)
    paths.clear()
    assert result.paths and 99 not in result.paths[0]
    assert result.paths is not result.paths


def test_results_outlive_the_solver(depot_problem):
    solver = core.Solver(depot_problem, depot_problem.options())
    solver.solve()
    result = solver.get_result()
    process = solver.get_result_process()
    expected = snapshot(result)
    del solver
    gc.collect()
    assert snapshot(result) == expected
    assert all(isinstance(r.paths, dict) for _, r in process)


def test_recorded_solutions_come_in_pairs_with_rising_time_stamps(depot_problem):
    solver = core.Solver(depot_problem, depot_problem.options())
    solver.solve()
    process = solver.get_result_process()
    assert len(process) >= 2 and len(process) % 2 == 0
    assert all(type(item) is tuple and len(item) == 2 for item in process)
    assert all(type(t) is float and isinstance(r, core.Result) for t, r in process)
    stamps = [t for t, _ in process]
    assert stamps == sorted(stamps)
    # The final result is the last recorded solution.
    assert process[-1][1].paths == solver.get_result().paths
    assert process[-1][1].times == solver.get_result().times
    # Every call gives new, equal copies.
    again = solver.get_result_process()
    assert again is not process and again[0][1] is not process[0][1]
    assert [(t, snapshot(r)) for t, r in again] == [(t, snapshot(r)) for t, r in process]


def test_search_without_solution_returns_zero(target_no_agent_may_serve, load_problem):
    problem = load_problem(target_no_agent_may_serve)
    solver = core.Solver(problem, problem.options())
    assert solver.solve() == 0
    assert solver.get_result().paths == {}
    assert solver.get_result_process() == []


def test_second_solve_repeats_the_search(depot_problem):
    solver = core.Solver(depot_problem, depot_problem.options())
    assert solver.solve() == 1
    first = snapshot(solver.get_result())
    first_process = [snapshot(r) for _, r in solver.get_result_process()]
    assert solver.solve() == 1
    assert snapshot(solver.get_result()) == first
    assert [snapshot(r) for _, r in solver.get_result_process()] == first_process


def test_solver_works_on_its_own_copy_of_the_problem(two_agents_shared_depot, load_problem):
    reference = load_problem(two_agents_shared_depot)
    expected_solver = core.Solver(reference, reference.options())
    expected_solver.solve()
    expected = snapshot(expected_solver.get_result())

    problem = load_problem(two_agents_shared_depot)
    solver = core.Solver(problem, problem.options())
    # Later changes to the problem, or its end, do not reach the solver.
    problem.nodes()[1].id = 12345
    problem.add_node(make_node(777))
    problem.set_cost_matrix("car", [[0.0]])
    blocked = core.AssignmentConstraint()
    blocked.set_assignment(101, ["drone"])
    problem.set_assignment_constraint(blocked)
    del problem
    gc.collect()
    assert solver.solve() == 1
    assert snapshot(solver.get_result()) == expected


def test_constraints_are_copied_when_set(two_agents_shared_depot, load_problem):
    problem = load_problem(two_agents_shared_depot)
    assignment = core.AssignmentConstraint()
    for node in problem.nodes():
        assignment.set_assignment(node.id, ["car"])
    problem.set_assignment_constraint(assignment)
    # Changing the argument afterwards leaves the problem's table as it was set.
    assignment.set_assignment(problem.nodes()[1].id, ["drone"])
    assert core.Solver(problem, problem.options()).solve() == 1


def test_solver_runs_with_its_own_options_not_the_problems(depot_problem):
    depot_problem.options().time_limit = 5.0
    assert depot_problem.options().time_limit == 5.0
    separate = core.Options()
    assert separate.time_limit == 60.0
    # The problem's own options would stop the search at once; the solver never reads them.
    depot_problem.options().time_limit = 0.0
    solver = core.Solver(depot_problem, separate)
    assert solver.solve() == 1
    assert solver.get_result().timeout is False
    stopped = core.Solver(depot_problem, depot_problem.options())
    stopped.solve()
    assert stopped.get_result().timeout is True


def test_options_are_copied_at_construction(depot_problem):
    options = core.Options()
    solver = core.Solver(depot_problem, options)
    options.time_limit = 0.0
    solver.solve()
    assert solver.get_result().timeout is False


def test_objective_comes_from_the_solver_options(two_agents_shared_depot, load_problem):
    results = {}
    for objective in (core.ObjectiveType.MinSum, core.ObjectiveType.MinMax):
        problem = load_problem(two_agents_shared_depot)
        options = core.Options()
        options.objective = objective
        # The problem's options say the opposite; they must not matter.
        problem.options().objective = (
            core.ObjectiveType.MinMax if objective == core.ObjectiveType.MinSum else core.ObjectiveType.MinSum
        )
        solver = core.Solver(problem, options)
        solver.solve()
        results[objective.name] = snapshot(solver.get_result())
    reference = load_problem(two_agents_shared_depot)
    for objective in (core.ObjectiveType.MinSum, core.ObjectiveType.MinMax):
        options = core.Options()
        options.objective = objective
        solver = core.Solver(reference, options)
        solver.solve()
        assert snapshot(solver.get_result()) == results[objective.name]


@pytest.mark.parametrize(
    "mutate",
    [
        lambda problem: setattr(problem.agents_ordered()[0], "start_node", 42),
        lambda problem: setattr(problem.agents_ordered()[0], "end_node", 42),
        lambda problem: problem.set_cost_matrix("truck", [[0.0]]),
    ],
    ids=["start-node", "end-node", "cost-type"],
)
def test_set_up_lookups_raise_index_error(mutate):
    problem = line_problem(3)
    mutate(problem)
    with pytest.raises(IndexError) as error:
        core.Solver(problem, core.Options())
    assert str(error.value) == "_Map_base::at"


def test_agent_filed_under_another_id_is_rejected_at_set_up():
    # The agent's own id is 3, its type number is filed under 7: set-up finds no type for it.
    problem = line_problem(3, agent_id=3, filed_as=7)
    assert [a.id for a in problem.agents_ordered()] == [3]
    with pytest.raises(ValueError, match="id 3"):
        core.Solver(problem, core.Options())


def test_cost_matrix_larger_than_the_instance_is_rejected_at_set_up():
    problem = line_problem(3)
    problem.set_cost_matrix("car", [[0.0] * 4 for _ in range(4)])
    with pytest.raises(ValueError):
        core.Solver(problem, core.Options())


@pytest.mark.parametrize(
    "args",
    [(None, core.Options()), (core.Problem(), None), (core.Options(), core.Problem()), ()],
)
def test_constructor_rejects_wrong_types(args):
    with pytest.raises(TypeError):
        core.Solver(*args)


def test_line_route_costs_match_the_matrix():
    solver = core.Solver(line_problem(6), core.Options())
    assert solver.solve() == 1
    result = solver.get_result()
    path = result.paths[0]
    assert path[0] == 0 and path[-1] == 0
    assert sorted(path[1:-1]) == [1, 2, 3, 4, 5]
    assert result.times[0] == pytest.approx(sum(abs(a - b) for a, b in itertools.pairwise(path)))
    assert result.times[0] == pytest.approx(10.0)


def test_more_than_256_points_raise_and_the_interpreter_goes_on():
    # Refused by the set-up, before it builds a graph that grows with the square of the points.
    with pytest.raises(RuntimeError, match="257 points"):
        core.Solver(line_problem(257), core.Options())
    # The module goes on working.
    assert core.Solver(line_problem(5), core.Options()).solve() == 1


def _two_agents_under_one_id(second_type):
    problem = line_problem(3, agent_id=7)
    problem.add_agent(make_agent(7, second_type), 7)
    problem.set_cost_matrix(second_type, [[float(abs(a - b)) for b in range(3)] for a in range(3)])
    return problem


def _nan_time_limit():
    options = core.Options()
    options.time_limit = float("nan")
    return options


@pytest.mark.parametrize(
    ("problem", "options", "pattern"),
    [
        pytest.param(
            lambda: _two_agents_under_one_id("drone"),
            core.Options,
            r"positions 0 and 1 share id 7 but have different types 'car' and 'drone'",
            id="two-types-under-one-id",
        ),
        pytest.param(lambda: line_problem(3), _nan_time_limit, r"time limit is NaN", id="nan-time-limit"),
    ],
)
def test_set_up_refuses_what_would_run_wrong(problem, options, pattern):
    with pytest.raises(ValueError, match=pattern):
        core.Solver(problem(), options())


def test_agents_of_one_type_may_share_an_id():
    solver = core.Solver(_two_agents_under_one_id("car"), core.Options())
    assert solver.solve() == 1
    assert sorted(solver.get_result().paths) == [0, 1]


@pytest.mark.parametrize("objective", [core.ObjectiveType.MinSum, core.ObjectiveType.MinMax])
def test_agents_without_work_stay_at_their_depot(objective):
    problem = line_problem(2, agent_id=1)
    for agent_id in (2, 3):
        problem.add_agent(make_agent(agent_id), agent_id)
    options = core.Options()
    options.objective = objective
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    paths = solver.get_result().paths
    assert sorted(tuple(p) for p in paths.values()) == [(0, 0), (0, 0), (0, 1, 0)]


def _start_window_instance(objective, target_close):
    """One agent from depot 0 (window 20..1000) to targets 1 (window 0..target_close) and 2."""
    legs = [[0, 5, 5], [5, 0, 5], [5, 5, 0]]
    return {
        "nodes": [{"id": i, "x": i, "y": 0, "z": 0} for i in range(3)],
        "agents": [{"id": 7, "type": "car", "start_node": 0, "end_node": 0}],
        "costs": {"car": legs},
        "constraints": [
            {"kind": "assignment", "items": [{"node": i, "types": ["car"]} for i in range(3)]},
            {
                "kind": "timewindow",
                "items": [
                    {"node": 0, "start": 20, "end": 1000},
                    {"node": 1, "start": 0, "end": target_close},
                ],
            },
        ],
        "options": {"objective": objective, "return_to_end": True},
    }


@pytest.mark.parametrize("objective", ["min_max", "min_sum"])
@pytest.mark.parametrize(
    ("target_close", "status", "cost"),
    [
        # Leaving at 20, target 1 is reached at 25 at the earliest: too late for 22.
        (22.0, "failed", 0.0),
        # Leaving at 20, every tour is back at the depot at 35.
        (30.0, "success", 35.0),
    ],
)
def test_routes_leave_their_start_when_its_window_opens(objective, target_close, status, cost):
    from orvik import checker

    instance = _start_window_instance(objective, target_close)
    result = core.solve_json_str(json.dumps(instance), 5.0)
    assert result["status"] == status
    assert result["routes"][0]["cost"] == pytest.approx(cost)
    if status == "success":
        report = checker.check(instance, result)
        assert report.ok, report.violations
