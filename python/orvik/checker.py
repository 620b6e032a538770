"""An independent referee for solutions: does a result dictionary solve its instance?

``check(instance, result)`` reads a JSON instance (as a dict) and a result dictionary
(``{"status", "routes": [{"agent_id", "path", "cost"}], "statistics": {...}}``, or a solution
document of ``orvik.Solution``) and recomputes everything from the instance's own numbers,
the schedule of every route included (arrival, wait, service and departure at each stop, and
the load after it). It judges the
instance as written and takes nothing from the result on trust: an instance or a result it
cannot read (a section of the wrong type, an id that is no whole number from 0 to 2^64 - 1, a
constraint of an unknown kind, a route limit outside -2^31 .. 2^31 - 1, a cost that is negative,
NaN or infinite) raises ``InstanceError`` (a ``ValueError``) with one line naming the place. The
rules it enforces:

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
- Route cost: starting at 0 at the start node, each leg adds the cost of the agent type's matrix.
  A missing or null entry is no connection. How a number of 9999 or more reads depends on whose
  result it is: the raw module's result dictionary (status "success" or "failed") comes from a
  solver that reads it as no connection (``NO_CONNECTION``, see ``orvik.rules``), so a paid leg
  of that cost is a violation; a solution of ``orvik`` (status "solved", "no solution" or
  "interrupted") comes from solving in scaled units, where every number is a cost. A leg between
  two equal vertices costs nothing; with ``return_to_end`` false a leg into the agent's own
  start or end node costs nothing. On arriving at a node with a time window (open, close) the
  cost may not exceed close; below open it becomes open (waiting). The start node's window
  counts too: the agent is there at time 0 and waits until it opens, and a window that closes
  before 0 is a violation.
- A positive ``max_length`` bounds the route cost after every leg, as written (0.5 is 0.5; a
  boolean reads as 1 or 0).

The rules of loads and orders hold for a solution of ``orvik`` (which always honours them) and
for the raw module's result when the instance's options set ``"enforce_constraints"``; without
it the raw module ignores them, and so does the check:

- Service: at every stop a route leaves (its sites, and its start), service starts on arrival
  or when the window opens, whichever is later (the window bounds the start), and lasts the
  node's ``"service"``; the agent leaves when it ends, as if the service were folded into the
  legs that leave the node. The route ends on arriving at its last stop: its cost is that time.
- Loads, one number per dimension (the longest amount or capacity of the instance; a number is
  one dimension, a missing dimension 0): the deliveries (``"demand"`` or ``"delivery"``) of the
  sites a route serves are on board when it starts; each site drops its delivery and takes its
  ``"pickup"``; a shipment's amount is on board from its pickup stop to its delivery stop. After
  every stop the load is within the agent's ``"capacity"`` in each dimension where that is above
  0.
- A shipment's two sites are on one route, the pickup first. A sequence pair of type "same" is
  on one route, ``before`` first; of type "diff", on two routes; without a type, service at
  ``before`` starts no later than service at ``after`` (on one route or two, by the schedules).
- A route's reported ``"schedule"`` (arrival, start, departure and load per stop), when there is
  one, is the schedule recomputed.
- The reported route costs, ``max_cost`` and ``sum_cost`` match the recomputed ones within
  ``cost_tolerance`` (absolute, 1e-6) or ``cost_rel_tolerance`` (relative, 1e-6), whichever is
  looser; another tool that rounds its costs to 3 decimals needs ``cost_tolerance=1e-3``
  (``orvik check --tolerance 1e-3``).

Comparisons against a window's close and a route limit allow ``tolerance`` (1e-9) for the
rounding of sums of doubles.
"""

from __future__ import annotations

import argparse
import math
import sys
from collections.abc import Iterable
from dataclasses import dataclass, field
from typing import Any, NamedTuple

