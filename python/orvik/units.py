"""The document the solver receives, in units it reads correctly.

Two readings of the solver need care:

- It reads every cost or edge weight of 9999 or more as "no connection", waits included. When
  a cost, a window bound, a service duration or a route limit of an instance reaches 9999,
  costs, windows, service durations and limits (the times) are divided by one factor before
  solving and results multiplied back afterwards. Amounts and capacities are no times and keep
  their values.
- It reads a route limit (``max_length``) as a whole number. A limit the factor does not
  divide, 0.5 or 150.9 say, would be cut to a whole number of units, and 0 means no limit at
  all. The factor is then chosen smaller (the instance solved in finer units, 2**-k) until every
  limit is a whole number of units, or until the limit the solver reads allows exactly the same
  routes: when every cost and window bound is a multiple of a unit ``g`` (whole numbers: 1),
  every route cost is one too, and a limit of 150.9 allows the same routes as 150 or any number
  up to 151.

The factor is a power of two, so every division, sum and comparison of the scaled problem is
exact in floating point: the scaled problem is the same problem. When no factor makes every limit
exact, the finest one allowed tightens each such limit to the nearest multiple below, and the
note says so; a positive limit that would become 0 (no limit) is refused instead.
"""

from __future__ import annotations

import math
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Any

from orvik.documents import is_finite_number
from orvik.instance import (
    AgentRecord,
    Amount,
    AssignmentItem,
    ConstraintRecord,
    Instance,
    NodeRecord,
    as_instance,
)
from orvik.rules import CONSTRAINT_KINDS, NO_CONNECTION

# The finest unit the solver is given: values are multiplied by at most 2**60.
_FINEST_EXPONENT = -60
# Route costs are sums of the instance's values; they stay exact multiples of the grain while
# they stay below this many grains (a double holds 53 bits).
_EXACT_GRAINS = 2.0**45


@dataclass(frozen=True)
class LimitChange:
    """A route limit the solver receives as another number: agent position, the limit as
    written, the one applied (0: it cannot be applied, the instance is refused), whether the two
    allow the same routes, and the unit every cost and window bound is a multiple of (None: no
    such unit)."""

    agent: int
    written: float
    applied: float
    same_routes: bool
    grain: float | None


@dataclass(frozen=True)
class UnitScale:
    """How an instance is scaled for the solver: values are divided by ``factor``.

    ``limits`` holds, per agent, the route limit the solver applies in the instance's units
    (None: no limit); ``changes`` the limits it applies as another number than written.
    """

    factor: float = 1.0
    notes: tuple[str, ...] = ()
    limits: tuple[float | None, ...] = ()
    changes: tuple[LimitChange, ...] = ()
    largest: float = 0.0

    @property
    def scaled(self) -> bool:
        """Whether the solver works in other units than the instance."""
        return self.factor != 1.0

    @property
    def refused(self) -> tuple[LimitChange, ...]:
        """The limits that cannot be applied: the solver would read no limit at all."""
        return tuple(change for change in self.changes if not change.applied)


def _written_limits(instance: Instance) -> list[float | None]:
    """Each agent's positive route limit as written (None: no limit; 0 or less means none)."""
    limits: list[float | None] = []
    for agent in instance.agents:
        limit = agent.max_length
        if isinstance(limit, bool):
            limit = int(limit)
        limits.append(float(limit) if is_finite_number(limit) and limit > 0 else None)
    return limits


def _values(instance: Instance) -> Iterator[list[Any]]:
    """The cost rows, the window bounds and the service durations of a valid instance, as lists
    of numbers (and nulls): the values route costs are made of."""
    for matrix in instance.costs.values():
        yield from matrix or ()
    yield [abs(bound) for item in instance.window_items() for bound in (item.start, item.end)]
    yield [node.service for node in instance.nodes if node.service]


def _largest(instance: Instance, limits: list[float | None]) -> float:
    """The largest cost, window bound (in magnitude) or route limit of a valid instance."""
    largest = max((value for value in limits if value is not None), default=0.0)
    for row in _values(instance):
        numbers = row if None not in row else [c for c in row if c is not None]
        if numbers:
            largest = max(largest, *numbers)
    return float(largest)


def _exponent(value: float) -> int:
    """The exponent of the largest power of two that divides ``value`` (> 0)."""
    numerator, denominator = value.as_integer_ratio()
    return ((numerator & -numerator).bit_length() - 1) - (denominator.bit_length() - 1)


def _grain(instance: Instance, finest: int) -> float | None:
    """The largest power of two that every cost and window bound is a multiple of; None when it
    is below ``2**finest`` (then no limit can rely on it); infinity when every value is 0."""
    exponent: int | None = None
    seen: set[float] = set()
    for row in _values(instance):
        for value in row:
            if not value or value in seen:
                continue
            seen.add(value)
            e = _exponent(float(value))
            if exponent is None or e < exponent:
                exponent = e
                if exponent < finest:
                    return None
    return math.inf if exponent is None else 2.0**exponent


