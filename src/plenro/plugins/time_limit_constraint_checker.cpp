#include "plenro/plugins/time_limit_constraint_checker.h"

namespace plenro {

void TimeLimitConstraintChecker::Initialize(const PlannerGraph* graph,
                                            const std::vector<Point>& points,
                                            const std::vector<AgentInfo>& agents) {
  base_.Initialize(graph, points, agents);
  max_length_.clear();
  max_length_.reserve(agents.size());
  for (const AgentInfo& agent : agents) {
    max_length_.push_back(agent.max_length);
  }
}

bool TimeLimitConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return base_.IsForbidden(agent, point);
}

MoveCheck TimeLimitConstraintChecker::OnMove(const SearchState& /*state*/, std::uint64_t /*agent*/,
                                             std::uint64_t /*point*/) const {
  return MoveCheck{};
}

bool TimeLimitConstraintChecker::IsFeasible(const SearchState& state, std::uint64_t agent) const {
  const double limit = max_length_[agent];
  return limit <= 0.0 || state.costs[agent] <= limit;
}

bool TimeLimitConstraintChecker::IsRejectedOnFinish(const SearchState& state) const {
  return base_.IsRejectedOnFinish(state);
}

void TimeLimitConstraintChecker::SetGoals(const std::vector<std::uint64_t>& goals) {
  base_.SetGoals(goals);
}

}  // namespace plenro