from orvik.documents import InstanceError, a_json_type, load_document, plain_costs
from orvik.rules import (
    CONSTRAINT_KINDS,
    ID_END,
    INT32_MAX,
    INT32_MIN,
    MIN_SUM,
    NO_CONNECTION,
    PAIR_TYPES,
    is_no_connection,
    objective_from_name,
    objective_value,
    route_totals,
)

# The statuses of a result that carries routes: an interrupted solve keeps its best routes.
SUCCESS_STATUSES = ("success", "solved", "interrupted")


class StopTime(NamedTuple):
    """When a route is at one of its vertices: arrival, waiting for the window, departure
    (service starts after the wait and lasts ``service``), and the load on board after the
    stop, one number per dimension (empty when the instance has no loads)."""

    vertex: int
    arrival: float
    wait: float
    departure: float
    service: float = 0.0
    load: tuple[float, ...] = ()

    @property
    def start(self) -> float:
        """When service starts: the arrival, or the window's opening when that is later."""
        return self.arrival + self.wait


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
# Reading the instance and the result

# Statuses of orvik's solution documents: solved in scaled units, where every number is a cost.
PACKAGE_STATUSES = ("solved", "no solution", "interrupted")


def _where(document: str, parts: tuple[str | int, ...]) -> str:
    text = "$"
    for part in parts:
        text += f"[{part}]" if isinstance(part, int) else f".{part}"
    return f"{document}: {text}"


class _Reader:
    """Reads one document (the instance or the result) strictly; what it cannot read raises
    ``InstanceError`` naming the place."""

    def __init__(self, name: str) -> None:
        self.name = name

    def fail(self, parts: tuple[str | int, ...], problem: str) -> InstanceError:
        return InstanceError(f"{_where(self.name, parts)}: {problem}")

    def object(self, value: Any, parts: tuple[str | int, ...]) -> dict[str, Any]:
        if not isinstance(value, dict):
            raise self.fail(parts, f"expected an object, got {a_json_type(value)}")
        return value

    def array(self, value: Any, parts: tuple[str | int, ...]) -> list[Any]:
        if not isinstance(value, list):
            raise self.fail(parts, f"expected an array, got {a_json_type(value)}")
        return value

    def optional(self, parent: dict[str, Any], key: str, parts: tuple[str | int, ...],
                 read: Any, default: Any) -> Any:
        value = parent.get(key)
        return default if value is None else read(value, (*parts, key))

    def required(self, parent: dict[str, Any], key: str, parts: tuple[str | int, ...]) -> Any:
        if key not in parent:
            raise self.fail(parts, f"missing required key {key!r}")
        return parent[key]

    def id(self, value: Any, parts: tuple[str | int, ...]) -> int:
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < ID_END:
            raise self.fail(parts, f"expected a whole number from 0 to 2^64 - 1, got "
                                   f"{value!r}")
        return value

    def number(self, value: Any, parts: tuple[str | int, ...]) -> float:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise self.fail(parts, f"expected a number, got {a_json_type(value)}")
        if not math.isfinite(value):
            raise self.fail(parts, f"expected a finite number, got {value!r}")
        return float(value)

    def amount(self, value: Any, parts: tuple[str | int, ...]) -> tuple[float, ...]:
        """A number, or an array of 1 to 4 numbers, each finite and 0 or more."""
        values = value if isinstance(value, list) else [value]
        if isinstance(value, list) and not 1 <= len(value) <= 4:
            raise self.fail(parts, f"expected 1 to 4 numbers, got {len(value)}")
        amount = tuple(self.number(v, (*parts, d) if isinstance(value, list) else parts)
                       for d, v in enumerate(values))
        if any(a < 0 for a in amount):
            raise self.fail(parts, f"negative amount {value!r}")
        return amount

    def string(self, value: Any, parts: tuple[str | int, ...]) -> str:
        if not isinstance(value, str):
            raise self.fail(parts, f"expected a string, got {a_json_type(value)}")
        return value

    def boolean(self, value: Any, parts: tuple[str | int, ...]) -> bool:
        if not isinstance(value, bool):
            raise self.fail(parts, f"expected true or false, got {a_json_type(value)}")
        return value


