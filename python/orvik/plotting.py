"""Plots of solutions with matplotlib (install ``orvik[plot]``).

Every function takes an optional ``ax`` (a matplotlib ``Axes``) and returns the one it drew on;
without one it makes a new figure that is not tied to any window, so plotting works on machines
without a display.
"""

from __future__ import annotations

import itertools
import os
from typing import TYPE_CHECKING, Any

from orvik.documents import Source
from orvik.model import Model

if TYPE_CHECKING:
    from matplotlib.axes import Axes

    from orvik.solution import Solution

_DEPOT_COLOUR = "black"
_SITE_COLOUR = "0.55"


def _require_matplotlib() -> Any:
    try:
        import matplotlib
    except ImportError:
        raise ImportError(
            "plotting needs matplotlib; install it with: pip install 'orvik[plot]'"
        ) from None
    return matplotlib


def _new_axes(size: tuple[float, float]) -> Axes:
    _require_matplotlib()
    from matplotlib.figure import Figure

    return Figure(figsize=size, layout="constrained").add_subplot()


def _model(model: Model | Source) -> Model:
    return model if isinstance(model, Model) else Model.from_json(model, validate=False)


def _check_solution(solution: Any) -> None:
    from orvik.solution import Solution

    if not isinstance(solution, Solution):
        raise TypeError(f"expected an orvik.Solution, got {type(solution).__name__}")


def check_matches(solution: Solution, model: Model) -> None:
    """Refuse a solution whose routes visit nodes the model does not have, or that stand at
    another position in it (a solution of another instance): ``ValueError`` naming the first."""
    nodes = model.nodes
    for route in solution.routes:
        for stop in route.stops:
            if not 0 <= stop.position < len(nodes) or nodes[stop.position].id != stop.node:
                raise ValueError(
                    f"the solution is not one of this instance: the route of agent "
                    f"{route.agent!r} visits node {stop.node!r} at position {stop.position}, "
                    f"but the instance has {len(nodes)} nodes"
                    + (f" and node {nodes[stop.position].id!r} there"
                       if 0 <= stop.position < len(nodes) else ""))


def plot_solution(
    solution: Solution,
    model: Model | Source,
    ax: Axes | None = None,
    *,
    windows: bool = False,
    labels: bool = True,
    loads: bool = False,
) -> Axes:
    """Draw the routes of a solution over the model's nodes (x, y), one colour per agent.

    Depots are black squares, sites grey dots labelled with their ids (``labels``); with
    ``windows`` each site with a time window shows "[open, close]" and its arrival time; with
    ``loads`` each site served shows the load on board when its agent leaves it (and each
    route's legend entry the load it starts with). The legend names each agent with its type
    and route cost.
    """
    _check_solution(solution)
    model = _model(model)
    check_matches(solution, model)
    ax = ax if ax is not None else _new_axes((10, 6.5))
    place = {node.id: (node.x, node.y) for node in model.nodes}
    arrivals = {stop.node: stop.arrival for route in solution.routes for stop in route.stops}
    carried = {stop.node: stop.load for route in solution.routes for stop in route.stops[1:-1]
               if stop.load}
    colours = _colours(len(solution.routes))
    for route, colour in zip(solution.routes, colours, strict=True):
        points = [place[node] for node in route.nodes]
        if len(points) < 2:
            continue
        xs, ys = zip(*points, strict=True)
        start_load = route.stops[0].load
        ax.plot(xs, ys, color=colour, linewidth=1.8, alpha=0.9, zorder=2,
                label=f"{route.agent} ({route.agent_type}): cost {route.cost:.5g}"
                + (f", leaves with {_load(start_load)}" if loads and start_load else ""))
        for (x0, y0), (x1, y1) in itertools.pairwise(points):
            ax.annotate("", xy=((x0 + x1) / 2 + (x1 - x0) * 0.05, (y0 + y1) / 2 + (y1 - y0) * 0.05),
                        xytext=((x0 + x1) / 2, (y0 + y1) / 2),
                        arrowprops={"arrowstyle": "-|>", "color": colour, "lw": 1.2},
                        zorder=3)
    sites = [n for n in model.nodes if not n.depot]
    depots = [n for n in model.nodes if n.depot]
    groups: dict[tuple[str, ...] | None, list[Any]] = {}
    for node in sites:
        groups.setdefault(node.types, []).append(node)
    markers = iter(("^", "D", "v", "P", "X", "*"))
    for types, members in groups.items():
        restricted = types is not None and set(types) != set(model.agent_types)
        ax.scatter([n.x for n in members], [n.y for n in members],
                   s=52 if restricted else 36, color=_SITE_COLOUR,
                   marker=next(markers, "o") if restricted else "o",
                   edgecolors="white", linewidths=0.6, zorder=4,
                   label=f"only {', '.join(types)}" if restricted and types else None)
    if depots:
        ax.scatter([n.x for n in depots], [n.y for n in depots], s=110, marker="s",
                   color=_DEPOT_COLOUR, zorder=5, label="depot")
    for node in model.nodes:
        text = str(node.id) if labels else ""
        if windows and node.window is not None:
            text += f"\n[{node.window[0]:g}, {node.window[1]:g}]"
            if node.id in arrivals and not node.depot:
                text += f" @{arrivals[node.id]:.4g}"
        if loads and node.id in carried:
            text += f"\nload {_load(carried[node.id])}"
        if text:
            ax.annotate(text, (node.x, node.y), xytext=(4, 4), textcoords="offset points",
                        fontsize=7, color="0.15", zorder=6)
    value = f"{solution.objective} = {solution.objective_value:.6g}" if solution.routes else (
        solution.status)
    if solution.interrupted and solution.routes:
        value += " (interrupted)"
    ax.set_title(f"{len(solution.routes)} routes, {value}")
    ax.set_xlabel("x")
    ax.set_ylabel("y")
    ax.set_aspect("equal", adjustable="datalim")
    ax.grid(True, linewidth=0.4, alpha=0.5)
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    return ax


