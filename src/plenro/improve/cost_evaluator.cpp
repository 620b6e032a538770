#include "plenro/improve/cost_evaluator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plenro {

namespace {

// Relative rounding of a load summed in single precision over a route.
constexpr double kLoadRounding = 1e-5;

}  // namespace

RouteCost CostEvaluator::Close(std::int32_t agent, const RouteSummary& body) const {
  const PlannedAgent& a = instance_->agent(agent);
  const RouteCost at_goal =
      Finish(a, instance_->Join(body, instance_->Single(a.goal), agent), false);
  if (!instance_->open_routes() || a.start == a.goal) {
    return at_goal;
  }
  // An open route may end back at its start point instead (the leg into either is free); it
  // ends at whichever serves better (its window may make the agent wait or come too late).
  const RouteCost at_start =
      Finish(a, instance_->Join(body, instance_->Single(a.start), agent), true);
  return at_start.penalised() < at_goal.penalised() ? at_start : at_goal;
}

RouteCost CostEvaluator::Finish(const PlannedAgent& agent, const RouteSummary& route,
                                bool at_start) const {
  RouteCost out;
  // Time: every route leaves its start point at time 0, waiting there for the start's window;
  // its cost is its arrival at its last point, and its length is limited by the agent's limit.
  out.cost = route.time.ArrivalFrom(0.0, out.violation[kTimeWarp]);
  out.violation[kOverLength] =
      agent.max_length > 0.0 ? std::max(out.cost - agent.max_length, 0.0) : 0.0;
  // Loads are summed in single precision (LoadSegment): an excess within its rounding is none.
  double over = 0.0;
  for (std::size_t d = 0; d < route.load.dims; ++d) {
    const double excess = route.load.HighestLoad(d) - agent.capacity[d];
    if (excess > kLoadRounding * std::max(1.0, agent.capacity[d])) {
      over += excess;
    }
  }
  out.violation[kOverCapacity] = over;
  out.broken = route.broken;
  out.ends_at_start = at_start;
  double penalty = 0.0;
  for (std::size_t k = 0; k < kViolationKinds; ++k) {
    penalty += weights_[k] * out.violation[k];
  }
  out.penalty = penalty + kBrokenPenalty * static_cast<double>(out.broken);
  // Extreme costs and windows can give infinity minus infinity: such a route is as bad as can
  // be (and never returned; the route evaluation has the last word).
  if (std::isnan(out.cost) || std::isnan(out.penalty)) {
    out.cost = std::numeric_limits<double>::infinity();
    out.penalty = std::numeric_limits<double>::infinity();
  }
  return out;
}

}  // namespace plenro
