"""The time limit of a solve bounds the whole call: writing, reading and validating the instance
count on its clock, the search gets what is left, and the look for reasons ends at the limit."""

import time

import orvik
import orvik.solving as solving
import pytest
from orvik.diagnosis import no_solution_reasons


def _model():
    model = orvik.Model()
    model.add_depot("dock", 0, 0)
    for i in range(6):
        model.add_site(i, 10 * i + 5, 3)
    model.add_agent("van", "car", start="dock")
    model.add_agent("bike", "car", start="dock")
    model.costs_from_coordinates("car")
    return model


def _granted(monkeypatch):
    """The time limits the solver is given, as a list that fills as solves run."""
    granted = []
    run = solving._run_solver

    def counted(text, **arguments):
        granted.append(arguments["time_limit"])
        return run(text, **arguments)

    monkeypatch.setattr(solving, "_run_solver", counted)
    return granted


def _spend(clock, seconds):
    """Use up seconds of a clock: sleep for the wall clock, work for the processor's."""
    if clock == "wall":
        time.sleep(seconds)
        return
    end = time.thread_time() + seconds
    while time.thread_time() < end:
        pass


def _slowed(monkeypatch, target, name, clock, seconds):
    real = getattr(target, name)

    def slow(*args, **kwargs):
        _spend(clock, seconds)
        return real(*args, **kwargs)

    monkeypatch.setattr(target, name, slow)


@pytest.mark.parametrize("clock", ["wall", "cpu"])
@pytest.mark.parametrize(("target", "name"), [
    pytest.param(orvik.Model, "to_dict", id="writing-the-document"),
    pytest.param(solving, "unit_scale", id="after-validation"),
])
def test_the_set_up_of_a_solve_counts_against_its_time_limit(monkeypatch, clock, target,
                                                             name):
    granted = _granted(monkeypatch)
    _slowed(monkeypatch, target, name, clock, 0.4)
    solution = _model().solve(time_limit=1.5, clock=clock)
    assert solution.solved, solution.reasons
    assert granted and granted[0] <= 1.5 - 0.4


def test_a_set_up_that_uses_up_the_limit_leaves_the_search_no_time_and_says_so(monkeypatch):
    granted = _granted(monkeypatch)
    _slowed(monkeypatch, solving, "unit_scale", "wall", 0.5)
    solution = _model().solve(time_limit=0.3)
    assert granted == [solving._LEAST_SEARCH]
    if not solution.solved:  # a search may still finish this instance in its first moment
        assert solution.status == "no solution"
        (reason,) = solution.reasons
        assert reason.startswith("the time limit of 0.3 s left the search 0 s: reading, "
                                 "validating and writing the instance for the solver took")


def test_the_look_for_reasons_ends_at_the_limit():
    model = _model()
    model.add_site("late", 500, 0, window=(0, 5))
    model.costs_from_coordinates("car")
    reason = "site late: its window closes at 5, but the earliest arrival is 500"
    assert [r[:len(reason)] for r in no_solution_reasons(model.to_dict())] == [reason]
    assert no_solution_reasons(model.to_dict(), expired=lambda: True) == [
        "the time limit ended the look for reasons before it was done"]
    looks = []
    no_solution_reasons(model.to_dict(), expired=lambda: looks.append(1) and False)
    half = iter([False] * (len(looks) // 2) + [True] * len(looks))
    found = no_solution_reasons(model.to_dict(), expired=lambda: next(half))
    assert found == ["the time limit ended the look for reasons before it was done"]