@dataclass
class _Agent:
    agent_id: int
    type_name: str
    start: int | None
    end: int | None
    limit: float  # the route limit as written; 0 or less: none
    capacity: tuple[float, ...] = ()  # per dimension; 0: no limit in it


@dataclass
class _Shipment:
    where: str
    pickup: int | None  # vertices (None: no node has the id)
    delivery: int | None
    amount: tuple[float, ...]


@dataclass
class _Pair:
    where: str
    before: int | None
    after: int | None
    type: str | None


class _Rules:
    """The instance reduced to what the rules need, indexed by vertex.

    ``numbers_are_costs``: every number of a matrix is a cost (orvik's reading); otherwise one
    of 9999 or more is no connection (the raw module's reading)."""

    def __init__(self, instance: Any, numbers_are_costs: bool = False) -> None:
        read = _Reader("instance")
        instance = read.object(instance, ())
        self.problems: list[str] = []
        nodes = read.array(read.required(instance, "nodes", ()), ("nodes",))
        self.n = len(nodes)
        self.node_ids: list[int] = []
        self.deliveries: list[tuple[float, ...]] = []
        self.pickups: list[tuple[float, ...]] = []
        self.services: list[float] = []
        for v, raw_node in enumerate(nodes):
            where = ("nodes", v)
            node = read.object(raw_node, where)
            self.node_ids.append(read.id(read.required(node, "id", where), (*where, "id")))
            if "demand" in node and "delivery" in node:
                raise read.fail((*where, "delivery"), "a node gives its delivery as \"demand\" "
                                                      "or as \"delivery\", not both")
            key = "delivery" if "delivery" in node else "demand"
            self.deliveries.append(read.optional(node, key, where, read.amount, ()))
            self.pickups.append(read.optional(node, "pickup", where, read.amount, ()))
            service = read.optional(node, "service", where, read.number, 0.0)
            if service < 0:
                raise read.fail((*where, "service"), f"negative service duration {service!r}")
            self.services.append(service)
        self.vertex_of: dict[int, int] = {}
        for vertex, node_id in enumerate(self.node_ids):
            self.vertex_of[node_id] = vertex  # a repeated id keeps its last node

        self.agents: list[_Agent] = []
        agents = read.array(read.required(instance, "agents", ()), ("agents",))
        for k, raw_agent in enumerate(agents):
            where = ("agents", k)
            raw = read.object(raw_agent, where)
            ends = [read.id(read.required(raw, key, where), (*where, key))
                    for key in ("start_node", "end_node")]
            self.agents.append(_Agent(
                read.id(read.required(raw, "id", where), (*where, "id")),
                read.string(read.required(raw, "type", where), (*where, "type")),
                self._vertex(ends[0], f"agent {k} start_node"),
                self._vertex(ends[1], f"agent {k} end_node"),
                _limit(read, raw.get("max_length"), (*where, "max_length")),
                _capacity(read, raw.get("capacity"), (*where, "capacity")),
            ))
        self.type_names = {a.type_name for a in self.agents}

        costs = read.optional(instance, "costs", (), read.object, {})
        self.matrices: dict[str, list[list[float | None]]] = {
            name: _matrix(read, matrix, ("costs", name)) for name, matrix in costs.items()
        }
        self.numbers_are_costs = numbers_are_costs

        assignment: dict[int, list[str]] = {}
        windows: dict[int, tuple[float, float]] = {}
        self.shipments: list[_Shipment] = []
        self.pairs: list[_Pair] = []
        constraints = read.optional(instance, "constraints", (), read.array, [])
        for c, raw_constraint in enumerate(constraints):
            where = ("constraints", c)
            constraint = read.object(raw_constraint, where)
            kind = read.string(read.required(constraint, "kind", where), (*where, "kind"))
            if kind not in CONSTRAINT_KINDS:
                raise read.fail((*where, "kind"), (
                    f"{kind!r} is not a constraint kind; the kinds are "
                    f"{', '.join(CONSTRAINT_KINDS)}"))
            if kind == "sequence":
                self._read_pairs(read, constraint, where)
                continue
            items = read.array(read.required(constraint, "items", where), (*where, "items"))
            if kind == "shipment":
                self._read_shipments(read, items, where)
                continue
            for i, raw_item in enumerate(items):
                at = (*where, "items", i)
                item = read.object(raw_item, at)
                node_id = read.id(read.required(item, "node", at), (*at, "node"))
                if kind == "assignment":
                    names = read.array(read.required(item, "types", at), (*at, "types"))
                    assignment[node_id] = [read.string(name, (*at, "types", t))
                                           for t, name in enumerate(names)]
                else:
                    windows[node_id] = (
                        read.number(read.required(item, "start", at), (*at, "start")),
                        read.number(read.required(item, "end", at), (*at, "end")))
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

        options = read.optional(instance, "options", (), read.object, {})
        self.return_to_end = read.optional(options, "return_to_end", ("options",), read.boolean,
                                           True)
        # The loads, shipments, pairs and service durations are rules of a solution of this
        # package, and of the raw module's when the instance asks for them.
        self.enforce = numbers_are_costs or read.optional(
            options, "enforce_constraints", ("options",), read.boolean, False)
        self.dimensions = max((len(a) for a in (*self.deliveries, *self.pickups,
                                                *(s.amount for s in self.shipments),
                                                *(a.capacity for a in self.agents))), default=0)
        self.objective = objective_from_name(
            read.optional(options, "objective", ("options",), read.string, None))
        self.starts = {a.start for a in self.agents if a.start is not None}
        self.ends = {a.end for a in self.agents if a.end is not None}

    def _read_pairs(self, read: _Reader, constraint: dict[str, Any],
                    where: tuple[str | int, ...]) -> None:
        pairs = read.array(read.required(constraint, "precedence", where),
                           (*where, "precedence"))
        for i, raw_pair in enumerate(pairs):
            at = (*where, "precedence", i)
            pair = read.object(raw_pair, at)
            ends = [read.id(read.required(pair, key, at), (*at, key)) for key in ("before",
                                                                               "after")]
            kind = read.optional(pair, "type", at, read.string, None)
            if kind is not None and kind not in PAIR_TYPES:
                raise read.fail((*at, "type"), f"{kind!r} is not a pair type; the types are "
                                               f"{', '.join(PAIR_TYPES)}")
            self.pairs.append(_Pair(_where("instance", at), self.vertex_of.get(ends[0]),
                                    self.vertex_of.get(ends[1]), kind))

    def _read_shipments(self, read: _Reader, items: list[Any],
                        where: tuple[str | int, ...]) -> None:
        for i, raw_item in enumerate(items):
            at = (*where, "items", i)
            item = read.object(raw_item, at)
            ends = [read.id(read.required(item, key, at), (*at, key)) for key in ("pickup",
                                                                               "delivery")]
            self.shipments.append(_Shipment(
                _where("instance", at), self.vertex_of.get(ends[0]), self.vertex_of.get(ends[1]),
                read.optional(item, "amount", at, read.amount, ())))

    def padded(self, amount: tuple[float, ...]) -> tuple[float, ...]:
        """An amount in every dimension of the instance (a missing one is 0)."""
        return amount + (0.0,) * (self.dimensions - len(amount))

    def _vertex(self, node_id: int, what: str) -> int | None:
        vertex = self.vertex_of.get(node_id)
        if vertex is None:
            self.problems.append(f"instance: {what} {node_id!r} is not the id of a node")
        return vertex

    def leg(self, type_name: str, u: int, v: int) -> tuple[float, bool]:
        """The cost of a leg and whether it is a connection at all."""
        matrix = self.matrices.get(type_name)
        if matrix is None or u >= len(matrix) or v >= len(matrix[u]) or matrix[u][v] is None:
            return NO_CONNECTION, False
        cost = matrix[u][v]
        return cost, self.numbers_are_costs or not is_no_connection(cost)

    def serves(self, type_name: str, vertex: int) -> bool:
        allowed = self.allowed[vertex]
        return allowed is None or type_name in allowed


