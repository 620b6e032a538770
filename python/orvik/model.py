"""``Model``: build an instance from your own ids and names, write it, read it, solve it.

A model holds nodes (depots and sites) and agents under the caller's ids, which may be integers
or strings, one cost matrix per agent type, and the options. Rows and columns of a cost matrix
follow the order in which the nodes were added. In the instance document, string ids become
integer ids with the string kept as ``"name"``; reading the document back restores them.
"""

from __future__ import annotations

import contextlib
import math
import numbers
import os
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from orvik.documents import (
    InstanceError,
    Source,
    load_document,
    plain_costs,
    suggestion,
    write_json,
)
from orvik.instance import (
    MAX_DIMENSIONS,
    AgentId,
    Amount,
    Instance,
    NodeId,
    Parts,
    json_path,
    read_instance,
)
from orvik.rules import (
    ID_END,
    INT32_MAX,
    INT32_MIN,
    MIN_SUM,
    OBJECTIVE_NAMES,
    OBJECTIVES,
    PAIR_TYPES,
)
from orvik.settings import check_time_limit
from orvik.solving import solve_instance
from orvik.units import amount_value
from orvik.validation import ValidationError
from orvik.validation import validate as validate_document

if TYPE_CHECKING:
    from orvik.solution import Solution
    from orvik.solving import ProgressCallback, StopEvent

METRICS = ("euclidean", "manhattan")


@dataclass(frozen=True)
class Location:
    """A node of a model: a depot or a site, where it is and what it asks for.

    ``types`` lists the agent types that may serve it (None: every type); ``window`` is the
    (open, close) interval in which service may start; ``delivery`` is the amount (one number
    per dimension of the load) loaded at the start of the agent that serves it and dropped
    here, ``pickup`` the amount taken here to the route's end, ``service`` the time spent here
    once service starts; ``key`` is the integer id the node has in an instance document when
    ``id`` is a string (None until one is needed).
    """

    id: NodeId
    x: float
    y: float
    z: float = 0.0
    depot: bool = False
    types: tuple[str, ...] | None = None
    window: tuple[float, float] | None = None
    delivery: Amount = ()
    pickup: Amount = ()
    service: float = 0.0
    key: int | None = None

    @property
    def demand(self) -> float:
        """The first dimension of the delivery (the format's scalar demand); 0 when none."""
        return self.delivery[0] if self.delivery else 0.0


@dataclass(frozen=True)
class AgentSpec:
    """An agent of a model: its id, type, start and end node ids, its route limit and capacity.

    ``max_length`` bounds the route cost (None: no bound); ``capacity`` bounds the load it
    carries at every point of its route, one number per dimension (0 in a dimension, or none at
    all: no limit); ``key`` is the agent's integer id in a document when ``id`` is a string.
    """

    id: AgentId
    type: str
    start: NodeId
    end: NodeId
    max_length: float | None = None
    capacity: Amount = ()
    key: int | None = None


@dataclass(frozen=True)
class ShipmentSpec:
    """Goods picked up at one site and delivered at another by the same agent, pickup first;
    ``amount`` is on board in between."""

    pickup: NodeId
    delivery: NodeId
    amount: Amount = ()


@dataclass(frozen=True)
class PrecedenceSpec:
    """Two sites in order: service at ``before`` starts no later than at ``after``.
    ``same_agent`` True: one agent serves both, ``before`` earlier on its route; False: two
    different agents serve them (no order then); None: any agents, in that order of time."""

    before: NodeId
    after: NodeId
    same_agent: bool | None = None

    @property
    def type(self) -> str | None:
        """The pair's type in an instance document: "same", "diff" or none."""
        return {True: "same", False: "diff", None: None}[self.same_agent]


@dataclass(frozen=True)
class _Recipe:
    """Costs computed from the coordinates when the instance is built."""

    metric: str
    speed: float
    service: float


