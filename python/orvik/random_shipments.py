"""Seeded pickup-and-delivery instances, each feasible by construction.

``shipment_instance(seed)`` draws a fleet that carries goods between pairs of sites in a
100 x 100 square: every site is the pickup or the delivery of one shipment (the same agent
serves both, the pickup first, the amount on board in between), the agents share one depot and
a capacity (in one or two dimensions), and on some instances every site has a service duration
and a time window. Every keyword argument fixes one feature instead of drawing it from the seed.

Each instance is built around a reference plan: the shipments go to the agents by a sweep
around the depot, and each agent then goes, from where it stands, to the nearest site it may
serve next (a delivery of what it carries, or a pickup that fits in what is left of its
capacity). The windows are laid around the plan's service starts, so the plan solves the
instance and a solver that reports no solution is wrong.
"""

from __future__ import annotations

import math
import random
from typing import Any

from orvik.random_shapes import SIDE, _leg
from orvik.rules import MIN_SUM

TYPE = "van"
# Uniform sites, or sites around a few centres (the two layouts of the classic sets).
LAYOUTS = ("uniform", "clustered")
CLUSTER_SPREAD = 8.0
# Shipment amounts and capacities, per dimension (whole numbers, uniform draws).
AMOUNT = (1, 10)
CAPACITY = (15, 30)
# Service durations with windows, and how far a window opens before the plan's service start
# and closes after it (uniform draws, one for each side).
SERVICE = (2, 10)
WINDOW_SLACK = (15.0, 90.0)
# Shipments per agent (a uniform draw): sets the fleet size.
SHIPMENTS_PER_AGENT = (6, 12)
# Node ids: the depot, then the sites from SITE_ID (a shipment's pickup, then its delivery);
# agent ids from AGENT_ID.
DEPOT_ID = 0
SITE_ID = 1
AGENT_ID = 1000


def shipment_instance(seed: int, **features: Any) -> dict[str, Any]:
    """An instance drawn from ``seed``; ``features`` as ``shipment_and_plan`` takes them."""
    return shipment_and_plan(seed, **features)[0]


