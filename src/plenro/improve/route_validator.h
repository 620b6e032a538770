#pragma once

#include <cstdint>

#include "plenro/plugins/instance_view.h"
#include "plenro/plugins/route_evaluation.h"

namespace plenro {

// The engine's one call of the shared route evaluation: every route the engine returns is
// checked here, and its reported cost is the one computed here.
class RouteValidator {
 public:
  explicit RouteValidator(const InstanceView& view) : evaluator_(view) {}

  // Whether agent `agent` may drive `route`, and its cost.
  RouteEvaluation Evaluate(const Route& route, std::uint64_t agent) const {
    return evaluator_.Evaluate(route, agent);
  }

 private:
  RouteEvaluator evaluator_;
};

}  // namespace plenro
