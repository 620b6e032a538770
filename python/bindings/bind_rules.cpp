// The private submodule _rules: the core's own reading of objective names, its scoring of route
// costs, its improvement test, its no-connection rule and the search's point limit, so that a
// test can hold orvik.rules to them.
#include <string>
#include <vector>

#include "bindings.h"
#include "plenro/graph/no_connection.h"
#include "plenro/model/objective.h"
#include "plenro/plugins/search_state.h"

namespace orvik_bindings {

void bind_rules(py::module_& m) {
  py::module_ rules = m.def_submodule("_rules", "The core's objective and connection rules.");
  rules.attr("NO_CONNECTION") = py::float_(plenro::kNoConnection);
  rules.attr("IMPROVEMENT_TOLERANCE") = py::float_(plenro::kImprovementTolerance);
  rules.attr("SEARCH_POINT_LIMIT") = py::int_(plenro::kMaxPoints);
  rules.def(
      "objective_from_name",
      [](const std::string& name) {
        return std::string(plenro::ObjectiveName(plenro::ObjectiveFromName(name)));
      },
      py::arg("name"), "The objective an instance's options.objective chooses, by its name.");
  rules.def(
      "objective_value",
      [](const std::string& name, const std::vector<double>& costs) {
        return plenro::ObjectiveValue(plenro::ObjectiveFromName(name), plenro::TotalsOf(costs));
      },
      py::arg("objective"), py::arg("costs"),
      "The value of route costs under the objective of that name.");
  rules.def("improves", &plenro::Improves, py::arg("candidate"), py::arg("best"),
            "Whether candidate is lower than best by more than the tolerance.");
  rules.def(
      "better",
      [](const std::string& name, const std::vector<double>& candidate,
         const std::vector<double>& best) {
        const plenro::ObjectiveType objective = plenro::ObjectiveFromName(name);
        return plenro::Better(plenro::KeyOf(objective, plenro::TotalsOf(candidate)),
                              plenro::KeyOf(objective, plenro::TotalsOf(best)));
      },
      py::arg("objective"), py::arg("candidate"), py::arg("best"),
      "Whether the candidate's route costs are better than the best's under the objective's "
      "key order.");
  rules.def("is_no_connection", &plenro::IsNoConnection, py::arg("cost"),
            "Whether a leg of this cost is no connection.");
}

}  // namespace orvik_bindings
