"""The ``orvik`` command line: it parses arguments and calls the package's functions."""

from __future__ import annotations

import argparse
import contextlib
import logging
import math
import os
import signal
import sys
import threading
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any

from orvik.checker import add_check_command
from orvik.documents import InstanceError, a_json_type, counted, load_document, write_text
from orvik.io import add_convert_command
from orvik.rules import DEFAULT_TIME_LIMIT, ITERATIONS_END, SEED_END, count_problem
from orvik.server.command import add_serve_command
from orvik.settings import CLOCKS

DESCRIPTION = """\
Orvik plans the routes of several agents (robots, vehicles) of different types that together
serve every site once: one cost matrix per agent type, sites that only some types may serve,
time windows, route-length limits, and the objective of the shortest longest route (min_max)
or the smallest total cost (min_sum). Instances are JSON files (see the README's "Instance
format"); `orvik validate` checks one, `orvik solve` solves it, `orvik solve-many` solves
many in parallel. Time limits count wall-clock time unless --clock cpu is given."""

EPILOG = """\
examples:
  orvik validate instance.json
  orvik solve instance.json --time-limit 10 -o result.json --plot routes.png
  orvik solve-many instances/*.json --workers 4 --time-limit 30 --out results/
  orvik check instance.json result.json
  orvik plot instance.json result.json -o routes.png
  orvik serve --workers 2 --max-time 30"""

EXIT_INVALID = 2
EXIT_INTERRUPTED = 130
# Ended by SIGTERM (128 + 15) and by a reader that closed the pipe (128 + SIGPIPE), as a
# shell reports a program that these signals end.
EXIT_TERMINATED = 128 + signal.SIGTERM
EXIT_BROKEN_PIPE = 128 + 13

# The signal that stopped this run, once one did: "SIGINT" or "SIGTERM".
_stopped_by: list[str] = []


def _version() -> str:
    from orvik import __version__

    return __version__


def _say(message: str) -> None:
    print(f"orvik: {message}", file=sys.stderr)


# ---------------------------------------------------------------------------------------------
# info and validate


def _section(doc: dict[str, Any], key: str, path: str, kind: type = list) -> Any:
    """A section of an instance for a summary: absent or null reads as empty; one of another
    type is an ``InstanceError`` pointing to `orvik validate`."""
    value = doc.get(key)
    if value is None:
        return kind()
    if not isinstance(value, kind):
        expected = "an array" if kind is list else "an object"
        raise InstanceError(f"{path}: $.{key}: expected {expected}, got {a_json_type(value)} "
                            "(`orvik validate` lists every problem)")
    return value


def _run_info(args: argparse.Namespace) -> int:
    doc = load_document(args.instance)
    nodes = _section(doc, "nodes", args.instance)
    agents = _section(doc, "agents", args.instance)
    constraints = _section(doc, "constraints", args.instance)
    options = _section(doc, "options", args.instance, dict)
    types = sorted({str(a.get("type", "")) for a in agents if isinstance(a, dict)})
    depots = sum(1 for n in nodes if isinstance(n, dict) and n.get("type") == "DEPOT")
    print(f"instance: {args.instance}")
    print(f"nodes: {len(nodes)}")
    print(f"depots: {depots}")
    print(f"agents: {len(agents)}")
    print(f"agent types: {', '.join(types)}")
    print(f"constraints: {len(constraints)}")
    print(f"objective: {options.get('objective', 'min_sum')}")
    for line in _rule_lines(doc):
        print(line)
    return 0


