"""Converters from classic benchmark files to Orvik's JSON instance format.

Two sources are read, through the ``vrplib`` package (install ``orvik[vrplib]``):

- TSPLIB and VRPLIB files (``tsplib``, ``vrplib``). Edge weights of type ``EUC_2D`` follow the
  rounding rule below; ``ATT`` (pseudo-Euclidean) and ``GEO`` (geographical, whole kilometres)
  follow TSPLIB's definitions; ``EXPLICIT`` matrices (``FULL_MATRIX``, ``LOWER_ROW``) and the
  other ``*_2D`` types are read by ``vrplib``. The first node (a VRPLIB file's depot) is the
  depot; a VRPLIB file's demands (the sites' deliveries) and capacity are copied, and its
  VEHICLES (else the "-kN" of its name, the fewest routes it states) is the default number of
  agents, so that a CVRPLIB file solves as the literature means it.
- Solomon VRPTW files: one row per site with seven numbers (number, x, y, demand, ready time,
  due time, service time), row 0 being the depot. A file with the usual header (``VEHICLE`` /
  ``NUMBER CAPACITY`` / ``CUSTOMER``) is read by ``vrplib`` and its capacity copied to the
  agents; a file of rows alone is read here.

Every agent is of one type and starts and ends at the depot. Besides the keys the solver reads,
an instance carries "name" and "source" (format, rounding rule, scale), which the solver
ignores and the benchmark scripts use to find reference values. Distances follow one of three
rounding rules (``ROUNDING_RULES``):

- ``"exact"``: the Euclidean distance as a double;
- ``"tsplib"``: TSPLIB's nearest-integer rule, ``int(d + 0.5)``;
- ``"one-decimal"``: truncated to one decimal, ``floor(10 d) / 10`` (computed exactly for
  integer coordinates).

A Solomon instance folds the service time into the legs: ``cost(i, j) = service_i + d(i, j)``.
With a customer's window ``(ready, due)`` bounding the start of its service and the depot's
window ``(0, due_0)``, a route's cost is then the time its vehicle is back at the depot, waiting
included.

The solver reads a cost of 9999 as "no connection". A conversion whose largest leg cost reaches
that value is refused unless ``scale`` brings it below; ``scale`` multiplies every cost and every
time-window bound (they share one unit).
"""

from __future__ import annotations

import argparse
import math
import os
import re
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from orvik.documents import counted, write_json
from orvik.rules import MIN_MAX, MIN_SUM, NO_CONNECTION, OBJECTIVES, is_no_connection

ROUNDING_RULES = ("exact", "tsplib", "one-decimal")


@dataclass(frozen=True)
class Site:
    """One row of a benchmark file: a location with its optional service data."""

    number: int
    x: float
    y: float
    demand: float = 0.0
    ready: float = 0.0
    due: float = math.inf
    service: float = 0.0


# ---------------------------------------------------------------------------------------------
# Readers


@dataclass(frozen=True)
class LibraryFile:
    """A TSPLIB or VRPLIB file as read: its sites in file order, its edge weight type, the
    matrix when the type defines one (None for EUC_2D, whose rounding is chosen later), a
    VRPLIB capacity and the fleet size the file gives (None: it gives none)."""

    name: str
    sites: list[Site]
    weight_type: str
    matrix: list[list[float]] | None
    capacity: int | None
    vehicles: int | None = None


def named_fleet(name: str) -> int | None:
    """The smallest number of routes a CVRPLIB name states ("X-n101-k25": 25); None when it
    states none."""
    found = re.search(r"-k(\d+)(?:\b|_|$)", name)
    return int(found.group(1)) if found and int(found.group(1)) > 0 else None


WEIGHT_TYPES = ("EUC_2D", "ATT", "GEO", "EXPLICIT", "CEIL_2D", "FLOOR_2D", "EXACT_2D")


def _vrplib() -> Any:
    try:
        import vrplib
    except ImportError:
        raise ValueError(
            "reading TSPLIB, VRPLIB and Solomon files needs vrplib: pip install 'orvik[vrplib]'"
        ) from None
    return vrplib


