"""Solving an instance: validate, scale the units, run the solver, speak the caller's ids.

Every solve of the package goes one way (``solve_instance``): a ``Model`` or an instance
document (a dict or a path), validated once as it is, handed to the solver as it is (in scaled
units, without the keys the solver does not read) and its routes told in the caller's ids. The
solver runs without the interpreter lock, so other Python threads (and other solves) run
meanwhile. Its own lines go to the logger ``orvik.core``: its warnings at WARNING, its progress
lines at DEBUG.
"""

from __future__ import annotations

import json
import logging
import math
import numbers
import os
from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Protocol

import _orvik_core

from orvik import validation
from orvik.checker import check
from orvik.diagnosis import no_solution_reasons
from orvik.documents import InstanceError, load_document
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


def check_time_limit(time_limit: object, name: str = "time_limit") -> float | None:
    """A time limit as given: None (the instance's own, else 60 s) or a positive, finite number
    of seconds."""
    if time_limit is None:
        return None
    if isinstance(time_limit, bool) or not isinstance(time_limit, numbers.Real):
        raise TypeError(f"{name} must be a number of seconds or None, got "
                        f"{type(time_limit).__name__} {time_limit!r}")
    seconds = float(time_limit)
    if not (math.isfinite(seconds) and seconds > 0):
        raise ValueError(f"{name} must be a positive, finite number of seconds (None: the "
                         f"instance's own), got {time_limit!r}")
    return seconds


def _check_flag(name: str, value: object) -> None:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, got {type(value).__name__} {value!r}")


SOLVE_OPTIONS = ("time_limit", "improve", "seed", "iterations", "clock", "progress", "stop",
                 "validate")


def check_solve_options(options: dict[str, Any], caller: str = "solve") -> None:
    """Refuse an unknown option of a solve, or a value it cannot take, naming it."""
    unknown = [key for key in options if key not in SOLVE_OPTIONS]
    if unknown:
        raise TypeError(f"{caller}() got an unknown option {unknown[0]!r}; the options are "
                        f"{', '.join(SOLVE_OPTIONS)}")
    check_time_limit(options.get("time_limit"))
    for flag in ("improve", "validate"):
        if flag in options:
            _check_flag(flag, options[flag])
    _check_count("seed", options.get("seed"), "a whole number from 0 to 2**64 - 1", 1 << 64)
    _check_count("iterations", options.get("iterations"),
                 "a whole number, 0 (no limit) or more", 1 << 63)
    clock = options.get("clock", "wall")
    if not isinstance(clock, str) or clock not in CLOCKS:
        raise ValueError(f"clock must be one of {', '.join(map(repr, CLOCKS))}, got {clock!r}")
    progress = options.get("progress")
    if progress is not None and not callable(progress):
        raise TypeError(f"progress must be a function taking a ProgressReport, got "
                        f"{type(progress).__name__}")
    stop = options.get("stop")
    if stop is not None and not callable(getattr(stop, "is_set", None)):
        raise TypeError(f"stop must have an is_set() method (a threading.Event, say), got "
                        f"{type(stop).__name__}")


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
        text = json.dumps(document, allow_nan=False)
    except ValueError:
        raise InstanceError("the instance holds a NaN or an infinite number where the solver "
                            "reads one (validate it to find where)") from None
    try:
        return _orvik_core.solve_document(text, time_limit=time_limit or -1.0,
                                          log=_log_core_line, **options)
    except _CallbackFailed as failed:
        cause = failed.__cause__
        assert cause is not None
        raise cause from None
    except (RuntimeError, IndexError) as error:
        raise SolverError(f"the solver refused the instance: {error}") from None



def instance_model(instance: Any) -> tuple[dict[str, Any], Model]:
    """The document to solve and the model that speaks its ids, for a ``Model`` (its document),
    an instance document or a path (read here). What cannot be read raises ``InstanceError``,
    anything but these three ``TypeError``."""
    from orvik.model import Model

    if isinstance(instance, Model):
        return instance.to_dict(), instance
    if not isinstance(instance, (dict, str, os.PathLike)):
        raise TypeError(f"an instance is a Model, a dict or the path of a JSON file, got "
                        f"{type(instance).__name__}")
    document = load_document(instance)
    return document, Model.from_json(document, validate=False)


def solve_instance(
    instance: Any,
    time_limit: float | None = None,
    *,
    improve: bool = True,
    seed: int | None = None,
    iterations: int | None = None,
    clock: str = "wall",
    progress: ProgressCallback | None = None,
    stop: StopEvent | None = None,
    validate: bool = True,
    model: Model | None = None,
) -> Solution:
    """Solve a ``Model``, an instance document or a path; see ``Model.solve`` for the options.

    The document is validated as it is (``ValidationError`` lists its errors) and solved as it
    is; ``model`` (read from the document when not given) gives the routes their ids."""
    check_solve_options({"time_limit": time_limit, "improve": improve, "seed": seed,
                         "iterations": iterations, "clock": clock, "progress": progress,
                         "stop": stop, "validate": validate})
    if model is None or not isinstance(instance, dict):
        document, model = instance_model(instance)
    else:
        document = instance
    if validate:
        refuse_errors(document)
    try:
        scale = unit_scale(document)
        if scale.refused:
            refuse_errors(document)
        core_document = solver_document(document, scale)
        limit = time_limit if time_limit is not None else model.time_limit
        result = _run_solver(core_document, limit, clock=clock, improve=improve, seed=seed,
                             iterations=iterations,
                             progress=_progress_hook(progress, scale.factor), stop=stop)
        return _solution(model, document, scale, result, bool(result["interrupted"]))
    except (KeyError, TypeError, AttributeError, IndexError, ValueError, SolverError):
        if not validate:
            refuse_errors(document)  # an instance solved unvalidated: say what is wrong
        raise


def refuse_errors(document: Any) -> None:
    """Raise ``ValidationError`` listing the errors of a document that has any."""
    findings = validation.validate(document)
    if findings.errors:
        raise validation.ValidationError(findings) from None


def solve_model(model: Model, time_limit: float | None = None, **options: Any) -> Solution:
    """Solve a model; see ``Model.solve``."""
    return solve_instance(model, time_limit, **options)


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
    # The checker reads the document as this package solves it (every number a cost): the
    # routes are offered as a solution of the package.
    report = check(document, {
        "status": INTERRUPTED if interrupted else SOLVED,
        "routes": [dict(route, cost=cost) for route, cost in zip(result["routes"], costs,
                                                                 strict=False)],
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
