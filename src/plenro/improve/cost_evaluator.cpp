#include "plenro/improve/cost_evaluator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plenro {

RouteCost CostEvaluator::Close(std::int32_t agent, const TimeSegment& body) const {
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

RouteCost CostEvaluator::Finish(const PlannedAgent& agent, const TimeSegment& route,
                                bool at_start) const {
  RouteCost out;
  // Every route leaves its start point at time 0, waiting there for the start's window.
  out.cost = route.ArrivalFrom(0.0, out.time_warp);
  out.excess = agent.max_length > 0.0 ? std::max(out.cost - agent.max_length, 0.0) : 0.0;
  out.broken = route.broken;
  out.ends_at_start = at_start;
  out.penalty = warp_weight_ * out.time_warp + excess_weight_ * out.excess +
                kBrokenPenalty * static_cast<double>(out.broken);
  // Extreme costs and windows can give infinity minus infinity: such a route is as bad as can
  // be (and never returned; the route evaluation has the last word).
  if (std::isnan(out.cost) || std::isnan(out.penalty)) {
    out.cost = std::numeric_limits<double>::infinity();
    out.penalty = std::numeric_limits<double>::infinity();
  }
  return out;
}

}  // namespace plenro
