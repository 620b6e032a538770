"""Validation of instance documents: every problem at once, each with its JSON path.

Shapes and types come from the JSON Schema shipped with the package
(``orvik/schemas/instance.schema.json``), checked with the ``jsonschema`` library (a large
document is first checked by the schema compiled with ``fastjsonschema``, and described by
``jsonschema`` only when it does not conform); so are the keys the format knows (see
``orvik.schema``). What a schema
cannot say is checked here: ids that repeat or point nowhere, agent types without costs and cost
types without agents, matrices of the wrong size, costs that are negative, NaN or infinite,
windows that close before they open, misspelled objectives and constraint kinds, and loads and
orders no route set satisfies (``orvik.loads``). Warnings
(things the solver ignores or reads in a way the author may not expect) are kept apart from
errors: only errors stop a solve.
"""

from __future__ import annotations

import json
import math
import os
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
from functools import cache
from typing import Any

import fastjsonschema
import jsonschema

from orvik.documents import did_you_mean, is_finite_number, is_number, json_type, read_json, show
from orvik.documents import suggestion as suggestion
from orvik.instance import (
    MAX_DIMENSIONS,
    AssignmentItem,
    Instance,
    Parts,
    WindowItem,
    kind_problem,
    objective_problem,
    read_instance,
    time_limit_problem,
)
from orvik.instance import json_path as json_path
from orvik.loads import load_problems
from orvik.rules import (
    DEFAULT_TIME_LIMIT,
    INT32_MAX,
    INT32_MIN,
    NO_CONNECTION,
    SEARCH_POINT_LIMIT,
)
from orvik.schema import instance_schema as instance_schema
from orvik.schema import stray_keys, unknown_keys
from orvik.settings import check_flag
from orvik.units import number, same_routes_reason, unit_scale

ERROR = "error"
WARNING = "warning"
# What the author may like to know, about a reading that is the documented normal case.
NOTE = "note"
NODE_TYPES = ("DEPOT", "TARGET")
# At most this many findings of one kind in one place; the rest are counted in one more finding.
_MOST_PER_PLACE = 10


@dataclass(frozen=True)
class Finding:
    """One problem of a document: where it is (a JSON path), what it is, and how bad."""

    path: str
    message: str
    severity: str = ERROR

    def __str__(self) -> str:
        return f"{self.severity}: {self.path}: {self.message}"


class Findings(list[Finding]):
    """The findings of a validation, in document order; ``errors`` and ``warnings`` split them."""

    @property
    def errors(self) -> list[Finding]:
        """The findings that stop a solve."""
        return [f for f in self if f.severity == ERROR]

    @property
    def warnings(self) -> list[Finding]:
        """The findings that do not stop a solve."""
        return [f for f in self if f.severity == WARNING]

    @property
    def notes(self) -> list[Finding]:
        """The findings that only inform (neither errors nor warnings)."""
        return [f for f in self if f.severity == NOTE]

    @property
    def ok(self) -> bool:
        """Whether there are no errors (warnings may remain)."""
        return not self.errors


class ValidationError(ValueError):
    """An instance with errors; ``findings`` holds all of them (and the warnings)."""

    def __init__(self, findings: Iterable[Finding]) -> None:
        self.findings = Findings(findings)
        errors = self.findings.errors
        lines = [f"the instance has {len(errors)} error(s):"]
        lines += [f"  {finding.path}: {finding.message}" for finding in errors]
        super().__init__("\n".join(lines))


def validate(document: Any, *, complete: bool = True) -> Findings:
    """Validate an instance (a dict, the path of a JSON file, or an instance already read by
    ``orvik.instance.read_instance``) and return every finding.

    A path that cannot be read or parsed raises ``orvik.documents.InstanceError``; everything
    about the document itself comes back as findings: errors, warnings and notes. With
    ``complete`` false an instance without nodes, agents or a site to visit is no error (a
    document read to be completed, as ``Model.from_json`` reads one).
    """
    check_flag("complete", complete)
    if isinstance(document, (str, os.PathLike)):
        document = read_json(document)
    instance = document if isinstance(document, Instance) else None
    if instance is not None:
        document = instance.document
    if isinstance(document, dict) and instance is None:
        instance = read_instance(document)
    findings = Findings(_schema_findings(document, instance))
    findings += _unknown_key_findings(document)
    if instance is not None and isinstance(document, dict):
        _CrossCheck(instance, findings, complete).run()
    return findings