_CLOCK_LABELS = {"wall": "wall-clock time (s)", "cpu": "processor time (s)"}


def plot_history(solution: Solution, ax: Axes | None = None) -> Axes:
    """Draw the objective of the improving solutions over the search, on the clock of its time
    limit (``solution.statistics.clock``, which labels the time axis).

    A step line holds each value until the next improvement and runs on to the end of the
    search (``statistics.search_time``), with a dot at each improvement; a single solution is
    a flat line over the run.
    """
    _check_solution(solution)
    _require_matplotlib()
    from matplotlib.ticker import MaxNLocator, ScalarFormatter

    ax = ax if ax is not None else _new_axes((7, 4))
    if solution.history:
        times = [p.time for p in solution.history]
        values = [p.objective for p in solution.history]
        end = max(solution.statistics.search_time, times[-1])
        ax.step([*times, end], [*values, values[-1]], where="post", color="tab:blue",
                linewidth=1.6, label=solution.objective)
        ax.plot(times, values, "o", color="tab:blue", markersize=4)
        ax.set_xlim(left=0, right=end * 1.02 if end > 0 else 1)
    else:
        ax.text(0.5, 0.5, "no improving solutions recorded", ha="center", va="center",
                transform=ax.transAxes)
    ax.set_xlabel(_CLOCK_LABELS.get(solution.statistics.clock, "time (s)"))
    ax.set_ylabel(f"{solution.objective} ({solution.objective_meaning})")
    ax.set_title("objective over the search")
    # Few, plain ticks: no offset or scientific notation on the values, none crowded.
    ax.xaxis.set_major_locator(MaxNLocator(nbins=6))
    ax.yaxis.set_major_locator(MaxNLocator(nbins=6))
    plain = ScalarFormatter(useOffset=False)
    plain.set_scientific(False)
    ax.yaxis.set_major_formatter(plain)
    ax.grid(True, linewidth=0.4, alpha=0.5)
    return ax


def save_solution_plot(
    solution: Solution,
    model: Model | Source,
    path: str | os.PathLike[str],
    *,
    windows: bool = False,
    loads: bool = False,
) -> None:
    """Plot a solution (``plot_solution``) into an image file; the format follows the
    file's extension (png, svg, pdf; see ``image_path``)."""
    target = image_path(path)
    ax = plot_solution(solution, model, windows=windows, loads=loads)
    ax.figure.savefig(target, dpi=130)


def image_path(path: str | os.PathLike[str]) -> str:
    """The file an image is written to: ``path``, with ".png" added when it has no extension.
    A folder, or an extension matplotlib cannot write, is a ``ValueError``."""
    _require_matplotlib()
    from matplotlib.figure import Figure

    name = os.fspath(path)
    if not name or os.path.isdir(name) or name.endswith(os.sep):
        raise ValueError(f"{name or repr(name)}: is a folder, not an image file name")
    stem, extension = os.path.splitext(os.path.basename(name))
    if not extension or not stem:
        return name + ".png"
    formats = Figure().canvas.get_supported_filetypes()
    if extension[1:].lower() not in formats:
        raise ValueError(f"{name}: {extension} is not an image format matplotlib writes; use "
                         f"one of {', '.join('.' + f for f in sorted(formats))}")
    return name


def _load(load: tuple[float, ...]) -> str:
    """A load as a label: a number for one dimension, else numbers separated by slashes."""
    return "/".join(f"{value:.4g}" for value in load)


def _colours(count: int) -> list[Any]:
    matplotlib = _require_matplotlib()
    palette = matplotlib.colormaps["tab10" if count <= 10 else "tab20"]
    return [palette(i % palette.N) for i in range(count)]
