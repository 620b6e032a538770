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

import contextlib
import os
import queue
import signal
import threading
from collections.abc import Callable, Iterable, Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from typing import Any, Protocol

from orvik.instance import Instance, read_instance
from orvik.model import Model
from orvik.rules import better
from orvik.settings import check_solve_options
from orvik.solution import Solution
from orvik.solving import read_for_solve, refuse_errors, solve_instance

Given = Model | dict[str, Any] | str | os.PathLike[str]
Outcome = Solution | BaseException
Task = tuple[Instance, dict[str, Any]]


class Executor(Protocol):
    """What ``executor=`` takes: ``concurrent.futures`` pools and Dask clients alike."""

    def submit(self, fn: Callable[..., Any], /, *args: Any, **kwargs: Any) -> Any:
        """Run ``fn(*args, **kwargs)`` somewhere; returns a future with ``result()``."""
        ...


def read(instance: Given) -> Instance:
    """An instance given as a ``Model`` (its document), a document or a path, read once (not
    validated here: the solve validates it)."""
    if isinstance(instance, Model):
        return read_instance(instance.to_dict())
    return read_for_solve(instance)


def as_model(instance: Given) -> Model:
    """A model for an instance given as a ``Model``, a document or a path (not validated here:
    the solve validates it)."""
    if isinstance(instance, Model):
        return instance
    return Model.from_json(read(instance), validate=False)


def solve_one(instance: Instance, options: dict[str, Any]) -> Solution:
    """One solve as a task: the instance solved as it is, its routes in its ids. Module-level,
    so that process pools and Dask workers can run it."""
    return solve_instance(instance, **options)


def _default_workers() -> int:
    return os.cpu_count() or 1


def _check_batch(executor: Any, workers: Any, on_result: Any = None) -> None:
    if executor is not None and not callable(getattr(executor, "submit", None)):
        raise TypeError(f"executor must have a submit() method (a concurrent.futures pool or a "
                        f"Dask client), got {type(executor).__name__}")
    if workers is not None:
        if isinstance(workers, bool) or not isinstance(workers, int):
            raise TypeError(f"workers must be a whole number, got {type(workers).__name__} "
                            f"{workers!r}")
        if workers < 1:
            raise ValueError(f"workers must be 1 or more, got {workers}")
    if on_result is not None and not callable(on_result):
        raise TypeError(f"on_result must be a function of (index, outcome), got "
                        f"{type(on_result).__name__}")


