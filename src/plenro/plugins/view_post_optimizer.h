#pragma once

#include <cstdint>
#include <vector>

#include "plenro/graph/planner_graph.h"
#include "plenro/instance/route_evaluation.h"
#include "plenro/plugins/post_optimizer_plugin.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// What the post-optimisers share: the instance they read (a view of their own, filled by the
// four setters and by each Optimize's graph, points and agents, or the solve's linked view) and
// the route evaluator bound to it, the one judge of the routes they hand back.
class ViewPostOptimizer : public PostOptimizerPlugin {
 public:
  ViewPostOptimizer() = default;
  // A copy reads what the original reads (its copy of the own view, or the same linked view).
  ViewPostOptimizer(const ViewPostOptimizer& other);
  ViewPostOptimizer& operator=(const ViewPostOptimizer& other);

  void SetReturnToEnd(bool return_to_end) override;
  void SetStarts(const std::vector<std::uint64_t>& starts) override;
  void SetGoals(const std::vector<std::uint64_t>& goals) override;
  void SetTimeWindows(const TimeWindowMap& windows) override;
  void UseView(const InstanceView* view) override;

  const InstanceView& view() const { return link_.view(); }
  // Bound to view().
  const RouteEvaluator& evaluator() const { return evaluator_; }

 protected:
  // Starts one Optimize run. Without a linked view, the own view takes the run's graph (its
  // costs read afresh; null: every leg is free), points and agents.
  void BindRun(const PlannerGraph* graph, const std::vector<Point>& points,
               const std::vector<AgentInfo>& agents);

 private:
  ViewLink link_;
  RouteEvaluator evaluator_{link_.view()};
};

}  // namespace plenro
