"""Solving an instance: validate, scale the units, run the solver, speak the caller's ids.

Every solve of the package goes one way (``solve_instance``): an instance document (a dict or
a path, or a ``Model``'s document) is read once (``orvik.instance``), validated once as it is,
handed to the solver as it is (in scaled units, without the keys the solver does not read) with
the settings of the solve as arguments, and its routes told in the caller's ids, with the
schedule and loads of every stop as the independent checker recomputes them (the solver's own
schedule, when it reports one, must agree with it). The solver runs
without the interpreter lock, so other Python threads (and other solves) run meanwhile. Its own
lines go to the logger ``orvik.core``: its warnings at WARNING, its progress lines at DEBUG.
"""

from __future__ import annotations

import functools
import json
import logging
import os
import time
from collections.abc import Callable
from typing import Any, Protocol

import _orvik_core

from orvik.checker import check
from orvik.diagnosis import no_solution_reasons
from orvik.documents import InstanceError, load_document
from orvik.instance import Instance, read_instance
from orvik.rules import objective_of_totals, objective_value, route_totals
from orvik.settings import budget_seconds, check_solve_options
from orvik.solution import (
    INTERRUPTED,
    NO_SOLUTION,
    SOLVED,
    Progress,
    ProgressReport,
    ProgressRoute,
    Route,
    Solution,
    Statistics,
    Stop,
)
from orvik.units import UnitScale, solver_document, unit_scale
from orvik.validation import ValidationError, validate

CORE_LOGGER = logging.getLogger("orvik.core")


class SolverError(RuntimeError):
    """The solver refused an instance that passed validation (or was not validated)."""


class StopEvent(Protocol):
    """What ``stop=`` takes: anything with ``is_set()``, such as a ``threading.Event``."""

    def is_set(self) -> bool:
        """Whether the solve should stop now."""
        ...


ProgressCallback = Callable[[ProgressReport], object]


class _CallbackFailed(Exception):
    """Wraps what the caller's progress callback raised, so that it is not taken for the
    solver's refusal; the original comes back out of the solve."""


def _log_core_line(stream: str, line: str) -> None:
    CORE_LOGGER.log(logging.WARNING if stream == "stderr" else logging.DEBUG, "%s", line)


def _progress_routes(instance: Instance, routes: list[dict[str, Any]],
                     factor: float) -> tuple[ProgressRoute, ...]:
    """The routes of a progress report in the caller's ids and the instance's units."""
    nodes = instance.nodes
    return tuple(
        ProgressRoute(agent.label, agent.type, route["cost"] * factor,
                      tuple(nodes[v].label for v in route["path"]), tuple(route["path"]),
                      agent.id)
        for agent, route in zip(instance.agents, routes, strict=False))


def _progress_hook(progress: ProgressCallback | None, instance: Instance,
                   factor: float) -> Callable[[dict[str, Any]], None] | None:
    """The solver's progress dictionaries as ``ProgressReport``s in the instance's units and
    the caller's ids."""
    if progress is None:
        return None

    def hook(report: dict[str, Any]) -> None:
        best = report["best"]
        routes = report.get("routes")
        try:
            progress(ProgressReport(
                report["phase"], report["elapsed"], report["work"],
                None if best is None else best * factor, report["improved"],
                None if routes is None else _progress_routes(instance, routes, factor)))
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:
            raise _CallbackFailed from error

    return hook


class CallClock:
    """When a solve was called, on both clocks a limit may count, so that its time limit bounds
    the whole call: reading, validating and writing the instance for the solver, the search,
    and the look for reasons when there is no solution. As the solver's stop event it also
    stops the search at the end of the call's time (and says so in ``reached``), or when the
    caller's own stop event is set."""

    def __init__(self) -> None:
        self.wall = time.monotonic()
        self.cpu = time.thread_time()
        self.clock = "wall"
        self.limit = float("inf")
        self.stop: StopEvent | None = None
        self.reached = False

    def start(self, clock: str, limit: float, stop: StopEvent | None) -> CallClock:
        """Count ``limit`` seconds on ``clock`` from the call; ``stop``: the caller's event."""
        self.clock, self.limit, self.stop = clock, limit, stop
        return self

    def elapsed(self) -> float:
        """Seconds since the call on its clock (the processor time of this thread for "cpu")."""
        if self.clock == "wall":
            return time.monotonic() - self.wall
        return time.thread_time() - self.cpu

    def left(self) -> float:
        """Seconds of the limit left (0 or less: none)."""
        return self.limit - self.elapsed()

    def expired(self) -> bool:
        """Whether the call's time is up."""
        return self.left() <= 0

    def is_set(self) -> bool:
        """The solver's stop event: the caller's, or the end of the call's time."""
        if self.stop is not None and self.stop.is_set():
            return True
        if self.expired():
            self.reached = True
            return True
        return False


