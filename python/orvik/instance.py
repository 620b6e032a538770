"""The instance document read once: typed records of its nodes, agents, cost matrices,
constraints and options, each with its place in the document.

``read_instance(document)`` reads an instance document (a dict) in one pass and gives an
``Instance``. It reads what it can. What it cannot read (a section or an element of the wrong
shape, a required key that is missing, a value of the wrong type, an id that is no whole number
from 0 to 2^64 - 1, an agent's start or end node that is no node) is a ``Problem`` naming the
place, in document order, and the value is left out (None); so is a value that reads but breaks
a rule of the format (an unknown objective or constraint kind, a time limit that is not
finite). A problem is fatal when no model can be built without the value; the others (a name
of the wrong type, a constraint without a kind, a setting of the improvement that is no whole
number, ...) leave a model that validation still refuses. The parts of the package that need an
instance read these records:

- validation reports the shapes through the JSON Schema, in the schema's words, and checks the
  records for what a schema cannot say, with the same rules for the values;
- a model read from a document, and a solve, refuse the first problem (``Instance.require``);
- the unit scale, the document the solver receives and the diagnosis of an instance without a
  solution read the records of a valid instance.

The checker (``orvik.checker``) reads documents its own way: it is the referee of the solver's
routes and of this reading too.

Numbers are kept as written (an integer stays an integer), and a matrix keeps the document's
rows (not copied; validation checks their entries, linearly, with builtins). An amount (a
delivery, a pickup, a capacity, a shipment's amount) is written as a number or an array of 1 to
``MAX_DIMENSIONS`` numbers and read as a tuple (a number is the one-dimensional tuple).
"""

from __future__ import annotations

import contextlib
import json
import re
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any, NamedTuple

from orvik.documents import (
    InstanceError,
    a_json_type,
    did_you_mean,
    is_finite_number,
    show,
    suggestion,
)
from orvik.rules import (
    CONSTRAINT_KINDS,
    ID_END,
    ITERATIONS_END,
    OBJECTIVE_NAMES,
    OBJECTIVES,
    SEED_END,
    objective_from_name,
)
from orvik.schema import stray_keys

Parts = tuple[str | int, ...]
# The ids a caller gives nodes and agents: the document's integer id, or the element's "name".
NodeId = int | str
AgentId = int | str

_PLAIN_KEY = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
# An amount per dimension (weight, volume, ...): a number of the document is a tuple of one.
Amount = tuple[float, ...]
# The most dimensions a load has.
MAX_DIMENSIONS = 4
# The node keys of a delivery amount: "demand" (the format's scalar) or "delivery", not both.
DELIVERY_KEYS = ("demand", "delivery")


def json_path(*parts: str | int) -> str:
    """A JSON path such as ``$.costs.car[3][4]`` from keys and indexes."""
    text = "$"
    for part in parts:
        if isinstance(part, int):
            text += f"[{part}]"
        elif _PLAIN_KEY.fullmatch(part):
            text += f".{part}"
        else:
            text += f"[{json.dumps(part)}]"
    return text


# ---------------------------------------------------------------------------------------------
# The rules of values that the reader and validation share


def objective_problem(name: str) -> str | None:
    """Why an objective name is none (None: it is one)."""
    if name in OBJECTIVE_NAMES:
        return None
    return (f"{name!r} is not an objective; use {' or '.join(OBJECTIVES)}"
            + did_you_mean(name, OBJECTIVES))


def kind_problem(kind: str) -> str | None:
    """Why a constraint kind is none (None: it is one)."""
    if kind in CONSTRAINT_KINDS:
        return None
    return (f"{kind!r} is not a constraint kind; the kinds are {', '.join(CONSTRAINT_KINDS)}"
            + did_you_mean(kind, CONSTRAINT_KINDS))


def time_limit_problem(seconds: float) -> str | None:
    """Why a document's time limit cannot be used (None: it can): one that is not finite."""
    if is_finite_number(seconds):
        return None
    return (f"a time limit of {show(seconds)} seconds; give a number of seconds (a large one "
            "for no practical limit)")


# ---------------------------------------------------------------------------------------------
# The records