# ---------------------------------------------------------------------------------------------
# Shapes: the schema


# From this many elements on, the schema check runs the compiled validator first: compiling it
# once takes longer than jsonschema takes on a few elements.
_COMPILED_FROM = 200


@cache
def _validator() -> jsonschema.protocols.Validator:
    return jsonschema.Draft202012Validator(instance_schema())


@cache
def _compiled_validator() -> Callable[[Any], Any]:
    """The schema compiled to Python once (``fastjsonschema``): it only says whether a document
    conforms, quickly; ``jsonschema`` then describes the problems of one that does not."""
    return fastjsonschema.compile(instance_schema())


def _conforms(document: dict[str, Any]) -> bool:
    """Whether a document conforms to the schema, by the compiled validator."""
    try:
        _compiled_validator()(document)
    except (fastjsonschema.JsonSchemaException, RecursionError, TypeError, ValueError):
        return False  # jsonschema says what is wrong
    return True


def _elements(document: dict[str, Any]) -> int:
    """About how many elements the schema checks in a document (the arrays' lengths)."""
    count = 0
    for key in ("nodes", "agents", "constraints"):
        section = document.get(key)
        count += len(section) if type(section) is list else 0
    constraints = document.get("constraints")
    for constraint in constraints if type(constraints) is list else ():
        items = constraint.get("items") if type(constraint) is dict else None
        count += len(items) if type(items) is list else 0
    return count


def _schema_findings(document: Any, instance: Instance | None) -> Iterator[Finding]:
    """The schema's findings. The schema is checked on the document without the elements the
    reader found plain (nodes and constraint items, which grow with the instance; see
    ``Instance.irregular``) and without the matrix rows, which ``_CrossCheck.check_matrix``
    checks; paths name the original places."""
    reduced, places = _for_schema(document, {} if instance is None else instance.irregular)
    if (type(reduced) is dict and _elements(reduced) >= _COMPILED_FROM
            and _conforms(reduced)):
        return
    errors = []
    for error in _validator().iter_errors(reduced):
        parts = list(error.absolute_path)
        for prefix, kept in places.items():
            n = len(prefix)
            if tuple(parts[:n]) == prefix and len(parts) > n:
                parts[n] = kept[parts[n]]
        errors.append((parts, error))
    errors.sort(key=lambda pair: _sort_key(pair[0]))
    for parts, error in errors:
        yield Finding(json_path(*parts), _schema_message(error, parts))


def _for_schema(document: Any, irregular: dict[Parts, tuple[int, ...]]
                ) -> tuple[Any, dict[Parts, tuple[int, ...]]]:
    """The document the schema checks, and for each shortened array the original indexes of
    the elements kept (those that are not plain)."""
    if not isinstance(document, dict):
        return document, {}
    reduced = dict(document)
    places: dict[Parts, tuple[int, ...]] = {}
    nodes = document.get("nodes")
    kept = irregular.get(("nodes",))
    if type(nodes) is list and kept is not None:
        reduced["nodes"] = [nodes[i] for i in kept]
        places[("nodes",)] = kept
    costs = document.get("costs")
    if type(costs) is dict:
        reduced["costs"] = {kind: [] if type(m) is list else m for kind, m in costs.items()}
    constraints = document.get("constraints")
    if type(constraints) is list:
        shortened = []
        for c, constraint in enumerate(constraints):
            kept = irregular.get(("constraints", c, "items"))
            items = constraint.get("items") if type(constraint) is dict else None
            if kept is None or type(items) is not list:
                shortened.append(constraint)
                continue
            shortened.append({**constraint, "items": [items[i] for i in kept]})
            places[("constraints", c, "items")] = kept
        reduced["constraints"] = shortened
    return reduced, places


