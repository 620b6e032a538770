#include "plenro/plugins/time_limit_constraint_checker.h"

namespace plenro {

void TimeLimitConstraintChecker::Initialize(const PlannerGraph* graph,
                                            const std::vector<Point>& points,
                                            const std::vector<AgentInfo>& agents) {
  link_.Fill([&](InstanceView& own) {
    own.SetPoints(points);
    own.SetAgents(agents);
    own.SetCosts(graph);
  });
  base_.Initialize(graph, points, agents);
}

void TimeLimitConstraintChecker::UseView(const InstanceView* view) {
  link_.Link(view);
  base_.UseView(view);
}

bool TimeLimitConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return base_.IsForbidden(agent, point);
}

MoveCheck TimeLimitConstraintChecker::OnMove(const SearchState& /*state*/, std::uint64_t /*agent*/,
                                             std::uint64_t /*point*/) const {
  return MoveCheck{};
}

bool TimeLimitConstraintChecker::IsFeasible(const SearchState& state, std::uint64_t agent) const {
  const double limit = link_.view().MaxLength(agent);
  return limit <= 0.0 || state.costs[agent] <= limit;
}

bool TimeLimitConstraintChecker::IsRejectedOnFinish(const SearchState& state) const {
  return base_.IsRejectedOnFinish(state);
}

void TimeLimitConstraintChecker::SetGoals(const std::vector<std::uint64_t>& goals) {
  link_.Fill([&goals](InstanceView& own) { own.SetGoals(goals); });
}

}  // namespace plenro
