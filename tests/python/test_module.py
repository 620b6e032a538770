"""The extension module: its docstring, what it registers and in which order, what it exports."""

import shutil
import subprocess

import _orvik_core as core
import pytest

REGISTERED = [
    "ObjectiveType",
    "NodeType",
    "Position",
    "Node",
    "Agent",
    "Options",
    "AssignmentConstraint",
    "TimeWindowConstraint",
    "Problem",
    "Result",
    "Solver",
    "solve_json_file",
    "solve_json_str",
    "solve_document",
]

ENTRY_POINT_DOCS = {
    "solve_json_str": (
        "json_str",
        (
            "Solve an MTSP instance from a JSON string.\n"
            "Returns a dict with keys: status, routes, statistics, anytime, timeout."
        ),
    ),
    "solve_json_file": (
        "input_path",
        (
            "Solve an MTSP instance from a JSON file path.\n"
            "Returns a dict with keys: status, routes, statistics, anytime, timeout."
        ),
    ),
}


def test_module_docstring():
    assert core.__doc__ == "Orvik MTSP Solver — C++ core bindings"


def test_registration_order():
    public = [name for name in vars(core) if not name.startswith("_")]
    assert public == REGISTERED


@pytest.mark.parametrize("member", ["MinMax", "MinSum", "DEPOT", "TARGET"])
def test_enumeration_members_are_not_module_attributes(member):
    assert not hasattr(core, member)


@pytest.mark.parametrize("name", sorted(ENTRY_POINT_DOCS))
def test_entry_point_docstrings(name):
    first, text = ENTRY_POINT_DOCS[name]
    signature, doc = getattr(core, name).__doc__.split("\n\n", 1)
    # The signature line is pybind11's: the text argument, then time_limit defaulting to -1.
    assert signature.startswith(f"{name}({first}: str, time_limit: ")
    assert signature.endswith(" = -1) -> dict")
    assert doc == text + "\n"


def test_solve_docstring():
    assert core.Solver.solve.__doc__.endswith(
        "\n\nRun the Orvik solver. Returns 1 on success, 0 on failure.\n"
    )


@pytest.mark.parametrize("name", [n for n in REGISTERED if n[0].isupper()])
def test_classes_carry_no_docstring_repr_or_comparison(name):
    cls = getattr(core, name)
    if name in ("ObjectiveType", "NodeType"):
        # pybind11's own listing of the members, nothing added.
        assert cls.__doc__.startswith("Members:")
    else:
        assert cls.__doc__ is None
    own = vars(cls)
    assert "__repr__" not in own or name in ("ObjectiveType", "NodeType")
    assert "__str__" not in own or name in ("ObjectiveType", "NodeType")
    if name not in ("ObjectiveType", "NodeType"):
        assert "__eq__" not in own
        assert "__reduce__" not in own and "__getstate__" not in own


def test_other_methods_carry_no_docstring_text():
    # pybind11 puts the signature first; nothing follows it for undocumented methods.
    assert core.Problem.add_node.__doc__.strip().startswith("add_node(")
    assert "\n\n" not in core.Problem.add_node.__doc__.strip()


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm from binutils")
def test_only_the_initialisation_entry_is_exported():
    out = subprocess.run(
        ["nm", "-D", "--defined-only", "--extern-only", core.__file__],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    assert [line.split()[-1] for line in out.splitlines()] == ["PyInit__orvik_core"]
