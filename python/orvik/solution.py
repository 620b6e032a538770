"""``Solution``: the outcome of a solve in the caller's ids, as frozen dataclasses.

A solution holds its status ("solved", "no solution" with the reasons known, or
"interrupted": stopped by Ctrl-C or a stop event, with the best routes found until then if there
were any), the objective and its value, one ``Route`` per agent with the schedule of every
stop (arrival, waiting for the window, start and length of service, departure, and the load
after the stop), the history of improving solutions and the
search statistics. It writes and reads its own JSON document, which ``orvik check`` accepts.
"""

from __future__ import annotations

import json
import math
import os
from dataclasses import dataclass, field
from typing import Any

from orvik.checker import CheckReport, check
from orvik.documents import (
    HasDocument,
    InstanceError,
    Source,
    a_json_type,
    load_document,
    write_json,
)
from orvik.instance import AgentId, NodeId
from orvik.rules import OBJECTIVE_MEANINGS, OBJECTIVES

SOLVED = "solved"
NO_SOLUTION = "no solution"
INTERRUPTED = "interrupted"
STATUSES = (SOLVED, NO_SOLUTION, INTERRUPTED)


@dataclass(frozen=True)
class Stop:
    """A route's visit to one node: its id, its position in the node list, the times at which
    the agent arrives, waits for the window to open, and leaves (after its service, which starts
    at ``start`` and lasts ``service``), and the load on board after the stop, one number per
    dimension (empty when the instance has no loads)."""

    node: NodeId
    position: int
    arrival: float
    wait: float
    departure: float
    service: float = 0.0
    load: tuple[float, ...] = ()

    @property
    def start(self) -> float:
        """When service starts: on arrival, or when the window opens if that is later."""
        return self.arrival + self.wait


@dataclass(frozen=True)
class Route:
    """One agent's route, from its start node to its end node, with its cost."""

    agent: AgentId
    agent_type: str
    cost: float
    stops: tuple[Stop, ...]
    agent_key: int = 0  # the agent's integer id in the instance document

    @property
    def nodes(self) -> list[NodeId]:
        """The node ids in visiting order, start and end included."""
        return [s.node for s in self.stops]

    @property
    def positions(self) -> list[int]:
        """The node positions (0-based, in the instance's node order) in visiting order."""
        return [s.position for s in self.stops]

    @property
    def sites(self) -> list[NodeId]:
        """The node ids served on the way: the stops between the start and the end."""
        return [s.node for s in self.stops[1:-1]]

    @property
    def loads(self) -> list[tuple[float, ...]]:
        """The load after every stop, one number per dimension (empty without loads)."""
        return [s.load for s in self.stops]

    def __repr__(self) -> str:
        loads = ""
        if any(s.load for s in self.stops):
            loads = ", loads=[" + ", ".join(_amount(s.load) for s in self.stops) + "]"
        return f"Route(agent={self.agent!r}, cost={self.cost:g}, nodes={self.nodes!r}{loads})"


def _amount(load: tuple[float, ...]) -> str:
    """A load for a report: a number for one dimension, else a list."""
    if len(load) == 1:
        return f"{load[0]:.6g}"
    return "[" + ", ".join(f"{v:.6g}" for v in load) + "]"


@dataclass(frozen=True)
class Progress:
    """An improving solution found during the search: when (seconds since the search started,
    on the clock of the time limit: ``Statistics.clock``), its objective value and its two cost
    figures."""

    time: float
    objective: float
    max_cost: float
    sum_cost: float


@dataclass(frozen=True)
class Statistics:
    """Figures of the run: wall-clock seconds of the whole solve, the time of the last
    improvement, the search's state counters, whether the time limit stopped it, the seconds the
    search took, and the clock that counted the time limit and the search's times: "wall"
    (wall-clock time) or "cpu" (the processor time of the solving thread)."""

    solve_time: float = 0.0
    last_update_time: float = 0.0
    n_generated: int = 0
    n_expanded: int = 0
    timeout: bool = False
    search_time: float = 0.0
    clock: str = "cpu"


