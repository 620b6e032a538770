"""orvik.Model: ids of the caller's choice, the instance document both ways, clear errors."""

import importlib
import inspect
import math
import pkgutil

import orvik
import pytest


def _square():
    """A dock and four sites with mixed ids, two robot types, a window and a limit."""
    m = orvik.Model(objective="min_max")
    m.add_depot("dock", 0, 0)
    m.add_site(101, 0, 10)
    m.add_site("shelf", 10, 10, types=["drone"])
    m.add_site(7, 10, 0, window=(0, 100), demand=2)
    m.add_site(0, 5, 5, z=1.5)
    m.add_agent("r1", "ground", "dock")
    m.add_agent(5, "drone", "dock", max_length=90)
    m.costs_from_coordinates("ground", metric="manhattan")
    m.costs_from_coordinates("drone")
    return m


def test_string_ids_get_free_integer_ids_and_keep_their_names():
    doc = _square().to_dict()
    assert [(n["id"], n.get("name")) for n in doc["nodes"]] == [
        (1, "dock"), (101, None), (2, "shelf"), (7, None), (0, None)]
    assert [(a["id"], a.get("name"), a["start_node"]) for a in doc["agents"]] == [
        (0, "r1", 1), (5, None, 1)]
    assert doc["options"] == {"objective": "min_max", "return_to_end": True}
    assert doc["constraints"] == [
        {"kind": "assignment", "items": [{"node": 2, "types": ["drone"]}]},
        {"kind": "timewindow", "items": [{"node": 7, "start": 0.0, "end": 100.0}]},
    ]
    assert orvik.validate(doc).ok


def test_the_document_reads_back_into_the_same_model(tmp_path):
    model = _square()
    path = tmp_path / "square.json"
    model.to_json(path)
    again = orvik.Model.from_json(path)
    assert again.nodes == tuple(
        n if isinstance(n.id, int) else type(n)(**{**n.__dict__, "key": k})
        for n, k in zip(model.nodes, model.node_keys(), strict=True))
    assert [a.id for a in again.agents] == ["r1", 5]
    assert again.to_dict() == model.to_dict()


@pytest.mark.parametrize(
    ("metric", "speed", "service", "cost_0_to_2"),
    [
        ("euclidean", 1.0, 0.0, math.hypot(10, 10)),
        ("manhattan", 1.0, 0.0, 20.0),
        ("manhattan", 2.0, 0.0, 10.0),
        ("manhattan", 1.0, 3.0, 20.0),  # no service when leaving a depot
    ],
)
def test_costs_from_coordinates(metric, speed, service, cost_0_to_2):
    m = _square()
    m.costs_from_coordinates("ground", metric=metric, speed=speed, service=service)
    matrix = m.cost_matrix("ground")
    assert matrix[0][2] == pytest.approx(cost_0_to_2)
    assert matrix[2][0] == pytest.approx(cost_0_to_2 + service)
    assert matrix[4][0] == pytest.approx({"euclidean": math.sqrt(52.25), "manhattan": 11.5}[
        metric] / speed + service)
    assert all(matrix[i][i] == 0.0 for i in range(5))


@pytest.mark.parametrize(
    ("call", "error", "words"),
    [
        (lambda m: m.add_site(101, 1, 1), ValueError, "node id 101 is already used"),
        (lambda m: m.add_agent("r1", "ground", "dock"), ValueError, "agent id 'r1' is already"),
        (lambda m: m.add_agent("r2", "ground", "nowhere"), ValueError,
         "start node 'nowhere' of agent 'r2' is not a node"),
        (lambda m: m.add_site(200, 1, 1, window=(5, 2)), ValueError, "opens at 5, after it"),
        (lambda m: m.add_site(201, 1, 1, types="drone"), TypeError, "not a string"),
        (lambda m: m.add_site(True, 1, 1), TypeError, "integer or a string"),
        (lambda m: m.add_site(-1, 1, 1), ValueError, "outside 0 .. 2^64 - 1"),
        (lambda m: m.add_site(202, math.nan, 1), ValueError, "x must be finite"),
        (lambda m: m.set_costs("ground", [[0, -1]]), ValueError, "costs['ground'][0][1] must be"),
        (lambda m: setattr(m, "objective", "minmax"), ValueError, "did you mean 'min_max'?"),
        (lambda m: m.costs_from_coordinates("ground", metric="taxicab"), ValueError,
         "unknown metric 'taxicab'"),
        (lambda m: m.node("ghost"), KeyError, "no node has id 'ghost'"),
    ],
)
def test_builder_errors_name_the_problem(call, error, words):
    with pytest.raises(error, match=None) as raised:
        call(_square())
    assert words in str(raised.value)


