#include "plenro/plugins/default_objective.h"

namespace plenro {

double DefaultObjective::Evaluate(const std::vector<double>& costs) const {
  if (costs.empty()) {
    return 0.0;
  }
  double longest = costs[0];
  for (std::size_t i = 1; i < costs.size(); ++i) {
    if (costs[i] > longest) {
      longest = costs[i];
    }
  }
  return longest;
}

double DefaultObjective::Combine(const SearchState& state, std::int64_t unfinished,
                                 double h) const {
  const double g = Evaluate(state.costs);
  if (unfinished <= 0) {
    return g;
  }
  double open_load = 0.0;
  for (std::size_t i = 0; i < state.costs.size(); ++i) {
    if (state.finished[i] == 0) {
      open_load += state.costs[i];
    }
  }
  const double average = (h + open_load) / static_cast<double>(unfinished);
  return average < g ? g : average;
}

}  // namespace plenro