class Problem(NamedTuple):
    """What the reader could not read, or a rule a value breaks, and where; ``fatal`` when no
    model can be built without it."""

    path: Parts
    message: str
    fatal: bool = True

    def __str__(self) -> str:
        return f"{json_path(*self.path)}: {self.message}"


class NodeRecord(NamedTuple):
    """A node: its position in ``$.nodes`` (its vertex), its id, and what it holds. A value
    that could not be read is None; ``z`` and ``service`` are 0 when absent, the amounts empty.
    ``delivery`` is the amount loaded at the agent's start and dropped here (written as
    "demand" or "delivery": ``delivery_key``), ``pickup`` the amount taken here to the route's
    end, ``service`` the time spent here once service starts."""

    index: int
    id: int | None
    name: str | None = None
    x: float | None = None
    y: float | None = None
    z: float | None = 0.0
    kind: str | None = None  # its "type" as written
    delivery: Amount | None = ()
    pickup: Amount | None = ()
    service: float | None = 0.0
    delivery_key: str = "demand"

    @property
    def path(self) -> Parts:
        """Where the node is in the document."""
        return ("nodes", self.index)

    @property
    def demand(self) -> float:
        """The first dimension of the delivery (the format's scalar demand); 0 when none."""
        return self.delivery[0] if self.delivery else 0.0

    @property
    def depot(self) -> bool:
        """Whether the node is a depot ("type": "DEPOT"); every other node is a target."""
        return self.kind == "DEPOT"

    @property
    def label(self) -> NodeId | None:
        """The node's id for the caller: its name when it has one, else its id."""
        return self.name if self.name else self.id


class AgentRecord(NamedTuple):
    """An agent: its position in ``$.agents``, id, type, start and end node ids and their
    vertices (None: no node has that id), and its route limit and capacity as written (a
    number, or a boolean the raw module reads as 1 or 0; None when absent)."""

    index: int
    id: int | None
    name: str | None = None
    type: str | None = None
    start_node: int | None = None
    end_node: int | None = None
    start: int | None = None
    end: int | None = None
    max_length: float | bool | None = None
    capacity: Amount | bool | None = None

    @property
    def path(self) -> Parts:
        """Where the agent is in the document."""
        return ("agents", self.index)

    @property
    def capacities(self) -> Amount:
        """The capacity per dimension (0: no limit in that one); empty when there is none."""
        value = self.capacity
        return value if isinstance(value, tuple) else ()

    @property
    def label(self) -> AgentId | None:
        """The agent's id for the caller: its name when it has one, else its id."""
        return self.name if self.name else self.id

    @property
    def limit(self) -> float:
        """The route limit as written, as a number (a boolean reads as 1 or 0); 0 or less, or
        none: no limit."""
        value = self.max_length
        return 0.0 if value is None else float(value)


class AssignmentItem(NamedTuple):
    """An assignment entry: the node it is for and the agent types that may serve it."""

    path: Parts
    node: int | None
    types: tuple[str, ...] | None


class WindowItem(NamedTuple):
    """A time-window entry: the node and the interval (start, end) of its service."""

    path: Parts
    node: int | None
    start: float | None
    end: float | None


class PrecedencePair(NamedTuple):
    """A pair of a sequence constraint: "same" (one agent's route, ``before`` earlier on it),
    "diff" (two agents' routes) or no type (service at ``before`` starts no later than at
    ``after``)."""

    path: Parts
    before: int | None
    after: int | None
    type: str | None = None


class ShipmentItem(NamedTuple):
    """A shipment: picked up at one node and delivered at another by the same agent, the
    amount on board in between."""

    path: Parts
    pickup: int | None
    delivery: int | None
    amount: Amount | None = ()


class ConstraintRecord(NamedTuple):
    """A constraint object: its position, its kind (None when it has none that reads), its
    items (assignment and time-window entries), its pairs (a sequence) or its shipments."""

    index: int
    kind: str | None
    items: tuple[AssignmentItem | WindowItem, ...] = ()
    pairs: tuple[PrecedencePair, ...] = ()
    shipments: tuple[ShipmentItem, ...] = ()

    @property
    def path(self) -> Parts:
        """Where the constraint is in the document."""
        return ("constraints", self.index)


