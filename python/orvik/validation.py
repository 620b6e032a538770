"""Validation of instance documents: every problem at once, each with its JSON path.

Shapes and types come from the JSON Schema shipped with the package
(``orvik/schemas/instance.schema.json``), checked with the ``jsonschema`` library. What a schema
cannot say is checked here: ids that repeat or point nowhere, agent types without costs and cost
types without agents, matrices of the wrong size, costs that are negative, NaN or infinite,
windows that close before they open, misspelled objectives and constraint kinds. Warnings
(things the solver ignores or reads in a way the author may not expect) are kept apart from
errors: only errors stop a solve.
"""

from __future__ import annotations

import difflib
import json
import math
import os
import re
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from functools import cache
from importlib import resources
from typing import Any

import jsonschema

from orvik.documents import is_finite_number, is_number, json_type, read_json
from orvik.rules import NO_CONNECTION, OBJECTIVE_NAMES, OBJECTIVES, SEARCH_POINT_LIMIT
from orvik.units import number, same_routes_reason, unit_scale

ERROR = "error"
WARNING = "warning"
CONSTRAINT_KINDS = ("assignment", "timewindow", "sequence")
NODE_TYPES = ("DEPOT", "TARGET")
# At most this many findings of one kind in one place; the rest are counted in one more finding.
_MOST_PER_PLACE = 10
# The range of the numbers the solver reads as 32-bit integers (route limits, capacities).
_INT32 = (-(1 << 31), (1 << 31) - 1)
_U64_MAX = (1 << 64) - 1


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


@cache
def instance_schema() -> dict[str, Any]:
    """The JSON Schema of the instance format, as shipped with the package."""
    text = resources.files("orvik").joinpath("schemas/instance.schema.json").read_text("utf-8")
    return json.loads(text)


def validate(document: Any) -> Findings:
    """Validate an instance (a dict, or the path of a JSON file) and return every finding.

    A path that cannot be read or parsed raises ``orvik.documents.InstanceError``; everything
    about the document itself comes back as findings, errors and warnings together.
    """
    if isinstance(document, (str, os.PathLike)):
        document = read_json(document)
    findings = Findings(_schema_findings(document))
    if isinstance(document, dict):
        _CrossCheck(document, findings).run()
    return findings


# ---------------------------------------------------------------------------------------------
# Paths and wording


def json_path(*parts: str | int) -> str:
    """A JSON path such as ``$.costs.car[3][4]`` from keys and indexes."""
    text = "$"
    for part in parts:
        if isinstance(part, int):
            text += f"[{part}]"
        elif re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", part):
            text += f".{part}"
        else:
            text += f"[{json.dumps(part)}]"
    return text


def suggestion(word: str, choices: Iterable[str]) -> str | None:
    """The choice the author most likely meant by ``word``: same letters in another case or
    without separators first, then the closest spelling; None when nothing is close."""
    options = [c for c in choices if c != word]
    squash = re.sub(r"[\s_\-]", "", word).lower()
    for choice in options:
        if re.sub(r"[\s_\-]", "", choice).lower() == squash:
            return choice
    close = difflib.get_close_matches(word, options, n=1, cutoff=0.6)
    return close[0] if close else None


def _did_you_mean(word: str, choices: Iterable[str]) -> str:
    guess = suggestion(word, choices)
    return f" (did you mean {guess!r}?)" if guess is not None else ""


def _show(value: Any) -> str:
    """A short rendering of a value for a message."""
    if isinstance(value, (dict, list)):
        return f"a JSON {json_type(value)}"
    text = json.dumps(value) if not isinstance(value, float) else repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


# ---------------------------------------------------------------------------------------------
# Shapes: the schema


@cache
def _validator() -> jsonschema.protocols.Validator:
    return jsonschema.Draft202012Validator(instance_schema())


def _schema_findings(document: Any) -> Iterator[Finding]:
    """The schema's findings. The schema is checked on the document without the elements it
    plainly accepts (nodes and constraint items, which grow with the instance) and without the
    matrix rows, which ``_CrossCheck.check_matrix`` checks; paths name the original places."""
    reduced, places = _for_schema(document)
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


def _plain_id(value: Any) -> bool:
    return type(value) is int and 0 <= value <= _U64_MAX


def _plain_number(value: Any) -> bool:
    return type(value) is float or type(value) is int