def _read_library(path: str | os.PathLike[str], instance_format: str) -> dict[str, Any]:
    try:
        return _vrplib().read_instance(path, instance_format=instance_format,
                                       compute_edge_weights=False)
    except FileNotFoundError:
        raise ValueError(f"{path}: no such file") from None
    except (RuntimeError, ValueError, IndexError, KeyError) as error:
        raise ValueError(f"{path}: not a readable {instance_format} file ({error})") from None


def att_distance(a: Site, b: Site) -> float:
    """TSPLIB's pseudo-Euclidean distance (ATT): sqrt((dx^2 + dy^2) / 10) rounded up to a
    whole number unless rounding to the nearest one is already above."""
    r = math.sqrt(((a.x - b.x) ** 2 + (a.y - b.y) ** 2) / 10.0)
    t = int(r + 0.5)
    return float(t + 1 if t < r else t)


def geo_distance(a: Site, b: Site) -> float:
    """TSPLIB's geographical distance (GEO) in whole kilometres; x is the latitude and y the
    longitude, written as degrees.minutes (DDD.MM)."""

    def radians(value: float) -> float:
        degrees = math.trunc(value)
        return 3.141592 * (degrees + 5.0 * (value - degrees) / 3.0) / 180.0

    lat_a, lon_a, lat_b, lon_b = radians(a.x), radians(a.y), radians(b.x), radians(b.y)
    q1 = math.cos(lon_a - lon_b)
    q2 = math.cos(lat_a - lat_b)
    q3 = math.cos(lat_a + lat_b)
    cosine = max(-1.0, min(1.0, 0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3)))
    return float(int(6378.388 * math.acos(cosine) + 1.0))


def read_tsplib(path: str | os.PathLike[str]) -> LibraryFile:
    """Read a TSPLIB or VRPLIB file (through ``vrplib``); the depot, when the file names one,
    comes first."""
    data = _read_library(path, "vrplib")
    weight_type = str(data.get("edge_weight_type", ""))
    if weight_type not in WEIGHT_TYPES:
        raise ValueError(f"{path}: EDGE_WEIGHT_TYPE is {weight_type!r}; supported are "
                         f"{', '.join(WEIGHT_TYPES)}")
    coords = data.get("node_coord")
    if coords is None:
        coords = data.get("display_data")
    if coords is None and weight_type != "EXPLICIT":
        raise ValueError(f"{path}: EDGE_WEIGHT_TYPE {weight_type} needs a NODE_COORD_SECTION")
    dimension = data.get("dimension")
    count = len(coords) if coords is not None else int(dimension or 0)
    if count == 0:
        raise ValueError(f"{path}: no NODE_COORD_SECTION entries")
    if dimension is not None and int(dimension) != count:
        raise ValueError(f"{path}: DIMENSION is {dimension} but {count} nodes were read")
    demands = data.get("demand")
    sites = [
        Site(i + 1, float(coords[i][0]) if coords is not None else 0.0,
             float(coords[i][1]) if coords is not None else 0.0,
             float(demands[i]) if demands is not None else 0.0)
        for i in range(count)
    ]
    depots = [int(d) for d in data.get("depot", [0])]
    if depots != [0]:
        raise ValueError(f"{path}: the depot must be the first node and the only one, got "
                         f"nodes {[d + 1 for d in depots]}")
    matrix: list[list[float]] | None = None
    if weight_type == "EXPLICIT":
        matrix = [[float(c) for c in row] for row in data["edge_weight"]]
    elif weight_type in ("ATT", "GEO"):
        rule = att_distance if weight_type == "ATT" else geo_distance
        matrix = [[0.0 if i == j else rule(a, b) for j, b in enumerate(sites)]
                  for i, a in enumerate(sites)]
    elif weight_type != "EUC_2D":  # vrplib computes the other *_2D types itself
        computed = _vrplib().read_instance(path, compute_edge_weights=True)["edge_weight"]
        matrix = [[float(c) for c in row] for row in computed]
    if matrix is not None and len(matrix) != count:
        raise ValueError(f"{path}: the edge weights cover {len(matrix)} nodes, not {count}")
    name = str(data.get("name") or os.path.splitext(os.path.basename(path))[0])
    capacity = data.get("capacity")
    vehicles = data.get("vehicles")
    if vehicles is not None and (not float(vehicles).is_integer() or int(vehicles) < 1):
        raise ValueError(f"{path}: VEHICLES is {vehicles}, not a positive whole number")
    return LibraryFile(name, sites, weight_type, matrix,
                       None if capacity is None else int(capacity),
                       int(vehicles) if vehicles is not None else named_fleet(name))