class OptionsRecord(NamedTuple):
    """The options of the document as written (None: not given, or not read)."""

    objective: str | None = None
    return_to_end: bool = True
    written_time_limit: float | None = None
    improve: bool | None = None
    seed: int | None = None
    iterations: int | None = None  # "improve_iterations"
    enforce: bool | None = None  # "enforce_constraints"

    @property
    def time_limit(self) -> float | None:
        """The instance's own time limit in seconds as the package reads it: a positive, finite
        one; any other (0 or less, which validation warns of) is none."""
        seconds = self.written_time_limit
        if seconds is None or not is_finite_number(seconds) or not seconds > 0:
            return None
        return float(seconds)


@dataclass(frozen=True, eq=False)
class Instance:
    """An instance document as read by ``read_instance``: the document itself (as given, not
    copied) and its records. ``vertex`` maps node ids to vertices (the first node with the id), ``allowed``
    node ids to the agent types their assignment entry lists, ``windows`` node ids to their
    (start, end) interval (a later entry for a node replaces an earlier one, as the solver reads
    them). ``irregular`` gives, for the node array and each array of assignment or time-window
    entries, the indexes of the elements that are not plain: plain ones hold the keys they need,
    each of the expected type (unknown keys aside), so that the JSON Schema accepts them."""

    document: dict[str, Any]
    name: str | None
    node_count: int
    nodes: tuple[NodeRecord, ...]
    agents: tuple[AgentRecord, ...]
    costs: dict[str, list[Any] | None]
    constraints: tuple[ConstraintRecord, ...]
    options: OptionsRecord
    problems: tuple[Problem, ...]
    vertex: dict[int, int]
    allowed: dict[int, tuple[str, ...]]
    windows: dict[int, tuple[float, float]]
    irregular: dict[Parts, tuple[int, ...]]

    def require(self, *, every: bool = True) -> Instance:
        """This instance, when it has no problem; else ``InstanceError`` with the first one, in
        one line. With ``every`` false only the fatal ones count (validation reports the
        others, with the rest of its findings)."""
        for problem in self.problems:
            if every or problem.fatal:
                raise InstanceError(str(problem))
        return self

    def to_dict(self) -> dict[str, Any]:
        """The document as read."""
        return self.document

    @property
    def objective(self) -> str:
        """The objective the instance chooses, read as the solver reads its name."""
        return objective_from_name(self.options.objective)

    @property
    def agent_types(self) -> tuple[str, ...]:
        """The agents' type names, in order of first appearance."""
        return tuple(dict.fromkeys(a.type for a in self.agents if a.type is not None))

    @property
    def dimensions(self) -> int:
        """The number of load dimensions: the longest amount or capacity of the document (0:
        none has any)."""
        longest = 0
        for node in self.nodes:
            longest = max(longest, len(node.delivery or ()), len(node.pickup or ()))
        for agent in self.agents:
            longest = max(longest, len(agent.capacities))
        for item in self.shipment_items():
            longest = max(longest, len(item.amount or ()))
        return longest

    def shipment_items(self) -> Iterator[ShipmentItem]:
        """Every shipment, in document order."""
        for constraint in self.constraints:
            yield from constraint.shipments

    def pairs(self) -> Iterator[PrecedencePair]:
        """Every pair of the sequence constraints, in document order."""
        for constraint in self.constraints:
            yield from constraint.pairs

    def window_items(self) -> Iterator[WindowItem]:
        """Every time-window entry, in document order."""
        for constraint in self.constraints:
            if constraint.kind == "timewindow":
                for item in constraint.items:
                    assert isinstance(item, WindowItem)
                    yield item


def read_instance(document: Any) -> Instance:
    """Read an instance document (a dict) once; see the module's description."""
    return _Reader().instance(document)


def as_instance(source: Any) -> Instance:
    """An instance already read as it is, or a document read now."""
    return source if isinstance(source, Instance) else read_instance(source)


# ---------------------------------------------------------------------------------------------
# The reader

