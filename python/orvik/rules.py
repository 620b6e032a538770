"""The instance conventions the Python side shares with the core, each stated once.

- ``NO_CONNECTION``: a cost of 9999 or more means "no connection"; a missing matrix entry is
  read as that cost.
- Objective names: ``"min_max"`` and ``"MIN_MAX"`` choose MinMax; every other name (and no name)
  chooses MinSum, as the core's loader reads them. ``OBJECTIVE_NAMES`` lists the spellings a
  document should use.
- Scoring: MinMax scores the longest route, MinSum the sum; a value improves on another only
  when it is lower by more than ``IMPROVEMENT_TOLERANCE``.
- ``SEARCH_POINT_LIMIT``: the most points the search handles (its states' visited sets); beyond
  it only the improvement engine solves an instance.
- Comparing whole solutions: by the objective's value first, then by the other figure (MinMax:
  the sum; MinSum: the longest route), each compared with the tolerance.
- The numbers of a document: ids are whole numbers below ``ID_END`` (2^64); route limits and
  capacities are read as 32-bit integers (``INT32_MIN`` to ``INT32_MAX``); ``CONSTRAINT_KINDS``
  are the kinds of constraint there are, ``PAIR_TYPES`` the types of a sequence pair.
- The options of a solve: ``DEFAULT_TIME_LIMIT`` seconds when neither the call nor the instance
  gives a time limit; seeds are whole numbers below ``SEED_END``, improvement iterations below
  ``ITERATIONS_END`` (0: no limit); ``count_problem`` is their one range check.
"""

from __future__ import annotations

from collections.abc import Iterable

NO_CONNECTION = 9999.0
IMPROVEMENT_TOLERANCE = 1e-9
SEARCH_POINT_LIMIT = 256

ID_END = 1 << 64
INT32_MIN = -(1 << 31)
INT32_MAX = (1 << 31) - 1
CONSTRAINT_KINDS = ("assignment", "timewindow", "sequence", "shipment")
# The types of a sequence pair: one agent's route ("same") or two agents' routes ("diff"); a pair
# without a type orders the starts of service wherever the two sites are served.
PAIR_TYPES = ("same", "diff")

DEFAULT_TIME_LIMIT = 60.0
SEED_END = 1 << 64
ITERATIONS_END = 1 << 63

MIN_MAX = "min_max"
MIN_SUM = "min_sum"
OBJECTIVES = (MIN_MAX, MIN_SUM)
# Every spelling the loader recognises, mapped to its objective.
OBJECTIVE_NAMES = {"min_max": MIN_MAX, "MIN_MAX": MIN_MAX, "min_sum": MIN_SUM, "MIN_SUM": MIN_SUM}
# What each objective's value measures, in words.
OBJECTIVE_MEANINGS = {MIN_MAX: "the cost of the longest route", MIN_SUM: "the sum of the route costs"}


def count_problem(value: object, end: int) -> str | None:
    """What keeps ``value`` from being a count below ``end`` (a seed, a number of iterations):
    "not a whole number", "below 0" or "too large"; None when it is one."""
    if isinstance(value, bool) or not isinstance(value, int):
        return "not a whole number"
    if value < 0:
        return "below 0"
    if value >= end:
        return "too large"
    return None


def is_no_connection(cost: float) -> bool:
    """Whether a leg of this cost is no connection at all."""
    return cost >= NO_CONNECTION


def objective_from_name(name: object) -> str:
    """The objective an instance's ``options.objective`` chooses, read as the solver reads it."""
    return MIN_MAX if name in ("min_max", "MIN_MAX") else MIN_SUM


def route_totals(costs: Iterable[float]) -> tuple[float, float]:
    """The longest route (from 0.0) and the sum of the routes, added in order."""
    longest = 0.0
    total = 0.0
    for cost in costs:
        longest = max(longest, cost)
        total += cost
    return longest, total


def objective_of_totals(objective: str, longest: float, total: float) -> float:
    """The objective's value given the longest route and the sum of the routes."""
    return longest if objective_from_name(objective) == MIN_MAX else total


def objective_value(objective: str, costs: Iterable[float]) -> float:
    """The objective's value of a set of route costs: the longest route or the sum."""
    return objective_of_totals(objective, *route_totals(costs))


def improves(candidate: float, best: float) -> bool:
    """Whether ``candidate`` is lower than ``best`` by more than the tolerance."""
    return best - IMPROVEMENT_TOLERANCE > candidate


def objective_key(objective: str, costs: Iterable[float]) -> tuple[float, float]:
    """The order whole solutions are compared in: the objective's value, then the other figure."""
    longest, total = route_totals(costs)
    return (longest, total) if objective_from_name(objective) == MIN_MAX else (total, longest)


def better(objective: str, candidate: Iterable[float], best: Iterable[float]) -> bool:
    """Whether route costs ``candidate`` make a better solution than ``best`` under the
    objective: a lower value, or the same value (within the tolerance) and a lower other
    figure."""
    first, second = objective_key(objective, candidate)
    best_first, best_second = objective_key(objective, best)
    if improves(first, best_first):
        return True
    if improves(best_first, first):
        return False
    return improves(second, best_second)