@dataclass(frozen=True)
class SolomonFile:
    """A Solomon file as read: its name, its sites (depot first), and the vehicle capacity and
    count of its header (None: the file has no header)."""

    name: str
    sites: list[Site]
    capacity: int | None = None
    vehicles: int | None = None


def read_solomon(path: str | os.PathLike[str]) -> SolomonFile:
    """Read a Solomon VRPTW file."""
    with open(path, encoding="utf-8") as handle:
        text = handle.read()
    if re.search(r"^\s*VEHICLE\s*$", text, re.MULTILINE):
        return _read_solomon_with_header(path)
    lines = text.splitlines()
    name = os.path.splitext(os.path.basename(path))[0]
    capacity: int | None = None
    vehicles: int | None = None
    sites: list[Site] = []
    expect_vehicle_row = False
    for raw in lines:
        parts = raw.split()
        if not parts:
            continue
        if all(_is_number(p) for p in parts):
            if expect_vehicle_row and len(parts) == 2:
                vehicles, capacity = int(float(parts[0])), int(float(parts[1]))
                expect_vehicle_row = False
                continue
            if len(parts) != 7:
                raise ValueError(f"{path}: expected 7 numbers per row, got {raw.strip()!r}")
            number, x, y, demand, ready, due, service = (float(p) for p in parts)
            sites.append(Site(int(number), x, y, demand, ready, due, service))
        elif parts[0].upper() == "NUMBER" and "CAPACITY" in (p.upper() for p in parts):
            expect_vehicle_row = True
        elif not sites and len(parts) == 1 and parts[0].upper() not in ("VEHICLE", "CUSTOMER"):
            name = parts[0]
    if not sites:
        raise ValueError(f"{path}: no site rows")
    if sites[0].number != 0:
        raise ValueError(f"{path}: the first row must be the depot (number 0)")
    return SolomonFile(name, sites, capacity, vehicles)


def _read_solomon_with_header(path: str | os.PathLike[str]) -> SolomonFile:
    data = _read_library(path, "solomon")
    sites = [
        Site(number, float(x), float(y), float(demand), float(ready), float(due), float(service))
        for number, ((x, y), demand, (ready, due), service) in enumerate(zip(
            data["node_coord"], data["demand"], data["time_window"], data["service_time"],
            strict=True))
    ]
    if not sites:
        raise ValueError(f"{path}: no site rows")
    vehicles = data.get("vehicles")
    return SolomonFile(str(data["name"]), sites, int(data["capacity"]),
                       None if vehicles is None else int(vehicles))


def _is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


# ---------------------------------------------------------------------------------------------
# Distances


def distance(a: Site, b: Site, rounding: str = "exact") -> float:
    """Euclidean distance between two sites under one of ``ROUNDING_RULES``."""
    dx, dy = a.x - b.x, a.y - b.y
    if rounding == "exact":
        return math.hypot(dx, dy)
    if rounding == "tsplib":
        return float(int(math.sqrt(dx * dx + dy * dy) + 0.5))
    if rounding == "one-decimal":
        if dx.is_integer() and dy.is_integer():
            # floor(10 d) = isqrt(100 d^2) holds exactly for integer coordinates.
            return math.isqrt(int(100 * (dx * dx + dy * dy))) / 10.0
        return math.floor(10.0 * math.sqrt(dx * dx + dy * dy)) / 10.0
    raise ValueError(f"unknown rounding rule {rounding!r}; expected one of {ROUNDING_RULES}")