def _rule_lines(doc: dict[str, Any]) -> list[str]:
    """What `info` says of the loads, service durations, windows and orders an instance has:
    a line for each that it has, the values read as a solve reads them (what does not read is
    left to `orvik validate`)."""
    from orvik.instance import read_instance
    from orvik.loads import padded, show_amount

    instance = read_instance(doc)
    dims = instance.dimensions
    lines = []
    if dims:
        lines.append(f"load dimensions: {dims}")
    for what, amounts in (("deliveries", [n.delivery for n in instance.nodes]),
                          ("pickups", [n.pickup for n in instance.nodes])):
        given = [padded(a, dims) for a in amounts if a]
        if given:
            total = tuple(map(sum, zip(*given, strict=True)))
            lines.append(f"{what}: {counted(len(given), 'site')}, {show_amount(total)} in all")
    capacities = [padded(a.capacities, dims) for a in instance.agents if a.capacities]
    if capacities and len(capacities) < len(instance.agents):
        lines.append(f"capacities: {len(capacities)} of {counted(len(instance.agents), 'agent')}"
                     " (the others carry any load)")
    elif capacities:
        # A capacity of 0 is no limit in its dimension, and so is the fleet's.
        fleet = tuple(0.0 if 0 in column else sum(column)
                      for column in zip(*capacities, strict=True))
        unlimited = "" if all(fleet) else " (0: no limit)"
        lines.append(f"fleet capacity: {show_amount(fleet)}{unlimited}")
    counts = (("sites with service", sum(1 for n in instance.nodes if n.service)),
              ("time windows", sum(1 for _ in instance.window_items())),
              ("shipments", sum(1 for _ in instance.shipment_items())),
              ("sequence pairs", sum(1 for _ in instance.pairs())))
    lines.extend(f"{what}: {count}" for what, count in counts if count)
    return lines


def _print_findings(path: str, findings: Sequence[Any], stream: Any) -> None:
    for finding in findings:
        print(f"{path}: {finding}", file=stream)


def _run_validate(args: argparse.Namespace) -> int:
    from orvik.validation import validate

    findings = validate(load_document(args.instance))
    _print_findings(args.instance, findings, sys.stdout)
    errors, warnings = len(findings.errors), len(findings.warnings)
    print(f"{args.instance}: {errors} error(s), {warnings} warning(s)")
    return 1 if errors else 0


# ---------------------------------------------------------------------------------------------
# solve


@contextlib.contextmanager
def _core_lines(console: Any, progress_stream: Any, verbose: bool) -> Iterator[None]:
    """Show the solver's own lines while a command runs: its warnings on standard error, and
    with ``verbose`` its progress lines on ``progress_stream``."""
    from orvik.live import CoreLines
    from orvik.solving import CORE_LOGGER

    handler = CoreLines(console, progress_stream)
    handler.setLevel(logging.DEBUG if verbose else logging.WARNING)
    saved = (CORE_LOGGER.level, CORE_LOGGER.propagate)
    CORE_LOGGER.setLevel(logging.DEBUG)
    CORE_LOGGER.propagate = False
    CORE_LOGGER.addHandler(handler)
    try:
        yield
    finally:
        CORE_LOGGER.removeHandler(handler)
        CORE_LOGGER.setLevel(saved[0])
        CORE_LOGGER.propagate = saved[1]


def _solve_options(args: argparse.Namespace) -> dict[str, Any]:
    """The options of a solve that `solve` and `solve-many` share."""
    return {"improve": not args.no_improve, "seed": args.seed, "iterations": args.iterations,
            "clock": args.clock}


def _same_file(a: str | os.PathLike[str], b: str | os.PathLike[str]) -> bool:
    """Whether two paths name one file (both existing), or one path once resolved."""
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def _output_file(path: str, option: str, inputs: Sequence[str]) -> None:
    """Refuse, before any work, an output file that would replace an input or cannot be
    created: a missing folder, a folder in its place."""
    for given in inputs:
        if _same_file(path, given):
            raise ValueError(f"{option} {path}: would write over the input {given}")
    if os.path.isdir(path):
        raise ValueError(f"{option} {path}: is a folder; name a file")
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise ValueError(f"{option} {path}: the folder {os.path.dirname(path) or folder} does "
                         "not exist")
    if not os.access(folder, os.W_OK | os.X_OK):
        raise ValueError(f"{option} {path}: the folder is not writable")


