"""A JSON instance read into vertex-indexed tables, for the peer-solver adapters.

The adapters translate an instance into another solver's model; this view gives them the
instance in the form they need: vertices (0-based positions in "nodes"), per-agent start and
end vertices and route limits, one dense cost matrix per agent type (``NO_CONNECTION`` where the
instance gives no entry), time windows and allowed types per vertex, loads (each vertex's delivery
and pickup, each agent's capacity, one number per dimension), the ``return_to_end`` flag and the
objective. It also evaluates a route's cost the way the solver does, so that an adapter reports
costs in the same doubles; the checker recomputes them independently.
"""

from __future__ import annotations

import argparse
import itertools
import json
import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

try:
    import orvik_modules
except ImportError:  # imported as benchmarks.instance_view
    from benchmarks import orvik_modules

# The conventions shared with the solver: no-connection cost, objective names, improvement.
rules = orvik_modules.load("rules")
NO_CONNECTION = rules.NO_CONNECTION


def _members(section: Any) -> list[Any]:
    if section is None:
        return []
    if isinstance(section, dict):
        return [section[k] for k in sorted(section)]
    return section if isinstance(section, list) else [section]


def _amounts(value: Any) -> tuple[float, ...]:
    """An amount or a capacity as given (a number or a list of numbers), one per dimension."""
    if value is None:
        return ()
    if isinstance(value, (list, tuple)):
        return tuple(float(x) for x in value)
    return (float(value),)


def _padded(amounts: tuple[float, ...], dims: int) -> tuple[float, ...]:
    return amounts + (0.0,) * (dims - len(amounts))


def _node_id(value: Any) -> int:
    return int(value) % (1 << 64)


def _limit(value: Any) -> int:
    if isinstance(value, float):
        return int(value)
    value = int(value) & 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


@dataclass(frozen=True)
class AgentView:
    agent_id: int
    type_name: str
    start: int
    end: int
    limit: int  # 0 or negative: no route limit
    capacity: tuple[float, ...] = ()  # per load dimension; 0: no limit in that dimension


class InstanceView:
    """Vertex-indexed tables of one instance."""

    def __init__(self, instance: dict[str, Any]) -> None:
        nodes = _members(instance.get("nodes"))
        self.n = len(nodes)
        self.node_ids = [_node_id(node["id"]) for node in nodes]
        self.xy = [(float(node.get("x", 0.0)), float(node.get("y", 0.0))) for node in nodes]
        vertex_of = {node_id: v for v, node_id in enumerate(self.node_ids)}
        self.agents = [
            AgentView(
                _node_id(a["id"]),
                str(a["type"]),
                vertex_of[_node_id(a["start_node"])],
                vertex_of[_node_id(a["end_node"])],
                _limit(a.get("max_length", 0)),
                _amounts(a.get("capacity")),
            )
            for a in _members(instance.get("agents"))
        ]
        # Loads: a node's "demand" (or "delivery") is loaded at the start and dropped there, its
        # "pickup" taken there to the end; every amount and capacity has `dims` entries.
        deliveries = [_amounts(node.get("delivery", node.get("demand"))) for node in nodes]
        pickups = [_amounts(node.get("pickup")) for node in nodes]
        self.dims = max((len(x) for x in [*deliveries, *pickups,
                                          *(a.capacity for a in self.agents)]), default=0)
        self.delivery = [_padded(x, self.dims) for x in deliveries]
        self.pickup = [_padded(x, self.dims) for x in pickups]
        self.agents = [AgentView(a.agent_id, a.type_name, a.start, a.end, a.limit,
                                 _padded(a.capacity, self.dims)) for a in self.agents]
        self.type_names: list[str] = []
        for agent in self.agents:
            if agent.type_name not in self.type_names:
                self.type_names.append(agent.type_name)

        costs = instance.get("costs") or {}
        if isinstance(costs, list):
            costs = {str(i): m for i, m in enumerate(costs)}
        self.matrix: dict[str, list[list[float]]] = {}
        for name in self.type_names:
            given = _members(costs.get(name))
            dense = [[NO_CONNECTION] * self.n for _ in range(self.n)]
            for i, row in enumerate(given[: self.n]):
                for j, value in enumerate(_members(row)[: self.n]):
                    dense[i][j] = float(value)
            self.matrix[name] = dense

        assignment: dict[int, list[str]] = {}
        windows: dict[int, tuple[float, float]] = {}
        for constraint in _members(instance.get("constraints")):
            if constraint.get("kind") == "assignment" and "items" in constraint:
                for item in _members(constraint["items"]):
                    assignment[_node_id(item["node"])] = list(item["types"])
            elif constraint.get("kind") == "timewindow" and "items" in constraint:
                for item in _members(constraint["items"]):
                    windows[_node_id(item["node"])] = (float(item["start"]), float(item["end"]))
        known = set(self.type_names)
        self.allowed: list[set[str]] = [
            set(known) if node_id not in assignment else set(assignment[node_id]) & known
            for node_id in self.node_ids
        ]
        self.windows = {vertex_of[i]: w for i, w in windows.items() if i in vertex_of}

        options = instance.get("options") or {}
        self.return_to_end = bool(options.get("return_to_end", True))
        self.objective = rules.objective_from_name(options.get("objective"))
        self.time_limit = float(options.get("time_limit", 60.0))
        self.endpoints = {a.start for a in self.agents} | {a.end for a in self.agents}

    @property
    def customers(self) -> list[int]:
        """Vertices every solution must serve: all but the agents' start and end vertices."""
        return [v for v in range(self.n) if v not in self.endpoints]

    def free_leg(self, k: int, u: int, v: int) -> bool:
        """True when agent k pays nothing from u to v."""
        agent = self.agents[k]
        return u == v or (not self.return_to_end and v in (agent.start, agent.end))

    def leg(self, k: int, u: int, v: int) -> float:
        """The cost agent k pays from u to v (``NO_CONNECTION`` or more for no connection)."""
        if self.free_leg(k, u, v):
            return 0.0
        return self.matrix[self.agents[k].type_name][u][v]

    def route_cost(self, k: int, path: list[int]) -> float:
        """The time agent k reaches the last vertex of path, waiting for windows that are not
        yet open; the start vertex is left at time 0."""
        cost = 0.0
        for u, v in itertools.pairwise(path):
            cost += self.leg(k, u, v)
            window = self.windows.get(v)
            if window is not None and cost < window[0]:
                cost = window[0]
        return cost

    def has_loads(self) -> bool:
        """Whether any vertex has a delivery or a pickup."""
        return any(any(x) for x in self.delivery) or any(any(x) for x in self.pickup)

    def route_loads(self, path: list[int]) -> list[tuple[float, ...]]:
        """The load after every stop of path (its start included), per dimension: the route's
        deliveries on board at the start, each site dropping its delivery and taking its
        pickup."""
        sites = path[1:-1] if len(path) > 1 else []
        load = [sum(self.delivery[v][d] for v in sites) for d in range(self.dims)]
        loads = [tuple(load)]
        for v in path[1:]:
            if v in sites:
                load = [x - self.delivery[v][d] + self.pickup[v][d] for d, x in enumerate(load)]
            loads.append(tuple(load))
        return loads

    def has_route_limits(self) -> bool:
        return any(a.limit > 0 for a in self.agents)

    def largest_finite_cost(self) -> float:
        finite = [
            c for m in self.matrix.values() for row in m for c in row
            if not rules.is_no_connection(c)
        ]
        return max(finite, default=0.0)