def _check_id(value: Any, what: str) -> NodeId:
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise TypeError(f"{what} must be an integer or a string, got {type(value).__name__} "
                        f"{_short(value)}")
    if isinstance(value, int) and not 0 <= value < ID_END:
        raise ValueError(f"{what} {value} is outside 0 .. 2^64 - 1")
    if isinstance(value, str) and not value:
        raise ValueError(f"{what} must not be empty")
    return value


def _short(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _real(value: Any, what: str, *, minimum: float | None = None) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a number, got {type(value).__name__} {_short(value)}")
    try:
        number = float(value)
    except OverflowError:
        raise ValueError(f"{what} is too large, got {_short(value)}") from None
    if not math.isfinite(number):
        raise ValueError(f"{what} must be finite, got {number}")
    if minimum is not None and number < minimum:
        raise ValueError(f"{what} must be at least {minimum:g}, got {number:g}")
    return number


def _amount(value: Any, what: str) -> Amount:
    """An amount: a number, or a sequence of 1 to MAX_DIMENSIONS numbers (one per dimension of
    the load), each 0 or more; 0 is no amount."""
    if isinstance(value, (str, bytes)) or not isinstance(value, (numbers.Real, Sequence)):
        raise TypeError(f"{what} must be a number or a sequence of numbers (one per dimension), "
                        f"got {type(value).__name__} {_short(value)}")
    if isinstance(value, Sequence):
        if not 1 <= len(value) <= MAX_DIMENSIONS:
            raise ValueError(f"{what} has 1 to {MAX_DIMENSIONS} numbers (one per dimension of "
                             f"the load), got {len(value)}")
        return tuple(_real(v, f"{what}[{d}]", minimum=0.0) for d, v in enumerate(value))
    number = _real(value, what, minimum=0.0)
    return (number,) if number else ()


def _window(value: Any, what: str) -> tuple[float, float] | None:
    if value is None:
        return None
    if isinstance(value, (str, bytes)) or not isinstance(value, Sequence) or len(value) != 2:
        raise TypeError(f"{what} must be a pair (open, close), got {_short(value)}")
    opens = _real(value[0], f"{what} open")
    closes = _real(value[1], f"{what} close")
    if opens > closes:
        raise ValueError(f"{what} opens at {opens:g}, after it closes at {closes:g}")
    return opens, closes


def _objective(name: str) -> str:
    if not isinstance(name, str):
        raise TypeError(f"objective must be a string, \"min_max\" or \"min_sum\", got "
                        f"{type(name).__name__} {_short(name)}")
    if name not in OBJECTIVE_NAMES:
        guess = suggestion(str(name), OBJECTIVES)
        hint = f" (did you mean {guess!r}?)" if guess else ""
        raise ValueError(f"unknown objective {name!r}; use {' or '.join(OBJECTIVES)}{hint}")
    return OBJECTIVE_NAMES[name]


def _type_name(value: Any, what: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a string, got {type(value).__name__} {_short(value)}")
    if not value:
        raise ValueError(f"{what} must not be empty")
    return value


def _flag(value: Any, what: str) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{what} must be True or False, got {type(value).__name__} "
                        f"{_short(value)}")
    return value


class Model:
    """An instance under construction, in the caller's ids.

    ```python
    m = Model(objective="min_max")
    m.add_depot("dock", 0, 0)
    m.add_site(101, 3, 4, window=(0, 50))
    m.add_agent("r1", "ground", start="dock")
    m.costs_from_coordinates("ground")
    solution = m.solve(time_limit=1)
    ```

    ``objective`` is "min_max" (the longest route) or "min_sum" (the sum of the routes);
    ``return_to_end`` false lets a route end where it started instead of at its end node;
    ``time_limit`` is the default search time of ``solve`` in seconds.
    """

    def __init__(
        self,
        *,
        objective: str = MIN_SUM,
        return_to_end: bool = True,
        time_limit: float | None = None,
        name: str | None = None,
    ) -> None:
        self._nodes: list[Location] = []
        self._node_at: dict[NodeId, int] = {}
        self._agents: list[AgentSpec] = []
        self._agent_at: dict[AgentId, int] = {}
        # The document ids of string ids read from a document (their "name"), so that an
        # integer id added later cannot take one of them.
        self._node_keys: dict[int, NodeId] = {}
        self._agent_keys: dict[int, AgentId] = {}
        self._costs: dict[str, list[list[float | None]] | _Recipe] = {}
        self._shipments: list[ShipmentSpec] = []
        self._pairs: list[PrecedenceSpec] = []
        self.objective = objective
        self.return_to_end = _flag(return_to_end, "return_to_end")
        self.time_limit = time_limit
        if name is not None and not isinstance(name, str):
            raise TypeError(f"name must be a string or None, got {type(name).__name__}")
        self.name = name

    # -- options -------------------------------------------------------------------------------

    @property
    def objective(self) -> str:
        """The objective: "min_max" or "min_sum"."""
        return self._objective

    @objective.setter
    def objective(self, name: str) -> None:
        self._objective = _objective(name)

    @property
    def time_limit(self) -> float | None:
        """The default time limit of ``solve`` in seconds (None: the instance has none of its
        own, and ``rules.DEFAULT_TIME_LIMIT`` applies)."""
        return self._time_limit

    @time_limit.setter
    def time_limit(self, seconds: float | None) -> None:
        self._time_limit = check_time_limit(seconds)

    # -- building ------------------------------------------------------------------------------

    def add_depot(
        self, id: NodeId, x: float, y: float, z: float = 0.0, *,
        window: tuple[float, float] | None = None,
    ) -> Location:
        """Add a depot, a node where agents start or end; returns it."""
        return self._add_node(Location(
            _check_id(id, "depot id"), _real(x, "x"), _real(y, "y"), _real(z, "z"), depot=True,
            window=_window(window, f"window of depot {id!r}"),
        ))

    def add_site(
        self, id: NodeId, x: float, y: float, z: float = 0.0, *,
        types: Iterable[str] | None = None,
        window: tuple[float, float] | None = None,
        delivery: float | Sequence[float] = 0.0,
        pickup: float | Sequence[float] = 0.0,
        service: float = 0.0,
        demand: float | Sequence[float] | None = None,
    ) -> Location:
        """Add a site to be served exactly once; returns it.

        ``types`` restricts the agent types that may serve it; ``window`` is (open, close), the
        interval in which service starts: arriving before ``open`` waits, arriving after
        ``close`` is not allowed. ``delivery`` is loaded at the start of the agent that serves
        the site and dropped here, ``pickup`` is taken here to the end of the route: each a
        number, or one number per dimension of the load (weight, volume, ... up to 4).
        ``service`` is the time spent here once service starts, before leaving. ``demand`` is
        another name of ``delivery`` (the instance format's).
        """
        if demand is not None:
            if delivery:
                raise ValueError(f"site {id!r}: give demand or delivery, not both")
            delivery = demand
        if types is not None:
            if isinstance(types, (str, bytes)):
                raise TypeError(f"types of site {id!r} must be a list of type names, not a string")
            if not isinstance(types, Iterable):
                raise TypeError(f"types of site {id!r} must be a list of type names, got "
                                f"{type(types).__name__} {_short(types)}")
            types = tuple(types)
            for name in types:
                _type_name(name, f"a type of site {id!r}")
        return self._add_node(Location(
            _check_id(id, "site id"), _real(x, "x"), _real(y, "y"), _real(z, "z"),
            types=types, window=_window(window, f"window of site {id!r}"),
            delivery=_amount(delivery, f"delivery of site {id!r}"),
            pickup=_amount(pickup, f"pickup of site {id!r}"),
            service=_real(service, f"service of site {id!r}", minimum=0.0),
        ))

    def _add_node(self, node: Location) -> Location:
        if node.id in self._node_at:
            raise ValueError(f"node id {node.id!r} is already used")
        _check_key(node.id, node.key, self._node_at, self._node_keys, "node")
        self._node_at[node.id] = len(self._nodes)
        self._nodes.append(node)
        if node.key is not None:
            self._node_keys[node.key] = node.id
        return node

    def add_agent(
        self, id: AgentId, type: str, start: NodeId, end: NodeId | None = None, *,
        max_length: float | None = None,
        capacity: float | Sequence[float] = 0.0,
    ) -> AgentSpec:
        """Add an agent of a type, starting at node ``start`` and ending at ``end`` (by default
        where it starts); returns it.

        ``max_length`` bounds the cost of its route; ``capacity`` bounds the load it carries at
        every point of its route: a number, or one number per dimension of the load (0 in a
        dimension: no limit there).
        """
        return self._add_agent(id, type, start, end, max_length, capacity, None)

    def _add_agent(self, id: AgentId, type: str, start: NodeId, end: NodeId | None,
                   max_length: float | None, capacity: Any, key: int | None) -> AgentSpec:
        _check_id(id, "agent id")
        if id in self._agent_at:
            raise ValueError(f"agent id {id!r} is already used")
        _check_key(id, key, self._agent_at, self._agent_keys, "agent")
        _type_name(type, f"the type of agent {id!r}")
        end = start if end is None else end
        for which, node_id in (("start", start), ("end", end)):
            _check_id(node_id, f"the {which} node of agent {id!r}")
            if node_id not in self._node_at:
                raise ValueError(f"{which} node {node_id!r} of agent {id!r} is not a node of the "
                                 "model; add it first")
        limit = None if max_length is None else _int32(max_length, f"max_length of agent {id!r}")
        what = f"capacity of agent {id!r}"
        capacity = _amount(capacity, what)
        for d, value in enumerate(capacity):
            _int32(value, what if len(capacity) == 1 else f"{what}[{d}]")
        agent = AgentSpec(id, type, start, end, limit, capacity, key)
        self._agent_at[id] = len(self._agents)
        self._agents.append(agent)
        if key is not None:
            self._agent_keys[key] = id
        return agent

    def add_shipment(self, pickup_site: NodeId, delivery_site: NodeId,
                     amount: float | Sequence[float] = 0.0) -> ShipmentSpec:
        """Add a shipment: the same agent serves both sites, ``pickup_site`` first, and carries
        ``amount`` (a number, or one per dimension of the load) from one to the other. Both
        sites must be added first; returns it."""
        pickup, delivery = (self._site_id(pickup_site, "pickup site"),
                            self._site_id(delivery_site, "delivery site"))
        if pickup == delivery:
            raise ValueError(f"a shipment picks up and delivers at two sites, got {pickup!r} "
                             "twice")
        shipment = ShipmentSpec(pickup, delivery,
                            _amount(amount, f"amount of the shipment {pickup!r} -> {delivery!r}"))
        self._shipments.append(shipment)
        return shipment

    def add_precedence(self, before: NodeId, after: NodeId,
                       same_agent: bool | None = None) -> PrecedenceSpec:
        """Order two sites: service at ``before`` starts no later than at ``after``, whichever
        agents serve them (``same_agent`` None); ``same_agent`` True: one agent serves both,
        ``before`` earlier on its route; False: two different agents serve them (no order of
        time then). Both sites must be added first; returns the pair."""
        first, second = self._site_id(before, "before"), self._site_id(after, "after")
        if same_agent is not None:
            _flag(same_agent, "same_agent")
        if first == second:
            raise ValueError(f"a precedence orders two sites, got {first!r} twice")
        pair = PrecedenceSpec(first, second, same_agent)
        self._pairs.append(pair)
        return pair

    def _site_id(self, id: NodeId, what: str) -> NodeId:
        _check_id(id, what)
        if id not in self._node_at:
            raise ValueError(f"{what} {id!r} is not a node of the model; add it first")
        return id

    @property
    def shipments(self) -> tuple[ShipmentSpec, ...]:
        """The shipments in the order they were added."""
        return tuple(self._shipments)

    @property
    def precedences(self) -> tuple[PrecedenceSpec, ...]:
        """The ordered pairs in the order they were added."""
        return tuple(self._pairs)

    def set_costs(self, type: str, matrix: Iterable[Iterable[float | None]]) -> None:
        """Set the cost matrix of an agent type: row i, column j is the cost from the i-th to
        the j-th node added. ``None`` marks a pair with no connection. Costs, windows and route
        limits share one unit (time). The nodes come first: the matrix must have a row and a
        column for each (``ValueError`` names the row that does not fit)."""
        _type_name(type, "an agent type")
        if isinstance(matrix, (str, bytes)) or not isinstance(matrix, Iterable):
            raise TypeError(f"the cost matrix of {type!r} must be a list of rows, got "
                            f"{_short(matrix)}")
        rows: list[list[float | None]] = []
        for i, row in enumerate(matrix):
            plain = plain_costs(row)
            if plain is not None:
                rows.append(plain)
                continue
            if isinstance(row, (str, bytes)) or not isinstance(row, Iterable):
                raise TypeError(f"row {i} of the cost matrix of {type!r} must be a list of "
                                f"costs, got {_short(row)}")
            values: list[float | None] = []
            for j, cost in enumerate(row):
                if cost is None:
                    values.append(None)
                else:
                    values.append(_real(cost, f"costs[{type!r}][{i}][{j}]", minimum=0.0))
            rows.append(values)
        n = len(self._nodes)
        if len(rows) != n:
            first = "; add the nodes first" if len(rows) > n else ""
            raise ValueError(f"the cost matrix of {type!r} has {len(rows)} rows for the "
                             f"{n} nodes of the model (a row per node, in the order they were "
                             f"added{first})")
        for i, row in enumerate(rows):
            if len(row) != n:
                raise ValueError(f"row {i} of the cost matrix of {type!r} has {len(row)} costs "
                                 f"for the {n} nodes of the model (a column per node)")
        self._costs[type] = rows

    def costs_from_coordinates(
        self, type: str, metric: str = "euclidean", speed: float = 1.0, service: float = 0.0
    ) -> None:
        """Compute the cost matrix of an agent type from the node coordinates when the
        instance is built: the distance (``metric`` "euclidean" or "manhattan", over x, y, z)
        divided by ``speed``, plus ``service`` when leaving a site (not a depot). That ``service``
        is part of every leg's cost; a site's own service duration (``add_site(service=)``) is
        reported as such at each stop: give one or the other."""
        _type_name(type, "an agent type")
        if not isinstance(metric, str) or metric not in METRICS:
            raise ValueError(f"unknown metric {metric!r}; use {' or '.join(METRICS)}")
        speed = _real(speed, "speed")
        if speed <= 0:
            raise ValueError(f"speed must be positive, got {speed:g}")
        self._costs[type] = _Recipe(metric, speed, _real(service, "service", minimum=0.0))

    # -- reading -------------------------------------------------------------------------------

    @property
    def nodes(self) -> tuple[Location, ...]:
        """The nodes in the order they were added (the order of the cost matrices)."""
        return tuple(self._nodes)

    @property
    def agents(self) -> tuple[AgentSpec, ...]:
        """The agents in the order they were added (the order of the routes)."""
        return tuple(self._agents)

    @property
    def agent_types(self) -> tuple[str, ...]:
        """The agent type names, in order of first appearance."""
        return tuple(dict.fromkeys(a.type for a in self._agents))

    def node(self, id: NodeId) -> Location:
        """The node with this id; ``KeyError`` naming the id when there is none."""
        _check_id(id, "a node id")
        if id not in self._node_at:
            raise KeyError(f"no node has id {id!r}")
        return self._nodes[self._node_at[id]]

    def position(self, id: NodeId) -> int:
        """The 0-based position of a node in the node list (its row in the cost matrices)."""
        self.node(id)
        return self._node_at[id]

    def cost_matrix(self, type: str) -> list[list[float | None]]:
        """The cost matrix of an agent type, computed now when it comes from coordinates."""
        _type_name(type, "an agent type")
        if type not in self._costs:
            raise KeyError(f"agent type {type!r} has no costs")
        costs = self._costs[type]
        if isinstance(costs, _Recipe):
            return self._from_coordinates(costs)
        return [list(row) for row in costs]

    def _from_coordinates(self, recipe: _Recipe) -> list[list[float | None]]:
        matrix: list[list[float | None]] = []
        for a in self._nodes:
            row: list[float | None] = []
            for b in self._nodes:
                if a is b:
                    row.append(0.0)
                    continue
                deltas = (a.x - b.x, a.y - b.y, a.z - b.z)
                if recipe.metric == "euclidean":
                    distance = math.hypot(*deltas)
                else:
                    distance = sum(abs(d) for d in deltas)
                row.append(distance / recipe.speed + (0.0 if a.depot else recipe.service))
            matrix.append(row)
        return matrix

    def __repr__(self) -> str:
        depots = sum(n.depot for n in self._nodes)
        return (f"Model({len(self._nodes)} nodes ({depots} depots), {len(self._agents)} agents "
                f"of types {list(self.agent_types)}, objective {self.objective!r})")

    # -- documents -----------------------------------------------------------------------------

    def node_keys(self) -> list[int]:
        """The integer ids the nodes have in an instance document, in node order."""
        return _keys([(n.id, n.key) for n in self._nodes])

    def agent_keys(self) -> list[int]:
        """The integer ids the agents have in an instance document, in agent order."""
        return _keys([(a.id, a.key) for a in self._agents])

    def to_dict(self) -> dict[str, Any]:
        """The instance document (the JSON instance format) as a dict; a missing connection
        is ``None`` (null)."""
        keys = dict(zip((n.id for n in self._nodes), self.node_keys(), strict=True))
        document: dict[str, Any] = {}
        if self.name is not None:
            document["name"] = self.name
        nodes = []
        for node in self._nodes:
            item: dict[str, Any] = {"id": keys[node.id]}
            if isinstance(node.id, str):
                item["name"] = node.id
            item.update(x=node.x, y=node.y, z=node.z, type="DEPOT" if node.depot else "TARGET")
            if node.delivery:
                item["demand"] = amount_value(node.delivery)
            if node.pickup:
                item["pickup"] = amount_value(node.pickup)
            if node.service:
                item["service"] = node.service
            nodes.append(item)
        agents = []
        for agent, key in zip(self._agents, self.agent_keys(), strict=True):
            item = {"id": key}
            if isinstance(agent.id, str):
                item["name"] = agent.id
            item.update(type=agent.type, start_node=keys[agent.start], end_node=keys[agent.end])
            if agent.max_length is not None:
                item["max_length"] = agent.max_length
            if agent.capacity:
                item["capacity"] = amount_value(agent.capacity)
            agents.append(item)
        document["nodes"] = nodes
        document["agents"] = agents
        document["costs"] = {t: self.cost_matrix(t) for t in self._costs}
        constraints: list[dict[str, Any]] = []
        assignment = [{"node": keys[n.id], "types": list(n.types)}
                      for n in self._nodes if n.types is not None]
        if assignment:
            constraints.append({"kind": "assignment", "items": assignment})
        windows = [{"node": keys[n.id], "start": n.window[0], "end": n.window[1]}
                   for n in self._nodes if n.window is not None]
        if windows:
            constraints.append({"kind": "timewindow", "items": windows})
        if self._shipments:
            constraints.append({"kind": "shipment", "items": [
                {"pickup": keys[s.pickup], "delivery": keys[s.delivery]}
                | ({"amount": amount_value(s.amount)} if s.amount else {})
                for s in self._shipments]})
        if self._pairs:
            constraints.append({"kind": "sequence", "precedence": [
                {"before": keys[p.before], "after": keys[p.after]}
                | ({} if p.type is None else {"type": p.type}) for p in self._pairs]})
        document["constraints"] = constraints
        options: dict[str, Any] = {"objective": self.objective,
                                   "return_to_end": self.return_to_end}
        if self.time_limit is not None:
            options["time_limit"] = self.time_limit
        document["options"] = options
        return document

    def to_json(self, path: str | os.PathLike[str] | None = None, *, indent: int = 1) -> str:
        """The instance document as JSON text; written to ``path`` as well when one is given
        (through a temporary file, so that a failed write leaves what was there)."""
        return write_json(self.to_dict(), path, indent)

    @classmethod
    def from_json(cls, source: Source | Instance, *, validate: bool = True) -> Model:
        """Read a model from an instance document: a path or a dict (or an instance already
        read by ``orvik.instance.read_instance``).

        The document is validated first (``orvik.validate``, which here allows an instance
        without sites or agents, to be completed); errors raise ``ValidationError`` listing all
        of them. Nodes and agents with a ``"name"`` take it as
        their id. With ``validate`` false, what cannot be read raises ``InstanceError``.
        """
        instance = source if isinstance(source, Instance) else read_instance(
            load_document(source))
        if _flag(validate, "validate"):
            # A document may be read to be completed: one without sites or agents is no error.
            findings = validate_document(instance, complete=False)
            if findings.errors:
                raise ValidationError(findings)
        return _model_of(instance.require())

    # -- solving -------------------------------------------------------------------------------

    def solve(
        self,
        time_limit: float | None = None,
        *,
        improve: bool = True,
        seed: int | None = None,
        iterations: int | None = None,
        clock: str = "wall",
        progress: ProgressCallback | None = None,
        stop: StopEvent | None = None,
        validate: bool = True,
    ) -> Solution:
        """Solve the model and return a ``Solution`` in the model's ids.

        ``time_limit`` in seconds (default: the model's, else ``rules.DEFAULT_TIME_LIMIT``),
        counted on ``clock``: "wall" (wall-clock time, the default) or "cpu" (the processor
        time of the solving thread, which other threads' work does not use up). It bounds the
        whole call: writing and validating the instance count, and the search gets what is
        left. ``improve``,
        ``seed`` and ``iterations`` steer the improvement of the routes after the search.

        ``progress`` is called with a ``ProgressReport`` on every improvement and every half
        second; some reports carry the best routes so far in the caller's ids (its ``routes``).
        The solve stops early, keeping the best routes found (status "interrupted"), on
        Ctrl-C or once ``stop.is_set()`` (a ``threading.Event``, say). The interpreter lock is
        released while the solver runs, so other threads go on meanwhile.

        The instance is validated first (``ValidationError`` lists every error;
        ``validate=False`` skips this). When a cost, a window bound or a route limit reaches
        9999 the solver works in scaled units and the solution says so in its notes.
        """
        return solve_instance(lambda: read_instance(self.to_dict()), time_limit,
                              improve=improve, seed=seed, iterations=iterations, clock=clock,
                              progress=progress, stop=stop, validate=validate)


def _int32(value: Any, what: str) -> float:
    """A route limit or capacity: a number the solver can read (from -2^31 to 2^31 - 1),
    as ``rules.INT32_MIN`` and ``INT32_MAX`` say."""
    number = _real(value, what)
    if not INT32_MIN <= number <= INT32_MAX:
        raise ValueError(f"{what} must be from -2^31 to 2^31 - 1 (the solver reads it as a "
                         f"32-bit number), got {_short(value)}")
    return number


def _check_key(item_id: Any, key: int | None, at: dict[Any, int], keys: dict[int, Any],
               what: str) -> None:
    """Refuse an id that would share its document id with another element: an integer id that
    a named element already has as its document id, or a document id that an integer id or
    another named element already has."""
    if isinstance(item_id, int) and item_id in keys:
        raise ValueError(f"{what} id {item_id} is the document id of {what} {keys[item_id]!r} "
                         f"(read from an instance where it is named); give the new {what} "
                         "another id")
    if key is not None and (key in keys or (key in at and isinstance(key, int))):
        other = keys.get(key, key)
        raise ValueError(f"{what} {item_id!r} has the document id {key}, which {what} "
                         f"{other!r} already has")


def _keys(items: list[tuple[NodeId, int | None]]) -> list[int]:
    """Integer ids: integers keep theirs, strings their given key or the smallest free one."""
    used = {i for i, _ in items if isinstance(i, int)} | {k for _, k in items if k is not None}
    keys: list[int] = []
    free = 0
    for item_id, key in items:
        if isinstance(item_id, int):
            keys.append(item_id)
        elif key is not None:
            keys.append(key)
        else:
            while free in used:
                free += 1
            used.add(free)
            keys.append(free)
    return keys


@contextlib.contextmanager
def _at(path: Parts) -> Iterator[None]:
    """Report a builder's complaint about a value of the document as a one-line error at its
    place."""
    try:
        yield
    except InstanceError:
        raise
    except (TypeError, ValueError) as error:
        raise InstanceError(f"{json_path(*path)}: {error}") from None


def _model_of(instance: Instance) -> Model:
    """The model of an instance read without problems; the builders check the values."""
    options = instance.options
    with _at(("options",)):
        model = Model(
            objective=options.objective if options.objective is not None else MIN_SUM,
            return_to_end=options.return_to_end,
            time_limit=options.time_limit,
            name=instance.name,
        )
    windows: dict[int | None, tuple[float, float]] = {}
    for item in instance.window_items():
        with _at(item.path):
            windows[item.node] = (_real(item.start, "start"), _real(item.end, "end"))
    by_key: dict[int | None, NodeId] = {}
    for node in instance.nodes:
        with _at(node.path):
            label = _check_id(node.label, "id")
            model._add_node(Location(
                label, _real(node.x, "x"), _real(node.y, "y"), _real(node.z, "z"),
                depot=node.depot, types=instance.allowed.get(node.id) if node.id is not None
                else None, window=windows.get(node.id),
                delivery=_amount(list(node.delivery or ()) or 0.0, node.delivery_key),
                pickup=_amount(list(node.pickup or ()) or 0.0, "pickup"),
                service=_real(node.service, "service", minimum=0.0),
                key=node.id if label != node.id else None,
            ))
        by_key.setdefault(node.id, label)
    for agent in instance.agents:
        limit = agent.max_length
        with _at(agent.path):
            model._add_agent(
                agent.label, agent.type, by_key[agent.start_node], by_key[agent.end_node],
                None if limit is None else _real(limit, "max_length"),
                list(agent.capacities) or 0.0,
                agent.id if agent.label != agent.id else None,
            )
    for kind, matrix in instance.costs.items():
        with _at(("costs", kind)):
            model.set_costs(kind, matrix)
    for item in instance.shipment_items():
        with _at(item.path):
            model.add_shipment(_label(by_key, item.pickup, "pickup"),
                               _label(by_key, item.delivery, "delivery"),
                               list(item.amount or ()) or 0.0)
    for pair in instance.pairs():
        with _at(pair.path):
            if pair.type not in (None, *PAIR_TYPES):
                raise ValueError(f"type {pair.type!r} is not a pair type; use "
                                 f"{' or '.join(PAIR_TYPES)} (or none)")
            model.add_precedence(_label(by_key, pair.before, "before"),
                                 _label(by_key, pair.after, "after"),
                                 {"same": True, "diff": False}.get(pair.type or ""))
    return model


def _label(by_key: dict[int | None, NodeId], key: int | None, what: str) -> NodeId:
    """The model's id of the node a document names by its integer id."""
    if key not in by_key:
        raise ValueError(f"{what}: no node has id {key}")
    return by_key[key]
