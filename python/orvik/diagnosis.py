"""Why an instance has no solution, where a quick look can tell.

``no_solution_reasons(document)`` looks at a valid instance document (null marks no connection)
with the cheapest bounds there are: shortest paths under each agent type's costs, ignoring the
other sites. A reason found this way is certain; an instance may still have no solution for
reasons that take the whole search to see.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any

_TOLERANCE = 1e-9


@dataclass(frozen=True)
class _Agent:
    name: Any
    type: str
    start: int
    end: int
    limit: float  # as written; 0 or less: none


def _limit(value: Any) -> float:
    """A route limit as written (a boolean reads as 1 or 0; none: 0)."""
    return float(value) if isinstance(value, (int, float)) else 0.0


def _dijkstra(matrix: list[list[float]], source: int, reverse: bool) -> list[float]:
    """Shortest path costs from ``source`` (to it, when ``reverse``) over a dense matrix."""
    n = len(matrix)
    dist = [math.inf] * n
    done = [False] * n
    dist[source] = 0.0
    for _ in range(n):
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
    def __init__(self, doc: dict[str, Any]) -> None:
        nodes = doc["nodes"]
        self.n = len(nodes)
        self.vertex = {node["id"]: v for v, node in enumerate(nodes)}
        self.label = [node.get("name", node["id"]) for node in nodes]
        self.agents = [
            _Agent(a.get("name", a["id"]), a["type"], self.vertex[a["start_node"]],
                   self.vertex[a["end_node"]], _limit(a.get("max_length")))
            for a in doc["agents"]
        ]
        self.types = {a.type for a in self.agents}
        self.matrices = {
            t: [[math.inf if (row[j] if j < len(row) else None) is None else float(row[j])
                 for j in range(self.n)] for row in (doc.get("costs") or {}).get(t, [])]
            for t in self.types
        }
        for matrix in self.matrices.values():
            matrix += [[math.inf] * self.n for _ in range(self.n - len(matrix))]
            for v in range(self.n):
                matrix[v][v] = 0.0
        self.allowed: dict[int, set[str]] = {}
        self.windows: dict[int, tuple[float, float]] = {}
        for constraint in doc.get("constraints") or []:
            for item in constraint.get("items") or []:
                v = self.vertex.get(item["node"])
                if v is None:
                    continue
                if constraint["kind"] == "assignment":
                    self.allowed[v] = set(item["types"]) & self.types
                elif constraint["kind"] == "timewindow":
                    self.windows[v] = (item["start"], item["end"])
        options = doc.get("options") or {}
        self.return_to_end = options.get("return_to_end", True)
        endpoints = {a.start for a in self.agents} | {a.end for a in self.agents}
        self.sites = [v for v in range(self.n) if v not in endpoints]
        self._from: dict[tuple[str, int], list[float]] = {}
        self._to: dict[tuple[str, int], list[float]] = {}

    def from_start(self, agent: _Agent) -> list[float]:
        key = (agent.type, agent.start)
        if key not in self._from:
            self._from[key] = _dijkstra(self.matrices[agent.type], agent.start, reverse=False)
        return self._from[key]

    def back_cost(self, agent: _Agent, v: int) -> float:
        """The cheapest way from ``v`` to where the agent may finish."""
        if not self.return_to_end:
            return 0.0  # legs into the agent's own start or end node cost nothing
        key = (agent.type, agent.end)
        if key not in self._to:
            self._to[key] = _dijkstra(self.matrices[agent.type], agent.end, reverse=True)
        return self._to[key][v]

    def serves(self, agent: _Agent, v: int) -> bool:
        allowed = self.allowed.get(v)
        return allowed is None or agent.type in allowed


def no_solution_reasons(document: dict[str, Any]) -> list[str]:
    """Reasons why a valid instance document cannot have a solution, as sentences naming the
    site or agent; an empty list when the quick look finds none."""
    inst = _Instance(document)
    reasons: list[str] = []
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
    return reasons


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