def _write_or_say(what: str, write: Any) -> bool:
    """Run ``write()``; on an operating system error say what was not written and return
    False."""
    try:
        write()
    except OSError as error:
        where = f"{error.filename}: " if error.filename else ""
        _say(f"{where}cannot write {what}: {error.strerror or error}")
        return False
    return True


def _run_solve(args: argparse.Namespace) -> int:
    from orvik.instance import read_instance
    from orvik.live import SolveProgress, error_console
    from orvik.model import Model
    from orvik.settings import budget_seconds
    from orvik.solving import solve_instance
    from orvik.validation import validate

    instance = read_instance(load_document(args.instance))
    if args.output:
        _output_file(args.output, "-o", [args.instance])
    if args.plot:
        from orvik.plotting import image_path

        args.plot = image_path(args.plot)
        _output_file(args.plot, "--plot", [args.instance] + ([args.output] if args.output
                                                             else []))
    if not args.no_validate:
        findings = validate(instance)
        shown = findings.warnings if args.quiet else findings.warnings + findings.notes
        _print_findings(args.instance, shown, sys.stderr)
        if findings.errors:
            _print_findings(args.instance, findings.errors, sys.stderr)
            return EXIT_INVALID
    model = Model.from_json(instance, validate=False)
    console = error_console()
    # The solver's progress lines keep standard output for the solution alone with --json.
    lines = _core_lines(console, sys.stderr if args.json else sys.stdout, not args.quiet)
    limit = budget_seconds(model, args.time_limit)
    live: Any = contextlib.nullcontext()
    if not args.quiet:
        clock = "wall-clock" if args.clock == "wall" else "processor"
        console.print(f"solving {args.instance}: {counted(len(model.nodes), 'node')}, "
                      f"{counted(len(model.agents), 'agent')}, {limit:g} s of {clock} time",
                      markup=False, highlight=False, soft_wrap=True)
        live = SolveProgress(limit, model.objective, console)
    with lines, live:
        # Validated above (once, unless --no-validate): the document is solved as it is.
        solution = solve_instance(instance, args.time_limit, validate=False,
                                  progress=None if args.quiet else live, **_solve_options(args))
    # The routes are shown first, so that a file that cannot be written loses nothing; a
    # reader that left (`orvik solve ... | head`) does not keep the files from being written.
    shown = _show(lambda: print(solution.to_json(indent=2), end="") if args.json else
                  _print_positions(solution) if args.positions else print(solution.report()))
    written = True
    if args.output:
        written = _write_or_say("the solution (its routes are shown above)",
                                lambda: solution.to_json(args.output))
    if args.plot:
        from orvik.plotting import save_solution_plot

        written = _write_or_say("the plot", lambda: save_solution_plot(
            solution, model, args.plot, windows=args.windows, loads=args.loads)) and written
    if solution.interrupted:
        _say(_interrupted() + ": " + ("the routes above are the best found before the stop"
                                      if solution.routes else
                                      "no solution was found before the stop"))
        return _interrupted_status()
    if not shown:
        return EXIT_BROKEN_PIPE
    if not written:
        return 1
    return 0 if solution.solved else 1


def _show(write: Any) -> bool:
    """Run ``write()``, which prints to standard output, and flush it. When the reader has
    closed the pipe, further output is dropped quietly and the result is False."""
    try:
        write()
        sys.stdout.flush()
    except BrokenPipeError:
        _drop_output()
        return False
    return True


def _drop_output() -> None:
    """Send what is still to be written to standard output nowhere: its reader has left, and
    the flush at exit would fail again."""
    with contextlib.suppress(OSError, ValueError):
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)


def _interrupted() -> str:
    """How the run was stopped, in a word or two: "interrupted" (Ctrl-C) or "interrupted by
    SIGTERM"."""
    return "interrupted by SIGTERM" if "SIGTERM" in _stopped_by else "interrupted"


