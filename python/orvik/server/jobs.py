"""The jobs of the solving service: their states, a bounded queue, and how long they are kept.

A job is created with a validated instance and the options of its solve, waits in the queue
(bounded: a full queue refuses new jobs), is taken by a runner (a worker process, or a Dask
cluster), reports progress while it runs, and ends solved, without a solution, interrupted (a
stop keeps its best routes) or failed (with a message). Finished jobs are kept for a set time and
up to a set number, then dropped. Every change happens under one lock and bumps the job's
``version``, which the event streams watch.
"""

from __future__ import annotations

import collections
import threading
import time
import uuid
from dataclasses import dataclass, field
from typing import Any

from orvik.instance import Instance

QUEUED = "queued"
RUNNING = "running"
FAILED = "failed"
INTERRUPTED = "interrupted"
# Statuses of a job that has ended; "solved" and "no solution" come from the solution itself.
ENDED = ("solved", "no solution", INTERRUPTED, FAILED)
# At most this many points of the objective's history are kept per job; beyond it every other
# point is dropped, so that a long solve keeps the shape of its curve in bounded memory.
_HISTORY_POINTS = 512


class QueueFull(Exception):
    """The queue holds as many jobs as it may."""


class Closed(Exception):
    """The service is stopping and takes no new jobs."""


@dataclass
class Job:
    """One solve asked of the service."""

    id: str
    instance: Instance | None
    options: dict[str, Any]
    time_limit: float
    notes: list[str]
    warnings: list[dict[str, str]]
    created: float = field(default_factory=time.time)
    status: str = QUEUED
    started: float | None = None
    finished: float | None = None
    progress: dict[str, Any] | None = None
    history: list[list[float]] = field(default_factory=list)
    solution: dict[str, Any] | None = None
    error: str | None = None
    stop_requested: bool = False
    version: int = 0

    @property
    def ended(self) -> bool:
        return self.status in ENDED


