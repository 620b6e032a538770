"""The document the solver receives, in units it reads correctly.

The solver reads every cost or edge weight of 9999 or more as "no connection", waits included.
When a cost, a window bound or a route limit of an instance reaches 9999, costs, windows and
limits are divided by one factor before solving and results multiplied back afterwards. The
factor is a power of two, so every division, sum and comparison of the scaled problem is exact
in floating point: the scaled problem is the same problem. The one exception is a route limit,
which the solver reads as a whole number: a limit that the factor does not divide is tightened
to the nearest multiple below, and the note says so.
"""

from __future__ import annotations

import copy
import math
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

from orvik.documents import is_finite_number
from orvik.rules import NO_CONNECTION


@dataclass(frozen=True)
class UnitScale:
    """How an instance is scaled for the solver: values are divided by ``factor``."""

    factor: float = 1.0
    notes: tuple[str, ...] = ()

    @property
    def scaled(self) -> bool:
        """Whether the solver works in other units than the instance."""
        return self.factor != 1.0


def _windows(document: dict[str, Any]) -> Iterator[dict[str, Any]]:
    for constraint in document.get("constraints") or []:
        if constraint.get("kind") == "timewindow":
            yield from constraint.get("items") or []


def _largest(document: dict[str, Any]) -> float:
    """The largest cost, window bound (in magnitude) or route limit of a valid document."""
    values = [c for matrix in (document.get("costs") or {}).values() for row in matrix
              for c in row if is_finite_number(c)]
    values += [abs(item[key]) for item in _windows(document) for key in ("start", "end")]
    values += [a["max_length"] for a in document["agents"]
               if is_finite_number(a.get("max_length"))]
    return max(values, default=0.0)


def unit_scale(document: dict[str, Any]) -> UnitScale:
    """The scale a valid instance document needs: 1 when every cost, window bound and route
    limit is below 9999, else the smallest power of two that brings them below."""
    largest = _largest(document)
    if largest < NO_CONNECTION:
        return UnitScale()
    factor = 2.0 ** max(1, math.ceil(math.log2(largest / NO_CONNECTION)))
    while largest / factor >= NO_CONNECTION:
        factor *= 2.0
    notes = [
        (
            f"a cost, window bound or route limit reaches {NO_CONNECTION:g} (largest "
            f"{largest:g}), which the solver reads as no connection: it solved in units of "
            f"{factor:g} (costs, windows and limits divided by {factor:g}, which is exact) and "
            "the results are in the instance's units"
        )
    ]
    for k, agent in enumerate(document["agents"]):
        limit = agent.get("max_length")
        if not is_finite_number(limit) or limit <= 0:
            continue
        applied = math.trunc(math.trunc(limit) / factor) * factor
        if applied != math.trunc(limit):
            who = agent.get("name", agent["id"])
            notes.append(
                f"agent {who} (agents[{k}]): max_length {math.trunc(limit)} is applied as "
                f"{applied:g}, because the solver reads limits as whole numbers of the scaled "
                f"unit {factor:g}"
            )
    return UnitScale(factor, tuple(notes))


def solver_document(
    document: dict[str, Any],
    scale: UnitScale,
    *,
    improve: bool | None = None,
    seed: int | None = None,
) -> dict[str, Any]:
    """The document handed to the solver: values in scaled units, no-connection entries (null)
    as 9999, every node's allowed types spelled out, z given, and the improvement options that
    are given set (the package's solves hand them to the solver's entry point instead)."""
    doc = copy.deepcopy(document)
    f = scale.factor
    doc["costs"] = {
        kind: [[NO_CONNECTION if c is None else c / f for c in row] for row in matrix]
        for kind, matrix in (doc.get("costs") or {}).items()
    }
    for item in _windows(doc):
        item["start"] /= f
        item["end"] /= f
    for agent in doc["agents"]:
        limit = agent.get("max_length")
        if is_finite_number(limit) and f != 1.0:
            agent["max_length"] = math.trunc(limit) / f
    for node in doc["nodes"]:
        node.setdefault("z", 0.0)
    _spell_out_assignment(doc)
    options = doc.setdefault("options", {})
    if improve is not None:
        options["improve"] = bool(improve)
    if seed is not None:
        options["seed"] = int(seed)
    return doc


def _spell_out_assignment(doc: dict[str, Any]) -> None:
    """Give every node without an assignment entry the list of all agent types, which the
    solver reads the same way (every type may serve it) without a warning per node."""
    constraints = doc.setdefault("constraints", [])
    assigned = {item["node"] for c in constraints if c.get("kind") == "assignment"
                for item in c.get("items") or []}
    types = list(dict.fromkeys(a["type"] for a in doc["agents"]))
    missing = [{"node": n["id"], "types": types} for n in doc["nodes"] if n["id"] not in assigned]
    if missing and types:
        constraints.append({"kind": "assignment", "items": missing})
