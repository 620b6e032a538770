#pragma once

#include <cstdint>

#include "plenro/instance/route_evaluation.h"

namespace plenro {

// Segment reversal, the route-shortening step of both post-optimisers: the first reversal of
// an interior segment that lowers the route's cost by more than the improvement tolerance is
// taken and the sweep starts over, until a sweep finds none. Holds the probe it reuses.
class TwoOpt {
 public:
  // Shortens `route` (driven by `agent`, currently costing `cost`) as judged by `evaluator`.
  // Routes of 3 points or fewer are left alone. Returns whether the route changed.
  bool Improve(const RouteEvaluator& evaluator, Route& route, double& cost, std::uint64_t agent);

 private:
  RouteProbe probe_;
};

}  // namespace plenro
