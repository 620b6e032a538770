"""Loads and orders: capacities, deliveries and pickups, shipments, sequence pairs and service
durations, from the document (schema, reader, validation) through the model to the checker."""

import copy
import dataclasses
import itertools
import json

import orvik
import pytest
from orvik import checker
from orvik.diagnosis import no_solution_reasons
from orvik.instance import read_instance
from orvik.loads import load_problems
from orvik.plotting import plot_solution
from orvik.units import solver_document, unit_scale
from orvik.validation import ERROR, WARNING


def _line(n=6, agents=3, **options):
    """A depot (0) and sites 1 .. n-1 on a line, cost |i - j|; ``agents`` cars at the depot
    (the last one, without a capacity, serves what the routes of a check leave)."""
    return {
        "nodes": [{"id": v, "x": v, "y": 0, "type": "DEPOT" if v == 0 else "TARGET"}
                  for v in range(n)],
        "agents": [{"id": k, "type": "car", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "costs": {"car": [[float(abs(i - j)) for j in range(n)] for i in range(n)]},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": v, "types": ["car"]} for v in range(n)]}],
        "options": {"objective": "min_sum", **options},
    }


def _with(document, *changes):
    """A copy of a document with changes: (path, value) to set, or ("+", constraint) to add."""
    doc = copy.deepcopy(document)
    for path, value in changes:
        if path == "+":
            doc["constraints"].append(value)
            continue
        *parents, last = path
        target = doc
        for key in parents:
            target = target[key]
        target[last] = value
    return doc


def _shipment(pickup, delivery, amount=None):
    item = {"pickup": pickup, "delivery": delivery}
    if amount is not None:
        item["amount"] = amount
    return ("+", {"kind": "shipment", "items": [item]})


def _pair(before, after, kind=None):
    pair = {"before": before, "after": after} | ({} if kind is None else {"type": kind})
    return ("+", {"kind": "sequence", "precedence": [pair]})


# ---------------------------------------------------------------------------------------------
# The reader and the schema


@pytest.mark.parametrize(("node", "delivery", "pickup", "service"), [
    ({"demand": 3}, (3,), (), 0.0),
    ({"demand": 0}, (), (), 0.0),
    ({"delivery": [1, 2.5]}, (1, 2.5), (), 0.0),
    ({"pickup": 4, "service": 2.5}, (), (4,), 2.5),
    ({"demand": [1, 0, 0, 2], "pickup": [0, 1]}, (1, 0, 0, 2), (0, 1), 0.0),
], ids=["scalar-demand", "zero", "delivery-array", "pickup-service", "four-dimensions"])
def test_the_reader_reads_amounts_and_services(node, delivery, pickup, service):
    doc = _line()
    doc["nodes"][1].update(node)
    read = read_instance(doc)
    assert read.problems == ()
    record = read.nodes[1]
    assert (record.delivery, record.pickup, record.service) == (delivery, pickup, service)
    assert orvik.validate(doc).ok


def test_the_reader_reads_capacities_shipments_pairs_and_the_option():
    doc = _with(_line(), (["agents", 0, "capacity"], [10, 0]), (["agents", 1, "capacity"], 7),
                _shipment(1, 2, [1, 1]), _pair(3, 4, "same"), _pair(4, 5),
                (["options", "enforce_constraints"], True))
    read = read_instance(doc)
    assert read.problems == ()
    assert [a.capacities for a in read.agents] == [(10, 0), (7,), ()]
    assert [(s.pickup, s.delivery, s.amount, s.path) for s in read.shipment_items()] == [
        (1, 2, (1, 1), ("constraints", 1, "items", 0))]
    assert [(p.before, p.after, p.type) for p in read.pairs()] == [(3, 4, "same"), (4, 5, None)]
    assert read.dimensions == 2 and read.options.enforce is True
    assert orvik.validate(doc).ok


@pytest.mark.parametrize(("place", "value", "words"), [
    (["nodes", 1, "demand"], [1, 2, 3, 4, 5], "expected 1 to 4 numbers"),
    (["nodes", 1, "pickup"], [], "expected 1 to 4 numbers"),
    (["nodes", 1, "demand"], [1, "2"], "expected a number, got a string"),
    (["nodes", 1, "service"], "long", "expected a number, got a string"),
    (["agents", 0, "capacity"], {"kg": 3}, "expected a number, got an object"),
], ids=["five-dimensions", "no-dimension", "string-in-array", "service-string",
        "capacity-object"])
def test_the_reader_names_amounts_it_cannot_read(place, value, words):
    read = read_instance(_with(_line(), (place, value)))
    assert any(words in problem.message for problem in read.problems), read.problems


def test_the_schema_documents_every_new_key():
    schema = orvik.validation.instance_schema()
    node = schema["$defs"]["node"]["properties"]
    assert {"demand", "delivery", "pickup", "service"} <= set(node)
    assert schema["$defs"]["agent"]["properties"]["capacity"]["maxItems"] == 4
    assert set(schema["$defs"]["shipment_item"]["properties"]) == {"pickup", "delivery",
                                                                     "amount"}
    assert schema["$defs"]["sequence_pair"]["properties"]["type"]["enum"] == ["same", "diff"]
    assert "enforce_constraints" in schema["$defs"]["options"]["properties"]
    for key, value in node.items():
        assert value.get("description") or key in ("id", "name", "x", "y"), key


# ---------------------------------------------------------------------------------------------
# The solver's document


def test_the_solver_document_enforces_and_scales_service_durations_not_amounts():
    doc = _with(_line(), (["nodes", 1, "demand"], [2, 3]), (["nodes", 2, "pickup"], 4),
                (["nodes", 3, "service"], 20000.0), (["agents", 0, "capacity"], [5, 5]),
                _shipment(4, 5, 2), _pair(1, 2, "diff"))
    read = read_instance(doc)
    scale = unit_scale(read)
    assert scale.factor > 1  # the service reaches 9999: the times are scaled
    solver = solver_document(read, scale)
    nodes = solver["nodes"]
    assert solver["options"]["enforce_constraints"] is True
    assert (nodes[1]["demand"], nodes[2]["pickup"]) == ([2, 3], 4)
    assert nodes[3]["service"] == 20000.0 / scale.factor
    assert solver["agents"][0]["capacity"] == [5, 5]
    kinds = {c["kind"]: c for c in solver["constraints"]}
    assert kinds["shipment"]["items"] == [{"pickup": 4, "delivery": 5, "amount": 2}]
    assert kinds["sequence"]["precedence"] == [{"before": 1, "after": 2, "type": "diff"}]


# ---------------------------------------------------------------------------------------------
# The model


def _model():
    m = orvik.Model(objective="min_sum")
    m.add_depot("hub", 0, 0)
    m.add_site("a", 0, 10, delivery=[3, 1], service=2.5)
    m.add_site("b", 10, 10, pickup=4, window=(0, 100))
    m.add_site(7, 10, 0, demand=2)
    m.add_site("c", 5, 5)
    m.add_agent("van", "road", "hub", capacity=[10, 4])
    m.add_agent("bike", "road", "hub", capacity=5)
    m.add_shipment("b", "c", amount=[1, 1])
    m.add_precedence("a", 7, same_agent=True)
    m.add_precedence(7, "c", same_agent=False)
    m.add_precedence("a", "b")
    m.costs_from_coordinates("road")
    return m


def test_a_model_writes_every_new_key_and_reads_it_back():
    model = _model()
    doc = model.to_dict()
    by_name = {n.get("name", n["id"]): n for n in doc["nodes"]}
    assert (by_name["a"]["demand"], by_name["a"]["service"]) == ([3, 1], 2.5)
    assert (by_name["b"]["pickup"], by_name[7]["demand"]) == (4, 2)
    assert [a["capacity"] for a in doc["agents"]] == [[10, 4], 5]
    kinds = {c["kind"]: c for c in doc["constraints"]}
    keys = {n.get("name", n["id"]): n["id"] for n in doc["nodes"]}
    assert kinds["shipment"]["items"] == [{"pickup": keys["b"], "delivery": keys["c"],
                                           "amount": [1, 1]}]
    assert kinds["sequence"]["precedence"] == [
        {"before": keys["a"], "after": 7, "type": "same"},
        {"before": 7, "after": keys["c"], "type": "diff"},
        {"before": keys["a"], "after": keys["b"]}]
    assert orvik.validate(doc).ok
    again = orvik.Model.from_json(doc)
    assert again.to_dict() == doc
    def unkeyed(items):
        return [dataclasses.replace(item, key=None) for item in items]

    assert unkeyed(again.nodes) == unkeyed(model.nodes)
    assert unkeyed(again.agents) == unkeyed(model.agents)
    assert again.shipments == model.shipments and again.precedences == model.precedences
    assert again.node("a").delivery == (3, 1) and again.node(7).demand == 2


def test_a_model_round_trips_through_a_file(tmp_path):
    path = tmp_path / "model.json"
    _model().to_json(path)
    assert orvik.Model.from_json(path).to_dict() == json.loads(path.read_text())


@pytest.mark.parametrize(("build", "error", "words"), [
    (lambda m: m.add_site("x", 1, 1, delivery=-1), ValueError, "at least 0"),
    (lambda m: m.add_site("x", 1, 1, pickup=[1, 2, 3, 4, 5]), ValueError, "1 to 4 numbers"),
    (lambda m: m.add_site("x", 1, 1, delivery="3"), TypeError, "a number or a sequence"),
    (lambda m: m.add_site("x", 1, 1, service=-2), ValueError, "at least 0"),
    (lambda m: m.add_site("x", 1, 1, demand=2, delivery=3), ValueError, "not both"),
    (lambda m: m.add_agent("z", "road", "hub", capacity=[1, -1]), ValueError, "at least 0"),
    (lambda m: m.add_agent("z", "road", "hub", capacity=2**31), ValueError, r"2\^31"),
    (lambda m: m.add_shipment("a", "nowhere"), ValueError, "add it first"),
    (lambda m: m.add_shipment("a", "a"), ValueError, "twice"),
    (lambda m: m.add_precedence("a", "b", same_agent="yes"), TypeError, "True or False"),
    (lambda m: m.add_precedence("b", "b"), ValueError, "twice"),
], ids=["negative-delivery", "five-dimensions", "string-amount", "negative-service",
        "demand-and-delivery", "negative-capacity", "capacity-too-large", "unknown-site",
        "shipment-to-itself", "same-agent-not-a-flag", "pair-with-itself"])
def test_the_model_refuses_bad_loads_and_orders(build, error, words):
    with pytest.raises(error, match=words):
        build(_model())


# ---------------------------------------------------------------------------------------------
# The checker on routes made by hand


def _result(*paths, costs=None, status="solved", **route_keys):
    routes = []
    for k, path in enumerate(paths):
        cost = costs[k] if costs is not None else float(
            sum(abs(a - b) for a, b in itertools.pairwise(path)))
        routes.append({"agent_id": k, "path": list(path), "cost": cost} | route_keys.get(
            f"route{k}", {}))
    return {"status": status, "routes": routes}


def _complete(doc, result):
    """The result with one more route (the last agent's) through the sites it leaves."""
    served = {v for route in result["routes"] for v in route["path"][1:-1]}
    rest = [v for v in range(1, len(doc["nodes"])) if v not in served]
    path = [0, *rest, 0]
    cost = sum(abs(a - b) for a, b in itertools.pairwise(path)) + sum(
        doc["nodes"][v].get("service", 0) for v in [0, *rest])
    routes = [*result["routes"], {"agent_id": len(result["routes"]), "path": path,
                                  "cost": float(cost)}]
    return dict(result, routes=routes)


CHECKS = [
    # capacity, deliveries and pickups
    ([(["nodes", 1, "demand"], 2), (["nodes", 2, "demand"], 2), (["agents", 0, "capacity"], 4)],
     _result([0, 1, 2, 0], [0, 0]), None),
    ([(["nodes", 1, "demand"], 3), (["nodes", 2, "demand"], 3), (["agents", 0, "capacity"], 5)],
     _result([0, 1, 2, 0], [0, 0]), "load 6 after position 0 (vertex 0"),
    ([(["nodes", 1, "pickup"], 3), (["nodes", 2, "pickup"], 3), (["agents", 0, "capacity"], 5)],
     _result([0, 1, 2, 0], [0, 0]), "load 6 after position 2 (vertex 2"),
    ([(["nodes", 1, "demand"], 4), (["nodes", 2, "pickup"], 4), (["agents", 0, "capacity"], 4)],
     _result([0, 1, 2, 0], [0, 0]), None),
    ([(["nodes", 2, "pickup"], 4), (["nodes", 1, "demand"], 4), (["agents", 0, "capacity"], 4)],
     _result([0, 2, 1, 0], [0, 0]), "load 8 after position 1"),
    ([(["nodes", 1, "delivery"], [1, 5]), (["agents", 0, "capacity"], [0, 4])],
     _result([0, 1, 0], [0, 0]), "in dimension 1"),
    ([(["nodes", 1, "demand"], 100), (["agents", 0, "capacity"], 0)],
     _result([0, 1, 0], [0, 0]), None),
    ([(["nodes", 1, "demand"], [1, 1]), (["agents", 0, "capacity"], 1)],
     _result([0, 1, 0], [0, 0]), None),
    # shipments
    ([_shipment(1, 3, 3), (["agents", 0, "capacity"], 3)], _result([0, 1, 2, 3, 0], [0, 0]),
     None),
    ([_shipment(1, 3, 3), (["agents", 0, "capacity"], 2)], _result([0, 1, 2, 3, 0], [0, 0]),
     "load 3 after position 1"),
    ([_shipment(1, 3)], _result([0, 1, 0], [0, 3, 0]), ("picked up on route 0 and delivered on "
                                                       "route 1")),
    ([_shipment(3, 1)], _result([0, 1, 3, 0], [0, 0]), ("delivered at position 1 of route 0, "
                                                       "before its pickup at position 2")),
    # sequence pairs
    ([_pair(1, 2, "same")], _result([0, 1, 2, 0], [0, 0]), None),
    ([_pair(1, 2, "same")], _result([0, 1, 0], [0, 2, 0]), "must be on one route"),
    ([_pair(2, 1, "same")], _result([0, 1, 2, 0], [0, 0]), "in the wrong order"),
    ([_pair(1, 2, "diff")], _result([0, 1, 2, 0], [0, 0]), "must be on two routes"),
    ([_pair(1, 2, "diff")], _result([0, 1, 0], [0, 2, 0]), None),
    ([_pair(0, 2)], _result([0, 2, 0], [0, 0]), ("names vertex 0 (node id 0), an agent's start "
                                                "or end node, which no route serves")),
    ([_pair(1, 9)], _result([0, 1, 0], [0, 0]), "names a node that does not exist"),
    ([_shipment(1, 2), _pair(1, 2, "diff")], _result([0, 1, 0], [0, 2, 0]),
     "picked up on route 0 and delivered on route 1"),
    ([_pair(1, 3)], _result([0, 1, 0], [0, 3, 0]), None),
    ([_pair(3, 1)], _result([0, 1, 0], [0, 3, 0]), "service starts at 3.000000, after"),
    ([_pair(1, 3), (["nodes", 3, "service"], 0.5)], _result([0, 3, 1, 0], [0, 0], costs=[6.5, 0]),
     "service starts at 5.500000, after the service at its 'after' site starts at 3.000000"),
    # service durations and windows on the start of service
    ([(["nodes", 1, "service"], 5)], _result([0, 1, 0], [0, 0], costs=[7, 0]), None),
    ([(["nodes", 0, "service"], 2), (["agents", 2, "capacity"], 0)],
     _result([0, 1, 0], [0], costs=[4, 0]), None),
    ([(["nodes", 1, "service"], 5)], _result([0, 1, 0], [0, 0]), "reported cost 2"),
    ([(["nodes", 1, "service"], 5), ("+", {"kind": "timewindow", "items": [
        {"node": 2, "start": 0, "end": 1.5}]})],
     _result([0, 1, 2, 0], [0, 0], costs=[9, 0]), ("arrives at vertex 2 (node id 2) at "
                                                  "7.000000, after its window closes at 1.5")),
    ([(["nodes", 1, "service"], 5), ("+", {"kind": "timewindow", "items": [
        {"node": 1, "start": 3, "end": 3}]})],
     _result([0, 1, 0], [0, 0], costs=[9, 0]), None),
    ([(["nodes", 1, "service"], 5), (["agents", 0, "max_length"], 6)],
     _result([0, 1, 0], [0, 0], costs=[7, 0]), "exceeds its max_length 6"),
    # the schedule a solver reports
    ([(["nodes", 1, "service"], 5), (["nodes", 1, "demand"], 2)],
     _result([0, 1, 0], [0, 0], costs=[7, 0], route0={"schedule": [
         {"arrival": 0, "start": 0, "departure": 0, "load": [2]},
         {"arrival": 1, "start": 1, "departure": 6, "load": [0]},
         {"arrival": 7, "start": 7, "departure": 7, "load": [0]}]}), None),
    ([(["nodes", 1, "service"], 5)],
     _result([0, 1, 0], [0, 0], costs=[7, 0], route0={"schedule": [
         {"arrival": 0, "start": 0, "departure": 0},
         {"arrival": 1, "start": 2, "departure": 6},
         {"arrival": 7, "start": 7, "departure": 7}]}), "reported start 2 at position 1"),
]


@pytest.mark.parametrize(("changes", "result", "violation"), CHECKS,
                         ids=[f"case-{i}" for i in range(len(CHECKS))])
def test_the_checker_states_each_rule_of_loads_and_orders(changes, result, violation):
    doc = _with(_line(), *changes)
    report = checker.check(doc, _complete(doc, result))
    if violation is None:
        assert report.ok, report.violations
    else:
        assert not report.ok
        assert any(violation in line for line in report.violations), report.violations


def test_the_checker_reports_the_schedule_and_loads_of_every_stop():
    doc = _with(_line(), (["nodes", 1, "demand"], [2, 1]), (["nodes", 2, "pickup"], 3),
                (["nodes", 2, "service"], 4), (["agents", 0, "capacity"], [5, 5]),
                ("+", {"kind": "timewindow", "items": [{"node": 2, "start": 6, "end": 9}]}))
    report = checker.check(doc, _complete(doc, _result([0, 1, 2, 0], [0, 0], costs=[12, 0])))
    assert report.ok, report.violations
    stops = [(s.vertex, s.arrival, s.wait, s.start, s.service, s.departure, s.load)
             for s in report.schedules[0]]
    assert stops == [(0, 0.0, 0.0, 0.0, 0.0, 0.0, (2.0, 1.0)),
                     (1, 1.0, 0.0, 1.0, 0.0, 1.0, (0.0, 0.0)),
                     (2, 2.0, 4.0, 6.0, 4.0, 10.0, (3.0, 0.0)),
                     (0, 12.0, 0.0, 12.0, 0.0, 12.0, (3.0, 0.0))]


@pytest.mark.parametrize(("options", "enforced"), [
    ({}, False), ({"enforce_constraints": False}, False), ({"enforce_constraints": True}, True)])
def test_the_raw_modules_result_answers_to_the_rules_only_when_the_instance_asks(options,
                                                                                 enforced):
    doc = _with(_line(**options), (["nodes", 1, "demand"], 9), (["agents", 0, "capacity"], 5),
                _pair(2, 1, "same"), (["nodes", 1, "service"], 3))
    report = checker.check(doc, _complete(doc, _result(
        [0, 1, 2, 0], [0, 0], costs=[7 if enforced else 4, 0], status="success")))
    assert report.ok is not enforced
    if enforced:
        assert len(report.violations) == 2, report.violations  # the load and the order


@pytest.mark.parametrize(("change", "words"), [
    ((["nodes", 1, "demand"], -1), "negative amount"),
    ((["nodes", 1, "pickup"], [1, 1, 1, 1, 1]), "expected 1 to 4 numbers"),
    ((["nodes", 1, "service"], -1), "negative service duration"),
    (_pair(1, 2, "sometimes"), "is not a pair type"),
    ((["agents", 0, "capacity"], "big"), "expected a number"),
], ids=["negative", "five", "negative-service", "pair-type", "capacity-string"])
def test_the_checker_refuses_an_instance_it_cannot_read(change, words):
    with pytest.raises(orvik.InstanceError, match=words):
        checker.check(_with(_line(), change), _result([0, 1, 2, 3, 4, 5, 0], [0, 0], [0, 0]))


# ---------------------------------------------------------------------------------------------
# Validation


def _two_types():
    """The line, a big truck and a small van of two types; site 5 only for vans."""
    doc = _line(agents=2)
    doc["agents"][0].update(type="truck", capacity=[100, 10])
    doc["agents"][1].update(type="van", capacity=[20, 2])
    matrix = doc["costs"]["car"]
    doc["costs"] = {"truck": matrix, "van": matrix}
    for item in doc["constraints"][0]["items"]:
        item["types"] = ["van"] if item["node"] == 5 else ["truck", "van"]
    return doc


ERRORS = [
    ((["nodes", 5, "demand"], 30), "$.nodes[5].demand",
     "demand 30 exceeds the capacity of every agent that may serve node 5"),
    ((["nodes", 4, "pickup"], [50, 11]), "$.nodes[4].pickup",
     "pickup [50, 11] exceeds the capacity of every agent"),
    ((["nodes", 4, "demand"], [50, 3]), None, None),
    (_pair(1, 99), "$.constraints[1].precedence[0].after", "no node has id 99"),
    (_pair(0, 2), "$.constraints[1].precedence[0].before",
     "node 0 is an agent's start or end node"),
    (_shipment(1, 77), "$.constraints[1].items[0].delivery", "no node has id 77"),
    (("+", {"kind": "sequence", "precedence": [{"before": 1, "after": 2, "type": "same"},
                                               {"before": 1, "after": 2, "type": "diff"}]}),
     "$.constraints[1].precedence[1]", ("must be on different agents' routes here, and on one "
                                       "route at $.constraints[1].precedence[0]")),
    (("+", {"kind": "sequence", "precedence": [{"before": 2, "after": 1, "type": "diff"}]}),
     None, None),
    (("+", {"kind": "sequence", "precedence": [
        {"before": 1, "after": 2}, {"before": 2, "after": 3, "type": "same"},
        {"before": 3, "after": 1}]}),
     "$.constraints[1].precedence[2]", "cycle: node 1 -> node 2 -> node 3 -> node 1"),
    (_shipment(2, 1), None, None),
    ((["nodes", 1, "demand"], -2), "$.nodes[1].demand",
     "a negative amount, -2: amounts and capacities are 0 or more"),
    ((["nodes", 1, "pickup"], [1, -2]), "$.nodes[1].pickup[1]", "a negative amount, -2"),
    ((["agents", 1, "capacity"], -5), "$.agents[1].capacity", "a negative amount, -5"),
    (("+", {"kind": "shipment", "items": [{"pickup": 1, "delivery": 2, "amount": -1}]}),
     "$.constraints[1].items[0].amount", "a negative amount, -1"),
    ((["nodes", 2, "delivery"], [1, 2, 3, 4, 5]), "$.nodes[2].delivery",
     "an amount has 1 to 4 numbers, one per dimension of the load; got 5"),
    ((["agents", 0, "capacity"], []), "$.agents[0].capacity", "an amount has 1 to 4 numbers"),
    ((["nodes", 3, "service"], -1), "$.nodes[3].service", "a negative service duration, -1"),
    (_pair(1, 2, "Same"), "$.constraints[1].precedence[0].type",
     "\"Same\" is not one of \"same\", \"diff\" (did you mean 'same'?)"),
]


@pytest.mark.parametrize(("change", "path", "words"), ERRORS,
                         ids=[f"error-{i}" for i in range(len(ERRORS))])
def test_validation_names_each_load_and_order_error_at_its_place(change, path, words):
    findings = orvik.validate(_with(_two_types(), change))
    if path is None:
        assert findings.ok, [str(f) for f in findings]
        return
    assert any(f.severity == ERROR and f.path == path and words in f.message
               for f in findings), [str(f) for f in findings]


def test_validation_finds_shipments_no_single_agent_serves():
    doc = _with(_two_types(), _shipment(5, 1))
    for item in doc["constraints"][0]["items"]:
        if item["node"] == 1:
            item["types"] = ["truck"]
    findings = orvik.validate(doc)
    assert [(f.path, f.message) for f in findings.errors] == [
        ("$.constraints[1].items[0]", ("no single agent may serve both node 5 and node 1 "
                                      "(their allowed types share no agent)"))]
    read = read_instance(doc)
    assert [str(p) for p in load_problems(read)] == [
        ("$.constraints[1].items[0]: no single agent may serve both node 5 and node 1 (their "
        "allowed types share no agent)")]


def test_validation_refuses_a_delivery_given_twice_and_warns_of_an_unspent_service():
    # The van ends at node 4, where no route starts; the depot, where both start, is left.
    doc = _with(_two_types(), (["nodes", 1, "demand"], 1), (["nodes", 1, "delivery"], 1),
                (["nodes", 0, "service"], 5), (["agents", 1, "end_node"], 4),
                (["nodes", 4, "service"], 3))
    findings = orvik.validate(doc)
    assert [(f.path, f.severity) for f in findings if "not both" in f.message] == [
        ("$.nodes[1].delivery", ERROR)]
    assert [(f.path, f.severity) for f in findings if "never spent" in f.message] == [
        ("$.nodes[4].service", WARNING)]


def test_no_warning_says_loads_or_pairs_are_stored_but_not_used():
    doc = _with(_two_types(), (["nodes", 1, "demand"], 3), _pair(1, 2),
                _shipment(3, 4, 1))
    findings = orvik.validate(doc)
    assert findings.ok and not any("not used" in f.message for f in findings), [
        str(f) for f in findings]


def test_the_diagnosis_of_no_solution_names_the_site_that_cannot_be_carried():
    doc = _with(_two_types(), (["nodes", 5, "demand"], 30))
    reasons = no_solution_reasons(doc)
    assert any("demand 30 exceeds the capacity of every agent that may serve node 5" in r
               and "$.nodes[5].demand" in r for r in reasons), reasons


# ---------------------------------------------------------------------------------------------
# The solution's stops, the command line and the plot


def _solved_by_hand():
    """The line with loads and a service, two routes the checker accepts, as an
    orvik.Solution built the way a solve builds one."""
    doc = _with(_line(agents=2), (["nodes", 1, "demand"], [2, 1]), (["nodes", 2, "pickup"], 3),
                (["nodes", 3, "service"], 4), (["agents", 0, "capacity"], [5, 5]))
    result = _result([0, 1, 2, 0], [0, 3, 4, 5, 0], costs=[4.0, 14.0])
    report = checker.check(doc, result)
    assert report.ok, report.violations
    routes = tuple(
        orvik.Route(k, "car", cost, tuple(
            orvik.Stop(s.vertex, s.vertex, s.arrival, s.wait, s.departure, s.service, s.load)
            for s in schedule), k)
        for k, (cost, schedule) in enumerate(zip(report.route_costs, report.schedules,
                                                 strict=True)))
    solution = orvik.Solution("solved", "min_sum", 18.0, 14.0, 18.0, routes, instance=doc)
    return doc, solution


def test_a_solution_reports_start_service_and_load_per_stop_and_keeps_them_in_json(tmp_path):
    doc, solution = _solved_by_hand()
    stops = solution.to_dict()["routes"][1]["stops"]
    assert stops[2] == {"node": 4, "arrival": 8.0, "wait": 0.0, "start": 8.0, "service": 0.0,
                        "departure": 8.0, "load": [0.0, 0.0]}
    assert stops[1]["service"] == 4.0 and stops[1]["departure"] == 7.0
    assert solution.route(0).loads == [(2.0, 1.0), (0.0, 0.0), (3.0, 0.0), (3.0, 0.0)]
    assert "loads=[[2, 1], [0, 0], [3, 0], [3, 0]]" in repr(solution)
    report = solution.report()
    assert "  stop  node  arrival  wait  start  service  departure    load\n" in report
    assert "     1  3           3     0      3        4          7  [0, 0]" in report
    path = tmp_path / "solution.json"
    solution.to_json(path)
    again = orvik.Solution.from_json(path, instance=doc)
    assert again.routes == solution.routes
    assert again.check().ok


def test_orvik_check_names_a_broken_capacity_and_plot_shows_loads(run_cli, tmp_path):
    doc, solution = _solved_by_hand()
    instance, result, png = tmp_path / "line.json", tmp_path / "result.json", tmp_path / "r.png"
    instance.write_text(json.dumps(doc))
    solution.to_json(result)
    done = run_cli("check", str(instance), str(result))
    assert done.returncode == 0 and "feasible" in done.stdout, done.stdout + done.stderr
    drawn = run_cli("plot", str(instance), str(result), "-o", str(png), "--loads")
    assert drawn.returncode == 0, drawn.stderr
    assert png.read_bytes()[:4] == b"\x89PNG"
    doc["agents"][0]["capacity"] = [2, 5]
    instance.write_text(json.dumps(doc))
    broken = run_cli("check", str(instance), str(result))
    assert broken.returncode == 1
    assert ("violation: route 0 (agent id 0): load [3, 0] after position 2 (vertex 2 (node id "
            "2)) exceeds its capacity [2, 5] in dimension 0") in broken.stdout


def test_the_plot_labels_each_site_with_its_load():
    doc, solution = _solved_by_hand()
    ax = plot_solution(solution, doc, loads=True)
    texts = [t.get_text() for t in ax.texts]
    assert any(text.endswith("load 3/0") for text in texts), texts
    assert any("leaves with 2/1" in t.get_text() for t in ax.get_legend().get_texts())


@pytest.mark.parametrize(("load", "words"), [
    ([1, "2"], r"\$\.routes\[0\]\.stops\[1\]\.load\[1\]: expected a finite number, got '2'"),
    ([1, 2, 3, 4, 5], r"\$\.routes\[0\]\.stops\[1\]\.load: expected an array of up to 4"),
    ("3", r"\$\.routes\[0\]\.stops\[1\]\.load: expected an array"),
])
def test_a_solution_document_with_a_bad_load_is_refused_naming_the_place(load, words):
    _, solution = _solved_by_hand()
    doc = solution.to_dict()
    doc["routes"][0]["stops"][1]["load"] = load
    with pytest.raises(orvik.InstanceError, match=words):
        orvik.Solution.from_json(doc)