def _unknown_key_findings(document: Any) -> list[Finding]:
    """A warning for each unknown key, with the known key it most likely misspells; a key
    unknown in many elements of one array is one warning at its first place."""
    first: dict[tuple[Any, ...], tuple[Parts, str, frozenset[str]]] = {}
    counts: dict[tuple[Any, ...], int] = {}
    for unknown in unknown_keys(document):
        group = (*(None if type(p) is int else p for p in unknown.parent), unknown.key)
        if group not in first:
            first[group] = (unknown.path, unknown.key, unknown.known)
        counts[group] = counts.get(group, 0) + 1
    findings = []
    for group, (path, key, known) in first.items():
        message = f"unknown key {key!r} is ignored" + did_you_mean(key, known)
        if counts[group] > 1:
            section = next((p for p in reversed(path[:-1]) if type(p) is str), "elements")
            message += f" ({counts[group]} of the {section} have it)"
        findings.append(Finding(json_path(*path), message, WARNING))
    return findings


def _sort_key(path: Iterable[str | int]) -> tuple[tuple[int, str | int], ...]:
    return tuple((0, p) if isinstance(p, int) else (1, p) for p in path)


def _schema_message(error: jsonschema.ValidationError, parts: list[str | int]) -> str:
    kind = error.validator
    value = error.instance
    if kind == "required":
        key = error.message.removesuffix(" is a required property")
        hint = ""
        if isinstance(value, dict):
            guess = suggestion(key.strip("'\""), stray_keys(value))
            hint = f" ({guess!r} is there: misspelled?)" if guess is not None else ""
        return f"missing required key {key}{hint}"
    if kind == "type":
        expected = error.validator_value
        return _type_message(expected if isinstance(expected, list) else [expected], value)
    if kind == "minimum":
        if error.validator_value == 0 and _is_amount(parts):
            return f"a negative amount, {show(value)}: amounts and capacities are 0 or more"
        if parts and parts[-1] == "service":
            return f"a negative service duration, {show(value)}"
        return f"{show(value)} is below the smallest allowed value, {error.validator_value}"
    if kind == "maximum":
        return f"{show(value)} is above the largest allowed value, {error.validator_value}"
    if kind == "minLength":
        return "must not be empty"
    if kind in ("minItems", "maxItems") and _is_amount(parts):
        return (f"an amount has 1 to {MAX_DIMENSIONS} numbers, one per dimension of the load; "
                f"got {len(value)}")
    if kind == "enum":
        choices = error.validator_value
        return (f"{show(value)} is not one of {', '.join(json.dumps(c) for c in choices)}"
                + (did_you_mean(value, choices) if isinstance(value, str) else ""))
    return error.message


_AMOUNT_KEYS = ("demand", "delivery", "pickup", "capacity", "amount")


def _is_amount(parts: list[str | int]) -> bool:
    """Whether a place holds an amount (or is one of its numbers)."""
    return any(part in _AMOUNT_KEYS for part in parts[-2:])


def _type_message(expected: list[str], value: Any) -> str:
    names = " or ".join(expected)
    if names == "integer" and is_number(value):
        return f"expected a whole number, got {show(value)}"
    got = json_type(value)
    shown = "" if isinstance(value, (dict, list)) or value is None else f" {show(value)}"
    return f"expected {_article(names)} {names}, got {_article(got)} {got}{shown}"


def _article(noun: str) -> str:
    return "an" if noun[:1] in "aeiou" else "a"


# ---------------------------------------------------------------------------------------------
# What the schema cannot say


