"""PyVRP as a peer solver for the MinSum instances it can express.

The model (PyVRP's ``Model``):

- One location per vertex. Every agent's start and end vertex becomes a depot; every other
  vertex a required client with its time window (open rounded up, close rounded down, in
  thousandths).
- Agents with the same type, start, end and route limit form one vehicle type with that many
  vehicles available; a vehicle type starts at time 0 exactly (``tw_early = start_late = 0``)
  and must be back by the close of its end vertex's window. A positive ``max_length`` becomes
  the shift duration.
- One routing profile per agent type (per type and endpoints when ``return_to_end`` is false,
  where legs into the agent's own start or end vertex are free): edges carry the leg cost times
  1000 rounded up, as both distance and duration. Legs of 9999 (no connection) and legs into
  clients the type may not serve cost 9999 (in thousandths): discouraged, not forbidden; the
  checker rejects a route that uses one. When every finite leg cost, window bound and route limit
  is a whole number (a CVRPLIB instance, say), the units are the instance's own instead of
  thousandths, the scale PyVRP's penalties are tuned for.
- Loads: each client's delivery and pickup and each vehicle type's capacity, per dimension, in
  whole units when every amount is whole, else in thousandths (amounts rounded up, capacities
  down, so that a route PyVRP accepts keeps its capacities in the instance's numbers); a
  capacity of 0 (no limit) becomes the sum of all amounts, which no route can exceed.
- Objective: duration cost 1, distance cost 0. With the start fixed at 0, a route's duration
  is the time its agent is back, waiting included: the MinSum objective of the instance.

What it cannot express, and so is skipped: the MinMax objective (PyVRP minimises a sum).
Approximations: integer thousandths (reported costs are recomputed in doubles); waiting for
the opening of the end vertex's window is not counted; a route cannot end at its start vertex
when that differs from its end vertex; another agent's start vertex is never visited; an
unused agent whose start and end differ is reported with the direct leg between them, which
PyVRP does not count.

Run as a script: ``python benchmarks/pyvrp_adapter.py INSTANCE --time-limit S [--out F]``.
"""

from __future__ import annotations

import sys
import time
from typing import Any

try:
    from instance_view import (
        NO_CONNECTION,
        InstanceView,
        adapter_main,
        empty_result,
        routes_result,
        rules,
        scaled_down,
        scaled_up,
    )
except ImportError:  # imported as benchmarks.pyvrp_adapter
    from benchmarks.instance_view import (
        NO_CONNECTION,
        InstanceView,
        adapter_main,
        empty_result,
        routes_result,
        rules,
        scaled_down,
        scaled_up,
    )

SCALE = 1000
SOLVER = "pyvrp"
# The price of a leg with no connection, and of serving a client the agent's type may not
# serve: the instance's own 9999 in thousandths. PyVRP's default missing-edge value (2^44)
# makes its local search loop on some instances with time windows.
NO_CONNECTION_SCALED = int(NO_CONNECTION) * SCALE


def cost_scale(view: InstanceView) -> int:
    """1 when every finite leg cost, window bound and route limit is whole, else SCALE."""
    numbers = [c for m in view.matrix.values() for row in m for c in row
               if not rules.is_no_connection(c)]
    numbers += [b for w in view.windows.values() for b in w]
    return 1 if all(float(x).is_integer() for x in numbers) else SCALE


def unsupported_reason(view: InstanceView) -> str | None:
    """Why PyVRP cannot take this instance, or None."""
    if view.objective == rules.MIN_MAX:
        return "PyVRP minimises a sum of route costs; it has no MinMax objective"
    if not view.agents:
        return "no agents"
    if view.shipments or view.pairs or any(view.services):
        return "shipments, sequence pairs and service durations are not modelled here"
    return None