def _smallest_exponent(largest: float) -> int:
    """The smallest k for which ``largest / 2**k`` is below 9999."""
    if largest <= 0:
        return _FINEST_EXPONENT
    k = max(_FINEST_EXPONENT, math.ceil(math.log2(largest / NO_CONNECTION)))
    while largest / 2.0**k >= NO_CONNECTION:
        k += 1
    while k - 1 >= _FINEST_EXPONENT and largest / 2.0 ** (k - 1) < NO_CONNECTION:
        k -= 1
    return k


class _Limits:
    """The limit each agent gets for a candidate factor."""

    def __init__(self, instance: Instance, limits: list[float | None], largest: float,
                 finest: int) -> None:
        self.instance = instance
        self.limits = limits
        self.largest = largest
        self.finest = finest
        self._grain: float | bool | None = False  # False: not computed yet

    def grain(self) -> float | None:
        if self._grain is False:
            grain = _grain(self.instance, self.finest)
            if grain is not None and grain != math.inf and self.largest / grain > _EXACT_GRAINS:
                grain = None
            self._grain = grain
        return self._grain  # type: ignore[return-value]

    def exact(self, limit: float, factor: float) -> float | None:
        """A limit that is a whole number of ``factor`` units above 0 and allows exactly the
        routes ``limit`` allows; None when there is none."""
        if (limit / factor).is_integer():
            return limit
        grain = self.grain()
        if grain is None:
            return None
        if grain == math.inf:
            return factor  # every route costs 0
        floor = math.floor(limit / grain) * grain  # the largest route cost within the limit
        applied = max(math.ceil(floor / factor), 1) * factor
        return applied if applied < floor + grain else None

    def at(self, factor: float) -> list[float | None] | None:
        """Every agent's exact limit at ``factor``; None when one has none."""
        applied: list[float | None] = []
        for limit in self.limits:
            if limit is None:
                applied.append(None)
                continue
            exact = self.exact(limit, factor)
            if exact is None:
                return None
            applied.append(exact)
        return applied


def number(value: float) -> str:
    """A number for a message, with the digits it needs (up to 12)."""
    return f"{value:.12g}"


def _who(agent: AgentRecord) -> str:
    return f"agent {agent.name if agent.name is not None else agent.id} (agents[{agent.index}])"


def unit_scale(source: Instance | dict[str, Any]) -> UnitScale:
    """The scale a valid instance (a document, or one already read) needs: 1 when every cost,
    window bound and route limit is below 9999 and every limit is applied exactly, else the
    power of two that brings the values below 9999 (the smallest) or makes the limits exact (the
    largest that does)."""
    instance = as_instance(source)
    written = _written_limits(instance)
    largest = _largest(instance, written)
    smallest = _smallest_exponent(largest)
    plan = _Limits(instance, written, largest, smallest)
    exponents = [smallest] if smallest >= 0 else list(range(0, smallest - 1, -1))
    chosen: tuple[int, list[float | None]] | None = None
    for k in exponents:
        applied = plan.at(2.0**k)
        if applied is not None:
            chosen = (k, applied)
            break
    exact = chosen is not None
    if chosen is None:
        # No factor applies every limit exactly: the finest one tightens the others.
        k = exponents[-1]
        factor = 2.0**k
        applied = [None if limit is None else (plan.exact(limit, factor)
                                               or math.floor(limit / factor) * factor)
                   for limit in written]
        chosen = (k, applied)
    k, applied = chosen
    factor = 2.0**k
    notes: list[str] = []
    if largest >= NO_CONNECTION:
        notes.append(
            f"a cost, window bound or route limit reaches {NO_CONNECTION:g} (largest "
            f"{largest:g}), which the solver reads as no connection: it solved in units of "
            f"{factor:g} (costs, windows and limits divided by {factor:g}, which is exact) and "
            "the results are in the instance's units")
    elif factor != 1.0:
        notes.append(
            f"a route limit is not a whole number: the solver, which reads limits as whole "
            f"numbers, solved in units of {factor:g} (costs, windows and limits divided by "
            f"{factor:g}, which is exact) and the results are in the instance's units")
    changes: list[LimitChange] = []
    for agent, limit, used in zip(instance.agents, written, applied, strict=True):
        k_agent = agent.index
        if limit is None or used == limit:
            continue
        same = exact and not (limit / factor).is_integer()
        grain = plan.grain() if same else None
        changes.append(LimitChange(k_agent, limit, used or 0.0, same, grain))
        if not used:
            continue
        if not same or (used < limit and factor != 1.0):
            notes.append(f"{_who(agent)}: max_length {number(limit)} is applied as "
                         f"{number(used)}, because the solver reads limits as whole numbers of the "
                         f"scaled unit {factor:g}")
        if same:
            notes.append(f"{_who(agent)}: max_length {number(limit)} and {number(used)} allow "
                         f"the same routes: {same_routes_reason(grain)}")
    return UnitScale(factor, tuple(notes), tuple(applied), tuple(changes), largest)


def same_routes_reason(grain: float | None) -> str:
    """Why two limits allow the same routes, given the unit of every cost and window bound."""
    if grain == math.inf:
        return "every cost is 0"
    return (f"every cost and window bound is a multiple of {grain:g}, so every route cost is "
            "one too")