class _CrossCheck:
    """The cross-reference checks of one instance, appending to one list of findings. It
    reads the instance's records; what they leave out (a value of the wrong type) the schema
    reports."""

    def __init__(self, instance: Instance, out: Findings, complete: bool = True) -> None:
        self.instance = instance
        self.out = out
        self.complete = complete
        # What decides whether solving changes units, and so which limits need a closer look.
        self.reaches_no_connection = False
        self.fractional_limit = False
        self.agent_types: dict[str, int] = {}
        self.endpoints: set[int] = set()

    def error(self, path: str, message: str) -> None:
        self.out.append(Finding(path, message, ERROR))

    def warn(self, path: str, message: str) -> None:
        self.out.append(Finding(path, message, WARNING))

    def note(self, path: str, message: str) -> None:
        self.out.append(Finding(path, message, NOTE))

    def run(self) -> None:
        self.check_nodes()
        self.check_agents()
        self.check_services()
        self.check_costs()
        self.check_constraints()
        self.check_options()
        for problem in load_problems(self.instance):
            self.error(json_path(*problem.path), problem.message)
        if self.complete:
            self.check_empty()
        if not self.out.errors and (self.fractional_limit or self.reaches_no_connection):
            self.check_applied_limits()

    # -- nodes and agents ----------------------------------------------------------------------

    def unique(self, section: str, index: int, key: str, value: int | str | None,
               seen: dict[Any, int]) -> None:
        """Record the id or name of an element; an error when an earlier one has it."""
        if value is None:
            return
        if value in seen:
            self.error(json_path(section, index, key),
                       f"{section[:-1]} {key} {value!r} repeats that of "
                       f"{json_path(section, seen[value])}")
        else:
            seen[value] = index

    def check_node_count(self) -> None:
        """The search alone handles at most SEARCH_POINT_LIMIT nodes; the improvement (on by
        default in this package, off by default in the raw module) solves larger instances."""
        count = self.instance.node_count
        if count <= SEARCH_POINT_LIMIT:
            return
        improve = self.instance.options.improve
        if improve is False:
            self.error("$.nodes", f"the search alone handles at most {SEARCH_POINT_LIMIT} nodes; "
                       f"there are {count} (improvement solves larger instances)")
        elif improve is None:
            self.warn("$.nodes", f"{count} nodes: more than the search alone handles "
                      f"({SEARCH_POINT_LIMIT}); only a solve with improvement (the default of "
                      "orvik, \"improve\": true in the raw module) takes it")

    def check_nodes(self) -> None:
        self.check_node_count()
        ids: dict[int, int] = {}
        names: dict[str, int] = {}
        finite = _all_finite([value for node in self.instance.nodes
                              for value in (node.x, node.y, node.z, node.service,
                                            *(node.delivery or ()), *(node.pickup or ()))
                              if value is not None])
        for node in self.instance.nodes:
            i = node.index
            self.unique("nodes", i, "id", node.id, ids)
            self.unique("nodes", i, "name", node.name, names)
            kind = node.kind
            if kind is not None and kind not in NODE_TYPES:
                hint = " (write \"DEPOT\" for a depot)" if kind.upper() == "DEPOT" else ""
                self.warn(json_path("nodes", i, "type"),
                          f"{kind!r} is read as a target{hint}")
            if node.delivery_key == "delivery" and "demand" in self.instance.document[
                    "nodes"][i]:
                self.error(json_path("nodes", i, "delivery"),
                           "a node gives its delivery as \"demand\" or as \"delivery\", not "
                           "both")
            if finite:
                continue
            for axis, value in (("x", node.x), ("y", node.y), ("z", node.z),
                                ("service", node.service)):
                if value is not None and not is_finite_number(value):
                    what = "service duration" if axis == "service" else "coordinate"
                    self.error(json_path("nodes", i, axis), f"{what} {show(value)}")
            for key, amount in ((node.delivery_key, node.delivery), ("pickup", node.pickup)):
                self.check_amount(json_path("nodes", i, key), amount)

    def check_amount(self, path: str, amount: tuple[float, ...] | None) -> None:
        """An amount's numbers are finite (their range the schema checks)."""
        if amount and not all(is_finite_number(value) for value in amount):
            self.error(path, f"amount {show(list(amount) if len(amount) > 1 else amount[0])}")

    def check_services(self) -> None:
        """A service duration where routes only end is never spent (a route ends on arriving
        at its end node; at a start node, service is spent before leaving)."""
        starts = {a.start_node for a in self.instance.agents}
        for node in self.instance.nodes:
            if node.service and node.id in self.endpoints and node.id not in starts:
                self.warn(json_path("nodes", node.index, "service"),
                          "a service duration at a node where routes only end is never spent: "
                          "a route ends on arriving there")

    def check_agents(self) -> None:
        ids: dict[int, int] = {}
        names: dict[str, int] = {}
        vertex = self.instance.vertex
        for agent in self.instance.agents:
            k = agent.index
            self.unique("agents", k, "id", agent.id, ids)
            self.unique("agents", k, "name", agent.name, names)
            if agent.type is not None:
                self.agent_types.setdefault(agent.type, k)
            for key, node_id in (("start_node", agent.start_node), ("end_node", agent.end_node)):
                if node_id is None:
                    continue
                if node_id not in vertex:
                    self.error(json_path("agents", k, key), f"no node has id {node_id}")
                else:
                    self.endpoints.add(node_id)
            self.check_limit(k, agent.max_length)
            self.check_capacity(k, agent.capacity)

    def check_limit(self, k: int, limit: float | bool | None) -> None:
        path = json_path("agents", k, "max_length")
        if isinstance(limit, bool):
            self.error(path, f"a route limit is a number, not {json.dumps(limit)} (which the "
                             "raw module reads as 1 or 0)")
            return
        if limit is None:
            return
        if not is_finite_number(limit):
            self.error(path, f"route limit {show(limit)}")
        elif not INT32_MIN <= limit <= INT32_MAX:
            self.error(path, f"route limit {show(limit)} is outside the range the solver "
                             "reads, -2^31 to 2^31 - 1")
            return
        elif limit < 0:
            self.warn(path, f"a negative limit ({show(limit)}) means no limit")
        elif limit != int(limit):
            self.fractional_limit = True
        if is_finite_number(limit) and limit >= NO_CONNECTION:
            self.reaches_no_connection = True
            self.warn(path, f"route limit {show(limit)} reaches {NO_CONNECTION:g}; solving "
                            "scales costs, windows and limits to smaller units")

    def check_capacity(self, k: int, capacity: tuple[float, ...] | bool | None) -> None:
        path = json_path("agents", k, "capacity")
        if isinstance(capacity, bool):
            self.error(path, f"a capacity is a number, not {json.dumps(capacity)} (which the "
                             "raw module reads as 1 or 0)")
            return
        if not capacity:
            return
        for d, value in enumerate(capacity):
            where = path if len(capacity) == 1 else f"{path}[{d}]"
            if not is_finite_number(value):
                self.error(where, f"capacity {show(value)}")
            elif not INT32_MIN <= value <= INT32_MAX:
                self.error(where, f"capacity {show(value)} is outside the range the solver "
                                  "reads, -2^31 to 2^31 - 1")

    def check_applied_limits(self) -> None:
        """How solving applies the route limits: a limit the solver receives as another number
        is said (and whether it allows the same routes); one it cannot apply is an error."""
        scale = unit_scale(self.instance)
        for change in scale.changes:
            path = json_path("agents", change.agent, "max_length")
            written, applied = number(change.written), number(change.applied)
            if not change.applied:
                self.error(path, (
                    f"route limit {written} cannot be applied: the solver reads limits as whole "
                    f"numbers of its unit, which is {number(scale.factor)} here (the largest "
                    f"cost, window bound or limit is {number(scale.largest)}); the raw module "
                    "would read no limit at all"))
            elif change.same_routes:
                self.warn(path, (
                    f"{written} limits the route cost to {applied} in the solver's units, which "
                    f"allows the same routes: {same_routes_reason(change.grain)} (the raw "
                    f"module reads the limit as {int(change.written)})"))
            else:
                self.warn(path, (
                    f"{written} limits the route cost to {applied}: the solver reads limits as "
                    f"whole numbers of its unit, {number(scale.factor)} here, so routes that "
                    f"cost between {applied} and {written} are not found"))

    # -- costs ---------------------------------------------------------------------------------

    def check_costs(self) -> None:
        costs = self.instance.costs
        cost_types = list(costs)
        for kind, k in self.agent_types.items():
            if kind not in costs:
                self.error(json_path("agents", k, "type"),
                           f"agent type {kind!r} has no cost matrix in $.costs"
                           + did_you_mean(kind, cost_types))
        for kind, matrix in costs.items():
            if kind not in self.agent_types:
                self.error(json_path("costs", kind),
                           f"no agent has type {kind!r}" + did_you_mean(kind, self.agent_types))
            if matrix is not None:
                self.check_matrix(kind, matrix)

    def check_matrix(self, kind: str, matrix: list[Any]) -> None:
        n = self.instance.node_count
        if len(matrix) != n:
            how = "short" if len(matrix) < n else "long"
            self.error(json_path("costs", kind),
                       f"the matrix is {how}: {len(matrix)} rows for {n} nodes")
        bad_rows = []
        bad = 0
        large: list[tuple[int, int, float]] = []
        for i, row in enumerate(matrix):
            if type(row) is not list:
                self.error(json_path("costs", kind, i), _type_message(["array"], row))
                continue
            if len(row) != n:
                bad_rows.append((i, row))
            if _plain_row(row):
                continue
            for j, cost in enumerate(row):
                if cost is None:
                    continue
                problem = (_type_message(["number", "null"], cost) if not is_number(cost)
                           else _cost_problem(cost))
                if problem is not None:
                    bad += 1
                    if bad <= _MOST_PER_PLACE:
                        self.error(json_path("costs", kind, i, j), problem)
                elif cost >= NO_CONNECTION:
                    large.append((i, j, cost))
        for i, row in bad_rows[:_MOST_PER_PLACE]:
            how = "short" if len(row) < n else "long"
            self.error(json_path("costs", kind, i),
                       f"row {i} is {how}: {len(row)} entries for {n} nodes")
        if len(bad_rows) > _MOST_PER_PLACE:
            self.error(json_path("costs", kind),
                       f"{len(bad_rows) - _MOST_PER_PLACE} more rows of the wrong length")
        if bad > _MOST_PER_PLACE:
            self.error(json_path("costs", kind), f"{bad - _MOST_PER_PLACE} more bad costs")
        if large:
            self.reaches_no_connection = True
            i, j, cost = large[0]
            more = f" ({len(large)} entries reach it)" if len(large) > 1 else ""
            self.warn(json_path("costs", kind, i, j),
                      f"cost {show(cost)} reaches {NO_CONNECTION:g}, which the solver reads as "
                      f"no connection{more}; solving scales costs, windows and limits to "
                      "smaller units so that it stays a cost (write null for no connection)")

    # -- constraints ---------------------------------------------------------------------------

    def check_constraints(self) -> None:
        assigned: set[int] = set()
        has_assignment = False
        for constraint in self.instance.constraints:
            kind = constraint.kind
            if kind is None:
                continue
            problem = kind_problem(kind)
            if problem is not None:
                self.error(json_path(*constraint.path, "kind"), problem)
            elif kind == "assignment":
                has_assignment = True
                for item in constraint.items:
                    node_id = self.known_node(item.node, item.path)
                    if node_id is not None:
                        assigned.add(node_id)
                    assert isinstance(item, AssignmentItem)
                    self.check_assignment_types(item)
            elif kind == "timewindow":
                finite = _all_finite([bound for item in constraint.items
                                      for bound in (item.start, item.end) if bound is not None])
                for item in constraint.items:
                    self.known_node(item.node, item.path)
                    assert isinstance(item, WindowItem)
                    self.check_window(item, finite)
            else:
                for item in constraint.shipments:
                    self.check_amount(json_path(*item.path, "amount"), item.amount)
        self.check_unassigned(assigned, has_assignment)

    def known_node(self, node_id: int | None, where: Parts) -> int | None:
        if node_id is None:
            return None
        if node_id not in self.instance.vertex:
            self.error(json_path(*where, "node"), f"no node has id {node_id}")
            return None
        return node_id

    def check_assignment_types(self, item: AssignmentItem) -> None:
        names = item.types
        if names is None or not self.agent_types:
            return
        unknown = [n for n in names if n not in self.agent_types]
        for name in unknown:
            self.warn(json_path(*item.path, "types"),
                      f"{name!r} is no agent's type and is ignored"
                      + did_you_mean(name, self.agent_types))
        if len(unknown) == len(names):
            self.warn(json_path(*item.path, "types"),
                      f"no agent may serve node {item.node}: none of its types is an "
                      "agent's type")

    def check_window(self, item: WindowItem, finite: bool) -> None:
        """One window; ``finite``: every bound of its constraint is known to be finite."""
        opens, closes = item.start, item.end
        if not finite:
            for key, value in (("start", opens), ("end", closes)):
                if value is not None and not is_finite_number(value):
                    self.error(json_path(*item.path, key), f"window bound {show(value)}")
        if opens is not None and closes is not None and (
                finite or (is_finite_number(opens) and is_finite_number(closes))):
            if opens > closes:
                self.error(json_path(*item.path),
                           f"the window opens at {show(opens)}, after it closes at "
                           f"{show(closes)}")
            top = max(abs(opens), abs(closes))
            if top >= NO_CONNECTION:
                self.reaches_no_connection = True
                self.warn(json_path(*item.path),
                          f"window bound {show(top)} reaches {NO_CONNECTION:g}; solving scales "
                          "costs, windows and limits to smaller units")

    def check_unassigned(self, assigned: set[int], has_assignment: bool) -> None:
        """A node without an assignment entry is open to every agent type, as documented: when
        some nodes have one and others not, one note says how many have none."""
        if not has_assignment:
            return
        missing = [(node.index, node.id) for node in self.instance.nodes
                   if node.id is not None and node.id not in self.endpoints
                   and node.id not in assigned]
        if not missing:
            return
        i, node_id = missing[0]
        if len(missing) == 1:
            self.note(json_path("nodes"), f"site {node_id} ({json_path('nodes', i)}) has no "
                      "assignment entry, so every agent type may serve it")
            return
        self.note(json_path("nodes"), f"{len(missing)} sites have no assignment entry, so every "
                  f"agent type may serve them (the first is node {node_id}, "
                  f"{json_path('nodes', i)})")

    def check_empty(self) -> None:
        """An instance needs nodes, agents, and a site to visit: a node that is no agent's start
        or end node."""
        document = self.instance.document
        nodes = document.get("nodes")
        agents = document.get("agents")
        if isinstance(nodes, list) and not nodes:
            self.error(json_path("nodes"), "the instance has no nodes: list the depots and the "
                       "sites to visit")
        if isinstance(agents, list) and not agents:
            self.error(json_path("agents"), "the instance has no agents: list at least one to "
                       "visit the sites")
        readable = self.instance.nodes
        if (isinstance(nodes, list) and nodes and self.instance.agents
                and len(readable) == len(nodes)) and all(
                node.id in self.endpoints for node in readable):
            self.error(json_path("nodes"), "no site to visit: every node is an agent's start "
                       "or end node")

    # -- options -------------------------------------------------------------------------------

    def check_options(self) -> None:
        options = self.instance.options
        if options.objective is not None:
            problem = objective_problem(options.objective)
            if problem is not None:
                self.error(json_path("options", "objective"), problem)
        limit = options.written_time_limit
        if limit is None:
            return
        problem = time_limit_problem(limit)
        if problem is not None:
            self.error(json_path("options", "time_limit"), problem)
        elif not limit > 0:
            self.warn(json_path("options", "time_limit"),
                      f"a time limit of {show(limit)} seconds is read as none: orvik solves for "
                      f"{DEFAULT_TIME_LIMIT:g} s (the raw module's search gets no time)")


def _all_finite(numbers: list[float]) -> bool:
    """Whether every number of a list is finite, checked with builtins over the whole list (a
    sum too large for a double says no, and the numbers are then checked one by one)."""
    try:
        return math.isfinite(sum(numbers))
    except OverflowError:
        return False


def _plain_row(row: list[Any]) -> bool:
    """Whether a row holds only numbers from 0 to below 9999 and nulls: nothing to report
    (checked with builtins over the whole row, fast on large matrices)."""
    kinds = set(map(type, row))
    if not kinds <= {float, int, type(None)}:
        return False
    numbers = row if type(None) not in kinds else [c for c in row if c is not None]
    if not numbers:
        return True
    total = sum(numbers)
    return math.isfinite(total) and min(numbers) >= 0 and max(numbers) < NO_CONNECTION


def _cost_problem(cost: float) -> str | None:
    if math.isnan(cost):
        return "the cost is NaN"
    if math.isinf(cost):
        return f"the cost is {'infinite' if cost > 0 else 'minus infinity'}"
    if cost < 0:
        return f"negative cost {show(cost)}"
    return None