# ---------------------------------------------------------------------------------------------
# Instance building


def _fleet(path: str | os.PathLike[str], agents: int | None, given: int | None) -> int:
    """The number of agents: the one asked for, else the one the file gives."""
    if agents is not None:
        return agents
    if given is None:
        raise ValueError(f"{path} gives no number of vehicles; give the number of agents "
                         "(--agents)")
    return given


def _check_capacity(capacity: float | None) -> None:
    if capacity is not None and (isinstance(capacity, bool) or not isinstance(
            capacity, (int, float)) or not math.isfinite(capacity) or capacity <= 0):
        raise ValueError(f"the capacity must be a positive number, got {capacity!r}")


def _check_common(agents: int | None, objective: str, rounding: str) -> None:
    if agents is not None and (isinstance(agents, bool) or not isinstance(agents, int)
                               or agents < 1):
        raise ValueError(f"the number of agents must be a positive integer, got {agents!r}")
    if objective not in OBJECTIVES:
        raise ValueError(f"unknown objective {objective!r}; expected one of {OBJECTIVES}")
    if rounding not in ROUNDING_RULES:
        raise ValueError(f"unknown rounding rule {rounding!r}; expected one of {ROUNDING_RULES}")


def _apply_scale(matrix: list[list[float]], scale: float | None) -> float:
    """Scales the matrix in place; returns the factor used. Refuses costs of 9999 or more."""
    factor = 1.0 if scale is None else float(scale)
    if not factor > 0.0 or math.isinf(factor):
        raise ValueError(f"scale must be a positive finite number, got {scale!r}")
    if factor != 1.0:
        for row in matrix:
            for j, value in enumerate(row):
                row[j] = value * factor
    largest = max((v for row in matrix for v in row), default=0.0)
    if is_no_connection(largest):
        hint = math.floor(1000.0 * (NO_CONNECTION - 1.0) / largest * factor) / 1000.0
        raise ValueError(
            f"largest leg cost {largest:g} reaches {NO_CONNECTION:g}, which the solver reads as "
            f"'no connection'; pass a scale (for example scale={hint:g}) to rescale costs and "
            "time windows"
        )
    return factor


def _build(
    name: str,
    sites: Sequence[Site],
    matrix: list[list[float]],
    agents: int,
    objective: str,
    agent_type: str,
    windows: list[tuple[float, float]] | None,
    capacity: float | None,
    time_limit: float | None,
    source: dict[str, Any],
) -> dict[str, Any]:
    nodes: list[dict[str, Any]] = []
    for vertex, site in enumerate(sites):
        node: dict[str, Any] = {
            "id": vertex,
            "x": site.x,
            "y": site.y,
            "z": 0.0,
            "type": "DEPOT" if vertex == 0 else "TARGET",
        }
        if site.demand:
            node["demand"] = site.demand
        nodes.append(node)
    agent_list: list[dict[str, Any]] = []
    for k in range(agents):
        agent: dict[str, Any] = {"id": k, "type": agent_type, "start_node": 0, "end_node": 0}
        if capacity is not None:
            agent["capacity"] = capacity
        agent_list.append(agent)
    constraints: list[dict[str, Any]] = [
        {
            "kind": "assignment",
            "items": [{"node": v, "types": [agent_type]} for v in range(len(sites))],
        }
    ]
    if windows is not None:
        constraints.append(
            {
                "kind": "timewindow",
                "items": [
                    {"node": v, "start": w[0], "end": w[1]} for v, w in enumerate(windows)
                ],
            }
        )
    options: dict[str, Any] = {"return_to_end": True, "objective": objective}
    if time_limit is not None:
        options["time_limit"] = float(time_limit)
    return {
        "name": name,
        "source": source,
        "nodes": nodes,
        "agents": agent_list,
        "costs": {agent_type: matrix},
        "constraints": constraints,
        "options": options,
    }