def solver_document(
    source: Instance | dict[str, Any],
    scale: UnitScale,
    *,
    improve: bool | None = None,
    seed: int | None = None,
) -> dict[str, Any]:
    """The document handed to the solver, built from a valid instance (a document, or one
    already read): what the solver reads of the instance and nothing else (keys it ignores are
    left out), values in scaled units, no-connection entries (null) as 9999, route limits as the
    solver applies them, every node's allowed types spelled out and z given. The options are
    those that make the problem (the objective, ``return_to_end`` and ``enforce_constraints``,
    always on: the package honours loads, shipments, pairs and service durations); the package
    hands the
    settings of a solve to the solver's entry point as arguments, and ``improve`` and ``seed``
    are written into the options only when given here, for the entry points that take none."""
    instance = as_instance(source)
    f = scale.factor
    limits = scale.limits or (None,) * len(instance.agents)
    doc: dict[str, Any] = {
        "nodes": [_node(node, f) for node in instance.nodes],
        "agents": [_agent(agent, used, f) for agent, used in zip(instance.agents, limits,
                                                                  strict=True)],
        "costs": {kind: [_row(row, f) for row in matrix]
                  for kind, matrix in instance.costs.items() if matrix is not None},
        "constraints": [_constraint(c, f) for c in instance.constraints
                        if c.kind in CONSTRAINT_KINDS],
        "options": _options(instance),
    }
    spelled_out = _spelled_out(instance)
    if spelled_out is not None:
        doc["constraints"].append(spelled_out)
    options = doc["options"]
    if improve is not None:
        options["improve"] = bool(improve)
    if seed is not None:
        options["seed"] = int(seed)
    return doc


def amount_value(amount: Amount) -> float | list[float]:
    """An amount as a document writes it: a number for one dimension, else an array."""
    return amount[0] if len(amount) == 1 else list(amount)


def _node(node: NodeRecord, f: float) -> dict[str, Any]:
    item: dict[str, Any] = {"id": node.id, "x": node.x, "y": node.y, "z": node.z}
    if node.kind is not None:
        item["type"] = node.kind
    if node.delivery:
        item["demand"] = amount_value(node.delivery)
    if node.pickup:
        item["pickup"] = amount_value(node.pickup)
    if node.service:
        item["service"] = node.service / f
    return item


def _agent(agent: AgentRecord, used: float | None, f: float) -> dict[str, Any]:
    item: dict[str, Any] = {"id": agent.id, "type": agent.type, "start_node": agent.start_node,
                            "end_node": agent.end_node}
    if agent.capacities:
        item["capacity"] = amount_value(agent.capacities)
    limit = agent.max_length
    if used is not None:
        assert limit is not None
        written = limit / f
        # The limit as written, in scaled units, when the solver's truncation reads it as the
        # applied one; else the applied one.
        item["max_length"] = written if math.trunc(written) == used / f else used / f
    elif limit is not None:
        item["max_length"] = limit  # as written: 0 or less, no limit
    return item


def _row(row: list[float | None], f: float) -> list[float]:
    if None in row:
        return [NO_CONNECTION if c is None else c / f for c in row]
    if f == 1.0:
        return list(map(float, row))
    return [c / f for c in row]


def _options(instance: Instance) -> dict[str, Any]:
    # The package honours every rule of the instance: loads, shipments, pairs and services.
    options: dict[str, Any] = {"return_to_end": instance.options.return_to_end,
                               "enforce_constraints": True}
    if instance.options.objective is not None:
        options["objective"] = instance.options.objective
    return options


def _constraint(constraint: ConstraintRecord, f: float) -> dict[str, Any]:
    """A constraint of a known kind in scaled units."""
    kind = constraint.kind
    if kind == "sequence":
        return {"kind": kind, "precedence": [
            {"before": pair.before, "after": pair.after}
            | ({} if pair.type is None else {"type": pair.type}) for pair in constraint.pairs]}
    if kind == "shipment":
        return {"kind": kind, "items": [
            {"pickup": item.pickup, "delivery": item.delivery}
            | ({"amount": amount_value(item.amount)} if item.amount else {})
            for item in constraint.shipments]}
    items: list[dict[str, Any]] = []
    for item in constraint.items:
        if isinstance(item, AssignmentItem):
            items.append({"node": item.node, "types": list(item.types or ())})
        else:
            assert item.start is not None and item.end is not None
            items.append({"node": item.node, "start": item.start / f, "end": item.end / f})
    return {"kind": kind, "items": items}
def _spelled_out(instance: Instance) -> dict[str, Any] | None:
    """An assignment that gives every node without an entry the list of all agent types, which
    the solver reads the same way (every type may serve it) without a warning per node; None
    when every node has an entry (or there are no agents)."""
    types = list(instance.agent_types)
    missing = [{"node": node.id, "types": types} for node in instance.nodes
               if node.id not in instance.allowed]
    return {"kind": "assignment", "items": missing} if missing and types else None
