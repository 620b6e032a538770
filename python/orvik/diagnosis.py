"""Why an instance has no solution, where a quick look can tell.

``no_solution_reasons(instance)`` looks at a valid instance (a document, where null marks no
connection, or one already read) with the cheapest bounds there are: shortest paths under each
agent type's costs, ignoring the other sites, and the loads and orders no route set satisfies
(``orvik.loads``). A reason found this way is certain; an instance
may still have no solution for reasons that take the whole search to see.
"""

from __future__ import annotations

import math
from collections.abc import Callable
from dataclasses import dataclass
from typing import Any

from orvik.instance import Instance, as_instance, json_path
from orvik.loads import load_problems

_TOLERANCE = 1e-9


class _OutOfTime(Exception):
    """The time of the look for reasons is up."""


def _never() -> bool:
    return False


@dataclass(frozen=True)
class _Agent:
    name: Any
    type: str
    start: int
    end: int
    limit: float  # as written; 0 or less: none


def _dijkstra(matrix: list[list[float]], source: int, reverse: bool,
              expired: Callable[[], bool] = _never) -> list[float]:
    """Shortest path costs from ``source`` (to it, when ``reverse``) over a dense matrix;
    ``_OutOfTime`` once ``expired()`` says so."""
    n = len(matrix)
    dist = [math.inf] * n
    done = [False] * n
    dist[source] = 0.0
    for _ in range(n):
        if expired():
            raise _OutOfTime
        u = min((v for v in range(n) if not done[v]), key=dist.__getitem__, default=None)
        if u is None or dist[u] == math.inf:
            break
        done[u] = True
        for v in range(n):
            leg = matrix[v][u] if reverse else matrix[u][v]
            if not done[v] and dist[u] + leg < dist[v]:
                dist[v] = dist[u] + leg
    return dist


class _Instance:
    def __init__(self, instance: Instance, expired: Callable[[], bool] = _never) -> None:
        self.expired = expired
        if expired():
            raise _OutOfTime
        self.n = instance.node_count
        self.vertex = instance.vertex
        self.label = [node.name if node.name is not None else node.id for node in instance.nodes]
        self.agents = [
            _Agent(a.name if a.name is not None else a.id, a.type, a.start, a.end, a.limit)
            for a in instance.agents
        ]
        self.types = {a.type for a in self.agents}
        self.matrices = {t: self.matrix(instance.costs.get(t) or []) for t in self.types}
        for matrix in self.matrices.values():
            matrix += [[math.inf] * self.n for _ in range(self.n - len(matrix))]
            for v in range(self.n):
                matrix[v][v] = 0.0
        self.allowed: dict[int, set[str]] = {
            self.vertex[node]: set(types) & self.types
            for node, types in instance.allowed.items() if node in self.vertex}
        self.windows: dict[int, tuple[float, float]] = {
            self.vertex[node]: window
            for node, window in instance.windows.items() if node in self.vertex}
        self.return_to_end = instance.options.return_to_end
        endpoints = {a.start for a in self.agents} | {a.end for a in self.agents}
        self.sites = [v for v in range(self.n) if v not in endpoints]
        self._from: dict[tuple[str, int], list[float]] = {}
        self._to: dict[tuple[str, int], list[float]] = {}

    def matrix(self, rows: list[Any]) -> list[list[float]]:
        """A cost matrix with infinity for no connection."""
        n = self.n
        matrix = []
        for row in rows:
            if self.expired():
                raise _OutOfTime
            matrix.append([math.inf if (row[j] if j < len(row) else None) is None
                           else float(row[j]) for j in range(n)])
        return matrix

    def from_start(self, agent: _Agent) -> list[float]:
        key = (agent.type, agent.start)
        if key not in self._from:
            self._from[key] = _dijkstra(self.matrices[agent.type], agent.start, reverse=False,
                                        expired=self.expired)
        return self._from[key]

    def back_cost(self, agent: _Agent, v: int) -> float:
        """The cheapest way from ``v`` to where the agent may finish."""
        if not self.return_to_end:
            return 0.0  # legs into the agent's own start or end node cost nothing
        key = (agent.type, agent.end)
        if key not in self._to:
            self._to[key] = _dijkstra(self.matrices[agent.type], agent.end, reverse=True,
                                      expired=self.expired)
        return self._to[key][v]

    def serves(self, agent: _Agent, v: int) -> bool:
        allowed = self.allowed.get(v)
        return allowed is None or agent.type in allowed


