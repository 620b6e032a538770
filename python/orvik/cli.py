"""The ``orvik`` command line: it parses arguments and calls the package's functions."""

from __future__ import annotations

import argparse
import contextlib
import logging
import sys
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Any

from orvik.checker import add_check_command
from orvik.documents import InstanceError, load_document
from orvik.io import add_convert_command

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
  orvik plot instance.json result.json -o routes.png"""

EXIT_INVALID = 2
EXIT_INTERRUPTED = 130


def _version() -> str:
    from orvik import __version__

    return __version__


def _say(message: str) -> None:
    print(f"orvik: {message}", file=sys.stderr)


# ---------------------------------------------------------------------------------------------
# info and validate


def _run_info(args: argparse.Namespace) -> int:
    doc = load_document(args.instance)
    nodes = doc.get("nodes") or []
    agents = doc.get("agents") or []
    types = sorted({str(a.get("type", "")) for a in agents if isinstance(a, dict)})
    depots = sum(1 for n in nodes if isinstance(n, dict) and n.get("type") == "DEPOT")
    options = doc.get("options") if isinstance(doc.get("options"), dict) else {}
    print(f"instance: {args.instance}")
    print(f"nodes: {len(nodes)}")
    print(f"depots: {depots}")
    print(f"agents: {len(agents)}")
    print(f"agent types: {', '.join(types)}")
    print(f"constraints: {len(doc.get('constraints') or [])}")
    print(f"objective: {options.get('objective', 'min_sum')}")
    return 0


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
    """The options of ``Model.solve`` that `solve` and `solve-many` share."""
    return {"improve": not args.no_improve, "seed": args.seed, "iterations": args.iterations,
            "clock": args.clock, "validate": False}


def _run_solve(args: argparse.Namespace) -> int:
    from orvik.live import SolveProgress, error_console
    from orvik.model import Model
    from orvik.solving import budget_seconds
    from orvik.validation import validate

    doc = load_document(args.instance)
    if not args.no_validate:
        findings = validate(doc)
        _print_findings(args.instance, findings.warnings, sys.stderr)
        if findings.errors:
            _print_findings(args.instance, findings.errors, sys.stderr)
            return EXIT_INVALID
    model = Model.from_json(doc, validate=False)
    console = error_console()
    # The solver's progress lines keep standard output for the solution alone with --json.
    lines = _core_lines(console, sys.stderr if args.json else sys.stdout, not args.quiet)
    limit = budget_seconds(model, args.time_limit)
    live: Any = contextlib.nullcontext()
    if not args.quiet:
        clock = "wall-clock" if args.clock == "wall" else "processor"
        console.print(f"solving {args.instance}: {len(model.nodes)} nodes, "
                      f"{len(model.agents)} agents, {limit:g} s of {clock} time",
                      markup=False, highlight=False, soft_wrap=True)
        live = SolveProgress(limit, model.objective, console)
    with lines, live:
        solution = model.solve(args.time_limit, progress=None if args.quiet else live,
                               **_solve_options(args))
    if args.output:
        solution.to_json(args.output)
    if args.plot:
        from orvik.plotting import save_solution_plot

        save_solution_plot(solution, model, args.plot, windows=args.windows)
    if args.json:
        print(solution.to_json(indent=2), end="")
    elif args.positions:
        _print_positions(solution)
    else:
        print(solution.report())
    if solution.interrupted:
        _say("interrupted: " + ("the routes above are the best found before the stop"
                                if solution.routes else "no solution was found before the stop"))
        return EXIT_INTERRUPTED
    return 0 if solution.solved else 1


def _print_positions(solution: Any) -> None:
    """The compact view: routes as node positions, as the result dictionary gives them."""
    print(f"status: {'success' if solution.routes else 'failed'}")
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
    from orvik.plotting import save_solution_plot
    from orvik.solution import Solution

    model = Model.from_json(args.instance, validate=False)
    solution = Solution.from_json(args.result, instance=model)
    save_solution_plot(solution, model, args.output, windows=args.windows)
    print(f"wrote {args.output}")
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
        raise ValueError(f"cannot reach the Dask scheduler at {scheduler} within 5 s: "
                         f"{error}") from None
    with client:
        yield client


def _summary(instances: Sequence[str], outcomes: Sequence[Any], paths: Sequence[Path]) -> str:
    """The table of a batch: instance, status, objective, seconds, and the solution file or
    what went wrong."""
    from orvik.solution import Solution

    rows = [["instance", "status", "objective", "seconds", "result"]]
    for instance, outcome, path in zip(instances, outcomes, paths, strict=True):
        if isinstance(outcome, Solution):
            value = f"{outcome.objective_value:.6g}" if outcome.routes else "-"
            rows.append([instance, outcome.status, value,
                         f"{outcome.statistics.solve_time:.2f}", str(path)])
        else:
            rows.append([instance, "error", "-", "-", str(outcome)])
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return "\n".join("  ".join(cell.ljust(w) for cell, w in zip(row, widths, strict=True)).rstrip()
                     for row in rows)


def _run_solve_many(args: argparse.Namespace) -> int:
    from orvik.batch import solve_many
    from orvik.live import BatchProgress, error_console
    from orvik.solution import Solution

    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    paths = _result_paths(args.instances, out)
    console = error_console()
    live: Any = contextlib.nullcontext() if args.quiet else BatchProgress(len(args.instances),
                                                                           console)

    def done(index: int, outcome: Any) -> None:
        if isinstance(outcome, Solution):
            outcome.to_json(paths[index])
        if not args.quiet:
            live.done(args.instances[index], outcome)

    options = _solve_options(args)
    options["validate"] = True
    with _executor(args.scheduler) as executor, _core_lines(console, sys.stderr, False), live:
        outcomes = solve_many(args.instances, executor=executor, workers=args.workers,
                              return_exceptions=True, on_result=done,
                              time_limit=args.time_limit, **options)
    print(_summary(args.instances, outcomes, paths))
    solved = sum(1 for o in outcomes if isinstance(o, Solution) and o.solved)
    print(f"{solved} of {len(outcomes)} solved")
    return 0 if solved == len(outcomes) else 1


# ---------------------------------------------------------------------------------------------
# The parser


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


def _add_solve_options(parser: argparse.ArgumentParser) -> None:
    """The options of a solve, shared by `solve` and `solve-many`."""
    parser.add_argument("--time-limit", type=float, default=None, metavar="S",
                        help="time limit of a solve in seconds, counted on --clock (default: "
                             "the instance's own, else 60)")
    parser.add_argument("--clock", choices=("wall", "cpu"), default="wall",
                        help="what the time limit counts: wall-clock time (wall, the default) "
                             "or the processor time of the solving thread (cpu)")
    parser.add_argument("--no-improve", action="store_true",
                        help="do not improve the routes after the search")
    parser.add_argument("--seed", type=_whole_number(0), default=None, metavar="N",
                        help="seed of the improvement's random choices")
    parser.add_argument("--iterations", type=_whole_number(0), default=None, metavar="N",
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
                       help="show no progress on standard error (by default: a line per "
                            "improvement and a bar over the time limit)")
    solve.add_argument("-o", "--output", metavar="RESULT",
                       help="write the solution as JSON (readable by `orvik check` and `plot`)")
    solve.add_argument("--plot", metavar="PNG", help="draw the routes into an image file")
    solve.add_argument("--windows", action="store_true",
                       help="with --plot: show time windows and arrival times")
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
                      help="folder for the solution files (created when missing)")
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
    plot.add_argument("-o", "--output", required=True, metavar="PNG", help="image file to write")
    plot.add_argument("--windows", action="store_true", help="show time windows and arrivals")
    plot.set_defaults(func=_run_plot)

    add_convert_command(sub)
    add_check_command(sub)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the ``orvik`` command; returns the exit status. Errors are one line each on
    standard error, never a traceback."""
    from orvik.solving import SolverError
    from orvik.validation import ValidationError

    args = build_parser().parse_args(argv)
    try:
        return int(args.func(args))
    except ValidationError as error:
        _say(str(error))
        return EXIT_INVALID
    except (InstanceError, SolverError) as error:
        _say(str(error))
    except ImportError as error:
        _say(str(error))
    except OSError as error:
        where = f"{error.filename}: " if error.filename else ""
        _say(f"{where}{error.strerror or error}")
    except ValueError as error:
        _say(str(error))
    except KeyboardInterrupt:
        _say("interrupted")
        return EXIT_INTERRUPTED
    return 1


if __name__ == "__main__":
    sys.exit(main())