@dataclass(frozen=True)
class ProgressRoute:
    """One agent's route in a progress report: the agent's id and type, the route's cost in the
    instance's units, and its node ids and positions (0-based, in the instance's node order) in
    visiting order, start and end included."""

    agent: AgentId
    agent_type: str
    cost: float
    nodes: tuple[NodeId, ...]
    positions: tuple[int, ...]
    agent_key: int = 0  # the agent's integer id in the instance document

    def to_dict(self) -> dict[str, Any]:
        """The route as a solution document gives one, without its stops."""
        return {"agent": self.agent, "agent_id": self.agent_key, "type": self.agent_type,
                "cost": self.cost, "path": list(self.positions), "nodes": list(self.nodes)}


@dataclass(frozen=True)
class ProgressReport:
    """What a running solve reports to a ``progress`` callback, on every improvement and every
    half second: the phase ("search", "construction" or "improvement"), the seconds elapsed on
    the clock of the time limit, the work done (search states generated, or improvement
    iterations), the best objective value so far in the instance's units (None before the first
    solution) and whether this report announces an improvement.

    ``routes`` holds the routes of the best solution so far, one ``ProgressRoute`` per agent in
    the instance's order, on the reports that carry them (None on the others): an improvement
    carries them when a quarter of a second has passed since routes were last sent; the routes
    of one that came sooner follow with a later report, at the latest when the solve ends, so
    that the last routes reported are those of the best solution found."""

    phase: str
    elapsed: float
    work: int
    best: float | None
    improved: bool
    routes: tuple[ProgressRoute, ...] | None = None

    def to_dict(self) -> dict[str, Any]:
        """The report as a JSON document; "routes" only where it carries them."""
        document: dict[str, Any] = {"phase": self.phase, "elapsed": self.elapsed,
                                    "work": self.work, "best": self.best,
                                    "improved": self.improved}
        if self.routes is not None:
            document["routes"] = [route.to_dict() for route in self.routes]
        return document