def no_solution_reasons(source: Instance | dict[str, Any],
                        expired: Callable[[], bool] = _never) -> list[str]:
    """Reasons why a valid instance (a document, or one already read) cannot have a solution,
    as sentences naming the site or agent; an empty list when the quick look finds none. The
    look ends, with the reasons found so far and one saying so, once ``expired()`` is true (the
    time limit of a solve bounds it too)."""
    instance = as_instance(source)
    reasons = [f"{problem.message} (at {json_path(*problem.path)})"
               for problem in load_problems(instance)]
    try:
        _find_reasons(_Instance(instance, expired), reasons)
    except _OutOfTime:
        reasons.append("the time limit ended the look for reasons before it was done")
    return reasons


def _find_reasons(inst: _Instance, reasons: list[str]) -> None:
    for agent in inst.agents:
        reason = _ending_reason(inst, agent)
        if reason is not None:
            reasons.append(f"agent {agent.name} cannot end its route: {reason}")
        elif inst.back_cost(agent, agent.start) == math.inf:
            reasons.append(f"agent {agent.name} cannot reach its end node "
                           f"{inst.label[agent.end]} from its start node "
                           f"{inst.label[agent.start]}")
    for v in inst.sites:
        reason = _site_reason(inst, v)
        if reason is not None:
            reasons.append(f"site {inst.label[v]}: {reason}")


def _ending_reason(inst: _Instance, agent: _Agent) -> str | None:
    """Why an agent can end its route nowhere: a route ends at the agent's end node (or, when
    routes need not return, also back at its start node), and only where its type may serve."""
    if inst.serves(agent, agent.end):
        return None
    ends = f"its type {agent.type} may not serve its end node {inst.label[agent.end]}"
    if inst.return_to_end or agent.start == agent.end:
        return ends
    if inst.serves(agent, agent.start):
        return None
    return f"{ends}, nor its start node {inst.label[agent.start]}, where an open route may end too"


def _site_reason(inst: _Instance, v: int) -> str | None:
    allowed = [a for a in inst.agents if inst.serves(a, v)]
    if not allowed:
        if not inst.agents:
            return "there are no agents"
        return "no agent may serve it (its allowed types are no agent's type)"
    reachable = [a for a in allowed
                 if inst.from_start(a)[v] < math.inf and inst.back_cost(a, v) < math.inf]
    if not reachable:
        types = ", ".join(sorted({a.type for a in allowed}))
        return (f"no agent allowed to serve it ({types}) can reach it from its start and go on "
                "to its end: the costs have no connection")
    opens, closes = inst.windows.get(v, (-math.inf, math.inf))
    arrivals = {a: inst.from_start(a)[v] for a in reachable}
    first = min(reachable, key=arrivals.__getitem__)
    if arrivals[first] > closes + _TOLERANCE:
        return (f"its window closes at {closes:g}, but the earliest arrival is "
                f"{arrivals[first]:g} (agent {first.name} straight from its start)")
    trips = {a: max(arrivals[a], opens) + inst.back_cost(a, v) for a in reachable}
    if all(a.limit > 0 and trips[a] > a.limit + _TOLERANCE for a in reachable):
        details = "; ".join(f"agent {a.name}: trip {trips[a]:g} > max_length {a.limit:g}"
                            for a in reachable)
        return ("every agent allowed to serve it has a max_length below the cheapest trip "
                f"through it ({details})")
    return None