def _interrupted_status() -> int:
    """The exit status of a stopped run: 130 after Ctrl-C, 143 after SIGTERM."""
    return EXIT_TERMINATED if "SIGTERM" in _stopped_by else EXIT_INTERRUPTED


@contextlib.contextmanager
def _stop_on_sigterm() -> Iterator[None]:
    """While a command runs, SIGTERM stops it as Ctrl-C does (the best routes are kept and
    printed): its handler raises SIGINT, which reaches whichever Ctrl-C handler is in place.
    Only on the main thread, where Python runs signal handlers."""
    _stopped_by.clear()
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def on_sigterm(signum: int, frame: Any) -> None:
        _stopped_by.append("SIGTERM")
        if callable(signal.getsignal(signal.SIGINT)):
            signal.raise_signal(signal.SIGINT)
        else:  # Ctrl-C is ignored here (a background job of a script): stop all the same
            raise KeyboardInterrupt

    previous = signal.signal(signal.SIGTERM, on_sigterm)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def _print_positions(solution: Any) -> None:
    """The compact view: routes as node positions, as the result dictionary gives them."""
    print(f"status: {solution.status}")
    print(f"timeout: {solution.statistics.timeout}")
    for route in solution.routes:
        path = " ".join(str(p) for p in route.positions)
        print(f"agent {route.agent_key}: [{path}] cost {route.cost:.6g}")
    stats = solution.statistics
    for key, value in (("solve_time", stats.solve_time), ("max_cost", solution.max_cost),
                       ("sum_cost", solution.sum_cost), ("n_generated", stats.n_generated),
                       ("n_expanded", stats.n_expanded),
                       ("last_update_time", stats.last_update_time)):
        print(f"{key}: {value:.6g}" if isinstance(value, float) else f"{key}: {value}")


# ---------------------------------------------------------------------------------------------
# plot


def _run_plot(args: argparse.Namespace) -> int:
    from orvik.model import Model
    from orvik.plotting import check_matches, image_path, save_solution_plot
    from orvik.solution import Solution

    output = image_path(args.output)
    _output_file(output, "-o", [args.instance, args.result])
    model = Model.from_json(args.instance, validate=False)
    solution = Solution.from_json(args.result, instance=model)
    try:
        check_matches(solution, model)
    except ValueError as error:
        raise InstanceError(f"{args.result}: {error} ({args.instance})") from None
    save_solution_plot(solution, model, output, windows=args.windows, loads=args.loads)
    print(f"wrote {output}")
    return 0


# ---------------------------------------------------------------------------------------------
# solve-many


def _result_paths(instances: Sequence[str], out: Path) -> list[Path]:
    """One solution file per instance, named after it; repeated names get a number."""
    paths: list[Path] = []
    taken: set[str] = set()
    for instance in instances:
        stem = Path(instance).stem or "instance"
        name, k = f"{stem}.json", 2
        while name in taken:
            name, k = f"{stem}-{k}.json", k + 1
        taken.add(name)
        paths.append(out / name)
    return paths


def _result_folder(out: str, instances: Sequence[str], paths: Sequence[Path]) -> list[str]:
    """Make sure, before the first solve, that the results can be written: the folder exists
    (it is made) and takes a file, and no result would replace an input. Returns the names of
    the files that results will replace."""
    if not out:
        raise ValueError("--out: name a folder for the solution files")
    folder = Path(out)
    try:
        folder.mkdir(parents=True, exist_ok=True)
    except FileExistsError:
        raise ValueError(f"--out {out}: is a file, not a folder") from None
    except OSError as error:
        raise ValueError(f"--out {out}: cannot make the folder "
                         f"({error.strerror or error})") from None
    probe = folder / f".orvik-probe-{os.getpid()}"
    try:
        probe.touch(exist_ok=False)
        probe.unlink()
    except OSError as error:
        raise ValueError(f"--out {out}: cannot write into the folder "
                         f"({error.strerror or error})") from None
    replaced = []
    for path in paths:
        for instance in instances:
            if _same_file(path, instance):
                raise ValueError(f"--out {out}: the solution of {instance} would be written "
                                 f"over the instance {instance} itself; choose another folder")
        if path.is_symlink() or path.exists():
            if path.is_dir() and not path.is_symlink():
                continue  # said in its row: the solution is shown instead
            replaced.append(path.name + (" (a link: replaced, its target left alone)"
                                         if path.is_symlink() else ""))
    return replaced


