"""An independent referee for solutions: does a result dictionary solve its instance?

``check(instance, result)`` reads a JSON instance (as a dict) and a result dictionary
(``{"status", "routes": [{"agent_id", "path", "cost"}], "statistics": {...}}``, or a solution
document of ``orvik.Solution``) and recomputes everything from the instance's own numbers,
the schedule of every route included (arrival, wait and departure at each stop). The rules it
enforces:

- Every route belongs to the agent at the same position of the instance's agent list, begins
  at that agent's start node and ends at its end node, or, when ``return_to_end`` is false, may
  also end back at its start node. A one-point route ``[start]`` is allowed when start and end
  coincide or ``return_to_end`` is false. No route passes through its own start or end node or
  enters another agent's end node; another agent's start node may be passed through only when
  ``return_to_end`` is true.
- Every node that is no agent's start or end node is served exactly once overall.
- A node with an assignment entry may be served only by agents whose type is listed (names no
  agent has are ignored, so a list of only such names forbids the node to everyone); the check
  covers every position after the first.
- Route cost: starting at 0 at the start node, each leg adds the cost of the agent type's matrix
  (a missing or null entry is ``NO_CONNECTION``, and a paid leg that is no connection, 9999 or
  more, is a violation; see ``orvik.rules``), unless the result says it was solved in scaled
  units (``"scale"``), where every number is a cost. A leg between two equal vertices costs
  nothing; with ``return_to_end`` false a leg
  into the agent's own start or end node costs nothing. On arriving at a node with a time
  window (open, close) the cost may not exceed close; below open it becomes open (waiting). The
  start node's window counts too: the agent is there at time 0 and waits until it opens, and a
  window that closes before 0 is a violation.
- A positive ``max_length`` (read as the solver reads it: a 32-bit integer, reals truncated;
  a number outside that range is refused with ``ValueError``) bounds the route cost after
  every leg.
- The reported route costs, ``max_cost`` and ``sum_cost`` match the recomputed ones within
  ``cost_tolerance`` (1e-6).

Comparisons against a window's close and a route limit allow ``tolerance`` (1e-9) for the
rounding of sums of doubles.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Iterable
from dataclasses import dataclass, field
from typing import Any, NamedTuple

from orvik.documents import load_document
from orvik.rules import (
    MIN_SUM,
    NO_CONNECTION,
    is_no_connection,
    objective_from_name,
    objective_value,
    route_limit,
    route_totals,
)

# The statuses of a result that carries routes: an interrupted solve keeps its best routes.
SUCCESS_STATUSES = ("success", "solved", "interrupted")
_U64 = 1 << 64


class StopTime(NamedTuple):
    """When a route is at one of its vertices: arrival, waiting for the window, departure."""

    vertex: int
    arrival: float
    wait: float
    departure: float


@dataclass
class CheckReport:
    """Outcome of a check: the violations found, the recomputed costs and, per route, the
    recomputed schedule (empty for a route that was not walked)."""

    ok: bool
    violations: list[str] = field(default_factory=list)
    route_costs: list[float] = field(default_factory=list)
    max_cost: float = 0.0
    sum_cost: float = 0.0
    objective: str = MIN_SUM
    schedules: list[list[StopTime]] = field(default_factory=list)

    @property
    def objective_value(self) -> float:
        """The recomputed objective: the largest route cost (min_max) or their sum (min_sum)."""
        return objective_value(self.objective, self.route_costs)

    def summary(self) -> str:
        """One line: feasible or the number of violations, and the recomputed costs."""
        head = "feasible" if self.ok else f"{len(self.violations)} violation(s)"
        return (
            f"{head}; {len(self.route_costs)} routes, max cost {self.max_cost:.6f}, "
            f"sum cost {self.sum_cost:.6f}, objective {self.objective} = "
            f"{self.objective_value:.6f}"
        )


# ---------------------------------------------------------------------------------------------
# Reading the instance


def _u64(value: Any, what: str) -> int:
    """An id as the instance format reads it: integers wrap modulo 2^64, reals truncate."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{what} must be a number, got {value!r}")
    return int(value) % _U64


