#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/objective_plugin.h"

namespace plenro {

// MinSum objective: g is the sum of the route costs, f = g + h.
class MinSumObjective : public ObjectivePlugin {
 public:
  std::string Name() const override { return "MinSumObjective"; }
  // The entries added in order from 0.0.
  double Evaluate(const std::vector<double>& costs) const override;
  // Evaluate(state.costs) + h through this object's own Evaluate; unfinished is not used.
  double Combine(const SearchState& state, std::int64_t unfinished, double h) const override;
};

}  // namespace plenro
