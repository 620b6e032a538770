"""solve_json_str and solve_json_file: the result dictionary and the errors they raise."""

import itertools
import json
import math

import _orvik_core as core
import pytest
from orvik import rules

TOP_KEYS = ["status", "timeout", "routes", "statistics", "anytime"]
ROUTE_KEYS = ["agent_id", "path", "cost"]
STATISTICS_KEYS = ["solve_time", "max_cost", "sum_cost", "n_generated", "n_expanded", "last_update_time"]
ANYTIME_KEYS = ["time", "max_cost", "sum_cost"]


def read(path):
    return path.read_text(encoding="utf-8")


def with_options(path, **options):
    doc = json.loads(read(path))
    doc.setdefault("options", {}).update(options)
    return json.dumps(doc)


def route_cost(matrix, path):
    return sum(matrix[a][b] for a, b in itertools.pairwise(path))


def improving(snapshots, objective):
    """The history the dictionary should hold for these (time, Result) snapshots, by the rules
    orvik.rules states."""
    kept, best = [], 1e18
    for _, snapshot in snapshots:
        costs = list(snapshot.times.values())
        value = rules.objective_value(objective, costs)
        if rules.improves(value, best):
            kept.append(rules.route_totals(costs))
            best = value
    return kept


@pytest.fixture(params=["str", "file"])
def solve(request):
    """Solve an instance file through either entry point."""

    def run(path, *args, **kwargs):
        if request.param == "str":
            return core.solve_json_str(read(path), *args, **kwargs)
        return core.solve_json_file(str(path), *args, **kwargs)

    return run


def test_dictionary_layout_and_types(solve, two_agents_shared_depot):
    out = solve(two_agents_shared_depot)
    assert list(out) == TOP_KEYS
    assert out["status"] == "success"
    assert out["timeout"] is False
    for route in out["routes"]:
        assert list(route) == ROUTE_KEYS
        assert type(route["agent_id"]) is int
        assert all(type(v) is int for v in route["path"])
        assert type(route["cost"]) is float
    assert list(out["statistics"]) == STATISTICS_KEYS
    stats = out["statistics"]
    assert [type(stats[k]) for k in STATISTICS_KEYS] == [float, float, float, int, int, float]
    assert out["anytime"]
    for item in out["anytime"]:
        assert list(item) == ANYTIME_KEYS
        assert all(type(v) is float for v in item.values())


def test_routes_follow_the_agent_list_and_visit_every_target(solve, two_agents_shared_depot):
    doc = json.loads(read(two_agents_shared_depot))
    matrix = doc["costs"]["car"]
    out = solve(two_agents_shared_depot)
    assert [r["agent_id"] for r in out["routes"]] == [7, 9]
    visited = []
    for route in out["routes"]:
        path = route["path"]
        # Both agents start and end at the depot, vertex 0.
        assert path[0] == 0 and path[-1] == 0
        assert route["cost"] == pytest.approx(route_cost(matrix, path))
        visited += path[1:-1]
    assert sorted(visited) == list(range(1, len(doc["nodes"])))
    costs = [r["cost"] for r in out["routes"]]
    assert out["statistics"]["max_cost"] == max(costs)
    assert out["statistics"]["sum_cost"] == costs[0] + costs[1]
    assert out["statistics"]["n_generated"] >= out["statistics"]["n_expanded"] > 0
    assert out["statistics"]["solve_time"] >= 0.0


def test_both_entry_points_and_the_object_api_agree(two_agents_shared_depot, load_problem):
    text = core.solve_json_str(read(two_agents_shared_depot))
    file = core.solve_json_file(str(two_agents_shared_depot))
    problem = load_problem(two_agents_shared_depot)
    solver = core.Solver(problem, problem.options())
    assert solver.solve() == 1
    result = solver.get_result()
    for out in (text, file):
        assert [r["path"] for r in out["routes"]] == [result.paths[0], result.paths[1]]
        assert [r["cost"] for r in out["routes"]] == [result.times[0], result.times[1]]
        assert out["statistics"]["n_generated"] == result.n_generated
        assert out["statistics"]["n_expanded"] == result.n_expanded


def test_failed_search_reports_empty_routes(solve, target_no_agent_may_serve):
    out = solve(target_no_agent_may_serve)
    assert out["status"] == "failed"
    assert out["routes"] == [{"agent_id": 1, "path": [], "cost": 0.0}]
    assert out["statistics"]["max_cost"] == 0.0
    assert out["statistics"]["sum_cost"] == 0.0
    assert out["anytime"] == []


def test_no_agents_gives_no_routes(solve, no_agents):
    out = solve(no_agents)
    assert out["routes"] == []
    assert out["statistics"]["max_cost"] == 0.0
    assert out["statistics"]["sum_cost"] == 0.0


