"""Solving a ``Model``: validate, scale the units, run the solver, speak the model's ids."""

from __future__ import annotations

import json
from typing import TYPE_CHECKING, Any

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
    Route,
    Solution,
    Statistics,
    Stop,
)
from orvik.units import UnitScale, solver_document, unit_scale

if TYPE_CHECKING:
    from orvik.model import Model


class SolverError(RuntimeError):
    """The solver refused an instance that passed validation (or was not validated)."""


def _run_solver(document: dict[str, Any], time_limit: float | None) -> tuple[dict[str, Any], bool]:
    """Run one search on an instance document; returns the result dictionary and whether the
    run was interrupted. Every solve of the package goes through here."""
    try:
        result = _orvik_core.solve_json_str(json.dumps(document), time_limit or -1.0)
    except (RuntimeError, IndexError) as error:
        raise SolverError(f"the solver refused the instance: {error}") from None
    return result, False


def solve_model(
    model: Model,
    time_limit: float | None = None,
    *,
    improve: bool = True,
    seed: int | None = None,
    validate: bool = True,
) -> Solution:
    """Solve a model; see ``Model.solve``."""
    document = model.to_dict()
    if validate:
        findings = validation.validate(document)
        if findings.errors:
            raise validation.ValidationError(findings)
    scale = unit_scale(document)
    core_document = solver_document(document, scale, improve=improve, seed=seed)
    limit = time_limit if time_limit is not None else model.time_limit
    result, interrupted = _run_solver(core_document, limit)
    return _solution(model, document, scale, result, interrupted)


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
        stats["n_expanded"], bool(result["timeout"]),
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
