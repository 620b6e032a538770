// The _orvik_core extension module: registration of every bound type and function.
#include <pybind11/pybind11.h>

namespace py = pybind11;

// pybind11 checks the interpreter version on import and creates the module through
// multi-phase initialisation; the module cannot be loaded into sub-interpreters.
PYBIND11_MODULE(_orvik_core, m, py::multiple_interpreters::not_supported()) {
  m.doc() = "Orvik MTSP Solver — C++ core bindings";
}
