#include "plenro/plugins/view_post_optimizer.h"

namespace plenro {

void ViewPostOptimizer::Bind(const InstanceView& view) {
  link_.Link(view);
  evaluator_.Bind(view);
}

}  // namespace plenro
