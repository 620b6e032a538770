#pragma once

#include <cstdint>
#include <vector>

#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Scores states: g from the route costs, f (the priority of the open set, the focal bound, the
// incumbent prune and dominance) from g and the heuristic estimate.
class ObjectivePlugin : public PluginBase {
 public:
  virtual double Evaluate(const std::vector<double>& costs) const = 0;
  virtual double Combine(const SearchState& state, std::int64_t unfinished, double h) const = 0;
};

}  // namespace plenro
