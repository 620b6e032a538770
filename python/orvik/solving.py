"""Solving a ``Model``: validate, scale the units, run the solver, speak the model's ids.

The solver runs without the interpreter lock, so other Python threads (and other solves) run
meanwhile. Its own lines go to the logger ``orvik.core``: its warnings at WARNING, its progress
lines at DEBUG.
"""

from __future__ import annotations

import json
import logging
from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Protocol

import _orvik_core

from orvik import validation
from orvik.checker import check
from orvik.diagnosis import no_solution_reasons
from orvik.rules import objective_of_totals, objective_value, route_totals
from orvik.solution import (
    INTERRUPTED,
    NO_SOLUTION,
    SOLVED,
    Progress,
    ProgressReport,
    Route,
    Solution,
    Statistics,
    Stop,
)
from orvik.units import UnitScale, solver_document, unit_scale

if TYPE_CHECKING:
    from orvik.model import Model


# The clocks a time limit may count: wall-clock time, or the processor time of the thread that
# solves.
CLOCKS = ("wall", "cpu")
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


def _check_count(name: str, value: object, what: str, end: int) -> None:
    """Refuse a seed or an iteration count that is not a whole number in [0, end)."""
    if value is None:
        return
    if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value < end:
        raise ValueError(f"{name} must be {what}, got {value!r}")


def budget_seconds(model: Model, time_limit: float | None) -> float:
    """The time limit a solve runs with: ``time_limit`` when above 0, else the model's own, else
    the solver's 60 seconds."""
    if time_limit is not None and time_limit > 0:
        return time_limit
    return model.time_limit if model.time_limit is not None else 60.0


def _log_core_line(stream: str, line: str) -> None:
    CORE_LOGGER.log(logging.WARNING if stream == "stderr" else logging.DEBUG, "%s", line)


def _progress_hook(progress: ProgressCallback | None,
                   factor: float) -> Callable[[dict[str, Any]], None] | None:
    """The solver's progress dictionaries as ``ProgressReport``s in the instance's units."""
    if progress is None:
        return None

    def hook(report: dict[str, Any]) -> None:
        best = report["best"]
        try:
            progress(ProgressReport(report["phase"], report["elapsed"], report["work"],
                                    None if best is None else best * factor, report["improved"]))
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:
            raise _CallbackFailed from error

    return hook


def _run_solver(document: dict[str, Any], time_limit: float | None, **options: Any
                ) -> dict[str, Any]:
    """Run one solve of an instance document through the solver's entry point and return its
    result dictionary. Every solve of the package goes through here."""
    try:
        return _orvik_core.solve_document(json.dumps(document), time_limit=time_limit or -1.0,
                                          log=_log_core_line, **options)
    except _CallbackFailed as failed:
        cause = failed.__cause__
        assert cause is not None
        raise cause from None
    except (RuntimeError, IndexError) as error:
        raise SolverError(f"the solver refused the instance: {error}") from None


def solve_model(
    model: Model,
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
    """Solve a model; see ``Model.solve``."""
    if clock not in CLOCKS:
        raise ValueError(f"clock must be one of {', '.join(map(repr, CLOCKS))}, got {clock!r}")
    _check_count("seed", seed, "a whole number from 0 to 2**64 - 1", 1 << 64)
    _check_count("iterations", iterations, "a whole number, 0 (no limit) or more", 1 << 63)
    document = model.to_dict()
    if validate:
        findings = validation.validate(document)
        if findings.errors:
            raise validation.ValidationError(findings)
    scale = unit_scale(document)
    core_document = solver_document(document, scale)
    limit = time_limit if time_limit is not None else model.time_limit
    result = _run_solver(core_document, limit, clock=clock, improve=improve, seed=seed,
                         iterations=iterations, progress=_progress_hook(progress, scale.factor),
                         stop=stop)
    return _solution(model, document, scale, result, bool(result["interrupted"]))


def _solution(
    model: Model,
    document: dict[str, Any],
    scale: UnitScale,
    result: dict[str, Any],
    interrupted: bool,
) -> Solution:
    f = scale.factor
    objective = model.objective
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
    report = check(document, {
        "status": result["status"],
        "routes": [dict(route, cost=cost) for route, cost in zip(result["routes"], costs,
                                                                 strict=False)],
        "scale": f,
    })
    if not found or report.violations:
        # A search that ends without routes, or with routes that break the rules (a leg with
        # no connection, say), has no solution to show.
        reasons = () if interrupted else tuple(no_solution_reasons(document))
        if found:
            reasons += ((f"the solver's routes break the rules ({len(report.violations)} "
                        f"violation(s)), first: {report.violations[0]}"),)
        elif not reasons and not interrupted:
            reasons = ("the search found no solution within its limits",)
        return Solution(INTERRUPTED if interrupted else NO_SOLUTION, objective, 0.0, 0.0, 0.0,
                        history=history, statistics=statistics, reasons=reasons,
                        notes=scale.notes, scale=f, instance=document)
    nodes = model.nodes
    routes = tuple(
        Route(
            agent=agent.id,
            agent_type=agent.type,
            cost=cost,
            stops=tuple(Stop(nodes[s.vertex].id, s.vertex, s.arrival, s.wait, s.departure)
                        for s in schedule),
            agent_key=key,
        )
        for agent, key, cost, schedule in zip(model.agents, model.agent_keys(), costs,
                                              report.schedules, strict=True)
    )
    longest, total = route_totals(costs)
    return Solution(
        SOLVED if not interrupted else INTERRUPTED, objective, objective_value(objective, costs),
        longest, total, routes, history, statistics, notes=scale.notes, scale=f,
        instance=document,
    )
