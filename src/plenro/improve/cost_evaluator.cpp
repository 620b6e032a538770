#include "plenro/improve/cost_evaluator.h"

#include <algorithm>

namespace plenro {

RouteCost CostEvaluator::Close(std::int32_t agent, const TimeSegment& body) const {
  const PlannedAgent& a = instance_->agent(agent);
  const TimeSegment& goal = instance_->Single(a.goal);
  if (!instance_->open_routes()) {
    return Finish(a, instance_->Join(body, goal, a.type), false);
  }
  // The leg into the agent's own start or end point is free; the route ends at whichever of
  // the two serves better (its window may make the agent wait or come too late).
  const RouteCost at_goal = Finish(a, Join(body, goal, 0.0, false), false);
  if (a.start == a.goal) {
    return at_goal;
  }
  const RouteCost at_start = Finish(a, Join(body, instance_->Single(a.start), 0.0, false), true);
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
  return out;
}

}  // namespace plenro
