"""Many solves at once: ``solve_many`` solves a batch of instances, ``solve`` with
``workers=N`` runs a portfolio of N seeds on one instance and keeps the best solution.

Both hand their solves to an executor: anything with ``submit(fn, *args, **kwargs)`` that
returns a future with ``result()``. That is a ``concurrent.futures`` thread or process pool, or a
Dask ``distributed.Client`` (install the extra ``orvik[distributed]``), so the same code runs on
a laptop and on a cluster. Without one they use a pool of threads: the solver releases the
interpreter lock, so threads solve in parallel. Each solve's time limit counts its own clock
(``clock="wall"`` by default, or ``clock="cpu"``: the processor time of its thread, which the
other solves do not use up).

Instances are ``Model``s, instance documents (dicts) or paths of JSON instances; paths are read
where ``solve_many`` is called, so the workers need no access to them.
"""

from __future__ import annotations

import os
import threading
from collections.abc import Callable, Iterable, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Any, Protocol

from orvik.model import Model
from orvik.rules import better
from orvik.solution import Solution

Instance = Model | dict[str, Any] | str | os.PathLike[str]
Outcome = Solution | BaseException


class Executor(Protocol):
    """What ``executor=`` takes: ``concurrent.futures`` pools and Dask clients alike."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> Any:
        """Run ``fn(*args, **kwargs)`` somewhere; returns a future with ``result()``."""
        ...


def as_model(instance: Instance) -> Model:
    """A model for an instance given as a ``Model``, a document or a path (not validated here:
    the solve validates it)."""
    if isinstance(instance, Model):
        return instance
    return Model.from_json(instance, validate=False)


def solve_one(model: Model, options: dict[str, Any]) -> Solution:
    """One solve as a task: ``model.solve(**options)``. Module-level, so that process pools and
    Dask workers can run it."""
    return model.solve(**options)


def _default_workers() -> int:
    return os.cpu_count() or 1


def _run_all(
    tasks: Sequence[tuple[Model, dict[str, Any]] | BaseException],
    executor: Executor | None,
    workers: int | None,
    return_exceptions: bool,
    on_result: Callable[[int, Outcome], None] | None,
) -> list[Outcome]:
    """Submit every task, then collect the results in order. A task given as an exception (an
    instance that could not be read) is that task's outcome. With the package's own thread pool,
    Ctrl-C stops the running solves at once (each keeps its best routes) before it is raised,
    unless the options bring their own stop event."""
    own = executor is None
    pool: Any = ThreadPoolExecutor(max_workers=workers or _default_workers()) if own else executor
    stop = threading.Event() if own else None
    futures: list[Any] = []
    try:
        for task in tasks:
            if isinstance(task, BaseException):
                failed: Future[Solution] = Future()
                failed.set_exception(task)
                futures.append(failed)
                continue
            model, options = task
            if stop is not None and "stop" not in options:
                options = {**options, "stop": stop}
            futures.append(pool.submit(solve_one, model, options))
        outcomes: list[Outcome] = []
        for index, future in enumerate(futures):
            try:
                outcome: Outcome = future.result()
            except Exception as error:
                if not return_exceptions:
                    raise
                outcome = error
            outcomes.append(outcome)
            if on_result is not None:
                on_result(index, outcome)
        return outcomes
    except BaseException:
        if stop is not None:
            stop.set()
        for future in futures:
            future.cancel()
        raise
    finally:
        if own:
            pool.shutdown(wait=True, cancel_futures=True)


def solve_many(
    instances: Iterable[Instance],
    *,
    executor: Executor | None = None,
    workers: int | None = None,
    return_exceptions: bool = False,
    on_result: Callable[[int, Outcome], None] | None = None,
    **options: Any,
) -> list[Outcome]:
    """Solve many instances in parallel; returns their solutions in the order given.

    ``options`` are those of ``Model.solve`` (``time_limit``, ``clock``, ``improve``, ``seed``,
    ``iterations``, ``validate``), the same for every instance. ``executor`` runs the solves (a
    ``concurrent.futures`` pool or a Dask ``distributed.Client``); without one, a pool of
    ``workers`` threads (default: one per processor) does. With ``return_exceptions`` an
    instance that fails (unreadable, invalid, refused) has its exception in its place and the
    others go on; otherwise the first failure is raised. ``on_result(index, outcome)`` is called
    for each instance as its outcome is collected, in order.
    """
    tasks: list[tuple[Model, dict[str, Any]] | BaseException] = []
    for instance in instances:
        try:
            tasks.append((as_model(instance), options))
        except Exception as error:
            if not return_exceptions:
                raise
            tasks.append(error)
    return _run_all(tasks, executor, workers, return_exceptions, on_result)


def solve(
    instance: Instance,
    time_limit: float | None = None,
    *,
    workers: int = 1,
    executor: Executor | None = None,
    seed: int | None = None,
    **options: Any,
) -> Solution:
    """Solve one instance (a ``Model``, a document or a path); see ``Model.solve`` for the
    options. The time limit counts wall-clock time unless ``clock="cpu"`` is given.

    With ``workers=N`` above 1 it runs a portfolio: N solves with the seeds ``seed``,
    ``seed + 1``, ... (from 0 when no seed is given) on N workers (threads, or ``executor``),
    and returns the best solution under the objective: the lowest value, then the lowest other
    figure (MinMax: the sum; MinSum: the longest route); ties go to the lower seed. A solution
    with routes beats one without; when no run has routes, the first seed's outcome is returned.
    """
    model = as_model(instance)
    if workers <= 1 and executor is None:
        return model.solve(time_limit, seed=seed, **options)
    first = 0 if seed is None else seed
    tasks = [(model, {**options, "time_limit": time_limit, "seed": first + k})
             for k in range(max(workers, 1))]
    outcomes = _run_all(tasks, executor, workers, False, None)
    return best_solution([o for o in outcomes if isinstance(o, Solution)])


def best_solution(solutions: Sequence[Solution]) -> Solution:
    """The best of several solutions of one instance: one with routes before one without, then
    the better under the objective's key order (orvik.rules.better); ties go to the earlier."""
    best = solutions[0]
    for candidate in solutions[1:]:
        if candidate.routes and (not best.routes or better(
                candidate.objective, [r.cost for r in candidate.routes],
                [r.cost for r in best.routes])):
            best = candidate
    return best
