#pragma once

#include <cstdint>
#include <vector>

#include "plenro/graph/planner_graph.h"
#include "plenro/instance/instance_records.h"
#include "plenro/model/result.h"
#include "plenro/plugins/plugin_base.h"

namespace plenro {

// Improves the routes of a solution. Call pattern: SetReturnToEnd, SetStarts, SetGoals,
// SetTimeWindows once at set-up, in that order; then Optimize once per solution found.
class PostOptimizerPlugin : public PluginBase {
 public:
  // Edits the result in place: afterwards paths[i] and times[i] hold agent i's improved route
  // and its cost. The graph is not owned.
  virtual void Optimize(const PlannerGraph* graph, const std::vector<Point>& points,
                        const std::vector<AgentInfo>& agents, Result& result) = 0;
  virtual void SetReturnToEnd(bool return_to_end) = 0;
  virtual void SetStarts(const std::vector<std::uint64_t>& starts) = 0;
  virtual void SetGoals(const std::vector<std::uint64_t>& goals) = 0;
  virtual void SetTimeWindows(const TimeWindowMap& windows) = 0;
};

}  // namespace plenro