# The least time a search is given when reading and validating the instance used up the limit:
# it then stops at its first look at the clock.
_LEAST_SEARCH = 1e-3


def _solver_text(document: dict[str, Any]) -> str:
    """The instance document as the JSON text the solver reads."""
    try:
        return json.dumps(document, allow_nan=False)
    except ValueError:
        raise InstanceError("the instance holds a NaN or an infinite number where the solver "
                            "reads one (validate it to find where)") from None


def _run_solver(text: str, **arguments: Any) -> dict[str, Any]:
    """Run one solve of an instance (the JSON text of its document) through the solver's entry
    point, the settings of the solve given as arguments, and return its result dictionary.
    Every solve of the package goes through here."""
    try:
        return _orvik_core.solve_document(text, log=_log_core_line, **arguments)
    except _CallbackFailed as failed:
        cause = failed.__cause__
        assert cause is not None
        raise cause from None
    except (RuntimeError, IndexError) as error:
        raise SolverError(f"the solver refused the instance: {error}") from None


@functools.cache
def core_enforces_constraints() -> bool:
    """Whether the bound core honours loads, shipments, sequence pairs and service durations
    (the option "enforce_constraints"): a core that does reports each route's "schedule". Asked
    once, with a two-node instance."""
    probe = {"nodes": [{"id": 0, "x": 0.0, "y": 0.0, "z": 0.0, "type": "DEPOT"},
                       {"id": 1, "x": 1.0, "y": 0.0, "z": 0.0, "demand": 1, "service": 1}],
             "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0, "capacity": 2}],
             "costs": {"t": [[0.0, 1.0], [1.0, 0.0]]},
             "constraints": [{"kind": "assignment", "items": [{"node": 0, "types": ["t"]},
                                                               {"node": 1, "types": ["t"]}]}],
             "options": {"objective": "min_sum", "enforce_constraints": True}}
    try:
        result = _orvik_core.solve_json_str(json.dumps(probe), time_limit=1.0)
    except (RuntimeError, ValueError):
        return False
    routes = result.get("routes") or []
    return bool(routes) and all("schedule" in route for route in routes)


def _has_loads_or_orders(instance: Instance) -> bool:
    """Whether an instance has any rule of loads and orders."""
    return bool(instance.dimensions or any(node.service for node in instance.nodes)
                or any(True for _ in instance.pairs())
                or any(True for _ in instance.shipment_items()))


def read_for_solve(instance: Any) -> Instance:
    """The instance of a solve, read once: an instance already read, or an instance document
    (a dict, or a path read here). What cannot be read is an ``InstanceError`` when the solve
    refuses it (``Instance.require``); anything but these is a ``TypeError`` (a ``Model``
    gives its document: ``Model.solve``)."""
    if isinstance(instance, Instance):
        return instance
    if not isinstance(instance, (dict, str, os.PathLike)):
        raise TypeError(f"an instance is a Model, a dict or the path of a JSON file, got "
                        f"{type(instance).__name__}")
    return read_instance(load_document(instance))