def tsplib_instance(
    path: str | os.PathLike[str],
    agents: int | None = None,
    objective: str = MIN_MAX,
    rounding: str = "exact",
    *,
    scale: float | None = None,
    agent_type: str = "salesman",
    time_limit: float | None = None,
    capacity: float | None = None,
) -> dict[str, Any]:
    """Convert a TSPLIB or VRPLIB file into an instance: node ids are file positions
    (0-based), the first node is the depot and every agent starts and ends there. ``rounding``
    applies to EUC_2D distances; the other types bring their own rule. A VRPLIB file's demands
    are the sites' deliveries and its capacity every agent's (``capacity`` replaces it).
    ``agents`` defaults to the file's fleet: its VEHICLES, else the smallest number of routes
    its name states ("-k25")."""
    _check_common(agents, objective, rounding)
    _check_capacity(capacity)
    read = read_tsplib(path)
    agents = _fleet(path, agents, read.vehicles)
    sites = read.sites
    matrix = read.matrix or [
        [0.0 if i == j else distance(a, b, rounding) for j, b in enumerate(sites)]
        for i, a in enumerate(sites)
    ]
    factor = _apply_scale(matrix, scale)
    source: dict[str, Any] = {"format": "tsplib", "rounding": rounding, "scale": factor}
    if read.weight_type != "EUC_2D":
        source = {"format": "tsplib", "edge_weight_type": read.weight_type, "scale": factor}
    return _build(
        read.name, sites, matrix, agents, objective, agent_type, None,
        read.capacity if capacity is None else capacity, time_limit, source,
    )


def solomon_instance(
    path: str | os.PathLike[str],
    agents: int | None = None,
    objective: str = MIN_SUM,
    customers: int | None = None,
    rounding: str = "one-decimal",
    *,
    scale: float | None = None,
    agent_type: str = "vehicle",
    time_limit: float | None = None,
    capacity: float | None = None,
) -> dict[str, Any]:
    """Convert a Solomon VRPTW file (the depot plus its first ``customers`` customers, all when
    None) into an instance with service times folded into the legs and time windows. The
    demands are the sites' deliveries; the capacity is the file's (``capacity`` replaces it,
    and gives one to a file without a header). ``agents`` defaults to the file's vehicle
    count."""
    _check_common(agents, objective, rounding)
    _check_capacity(capacity)
    read = read_solomon(path)
    name, sites = read.name, read.sites
    agents = _fleet(path, agents, read.vehicles)
    capacity = read.capacity if capacity is None else capacity
    available = len(sites) - 1
    if customers is not None:
        if isinstance(customers, bool) or not isinstance(customers, int) or customers < 1:
            raise ValueError(f"customers must be a positive integer, got {customers!r}")
        if customers > available:
            raise ValueError(f"{path} has {available} customers; {customers} were asked for")
        sites = sites[: customers + 1]
        name = f"{name}.{customers}"
    matrix = [
        [0.0 if i == j else a.service + distance(a, b, rounding) for j, b in enumerate(sites)]
        for i, a in enumerate(sites)
    ]
    factor = _apply_scale(matrix, scale)
    windows = [(0.0, sites[0].due * factor)]
    windows += [(s.ready * factor, s.due * factor) for s in sites[1:]]
    source = {"format": "solomon", "rounding": rounding, "scale": factor}
    return _build(
        name, sites, matrix, agents, objective, agent_type, windows, capacity, time_limit, source
    )


def write_instance(instance: dict[str, Any], path: str | os.PathLike[str]) -> None:
    """Write an instance as JSON, whole or not at all; doubles are written with full
    precision."""
    write_json(instance, path, 1)


# ---------------------------------------------------------------------------------------------
# Command line