def shipment_and_plan(
    seed: int,
    *,
    sites: int | tuple[int, int] | None = None,
    agents: int | None = None,
    windows: bool | None = None,
    layout: str | None = None,
    dimensions: int | None = None,
    objective: str = MIN_SUM,
    time_limit: float = 10.0,
) -> tuple[dict[str, Any], dict[str, Any]]:
    """An instance drawn from ``seed`` and its reference plan, as a result dictionary (routes
    of vertex positions with their costs) that ``orvik.checker.check`` accepts.

    - ``sites``: how many, an even number (a number, or a (lo, hi) range; default 50 to 200);
    - ``agents``: the fleet (default: one agent per 6 to 12 shipments, at least 2);
    - ``windows``: every site gets a service duration and a time window (default: a coin);
    - ``layout``: "uniform" or "clustered" sites (default: a coin);
    - ``dimensions``: 1 or 2 of the load (default 1, or 2 one time in four);
    - ``objective``: "min_sum" (default) or "min_max".

    The depot lies at the centre, costs are Euclidean distances rounded to two decimals, and
    the options set "enforce_constraints".
    """
    rng = random.Random(seed)
    n_sites = sites if sites is not None else (50, 200)
    if isinstance(n_sites, tuple):
        n_sites = rng.randint(*n_sites)
    n_sites = max(2, n_sites + n_sites % 2)
    pairs = n_sites // 2
    m = agents if agents is not None else max(
        2, math.ceil(pairs / rng.randint(*SHIPMENTS_PER_AGENT)))
    timed = windows if windows is not None else rng.random() < 0.5
    layout = layout if layout is not None else rng.choice(LAYOUTS)
    if layout not in LAYOUTS:
        raise ValueError(f"layout must be one of {', '.join(LAYOUTS)}, got {layout!r}")
    dims = dimensions if dimensions is not None else (2 if rng.random() < 0.25 else 1)

    def point() -> tuple[float, float]:
        if layout == "uniform":
            return rng.uniform(0, SIDE), rng.uniform(0, SIDE)
        cx, cy = rng.choice(centres)
        return (min(SIDE, max(0.0, rng.gauss(cx, CLUSTER_SPREAD))),
                min(SIDE, max(0.0, rng.gauss(cy, CLUSTER_SPREAD))))

    centres = [(rng.uniform(10, SIDE - 10), rng.uniform(10, SIDE - 10))
               for _ in range(rng.randint(3, 8))]
    depot = (SIDE / 2, SIDE / 2)
    # Vertex 0 is the depot; shipment s has its pickup at vertex 1 + 2s, its delivery next.
    xy = [depot] + [point() for _ in range(n_sites)]
    xy = [(round(x, 3), round(y, 3)) for x, y in xy]
    amount = [[rng.randint(*AMOUNT) for _ in range(dims)] for _ in range(pairs)]
    capacity = [rng.randint(*CAPACITY) for _ in range(dims)]
    service = [0.0] + [float(rng.randint(*SERVICE)) if timed else 0.0 for _ in range(n_sites)]

    # The sweep: shipments in the order of their pickup's angle around the depot, cut into one
    # run of consecutive shipments per agent.
    def angle(s: int) -> float:
        x, y = xy[1 + 2 * s]
        return math.atan2(y - depot[1], x - depot[0])

    swept = sorted(range(pairs), key=lambda s: (angle(s), s))
    share = [swept[k * pairs // m:(k + 1) * pairs // m] for k in range(m)]

    paths: list[list[int]] = []
    costs: list[float] = []
    start: dict[int, float] = {}
    for mine in share:
        here, t, load = 0, 0.0, [0] * dims
        waiting, aboard = set(mine), set()
        path = [0]
        while waiting or aboard:
            options = [1 + 2 * s for s in waiting
                       if all(load[d] + amount[s][d] <= capacity[d] for d in range(dims))]
            options += [2 + 2 * s for s in aboard]
            nxt = min(options, key=lambda v: (math.dist(xy[here], xy[v]), v))
            s = (nxt - 1) // 2
            if nxt % 2:  # a pickup
                waiting.remove(s)
                aboard.add(s)
                load = [load[d] + amount[s][d] for d in range(dims)]
            else:
                aboard.remove(s)
                load = [load[d] - amount[s][d] for d in range(dims)]
            t += service[here] + _leg(1.0, xy[here], xy[nxt])
            start[nxt] = t  # service starts on arrival: the windows open before it
            here = nxt
            path.append(here)
        if len(path) > 1:
            t += service[here] + _leg(1.0, xy[here], xy[0])
            path.append(0)
        paths.append(path)
        costs.append(t)

    window_items = []
    if timed:
        for v in range(1, n_sites + 1):
            opens = max(0.0, start[v] - rng.uniform(*WINDOW_SLACK))
            closes = start[v] + rng.uniform(*WINDOW_SLACK)
            window_items.append({"node": SITE_ID + v - 1, "start": round(opens, 2),
                                 "end": math.ceil(closes * 100) / 100})

    def node_id(v: int) -> int:
        return DEPOT_ID if v == 0 else SITE_ID + v - 1

    def scalar(values: list[int]) -> int | list[int]:
        return values[0] if dims == 1 else values

    constraints: list[dict[str, Any]] = [
        {"kind": "shipment", "items": [
            {"pickup": node_id(1 + 2 * s), "delivery": node_id(2 + 2 * s),
             "amount": scalar(amount[s])} for s in range(pairs)]},
        {"kind": "assignment", "items": [{"node": node_id(v), "types": [TYPE]}
                                         for v in range(len(xy))]},
    ]
    if window_items:
        constraints.append({"kind": "timewindow", "items": window_items})
    instance = {
        "name": f"shipments-{seed}",
        "source": {"format": "generated shipments", "seed": seed, "scale": 1.0},
        "nodes": [
            {"id": node_id(v), "x": x, "y": y, "z": 0.0, "type": "DEPOT" if v == 0 else "TARGET"}
            | ({"service": service[v]} if service[v] else {})
            for v, (x, y) in enumerate(xy)
        ],
        "agents": [{"id": AGENT_ID + k, "type": TYPE, "start_node": DEPOT_ID,
                    "end_node": DEPOT_ID, "capacity": scalar(capacity)} for k in range(m)],
        "costs": {TYPE: [[_leg(1.0, a, b) for b in xy] for a in xy]},
        "constraints": constraints,
        "options": {"objective": objective, "return_to_end": True, "time_limit": time_limit,
                    "enforce_constraints": True},
    }
    plan = {
        "status": "success",
        "routes": [{"agent_id": AGENT_ID + k, "path": paths[k], "cost": costs[k]}
                   for k in range(m)],
    }
    return instance, plan