def _members(section: Any) -> list[Any]:
    """Elements of a section: an array's items, an object's values in key order, none for
    null, else the value itself."""
    if section is None:
        return []
    if isinstance(section, list):
        return section
    if isinstance(section, dict):
        return [section[k] for k in sorted(section)]
    return [section]


@dataclass
class _Agent:
    agent_id: int
    type_name: str
    start: int | None
    end: int | None
    limit: int


class _Rules:
    """The instance reduced to what the rules need, indexed by vertex."""

    def __init__(self, instance: dict[str, Any], scaled: bool = False) -> None:
        if not isinstance(instance, dict):
            raise ValueError("an instance must be a JSON object")
        self.problems: list[str] = []
        nodes = _members(instance.get("nodes"))
        self.n = len(nodes)
        self.node_ids = [_u64(node.get("id"), f"node {v} id") for v, node in enumerate(nodes)]
        self.vertex_of: dict[int, int] = {}
        for vertex, node_id in enumerate(self.node_ids):
            self.vertex_of[node_id] = vertex  # a repeated id keeps its last node

        self.agents: list[_Agent] = []
        for k, raw in enumerate(_members(instance.get("agents"))):
            start = self._vertex(raw.get("start_node"), f"agent {k} start_node")
            end = self._vertex(raw.get("end_node"), f"agent {k} end_node")
            self.agents.append(
                _Agent(
                    _u64(raw.get("id"), f"agent {k} id"),
                    str(raw.get("type")),
                    start,
                    end,
                    route_limit(raw.get("max_length", 0)),
                )
            )
        self.type_names = {a.type_name for a in self.agents}

        costs = instance.get("costs") or {}
        if isinstance(costs, list):
            costs = {str(i): m for i, m in enumerate(costs)}
        self.matrices: dict[str, list[list[float | None]]] = {
            name: [[None if c is None else float(c) for c in row] for row in _members(matrix)]
            for name, matrix in costs.items()
        }
        # Solved in scaled units: every number of a matrix is a cost, only null is none.
        self.scaled = scaled

        assignment: dict[int, list[str]] = {}
        windows: dict[int, tuple[float, float]] = {}
        for constraint in _members(instance.get("constraints")):
            kind = constraint.get("kind")
            if kind == "assignment" and "items" in constraint:
                for item in _members(constraint["items"]):
                    assignment[_u64(item.get("node"), "assignment node")] = list(item["types"])
            elif kind == "timewindow" and "items" in constraint:
                for item in _members(constraint["items"]):
                    node_id = _u64(item.get("node"), "time-window node")
                    windows[node_id] = (float(item["start"]), float(item["end"]))
        # Allowed agent types per vertex: None means every type.
        self.allowed: list[set[str] | None] = []
        for node_id in self.node_ids:
            names = assignment.get(node_id)
            self.allowed.append(None if names is None else set(names) & self.type_names)
        self.windows: dict[int, tuple[float, float]] = {
            self.vertex_of[node_id]: w
            for node_id, w in windows.items()
            if node_id in self.vertex_of
        }

        options = instance.get("options") or {}
        self.return_to_end = bool(options.get("return_to_end", True))
        self.objective = objective_from_name(options.get("objective"))
        self.starts = {a.start for a in self.agents if a.start is not None}
        self.ends = {a.end for a in self.agents if a.end is not None}

    def _vertex(self, node_id: Any, what: str) -> int | None:
        vertex = self.vertex_of.get(_u64(node_id, what))
        if vertex is None:
            self.problems.append(f"instance: {what} {node_id!r} is not the id of a node")
        return vertex

    def leg(self, type_name: str, u: int, v: int) -> tuple[float, bool]:
        """The cost of a leg and whether it is a connection at all."""
        matrix = self.matrices.get(type_name)
        if matrix is None or u >= len(matrix) or v >= len(matrix[u]) or matrix[u][v] is None:
            return NO_CONNECTION, False
        cost = matrix[u][v]
        return cost, self.scaled or not is_no_connection(cost)

    def serves(self, type_name: str, vertex: int) -> bool:
        allowed = self.allowed[vertex]
        return allowed is None or type_name in allowed


# ---------------------------------------------------------------------------------------------
# The check