def _limit(read: _Reader, value: Any, parts: tuple[str | int, ...]) -> float:
    """A route limit as written: a number from -2^31 to 2^31 - 1 (0 or less: none), a boolean
    1 or 0, or absent (none)."""
    if value is None:
        return 0.0
    if isinstance(value, bool):
        return float(value)
    if not isinstance(value, (int, float)):
        raise read.fail(parts, f"expected a number, got {a_json_type(value)}")
    if not (math.isfinite(value) and INT32_MIN <= value <= INT32_MAX):
        raise read.fail(parts, f"max_length {value!r} is not a valid 32-bit integer "
                               "(from -2^31 to 2^31 - 1)")
    return float(value)


def _capacity(read: _Reader, value: Any, parts: tuple[str | int, ...]) -> tuple[float, ...]:
    """A capacity as written: an amount (0 in a dimension: no limit there), a boolean 1 or 0,
    or absent (none)."""
    if value is None:
        return ()
    if isinstance(value, bool):
        return (float(value),)
    return read.amount(value, parts)


def _matrix(read: _Reader, matrix: Any, parts: tuple[str | int, ...]
            ) -> list[list[float | None]]:
    rows: list[list[float | None]] = []
    for i, row in enumerate(read.array(matrix, parts)):
        plain = plain_costs(row)
        if plain is not None:
            rows.append(plain)
            continue
        values: list[float | None] = []
        for j, cost in enumerate(read.array(row, (*parts, i))):
            if cost is None:
                values.append(None)
                continue
            number = read.number(cost, (*parts, i, j))
            if number < 0:
                raise read.fail((*parts, i, j), f"negative cost {number!r}")
            values.append(number)
        rows.append(values)
    return rows


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
    last = len(path) - 1
    # Service is spent at every stop the agent leaves (its start included), as if folded into
    # the legs that leave it; the route ends on arriving at its last stop.
    cost = _apply_window(rules, path[0], 0.0, who, out, tolerance)
    service = rules.services[path[0]] if rules.enforce and last > 0 else 0.0
    schedule.append(StopTime(path[0], 0.0, cost, cost + service, service))
    cost += service
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
        start = cost
        service = rules.services[x] if rules.enforce and i < last else 0.0
        cost += service
        schedule.append(StopTime(x, arrival, start - arrival, cost, service))
        if limit > 0 and cost > limit + tolerance and not limit_reported:
            out.append(f"{who}: cost {cost:.6f} exceeds its max_length {limit:.12g} at "
                       f"position {i}")
            limit_reported = True
    if rules.enforce and rules.dimensions:
        _check_loads(rules, agent, who, schedule, out, tolerance)
    return cost