def _plain_types(value: Any) -> bool:
    return type(value) is list and all(type(name) is str for name in value)


# What the schema plainly accepts in a node or a constraint item, key by key; an element whose
# keys all pass (unknown keys aside) and that has the required ones needs no schema check.
_PLAIN_NODE = {"id": _plain_id, "name": lambda v: type(v) is str and v != "",
               "x": _plain_number, "y": _plain_number, "z": _plain_number,
               "type": lambda v: type(v) is str, "demand": _plain_number}
_PLAIN_ITEM = {
    "assignment": ({"node": _plain_id, "types": _plain_types}, ("node", "types")),
    "timewindow": ({"node": _plain_id, "start": _plain_number, "end": _plain_number},
                   ("node", "start", "end")),
}


def _plain(item: Any, checks: dict[str, Any], required: Iterable[str]) -> bool:
    if type(item) is not dict:
        return False
    for key, value in item.items():
        check = checks.get(key)
        if check is not None and not check(value):
            return False
    return all(key in item for key in required)


def _for_schema(document: Any) -> tuple[Any, dict[tuple[str | int, ...], list[int]]]:
    """The document the schema checks, and for each shortened array the original indexes of
    the elements kept."""
    if not isinstance(document, dict):
        return document, {}
    reduced = dict(document)
    places: dict[tuple[str | int, ...], list[int]] = {}
    nodes = document.get("nodes")
    if type(nodes) is list:
        required = ("id", "x", "y")
        kept = [i for i, node in enumerate(nodes) if not _plain(node, _PLAIN_NODE, required)]
        reduced["nodes"] = [nodes[i] for i in kept]
        places[("nodes",)] = kept
    costs = document.get("costs")
    if type(costs) is dict:
        reduced["costs"] = {kind: [] if type(m) is list else m for kind, m in costs.items()}
    constraints = document.get("constraints")
    if type(constraints) is list:
        shortened = []
        for c, constraint in enumerate(constraints):
            plain = (_PLAIN_ITEM.get(constraint.get("kind"))
                     if type(constraint) is dict else None)
            items = constraint.get("items") if plain is not None else None
            if plain is None or type(items) is not list:
                shortened.append(constraint)
                continue
            kept = [i for i, item in enumerate(items) if not _plain(item, *plain)]
            shortened.append({**constraint, "items": [items[i] for i in kept]})
            places[("constraints", c, "items")] = kept
        reduced["constraints"] = shortened
    return reduced, places


def _sort_key(path: Iterable[str | int]) -> tuple[tuple[int, str | int], ...]:
    return tuple((0, p) if isinstance(p, int) else (1, p) for p in path)


def _schema_message(error: jsonschema.ValidationError, parts: list[str | int]) -> str:
    kind = error.validator
    value = error.instance
    if kind == "required":
        key = error.message.removesuffix(" is a required property")
        return f"missing required key {key}"
    if kind == "type":
        expected = error.validator_value
        return _type_message(expected if isinstance(expected, list) else [expected], value)
    if kind == "minimum":
        return f"{_show(value)} is below the smallest allowed value, {error.validator_value}"
    if kind == "maximum":
        return f"{_show(value)} is above the largest allowed value, {error.validator_value}"
    if kind == "minLength":
        return "must not be empty"
    return error.message


def _type_message(expected: list[str], value: Any) -> str:
    names = " or ".join(expected)
    if names == "integer" and is_number(value):
        return f"expected a whole number, got {_show(value)}"
    got = json_type(value)
    shown = "" if isinstance(value, (dict, list)) or value is None else f" {_show(value)}"
    return f"expected {_article(names)} {names}, got {_article(got)} {got}{shown}"


def _article(noun: str) -> str:
    return "an" if noun[:1] in "aeiou" else "a"


# ---------------------------------------------------------------------------------------------
# What the schema cannot say