@dataclass(frozen=True)
class Solution:
    """The outcome of a solve, in the caller's ids.

    ``status`` is "solved", "no solution" (``reasons`` says why, where a quick look can tell)
    or "interrupted". ``objective`` names the objective ("min_max": the longest route,
    "min_sum": the sum of the routes) and ``objective_value`` is its value. ``notes`` tells how
    the solver read the instance (scaled units, for example); ``scale`` is the factor the
    solver's units were divided by.
    """

    status: str
    objective: str
    objective_value: float
    max_cost: float
    sum_cost: float
    routes: tuple[Route, ...] = ()
    history: tuple[Progress, ...] = ()
    statistics: Statistics = field(default_factory=Statistics)
    reasons: tuple[str, ...] = ()
    notes: tuple[str, ...] = ()
    scale: float = 1.0
    instance: dict[str, Any] | None = field(default=None, repr=False, compare=False)

    @property
    def solved(self) -> bool:
        """Whether the solve ran to its end with routes for every agent."""
        return self.status == SOLVED

    @property
    def interrupted(self) -> bool:
        """Whether Ctrl-C or a stop event ended the solve; ``routes`` then holds the best routes
        found until then, or nothing when there were none."""
        return self.status == INTERRUPTED

    @property
    def objective_meaning(self) -> str:
        """What the objective's value measures, in words."""
        return OBJECTIVE_MEANINGS[self.objective]

    def route(self, agent: AgentId) -> Route:
        """The route of the agent with this id."""
        for route in self.routes:
            if route.agent == agent:
                return route
        raise KeyError(f"no route for agent {agent!r}")

    def __repr__(self) -> str:
        head = (f"Solution(status={self.status!r}, {self.objective}={self.objective_value:g}, "
                f"max_cost={self.max_cost:g}, sum_cost={self.sum_cost:g}" if self.routes else
                f"Solution(status={self.status!r}, objective={self.objective!r}")
        if self.reasons:
            head += f", reasons={list(self.reasons)!r}"
        if not self.routes:
            return head + ")"
        routes = "".join(f"\n  {route!r}," for route in self.routes)
        return f"{head}, routes=[{routes}\n])"

    def report(self) -> str:
        """The human view: status, reasons and notes, the objective with its meaning, and per
        agent its route in node ids and a table of its stops (arrival, wait, the start and length
        of service when a site has a service duration, departure, and the load after the stop
        when there are loads)."""
        solution = self
        lines = [f"status: {solution.status}"]
        lines += [f"reason: {reason}" for reason in solution.reasons]
        lines += [f"note: {note}" for note in solution.notes]
        if solution.interrupted:
            lines.append("interrupted: " + ("these are the best routes found before the stop"
                                            if solution.routes else "no solution was found "
                                            "before the stop"))
        if solution.routes:
            lines.append(f"objective: {solution.objective} = {solution.objective_value:.6g} "
                         f"({solution.objective_meaning})")
            lines.append(f"max cost {solution.max_cost:.6g}, sum cost {solution.sum_cost:.6g}")
        stats = solution.statistics
        lines.append(f"search: {stats.solve_time:.3g} s, {stats.n_expanded} states expanded"
                     + (", stopped by the time limit" if stats.timeout else "")
                     + (", stopped by an interruption" if solution.interrupted else ""))
        for route in solution.routes:
            lines.append("")
            lines.append(f"agent {label(route.agent)} ({route.agent_type}): cost "
                         f"{route.cost:.6g}, {len(route.sites)} site(s)")
            lines.append("  " + " -> ".join(label(node) for node in route.nodes))
            with_loads = any(s.load for s in route.stops)
            # The start and length of service when a site has a service duration.
            timed = any(s.service for r in solution.routes for s in r.stops)
            rows = [["stop", "node", "arrival", "wait"] + (["start", "service"] if timed else [])
                    + ["departure"] + (["load"] if with_loads else [])]
            rows += [[str(i), label(s.node), f"{s.arrival:.6g}", f"{s.wait:.6g}"]
                     + ([f"{s.start:.6g}", f"{s.service:.6g}"] if timed else [])
                     + [f"{s.departure:.6g}"]
                     + ([_amount(s.load) if s.load else "-"] if with_loads else [])
                     for i, s in enumerate(route.stops)]
            lines += ["  " + line for line in _table(rows, right={0, 2, 3, 4, 5, 6, 7})]
        return "\n".join(lines)

    # -- checking ------------------------------------------------------------------------------

    def check(self, instance: HasDocument | Source | None = None) -> CheckReport:
        """Check the solution against its instance with the independent checker (the same as
        ``orvik check``). The instance defaults to the one the solution was solved from; pass a
        ``Model``, a dict or a path for a solution read from a file."""
        document = _instance_document(instance if instance is not None else self.instance)
        return check(document, self.to_dict())

    # -- documents -----------------------------------------------------------------------------

    def to_dict(self) -> dict[str, Any]:
        """The solution document: everything above, routes with both node ids ("nodes") and
        positions ("path"), and "agent_id" the agent's integer id in the instance."""
        return {
            "status": self.status,
            "objective": self.objective,
            "objective_value": self.objective_value,
            "max_cost": self.max_cost,
            "sum_cost": self.sum_cost,
            "routes": [
                {
                    "agent": route.agent,
                    "agent_id": route.agent_key,
                    "type": route.agent_type,
                    "cost": route.cost,
                    "path": route.positions,
                    "nodes": route.nodes,
                    "stops": [
                        {"node": s.node, "arrival": s.arrival, "wait": s.wait, "start": s.start,
                         "service": s.service, "departure": s.departure}
                        | ({"load": list(s.load)} if s.load else {})
                        for s in route.stops
                    ],
                }
                for route in self.routes
            ],
            "history": [
                {"time": p.time, "objective": p.objective, "max_cost": p.max_cost,
                 "sum_cost": p.sum_cost}
                for p in self.history
            ],
            "statistics": {
                "solve_time": self.statistics.solve_time,
                "last_update_time": self.statistics.last_update_time,
                "n_generated": self.statistics.n_generated,
                "n_expanded": self.statistics.n_expanded,
                "timeout": self.statistics.timeout,
                "search_time": self.statistics.search_time,
                "clock": self.statistics.clock,
            },
            "reasons": list(self.reasons),
            "notes": list(self.notes),
            "scale": self.scale,
        }

    def to_json(self, path: str | os.PathLike[str] | None = None, *, indent: int = 1) -> str:
        """The solution document as JSON text; written to ``path`` as well when one is given."""
        return write_json(self.to_dict(), path, indent)

    @classmethod
    def from_json(cls, source: Source, instance: HasDocument | Source | None = None
                  ) -> Solution:
        """Read a solution document (a path or a dict) written by ``to_json``; ``instance``
        (a ``Model``, a dict or a path) is kept for ``check``. What is not a solution document
        raises ``InstanceError`` naming the place."""
        doc = load_document(source, "solution")
        read = _SolutionReader(source if not isinstance(source, dict) else "solution")
        routes = tuple(
            Route(
                agent=read.id(r, "agent", ("routes", k)),
                agent_type=read.string(r, "type", ("routes", k)),
                cost=read.number(r, "cost", ("routes", k)),
                stops=read.stops(r, ("routes", k)),
                agent_key=read.whole(r, "agent_id", ("routes", k)),
            )
            for k, r in enumerate(read.objects(doc, "routes", ()))
        )
        stats = read.object(doc, "statistics", (), optional=True)
        statistics = Statistics(
            *(read.number(stats, key, ("statistics",), 0.0)
              for key in ("solve_time", "last_update_time")),
            *(read.whole(stats, key, ("statistics",), 0) for key in ("n_generated",
                                                                     "n_expanded")),
            read.flag(stats, "timeout", ("statistics",)),
            read.number(stats, "search_time", ("statistics",), 0.0),
            read.string(stats, "clock", ("statistics",), "cpu"),
        )
        history = tuple(
            Progress(*(read.number(p, key, ("history", i))
                       for key in ("time", "objective", "max_cost", "sum_cost")))
            for i, p in enumerate(read.objects(doc, "history", (), optional=True)))
        status = read.string(doc, "status", ())
        if status not in STATUSES:
            raise read.fail(("status",), f"unknown solution status {status!r}")
        objective = read.string(doc, "objective", ())
        if objective not in OBJECTIVES:
            raise read.fail(("objective",), f"unknown objective {objective!r}")
        return cls(
            status=status,
            objective=objective,
            objective_value=read.number(doc, "objective_value", ()),
            max_cost=read.number(doc, "max_cost", ()),
            sum_cost=read.number(doc, "sum_cost", ()),
            routes=routes,
            history=history,
            statistics=statistics,
            reasons=tuple(read.strings(doc, "reasons")),
            notes=tuple(read.strings(doc, "notes")),
            scale=read.number(doc, "scale", (), 1.0),
            instance=None if instance is None else _instance_document(instance),
        )