def solve(instance: dict[str, Any], time_limit: float, seed: int = 0) -> dict[str, Any]:
    """Solve a MinSum instance with PyVRP within time_limit seconds (wall clock)."""
    from pyvrp import Model
    from pyvrp.stop import MaxRuntime

    start_clock = time.perf_counter()
    view = InstanceView(instance)
    reason = unsupported_reason(view)
    if reason is not None:
        return empty_result(view, SOLVER, reason, status="skipped")
    for v in view.customers:
        if not view.allowed[v]:
            return empty_result(view, SOLVER, f"vertex {v} may be served by no agent")
    scale = cost_scale(view)
    amounts = [x for v in view.customers for x in (*view.deliveries[v], *view.pickups[v])]
    load_scale = 1 if all(float(x).is_integer() for x in amounts) else SCALE
    unlimited = scaled_up(sum(amounts), load_scale) + 1

    def load(values: tuple[float, ...]) -> list[int]:
        return [scaled_up(x, load_scale) for x in values]

    def capacity(values: tuple[float, ...]) -> list[int]:
        return [scaled_down(x, load_scale) if x > 0 else unlimited for x in values]

    model = Model()
    locations = [model.add_location(x, y) for x, y in view.xy]
    depot_vertices = sorted(view.endpoints)
    depots = {v: model.add_depot(locations[v]) for v in depot_vertices}
    client_vertices = view.customers
    customer_set = set(client_vertices)
    for v in client_vertices:
        loads = {"delivery": load(view.deliveries[v]), "pickup": load(view.pickups[v])}
        window = view.windows.get(v)
        if window is None:
            model.add_client(locations[v], **loads)
            continue
        lo, hi = max(scaled_up(window[0], scale), 0), scaled_down(window[1], scale)
        if hi < lo:
            return empty_result(view, SOLVER, f"vertex {v} has an empty time window")
        model.add_client(locations[v], tw_early=lo, tw_late=hi, **loads)

    profiles: dict[tuple[str, tuple[int, ...]], Any] = {}
    groups: dict[tuple[str, int, int, int, tuple[float, ...]], list[int]] = {}
    for k, agent in enumerate(view.agents):
        groups.setdefault((agent.type_name, agent.start, agent.end, agent.limit, agent.capacity),
                          []).append(k)
        pkey = (agent.type_name, () if view.return_to_end else (agent.start, agent.end))
        if pkey in profiles:
            continue
        profile = model.add_profile()
        profiles[pkey] = profile
        for i in range(view.n):
            for j in range(view.n):
                if i == j:
                    continue
                leg = view.leg(k, i, j)
                if rules.is_no_connection(leg) or (
                    j in customer_set and agent.type_name not in view.allowed[j]
                ):
                    value = int(NO_CONNECTION) * scale
                else:
                    value = scaled_up(leg, scale)
                model.add_edge(locations[i], locations[j], value, value, profile=profile)

    group_agents: list[list[int]] = []
    for (type_name, start, end, limit, capacities), members in groups.items():
        window = view.windows.get(end)
        extra: dict[str, Any] = {}
        if window is not None:
            extra["tw_late"] = max(scaled_down(window[1], scale), 0)
        if limit > 0:
            extra["shift_duration"] = limit * scale
        pkey = (type_name, () if view.return_to_end else (start, end))
        model.add_vehicle_type(
            num_available=len(members),
            start_depot=depots[start],
            end_depot=depots[end],
            tw_early=0,
            start_late=0,
            unit_distance_cost=0,
            unit_duration_cost=1,
            profile=profiles[pkey],
            capacity=capacity(capacities),
            **extra,
        )
        group_agents.append(members)

    remaining = max(time_limit - (time.perf_counter() - start_clock), 0.001)
    res = model.solve(MaxRuntime(remaining), seed=seed, display=False)
    solve_time = time.perf_counter() - start_clock

    paths: list[list[int] | None] = [None] * len(view.agents)
    next_member = [0] * len(group_agents)
    for route in res.best.routes():
        t = route.vehicle_type()
        k = group_agents[t][next_member[t]]
        next_member[t] += 1
        path = []
        for activity in route.schedule():
            kind = str(activity.type).upper()
            if "DEPOT" in kind:
                path.append(depot_vertices[activity.idx])
            else:
                path.append(client_vertices[activity.idx])
        paths[k] = path
    for k, agent in enumerate(view.agents):
        if paths[k] is None:
            alone = agent.start == agent.end or not view.return_to_end
            paths[k] = [agent.start] if alone else [agent.start, agent.end]

    anytime: list[dict[str, Any]] = []
    best = None
    for i, datum in enumerate(res.stats.data):
        if datum.best_feas and (best is None or datum.best_cost < best):
            best = datum.best_cost
            anytime.append({"iteration": i, "objective": best / scale})
    statistics = {
        "solve_time": solve_time,
        "solutions_found": len(anytime),
        "objective_scaled": res.cost() / scale if res.is_feasible() else None,
        "pyvrp_feasible": res.is_feasible(),
        "iterations": res.num_iterations,
    }
    return routes_result(view, SOLVER, [p for p in paths if p is not None], statistics,
                         anytime, True)


def main(argv: list[str] | None = None) -> int:
    return adapter_main(solve, "Solve a MinSum JSON instance with PyVRP.", argv)


if __name__ == "__main__":
    sys.exit(main())
