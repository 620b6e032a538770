"""Seeded instances of everyday shapes, each feasible by construction.

``shape_instance(seed)`` draws an instance in a 100 x 100 square with what robots and vans meet
every day: several depots, agents that start at one depot and end at another (often where other
agents start), open routes (``return_to_end`` false), agent types with their own speeds and sites
only some types may serve, time windows and route limits, under either objective. Every keyword
argument fixes one feature instead of drawing it from the seed.

Each instance is built around a reference plan: every site goes to an agent whose type may serve
it, each agent visits its sites in nearest-neighbour order from its start, and the windows are
laid around the plan's arrival times and the route limits above its route costs. The plan solves
the instance, so a solver that reports no solution is wrong.
"""

from __future__ import annotations

import math
import random
from typing import Any

from orvik.rules import MIN_MAX, MIN_SUM

SIDE = 100.0
# Agent types and how much each pays per unit of distance.
TYPE_SPEEDS = {"van": 1.0, "bike": 1.3, "drone": 0.8}
# A window opens up to this long before the reference plan arrives and closes up to this long
# after (a uniform draw between the two numbers, for each side).
WINDOW_SLACK = (10.0, 80.0)
# A route limit lies this far above the reference route's cost (a uniform factor).
LIMIT_FACTOR = (1.05, 1.4)
# Share of the sites open to only some types, when there are two types or more.
RESTRICTED_SHARE = 0.3
# Node ids: depots from DEPOT_ID, sites from SITE_ID; agent ids from AGENT_ID.
DEPOT_ID = 0
SITE_ID = 100
AGENT_ID = 1000


def _draw(rng: random.Random, value: Any, choices: Any) -> Any:
    """``value`` when given; a (lo, hi) pair of whole numbers draws between them; otherwise one
    of ``choices``."""
    if value is None:
        value = choices
    if isinstance(value, tuple):
        return rng.randint(*value)
    if isinstance(value, list):
        return rng.choice(value)
    return value


def _leg(speed: float, a: tuple[float, float], b: tuple[float, float]) -> float:
    return round(math.dist(a, b) * speed, 2)


def shape_instance(seed: int, **features: Any) -> dict[str, Any]:
    """An instance drawn from ``seed``; ``features`` as ``shape_and_plan`` takes them."""
    return shape_and_plan(seed, **features)[0]