def add_convert_command(subparsers: Any) -> argparse.ArgumentParser:
    """Register ``convert`` on an argparse subparsers object; the parser's ``func`` default
    runs the conversion and returns the exit status."""
    parser = subparsers.add_parser(
        "convert",
        help="convert a TSPLIB, VRPLIB or Solomon file into a JSON instance",
        description="Convert a TSPLIB or VRPLIB file (EUC_2D, ATT, GEO, EXPLICIT) or a Solomon "
                    "VRPTW file into a JSON instance.",
    )
    parser.add_argument("format", choices=("tsplib", "vrplib", "solomon"),
                        help="format of the input (tsplib and vrplib are read alike)")
    parser.add_argument("input", help="benchmark file to read")
    parser.add_argument("output", help="JSON instance file to write")
    parser.add_argument("--agents", type=int,
                        help="number of agents (default: the file's VEHICLES, or the smallest "
                             "number of routes its name states, or its Solomon vehicle count)")
    parser.add_argument("--capacity", type=float,
                        help="every agent's capacity (default: the file's CAPACITY)")
    parser.add_argument(
        "--objective", choices=OBJECTIVES, help="min_max (TSPLIB default) or min_sum (Solomon)"
    )
    parser.add_argument(
        "--rounding",
        choices=ROUNDING_RULES,
        help="distance rule: exact (TSPLIB default), tsplib, one-decimal (Solomon default)",
    )
    parser.add_argument(
        "--customers", type=int, help="Solomon only: keep the depot and the first N customers"
    )
    parser.add_argument("--scale", type=float, help="multiply costs and time windows by this")
    parser.add_argument("--time-limit", type=float, help="solver time limit to store, seconds")
    parser.set_defaults(func=run_convert_command)
    return parser


def _check_output(args: argparse.Namespace) -> None:
    """Refuse, before reading, an output that would replace the input or cannot be written."""
    output, given = args.output, args.input
    same = os.path.realpath(output) == os.path.realpath(given)
    if same or (os.path.exists(output) and os.path.exists(given)
                and os.path.samefile(output, given)):
        raise ValueError(f"{output}: would write over the input {given}")
    if os.path.isdir(output):
        raise ValueError(f"{output}: is a folder; name the instance file to write")
    folder = os.path.dirname(os.path.abspath(output))
    if not os.path.isdir(folder):
        raise ValueError(f"{output}: the folder {os.path.dirname(output)} does not exist")
    for name, value in (("--scale", args.scale), ("--time-limit", args.time_limit)):
        if value is not None and not (math.isfinite(value) and value > 0):
            raise ValueError(f"{name} must be a positive, finite number, got {value}")


def run_convert_command(args: argparse.Namespace) -> int:
    """Carry out ``orvik convert``; prints a one-line summary. Exit status 2 for input it cannot
    use (said in one line), 1 when the output cannot be written."""
    try:
        _check_output(args)
        if args.format in ("tsplib", "vrplib"):
            if args.customers is not None:
                raise ValueError("--customers applies to Solomon files only")
            instance = tsplib_instance(
                args.input,
                args.agents,
                args.objective or MIN_MAX,
                args.rounding or "exact",
                scale=args.scale,
                time_limit=args.time_limit,
                capacity=args.capacity,
            )
        else:
            instance = solomon_instance(
                args.input,
                args.agents,
                args.objective or MIN_SUM,
                args.customers,
                args.rounding or "one-decimal",
                scale=args.scale,
                time_limit=args.time_limit,
                capacity=args.capacity,
            )
    except (OSError, ValueError) as error:
        print(f"orvik convert: {error}", file=sys.stderr)
        return 2
    try:
        write_instance(instance, args.output)
    except OSError as error:
        print(f"orvik convert: {args.output}: cannot write ({error.strerror or error})",
              file=sys.stderr)
        return 1
    print(
        f"wrote {args.output}: {counted(len(instance['nodes']), 'node')}, "
        f"{counted(len(instance['agents']), 'agent')}, "
        f"objective {instance['options']['objective']}"
    )
    return 0
