"""The core's option "enforce_constraints": loads, service durations, shipments and sequence
pairs honoured by solve_json_str, each route's schedule, and the reason when there is no
solution. Without the option the same documents solve as before."""

import json
import math

import _orvik_core as core
import pytest


def document(sites=8, capacity=30, enforce=True, improve=True, **extra):
    """A depot (node 0) and `sites` sites on a circle, two trucks; every site delivers 10."""
    nodes = [{"id": 0, "x": 0.0, "y": 0.0, "z": 0.0, "type": "DEPOT"}]
    for i in range(1, sites + 1):
        angle = 2 * math.pi * i / sites
        nodes.append(
            {"id": i, "x": 10 * math.cos(angle), "y": 10 * math.sin(angle), "z": 0.0, "demand": 10}
        )
    points = [(n["x"], n["y"]) for n in nodes]
    matrix = [[round(math.dist(p, q), 3) for q in points] for p in points]
    doc = {
        "nodes": nodes,
        "agents": [
            {"id": 100 + a, "type": "truck", "start_node": 0, "end_node": 0, "capacity": capacity}
            for a in range(2)
        ],
        "costs": {"truck": matrix},
        "constraints": [
            {"kind": "assignment", "items": [{"node": n["id"], "types": ["truck"]} for n in nodes]}
        ],
        "options": {
            "objective": "min_sum",
            "time_limit": 20,
            "improve": improve,
            "improve_iterations": 40,
            "seed": 1,
            "enforce_constraints": enforce,
        },
    }
    for key, value in extra.items():
        if key == "constraints":
            doc["constraints"] += value
        else:
            value(doc)
    return doc


def solve(doc):
    return core.solve_json_str(json.dumps(doc))


def served(result):
    return [route["path"][1:-1] for route in result["routes"]]


@pytest.mark.parametrize("improve", [True, False], ids=["improving", "search_alone"])
def test_every_route_stays_within_capacity_and_reports_its_schedule(improve):
    result = solve(document(capacity=40, improve=improve))
    assert result["status"] == "success"
    assert sorted(v for path in served(result) for v in path) == list(range(1, 9))
    for route in result["routes"]:
        schedule = route["schedule"]
        assert len(schedule) == len(route["path"])
        assert schedule[0]["load"] == [10.0 * (len(route["path"]) - 2)]
        assert all(stop["load"][0] <= 40 for stop in schedule)
        assert schedule[-1]["load"] == [0.0]
        assert schedule[-1]["arrival"] == pytest.approx(route["cost"])
        for stop in schedule:
            assert stop["arrival"] <= stop["start"] <= stop["departure"]


def test_without_the_option_loads_are_stored_and_ignored():
    result = solve(document(capacity=10, enforce=False))
    assert result["status"] == "success"
    assert all("schedule" not in route for route in result["routes"])
    assert "reason" not in result
    # More than one site of 10 on a truck of 10.
    assert max(len(path) for path in served(result)) > 1


def pickups_and_service(doc):
    for node in doc["nodes"][1:]:
        node["service"] = 2.0
        if node["id"] % 2 == 0:
            del node["demand"]
            node["pickup"] = [5, 1]
    for agent in doc["agents"]:
        agent["capacity"] = [40, 3]


def test_pickups_service_and_two_dimensions():
    result = solve(document(extra=pickups_and_service))
    assert result["status"] == "success"
    for route in result["routes"]:
        for stop in route["schedule"]:
            assert len(stop["load"]) == 2
            assert stop["load"][0] <= 40 and stop["load"][1] <= 3
        for stop, node in zip(route["schedule"][1:-1], route["path"][1:-1], strict=True):
            assert stop["departure"] == pytest.approx(stop["start"] + 2.0), node


ORDERS = [
    {"kind": "shipment", "items": [{"pickup": 1, "delivery": 5, "amount": 20}]},
    {
        "kind": "sequence",
        "precedence": [
            {"before": 7, "after": 3, "type": "same"},
            {"before": 2, "after": 6, "type": "diff"},
        ],
    },
    {"kind": "sequence", "precedence": [{"before": 8, "after": 4}]},
]


def test_shipments_and_pairs_hold():
    result = solve(document(capacity=60, constraints=ORDERS))
    assert result["status"] == "success"
    where = {v: (r, i) for r, path in enumerate(served(result)) for i, v in enumerate(path)}
    starts = {}
    for route in result["routes"]:
        for stop, v in zip(route["schedule"], route["path"], strict=True):
            starts[v] = stop["start"]
    for first, second in [(1, 5), (7, 3)]:
        assert where[first][0] == where[second][0]
        assert where[first][1] < where[second][1]
    assert where[2][0] != where[6][0]
    assert starts[8] <= starts[4] + 1e-9


@pytest.mark.parametrize(
    ("change", "reason"),
    [
        (
            lambda doc: doc["nodes"][3].update(demand=500),
            "point 3 (node id 3) cannot be carried: its load exceeds the capacity of every agent that may serve it",
        ),
        (
            lambda doc: doc["constraints"].append(
                {
                    "kind": "sequence",
                    "precedence": [{"before": 1, "after": 2}, {"before": 2, "after": 1}],
                }
            ),
            "the orders cannot be kept: they form a cycle (node 1 before node 2 before node 1)",
        ),
    ],
    ids=["too_heavy", "cycle"],
)
def test_no_solution_names_the_site_or_pair(change, reason):
    result = solve(document(extra=change))
    assert result["status"] == "failed"
    assert result["routes"][0]["path"] == []
    assert result["reason"] == reason


@pytest.mark.parametrize(
    ("change", "message"),
    [
        (
            lambda doc: doc["nodes"][1].update(delivery=3),
            "[json.exception.out_of_range.406] node 1 gives both 'demand' and 'delivery'; give one",
        ),
        (
            lambda doc: doc["nodes"][1].update(demand=[1, 2, 3, 4, 5]),
            "[json.exception.out_of_range.406] key 'demand' of node 1 has 5 entries; give 1 to 4",
        ),
        (
            lambda doc: doc["nodes"][1].update(pickup=-2),
            (
                "[json.exception.out_of_range.406] key 'pickup' of node 1 has the amount -2.0; "
                "amounts are finite and not negative"
            ),
        ),
    ],
    ids=["demand_and_delivery", "five_dimensions", "negative_pickup"],
)
def test_loader_refuses_amounts_it_cannot_read(change, message):
    with pytest.raises(RuntimeError) as error:
        solve(document(extra=change))
    assert str(error.value) == message