def shape_and_plan(
    seed: int,
    *,
    sites: int | tuple[int, int] | None = None,
    depots: int | None = None,
    agents: int | None = None,
    types: int | None = None,
    separate_ends: float | None = None,
    return_to_end: bool | None = None,
    windows: float | None = None,
    limits: float | None = None,
    objective: str | None = None,
    time_limit: float = 10.0,
    loads: float = 0.0,
    services: float = 0.0,
    shipments: float = 0.0,
    pairs: float = 0.0,
) -> tuple[dict[str, Any], dict[str, Any]]:
    """An instance drawn from ``seed`` and its reference plan, as a result dictionary (routes
    of vertex positions with their costs) that ``orvik.checker.check`` accepts.

    - ``sites``: how many (a number, or a (lo, hi) range; default 30 to 200);
    - ``depots``: 1 to 4; ``agents``: 2 to 6, at least one per type and one starting at each
      depot;
    - ``types``: 1 to 3 agent types; with two or more, some sites are open to some types only;
    - ``separate_ends``: the share of agents that end at another depot than their start (there
      must be two depots or more);
    - ``return_to_end``: false makes routes open: they may end at their start, and the legs into
      the agent's own start and end points cost nothing;
    - ``windows``: the share of sites with a time window (0, 0.2 or 0.5 by default);
    - ``limits``: the share of agents with a route limit (``max_length``);
    - ``objective``: ``"min_max"`` or ``"min_sum"``;
    - ``loads``: the share of sites with a delivery, a pickup or both (in one or two
      dimensions), every agent's capacity then lying a little above its reference route's
      largest load;
    - ``services``: the share of sites with a service duration;
    - ``shipments``: the share of reference routes with a shipment between two of their sites;
    - ``pairs``: the share of sites in a sequence pair ("same" on a reference route, "diff"
      across two, or without a type in the order of the reference plan's service starts).

    The last four are off by default and drawn from their own random numbers, so that turning
    them on leaves the rest of the instance as it is; with any of them on, the instance's options
    set "enforce_constraints" (the raw module honours them only then).
    """
    rng = random.Random(seed)
    n_sites = _draw(rng, sites, (30, 200))
    n_depots = _draw(rng, depots, (1, 4))
    n_types = _draw(rng, types, [1, 2, 2, 3])
    m = max(_draw(rng, agents, (2, 6)), n_types, n_depots)
    separate = _draw(rng, separate_ends, [0.0, 0.5, 1.0]) if n_depots > 1 else 0.0
    open_routes = not _draw(rng, return_to_end, [True, False])
    window_share = _draw(rng, windows, [0.0, 0.2, 0.5])
    limit_share = _draw(rng, limits, [0.0, 0.5])
    objective = _draw(rng, objective, [MIN_MAX, MIN_SUM])

    depot_xy = [(rng.uniform(0, SIDE), rng.uniform(0, SIDE)) for _ in range(n_depots)]
    site_xy = [(rng.uniform(0, SIDE), rng.uniform(0, SIDE)) for _ in range(n_sites)]
    xy = depot_xy + site_xy
    type_names = list(TYPE_SPEEDS)[:n_types]

    # Agents: starts spread over the depots, types over the agents; a separate end is another
    # depot, which is often where other agents start.
    fleet = []
    for k in range(m):
        start = k % n_depots
        end = start
        if rng.random() < separate:
            end = rng.choice([d for d in range(n_depots) if d != start])
        fleet.append({"type": type_names[k % n_types], "start": start, "end": end})

    # Sites open to some types only: one or two of the types, never none.
    allowed: list[list[str]] = []
    for _ in range(n_sites):
        if n_types > 1 and rng.random() < RESTRICTED_SHARE:
            allowed.append(sorted(rng.sample(type_names, rng.randint(1, n_types - 1))))
        else:
            allowed.append(list(type_names))

    # The reference plan: each site to the nearest start of an agent that may serve it, no agent
    # taking more than its share and a half; then nearest-neighbour order from the start.
    cap = math.ceil(1.5 * n_sites / m)
    plan: list[list[int]] = [[] for _ in range(m)]
    for s in rng.sample(range(n_sites), n_sites):
        v = n_depots + s
        able = [k for k in range(m) if fleet[k]["type"] in allowed[s]]
        roomy = [k for k in able if len(plan[k]) < cap] or able
        k = min(roomy, key=lambda k: (math.dist(xy[fleet[k]["start"]], xy[v]), k))
        plan[k].append(v)
    orders = random.Random(f"{seed}-loads-and-orders")
    service = {v: float(orders.randint(1, 15)) for v in range(n_depots, len(xy))
               if orders.random() < services}
    arrival: dict[int, float] = {}
    route_cost: list[float] = []
    paths: list[list[int]] = []
    for k, agent in enumerate(fleet):
        speed = TYPE_SPEEDS[agent["type"]]
        here, t, left = agent["start"], 0.0, set(plan[k])
        paths.append([here])
        while left:
            nxt = min(left, key=lambda v: (math.dist(xy[here], xy[v]), v))
            t += _leg(speed, xy[here], xy[nxt])
            arrival[nxt] = t  # service starts on arrival: the windows open before it
            t += service.get(nxt, 0.0)
            left.remove(nxt)
            here = nxt
            paths[k].append(here)
        if not open_routes and here != agent["end"]:
            t += _leg(speed, xy[here], xy[agent["end"]])
        paths[k].append(agent["end"])
        route_cost.append(t)

    window_items = []
    for v in sorted(rng.sample(range(n_depots, n_depots + n_sites),
                               round(window_share * n_sites))):
        opens = max(0.0, arrival[v] - rng.uniform(*WINDOW_SLACK))
        closes = arrival[v] + rng.uniform(*WINDOW_SLACK)
        window_items.append({"node": SITE_ID + v - n_depots, "start": round(opens, 2),
                             "end": math.ceil(closes * 100) / 100})

    agent_items = []
    for k, agent in enumerate(fleet):
        item: dict[str, Any] = {
            "id": AGENT_ID + k,
            "type": agent["type"],
            "start_node": DEPOT_ID + agent["start"],
            "end_node": DEPOT_ID + agent["end"],
        }
        if rng.random() < limit_share:
            item["max_length"] = max(1, math.ceil(route_cost[k] * rng.uniform(*LIMIT_FACTOR)))
        agent_items.append(item)

    def node_id(v: int) -> int:
        return DEPOT_ID + v if v < n_depots else SITE_ID + v - n_depots

    sites_of = [path[1:] for path in paths]  # each reference route's sites, in order
    amounts, shipment_items = _draw_loads(orders, sites_of, loads, shipments, node_id)
    if amounts or shipment_items:
        _set_capacities(orders, agent_items, sites_of, amounts, shipment_items, node_id)
    pair_items = _draw_pairs(orders, sites_of, arrival, pairs, node_id)
    constraints: list[dict[str, Any]] = [{"kind": "assignment", "items": [
        {"node": node_id(v), "types": list(type_names) if v < n_depots else allowed[v - n_depots]}
        for v in range(len(xy))
    ]}]
    if window_items:
        constraints.append({"kind": "timewindow", "items": window_items})
    if shipment_items:
        constraints.append({"kind": "shipment", "items": shipment_items})
    if pair_items:
        constraints.append({"kind": "sequence", "precedence": pair_items})

    instance = {
        "name": f"shape-{seed}",
        "source": {"format": "generated shape", "seed": seed, "scale": 1.0},
        "nodes": [
            {"id": node_id(v), "x": round(x, 3), "y": round(y, 3), "z": 0.0,
             "type": "DEPOT" if v < n_depots else "TARGET"}
            | amounts.get(v, {}) | ({"service": service[v]} if v in service else {})
            for v, (x, y) in enumerate(xy)
        ],
        "agents": agent_items,
        "costs": {name: [[_leg(TYPE_SPEEDS[name], a, b) for b in xy] for a in xy]
                  for name in type_names},
        "constraints": constraints,
        "options": {"objective": objective, "return_to_end": not open_routes,
                    "time_limit": time_limit},
    }
    if amounts or service or shipment_items or pair_items:
        instance["options"]["enforce_constraints"] = True
    plan_result = {
        "status": "success",
        "routes": [{"agent_id": AGENT_ID + k, "path": paths[k], "cost": route_cost[k]}
                   for k in range(m)],
    }
    return instance, plan_result


