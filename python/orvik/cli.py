"""The ``orvik`` command line."""

from __future__ import annotations

import argparse
import contextlib
import ctypes
import json
import os
import sys
from collections.abc import Iterator, Sequence
from typing import Any

from orvik.checker import add_check_command
from orvik.io import add_convert_command


def _summary(path: str) -> int:
    with open(path, encoding="utf-8") as handle:
        doc = json.load(handle)
    nodes = doc.get("nodes", [])
    agents = doc.get("agents", [])
    types = sorted({str(a.get("type", "")) for a in agents})
    constraints = doc.get("constraints", [])
    print(f"instance: {path}")
    print(f"nodes: {len(nodes)}")
    print(f"agents: {len(agents)}")
    print(f"agent types: {', '.join(types)}")
    print(f"constraints: {len(constraints)}")
    return 0


def _print_result(result: dict[str, Any]) -> None:
    print(f"status: {result['status']}")
    print(f"timeout: {result['timeout']}")
    for route in result["routes"]:
        path = " ".join(str(vertex) for vertex in route["path"])
        print(f"agent {route['agent_id']}: [{path}] cost {route['cost']:.6g}")
    for key, value in result["statistics"].items():
        print(f"{key}: {value:.6g}" if isinstance(value, float) else f"{key}: {value}")


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


def _solve(path: str, time_limit: float, as_json: bool) -> int:
    # Imported here so that `orvik info` works without touching the extension module.
    from _orvik_core import solve_json_file

    quiet = _core_stdout_to_stderr() if as_json else contextlib.nullcontext()
    try:
        with quiet:
            result = solve_json_file(path, time_limit)
    except (RuntimeError, IndexError, ValueError) as error:
        _flush_c_streams()
        print(f"orvik: {error}", file=sys.stderr)
        return 1
    # The core's own lines come before the summary.
    _flush_c_streams()
    if as_json:
        print(json.dumps(result, indent=2))
    else:
        _print_result(result)
    return 0 if result["status"] == "success" else 1


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="orvik", description=__doc__)
    sub = parser.add_subparsers(dest="command", required=True)
    info = sub.add_parser("info", help="print a summary of an instance file")
    info.add_argument("instance", help="path of a JSON instance")
    solve = sub.add_parser("solve", help="solve an instance file and print the routes")
    solve.add_argument("instance", help="path of a JSON instance")
    solve.add_argument(
        "--time-limit",
        type=float,
        default=-1.0,
        metavar="S",
        help="search time limit in seconds (default: the instance's own, 60 when it gives none)",
    )
    solve.add_argument("--json", action="store_true", help="print the result dictionary as JSON")
    add_convert_command(sub)
    add_check_command(sub)
    args = parser.parse_args(argv)
    if getattr(args, "func", None) is not None:
        return int(args.func(args))
    if args.command == "info":
        return _summary(args.instance)
    if args.command == "solve":
        return _solve(args.instance, args.time_limit, args.json)
    return 2


if __name__ == "__main__":
    sys.exit(main())