# On this instance the MinSum search records a solution whose post-optimised form has a larger
# total, and the MinMax search records later solutions with the same longest route (one with a
# smaller total, one within 1e-9): the history keeps the first snapshot only.
@pytest.mark.parametrize(
    ("objective", "min_sum", "history"),
    [
        ("min_sum", True, [(22.2, 22.2)]),
        ("min_max", False, [(14.6, 28.0)]),
        ("MIN_MAX", False, [(14.6, 28.0)]),
        ("minmax", True, [(22.2, 22.2)]),  # only min_max and MIN_MAX name MinMax
    ],
)
def test_anytime_keeps_only_improving_snapshots(
    two_agents_shared_depot, load_problem, objective, min_sum, history
):
    out = core.solve_json_str(with_options(two_agents_shared_depot, objective=objective))
    problem = load_problem(two_agents_shared_depot)
    problem.options().objective = core.ObjectiveType.MinSum if min_sum else core.ObjectiveType.MinMax
    solver = core.Solver(problem, problem.options())
    solver.solve()
    snapshots = solver.get_result_process()
    expected = improving(snapshots, objective)
    assert [(a["max_cost"], a["sum_cost"]) for a in out["anytime"]] == expected
    assert [v for pair in expected for v in pair] == pytest.approx([v for pair in history for v in pair])
    assert len(snapshots) > len(history)
    values = [a["sum_cost"] if min_sum else a["max_cost"] for a in out["anytime"]]
    assert all(rules.improves(later, earlier) for earlier, later in itertools.pairwise(values))
    times = [a["time"] for a in out["anytime"]]
    assert times == sorted(times)
    assert out["statistics"]["last_update_time"] >= times[-1]


# The instance's own limit is 0 s, which stops the search at its first timed step; a limit above
# 0 replaces it, one of 0 or below keeps it.
@pytest.mark.parametrize(
    ("time_limit", "timed_out"), [(-1, True), (0, True), (-3.5, True), (0.5, False), (5, False), (5.0, False)]
)
def test_time_limit_replaces_the_instances_own_only_when_positive(two_agents_shared_depot, time_limit, timed_out):
    text = with_options(two_agents_shared_depot, time_limit=0.0)
    out = core.solve_json_str(text, time_limit)
    assert out["timeout"] is timed_out
    if not timed_out:
        assert out["status"] == "success"


def test_time_limit_defaults_to_the_instances_own(two_agents_shared_depot):
    out = core.solve_json_str(with_options(two_agents_shared_depot, time_limit=0.0))
    assert out["timeout"] is True
    out = core.solve_json_file(str(two_agents_shared_depot), time_limit=5)
    assert out["timeout"] is False


def test_missing_file():
    path = "/nonexistent/dir/instance.json"
    with pytest.raises(RuntimeError) as error:
        core.solve_json_file(path)
    assert str(error.value) == "Cannot open file: " + path


EMPTY_INPUT = (
    "attempting to parse an empty input; check that your input string or stream contains the "
    "expected JSON"
)


def test_empty_input_is_a_parse_error(empty_file):
    for call in (lambda: core.solve_json_str(""), lambda: core.solve_json_file(str(empty_file))):
        with pytest.raises(RuntimeError) as error:
            call()
        assert str(error.value).startswith("[json.exception.parse_error.101]")
        assert EMPTY_INPUT in str(error.value)


def test_second_value_after_the_first_is_a_parse_error(two_documents):
    for call in (lambda: core.solve_json_str(read(two_documents)), lambda: core.solve_json_file(str(two_documents))):
        with pytest.raises(RuntimeError) as error:
            call()
        assert str(error.value).startswith("[json.exception.parse_error.101]")
        assert "expected end of input" in str(error.value)


@pytest.mark.parametrize(
    "text",
    ['{"nodes": [], /* comment */ "agents": []}', "{'nodes': []}", '{"nodes": [],}', "[1, 2"],
)
def test_malformed_json_is_a_parse_error(text):
    with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error\."):
        core.solve_json_str(text)


NODE = '{"id": 1, "x": 0, "y": 0, "z": 0}'