def solve_instance(
    instance: Instance | dict[str, Any] | str | os.PathLike[str] | Callable[[], Instance],
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
    """Solve an instance: one already read, a document or a path; see ``Model.solve`` for the
    options.

    The instance is read once and validated as it is (``ValidationError`` lists its errors),
    then solved as it is. The settings of the solve reach the solver as arguments: the time
    limit given, else the instance's own, else ``rules.DEFAULT_TIME_LIMIT``; the seed and the
    iteration limit given, else the instance's own ("seed", "improve_iterations"). The time
    limit bounds the whole call, reading and validation included. ``instance`` may also be a
    function that gives the instance read (``Model.solve`` writes its document in the call)."""
    called = CallClock()
    check_solve_options({"time_limit": time_limit, "improve": improve, "seed": seed,
                         "iterations": iterations, "clock": clock, "progress": progress,
                         "stop": stop, "validate": validate})
    reading = read_for_solve(instance() if callable(instance) else instance)
    # What cannot be read is refused first; validation lists the rest.
    reading.require(every=not validate)
    if validate:
        refuse_errors(reading)
    own = reading.options
    called.start(clock, budget_seconds(own, time_limit), stop)
    if _has_loads_or_orders(reading) and not core_enforces_constraints():
        raise SolverError("the instance has loads, service durations, shipments or sequence "
                          "pairs, which this build of the core does not honour; install a "
                          "build that does")
    try:
        scale = unit_scale(reading)
        if scale.refused:
            refuse_errors(reading)
        text = _solver_text(solver_document(reading, scale))
        set_up = called.elapsed()
        result = _run_solver(
            text, time_limit=max(called.left(), _LEAST_SEARCH), clock=clock, improve=improve,
            seed=own.seed if seed is None else seed,
            iterations=own.iterations if iterations is None else iterations,
            progress=_progress_hook(progress, reading, scale.factor), stop=called)
        if called.reached:
            result["timeout"] = True
        return _solution(reading, scale, result, bool(result["interrupted"]) and not
                         called.reached, called, set_up)
    except (KeyError, TypeError, AttributeError, IndexError, ValueError, SolverError):
        if not validate:
            refuse_errors(reading)  # an instance solved unvalidated: say what is wrong
        raise


def refuse_errors(instance: Instance | dict[str, Any]) -> None:
    """Raise ``ValidationError`` listing the errors of an instance that has any."""
    findings = validate(instance)
    if findings.errors:
        raise ValidationError(findings) from None


def _in_units(route: dict[str, Any], cost: float, f: float) -> dict[str, Any]:
    """A route of the solver in the instance's units: its cost, and the times of its reported
    schedule (the loads are no times)."""
    route = dict(route, cost=cost)
    schedule = route.get("schedule")
    if f != 1.0 and isinstance(schedule, list):
        route["schedule"] = [
            {key: value * f if key in ("arrival", "start", "departure") else value
             for key, value in entry.items()} if isinstance(entry, dict) else entry
            for entry in schedule]
    return route


def _solution(
    instance: Instance,
    scale: UnitScale,
    result: dict[str, Any],
    interrupted: bool,
    called: CallClock,
    set_up: float,
) -> Solution:
    f = scale.factor
    objective = instance.objective
    document = instance.document
    found = result["status"] == "success"
    stats = result["statistics"]
    statistics = Statistics(
        stats["solve_time"], stats["last_update_time"], stats["n_generated"],
        stats["n_expanded"], bool(result["timeout"]), stats["search_time"], result["clock"],
    )
    history = tuple(
        Progress(p["time"], objective_of_totals(objective, p["max_cost"] * f, p["sum_cost"] * f),
                 p["max_cost"] * f, p["sum_cost"] * f)
        for p in result["anytime"]
    )
    costs = [route["cost"] * f for route in result["routes"]] if found else []
    # The checker reads the document as this package solves it (every number a cost): the
    # routes are offered as a solution of the package.
    report = check(document, {
        "status": INTERRUPTED if interrupted else SOLVED,
        "routes": [_in_units(route, cost, f) for route, cost in zip(result["routes"], costs,
                                                                    strict=False)],
    })
    if not found or report.violations:
        # A search that ends without routes, or with routes that break the rules (a leg with
        # no connection, say), has no solution to show.
        reasons = () if interrupted else tuple(no_solution_reasons(instance, called.expired))
        # The core's own reason, when the quick look finds none.
        core_reason = result.get("reason")
        if found:
            reasons += ((f"the solver's routes break the rules ({len(report.violations)} "
                        f"violation(s)), first: {report.violations[0]}"),)
        elif not reasons and not interrupted:
            reasons = ((core_reason,) if isinstance(core_reason, str) and core_reason
                       else ("the search found no solution within its limits",))
            if set_up >= called.limit / 2:
                left = max(called.limit - set_up, 0)
                reasons = (f"the time limit of {called.limit:g} s left the search {left:.3g} s: "
                           "reading, validating and writing the instance for the solver took "
                           f"{set_up:.3g} s of it"),
        return Solution(INTERRUPTED if interrupted else NO_SOLUTION, objective, 0.0, 0.0, 0.0,
                        history=history, statistics=statistics, reasons=reasons,
                        notes=scale.notes, scale=f, instance=document)
    nodes = instance.nodes
    routes = tuple(
        Route(
            agent=agent.label,
            agent_type=agent.type,
            cost=cost,
            stops=tuple(Stop(nodes[s.vertex].label, s.vertex, s.arrival, s.wait, s.departure,
                             s.service, s.load)
                        for s in schedule),
            agent_key=agent.id,
        )
        for agent, cost, schedule in zip(instance.agents, costs, report.schedules, strict=True)
    )
    longest, total = route_totals(costs)
    return Solution(
        SOLVED if not interrupted else INTERRUPTED, objective, objective_value(objective, costs),
        longest, total, routes, history, statistics, notes=scale.notes, scale=f,
        instance=document,
    )