def _describe(rules: _Rules, vertex: int) -> str:
    return f"vertex {vertex} (node id {rules.node_ids[vertex]})"


def _apply_window(
    rules: _Rules, vertex: int, time: float, who: str, out: list[str], tolerance: float
) -> float:
    """The time at ``vertex`` after its window: an arrival after the close is a violation, one
    before the opening waits for it."""
    window = rules.windows.get(vertex)
    if window is None:
        return time
    opens, closes = window
    if time > closes + tolerance:
        out.append(f"{who}: arrives at {_describe(rules, vertex)} at {time:.6f}, after its "
                   f"window closes at {closes:g}")
    return max(time, opens)


def _check_route(
    rules: _Rules, k: int, path: list[int], out: list[str], served: dict[int, list[int]],
    tolerance: float, schedule: list[StopTime],
) -> float:
    """Checks one agent's route, records its served vertices and its schedule, returns its
    recomputed cost."""
    agent = rules.agents[k]
    who = f"route {k} (agent id {agent.agent_id})"
    if agent.start is None or agent.end is None:
        out.append(f"{who}: the agent's start or end node is unknown; route not checked")
        return 0.0
    if not path:
        out.append(f"{who}: empty path")
        return 0.0
    if path[0] != agent.start:
        out.append(f"{who}: begins at {_describe(rules, path[0])}, not at its start "
                   f"{_describe(rules, agent.start)}")
    last = path[-1]
    if len(path) == 1:
        if not (agent.start == agent.end or not rules.return_to_end):
            out.append(f"{who}: stays at its start but must end at {_describe(rules, agent.end)}")
    elif not (last == agent.end or (not rules.return_to_end and last == agent.start)):
        allowed = "its end node" + ("" if rules.return_to_end else " or its start node")
        out.append(f"{who}: ends at {_describe(rules, last)}, not at {allowed}")

    endpoints = rules.starts | rules.ends
    for i in range(1, len(path)):
        x = path[i]
        is_final_endpoint = i == len(path) - 1 and x in (agent.start, agent.end)
        if is_final_endpoint:
            continue
        if x in (agent.start, agent.end):
            out.append(f"{who}: passes through its own start or end node at position {i}")
        elif x in rules.ends:
            out.append(f"{who}: enters another agent's end node {_describe(rules, x)}")
        elif x in rules.starts and not rules.return_to_end:
            out.append(f"{who}: enters another agent's start node {_describe(rules, x)}")
        if x not in endpoints or (x in rules.starts and x not in rules.ends):
            served.setdefault(x, []).append(k)

    limit = agent.limit
    limit_reported = False
    cost = _apply_window(rules, path[0], 0.0, who, out, tolerance)
    schedule.append(StopTime(path[0], 0.0, cost, cost))
    for i in range(1, len(path)):
        u, x = path[i - 1], path[i]
        if not rules.serves(agent.type_name, x):
            out.append(f"{who}: type {agent.type_name!r} may not serve {_describe(rules, x)}")
        free = x == u or (not rules.return_to_end and x in (agent.start, agent.end))
        if not free:
            leg, connected = rules.leg(agent.type_name, u, x)
            if not connected:
                out.append(f"{who}: leg {u} -> {x} has no connection (cost {leg:g}) for type "
                           f"{agent.type_name!r}")
            cost += leg
        arrival = cost
        cost = _apply_window(rules, x, cost, who, out, tolerance)
        schedule.append(StopTime(x, arrival, cost - arrival, cost))
        if limit > 0 and cost > limit + tolerance and not limit_reported:
            out.append(f"{who}: cost {cost:.6f} exceeds its max_length {limit} at position {i}")
            limit_reported = True
    return cost


