#include "plenro/plugins/default_backed_checker.h"

namespace plenro {

void DefaultBackedChecker::Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                                      const std::vector<AgentInfo>& agents) {
  link_.FillInstance(graph, points, agents);
  base_.Initialize(graph, points, agents);
}

void DefaultBackedChecker::UseView(const InstanceView* view) {
  link_.Link(view);
  base_.UseView(view);
}

bool DefaultBackedChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return base_.IsForbidden(agent, point);
}

bool DefaultBackedChecker::IsRejectedOnFinish(const SearchState& state) const {
  return base_.IsRejectedOnFinish(state);
}

void DefaultBackedChecker::SetGoals(const std::vector<std::uint64_t>& goals) {
  link_.Fill([&goals](InstanceView& own) { own.SetGoals(goals); });
}

}  // namespace plenro
