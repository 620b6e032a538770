"""orvik.plotting draws on the Agg backend: one line per route, depots and windows marked."""

import dataclasses
import itertools
from io import BytesIO

import orvik
import pytest
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.figure import Figure
from orvik.plotting import plot_history, plot_solution, save_solution_plot


@pytest.fixture(scope="module")
def solved():
    """A dock, three sites (one with a window) and two robots, solved."""
    m = orvik.Model(objective="min_max")
    m.add_depot("dock", 0, 0)
    m.add_site("a", 0, 10)
    m.add_site("b", 10, 10, window=(0, 50))
    m.add_site("c", 10, 0)
    m.add_agent("r1", "ground", "dock")
    m.add_agent("r2", "ground", "dock")
    m.costs_from_coordinates("ground")
    return m, m.solve(time_limit=1)


def test_plot_solution_draws_each_route_on_the_given_axes(solved):
    model, solution = solved
    figure = Figure()
    FigureCanvasAgg(figure)
    ax = figure.add_subplot()
    assert plot_solution(solution, model, ax=ax, windows=True) is ax
    drawn = [line for line in ax.get_lines() if line.get_label().startswith("r")]
    assert [line.get_label().split(" ")[0] for line in drawn] == ["r1", "r2"]
    colours = {tuple(line.get_color()) for line in drawn}
    assert len(colours) == 2
    texts = [t.get_text() for t in ax.texts]
    assert any(t.startswith("b\n[0, 50] @") for t in texts)
    assert "depot" in [h.get_label() for h in ax.get_legend().legend_handles]
    assert ax.get_title() == f"2 routes, min_max = {solution.objective_value:.6g}"
    figure.savefig(BytesIO(), format="png")


def test_plot_history_and_saving(solved, tmp_path):
    model, solution = solved
    ax = plot_history(solution)
    assert ax.get_xlabel() == "wall-clock time (s)"
    # The step line runs on to the end of the search; a dot marks each improvement.
    step, dots = ax.get_lines()
    assert len(step.get_xdata()) == len(solution.history) + 1
    assert len(dots.get_xdata()) == len(solution.history)
    path = tmp_path / "routes.png"
    save_solution_plot(solution, model.to_dict(), path)
    assert path.read_bytes()[:4] == b"\x89PNG"


def _with_history(solution, clock, points, search_time):
    history = tuple(orvik.Progress(t, v, v, v) for t, v in points)
    statistics = dataclasses.replace(solution.statistics, clock=clock, search_time=search_time)
    return dataclasses.replace(solution, history=history, statistics=statistics)


@pytest.mark.parametrize(("clock", "label"), [("wall", "wall-clock time (s)"),
                                              ("cpu", "processor time (s)")])
def test_plot_history_names_its_clock_and_draws_a_single_solution_as_a_line(solved, clock,
                                                                           label):
    _, solution = solved
    ax = plot_history(_with_history(solution, clock, [(0.25, 1234567.5)], 3.0))
    assert ax.get_xlabel() == label
    step = ax.get_lines()[0]
    assert list(step.get_xdata()) == [0.25, 3.0]
    assert list(step.get_ydata()) == [1234567.5, 1234567.5]
    assert ax.get_xlim()[1] >= 3.0
    FigureCanvasAgg(ax.figure).draw()
    ticks = [t.get_text() for t in ax.get_yticklabels() if t.get_text()]
    assert ticks and all("e" not in t and "+" not in t for t in ticks)  # plain numbers
    assert ax.yaxis.get_offset_text().get_text() == ""
    assert 2 <= len(ax.get_xticks()) <= 8


def test_plot_history_ticks_do_not_overlap(solved):
    _, solution = solved
    points = [(0.001 * k, 1000.0 - k) for k in range(1, 200)]
    ax = plot_history(_with_history(solution, "wall", points, 59.9))
    canvas = FigureCanvasAgg(ax.figure)
    canvas.draw()
    renderer = canvas.get_renderer()
    for labels in (ax.get_xticklabels(), ax.get_yticklabels()):
        boxes = [t.get_window_extent(renderer) for t in labels if t.get_text()]
        assert all(not a.overlaps(b) for a, b in itertools.pairwise(boxes))
