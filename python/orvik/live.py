"""Live progress of solves on standard error, drawn with rich.

``SolveProgress`` shows one solve: a line for each new best objective value and otherwise one
every ``QUIET_SECONDS`` at most (time, objective value, states or iterations per second), and a
bar over the time budget. ``BatchProgress`` shows a batch: a line
per finished instance and a bar over the instances. Both also show the solver's own warnings
(through ``CoreLines``) above their bars. On a terminal the bars are redrawn in place and
vanish at the end; elsewhere (a pipe, a file) only the lines are written.
"""

from __future__ import annotations

import logging
import sys
import time
from types import TracebackType
from typing import IO, Any

from rich.console import Console
from rich.progress import BarColumn, MofNCompleteColumn, Progress, TextColumn

from orvik.solution import ProgressReport, Solution

# What the work of each phase counts, in the singular.
WORK_UNITS = {"search": "state", "construction": "insertion", "improvement": "iteration"}

# Without a new best, a line at most this often (seconds), so that a long run shows it is alive.
QUIET_SECONDS = 10.0


def error_console() -> Console:
    """A console on standard error, with colours and redrawing only on a terminal."""
    return Console(file=sys.stderr, highlight=False)


def pace(report: ProgressReport) -> float:
    """Work done per second so far."""
    return report.work / report.elapsed if report.elapsed > 0 else 0.0


def pace_text(report: ProgressReport) -> str:
    """The work's pace in words: "1 iteration/s", "113,992 states/s"."""
    unit = WORK_UNITS.get(report.phase, "step")
    shown = f"{pace(report):,.0f}"
    return f"{shown} {unit if shown == '1' else unit + 's'}/s"


def improvement_line(report: ProgressReport, objective: str) -> str:
    """One line for a report: seconds, objective value, and the work's pace."""
    best = "-" if report.best is None else f"{report.best:.6g}"
    return f"{report.elapsed:8.2f} s  {objective} {best}  {pace_text(report)}"


class CoreLines(logging.Handler):
    """Shows the solver's own lines: warnings (records at WARNING and above) on the console,
    progress lines (DEBUG) on ``progress_stream``."""

    def __init__(self, console: Console, progress_stream: IO[str]) -> None:
        super().__init__(logging.DEBUG)
        self.console = console
        self.progress_stream = progress_stream

    def emit(self, record: logging.LogRecord) -> None:
        """Write one record where it belongs."""
        text = record.getMessage()
        if record.levelno >= logging.WARNING:
            self.console.print(text, markup=False, highlight=False, soft_wrap=True)
        else:
            print(text, file=self.progress_stream)


class _Display:
    """A rich progress bar with one task, started and stopped as a context manager."""

    def __init__(self, console: Console, *columns: Any) -> None:
        self.console = console
        self.progress = Progress(*columns, console=console, transient=True,
                                 redirect_stdout=False, redirect_stderr=False)
        self.task = self.progress.add_task("", total=1.0, status="")
        self.drawn = False

    def __enter__(self) -> Any:
        # Elsewhere than on a terminal the bar is not drawn at all: only the lines are written.
        self.drawn = self.console.is_terminal
        if self.drawn:
            self.progress.start()
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 trace: TracebackType | None) -> None:
        if self.drawn:
            self.progress.stop()

    def say(self, text: str) -> None:
        """A line above the bar."""
        self.console.print(text, markup=False, highlight=False, soft_wrap=True)


class SolveProgress(_Display):
    """The live view of one solve; pass it as ``progress=`` to ``Model.solve``."""

    def __init__(self, time_limit: float, objective: str, console: Console | None = None) -> None:
        super().__init__(console or error_console(), TextColumn("solving"), BarColumn(),
                         TextColumn("{task.fields[status]}"))
        self.time_limit = time_limit
        self.objective = objective
        self.progress.update(self.task, total=max(time_limit, 1e-9))
        # The best value a line showed, and when the last line was printed.
        self.best: float | None = None
        self.last_line = time.monotonic()

    def __call__(self, report: ProgressReport) -> None:
        """Take one report: move the bar, and print a line when it brings a new best objective
        value, or when no line was printed for ``QUIET_SECONDS`` (before the first solution too,
        with "-" for the value)."""
        status = f"{report.elapsed:.1f}/{self.time_limit:g} s"
        if report.best is not None:
            status += f"  {self.objective} {report.best:.6g}"
        if report.elapsed > 0:
            status += f"  {pace_text(report)}"
        self.progress.update(self.task, completed=min(report.elapsed, self.time_limit),
                             status=status)
        now = time.monotonic()
        new_best = report.best is not None and (self.best is None or report.best < self.best)
        if new_best or now - self.last_line >= QUIET_SECONDS:
            self.say(improvement_line(report, self.objective))
            self.best = report.best if report.best is not None else self.best
            self.last_line = now


class BatchProgress(_Display):
    """The live view of a batch: a line per finished instance and a bar over the instances."""

    def __init__(self, count: int, console: Console | None = None) -> None:
        super().__init__(console or error_console(), TextColumn("instances"), BarColumn(),
                         MofNCompleteColumn(), TextColumn("{task.fields[status]}"))
        self.progress.update(self.task, total=count)

    def done(self, name: str, outcome: Solution | BaseException) -> None:
        """Count one finished instance and say how it went."""
        self.progress.advance(self.task)
        self.say(f"{name}: {outcome_text(outcome)}")


def outcome_text(outcome: Solution | BaseException) -> str:
    """A solution or a failure in a few words."""
    if isinstance(outcome, BaseException):
        return f"error: {outcome}"
    if outcome.routes:
        return f"{outcome.status}, {outcome.objective} {outcome.objective_value:.6g}"
    return outcome.status