class _Run:
    """The solves of a batch on an executor: outcomes as each finishes, and Ctrl-C that keeps
    what is done."""

    def __init__(self, executor: Executor | None, workers: int | None) -> None:
        self.own = executor is None
        self.pool: Any = (ThreadPoolExecutor(max_workers=workers or _default_workers())
                          if self.own else executor)
        # With the package's own threads, Ctrl-C stops the running solves at once (each keeps
        # its best routes), unless the options bring their own stop event.
        self.stop = threading.Event() if self.own else None
        self.done: queue.SimpleQueue[int] = queue.SimpleQueue()
        self.futures: dict[int, Any] = {}
        self.interrupted = False

    def submit(self, index: int, task: Task | BaseException) -> None:
        if isinstance(task, BaseException):
            failed: Future[Solution] = Future()
            failed.set_exception(task)
            self.futures[index] = failed
            self.done.put(index)
            return
        instance, options = task
        if self.stop is not None and "stop" not in options:
            options = {**options, "stop": self.stop}
        future = self.pool.submit(solve_one, instance, options)
        self.futures[index] = future
        future.add_done_callback(lambda _, index=index: self.done.put(index))

    def outcomes(self, return_exceptions: bool,
                 on_result: Callable[[int, Outcome], None] | None) -> dict[int, Outcome]:
        """Every outcome by index, as each finishes. Ctrl-C stops the running solves (on the
        package's own threads), cancels those not started, collects what finishes and raises
        ``KeyboardInterrupt``; the collected outcomes are in ``self.collected``."""
        self.collected: dict[int, Outcome] = {}
        try:
            with self._ctrl_c():
                while len(self.collected) < len(self.futures) and not self.interrupted:
                    try:
                        index = self.done.get(timeout=0.1)
                    except queue.Empty:
                        continue
                    self._collect(index, return_exceptions, on_result)
        except KeyboardInterrupt:
            self.interrupted = True
        except BaseException:
            self._cancel()
            raise
        if self.interrupted:
            self._wind_down(on_result)
            raise KeyboardInterrupt
        return self.collected

    @contextlib.contextmanager
    def _ctrl_c(self) -> Iterator[None]:
        """While the outcomes are awaited, the first Ctrl-C stops the batch (no exception in
        the middle of collecting one); a second one raises at once. Only where Python's own
        handler is in place, on the main thread."""
        if (threading.current_thread() is not threading.main_thread()
                or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
            yield
            return

        def stop(signum: int, frame: Any) -> None:
            if self.interrupted:
                raise KeyboardInterrupt
            self.interrupted = True
            self._cancel()

        signal.signal(signal.SIGINT, stop)
        try:
            yield
        finally:
            signal.signal(signal.SIGINT, signal.default_int_handler)

    def _collect(self, index: int, return_exceptions: bool,
                 on_result: Callable[[int, Outcome], None] | None) -> None:
        future = self.futures[index]
        try:
            outcome: Outcome = future.result()
        except Exception as error:
            if not return_exceptions:
                raise
            outcome = error
        self.collected[index] = outcome
        if on_result is not None:
            on_result(index, outcome)

    def _cancel(self) -> None:
        if self.stop is not None:
            self.stop.set()
        for future in self.futures.values():
            future.cancel()

    def _wind_down(self, on_result: Callable[[int, Outcome], None] | None) -> None:
        """After Ctrl-C: stop, then collect what has finished and the solves that end with
        their best routes (on the package's own threads, within moments); a second Ctrl-C
        stops the wait."""
        self._cancel()
        try:
            while True:  # what finished before the stop
                self._collect(self.done.get_nowait(), True, on_result)
        except queue.Empty:
            pass
        if not self.own:
            return
        try:
            running = [i for i, f in self.futures.items()
                       if i not in self.collected and not f.cancelled()]
            for index in running:
                self.futures[index].exception()  # waits for the solve to end
                self._collect(index, True, on_result)
        except KeyboardInterrupt:
            pass

    def close(self) -> None:
        if self.own:
            self.pool.shutdown(wait=True, cancel_futures=True)


def _run_all(
    tasks: Sequence[Task | BaseException],
    executor: Executor | None,
    workers: int | None,
    return_exceptions: bool,
    on_result: Callable[[int, Outcome], None] | None,
) -> list[Outcome]:
    """Submit every task and collect the outcomes, returned in the tasks' order; ``on_result``
    hears of each as it finishes. A task given as an exception (an instance that could not be
    read) is that task's outcome."""
    run = _Run(executor, workers)
    try:
        for index, task in enumerate(tasks):
            run.submit(index, task)
        outcomes = run.outcomes(return_exceptions, on_result)
    except BaseException:
        run._cancel()
        raise
    finally:
        run.close()
    return [outcomes[i] for i in range(len(tasks))]


def _tasks(instances: Iterable[Given], options: dict[str, Any], return_exceptions: bool
           ) -> list[Task | BaseException]:
    if isinstance(instances, (str, bytes, os.PathLike, dict, Model)) or not isinstance(
            instances, Iterable):
        raise TypeError(f"instances must be a list of instances (Models, documents or paths), "
                        f"got {type(instances).__name__}")
    tasks: list[Task | BaseException] = []
    for instance in instances:
        try:
            reading = read(instance).require(every=not options.get("validate", True))
        except (ValueError, TypeError) as error:
            if not return_exceptions:
                raise
            tasks.append(error)
            continue
        tasks.append((reading, options))
    return tasks


def solve_many(
    instances: Iterable[Given],
    *,
    executor: Executor | None = None,
    workers: int | None = None,
    return_exceptions: bool = False,
    on_result: Callable[[int, Outcome], None] | None = None,
    **options: Any,
) -> list[Outcome]:
    """Solve many instances in parallel; returns their solutions in the order given.

    ``options`` are those of ``Model.solve`` (``time_limit``, ``clock``, ``improve``, ``seed``,
    ``iterations``, ``validate``, ``stop``), the same for every instance; each instance is
    validated as it is given (a path as its file is written). ``executor`` runs the solves (a
    ``concurrent.futures`` pool or a Dask ``distributed.Client``); without one, a pool of
    ``workers`` threads (default: one per processor) does. With ``return_exceptions`` an
    instance that fails (unreadable, invalid, refused) has its exception in its place and the
    others go on; otherwise the first failure is raised. ``on_result(index, outcome)`` is called
    for each instance as soon as its outcome is there, in the order they finish, so that a
    caller can keep each at once.

    Ctrl-C stops the running solves (on the package's own threads: each ends with its best
    routes, status "interrupted", and is passed to ``on_result``), cancels those not started and
    raises ``KeyboardInterrupt``.
    """
    _check_batch(executor, workers, on_result)
    if not isinstance(return_exceptions, bool):
        raise TypeError(f"return_exceptions must be True or False, got {return_exceptions!r}")
    check_solve_options(options, "solve_many")
    tasks = _tasks(instances, options, return_exceptions)
    return _run_all(tasks, executor, workers, return_exceptions, on_result)


def solve(
    instance: Given,
    time_limit: float | None = None,
    *,
    workers: int = 1,
    executor: Executor | None = None,
    seed: int | None = None,
    **options: Any,
) -> Solution:
    """Solve one instance (a ``Model``, a document or a path); see ``Model.solve`` for the
    options. The time limit counts wall-clock time unless ``clock="cpu"`` is given. The instance
    is validated as it is given (a path as its file is written), once.

    With ``workers=N`` above 1 it runs a portfolio: N solves with the seeds ``seed``,
    ``seed + 1``, ... (from 0 when no seed is given) on N workers (threads, or ``executor``),
    and returns the best solution under the objective: the lowest value, then the lowest other
    figure (MinMax: the sum; MinSum: the longest route); ties go to the lower seed. A solution
    with routes beats one without; when no run has routes, the first seed's outcome is returned.
    """
    _check_batch(executor, workers)
    first = 0 if seed is None else seed
    check_solve_options({**options, "time_limit": time_limit, "seed": seed}, "solve")
    check_solve_options({"seed": first + max(workers, 1) - 1}, "solve")
    reading = read(instance)
    if workers <= 1 and executor is None:
        return solve_instance(reading, time_limit, seed=seed, **options)
    validate = options.get("validate", True)
    reading.require(every=not validate)
    if validate:
        refuse_errors(reading)
    options = {**options, "validate": False}
    tasks: list[Task | BaseException] = [
        (reading, {**options, "time_limit": time_limit, "seed": first + k})
        for k in range(workers)]
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
