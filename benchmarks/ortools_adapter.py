"""OR-Tools routing as a peer solver for any instance of Orvik's JSON format.

The model (``ortools.constraint_solver`` routing library):

- One vehicle per agent, in agent order, starting at the agent's start vertex and ending at its
  end vertex: any number of depots, start and end vertices that differ, and depots shared with
  other agents (an agent's end may be where others start or end), since every vehicle has start
  and end indices of its own. OR-Tools treats every start and end vertex as a depot; all other
  vertices are mandatory visits.
- Arc costs per agent type: the type's matrix times 1000, rounded to integers, one cost
  evaluator per distinct (type, free legs) pair. A missing entry (9999) stays a cost of
  9 999 000; an arc with no connection for any type is removed from the model.
- ``return_to_end`` false (open routes): legs into the agent's own start or end vertex cost
  nothing (in arc costs and in time), so the arc into the end vertex is free and a route ends,
  in effect, at its last site. OR-Tools routes always end at the agent's end vertex; with free
  legs into both endpoints, ending there is equivalent to ending back at the start except for
  the window of the end vertex.
- Assignment: the vertex's vehicle variable loses the agents whose type may not serve it.
  An agent whose type may not serve its own end vertex is kept unused (its route stays
  ``[start]``) when start and end coincide; otherwise the instance is reported as failed.
- Time: one dimension "RouteCost" whose transits are the leg costs times 1000 rounded up,
  with waiting as slack and every start cumul fixed to 0, so that a vertex's cumul is the
  agent's arrival there. Time windows bound the cumul of their vertex (open rounded up, close
  rounded down), the end vertex's window bounds the end cumul, and a positive ``max_length``
  bounds the end cumul too. The rounding direction keeps an OR-Tools-feasible route feasible
  in the instance's doubles.
- Objective MinSum: the arc costs; with time windows also the span of every route (route end
  times, waiting included) with coefficient 1, so that waiting counts.
- Objective MinMax: the arc costs plus 100 times the global span of "RouteCost", i.e. the
  largest route cost.
- With time windows, route limits or loads every visit is optional at a prohibitive penalty
  (1000 times the time horizon), so that a first solution exists even where the construction
  heuristics cannot place every vertex (a tight fleet); a result that still drops one fails the
  check.
- Loads and orders (option "enforce_constraints"): a site's service duration is folded into
  the legs that leave it, in arc costs and in time (the window bounds the start of service,
  the cumul). One dimension "Load<d>" per load dimension, whose transit at a vertex is its
  pickup minus its delivery plus what its shipments take or drop, bounded by the agent's
  capacity (0: no limit) at every vertex; with deliveries, a dimension "Delivered<d>" sums a
  route's deliveries and the load at the start equals its sum at the end, so that what is
  delivered is on board from the start (with deliveries alone, the classic model: a dimension
  that counts them up from 0). A shipment is a pickup-and-delivery pair
  (``AddPickupAndDelivery``): one vehicle serves both, the pickup no later than the delivery,
  and, where visits are optional, both or neither.
- Search: first solution by path-cheapest-arc (parallel cheapest insertion with time windows
  or shipments), then guided local search until the time limit (wall clock, single-threaded).

What OR-Tools cannot express, or only approximates: costs are integers in thousandths, so its
objective can differ from the doubles by up to 0.0005 per leg (the reported costs are
recomputed in doubles); the MinMax objective also carries the arc costs as a secondary term; the
MinSum objective with time windows counts travel twice (arc cost plus span), a proxy for travel
plus waiting; an open route cannot end back at its start vertex when that differs from its end
vertex (the same cost, but the end vertex's window applies); a window on a start vertex that
opens after 0 is not waited for (every start cumul is 0); another agent's start vertex, which
Orvik may pass through when ``return_to_end`` is true, is never visited; 9999-cost legs are
discouraged by their cost rather than forbidden per agent type; loads are whole thousandths
(capacities rounded down); deliveries mixed with pickups or shipments tie a route's first load
to its last delivery by a side constraint, with which OR-Tools' first-solution heuristics often
find nothing; and sequence pairs are not modelled (such an instance is reported as
failed).

Run as a script: ``python benchmarks/ortools_adapter.py INSTANCE --time-limit S [--out F]``.
"""

from __future__ import annotations

import sys
import time
from typing import Any

try:
    from instance_view import (
        InstanceView,
        adapter_main,
        empty_result,
        routes_result,
        rules,
        scaled_down,
        scaled_up,
    )
except ImportError:  # imported as benchmarks.ortools_adapter
    from benchmarks.instance_view import (
        InstanceView,
        adapter_main,
        empty_result,
        routes_result,
        rules,
        scaled_down,
        scaled_up,
    )

SCALE = 1000
MIN_MAX_SPAN_WEIGHT = 100
DROP_PENALTY_FACTOR = 1000
SOLVER = "ortools"


