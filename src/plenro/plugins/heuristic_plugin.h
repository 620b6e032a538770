#pragma once

#include <vector>

#include "plenro/graph/planner_graph.h"
#include "plenro/instance/instance_records.h"
#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Estimates the cost still to come from a search state. Initialize once at set-up; Estimate
// for every generated state in which some agent is unfinished.
class HeuristicPlugin : public PluginBase {
 public:
  virtual void Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                          const std::vector<AgentInfo>& agents) = 0;
  virtual double Estimate(const SearchState& state) const = 0;
};

}  // namespace plenro