def _id(value: Any) -> int | None:
    """A well-formed id, an integer or a whole real such as 3.0 (the schema reports the
    others), else None."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    if isinstance(value, float):
        if not value.is_integer():
            return None
        value = int(value)
    return value if 0 <= value <= _U64_MAX else None


def _items(section: Any) -> list[tuple[int, dict[str, Any]]]:
    """The object elements of an array section, with their indexes (the schema reports the
    rest)."""
    if not isinstance(section, list):
        return []
    return [(i, item) for i, item in enumerate(section) if isinstance(item, dict)]


class _CrossCheck:
    """The cross-reference checks of one document, appending to one list of findings."""

    def __init__(self, document: dict[str, Any], out: Findings) -> None:
        self.doc = document
        self.out = out
        self.nodes = _items(document.get("nodes"))
        self.agents = _items(document.get("agents"))
        self.sections = {"nodes": dict(self.nodes), "agents": dict(self.agents)}
        # What decides whether solving changes units, and so which limits need a closer look.
        self.reaches_no_connection = False
        self.fractional_limit = False
        self.node_count = len(document["nodes"]) if isinstance(document.get("nodes"), list) else 0
        self.node_ids: dict[int, int] = {}
        self.agent_types: dict[str, int] = {}
        self.endpoints: set[int] = set()
        costs = document.get("costs")
        self.costs: dict[str, Any] = costs if isinstance(costs, dict) else {}

    def error(self, path: str, message: str) -> None:
        self.out.append(Finding(path, message, ERROR))

    def warn(self, path: str, message: str) -> None:
        self.out.append(Finding(path, message, WARNING))

    def run(self) -> None:
        self.check_nodes()
        self.check_agents()
        self.check_costs()
        self.check_constraints()
        self.check_options()
        if not self.out.errors and (self.fractional_limit or self.reaches_no_connection):
            self.check_applied_limits()

    # -- nodes and agents ----------------------------------------------------------------------

    def unique(self, section: str, index: int, key: str, seen: dict[Any, int]) -> None:
        """Record the id or name of an element; an error when an earlier one has it."""
        value = self.section(section)[index].get(key)
        if key == "id":
            value = _id(value)
        elif not isinstance(value, str):
            value = None
        if value is None:
            return
        if value in seen:
            self.error(json_path(section, index, key),
                       f"{section[:-1]} {key} {value!r} repeats that of "
                       f"{json_path(section, seen[value])}")
        else:
            seen[value] = index

    def section(self, name: str) -> dict[int, dict[str, Any]]:
        return self.sections[name]

    def warn_unused(self, section: str, key: str) -> None:
        """One warning for a key the solver stores but does not use, at its first use."""
        users = [i for i, item in self.section(section).items()
                 if item.get(key) is True or (is_number(item.get(key)) and item[key] != 0)]
        if users:
            self.warn(json_path(section, users[0], key),
                      f"{key} is stored but not used by the solver ({len(users)} of the "
                      f"{section} have one)")

    def check_node_count(self) -> None:
        """The search alone handles at most SEARCH_POINT_LIMIT nodes; the improvement (on by
        default in this package, off by default in the raw module) solves larger instances."""
        if self.node_count <= SEARCH_POINT_LIMIT:
            return
        options = self.doc.get("options")
        improve = options.get("improve") if isinstance(options, dict) else None
        if improve is False:
            self.error("$.nodes", f"the search alone handles at most {SEARCH_POINT_LIMIT} nodes; "
                       f"there are {self.node_count} (improvement solves larger instances)")
        elif improve is None:
            self.warn("$.nodes", f"{self.node_count} nodes: more than the search alone handles "
                      f"({SEARCH_POINT_LIMIT}); only a solve with improvement (the default of "
                      "orvik, \"improve\": true in the raw module) takes it")

    def check_nodes(self) -> None:
        self.check_node_count()
        names: dict[str, int] = {}
        for i, node in self.nodes:
            self.unique("nodes", i, "id", self.node_ids)
            self.unique("nodes", i, "name", names)
            kind = node.get("type")
            if isinstance(kind, str) and kind not in NODE_TYPES:
                hint = " (write \"DEPOT\" for a depot)" if kind.upper() == "DEPOT" else ""
                self.warn(json_path("nodes", i, "type"),
                          f"{kind!r} is read as a target{hint}")
            for axis in ("x", "y", "z"):
                value = node.get(axis)
                if is_number(value) and not is_finite_number(value):
                    self.error(json_path("nodes", i, axis), f"coordinate {_show(value)}")
            demand = node.get("demand")
            if is_number(demand) and not is_finite_number(demand):
                self.error(json_path("nodes", i, "demand"), f"demand {_show(demand)}")
        self.warn_unused("nodes", "demand")

    def check_agents(self) -> None:
        ids: dict[int, int] = {}
        names: dict[str, int] = {}
        for k, agent in self.agents:
            self.unique("agents", k, "id", ids)
            self.unique("agents", k, "name", names)
            kind = agent.get("type")
            if isinstance(kind, str) and kind:
                self.agent_types.setdefault(kind, k)
            for key in ("start_node", "end_node"):
                node_id = _id(agent.get(key))
                if node_id is None:
                    continue
                if node_id not in self.node_ids:
                    self.error(json_path("agents", k, key), f"no node has id {node_id}")
                else:
                    self.endpoints.add(node_id)
            self.check_limit(k, agent.get("max_length"))
            self.check_capacity(k, agent.get("capacity"))
        self.warn_unused("agents", "capacity")

    def check_limit(self, k: int, limit: Any) -> None:
        path = json_path("agents", k, "max_length")
        if isinstance(limit, bool):
            self.error(path, f"a route limit is a number, not {json.dumps(limit)} (which the "
                             "raw module reads as 1 or 0)")
            return
        if not is_number(limit):
            return
        if not is_finite_number(limit):
            self.error(path, f"route limit {_show(limit)}")
        elif not _INT32[0] <= limit <= _INT32[1]:
            self.error(path, f"route limit {_show(limit)} is outside the range the solver "
                             "reads, -2^31 to 2^31 - 1")
            return
        elif limit < 0:
            self.warn(path, f"a negative limit ({_show(limit)}) means no limit")
        elif limit != int(limit):
            self.fractional_limit = True
        if is_finite_number(limit) and limit >= NO_CONNECTION:
            self.reaches_no_connection = True
            self.warn(path, f"route limit {_show(limit)} reaches {NO_CONNECTION:g}; solving "
                            "scales costs, windows and limits to smaller units")

    def check_capacity(self, k: int, capacity: Any) -> None:
        path = json_path("agents", k, "capacity")
        if isinstance(capacity, bool):
            self.error(path, f"a capacity is a number, not {json.dumps(capacity)} (which the "
                             "raw module reads as 1 or 0)")
            return
        if not is_number(capacity):
            return
        if not is_finite_number(capacity):
            self.error(path, f"capacity {_show(capacity)}")
        elif not _INT32[0] <= capacity <= _INT32[1]:
            self.error(path, f"capacity {_show(capacity)} is outside the range the solver "
                             "reads, -2^31 to 2^31 - 1")

    def check_applied_limits(self) -> None:
        """How solving applies the route limits: a limit the solver receives as another number
        is said (and whether it allows the same routes); one it cannot apply is an error."""
        scale = unit_scale(self.doc)
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
        cost_types = list(self.costs)
        for kind, k in self.agent_types.items():
            if kind not in self.costs:
                self.error(json_path("agents", k, "type"),
                           f"agent type {kind!r} has no cost matrix in $.costs"
                           + _did_you_mean(kind, cost_types))
        for kind, matrix in self.costs.items():
            if kind not in self.agent_types:
                self.error(json_path("costs", kind),
                           f"no agent has type {kind!r}" + _did_you_mean(kind, self.agent_types))
            if isinstance(matrix, list):
                self.check_matrix(kind, matrix)

    def check_matrix(self, kind: str, matrix: list[Any]) -> None:
        n = self.node_count
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
                      f"cost {_show(cost)} reaches {NO_CONNECTION:g}, which the solver reads as "
                      f"no connection{more}; solving scales costs, windows and limits to "
                      "smaller units so that it stays a cost (write null for no connection)")

    # -- constraints ---------------------------------------------------------------------------

    def check_constraints(self) -> None:
        constraints = self.doc.get("constraints")
        assigned: set[int] = set()
        has_assignment = False
        sequences = 0
        for c, constraint in _items(constraints):
            kind = constraint.get("kind")
            if not isinstance(kind, str):
                continue
            if kind not in CONSTRAINT_KINDS:
                self.error(json_path("constraints", c, "kind"),
                           f"{kind!r} is not a constraint kind; the kinds are "
                           f"{', '.join(CONSTRAINT_KINDS)}" + _did_you_mean(kind, CONSTRAINT_KINDS))
            elif kind == "assignment":
                has_assignment = True
                for i, item in _items(constraint.get("items")):
                    node_id = self.known_node(item.get("node"), ("constraints", c, "items", i))
                    if node_id is not None:
                        assigned.add(node_id)
                    self.check_assignment_types(item, ("constraints", c, "items", i))
            elif kind == "timewindow":
                for i, item in _items(constraint.get("items")):
                    self.known_node(item.get("node"), ("constraints", c, "items", i))
                    self.check_window(item, ("constraints", c, "items", i))
            else:
                sequences += 1
                if sequences == 1:
                    self.warn(json_path("constraints", c),
                              "sequence constraints are stored but not used by the solver")
                for i, pair in _items(constraint.get("precedence")):
                    for key in ("before", "after"):
                        node_id = _id(pair.get(key))
                        if node_id is not None and node_id not in self.node_ids:
                            self.error(json_path("constraints", c, "precedence", i, key),
                                       f"no node has id {node_id}")
        self.check_unassigned(assigned, has_assignment)

    def known_node(self, value: Any, where: tuple[str | int, ...]) -> int | None:
        node_id = _id(value)
        if node_id is None:
            return None
        if node_id not in self.node_ids:
            self.error(json_path(*where, "node"), f"no node has id {node_id}")
            return None
        return node_id

    def check_assignment_types(self, item: dict[str, Any], where: tuple[str | int, ...]) -> None:
        names = item.get("types")
        if not isinstance(names, list) or not self.agent_types:
            return
        unknown = [n for n in names if isinstance(n, str) and n not in self.agent_types]
        for name in unknown:
            self.warn(json_path(*where, "types"),
                      f"{name!r} is no agent's type and is ignored"
                      + _did_you_mean(name, self.agent_types))
        if len(unknown) == len(names):
            self.warn(json_path(*where, "types"),
                      f"no agent may serve node {item.get('node')}: none of its types is an "
                      "agent's type")

    def check_window(self, item: dict[str, Any], where: tuple[str | int, ...]) -> None:
        opens, closes = item.get("start"), item.get("end")
        for key, value in (("start", opens), ("end", closes)):
            if is_number(value) and not is_finite_number(value):
                self.error(json_path(*where, key), f"window bound {_show(value)}")
        if is_finite_number(opens) and is_finite_number(closes):
            if opens > closes:
                self.error(json_path(*where),
                           f"the window opens at {_show(opens)}, after it closes at "
                           f"{_show(closes)}")
            top = max(abs(opens), abs(closes))
            if top >= NO_CONNECTION:
                self.reaches_no_connection = True
                self.warn(json_path(*where),
                          f"window bound {_show(top)} reaches {NO_CONNECTION:g}; solving scales "
                          "costs, windows and limits to smaller units")

    def check_unassigned(self, assigned: set[int], has_assignment: bool) -> None:
        sites = [(i, node["id"]) for i, node in self.nodes
                 if _id(node.get("id")) is not None and node["id"] not in self.endpoints]
        missing = [(i, node_id) for i, node_id in sites if node_id not in assigned]
        if not missing:
            return
        if not has_assignment:
            where = "constraints" if "constraints" in self.doc else "nodes"
            self.warn(json_path(where),
                      "no node has an assignment entry: every agent type may serve every node")
            return
        for i, node_id in missing[:_MOST_PER_PLACE]:
            self.warn(json_path("nodes", i),
                      f"node {node_id} has no assignment entry: every agent type may serve it")
        if len(missing) > _MOST_PER_PLACE:
            self.warn(json_path("nodes"),
                      f"{len(missing) - _MOST_PER_PLACE} more nodes without an assignment entry")

    # -- options -------------------------------------------------------------------------------

    def check_options(self) -> None:
        options = self.doc.get("options")
        if not isinstance(options, dict):
            return
        objective = options.get("objective")
        if isinstance(objective, str) and objective not in OBJECTIVE_NAMES:
            self.error(json_path("options", "objective"),
                       f"{objective!r} is not an objective; use {' or '.join(OBJECTIVES)}"
                       + _did_you_mean(objective, OBJECTIVES))
        limit = options.get("time_limit")
        if is_number(limit) and not is_finite_number(limit):
            self.error(json_path("options", "time_limit"),
                       f"a time limit of {_show(limit)} seconds; give a number of seconds (a "
                       "large one for no practical limit)")
        elif is_number(limit) and not limit > 0:
            self.warn(json_path("options", "time_limit"),
                      f"a time limit of {_show(limit)} seconds leaves the search no time")


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
        return f"negative cost {_show(cost)}"
    return None
