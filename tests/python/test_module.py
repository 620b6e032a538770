"""The extension module imports and describes itself."""

import _orvik_core


def test_module_docstring():
    assert _orvik_core.__doc__ == "Orvik MTSP Solver — C++ core bindings"