def check(
    instance: dict[str, Any],
    result: dict[str, Any],
    *,
    tolerance: float = 1e-9,
    cost_tolerance: float = 1e-6,
) -> CheckReport:
    """Check a result dictionary against its instance; see the module docstring for the rules."""
    scale = result.get("scale", 1.0)
    rules = _Rules(instance, scaled=scale != 1.0)
    violations: list[str] = list(rules.problems)
    if result.get("status") not in SUCCESS_STATUSES:
        violations.append(f"status is {result.get('status')!r}, not one of "
                          f"{', '.join(repr(s) for s in SUCCESS_STATUSES)}")
    routes = result.get("routes")
    if not isinstance(routes, list):
        routes = []
        violations.append("result has no list of routes")
    if len(routes) != len(rules.agents):
        violations.append(f"{len(routes)} routes for {len(rules.agents)} agents")

    served: dict[int, list[int]] = {}
    costs: list[float] = []
    schedules: list[list[StopTime]] = []
    for k, route in enumerate(routes[: len(rules.agents)]):
        agent = rules.agents[k]
        reported_id = route.get("agent_id")
        if reported_id is None or _u64(reported_id, "agent_id") != agent.agent_id:
            violations.append(f"route {k}: agent_id {reported_id!r}, expected {agent.agent_id}")
        path = route.get("path", [])
        bad = [v for v in path if isinstance(v, bool) or not isinstance(v, int)
               or not 0 <= v < rules.n]
        if bad:
            violations.append(f"route {k}: vertices out of range 0..{rules.n - 1}: {bad}")
            costs.append(0.0)
            schedules.append([])
            continue
        schedule: list[StopTime] = []
        cost = _check_route(rules, k, path, violations, served, tolerance, schedule)
        costs.append(cost)
        schedules.append(schedule)
        reported = route.get("cost")
        if not _close(reported, cost, cost_tolerance):
            violations.append(f"route {k}: reported cost {reported!r}, recomputed {cost:.9f}")

    endpoints = rules.starts | rules.ends
    missing = [v for v in range(rules.n) if v not in endpoints and v not in served]
    if missing:
        violations.append(f"{len(missing)} node(s) not served, vertices {_short(missing)}")
    for vertex in sorted(served):
        if len(served[vertex]) > 1:
            violations.append(f"{_describe(rules, vertex)} served {len(served[vertex])} times, "
                              f"by routes {served[vertex]}")

    max_cost, sum_cost = route_totals(costs)
    statistics = result.get("statistics") or {}
    for key, value in (("max_cost", max_cost), ("sum_cost", sum_cost)):
        for where, section in (("statistics ", statistics), ("", result)):
            if key in section and not _close(section[key], value, cost_tolerance):
                violations.append(f"{where}{key} {section[key]!r}, recomputed {value:.9f}")
    return CheckReport(
        not violations, violations, costs, max_cost, sum_cost, rules.objective, schedules
    )


def _close(reported: Any, value: float, tolerance: float) -> bool:
    if isinstance(reported, bool) or not isinstance(reported, (int, float)):
        return False
    return abs(reported - value) <= tolerance


def _short(values: Iterable[int], limit: int = 20) -> str:
    items = list(values)
    text = ", ".join(str(v) for v in items[:limit])
    return text + (f", ... ({len(items) - limit} more)" if len(items) > limit else "")


# ---------------------------------------------------------------------------------------------
# Command line


def add_check_command(subparsers: Any) -> argparse.ArgumentParser:
    """Register ``check`` on an argparse subparsers object; the parser's ``func`` default runs
    the check and returns the exit status (1 when there are violations)."""
    parser = subparsers.add_parser(
        "check",
        help="check a result against its instance",
        description="Check a result dictionary (JSON) against its instance and recompute costs.",
    )
    parser.add_argument("instance", help="JSON instance file")
    parser.add_argument(
        "result", help="JSON result file (the solver's result dictionary or `orvik solve -o`)"
    )
    parser.set_defaults(func=run_check_command)
    return parser


def run_check_command(args: argparse.Namespace) -> int:
    """Carry out ``orvik check``: prints each violation and a summary line."""
    instance = load_document(args.instance)
    result = load_document(args.result, "result")
    report = check(instance, result)
    for line in report.violations:
        print(f"violation: {line}")
    for k, cost in enumerate(report.route_costs):
        print(f"route {k}: cost {cost:.6f}")
    print(report.summary())
    return 0 if report.ok else 1


if __name__ == "__main__":
    _parser = argparse.ArgumentParser(prog="orvik-check")
    add_check_command(_parser.add_subparsers(dest="command", required=True))
    _args = _parser.parse_args(["check", *sys.argv[1:]])
    sys.exit(_args.func(_args))
