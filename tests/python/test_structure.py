"""The package's modules import each other without a circle, every import counted: at the top,
inside functions and under TYPE_CHECKING; and the layers run one way."""

from __future__ import annotations

import ast
import pkgutil
from pathlib import Path

import orvik
import pytest

PACKAGE = Path(orvik.__file__).resolve().parent
MODULES = sorted(["__init__", *(m.name for m in pkgutil.iter_modules([str(PACKAGE)]))])


def imports_of(source: str) -> set[str]:
    """The package's modules a module's source imports, by name ("__init__": the package)."""
    found: set[str] = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            for alias in node.names:
                parts = alias.name.split(".")
                if parts[0] == "orvik":
                    found.add(parts[1] if len(parts) > 1 else "__init__")
        elif isinstance(node, ast.ImportFrom) and node.module is not None:
            parts = node.module.split(".")
            if node.level or parts[0] != "orvik":
                assert not node.level, "the package imports itself by its name"
                continue
            if len(parts) > 1:
                found.add(parts[1])
            else:  # from orvik import a module, or a name of the package
                found |= {a.name if a.name in MODULES else "__init__" for a in node.names}
    return found


def source_of(name: str) -> str:
    """A module's source; a subpackage's is that of all its modules (one node of the graph)."""
    module = PACKAGE / f"{name}.py"
    if module.exists():
        return module.read_text(encoding="utf-8")
    return "\n".join(path.read_text(encoding="utf-8")
                     for path in sorted((PACKAGE / name).glob("*.py")))


def import_graph() -> dict[str, set[str]]:
    return {name: imports_of(source_of(name)) - {name} for name in MODULES}


def circle(graph: dict[str, set[str]]) -> list[str] | None:
    """A circle of imports (its modules, the first repeated at the end), or None."""
    state: dict[str, str] = {}
    trail: list[str] = []

    def visit(name: str) -> list[str] | None:
        state[name] = "open"
        trail.append(name)
        for target in sorted(graph.get(name, ())):
            if state.get(target) == "open":
                return [*trail[trail.index(target):], target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        state[name] = "done"
        trail.pop()
        return None

    for name in sorted(graph):
        if name not in state:
            found = visit(name)
            if found:
                return found
    return None


@pytest.mark.parametrize(
    ("source", "expected"),
    [("import orvik.model\nfrom orvik import solution, __version__\n",
      {"model", "solution", "__init__"}),
     ("def f():\n    from orvik.solving import solve_instance\n", {"solving"}),
     ("from typing import TYPE_CHECKING\nif TYPE_CHECKING:\n    from orvik.model import Model\n",
      {"model"}),
     ("import json\nfrom orvik_modules import load\n", set())],
)
def test_every_import_is_found(source, expected):
    assert imports_of(source) == expected


@pytest.mark.parametrize(
    ("graph", "expected"),
    [({"a": {"b"}, "b": {"c"}, "c": set()}, None),
     ({"a": {"b"}, "b": {"c"}, "c": {"a"}}, ["a", "b", "c", "a"]),
     ({"a": {"b", "c"}, "b": set(), "c": {"c2"}, "c2": {"c"}}, ["c", "c2", "c"])],
)
def test_a_circle_is_found(graph, expected):
    assert circle(graph) == expected


def test_the_package_has_no_import_circle():
    assert circle(import_graph()) is None


# The layers: a module on the left never imports one on the right, not even lazily.
NEVER = [
    ("rules", {"documents", "instance", "model", "solution", "solving", "validation"}),
    ("documents", {"instance", "model", "solution", "solving", "validation"}),
    ("instance", {"model", "solution", "solving", "validation", "units", "checker"}),
    ("units", {"model", "solution", "solving", "validation"}),
    ("validation", {"model", "solution", "solving"}),
    ("diagnosis", {"model", "solution", "solving", "validation"}),
    ("checker", {"instance", "model", "solution", "solving", "validation", "units",
                 "diagnosis"}),
    ("solution", {"model", "solving", "batch"}),
    ("solving", {"model", "batch", "cli"}),
    ("settings", {"model", "solution", "solving"}),
]


@pytest.mark.parametrize(("module", "forbidden"), NEVER, ids=[m for m, _ in NEVER])
def test_the_layers_run_one_way(module, forbidden):
    assert import_graph()[module] & forbidden == set()