class JobStore:
    """Every job the service knows, the queue of those waiting, and their retention."""

    def __init__(self, max_queue: int, keep_seconds: float, keep_jobs: int) -> None:
        self.max_queue = max_queue
        self.keep_seconds = keep_seconds
        self.keep_jobs = keep_jobs
        self.lock = threading.Condition()
        self.jobs: dict[str, Job] = {}
        self.queue: collections.deque[Job] = collections.deque()
        self.closed = False
        self.counts = collections.Counter[str]()

    # -- creating and taking jobs -----------------------------------------------------------

    def add(self, instance: Instance, options: dict[str, Any], time_limit: float,
            notes: list[str], warnings: list[dict[str, str]]) -> Job:
        """Queue a new job; ``QueueFull`` when the queue holds ``max_queue`` jobs, ``Closed``
        once the service is stopping."""
        with self.lock:
            if self.closed:
                raise Closed
            self._drop_old()
            if len(self.queue) >= self.max_queue:
                raise QueueFull
            job = Job(uuid.uuid4().hex, instance, options, time_limit, notes, warnings)
            self.jobs[job.id] = job
            self.queue.append(job)
            self.counts["created"] += 1
            self.lock.notify()
            return job

    def take(self, timeout: float = 0.5) -> Job | None:
        """The next queued job, now marked running; None after ``timeout`` seconds without one,
        or once the store is closed."""
        with self.lock:
            if not self.queue and not self.closed:
                self.lock.wait(timeout)
            if self.closed or not self.queue:
                return None
            job = self.queue.popleft()
            job.status = RUNNING
            job.started = time.time()
            job.version += 1
            self.lock.notify_all()
            return job

    def get(self, job_id: str) -> Job | None:
        with self.lock:
            self._drop_old()
            return self.jobs.get(job_id)

    # -- what runners report --------------------------------------------------------------

    def report(self, job: Job, progress: dict[str, Any]) -> None:
        """A progress report of a running job. Routes come with some reports only: the job's
        progress keeps the latest ones until newer ones come."""
        with self.lock:
            if job.ended:
                return
            if "routes" not in progress and job.progress and "routes" in job.progress:
                progress = {**progress, "routes": job.progress["routes"]}
            job.progress = progress
            best = progress.get("best")
            if progress.get("improved") and best is not None:
                job.history.append([progress["elapsed"], best])
                if len(job.history) > _HISTORY_POINTS:
                    job.history = job.history[::2] + ([job.history[-1]]
                                                      if len(job.history) % 2 == 0 else [])
            job.version += 1
            self.lock.notify_all()

    def finish(self, job: Job, solution: dict[str, Any]) -> None:
        """A job that ended with a solution document (solved, no solution, or interrupted)."""
        with self.lock:
            if job.ended:
                return
            solution["notes"] = list(solution.get("notes", [])) + job.notes
            job.solution = solution
            job.status = str(solution.get("status", FAILED))
            job.history = [[p["time"], p["objective"]] for p in solution.get("history", [])
                           ] or job.history
            self._end(job)

    def fail(self, job: Job, message: str) -> None:
        """A job that ended without a result; ``message`` says why."""
        with self.lock:
            if job.ended:
                return
            job.error = message
            job.status = FAILED
            self._end(job)

    def _end(self, job: Job) -> None:
        job.instance = None  # not needed any more: a kept job holds its outcome only
        job.finished = time.time()
        job.version += 1
        self.counts[job.status] += 1
        self.lock.notify_all()

    # -- stopping -------------------------------------------------------------------------

    def stop(self, job: Job, why: str = "stopped") -> None:
        """Ask a job to stop: a queued one ends at once, interrupted without routes; a running
        one is asked to stop and ends with its best routes."""
        with self.lock:
            if job.ended:
                return
            job.stop_requested = True
            if job.status == QUEUED:
                self.queue.remove(job)
                job.status = INTERRUPTED
                job.error = f"{why} before it started: no routes"
                self._end(job)
            else:
                job.version += 1
                self.lock.notify_all()

    def close(self) -> None:
        """Stop taking jobs: the queued ones end interrupted, the running ones are asked to
        stop."""
        with self.lock:
            self.closed = True
            for job in list(self.jobs.values()):
                self.stop(job, "the service stopped")
            self.lock.notify_all()

    # -- views ------------------------------------------------------------------------------

    def position(self, job: Job) -> int | None:
        """A queued job's place in the queue, from 1."""
        with self.lock:
            if job.status != QUEUED:
                return None
            return next((k + 1 for k, queued in enumerate(self.queue) if queued is job), None)

    def view(self, job: Job, *, solution: bool = True) -> dict[str, Any]:
        """A job as the service shows it."""
        with self.lock:
            elapsed = None
            if job.started is not None:
                elapsed = (job.finished or time.time()) - job.started
            view: dict[str, Any] = {
                "id": job.id,
                "status": job.status,
                "queue_position": self.position(job),
                "time_limit": job.time_limit,
                "created": job.created,
                "started": job.started,
                "finished": job.finished,
                "elapsed": elapsed,
                "progress": job.progress,
                "history": [list(point) for point in job.history],
                "notes": list(job.notes),
                "warnings": list(job.warnings),
                "error": job.error,
            }
            if solution:
                view["solution"] = job.solution
            return view

    def summary(self) -> dict[str, Any]:
        with self.lock:
            running = sum(1 for job in self.jobs.values() if job.status == RUNNING)
            return {"queued": len(self.queue), "running": running, "kept": len(self.jobs),
                    "max_queue": self.max_queue, "jobs": dict(self.counts)}

    def _drop_old(self) -> None:
        """Drop finished jobs older than ``keep_seconds``, and the oldest beyond
        ``keep_jobs``."""
        now = time.time()
        ended = [job for job in self.jobs.values() if job.ended]
        ended.sort(key=lambda job: job.finished or 0.0)
        excess = len(ended) - self.keep_jobs
        for k, job in enumerate(ended):
            if k < excess or now - (job.finished or now) > self.keep_seconds:
                del self.jobs[job.id]
