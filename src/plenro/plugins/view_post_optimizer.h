#pragma once

#include "plenro/instance/route_evaluation.h"
#include "plenro/plugins/post_optimizer_plugin.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// What the post-optimisers share: the instance view they are bound to and the route evaluator on
// it, the one judge of the routes they hand back. A copy reads the same view.
class ViewPostOptimizer : public PostOptimizerPlugin {
 public:
  void Bind(const InstanceView& view) override;

  const InstanceView& view() const { return link_.view(); }
  // Bound to view().
  const RouteEvaluator& evaluator() const { return evaluator_; }

 private:
  ViewLink link_;
  RouteEvaluator evaluator_{link_.view()};
};

}  // namespace plenro