def solve(instance: dict[str, Any], time_limit: float) -> dict[str, Any]:
    """Solve the instance with OR-Tools within time_limit seconds (wall clock)."""
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2

    start_clock = time.perf_counter()
    view = InstanceView(instance)
    m = len(view.agents)
    if m == 0:
        return empty_result(view, SOLVER, "no agents")
    for v in view.customers:
        if not view.allowed[v]:
            return empty_result(view, SOLVER, f"vertex {v} may be served by no agent")

    if view.pairs:
        return empty_result(view, SOLVER, "sequence pairs are not modelled")

    inactive: set[int] = set()
    for k, agent in enumerate(view.agents):
        if agent.type_name not in view.allowed[agent.end]:
            if agent.start != agent.end:
                return empty_result(view, SOLVER, f"agent {k} may not end at its end vertex")
            inactive.add(k)

    manager = pywrapcp.RoutingIndexManager(
        view.n, m, [a.start for a in view.agents], [a.end for a in view.agents]
    )
    routing = pywrapcp.RoutingModel(manager)

    # One arc-cost and one transit matrix per (type, free endpoints) pair.
    def key(k: int) -> tuple[str, tuple[int, ...]]:
        agent = view.agents[k]
        return agent.type_name, () if view.return_to_end else (agent.start, agent.end)

    cost_callbacks: dict[tuple[str, tuple[int, ...]], int] = {}
    time_callbacks: dict[tuple[str, tuple[int, ...]], int] = {}
    horizon_legs = 0
    for k in range(m):
        kk = key(k)
        if kk in cost_callbacks:
            continue
        costs = [[round(view.leaving(k, i, j) * SCALE) for j in range(view.n)]
                 for i in range(view.n)]
        transit = [[scaled_up(view.leaving(k, i, j), SCALE) for j in range(view.n)]
                   for i in range(view.n)]
        cost_callbacks[kk] = routing.RegisterTransitMatrix(costs)
        time_callbacks[kk] = routing.RegisterTransitMatrix(transit)
        horizon_legs += sum(
            max(
                (t for t, c in zip(row, view.matrix[kk[0]][i]) if not rules.is_no_connection(c)),
                default=0,
            )
            for i, row in enumerate(transit)
        )
    for k in range(m):
        routing.SetArcCostEvaluatorOfVehicle(cost_callbacks[key(k)], k)

    # Arcs that no agent type can travel.
    customers = view.customers
    for i in customers:
        for j in customers:
            if i != j and all(
                rules.is_no_connection(view.matrix[t][i][j]) for t in view.type_names
            ):
                routing.NextVar(manager.NodeToIndex(i)).RemoveValue(manager.NodeToIndex(j))

    window_bound = max((max(w[0], 0.0) for w in view.windows.values()), default=0.0)
    horizon = scaled_up(window_bound, SCALE) + horizon_legs + 1
    slack = horizon if view.windows else 0
    routing.AddDimensionWithVehicleTransits(
        [time_callbacks[key(k)] for k in range(m)], slack, horizon, True, "RouteCost"
    )
    dimension = routing.GetDimensionOrDie("RouteCost")

    for v in customers:
        index = manager.NodeToIndex(v)
        allowed = [k for k, a in enumerate(view.agents)
                   if a.type_name in view.allowed[v] and k not in inactive]
        if not allowed:
            return empty_result(view, SOLVER, f"vertex {v} may be served by no usable agent")
        if len(allowed) < m:
            routing.VehicleVar(index).RemoveValues([k for k in range(m) if k not in allowed])
        window = view.windows.get(v)
        if window is not None:
            lo, hi = max(scaled_up(window[0], SCALE), 0), scaled_down(window[1], SCALE)
            if hi < lo:
                return empty_result(view, SOLVER, f"vertex {v} has an empty time window")
            dimension.CumulVar(index).SetRange(lo, hi)
    for k, agent in enumerate(view.agents):
        end_cumul = dimension.CumulVar(routing.End(k))
        if k in inactive:
            routing.solver().Add(routing.ActiveVehicleVar(k) == 0)
            continue
        window = view.windows.get(agent.end)
        if window is not None:
            end_cumul.SetMax(max(scaled_down(window[1], SCALE), 0))
            if window[0] > 0:
                end_cumul.SetMin(min(scaled_up(window[0], SCALE), horizon))
        if agent.limit > 0:
            end_cumul.SetMax(min(end_cumul.Max(), agent.limit * SCALE))

    # With windows, route limits or loads, every visit is optional at a prohibitive price, so
    # that a first solution exists even when the construction heuristics cannot place every
    # vertex; local search then inserts the dropped ones. A result that still drops a vertex
    # fails the check. Without them every construction succeeds, and optional visits only slow
    # the search down.
    if view.windows or view.has_route_limits() or view.has_loads():
        penalty = min(DROP_PENALTY_FACTOR * (horizon + 1), 10**13)
        for v in customers:
            routing.AddDisjunction([manager.NodeToIndex(v)], penalty)
    _add_loads(view, manager, routing, dimension)

    if view.objective == rules.MIN_MAX:
        dimension.SetGlobalSpanCostCoefficient(MIN_MAX_SPAN_WEIGHT)
    elif view.windows:
        dimension.SetSpanCostCoefficientForAllVehicles(1)

    anytime: list[dict[str, Any]] = []

    def on_solution() -> None:
        value = routing.CostVar().Value() / SCALE
        if not anytime or rules.improves(value, anytime[-1]["objective"]):
            anytime.append({"time": time.perf_counter() - start_clock, "objective": value})

    routing.AddAtSolutionCallback(on_solution)

    params = pywrapcp.DefaultRoutingSearchParameters()
    strategy = routing_enums_pb2.FirstSolutionStrategy
    params.first_solution_strategy = (
        strategy.PARALLEL_CHEAPEST_INSERTION if view.windows or view.shipments
        else strategy.PATH_CHEAPEST_ARC
    )
    params.local_search_metaheuristic = (
        routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    )
    remaining = max(time_limit - (time.perf_counter() - start_clock), 0.001)
    params.time_limit.FromMilliseconds(max(1, int(remaining * 1000)))
    solution = routing.SolveWithParameters(params)
    solve_time = time.perf_counter() - start_clock
    status = routing_enums_pb2.RoutingSearchStatus.Value.Name(routing.status())
    if solution is None:
        return empty_result(view, SOLVER, f"no solution ({status})", solve_time)

    paths: list[list[int]] = []
    for k, agent in enumerate(view.agents):
        index = routing.Start(k)
        path = [manager.IndexToNode(index)]
        while not routing.IsEnd(index):
            index = solution.Value(routing.NextVar(index))
            path.append(manager.IndexToNode(index))
        if len(path) == 2 and agent.start == agent.end:
            path = [agent.start]  # an unused agent stays at its depot
        paths.append(path)
    statistics = {
        "solve_time": solve_time,
        "solutions_found": len(anytime),
        "objective_scaled": solution.ObjectiveValue() / SCALE,
        "search_status": status,
    }
    timeout = status in (
        "ROUTING_FAIL_TIMEOUT",
        "ROUTING_PARTIAL_SUCCESS_LOCAL_OPTIMUM_NOT_REACHED",
    )
    return routes_result(view, SOLVER, paths, statistics, anytime, timeout)


