// Registration of Solver: construction from a problem and options, the search, and copies of
// its result and of the solutions it recorded.
#include <vector>

#include "bindings.h"
#include "plenro/model/problem.h"
#include "plenro/model/result.h"
#include "plenro/model/types.h"
#include "plenro/search/solver.h"

namespace orvik_bindings {

void bind_solver(py::module_& m) {
  py::class_<plenro::Solver>(m, "Solver")
      .def(py::init<const plenro::Problem&, const plenro::Options&>(), py::arg("problem"),
           py::arg("options"))
      .def(
          "solve", [](plenro::Solver& self) { return self.Search() ? 1 : 0; },
          "Run the Orvik solver. Returns 1 on success, 0 on failure.")
      .def("get_result", &plenro::Solver::GetResult)
      .def("get_result_process", [](const plenro::Solver& self) {
        const std::vector<plenro::AnytimeEntry> entries = self.GetAnytimeResults();
        py::list snapshots;
        for (const plenro::AnytimeEntry& entry : entries) {
          snapshots.append(py::make_tuple(entry.time, entry.result));
        }
        return snapshots;
      });
}

}  // namespace orvik_bindings
