"""A JSON instance read into vertex-indexed tables, for the peer-solver adapters.

The adapters translate an instance into another solver's model; this view gives them the
instance in the form they need: vertices (0-based positions in "nodes"), per-agent start and
end vertices and route limits, one dense cost matrix per agent type (``NO_CONNECTION`` where the
instance gives no entry), time windows and allowed types per vertex, the ``return_to_end`` flag and the
objective; with the option "enforce_constraints", also service durations, loads (deliveries,
pickups and capacities, per dimension), shipments and sequence pairs. It also evaluates a
route's cost the way the solver does, so that an adapter reports costs in the same doubles; the
checker recomputes them independently.
"""

from __future__ import annotations

import argparse
import itertools
import json
import math
from collections.abc import Callable
from dataclasses import dataclass, replace
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


def _node_id(value: Any) -> int:
    return int(value) % (1 << 64)


def _limit(value: Any) -> int:
    if isinstance(value, float):
        return int(value)
    value = int(value) & 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def _amount(value: Any) -> tuple[float, ...]:
    """An amount or a capacity: a number or a list of numbers, one per dimension."""
    if value is None:
        return ()
    return tuple(float(v) for v in value) if isinstance(value, list) else (float(value),)


def _padded(amount: tuple[float, ...], dimensions: int) -> tuple[float, ...]:
    return amount + (0.0,) * (dimensions - len(amount))


@dataclass(frozen=True)
class AgentView:
    agent_id: int
    type_name: str
    start: int
    end: int
    limit: int  # 0 or negative: no route limit
    capacity: tuple[float, ...] = ()  # per dimension, 0: no limit there


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
                _amount(a.get("capacity")),
            )
            for a in _members(instance.get("agents"))
        ]
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
        shipments: list[tuple[int, int, tuple[float, ...]]] = []
        self.pairs: list[tuple[int, int, str | None]] = []  # before, after, type
        for constraint in _members(instance.get("constraints")):
            if constraint.get("kind") == "assignment" and "items" in constraint:
                for item in _members(constraint["items"]):
                    assignment[_node_id(item["node"])] = list(item["types"])
            elif constraint.get("kind") == "timewindow" and "items" in constraint:
                for item in _members(constraint["items"]):
                    windows[_node_id(item["node"])] = (float(item["start"]), float(item["end"]))
            elif constraint.get("kind") == "shipment" and "items" in constraint:
                shipments += [(vertex_of[_node_id(item["pickup"])],
                               vertex_of[_node_id(item["delivery"])],
                               _amount(item.get("amount", 0.0)))
                              for item in _members(constraint["items"])]
            elif constraint.get("kind") == "sequence" and "precedence" in constraint:
                self.pairs += [(vertex_of[_node_id(item["before"])],
                                vertex_of[_node_id(item["after"])], item.get("type"))
                               for item in _members(constraint["precedence"])]
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

        # Loads and orders count only with the option on; otherwise they are stored and ignored.
        self.enforce = bool(options.get("enforce_constraints", False))
        if not self.enforce:
            shipments, self.pairs = [], []
        deliveries = [_amount(node.get("delivery", node.get("demand"))) for node in nodes]
        pickups = [_amount(node.get("pickup")) for node in nodes]
        amounts = deliveries + pickups + [s[2] for s in shipments] + [
            a.capacity for a in self.agents]
        self.dimensions = max((len(a) for a in amounts if any(a)), default=0) if self.enforce \
            else 0
        d = self.dimensions
        self.services = [float(node.get("service", 0.0)) if self.enforce else 0.0
                         for node in nodes]
        self.deliveries = [_padded(a, d)[:d] for a in deliveries]
        self.pickups = [_padded(a, d)[:d] for a in pickups]
        self.shipments = [(p, q, _padded(a, d)[:d]) for p, q, a in shipments]
        self.capacities = [_padded(a.capacity, d)[:d] for a in self.agents]
        self.agents = [replace(a, capacity=c)
                       for a, c in zip(self.agents, self.capacities, strict=True)]

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

    def leaving(self, k: int, u: int, v: int) -> float:
        """The time agent k spends from the start of service at u to its arrival at v: the
        service at u and the leg (nothing when it stays where it is)."""
        return 0.0 if u == v else self.services[u] + self.leg(k, u, v)

    def route_cost(self, k: int, path: list[int]) -> float:
        """The time agent k reaches the last vertex of path, waiting for windows that are not
        yet open and spending each service duration at the stops it leaves; the start vertex
        is left at time 0."""
        cost = 0.0
        for u, v in itertools.pairwise(path):
            cost += self.services[u] + self.leg(k, u, v)
            window = self.windows.get(v)
            if window is not None and cost < window[0]:
                cost = window[0]
        return cost

    def has_loads(self) -> bool:
        """Whether any vertex has a delivery or a pickup, or any shipment an amount, that counts."""
        return any(any(x) for x in (*self.deliveries, *self.pickups)) or any(
            any(a) for _, _, a in self.shipments)

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