def _check_loads(rules: _Rules, agent: _Agent, who: str, schedule: list[StopTime],
                 out: list[str], tolerance: float) -> None:
    """The load after every stop: the deliveries of the route's sites are on board at its
    start; each site drops its delivery and takes its pickup, a shipment's amount is on board
    from its pickup to its delivery. Every dimension stays within the agent's capacity (0: no
    limit). Fills in the schedule's loads."""
    interior = [stop.vertex for stop in schedule[1:-1]]
    dims = rules.dimensions
    change: dict[int, list[float]] = {}
    for shipment in rules.shipments:
        amount = rules.padded(shipment.amount)
        for vertex, sign in ((shipment.pickup, 1.0), (shipment.delivery, -1.0)):
            if vertex is not None:
                totals = change.setdefault(vertex, [0.0] * dims)
                for d in range(dims):
                    totals[d] += sign * amount[d]
    load = [0.0] * dims
    for vertex in interior:
        delivery = rules.padded(rules.deliveries[vertex])
        for d in range(dims):
            load[d] += delivery[d]
    capacity = rules.padded(agent.capacity)
    reported = False
    for i, stop in enumerate(schedule):
        if 0 < i < len(schedule) - 1:
            delivery = rules.padded(rules.deliveries[stop.vertex])
            pickup = rules.padded(rules.pickups[stop.vertex])
            extra = change.get(stop.vertex, [0.0] * dims)
            for d in range(dims):
                load[d] += pickup[d] - delivery[d] + extra[d]
        schedule[i] = stop._replace(load=tuple(load))
        over = [d for d in range(dims) if capacity[d] and load[d] > capacity[d] + tolerance]
        if over and not reported:
            out.append(f"{who}: load {_amount(load)} after position {i} "
                       f"({_describe(rules, stop.vertex)}) exceeds its capacity "
                       f"{_amount(capacity)} in dimension {', '.join(map(str, over))}")
            reported = True


