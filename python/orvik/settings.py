"""The settings of a solve: their names, their checks and the time limit a solve runs with.

Every entry of the package (``Model.solve``, ``orvik.solve``, ``solve_many``, the command line)
takes the same settings under the same names and checks them here, before any work; their
defaults and ranges are in ``orvik.rules``. A solve hands them to the solver's entry point as
arguments, so the instance document is never rewritten to carry them.
"""

from __future__ import annotations

import math
import numbers
from typing import Any, Protocol

from orvik.documents import did_you_mean
from orvik.rules import DEFAULT_TIME_LIMIT, ITERATIONS_END, SEED_END, count_problem

# The clocks a time limit may count: wall-clock time, or the processor time of the thread that
# solves.
CLOCKS = ("wall", "cpu")
SOLVE_OPTIONS = ("time_limit", "improve", "seed", "iterations", "clock", "progress", "stop",
                 "validate")
# The whole-number settings: the end of their range and how a message describes it.
COUNTS = {"seed": (SEED_END, "a whole number from 0 to 2**64 - 1"),
          "iterations": (ITERATIONS_END, "a whole number, 0 (no limit) or more")}


class HasTimeLimit(Protocol):
    """What has a time limit of its own: a ``Model``, or the options of an instance read."""

    @property
    def time_limit(self) -> float | None:
        """Its own time limit in seconds (None: none)."""
        ...


def check_time_limit(time_limit: object, name: str = "time_limit") -> float | None:
    """A time limit as given: None (the instance's own, else ``rules.DEFAULT_TIME_LIMIT``) or a
    positive, finite number of seconds."""
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


def check_count(name: str, value: object) -> int | None:
    """A seed or an iteration count as given: None, or a whole number in its range."""
    if value is None:
        return None
    end, what = COUNTS[name]
    if count_problem(value, end) is not None:
        raise ValueError(f"{name} must be {what}, got {value!r}")
    assert isinstance(value, int)
    return value


def check_flag(name: str, value: object) -> bool:
    """A setting that is True or False."""
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, got {type(value).__name__} {value!r}")
    return value


def check_solve_options(options: dict[str, Any], caller: str = "solve") -> None:
    """Refuse an unknown option of a solve, or a value it cannot take, naming it."""
    unknown = [key for key in options if key not in SOLVE_OPTIONS]
    if unknown:
        raise TypeError(f"{caller}() got an unknown option {unknown[0]!r}"
                        f"{did_you_mean(unknown[0], SOLVE_OPTIONS)}; the options are "
                        f"{', '.join(SOLVE_OPTIONS)}")
    check_time_limit(options.get("time_limit"))
    for flag in ("improve", "validate"):
        if flag in options:
            check_flag(flag, options[flag])
    for name in COUNTS:
        check_count(name, options.get(name))
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


def budget_seconds(own: HasTimeLimit, time_limit: float | None) -> float:
    """The time limit a solve runs with: ``time_limit`` when above 0, else the instance's own
    (``own.time_limit``: a model's, or an instance's options), else
    ``rules.DEFAULT_TIME_LIMIT``."""
    if time_limit is not None and time_limit > 0:
        return time_limit
    return own.time_limit if own.time_limit is not None else DEFAULT_TIME_LIMIT