_MISSING: Any = object()
_NUMBERS = (int, float)
_STRINGS = {str}


def _plain_assignment(item: dict[str, Any], path: Parts) -> AssignmentItem | None:
    """An assignment entry whose keys read plainly; None for any other."""
    node, names = item.get("node"), item.get("types")
    if (type(node) is int and 0 <= node < ID_END and type(names) is list
            and set(map(type, names)) <= _STRINGS):
        return AssignmentItem(path, node, tuple(names))
    return None


def _plain_window(item: dict[str, Any], path: Parts) -> WindowItem | None:
    """A time-window entry whose keys read plainly; None for any other."""
    node, start, end = item.get("node"), item.get("start"), item.get("end")
    if type(node) is int and 0 <= node < ID_END and type(start) in _NUMBERS and type(
            end) in _NUMBERS:
        return WindowItem(path, node, start, end)
    return None


def _plain_node(index: int, node: dict[str, Any]) -> NodeRecord | None:
    """A node whose every key reads plainly (the common case, read without a check per key);
    None for any other."""
    node_id, x, y = node.get("id", _MISSING), node.get("x"), node.get("y")
    if not (type(node_id) is int and 0 <= node_id < ID_END and type(x) in _NUMBERS
            and type(y) in _NUMBERS):
        return None
    z = node.get("z", 0.0)
    demand = node.get("demand", 0.0)
    kind = node.get("type", _MISSING)
    name = node.get("name", _MISSING)
    if not (type(z) in _NUMBERS and type(demand) in _NUMBERS and demand >= 0
            and (kind is _MISSING or type(kind) is str)
            and (name is _MISSING or (type(name) is str and name))
            and "delivery" not in node and "pickup" not in node and "service" not in node):
        return None
    return NodeRecord(index, node_id, None if name is _MISSING else name, x, y, z,
                      None if kind is _MISSING else kind, (demand,) if demand else ())


