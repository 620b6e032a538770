// The _orvik_core extension module: registration of every bound type and function, in the
// order in which they appear as module attributes.
#include <pybind11/pybind11.h>

#include "bindings.h"

namespace py = pybind11;

// pybind11 checks the interpreter version on import and creates the module through
// multi-phase initialisation; the module cannot be loaded into sub-interpreters.
PYBIND11_MODULE(_orvik_core, m, py::multiple_interpreters::not_supported()) {
  m.doc() = "Orvik MTSP Solver — C++ core bindings";
  orvik_bindings::bind_model(m);
  orvik_bindings::bind_solver(m);
  orvik_bindings::bind_json_entry_points(m);
  orvik_bindings::bind_solve_document(m);
  orvik_bindings::bind_rules(m);
}