def _amount(values: Iterable[float]) -> str:
    items = list(values)
    return f"{items[0]:g}" if len(items) == 1 else "[" + ", ".join(f"{v:g}" for v in items) + "]"


def _check_orders(rules: _Rules, schedules: list[list[StopTime]], out: list[str],
                  tolerance: float) -> None:
    """Shipments and sequence pairs, judged by where and when the routes serve their sites (a
    site served on no route, or on several, is reported already)."""
    at: dict[int, tuple[int, int, float]] = {}  # vertex: route, position, start of service
    seen: set[int] = set()
    for k, schedule in enumerate(schedules):
        for i, stop in enumerate(schedule[1:-1], start=1):
            if stop.vertex in seen:
                at.pop(stop.vertex, None)
            else:
                at[stop.vertex] = (k, i, stop.start)
            seen.add(stop.vertex)

    endpoints = rules.starts | rules.ends

    def served(where: str, vertices: tuple[int | None, ...]) -> bool:
        for vertex in vertices:
            if vertex is None:
                out.append(f"{where}: names a node that does not exist")
                return False
            if vertex in endpoints:
                out.append(f"{where}: names {_describe(rules, vertex)}, an agent's start or end "
                           "node, which no route serves")
                return False
        return all(vertex in at for vertex in vertices)

    for shipment in rules.shipments:
        if not served(shipment.where, (shipment.pickup, shipment.delivery)):
            continue
        assert shipment.pickup is not None and shipment.delivery is not None
        (kp, ip, _), (kd, id_, _) = at[shipment.pickup], at[shipment.delivery]
        what = (f"shipment from {_describe(rules, shipment.pickup)} to "
                f"{_describe(rules, shipment.delivery)} ({shipment.where})")
        if kp != kd:
            out.append(f"{what}: picked up on route {kp} and delivered on route {kd}")
        elif ip > id_:
            out.append(f"{what}: delivered at position {id_} of route {kd}, before its pickup "
                       f"at position {ip}")
    for pair in rules.pairs:
        if not served(pair.where, (pair.before, pair.after)):
            continue
        assert pair.before is not None and pair.after is not None
        (kb, ib, tb), (ka, ia, ta) = at[pair.before], at[pair.after]
        what = (f"pair {_describe(rules, pair.before)} before "
                f"{_describe(rules, pair.after)} ({pair.where})")
        if pair.type == "same":
            if kb != ka:
                out.append(f"{what}: must be on one route, served on routes {kb} and {ka}")
            elif ib > ia:
                out.append(f"{what}: served at positions {ib} and {ia} of route {kb}, in the "
                           "wrong order")
        elif pair.type == "diff":
            if kb == ka:
                out.append(f"{what}: must be on two routes, both served on route {kb}")
        elif tb > ta + tolerance:
            out.append(f"{what}: service starts at {tb:.6f}, after the service at its 'after' "
                       f"site starts at {ta:.6f}")