class _Reader:
    """Reads one document, keeping a problem for each place it cannot read."""

    def __init__(self) -> None:
        self.problems: list[Problem] = []
        self.fatal = True
        self.irregular: dict[Parts, list[int]] = {}

    def fail(self, path: Parts, message: str, fatal: bool | None = None) -> None:
        self.problems.append(Problem(path, message, self.fatal if fatal is None else fatal))

    @contextlib.contextmanager
    def lenient(self) -> Iterator[None]:
        """Reading values a model does without: their problems are not fatal."""
        saved, self.fatal = self.fatal, False
        try:
            yield
        finally:
            self.fatal = saved

    # -- values --------------------------------------------------------------------------------

    def section(self, parent: dict[str, Any], key: str, path: Parts, kind: type,
                required: bool = False) -> Any:
        """A section (an array or an object); absent or null reads as empty, unless required
        (then its absence is a problem, not a fatal one: the section reads as empty)."""
        if key not in parent and required:
            self.fail(path, f"missing required key {key!r}", fatal=False)
            return kind()
        value = parent.get(key)
        if value is None and not required:
            return kind()
        if not isinstance(value, kind):
            self.fail((*path, key), "expected an array" if kind is list else "expected an object")
            return kind()
        return value

    def objects(self, items: list[Any], path: Parts) -> Iterator[tuple[int, dict[str, Any]]]:
        """The objects of an array with their indexes; any other element is a problem."""
        for i, item in enumerate(items):
            if isinstance(item, dict):
                yield i, item
            else:
                self.fail((*path, i), "expected an object")

    def required(self, item: dict[str, Any], key: str, path: Parts) -> Any:
        if key in item:
            return item[key]
        guess = suggestion(key, stray_keys(item))
        hint = f" ({guess!r} is there: misspelled?)" if guess is not None else ""
        self.fail(path, f"missing required key {key!r}{hint}")
        return _MISSING

    def id(self, value: Any, path: Parts, end: int = ID_END) -> int | None:
        """A whole number from 0 to ``end`` - 1 (3.0 reads as 3)."""
        if type(value) is int and 0 <= value < end:
            return value
        if value is _MISSING:
            return None
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < end:
            top = "2^64 - 1" if end == ID_END else f"2^{end.bit_length() - 1} - 1"
            self.fail(path, f"expected a whole number from 0 to {top}, got {show(value)}")
            return None
        return value

    def number(self, value: Any, path: Parts) -> float | None:
        if type(value) is float or type(value) is int:
            return value
        if value is _MISSING:
            return None
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            self.fail(path, f"expected a number, got {a_json_type(value)}")
            return None
        return value

    def optional_number(self, item: dict[str, Any], key: str, path: Parts,
                        default: float | None) -> float | None:
        return self.number(item[key], (*path, key)) if key in item else default

    def number_or_flag(self, item: dict[str, Any], key: str, path: Parts
                       ) -> float | bool | None:
        """A route limit or a capacity: a number, or a boolean (None: absent)."""
        if key not in item:
            return None
        value = item[key]
        if isinstance(value, bool):
            return value
        return self.number(value, (*path, key))

    def amount(self, value: Any, path: Parts) -> Amount | None:
        """An amount: a number, or an array of 1 to MAX_DIMENSIONS numbers (absent: empty).
        Its range (0 or more) is validation's."""
        if value is _MISSING:
            return ()
        if isinstance(value, list):
            if not 1 <= len(value) <= MAX_DIMENSIONS:
                self.fail(path, f"expected 1 to {MAX_DIMENSIONS} numbers (one per dimension of "
                                f"the load), got {len(value)}")
                return None
            numbers = [self.number(v, (*path, i)) for i, v in enumerate(value)]
            if any(n is None for n in numbers):
                return None
            return tuple(numbers)  # type: ignore[arg-type]
        number = self.number(value, path)
        if number is None:
            return None
        return (number,) if number else ()

    def string(self, value: Any, path: Parts, nonempty: bool = False) -> str | None:
        if value is _MISSING:
            return None
        if not isinstance(value, str):
            self.fail(path, f"expected a string, got {a_json_type(value)}")
            return None
        if nonempty and not value:
            self.fail(path, "must not be empty")
            return None
        return value

    def flag(self, value: Any, path: Parts) -> bool | None:
        if not isinstance(value, bool):
            self.fail(path, f"expected true or false, got {a_json_type(value)}")
            return None
        return value

    def kind(self, node: dict[str, Any], path: Parts) -> str | None:
        """A node's "type" (a model reads any other than "DEPOT" as a target)."""
        if "type" not in node:
            return None
        with self.lenient():
            return self.string(node["type"], (*path, "type"))

    def name(self, item: dict[str, Any], path: Parts) -> str | None:
        if "name" not in item:
            return None
        with self.lenient():
            return self.string(item["name"], (*path, "name"), True)

    # -- sections ------------------------------------------------------------------------------

    def instance(self, document: Any) -> Instance:
        if not isinstance(document, dict):
            self.fail((), f"expected an object, got {a_json_type(document)}")
            return Instance(document, None, 0, (), (), {}, (), OptionsRecord(),
                            tuple(self.problems), {}, {}, {}, {})
        name = document.get("name")
        if name is not None:
            with self.lenient():
                name = self.string(name, ("name",))
        nodes_section = self.section(document, "nodes", (), list, required=True)
        nodes = tuple(self.nodes(nodes_section))
        vertex: dict[int, int] = {}
        for node in nodes:
            if node.id is not None:
                vertex.setdefault(node.id, node.index)
        agents = tuple(self.agents(self.section(document, "agents", (), list, required=True),
                                   vertex))
        costs = self.costs(self.section(document, "costs", (), dict))
        constraints = tuple(self.constraints(self.section(document, "constraints", (), list)))
        options = self.options(self.section(document, "options", (), dict))
        allowed: dict[int, tuple[str, ...]] = {}
        windows: dict[int, tuple[float, float]] = {}
        for constraint in constraints:
            for item in constraint.items:
                if item.node is None:
                    continue
                if isinstance(item, AssignmentItem):
                    if item.types is not None:
                        allowed[item.node] = item.types
                elif item.start is not None and item.end is not None:
                    windows[item.node] = (item.start, item.end)
        irregular = {path: tuple(indexes) for path, indexes in self.irregular.items()}
        return Instance(document, name, len(nodes_section), nodes, agents, costs, constraints,
                        options, tuple(self.problems), vertex, allowed, windows, irregular)

    def nodes(self, section: list[Any]) -> Iterator[NodeRecord]:
        number = self.number
        irregular = self.irregular[("nodes",)] = []
        for i, node in enumerate(section):
            plain = _plain_node(i, node) if type(node) is dict else None
            if plain is not None:
                yield plain
                continue
            irregular.append(i)
            path = ("nodes", i)
            if not isinstance(node, dict):
                self.fail(path, "expected an object")
                continue
            key = "delivery" if "delivery" in node else "demand"
            if "delivery" in node and "demand" in node:
                self.fail((*path, "delivery"), "a node gives its delivery as \"demand\" or as "
                          "\"delivery\", not both", fatal=False)
            yield NodeRecord(
                i,
                self.id(self.required(node, "id", path), (*path, "id")),
                self.name(node, path),
                number(self.required(node, "x", path), (*path, "x")),
                number(self.required(node, "y", path), (*path, "y")),
                self.optional_number(node, "z", path, 0.0),
                self.kind(node, path),
                self.amount(node.get(key, _MISSING), (*path, key)),
                self.amount(node.get("pickup", _MISSING), (*path, "pickup")),
                self.optional_number(node, "service", path, 0.0),
                key,
            )

    def agents(self, section: list[Any], vertex: dict[int, int]) -> Iterator[AgentRecord]:
        for k, agent in self.objects(section, ("agents",)):
            path = ("agents", k)
            agent_id = self.id(self.required(agent, "id", path), (*path, "id"))
            name = self.name(agent, path)
            kind = self.string(self.required(agent, "type", path), (*path, "type"), True)
            ends: list[int | None] = []
            vertices: list[int | None] = []
            for key in ("start_node", "end_node"):
                node_id = self.id(self.required(agent, key, path), (*path, key))
                ends.append(node_id)
                vertices.append(vertex.get(node_id) if node_id is not None else None)
                if node_id is not None and vertices[-1] is None:
                    self.fail((*path, key), f"no node has id {node_id}")
            yield AgentRecord(k, agent_id, name, kind, ends[0], ends[1], vertices[0],
                              vertices[1], self.number_or_flag(agent, "max_length", path),
                              self.capacity(agent, path))

    def capacity(self, agent: dict[str, Any], path: Parts) -> Amount | bool | None:
        """A capacity: an amount, or a boolean (which validation refuses); None when absent."""
        if "capacity" not in agent:
            return None
        value = agent["capacity"]
        if isinstance(value, bool):
            return value
        amount = self.amount(value, (*path, "capacity"))
        return None if amount is None else amount

    def costs(self, section: dict[str, Any]) -> dict[str, list[Any] | None]:
        costs: dict[str, list[Any] | None] = {}
        for kind, matrix in section.items():
            if not isinstance(matrix, list):
                self.fail(("costs", kind), "expected an array")
                costs[kind] = None
                continue
            for i, row in enumerate(matrix):
                if type(row) is not list:
                    self.fail(("costs", kind, i), "expected an array")
            costs[kind] = matrix
        return costs

    def constraints(self, section: list[Any]) -> Iterator[ConstraintRecord]:
        for c, constraint in self.objects(section, ("constraints",)):
            path = ("constraints", c)
            with self.lenient():  # a model skips a constraint of no kind it knows
                kind = self.string(self.required(constraint, "kind", path), (*path, "kind"))
                problem = None if kind is None else kind_problem(kind)
                if problem is not None:
                    self.fail((*path, "kind"), problem)
            if kind is None or problem is not None:
                yield ConstraintRecord(c, kind)
            elif kind == "sequence":
                pairs = self.section(constraint, "precedence", path, list, required=True)
                records = tuple(self.pair(pair, (*path, "precedence", i))
                                for i, pair in self.objects(pairs, (*path, "precedence")))
                yield ConstraintRecord(c, kind, pairs=records)
            elif kind == "shipment":
                items = self.section(constraint, "items", path, list, required=True)
                shipments = tuple(self.shipment(item, (*path, "items", i))
                                  for i, item in self.objects(items, (*path, "items")))
                yield ConstraintRecord(c, kind, shipments=shipments)
            else:
                items = self.section(constraint, "items", path, list, required=True)
                yield ConstraintRecord(c, kind, self.items(kind, items, (*path, "items"))
                                       if items is constraint.get("items") else ())

    def items(self, kind: str, items: list[Any], path: Parts
              ) -> tuple[AssignmentItem | WindowItem, ...]:
        """The entries of an assignment or a time-window constraint."""
        plain_item, read = ((_plain_assignment, self.assignment) if kind == "assignment"
                            else (_plain_window, self.window))
        irregular = self.irregular[path] = []
        records: list[AssignmentItem | WindowItem] = []
        for i, item in enumerate(items):
            record = plain_item(item, (*path, i)) if type(item) is dict else None
            if record is None:
                irregular.append(i)
                if not isinstance(item, dict):
                    self.fail((*path, i), "expected an object")
                    continue
                record = read(item, (*path, i))
            records.append(record)
        return tuple(records)

    def assignment(self, item: dict[str, Any], path: Parts) -> AssignmentItem:
        node = self.id(self.required(item, "node", path), (*path, "node"))
        names = self.required(item, "types", path)
        types: tuple[str, ...] | None = None
        if type(names) is list and all(type(name) is str for name in names):
            types = tuple(names)
        elif names is not _MISSING:
            if not isinstance(names, list):
                self.fail((*path, "types"), f"expected an array, got {a_json_type(names)}")
            else:
                with self.lenient():  # the list is left out
                    for t, name in enumerate(names):
                        self.string(name, (*path, "types", t))
        return AssignmentItem(path, node, types)

    def window(self, item: dict[str, Any], path: Parts) -> WindowItem:
        return WindowItem(path, self.id(self.required(item, "node", path), (*path, "node")),
                          self.number(self.required(item, "start", path), (*path, "start")),
                          self.number(self.required(item, "end", path), (*path, "end")))

    def pair(self, pair: dict[str, Any], path: Parts) -> PrecedencePair:
        return PrecedencePair(
            path, self.id(self.required(pair, "before", path), (*path, "before")),
            self.id(self.required(pair, "after", path), (*path, "after")),
            self.string(pair["type"], (*path, "type")) if "type" in pair else None)

    def shipment(self, item: dict[str, Any], path: Parts) -> ShipmentItem:
        return ShipmentItem(
            path, self.id(self.required(item, "pickup", path), (*path, "pickup")),
            self.id(self.required(item, "delivery", path), (*path, "delivery")),
            self.amount(item.get("amount", _MISSING), (*path, "amount")))

    def options(self, section: dict[str, Any]) -> OptionsRecord:
        path = ("options",)
        objective = None
        if "objective" in section:
            objective = self.string(section["objective"], (*path, "objective"))
            problem = None if objective is None else objective_problem(objective)
            if problem is not None:
                self.fail((*path, "objective"), problem, fatal=False)
        return_to_end = True
        if "return_to_end" in section:
            flag = self.flag(section["return_to_end"], (*path, "return_to_end"))
            return_to_end = True if flag is None else flag
        time_limit = self.optional_number(section, "time_limit", path, None)
        if time_limit is not None:
            problem = time_limit_problem(time_limit)
            if problem is not None:
                self.fail((*path, "time_limit"), problem, fatal=False)
        with self.lenient():  # the settings of the improvement: a model keeps none
            improve = (self.flag(section["improve"], (*path, "improve")) if "improve" in section
                       else None)
            seed = (self.id(section["seed"], (*path, "seed"), SEED_END) if "seed" in section
                    else None)
            iterations = (self.id(section["improve_iterations"], (*path, "improve_iterations"),
                                  ITERATIONS_END) if "improve_iterations" in section else None)
        enforce = None
        if "enforce_constraints" in section:
            enforce = self.flag(section["enforce_constraints"], (*path, "enforce_constraints"))
        return OptionsRecord(objective, return_to_end, time_limit, improve, seed, iterations,
                             enforce)