@pytest.mark.parametrize(
    ("mutate", "message"),
    [
        (lambda d: d["nodes"][1].pop("y"), "$.nodes[1]: missing required key 'y'"),
        (lambda d: d["agents"][0].update(start_node=42), ("$.agents[0].start_node: no node has "
                                                         "id 42")),
        (lambda d: d.update(costs=[[0]]), "$.costs: expected an object"),
    ],
)
def test_reading_without_validation_fails_in_one_line(mutate, message):
    doc = _square().to_dict()
    mutate(doc)
    with pytest.raises(orvik.InstanceError) as raised:
        orvik.Model.from_json(doc, validate=False)
    assert str(raised.value) == message


def test_repr():
    assert repr(_square()) == ("Model(5 nodes (1 depots), 2 agents of types ['ground', 'drone'], "
                               "objective 'min_max')")


def _public(module):
    for name, obj in vars(module).items():
        if name.startswith("_") or getattr(obj, "__module__", None) != module.__name__:
            continue
        if inspect.isfunction(obj):
            yield name, obj
        elif inspect.isclass(obj):
            yield name, obj
            for member, attribute in vars(obj).items():
                value = attribute.fget if isinstance(attribute, property) else attribute
                if not member.startswith("_") and inspect.isfunction(
                        getattr(value, "__func__", value)):
                    yield f"{name}.{member}", getattr(value, "__func__", value)


@pytest.mark.parametrize(
    "module", [m.name for m in pkgutil.iter_modules(orvik.__path__) if m.name != "__main__"])
def test_every_public_class_and_function_has_a_docstring(module):
    loaded = importlib.import_module(f"orvik.{module}")
    assert loaded.__doc__
    assert [name for name, obj in _public(loaded) if not obj.__doc__] == []


