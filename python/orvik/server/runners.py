"""Where the service's jobs are solved: a pool of worker processes, or a Dask cluster.

``ProcessRunner`` keeps ``workers`` processes, each solving one job at a time. A thread of the
service per process hands it the next queued job over a pipe, passes on its progress reports,
sets its stop event when the job is stopped, and takes its solution or its error. A process that
dies in the middle of a job (killed, out of memory) fails that job with a message saying so and
is replaced; the service goes on.

``ClusterRunner`` sends the jobs to a Dask cluster through a ``distributed.Client``, as
``orvik.batch`` does for ``solve-many --scheduler``: ``workers`` jobs at a time, each stopped
through a cluster-wide event, its progress (with its best routes) passed on through a
cluster-wide variable.
"""

from __future__ import annotations

import contextlib
import logging
import multiprocessing
import signal
import threading
import time
from multiprocessing.connection import Connection, wait
from typing import Any

from orvik.server.jobs import Job, JobStore

log = logging.getLogger("orvik.server")


def solve_message(error: BaseException) -> str:
    """What a job that raised says: the message of an error in the input, or the kind and
    message of anything else."""
    from orvik.solving import SolverError

    if isinstance(error, (ValueError, TypeError, SolverError)):
        return str(error)
    return f"the solve failed: {type(error).__name__}: {error}"


# ---------------------------------------------------------------------------------------------
# Worker processes


