#include "plenro/plugins/min_sum_objective.h"

namespace plenro {

double MinSumObjective::Evaluate(const std::vector<double>& costs) const {
  double sum = 0.0;
  for (const double cost : costs) {
    sum += cost;
  }
  return sum;
}

double MinSumObjective::Combine(const SearchState& state, std::int64_t /*unfinished*/,
                                double h) const {
  return Evaluate(state.costs) + h;
}

}  // namespace plenro
