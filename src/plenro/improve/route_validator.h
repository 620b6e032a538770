#pragma once

#include <cstdint>
#include <memory>

#include "plenro/graph/planner_graph.h"
#include "plenro/plugins/instance_view.h"
#include "plenro/plugins/post_optimizer_config.h"

namespace plenro {

// The engine's one call of the shared route evaluation: every route the engine returns is
// checked here, and its reported cost is the one computed here.
class RouteValidator {
 public:
  explicit RouteValidator(const InstanceView& view);
  ~RouteValidator();
  RouteValidator(const RouteValidator&) = delete;
  RouteValidator& operator=(const RouteValidator&) = delete;

  // Whether agent `agent` may drive `route`, and its cost.
  RouteEvaluation Evaluate(const Route& route, std::uint64_t agent) const;

 private:
  std::unique_ptr<PlannerGraph> graph_;
  PostOptimizerConfig config_;
};

}  // namespace plenro