@pytest.mark.parametrize(
    ("text", "message"),
    [
        ('{"agents": []}', "[json.exception.out_of_range.403] key 'nodes' not found"),
        ('{"nodes": []}', "[json.exception.out_of_range.403] key 'agents' not found"),
        ('{"nodes": [{"id": 1, "y": 0, "z": 0}], "agents": []}', "[json.exception.out_of_range.403] key 'x' not found"),
        ("[]", "[json.exception.type_error.304] cannot use at() with array"),
        (
            '{"nodes": [' + NODE + '], "agents": [{"id": 1, "start_node": 1, "end_node": 1}]}',
            "[json.exception.out_of_range.403] key 'type' not found",
        ),
        (
            '{"nodes": [], "agents": [], "options": []}',
            "[json.exception.type_error.306] cannot use value() with array",
        ),
        (
            '{"nodes": [], "agents": [], "options": {"return_to_end": 1}}',
            "[json.exception.type_error.302] type must be boolean, but is number",
        ),
        (
            '{"nodes": [], "agents": [], "costs": {"car": [1]}}',
            "[json.exception.type_error.302] type must be array, but is number",
        ),
        (
            '{"nodes": [], "agents": [], "costs": {"car": [["x"]]}}',
            "[json.exception.type_error.302] type must be number, but is string",
        ),
        (
            '{"nodes": [{"id": true, "x": 0, "y": 0, "z": 0}], "agents": []}',
            "[json.exception.type_error.302] type must be number, but is boolean",
        ),
        # 2^32 + 5 and 2^40 are refused rather than cut to 5 and to 0 (no limit).
        (
            (
                '{"nodes": [], "agents": [{"id": 1, "type": "car", "start_node": 0, "end_node": 0, '
                '"max_length": 4294967301}]}'
            ),
            (
                "[json.exception.out_of_range.406] key 'max_length' has value 4294967301, which is "
                "not a valid 32-bit integer (from -2^31 to 2^31-1)"
            ),
        ),
        (
            (
                '{"nodes": [], "agents": [{"id": 1, "type": "car", "start_node": 0, "end_node": 0, '
                '"capacity": 1099511627776}]}'
            ),
            (
                "[json.exception.out_of_range.406] key 'capacity' has value 1099511627776, which "
                "is not a valid 32-bit integer (from -2^31 to 2^31-1)"
            ),
        ),
    ],
)
def test_loader_errors_arrive_as_runtime_error_with_the_libraries_text(text, message):
    with pytest.raises(RuntimeError) as error:
        core.solve_json_str(text)
    assert str(error.value) == message


def test_loader_error_from_a_file(node_missing_x):
    with pytest.raises(RuntimeError) as error:
        core.solve_json_file(str(node_missing_x))
    assert str(error.value) == "[json.exception.out_of_range.403] key 'x' not found"


@pytest.mark.parametrize("fixture", ["agent_start_not_a_node", "costs_for_unknown_type"])
def test_set_up_lookups_raise_index_error(request, solve, fixture):
    with pytest.raises(IndexError) as error:
        solve(request.getfixturevalue(fixture))
    assert str(error.value) == "_Map_base::at"


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.solve_json_str(None),
        lambda: core.solve_json_str("{}", "5"),
        lambda: core.solve_json_str("{}", None),
        lambda: core.solve_json_file(3),
        lambda: core.solve_json_file("x.json", time_limit=[1]),
    ],
)
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_keywords_are_accepted(two_agents_shared_depot):
    out = core.solve_json_str(json_str=read(two_agents_shared_depot), time_limit=5)
    assert out["status"] == "success"
    out = core.solve_json_file(input_path=str(two_agents_shared_depot), time_limit=5.0)
    assert out["status"] == "success"


def test_instance_too_large_for_the_search_raises():
    nodes = [{"id": k, "x": k, "y": 0, "z": 0} for k in range(257)]
    doc = {
        "nodes": nodes,
        "agents": [{"id": 0, "type": "car", "start_node": 0, "end_node": 0}],
        "constraints": [{"kind": "assignment", "items": [{"node": k, "types": ["car"]} for k in range(257)]}],
    }
    with pytest.raises(RuntimeError, match="257 points"):
        core.solve_json_str(json.dumps(doc))
    # The interpreter and the module go on working.
    assert math.isfinite(core.solve_json_str('{"nodes": [], "agents": []}')["statistics"]["solve_time"])


def _one_target(agents):
    return {
        "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}, {"id": 1, "x": 1, "y": 0, "z": 0}],
        "agents": [{"id": i, "type": t, "start_node": 0, "end_node": 0} for i, t in agents],
        "costs": {t: [[0, 1], [1, 0]] for _, t in agents},
        "constraints": [{"kind": "assignment", "items": [{"node": 1, "types": ["car"]}]}],
    }


def test_agents_of_different_types_under_one_id_are_refused(solve, tmp_path):
    path = tmp_path / "clash.json"
    path.write_text(json.dumps(_one_target([(7, "car"), (7, "drone")])), encoding="utf-8")
    with pytest.raises(ValueError, match=r"share id 7 but have different types 'car' and 'drone'"):
        solve(path)


def test_three_agents_for_one_target_solve(solve, tmp_path):
    path = tmp_path / "idle.json"
    path.write_text(json.dumps(_one_target([(1, "car"), (2, "car"), (3, "car")])), encoding="utf-8")
    out = solve(path)
    assert out["status"] == "success"
    assert sorted(r["path"] for r in out["routes"]) == [[0, 0], [0, 0], [0, 1, 0]]


def test_a_nan_time_limit_argument_is_ignored(two_agents_shared_depot):
    out = core.solve_json_str(read(two_agents_shared_depot), float("nan"))
    assert out["status"] == "success" and out["timeout"] is False