@contextlib.contextmanager
def _executor(scheduler: str | None) -> Iterator[Any]:
    """A Dask client for the scheduler's address, or None (the package's thread pool)."""
    if scheduler is None:
        yield None
        return
    try:
        from distributed import Client
    except ImportError:
        raise ImportError("--scheduler needs Dask's distributed package: "
                          "pip install 'orvik[distributed]'") from None
    try:
        client = Client(scheduler, timeout="5s")
    except OSError as error:
        raise ConnectionError(f"cannot reach the Dask scheduler at {scheduler} within 5 s: "
                              f"{error}") from None
    with client:
        yield client


def _one_line(error: BaseException) -> str:
    """An error on one line: a list of findings after its heading, joined with semicolons."""
    lines = [line.strip() for line in str(error).splitlines() if line.strip()]
    if len(lines) > 1 and lines[0].endswith(":"):
        return f"{lines[0]} {'; '.join(lines[1:])}"
    return "; ".join(lines)


def _summary(instances: Sequence[str], outcomes: dict[int, Any], paths: Sequence[Path],
             unwritten: dict[int, str]) -> str:
    """The table of a batch: instance, status, objective, seconds, and the solution file or
    what went wrong."""
    from orvik.solution import Solution

    rows = [["instance", "status", "objective", "seconds", "result"]]
    for index, (instance, path) in enumerate(zip(instances, paths, strict=True)):
        outcome = outcomes.get(index)
        if isinstance(outcome, Solution):
            value = f"{outcome.objective_value:.6g}" if outcome.routes else "-"
            where = (f"not written: {unwritten[index]} (routes below)" if index in unwritten
                     else str(path))
            rows.append([instance, outcome.status, value,
                         f"{outcome.statistics.solve_time:.2f}", where])
        elif outcome is None:
            rows.append([instance, "interrupted", "-", "-", "not started"])
        else:
            rows.append([instance, "error", "-", "-", _one_line(outcome)])
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return "\n".join("  ".join(cell.ljust(w) for cell, w in zip(row, widths, strict=True)).rstrip()
                     for row in rows)


def _run_solve_many(args: argparse.Namespace) -> int:
    from orvik.batch import solve_many
    from orvik.live import BatchProgress, error_console
    from orvik.solution import Solution

    paths = _result_paths(args.instances, Path(args.out))
    replaced = _result_folder(args.out, args.instances, paths)
    if replaced:
        _say(f"replacing {len(replaced)} file(s) in {args.out}: {', '.join(replaced)}")
    console = error_console()
    live: Any = contextlib.nullcontext() if args.quiet else BatchProgress(len(args.instances),
                                                                           console)
    outcomes: dict[int, Any] = {}
    unwritten: dict[int, str] = {}

    def done(index: int, outcome: Any) -> None:
        # Each solution is written as soon as it is there, whole or not at all; a link in the
        # folder is replaced, never followed.
        outcomes[index] = outcome
        if isinstance(outcome, Solution):
            try:
                write_text(paths[index], outcome.to_json(), follow_links=False)
            except OSError as error:
                unwritten[index] = error.strerror or str(error)
        if not args.quiet:
            live.done(args.instances[index], outcome)

    interrupted = False
    with _executor(args.scheduler) as executor, _core_lines(console, sys.stderr, False), live:
        try:
            solve_many(args.instances, executor=executor, workers=args.workers,
                       return_exceptions=True, on_result=done, time_limit=args.time_limit,
                       **_solve_options(args))
        except KeyboardInterrupt:
            interrupted = True
    solved = sum(1 for o in outcomes.values() if isinstance(o, Solution) and o.solved)

    def show() -> None:
        print(_summary(args.instances, outcomes, paths, unwritten))
        print(f"{solved} of {len(args.instances)} solved")
        for index in sorted(unwritten):
            print(f"\n{args.instances[index]} (not written to {paths[index]}):")
            print(outcomes[index].report())

    shown = _show(show)
    if unwritten:
        _say(f"{len(unwritten)} solution(s) could not be written; their routes are shown above")
    if interrupted:
        _say(f"{_interrupted()}: the finished solutions and the best routes of the stopped ones "
             f"are written to {args.out}")
        return _interrupted_status()
    if not shown:
        return EXIT_BROKEN_PIPE
    return 0 if solved == len(args.instances) and not unwritten else 1