def _worker_main(conn: Connection, stop: Any) -> None:
    """A worker process: solve each job it is sent, reporting progress, until the pipe closes.
    Ctrl-C on the service's terminal is the service's to handle; the worker ignores it."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    from orvik.solving import solve_instance

    while True:
        try:
            message = conn.recv()
        except (EOFError, OSError):
            return
        if message is None:
            return
        instance, options = message

        def progress(report: Any) -> None:
            conn.send(("progress", report.to_dict()))

        try:
            solution = solve_instance(instance, progress=progress, stop=stop, **options)
        except Exception as error:  # noqa: BLE001 - every failure is the job's, said in words
            conn.send(("error", solve_message(error)))
        else:
            conn.send(("done", solution.to_dict()))


class _Worker:
    """One worker process and the thread of the service that feeds it."""

    def __init__(self, runner: ProcessRunner, index: int) -> None:
        self.runner = runner
        self.index = index
        self.process: Any = None
        self.conn: Connection | None = None
        self.stop: Any = None
        self.job: Job | None = None
        self.thread = threading.Thread(target=self._loop, name=f"orvik-worker-{index}",
                                       daemon=True)

    @property
    def pid(self) -> int | None:
        return self.process.pid if self.process is not None else None

    def _spawn(self) -> None:
        context = self.runner.context
        self.stop = context.Event()
        ours, theirs = context.Pipe()
        self.process = context.Process(target=_worker_main, args=(theirs, self.stop),
                                       name=f"orvik-worker-{self.index}", daemon=True)
        self.process.start()
        theirs.close()
        self.conn = ours

    def _loop(self) -> None:
        store = self.runner.store
        while not store.closed:
            if self.process is None or not self.process.is_alive():
                self._spawn()
            job = store.take()
            if job is None:
                continue
            self.job = job
            try:
                self._run(job)
            except Exception as error:
                log.exception("job %s", job.id)
                store.fail(job, f"the service lost the job: {type(error).__name__}: {error}")
            finally:
                self.job = None

    def _run(self, job: Job) -> None:
        store = self.runner.store
        assert self.conn is not None
        self.stop.clear()
        try:
            self.conn.send((job.instance, job.options))
        except OSError:  # the process died while idle: the job goes to a new one
            self._spawn()
            assert self.conn is not None
            self.conn.send((job.instance, job.options))
        stop_sent = False
        while True:
            if job.stop_requested and not stop_sent:
                self.stop.set()
                stop_sent = True
            ready = wait([self.conn, self.process.sentinel], timeout=0.1)
            if self.conn in ready:
                try:
                    kind, payload = self.conn.recv()
                except (EOFError, OSError):
                    kind, payload = "lost", None
                if kind == "progress":
                    store.report(job, payload)
                    continue
                if kind == "done":
                    store.finish(job, payload)
                    return
                if kind == "error":
                    store.fail(job, payload)
                    return
            if self.process.sentinel in ready or not self.process.is_alive():
                self.process.join(1)
                code = self.process.exitcode
                how = (f"was killed by signal {-code}" if code is not None and code < 0
                       else f"exited with status {code}")
                store.fail(job, f"the worker process solving this job (pid {self.process.pid}) "
                                f"{how}; the job has no result. The service goes on: submit "
                                f"the job again to retry it")
                log.warning("worker %s (pid %s) %s during job %s; starting another",
                            self.index, self.process.pid, how, job.id)
                self.process = None
                return

    def close(self) -> None:
        if self.conn is not None:
            with contextlib.suppress(OSError):
                self.conn.send(None)
        if self.process is not None:
            self.process.join(2)
            if self.process.is_alive():
                self.process.kill()
                self.process.join(2)


class ProcessRunner:
    """Solves jobs on ``workers`` worker processes."""

    def __init__(self, store: JobStore, workers: int) -> None:
        self.store = store
        # New interpreters rather than forks of a service that runs threads.
        self.context = multiprocessing.get_context("spawn")
        self.workers = [_Worker(self, k) for k in range(workers)]

    def start(self) -> None:
        for worker in self.workers:
            worker.thread.start()

    def describe(self) -> dict[str, Any]:
        return {"kind": "processes",
                "workers": [{"pid": w.pid, "job": w.job.id if w.job else None}
                            for w in self.workers]}

    def close(self) -> None:
        self.store.close()
        for worker in self.workers:
            worker.thread.join(5)
        for worker in self.workers:
            worker.close()


# ---------------------------------------------------------------------------------------------
# A Dask cluster


class ClusterStop:
    """A stop event that a job on a Dask worker reads: a cluster-wide ``distributed.Event``,
    asked at most every quarter second (the solver polls its stop far more often)."""

    def __init__(self, name: str) -> None:
        self.name = name
        self._set = False
        self._next = 0.0

    def is_set(self) -> bool:
        if self._set:
            return True
        now = time.monotonic()
        if now >= self._next:
            self._next = now + 0.25
            from distributed import Event

            with contextlib.suppress(Exception):
                self._set = bool(Event(self.name).is_set())
        return self._set


class ClusterProgress:
    """The progress callback of a job on a Dask worker: the latest report, numbered, in a
    cluster-wide ``distributed.Variable`` that the service reads. A report with routes is always
    written; the others at most every tenth of a second. Each write carries the latest routes,
    so that a reader who misses a report misses no routes."""

    def __init__(self, name: str) -> None:
        self.name = name
        self.count = 0
        self.routes: list[dict[str, Any]] | None = None
        self._next = 0.0

    def __call__(self, report: Any) -> None:
        document = report.to_dict()
        now = time.monotonic()
        if "routes" not in document and now < self._next:
            return
        self._next = now + 0.1
        if "routes" in document:
            self.routes = document["routes"]
        elif self.routes is not None:
            document["routes"] = self.routes
        self.count += 1
        from distributed import Variable

        with contextlib.suppress(Exception):  # progress is best effort; the solve goes on
            Variable(self.name).set({"count": self.count, "report": document})


def solve_on_cluster(instance: Any, options: dict[str, Any], stop_name: str,
                     progress_name: str | None = None) -> dict[str, Any]:
    """One job on a Dask worker: the batch's task with a cluster-wide stop and, when named, a
    cluster-wide progress variable; its solution as a document."""
    from orvik.batch import solve_one

    options = {**options, "stop": ClusterStop(stop_name)}
    if progress_name is not None:
        options["progress"] = ClusterProgress(progress_name)
    solution = solve_one(instance, options)
    return solution.to_dict()


class ClusterRunner:
    """Solves jobs on a Dask cluster, ``workers`` at a time."""

    def __init__(self, store: JobStore, scheduler: str, workers: int | None) -> None:
        try:
            from distributed import Client
        except ImportError:
            raise ImportError("--scheduler needs Dask's distributed package: "
                              "pip install 'orvik[distributed]'") from None
        self.store = store
        self.scheduler = scheduler
        try:
            self.client = Client(scheduler, timeout="5s", set_as_default=False)
        except OSError as error:
            raise ConnectionError(f"cannot reach the Dask scheduler at {scheduler} within "
                                  f"5 s: {error}") from None
        if workers is None:
            workers = max(1, sum(self.client.nthreads().values()))
        self.slots = [threading.Thread(target=self._loop, name=f"orvik-cluster-{k}",
                                       daemon=True) for k in range(workers)]
        self.running: dict[str, Any] = {}

    def start(self) -> None:
        for slot in self.slots:
            slot.start()

    def describe(self) -> dict[str, Any]:
        return {"kind": "dask", "scheduler": self.scheduler, "slots": len(self.slots),
                "running": len(self.running)}

    def _loop(self) -> None:
        while not self.store.closed:
            job = self.store.take()
            if job is None:
                continue
            try:
                self._run(job)
            except Exception as error:  # noqa: BLE001 - the job fails, the service goes on
                self.store.fail(job, f"the Dask cluster at {self.scheduler} did not solve the "
                                     f"job: {solve_message(error)}")
            finally:
                self.running.pop(job.id, None)

    def _run(self, job: Job) -> None:
        from distributed import Event, Variable

        name = f"orvik-stop-{job.id}"
        progress = Variable(f"orvik-progress-{job.id}", client=self.client)
        future = self.client.submit(solve_on_cluster, job.instance, job.options, name,
                                    progress.name, key=f"orvik-job-{job.id}", pure=False)
        self.running[job.id] = future
        store = self.store
        store.report(job, {"phase": "on the cluster", "elapsed": 0.0, "work": 0, "best": None,
                           "improved": False})
        stop_sent = False
        seen = 0
        while not future.done():
            if job.stop_requested and not stop_sent:
                Event(name, client=self.client).set()
                stop_sent = True
            try:
                latest = progress.get(timeout=0.1)
            except Exception:  # noqa: BLE001 - nothing reported yet, or the cluster is slow
                time.sleep(0.1)
                continue
            if isinstance(latest, dict) and latest.get("count", 0) > seen:
                seen = latest["count"]
                store.report(job, latest["report"])
            time.sleep(0.1)
        try:
            store.finish(job, future.result())
        except Exception as error:  # noqa: BLE001 - said in the job's error
            store.fail(job, solve_message(error))
        finally:
            with contextlib.suppress(Exception):
                progress.delete()
            if stop_sent:
                with contextlib.suppress(Exception):
                    Event(name, client=self.client).clear()

    def close(self) -> None:
        self.store.close()
        for slot in self.slots:
            slot.join(5)
        with contextlib.suppress(Exception):
            self.client.close()
