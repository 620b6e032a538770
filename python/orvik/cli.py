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


def _with_improvement(text: str, improve: bool, seed: int | None) -> str:
    """The instance text with the improvement options set; unchanged when it is not a JSON
    object with an options object, so that the core reports what is wrong with it."""
    try:
        doc = json.loads(text)
    except ValueError:
        return text
    if not isinstance(doc, dict) or not isinstance(doc.get("options", {}), dict):
        return text
    options = dict(doc.get("options", {}))
    options["improve"] = improve
    if seed is not None:
        options["seed"] = seed
    doc["options"] = options
    return json.dumps(doc)


def _solve(path: str, time_limit: float, as_json: bool, improve: bool, seed: int | None) -> int:
    # Imported here so that `orvik info` works without touching the extension module.
    from _orvik_core import solve_json_file, solve_json_str

    try:
        with open(path, encoding="utf-8") as handle:
            text: str | None = _with_improvement(handle.read(), improve, seed)
    except UnicodeDecodeError:
        text = None  # the core reads the bytes itself
    except OSError:
        print(f"orvik: Cannot open file: {path}", file=sys.stderr)
        return 1
    quiet = _core_stdout_to_stderr() if as_json else contextlib.nullcontext()
    try:
        with quiet:
            if text is None:
                result = solve_json_file(path, time_limit)
            else:
                result = solve_json_str(text, time_limit)
    except (RuntimeError, IndexError) as error:
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
    solve.add_argument(
        "--no-improve",
        dest="improve",
        action="store_false",
        help="stop after the search; by default its first solution is improved by local search "
        "and ruin-and-recreate for the rest of the time limit",
    )
    solve.add_argument(
        "--seed",
        type=int,
        default=None,
        metavar="N",
        help="seed of the improvement's random choices (default: the instance's own, else 0)",
    )
    add_convert_command(sub)
    add_check_command(sub)
    args = parser.parse_args(argv)
    if getattr(args, "func", None) is not None:
        return int(args.func(args))
    if args.command == "info":
        return _summary(args.instance)
    if args.command == "solve":
        return _solve(args.instance, args.time_limit, args.json, args.improve, args.seed)
    return 2


if __name__ == "__main__":
    sys.exit(main())