def _compare_schedule(k: int, reported: Any, schedule: list[StopTime], out: list[str],
                      tolerance: _CostTolerance) -> None:
    """A route's schedule as the solver reports it ("schedule": arrival, start, departure and
    load per stop) is the one recomputed."""
    if not isinstance(reported, list) or len(reported) != len(schedule):
        out.append(f"route {k}: the reported schedule has not one entry per stop")
        return
    for i, (entry, stop) in enumerate(zip(reported, schedule, strict=True)):
        if not isinstance(entry, dict):
            out.append(f"route {k}: schedule entry {i} is not an object")
            return
        expected = {"arrival": stop.arrival, "start": stop.start}
        if i < len(schedule) - 1:  # the route ends on arriving at its last stop
            expected["departure"] = stop.departure
        for key, value in expected.items():
            if key in entry and not _close(entry[key], value, tolerance):
                out.append(f"route {k}: reported {key} {entry[key]!r} at position {i}, "
                           f"recomputed {value:.9f}")
                return
        load = entry.get("load")
        if stop.load and load is not None and (
                not isinstance(load, list)
                or any(not _close(a, b, tolerance) for a, b in zip(load, stop.load, strict=False))
                or any(not _close(a, 0.0, tolerance) for a in load[len(stop.load):])):
            out.append(f"route {k}: reported load {load!r} after position {i}, recomputed "
                       f"{list(stop.load)}")
            return


def check(
    instance: dict[str, Any],
    result: dict[str, Any],
    *,
    tolerance: float = 1e-9,
    cost_tolerance: float = 1e-6,
    cost_rel_tolerance: float = 1e-6,
) -> CheckReport:
    """Check a result dictionary against its instance; see the module docstring for the rules.
    An instance or result that cannot be read raises ``InstanceError`` naming the place.
    Reported costs may differ from the recomputed ones by ``cost_tolerance`` (absolute) or
    ``cost_rel_tolerance`` (relative to the larger of the two), whichever is looser; a negative
    NaN or infinite tolerance is a ``ValueError``."""
    for name, value in (("tolerance", tolerance), ("cost_tolerance", cost_tolerance),
                        ("cost_rel_tolerance", cost_rel_tolerance)):
        if (isinstance(value, bool) or not isinstance(value, (int, float))
                or not (math.isfinite(value) and value >= 0)):
            raise ValueError(f"{name} must be a number of 0 or more, got {value!r}")
    within = _CostTolerance(cost_tolerance, cost_rel_tolerance)
    read = _Reader("result")
    result = read.object(result, ())
    status = result.get("status")
    rules = _Rules(instance, numbers_are_costs=status in PACKAGE_STATUSES)
    violations: list[str] = list(rules.problems)
    if status not in SUCCESS_STATUSES:
        violations.append(f"status is {status!r}, not one of "
                          f"{', '.join(repr(s) for s in SUCCESS_STATUSES)}")
    if "routes" in result:
        routes = [read.object(route, ("routes", k))
                  for k, route in enumerate(read.array(result["routes"], ("routes",)))]
    else:
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
        if reported_id is None or read.id(reported_id, ("routes", k, "agent_id")) != \
                agent.agent_id:
            violations.append(f"route {k}: agent_id {reported_id!r}, expected {agent.agent_id}")
        path = read.array(route.get("path", []), ("routes", k, "path"))
        for i, vertex in enumerate(path):
            if isinstance(vertex, bool) or not isinstance(vertex, int):
                raise read.fail(("routes", k, "path", i),
                                f"expected a vertex (a whole number), got {vertex!r}")
        bad = [v for v in path if not 0 <= v < rules.n]
        if bad:
            violations.append(f"route {k}: vertices out of range 0..{rules.n - 1}: {bad}")
            costs.append(0.0)
            schedules.append([])
            continue
        schedule: list[StopTime] = []
        cost = _check_route(rules, k, path, violations, served, tolerance, schedule)
        costs.append(cost)
        schedules.append(schedule)
        if "schedule" in route and schedule:
            _compare_schedule(k, route["schedule"], schedule, violations, within)
        reported = route.get("cost")
        if not _close(reported, cost, within):
            violations.append(f"route {k}: reported cost {reported!r}, recomputed {cost:.9f}")

    endpoints = rules.starts | rules.ends
    missing = [v for v in range(rules.n) if v not in endpoints and v not in served]
    if missing:
        violations.append(f"{len(missing)} node(s) not served, vertices {_short(missing)}")
    for vertex in sorted(served):
        if len(served[vertex]) > 1:
            violations.append(f"{_describe(rules, vertex)} served {len(served[vertex])} times, "
                              f"by routes {served[vertex]}")
    if rules.enforce:
        _check_orders(rules, schedules, violations, tolerance)

    max_cost, sum_cost = route_totals(costs)
    statistics = read.optional(result, "statistics", (), read.object, {})
    for key, value in (("max_cost", max_cost), ("sum_cost", sum_cost)):
        for where, section in (("statistics ", statistics), ("", result)):
            if key in section and not _close(section[key], value, within):
                violations.append(f"{where}{key} {section[key]!r}, recomputed {value:.9f}")
    return CheckReport(
        not violations, violations, costs, max_cost, sum_cost, rules.objective, schedules
    )