# ---------------------------------------------------------------------------------------------
# The parser


def _seconds(text: str) -> float:
    """An argument type: a positive, finite number of seconds."""
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number of seconds: {text!r}") from None
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"must be a positive, finite number of seconds, got "
                                         f"{text}")
    return value


def _whole_number(least: int) -> Any:
    """An argument type: a whole number of at least ``least``."""

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
        if value < least:
            raise argparse.ArgumentTypeError(f"must be {least} or more, got {value}")
        return value

    return parse


def _count(end: int) -> Any:
    """An argument type: a whole number from 0 to ``end`` - 1 (a seed, iterations), checked by
    the package's one check of such settings."""

    def parse(text: str) -> int:
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
        problem = count_problem(value, end)
        if problem is not None:
            wanted = "must be 0 or more" if problem == "below 0" else f"must be below {end}"
            raise argparse.ArgumentTypeError(f"{wanted}, got {value}")
        return value

    return parse


def _add_solve_options(parser: argparse.ArgumentParser) -> None:
    """The options of a solve, shared by `solve` and `solve-many`."""
    parser.add_argument("--time-limit", type=_seconds, default=None, metavar="S",
                        help="time limit of a solve in seconds, counted on --clock (default: "
                             f"the instance's own, else {DEFAULT_TIME_LIMIT:g})")
    parser.add_argument("--clock", choices=CLOCKS, default="wall",
                        help="what the time limit counts: wall-clock time (wall, the default) "
                             "or the processor time of the solving thread (cpu)")
    parser.add_argument("--no-improve", action="store_true",
                        help="do not improve the routes after the search")
    parser.add_argument("--seed", type=_count(SEED_END), default=None, metavar="N",
                        help="seed of the improvement's random choices")
    parser.add_argument("--iterations", type=_count(ITERATIONS_END), default=None,
                        metavar="N",
                        help="improvement iterations (default: until the time limit)")


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of the ``orvik`` command."""
    parser = argparse.ArgumentParser(
        prog="orvik", description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"orvik {_version()}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    info = sub.add_parser("info", help="print a summary of an instance file")
    info.add_argument("instance", help="path of a JSON instance")
    info.set_defaults(func=_run_info)

    check = sub.add_parser(
        "validate", help="list every error and warning of an instance (exit 1 on errors)",
        description="Validate an instance: shapes against the JSON Schema, then ids, types, "
                    "matrices, windows, objective and constraint kinds; warnings apart.")
    check.add_argument("instance", help="path of a JSON instance")
    check.set_defaults(func=_run_validate)

    solve = sub.add_parser(
        "solve", help="solve an instance and print the routes in node ids",
        description="Validate and solve an instance; print the objective and, per agent, the "
                    "route in node ids with arrival, wait and departure at every stop. "
                    "Progress goes to standard error. Ctrl-C stops the solve and prints the "
                    "best routes found so far. Exit status 0 when solved, 1 without a "
                    "solution, 2 when the instance has errors, 130 when interrupted.")
    solve.add_argument("instance", help="path of a JSON instance")
    _add_solve_options(solve)
    solve.add_argument("--no-validate", action="store_true",
                       help="skip the validation of the instance")
    solve.add_argument("-q", "--quiet", action="store_true",
                       help="show no progress on standard error (by default: a line per new "
                            "best value, otherwise one every 10 s, and on a terminal a bar over "
                            "the time limit)")
    solve.add_argument("-o", "--output", metavar="RESULT",
                       help="write the solution as JSON (readable by `orvik check` and `plot`)")
    solve.add_argument("--plot", metavar="PNG", help="draw the routes into an image file")
    solve.add_argument("--windows", action="store_true",
                       help="with --plot: show time windows and arrival times")
    solve.add_argument("--loads", action="store_true",
                       help="with --plot: show the load on board as each site is left")
    view = solve.add_mutually_exclusive_group()
    view.add_argument("--positions", action="store_true",
                      help="print routes as node positions (the compact view)")
    view.add_argument("--json", action="store_true", help="print the solution as JSON")
    solve.set_defaults(func=_run_solve)

    many = sub.add_parser(
        "solve-many", help="solve many instances in parallel, one result file each",
        description="Solve instances in parallel on a pool of threads, or on a Dask cluster "
                    "with --scheduler (needs the extra orvik[distributed]); write one solution "
                    "file per instance into --out and print a summary table. An instance that "
                    "fails is reported in its row and the others go on. Exit status 0 when "
                    "every instance is solved, 1 otherwise, 130 when interrupted.")
    many.add_argument("instances", nargs="+", metavar="FILE", help="paths of JSON instances")
    many.add_argument("--out", required=True, metavar="DIR",
                      help="folder for the solution files (created when missing; checked "
                           "before the first solve; a result never replaces an instance)")
    many.add_argument("--workers", type=_whole_number(1), default=None, metavar="N",
                      help="solves at once (default: one per processor)")
    many.add_argument("--scheduler", metavar="ADDRESS",
                      help="address of a Dask scheduler to solve on, e.g. tcp://host:8786")
    _add_solve_options(many)
    many.add_argument("-q", "--quiet", action="store_true",
                      help="show no progress on standard error")
    many.set_defaults(func=_run_solve_many)

    plot = sub.add_parser("plot", help="draw a solution file over its instance",
                          description="Draw the routes of a solution (from `orvik solve -o`) "
                                      "over the nodes of its instance.")
    plot.add_argument("instance", help="path of the JSON instance")
    plot.add_argument("result", help="path of the solution (from `orvik solve -o`)")
    plot.add_argument("-o", "--output", required=True, metavar="PNG",
                      help="image file to write (.png added when the name has no extension)")
    plot.add_argument("--windows", action="store_true", help="show time windows and arrivals")
    plot.add_argument("--loads", action="store_true",
                      help="show the load on board as each site is left")
    plot.set_defaults(func=_run_plot)

    add_convert_command(sub)
    add_check_command(sub)
    add_serve_command(sub)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``orvik`` command; returns the exit status: 2 for input it cannot use, said in
    one line (or a list of findings) on standard error, never a traceback."""
    args = build_parser().parse_args(argv)
    with _stop_on_sigterm():
        return _run(args)


def _run(args: argparse.Namespace) -> int:
    """Run the parsed command; turn what goes wrong into a line and an exit status."""
    from orvik.solving import SolverError

    try:
        return int(args.func(args))
    except BrokenPipeError:
        # The reader of standard output left (`orvik ... | head`): nothing more to say.
        _drop_output()
        return EXIT_BROKEN_PIPE
    except (InstanceError, SolverError, ValueError, TypeError) as error:
        # ValidationError and InstanceError are ValueErrors: the input cannot be used.
        _say(str(error))
        return EXIT_INVALID
    except ImportError as error:
        _say(str(error))
    except OSError as error:
        where = f"{error.filename}: " if error.filename else ""
        _say(f"{where}{error.strerror or error}")
    except KeyboardInterrupt:
        _say(_interrupted())
        return _interrupted_status()
    return 1


if __name__ == "__main__":
    sys.exit(main())
