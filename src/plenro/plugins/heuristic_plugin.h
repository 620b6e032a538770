#pragma once

#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Estimates the cost still to come from a search state. Bound to the instance view at set-up;
// Estimate for every generated state in which some agent is unfinished.
class HeuristicPlugin : public PluginBase {
 public:
  virtual double Estimate(const SearchState& state) const = 0;
};

}  // namespace plenro