class _CostTolerance(NamedTuple):
    absolute: float
    relative: float


def _close(reported: Any, value: float, tolerance: _CostTolerance) -> bool:
    if isinstance(reported, bool) or not isinstance(reported, (int, float)):
        return False
    # NaN is never close; an infinite report is close to nothing finite.
    return math.isclose(reported, value, rel_tol=tolerance.relative, abs_tol=tolerance.absolute)


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
    parser.add_argument(
        "--tolerance", type=_tolerance, default=DEFAULT_COST_TOLERANCE, metavar="T",
        help="how far a reported cost may be from the recomputed one, absolutely or relative "
             f"to it, whichever is looser (default {DEFAULT_COST_TOLERANCE:g}); for costs "
             "rounded to 3 decimals give 1e-3",
    )
    parser.set_defaults(func=run_check_command)
    return parser


DEFAULT_COST_TOLERANCE = 1e-6


def _tolerance(text: str) -> float:
    """An argument type: a tolerance, a finite number of 0 or more."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (math.isfinite(value) and value >= 0):
        raise argparse.ArgumentTypeError(f"must be a finite number of 0 or more, got {text}")
    return value


def run_check_command(args: argparse.Namespace) -> int:
    """Carry out ``orvik check``: prints each violation, the recomputed route costs, the
    tolerance the reported costs were held to and a summary line."""
    instance = load_document(args.instance)
    result = load_document(args.result, "result")
    tolerance = getattr(args, "tolerance", DEFAULT_COST_TOLERANCE)
    report = check(instance, result, cost_tolerance=tolerance, cost_rel_tolerance=tolerance)
    for line in report.violations:
        print(f"violation: {line}")
    for k, cost in enumerate(report.route_costs):
        print(f"route {k}: cost {cost:.6f}")
    print(f"reported costs held to the recomputed ones within {tolerance:g} (absolute) or "
          f"{tolerance:g} (relative), whichever is looser")
    print(report.summary())
    return 0 if report.ok else 1


if __name__ == "__main__":
    _parser = argparse.ArgumentParser(prog="orvik-check")
    add_check_command(_parser.add_subparsers(dest="command", required=True))
    _args = _parser.parse_args(["check", *sys.argv[1:]])
    sys.exit(_args.func(_args))