def scaled_up(value: float, scale: int) -> int:
    """ceil(value * scale), ignoring the last bits of binary rounding."""
    return math.ceil(value * scale - 1e-7)


def scaled_down(value: float, scale: int) -> int:
    """floor(value * scale), ignoring the last bits of binary rounding."""
    return math.floor(value * scale + 1e-7)


def empty_result(view: InstanceView, solver: str, reason: str, solve_time: float = 0.0,
                 status: str = "failed") -> dict[str, Any]:
    """A result dictionary without routes, with the reason in its statistics."""
    return {
        "status": status,
        "timeout": False,
        "routes": [{"agent_id": a.agent_id, "path": [], "cost": 0.0} for a in view.agents],
        "statistics": {"solve_time": solve_time, "max_cost": 0.0, "sum_cost": 0.0,
                       "solutions_found": 0, "reason": reason},
        "anytime": [],
        "solver": solver,
    }


def routes_result(view: InstanceView, solver: str, paths: list[list[int]],
                  statistics: dict[str, Any], anytime: list[dict[str, Any]],
                  timeout: bool) -> dict[str, Any]:
    """A result dictionary from one path per agent; costs evaluated by ``route_cost``."""
    routes = []
    max_cost = 0.0
    sum_cost = 0.0
    for k, (agent, path) in enumerate(zip(view.agents, paths)):
        cost = view.route_cost(k, path)
        routes.append({"agent_id": agent.agent_id, "path": path, "cost": cost})
        max_cost = max(max_cost, cost)
        sum_cost += cost
    stats = {"solve_time": statistics.pop("solve_time", 0.0), "max_cost": max_cost,
             "sum_cost": sum_cost, **statistics}
    return {"status": "success", "timeout": timeout, "routes": routes, "statistics": stats,
            "anytime": anytime, "solver": solver}


def adapter_main(
    solve: Callable[[dict[str, Any], float], dict[str, Any]],
    description: str,
    argv: list[str] | None = None,
) -> int:
    """Command line shared by the adapters: solve one instance file, print or write the result."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("instance")
    parser.add_argument("--time-limit", type=float, default=10.0)
    parser.add_argument("--out", help="write the result dictionary here (default: stdout)")
    args = parser.parse_args(argv)
    with open(args.instance, encoding="utf-8") as handle:
        instance = json.load(handle)
    result = solve(instance, args.time_limit)
    text = json.dumps(result, indent=1)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as handle:
            handle.write(text + "\n")
    else:
        print(text)
    return 0 if result["status"] == "success" else 1
