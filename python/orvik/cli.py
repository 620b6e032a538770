"""The ``orvik`` command line: it parses arguments and calls the package's functions."""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import os
import sys
from collections.abc import Iterator, Sequence
from typing import Any

from orvik.checker import add_check_command
from orvik.documents import InstanceError, load_document
from orvik.io import add_convert_command

DESCRIPTION = """\
Orvik plans the routes of several agents (robots, vehicles) of different types that together
serve every site once: one cost matrix per agent type, sites that only some types may serve,
time windows, route-length limits, and the objective of the shortest longest route (min_max)
or the smallest total cost (min_sum). Instances are JSON files (see the README's "Instance
format"); `orvik validate` checks one, `orvik solve` solves it."""

EPILOG = """\
examples:
  orvik validate instance.json
  orvik solve instance.json --time-limit 10 -o result.json --plot routes.png
  orvik check instance.json result.json
  orvik plot instance.json result.json -o routes.png"""

EXIT_INVALID = 2


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


def _flush_c_streams() -> None:
    """Write out what the core left in the C library's stream buffers."""
    ctypes.CDLL(None).fflush(None)


@contextlib.contextmanager
def _core_stdout_to_stderr() -> Iterator[None]:
    """Send what the core writes to the process's standard output to standard error instead.

    The core prints progress lines straight to file descriptor 1; with ``--json`` standard
    output must hold the JSON document alone.
    """
    sys.stdout.flush()
    saved = os.dup(1)
    try:
        os.dup2(2, 1)
        yield
    finally:
        _flush_c_streams()
        os.dup2(saved, 1)
        os.close(saved)


def _run_solve(args: argparse.Namespace) -> int:
    from orvik.model import Model
    from orvik.validation import validate

    doc = load_document(args.instance)
    if not args.no_validate:
        findings = validate(doc)
        _print_findings(args.instance, findings.warnings, sys.stderr)
        if findings.errors:
            _print_findings(args.instance, findings.errors, sys.stderr)
            return EXIT_INVALID
    model = Model.from_json(doc, validate=False)
    quiet = _core_stdout_to_stderr() if args.json else contextlib.nullcontext()
    try:
        with quiet:
            solution = model.solve(args.time_limit, improve=not args.no_improve, seed=args.seed,
                                   validate=False)
    finally:
        _flush_c_streams()  # the core's own lines come before the summary
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
    return 0 if solution.solved else 1


def _print_positions(solution: Any) -> None:
    """The compact view: routes as node positions, as the result dictionary gives them."""
    print(f"status: {'success' if solution.solved else 'failed'}")
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
# The parser


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
                    "route in node ids with arrival, wait and departure at every stop. Exit "
                    "status 0 when solved, 1 without a solution, 2 when the instance has "
                    "errors.")
    solve.add_argument("instance", help="path of a JSON instance")
    solve.add_argument("--time-limit", type=float, default=None, metavar="S",
                       help="search time in seconds (default: the instance's own, else 60)")
    solve.add_argument("--no-improve", action="store_true",
                       help="do not improve the routes after the search")
    solve.add_argument("--seed", type=int, default=None, metavar="N",
                       help="seed of the improvement's random choices")
    solve.add_argument("--no-validate", action="store_true",
                       help="skip the validation of the instance")
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
        return 130
    return 1


if __name__ == "__main__":
    sys.exit(main())