# Calls that raised an error of the implementation (unhashable type, not iterable, the
# binding's "incompatible function arguments", OverflowError, AttributeError) or were taken
# without a word; each now names its argument.
API_ERRORS = [
    pytest.param(lambda m: m.add_agent("r2", "ground", ["dock"]), TypeError,
                 "the start node of agent 'r2' must be an integer or a string", id="start-list"),
    pytest.param(lambda m: m.add_agent("r2", "ground", "dock", {}), TypeError,
                 "the end node of agent 'r2' must be", id="end-dict"),
    pytest.param(lambda m: m.node([1]), TypeError, "a node id must be", id="node-list"),
    pytest.param(lambda m: m.set_costs("ground", 5), TypeError,
                 "the cost matrix of 'ground' must be a list of rows", id="matrix-number"),
    pytest.param(lambda m: m.set_costs("ground", [5]), TypeError,
                 "row 0 of the cost matrix of 'ground'", id="row-number"),
    pytest.param(lambda m: m.add_site(9, 10**400, 0), ValueError, "x is too large",
                 id="x-overflow"),
    pytest.param(lambda m: m.add_site(9, 0, 0, types=5), TypeError,
                 "types of site 9 must be a list", id="types-number"),
    pytest.param(lambda m: m.solve("x"), TypeError, "time_limit must be a number of seconds",
                 id="time-limit-text"),
    pytest.param(lambda m: m.solve(-1), ValueError, "time_limit must be a positive",
                 id="time-limit-negative"),
    pytest.param(lambda m: m.solve(math.nan), ValueError, "time_limit must be a positive",
                 id="time-limit-nan"),
    pytest.param(lambda m: m.solve(math.inf), ValueError, "time_limit must be a positive, "
                 "finite number of seconds", id="time-limit-infinite"),
    pytest.param(lambda m: m.solve("5"), TypeError, "time_limit must be a number of seconds "
                 "or None, got str '5'", id="time-limit-digit-text"),
    pytest.param(lambda m: m.set_costs("ground", [[0] * 5] * 4), ValueError,
                 "the cost matrix of 'ground' has 4 rows for the 5 nodes", id="matrix-short"),
    pytest.param(lambda m: m.set_costs("ground", [[0] * 5] * 6), ValueError,
                 "6 rows for the 5 nodes of the model (a row per node, in the order they were "
                 "added; add the nodes first)", id="matrix-long"),
    pytest.param(lambda m: m.set_costs("ground", [[0] * 5] * 3 + [[0] * 4, [0] * 5]),
                 ValueError, "row 3 of the cost matrix of 'ground' has 4 costs for the 5 nodes",
                 id="row-short"),
    pytest.param(lambda m: m.solve(1, improve="no"), TypeError, "improve must be True or False",
                 id="improve-text"),
    pytest.param(lambda m: m.solve(1, progress=5), TypeError, "progress must be a function",
                 id="progress-number"),
    pytest.param(lambda m: m.solve(1, stop=5), TypeError, "stop must have an is_set() method",
                 id="stop-number"),
    pytest.param(lambda m: orvik.solve(m, 1, workers="2"), TypeError,
                 "workers must be a whole number", id="workers-text"),
    pytest.param(lambda m: orvik.solve(m, 1, workers=0), ValueError, "workers must be 1 or more",
                 id="workers-zero"),
    pytest.param(lambda m: orvik.solve(m, 1, workers=2, executor=5), TypeError,
                 "executor must have a submit() method", id="executor-number"),
    pytest.param(lambda m: orvik.solve(m, 1, speed=3), TypeError,
                 "solve() got an unknown option 'speed'", id="unknown-option"),
    pytest.param(lambda m: orvik.solve_many(5), TypeError, "instances must be a list",
                 id="instances-number"),
    pytest.param(lambda m: orvik.solve_many("a.json"), TypeError, "instances must be a list",
                 id="instances-path"),
    pytest.param(lambda m: orvik.solve_many([m], on_result=5), TypeError,
                 "on_result must be a function", id="on-result-number"),
    pytest.param(lambda m: orvik.Model(objective=[1]), TypeError, "objective must be a string",
                 id="objective-list"),
    pytest.param(lambda m: orvik.Model(time_limit="x"), TypeError,
                 "time_limit must be a number of seconds", id="model-time-limit"),
    pytest.param(lambda m: orvik.Model(return_to_end="no"), TypeError,
                 "return_to_end must be True or False", id="return-to-end-text"),
    pytest.param(lambda m: orvik.check({"nodes": [], "agents": []}, 5), orvik.InstanceError,
                 "result: $: expected an object", id="check-result-number"),
    pytest.param(lambda m: orvik.Solution.from_json({"status": "solved", "objective": "x",
                                                     "objective_value": 0, "max_cost": 0,
                                                     "sum_cost": 0, "routes": []}),
                 orvik.InstanceError, "unknown objective 'x'", id="solution-objective"),
    pytest.param(lambda m: m.add_agent("r9", "ground", "dock", max_length=2**31), ValueError,
                 "max_length of agent 'r9' must be from -2^31 to 2^31 - 1", id="limit-2^31"),
    pytest.param(lambda m: m.to_json(indent="x"), TypeError, "indent must be a whole number",
                 id="indent-text"),
]


@pytest.mark.parametrize(("call", "error", "words"), API_ERRORS)
def test_bad_arguments_name_themselves(call, error, words):
    with pytest.raises(error) as raised:
        call(_square())
    assert words in str(raised.value)


def test_an_integer_id_cannot_take_the_document_id_of_a_named_node():
    model = orvik.Model.from_json({
        "nodes": [{"id": 0, "name": "dock", "x": 0, "y": 0, "type": "DEPOT"}],
        "agents": [{"id": 0, "name": "r1", "type": "car", "start_node": 0, "end_node": 0}],
        "costs": {"car": [[0]]}})
    with pytest.raises(ValueError, match="node id 0 is the document id of node 'dock'"):
        model.add_site(0, 10, 10)
    with pytest.raises(ValueError, match="agent id 0 is the document id of agent 'r1'"):
        model.add_agent(0, "car", "dock")
    model.add_site(1, 10, 10)  # a free id is fine
    model.costs_from_coordinates("car")
    solution = model.solve(1)
    assert solution.routes[0].nodes == ["dock", 1, "dock"] and solution.check().ok


def test_a_document_with_a_name_on_a_taken_id_is_refused_in_one_line():
    with pytest.raises(orvik.InstanceError, match=r"\$\.nodes\[1\]: node id 0 is the document"):
        orvik.Model.from_json({
            "nodes": [{"id": 0, "name": "dock", "x": 0, "y": 0}, {"id": 0, "x": 1, "y": 0}],
            "agents": []}, validate=False)
