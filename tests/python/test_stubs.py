"""The hand-written type stubs name exactly what the module registers."""

import ast
import inspect
import re
from pathlib import Path

import _orvik_core as core
import pytest

STUB = Path(__file__).resolve().parents[2] / "python" / "_orvik_core.pyi"

# pybind11 gives every bound class these; the stubs need not list them.
IMPLICIT = {"_pybind11_conduit_v1_", "__entries", "__doc__", "__module__"}


def stub_tree() -> ast.Module:
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_classes() -> dict[str, ast.ClassDef]:
    """The classes the stub declares for the module; private helpers of the stub itself (such as
    a protocol for an argument) are not module attributes."""
    return {node.name: node for node in stub_tree().body
            if isinstance(node, ast.ClassDef) and not node.name.startswith("_")}


def stub_functions() -> dict[str, ast.FunctionDef]:
    return {node.name: node for node in stub_tree().body if isinstance(node, ast.FunctionDef)}


def class_body_names(node: ast.ClassDef) -> set[str]:
    names = set()
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            names.add(item.name)
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            names.add(item.target.id)
    return names


def parameter_names(function: ast.FunctionDef) -> list[str]:
    args = function.args
    return [a.arg for a in args.posonlyargs + args.args + args.kwonlyargs if a.arg != "self"]


def bound_parameter_names(obj) -> list[str]:
    """Parameter names from the signature line pybind11 writes at the top of a docstring."""
    signature = obj.__doc__.splitlines()[0]
    inner = signature[signature.index("(") + 1 : signature.rindex(")")]
    return [n for n in re.findall(r"(?:^|, )(\w+):", inner) if n != "self"]


def test_stub_names_the_registered_classes_and_functions():
    registered = [name for name in vars(core) if not name.startswith("_")]
    declared = [
        node.name
        for node in stub_tree().body
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)) and not node.name.startswith("_")
    ]
    assert declared == registered


@pytest.mark.parametrize("name", sorted(stub_classes()))
def test_stub_class_members_match(name):
    cls = getattr(core, name)
    implicit = IMPLICIT | {"__init__"} if name == "Result" else IMPLICIT  # raises TypeError
    assert set(vars(cls)) - implicit == class_body_names(stub_classes()[name])


@pytest.mark.parametrize(
    ("owner", "name"),
    [
        (owner, item.name)
        for owner, node in sorted(stub_classes().items())
        for item in node.body
        if isinstance(item, ast.FunctionDef)
        and not item.name.startswith("__")
        and not any(isinstance(d, ast.Name) and d.id == "property" for d in item.decorator_list)
        and not any(isinstance(d, ast.Attribute) for d in item.decorator_list)
    ]
    + [(None, name) for name in sorted(stub_functions())],
)
def test_stub_parameter_names_match(owner, name):
    stub = stub_classes()[owner] if owner else None
    if stub is None:
        function = stub_functions()[name]
        bound = getattr(core, name)
    else:
        function = next(f for f in stub.body if isinstance(f, ast.FunctionDef) and f.name == name)
        bound = getattr(getattr(core, owner), name)
    assert parameter_names(function) == bound_parameter_names(bound)


@pytest.mark.parametrize("name", ["solve_json_str", "solve_json_file", "solve_document"])
def test_stub_docstrings_match(name):
    doc = ast.get_docstring(stub_functions()[name], clean=True)
    assert getattr(core, name).__doc__.split("\n\n", 1)[1].rstrip("\n") == doc


def test_stub_properties_are_read_only_for_result():
    result = stub_classes()["Result"]
    setters = [
        f.name
        for f in result.body
        if isinstance(f, ast.FunctionDef) and any(isinstance(d, ast.Attribute) for d in f.decorator_list)
    ]
    assert setters == []
    assert all(
        inspect.isdatadescriptor(getattr(core.Result, n)) and getattr(core.Result, n).fset is None
        for n in class_body_names(result)
    )