def label(value: Any) -> str:
    """An id as the reports show it: a string that could pass for a number (or is empty, or
    has spaces) in quotes, so that agent 1 and agent "1" read apart."""
    if isinstance(value, str):
        try:
            float(value)
        except ValueError:
            if value and value == value.strip() and " " not in value:
                return value
        return json.dumps(value)
    return str(value)


class _SolutionReader:
    """Reads a solution document, with one-line errors naming the place."""

    def __init__(self, name: Any) -> None:
        self.name = name

    def fail(self, parts: tuple[str | int, ...], problem: str) -> InstanceError:
        where = "$" + "".join(f"[{p}]" if isinstance(p, int) else f".{p}" for p in parts)
        return InstanceError(f"{self.name}: not a solution document ({where}: {problem})")

    def get(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
            default: Any = ...) -> Any:
        if key not in item or item[key] is None:
            if default is ...:
                raise self.fail(parts, f"missing key {key!r}")
            return default
        return item[key]

    def object(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
               optional: bool = False) -> dict[str, Any]:
        value = self.get(item, key, parts, {} if optional else ...)
        if not isinstance(value, dict):
            raise self.fail((*parts, key), f"expected an object, got {a_json_type(value)}")
        return value

    def objects(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
                optional: bool = False) -> list[dict[str, Any]]:
        value = self.get(item, key, parts, [] if optional else ...)
        if not isinstance(value, list):
            raise self.fail((*parts, key), f"expected an array, got {a_json_type(value)}")
        for i, element in enumerate(value):
            if not isinstance(element, dict):
                raise self.fail((*parts, key, i),
                                f"expected an object, got {a_json_type(element)}")
        return value

    def number(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
               default: Any = ...) -> float:
        value = self.get(item, key, parts, default)
        if isinstance(value, bool) or not isinstance(value, (int, float)) or (
                not math.isfinite(value)):
            raise self.fail((*parts, key), f"expected a finite number, got {value!r}")
        return float(value)

    def whole(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
              default: Any = ...) -> int:
        value = self.get(item, key, parts, default)
        if isinstance(value, bool) or not isinstance(value, int) or value < 0:
            raise self.fail((*parts, key), f"expected a whole number, got {value!r}")
        return value

    def string(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...],
               default: Any = ...) -> str:
        value = self.get(item, key, parts, default)
        if not isinstance(value, str):
            raise self.fail((*parts, key), f"expected a string, got {a_json_type(value)}")
        return value

    def flag(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...]) -> bool:
        value = self.get(item, key, parts, False)
        if not isinstance(value, bool):
            raise self.fail((*parts, key), f"expected true or false, got {value!r}")
        return value

    def id(self, item: dict[str, Any], key: str, parts: tuple[str | int, ...]) -> Any:
        value = self.get(item, key, parts)
        if isinstance(value, bool) or not isinstance(value, (int, str)):
            raise self.fail((*parts, key), f"expected an id (a whole number or a string), got "
                                           f"{value!r}")
        return value

    def strings(self, item: dict[str, Any], key: str) -> list[str]:
        value = self.get(item, key, (), [])
        if not isinstance(value, list) or not all(isinstance(v, str) for v in value):
            raise self.fail((key,), "expected an array of strings")
        return value

    def stops(self, route: dict[str, Any], parts: tuple[str | int, ...]) -> tuple[Stop, ...]:
        stops = self.objects(route, "stops", parts)
        path = self.get(route, "path", parts)
        if not isinstance(path, list) or len(path) != len(stops):
            raise self.fail((*parts, "path"), "expected an array of positions, one per stop")
        result = []
        for i, (stop, position) in enumerate(zip(stops, path, strict=True)):
            if isinstance(position, bool) or not isinstance(position, int) or position < 0:
                raise self.fail((*parts, "path", i), f"expected a position (a whole number), "
                                                     f"got {position!r}")
            at = (*parts, "stops", i)
            result.append(Stop(self.id(stop, "node", at), position,
                               *(self.number(stop, key, at)
                                 for key in ("arrival", "wait", "departure")),
                               self.number(stop, "service", at, 0.0), self.load(stop, at)))
        return tuple(result)

    def load(self, stop: dict[str, Any], parts: tuple[str | int, ...]) -> tuple[float, ...]:
        value = self.get(stop, "load", parts, [])
        if not isinstance(value, list) or len(value) > 4:
            raise self.fail((*parts, "load"), "expected an array of up to 4 numbers")
        for d, amount in enumerate(value):
            if isinstance(amount, bool) or not isinstance(amount, (int, float)) or (
                    not math.isfinite(amount)):
                raise self.fail((*parts, "load", d), f"expected a finite number, got {amount!r}")
        return tuple(float(amount) for amount in value)


def _instance_document(instance: HasDocument | Source | None) -> dict[str, Any]:
    if instance is None:
        raise ValueError("this solution does not know its instance; pass it to check()")
    to_dict = getattr(instance, "to_dict", None)
    if callable(to_dict):
        return to_dict()
    return load_document(instance)


def _table(rows: list[list[str]], right: set[int]) -> list[str]:
    """Rows as aligned text columns; the columns in ``right`` aligned to the right."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return ["  ".join(cell.rjust(w) if i in right else cell.ljust(w)
                      for i, (cell, w) in enumerate(zip(row, widths, strict=True))).rstrip()
            for row in rows]