def _add_loads(view: InstanceView, manager: Any, routing: Any, time_dimension: Any) -> None:
    """Capacities, deliveries, pickups and shipments, as described in the module docstring."""
    solver = routing.solver()
    for pickup, delivery, _ in view.shipments:
        p, d = manager.NodeToIndex(pickup), manager.NodeToIndex(delivery)
        routing.AddPickupAndDelivery(p, d)
        solver.Add(routing.VehicleVar(p) == routing.VehicleVar(d))
        solver.Add(time_dimension.CumulVar(p) <= time_dimension.CumulVar(d))
        if routing.GetDisjunctionIndices(p):
            solver.Add(routing.ActiveVar(p) == routing.ActiveVar(d))
    unlimited = 10**15
    for d in range(view.dimensions):
        change = [scaled_down(view.pickups[v][d], SCALE) - scaled_down(view.deliveries[v][d], SCALE)
                  for v in range(view.n)]
        for pickup, delivery, amount in view.shipments:
            change[pickup] += scaled_down(amount[d], SCALE)
            change[delivery] -= scaled_down(amount[d], SCALE)
        delivered = [scaled_down(view.deliveries[v][d], SCALE) for v in range(view.n)]
        with_deliveries = any(delivered)
        if with_deliveries and all(c == -x for c, x in zip(change, delivered, strict=True)):
            # Deliveries alone: the classic capacity model, what a route delivers counted up
            # from 0 (its largest load is its first, the sum of its deliveries).
            change, with_deliveries = delivered, False
        capacities = [scaled_down(c[d], SCALE) if c[d] > 0 else unlimited
                      for c in view.capacities]
        routing.AddDimensionWithVehicleCapacity(
            routing.RegisterUnaryTransitVector(change), 0, capacities, not with_deliveries,
            f"Load{d}")
        load = routing.GetDimensionOrDie(f"Load{d}")
        if not with_deliveries:
            continue
        routing.AddDimension(routing.RegisterUnaryTransitVector(delivered), 0, unlimited, True,
                             f"Delivered{d}")
        total = routing.GetDimensionOrDie(f"Delivered{d}")
        for k in range(len(view.agents)):
            solver.Add(load.CumulVar(routing.Start(k)) == total.CumulVar(routing.End(k)))


def main(argv: list[str] | None = None) -> int:
    return adapter_main(solve, "Solve a JSON instance with OR-Tools.", argv)


if __name__ == "__main__":
    sys.exit(main())
