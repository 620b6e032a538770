"""Seeded random instances: small, varied, and the same for the same seed.

``random_instance(seed)`` draws a JSON instance (as a dict) of 3 to 8 nodes and 1 to 3 agents
of one or two types, with Euclidean costs rounded to one decimal. Each feature is drawn from its
own probability, so that the instances cover the combinations:

- the objective (``min_max`` or ``min_sum``) and ``return_to_end``;
- agents sharing one depot, or starting and ending at nodes of their own;
- assignment entries that restrict a node to one type;
- time windows on some nodes, and route-length limits (``max_length``) on some agents;
- missing cost entries: a matrix with fewer rows than nodes, rows cut short, or cells set to
  9999 (no connection);
- loads (deliveries, pickups and capacities, in one or two dimensions), service durations,
  shipments and sequence pairs of each type: off by default, drawn after everything else so
  that the rest of an instance does not depend on them; with any of them the options set
  "enforce_constraints".

Pass a probability of 0.0 or 1.0 to switch a feature off or on for every instance.
"""

from __future__ import annotations

import math
import random
from typing import Any

from orvik.rules import MIN_MAX, MIN_SUM, NO_CONNECTION

TYPE_NAMES = ("ground", "air")


def _euclidean(a: tuple[float, float], b: tuple[float, float]) -> float:
    return math.floor(10.0 * math.hypot(a[0] - b[0], a[1] - b[1])) / 10.0


def _drop_entries(rng: random.Random, matrix: list[list[float]]) -> None:
    """Removes or disconnects a few entries in place, in one of three ways."""
    n = len(matrix)
    way = rng.randrange(3)
    if way == 0 and n > 2:
        del matrix[rng.randrange(1, n) :]  # the last rows are missing
    elif way == 1:
        row = rng.randrange(n)
        del matrix[row][rng.randrange(n) :]  # one row is cut short
    else:
        for _ in range(rng.randint(1, max(1, n // 2))):
            u, v = rng.randrange(n), rng.randrange(n)
            if u != v:
                matrix[u][v] = NO_CONNECTION


def random_instance(
    seed: int,
    *,
    missing: float = 0.3,
    windows: float = 0.3,
    limits: float = 0.3,
    separate_ends: float = 0.4,
    assignment: float = 0.4,
    time_limit: float = 5.0,
    loads: float = 0.0,
    services: float = 0.0,
    orders: float = 0.0,
) -> dict[str, Any]:
    """A random instance drawn from ``seed``; the keyword arguments are the probabilities of the
    features listed in the module docstring."""
    rng = random.Random(seed)
    n = rng.randint(3, 8)
    xy = [(float(rng.randint(0, 20)), float(rng.randint(0, 20))) for _ in range(n)]
    nodes = [{"id": 10 + v, "x": x, "y": y, "z": 0.0} for v, (x, y) in enumerate(xy)]

    m = rng.randint(1, min(3, n - 1))
    types = list(TYPE_NAMES[: rng.randint(1, min(2, m))])
    separate = rng.random() < separate_ends and n >= 2 * m + 1
    depots = rng.sample(range(n), 2 * m) if separate else [rng.randrange(n)] * (2 * m)
    agents = []
    for k in range(m):
        agent: dict[str, Any] = {
            "id": 100 + k,
            "type": types[k % len(types)],
            "start_node": 10 + depots[2 * k],
            "end_node": 10 + depots[2 * k + 1],
        }
        if rng.random() < limits:
            agent["max_length"] = rng.randint(20, 80)
        agents.append(agent)
    nodes[depots[0]]["type"] = "DEPOT"

    costs: dict[str, list[list[float]]] = {}
    for name in types:
        stretch = 1.0 if name == "ground" else 0.6
        matrix = [[round(_euclidean(a, b) * stretch, 1) for b in xy] for a in xy]
        if rng.random() < missing:
            _drop_entries(rng, matrix)
        costs[name] = matrix

    constraints: list[dict[str, Any]] = []
    items = [{"node": 10 + v, "types": list(types)} for v in range(n)]
    if len(types) > 1 and rng.random() < assignment:
        for item in items:
            if item["node"] - 10 not in depots and rng.random() < 0.3:
                item["types"] = [rng.choice(types)]
    constraints.append({"kind": "assignment", "items": items})
    if rng.random() < windows:
        chosen = rng.sample(range(n), rng.randint(1, n))
        spans = []
        for v in chosen:
            opens = float(rng.randint(0, 30))
            spans.append({"node": 10 + v, "start": opens, "end": opens + rng.randint(5, 60)})
        constraints.append({"kind": "timewindow", "items": spans})

    instance = {
        "nodes": nodes,
        "agents": agents,
        "costs": costs,
        "constraints": constraints,
        "options": {
            "objective": rng.choice((MIN_MAX, MIN_SUM)),
            "return_to_end": rng.random() < 0.5,
            "time_limit": time_limit,
        },
    }
    if loads or services or orders:
        _loads_and_orders(rng, instance, set(depots), loads, services, orders)
    return instance


def _loads_and_orders(rng: random.Random, instance: dict[str, Any], depots: set[int],
                      loads: float, services: float, orders: float) -> None:
    """Adds loads, service durations, shipments and pairs to an instance drawn above."""
    nodes = instance["nodes"]
    sites = [v for v in range(len(nodes)) if v not in depots]
    dimensions = rng.choice([1, 2])

    def amount(top: int) -> Any:
        values = [rng.randint(0, top) for _ in range(dimensions)]
        return values[0] if dimensions == 1 else values

    for v in sites:
        if rng.random() < loads:
            nodes[v][rng.choice(["demand", "delivery"])] = amount(6)
        if rng.random() < loads:
            nodes[v]["pickup"] = amount(6)
        if rng.random() < services:
            nodes[v]["service"] = float(rng.randint(1, 8))
    if loads:
        for agent in instance["agents"]:
            agent["capacity"] = amount(15)
    pairs, shipments = [], []
    if len(sites) >= 2:
        for _ in range(rng.randint(0, 2) if rng.random() < orders else 0):
            a, b = rng.sample(sites, 2)
            pair = {"before": 10 + a, "after": 10 + b}
            kind = rng.choice(["same", "diff", None])
            pairs.append(pair if kind is None else dict(pair, type=kind))
        if rng.random() < orders:
            a, b = rng.sample(sites, 2)
            shipments.append({"pickup": 10 + a, "delivery": 10 + b, "amount": amount(5)})
    if shipments:
        instance["constraints"].append({"kind": "shipment", "items": shipments})
    if pairs:
        instance["constraints"].append({"kind": "sequence", "precedence": pairs})
    instance["options"]["enforce_constraints"] = True
