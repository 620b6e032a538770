"""``Solution``: the outcome of a solve in the caller's ids, as frozen dataclasses.

A solution holds its status ("solved", "no solution" with the reasons known, or
"interrupted": stopped by Ctrl-C or a stop event, with the best routes found until then if there
were any), the objective and its value, one ``Route`` per agent with the schedule of every
stop (arrival, waiting for the window, departure), the history of improving solutions and the
search statistics. It writes and reads its own JSON document, which ``orvik check`` accepts.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

from orvik.checker import CheckReport, check
from orvik.documents import InstanceError, Source, load_document, write_json
from orvik.rules import OBJECTIVE_MEANINGS

if TYPE_CHECKING:
    from orvik.model import AgentId, Model, NodeId

SOLVED = "solved"
NO_SOLUTION = "no solution"
INTERRUPTED = "interrupted"
STATUSES = (SOLVED, NO_SOLUTION, INTERRUPTED)


@dataclass(frozen=True)
class Stop:
    """A route's visit to one node: its id, its position in the node list, and the times at
    which the agent arrives, waits for the window to open, and leaves."""

    node: NodeId
    position: int
    arrival: float
    wait: float
    departure: float


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

    def __repr__(self) -> str:
        return f"Route(agent={self.agent!r}, cost={self.cost:g}, nodes={self.nodes!r})"


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
class ProgressReport:
    """What a running solve reports to a ``progress`` callback, on every improvement and every
    half second: the phase ("search", "construction" or "improvement"), the seconds elapsed on
    the clock of the time limit, the work done (search states generated, or improvement
    iterations), the best objective value so far in the instance's units (None before the first
    solution) and whether this report announces an improvement."""

    phase: str
    elapsed: float
    work: int
    best: float | None
    improved: bool


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
                f"max_cost={self.max_cost:g}, sum_cost={self.sum_cost:g}")
        if self.reasons:
            head += f", reasons={list(self.reasons)!r}"
        if not self.routes:
            return head + ")"
        routes = "".join(f"\n  {route!r}," for route in self.routes)
        return f"{head}, routes=[{routes}\n])"

    def report(self) -> str:
        """The human view: status, reasons and notes, the objective with its meaning, and per
        agent its route in node ids and a table of its stops (arrival, wait, departure)."""
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
            lines.append(f"agent {route.agent} ({route.agent_type}): cost {route.cost:.6g}, "
                         f"{len(route.sites)} site(s)")
            lines.append("  " + " -> ".join(str(node) for node in route.nodes))
            rows = [["stop", "node", "arrival", "wait", "departure"]]
            rows += [[str(i), str(s.node), f"{s.arrival:.6g}", f"{s.wait:.6g}",
                      f"{s.departure:.6g}"] for i, s in enumerate(route.stops)]
            lines += ["  " + line for line in _table(rows, right={0, 2, 3, 4})]
        return "\n".join(lines)

    # -- checking ------------------------------------------------------------------------------

    def check(self, instance: Model | Source | None = None) -> CheckReport:
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
                        {"node": s.node, "arrival": s.arrival, "wait": s.wait,
                         "departure": s.departure}
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
    def from_json(cls, source: Source, instance: Model | Source | None = None) -> Solution:
        """Read a solution document (a path or a dict) written by ``to_json``; ``instance``
        (a ``Model``, a dict or a path) is kept for ``check``."""
        doc = load_document(source, "solution")
        try:
            routes = tuple(
                Route(
                    agent=r["agent"],
                    agent_type=r["type"],
                    cost=float(r["cost"]),
                    stops=tuple(
                        Stop(s["node"], position, float(s["arrival"]), float(s["wait"]),
                             float(s["departure"]))
                        for s, position in zip(r["stops"], r["path"], strict=True)
                    ),
                    agent_key=int(r["agent_id"]),
                )
                for r in doc["routes"]
            )
            stats = doc.get("statistics") or {}
            solution = cls(
                status=doc["status"],
                objective=doc["objective"],
                objective_value=float(doc["objective_value"]),
                max_cost=float(doc["max_cost"]),
                sum_cost=float(doc["sum_cost"]),
                routes=routes,
                history=tuple(
                    Progress(float(p["time"]), float(p["objective"]), float(p["max_cost"]),
                             float(p["sum_cost"]))
                    for p in doc.get("history") or []
                ),
                statistics=Statistics(
                    float(stats.get("solve_time", 0.0)),
                    float(stats.get("last_update_time", 0.0)),
                    int(stats.get("n_generated", 0)),
                    int(stats.get("n_expanded", 0)),
                    bool(stats.get("timeout", False)),
                    float(stats.get("search_time", 0.0)),
                    str(stats.get("clock", "cpu")),
                ),
                reasons=tuple(doc.get("reasons") or ()),
                notes=tuple(doc.get("notes") or ()),
                scale=float(doc.get("scale", 1.0)),
                instance=None if instance is None else _instance_document(instance),
            )
        except (KeyError, TypeError, ValueError) as error:
            where = source if not isinstance(source, dict) else "solution"
            raise InstanceError(f"{where}: not a solution document ({_what(error)})") from None
        if solution.status not in STATUSES:
            raise InstanceError(f"unknown solution status {solution.status!r}")
        return solution


def _what(error: Exception) -> str:
    if isinstance(error, KeyError):
        return f"missing key {error.args[0]!r}"
    return str(error)


def _instance_document(instance: Model | Source | None) -> dict[str, Any]:
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
