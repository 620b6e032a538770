"""orvik.plotting draws on the Agg backend: one line per route, depots and windows marked."""

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
    assert ax.get_xlabel() == "processor time (s)"
    assert len(ax.get_lines()) == 2 and len(ax.get_lines()[0].get_xdata()) == len(
        solution.history)
    path = tmp_path / "routes.png"
    save_solution_plot(solution, model.to_dict(), path)
    assert path.read_bytes()[:4] == b"\x89PNG"