def _draw_loads(rng: random.Random, sites_of: list[list[int]], share: float,
                shipment_share: float, node_id: Any
                ) -> tuple[dict[int, dict[str, Any]], list[dict[str, Any]]]:
    """Deliveries and pickups of some sites (vertex: its amount keys) and shipments between
    two sites of one reference route, the earlier one the pickup."""
    dimensions = rng.choice([1, 2])

    def amount() -> Any:
        values = [rng.randint(1, 9) for _ in range(dimensions)]
        return values[0] if dimensions == 1 else values

    amounts: dict[int, dict[str, Any]] = {}
    for sites in sites_of:
        for v in sites[:-1]:  # the last stop is the agent's end
            if rng.random() < share:
                keys = rng.choice([("demand",), ("pickup",), ("demand", "pickup")])
                amounts[v] = {key: amount() for key in keys}
    shipments = []
    for sites in sites_of:
        inner = sites[:-1]
        if len(inner) >= 2 and rng.random() < shipment_share:
            first, second = sorted(rng.sample(range(len(inner)), 2))
            shipments.append({"pickup": node_id(inner[first]),
                              "delivery": node_id(inner[second]), "amount": amount()})
    return amounts, shipments


def _set_capacities(rng: random.Random, agents: list[dict[str, Any]], sites_of: list[list[int]],
                    amounts: dict[int, dict[str, Any]], shipments: list[dict[str, Any]],
                    node_id: Any) -> None:
    """Each agent's capacity a little above the largest load of its reference route."""
    def vector(value: Any) -> list[float]:
        return [float(value)] if not isinstance(value, list) else [float(v) for v in value]

    dimensions = max((len(vector(value)) for keys in amounts.values()
                      for value in keys.values()), default=1)
    dimensions = max([dimensions] + [len(vector(s["amount"])) for s in shipments])

    def padded(value: Any) -> list[float]:
        values = vector(value)
        return values + [0.0] * (dimensions - len(values))

    change: dict[int, list[float]] = {}
    for shipment in shipments:
        for key, sign in (("pickup", 1.0), ("delivery", -1.0)):
            totals = change.setdefault(shipment[key], [0.0] * dimensions)
            for d, a in enumerate(padded(shipment["amount"])):
                totals[d] += sign * a
    for agent, sites in zip(agents, sites_of, strict=True):
        inner = sites[:-1]
        load = [0.0] * dimensions
        for v in inner:
            for d, a in enumerate(padded(amounts.get(v, {}).get("demand", 0))):
                load[d] += a
        peak = list(load)
        for v in inner:
            keys = amounts.get(v, {})
            extra = change.get(node_id(v), [0.0] * dimensions)
            for d, (drop, take) in enumerate(zip(padded(keys.get("demand", 0)),
                                                 padded(keys.get("pickup", 0)), strict=True)):
                load[d] += take - drop + extra[d]
                peak[d] = max(peak[d], load[d])
        capacity = [max(1, math.ceil(p * rng.uniform(1.0, 1.25))) for p in peak]
        agent["capacity"] = capacity[0] if dimensions == 1 else capacity


def _draw_pairs(rng: random.Random, sites_of: list[list[int]], arrival: dict[int, float],
                share: float, node_id: Any) -> list[dict[str, Any]]:
    """Sequence pairs the reference plan keeps: "same" on one of its routes in order, "diff"
    across two, and pairs without a type in the order of the plan's service starts."""
    routes = [sites[:-1] for sites in sites_of if len(sites) > 1]
    every = [v for sites in routes for v in sites]
    pairs: list[dict[str, Any]] = []
    for _ in range(round(share * len(every) / 2)):
        kind = rng.choice(["same", "diff", None])
        long_routes = [r for r in routes if len(r) >= 2]
        if kind == "same" and long_routes:
            route = rng.choice(long_routes)
            i, j = sorted(rng.sample(range(len(route)), 2))
            pairs.append({"before": node_id(route[i]), "after": node_id(route[j]),
                          "type": "same"})
        elif kind == "diff" and len(routes) >= 2:
            first, second = rng.sample(routes, 2)
            pairs.append({"before": node_id(rng.choice(first)),
                          "after": node_id(rng.choice(second)), "type": "diff"})
        elif len(every) >= 2:
            a, b = sorted(rng.sample(every, 2), key=lambda v: (arrival[v], v))
            pairs.append({"before": node_id(a), "after": node_id(b)})
    return pairs
