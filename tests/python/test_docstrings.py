"""Every public name of the package says what it is: the API reference of the documentation site
is built from these docstrings."""

from __future__ import annotations

import inspect

import orvik
import orvik.plotting
import pytest

# Re-exported from the raw module, whose classes carry no docstrings by design (their reference
# page lists their members from the stub).
RAW = {name for name in orvik.__all__
       if getattr(getattr(orvik, name), "__module__", "") == "_orvik_core"}
OWN = sorted(set(orvik.__all__) - RAW - {"__version__"})


def _public_members(cls: type) -> list[str]:
    names = []
    for name, member in vars(cls).items():
        if name.startswith("_"):
            continue
        if isinstance(member, (staticmethod, classmethod, property)) or inspect.isfunction(member):
            names.append(name)
    return names


@pytest.mark.parametrize("name", OWN)
def test_every_public_name_has_a_docstring(name):
    obj = getattr(orvik, name)
    assert (obj.__doc__ or "").strip(), f"orvik.{name} has no docstring"
    if inspect.isclass(obj):
        for member in _public_members(obj):
            assert (inspect.getdoc(getattr(obj, member)) or "").strip(), \
                f"orvik.{name}.{member} has no docstring"


@pytest.mark.parametrize("name", [n for n in dir(orvik.plotting)
                                  if not n.startswith("_") and inspect.isfunction(
                                      getattr(orvik.plotting, n))
                                  and getattr(orvik.plotting, n).__module__ == "orvik.plotting"])
def test_every_plotting_function_has_a_docstring(name):
    assert (getattr(orvik.plotting, name).__doc__ or "").strip()


def test_the_raw_names_are_the_raw_modules_and_the_rest_are_the_packages():
    assert {"Agent", "AssignmentConstraint", "Node", "NodeType", "ObjectiveType",
                   "Options", "Position", "Problem", "Result", "Solver", "TimeWindowConstraint",
                   "solve_document", "solve_json_file", "solve_json_str"} == RAW
    assert all(getattr(orvik, name).__module__.startswith("orvik") for name in OWN)
