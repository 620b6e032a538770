#include "plenro/plugins/default_constraint_checker.h"

#include <algorithm>

namespace plenro {

void DefaultConstraintChecker::Bind(const InstanceView& instance) {
  link_.Link(instance);
  type0_agents_.clear();
  for (std::uint64_t k = 0; k < instance.num_agents(); ++k) {
    if (instance.AgentType(k) == 0) {
      type0_agents_.push_back(k);
    }
  }
  // The dead-end rule looks at the cost table's points; a visited set cannot name more than
  // kMaxPoints of them, and the search refuses larger instances.
  type0_only_points_ = VisitedSet{};
  const std::uint64_t vertices = instance.has_costs() ? instance.costs().NumVertex() : 0;
  const std::uint64_t limit =
      std::min<std::uint64_t>(std::min<std::uint64_t>(vertices, instance.num_points()),
                              static_cast<std::uint64_t>(kMaxPoints));
  for (std::uint64_t i = 0; i < limit; ++i) {
    const std::vector<std::uint64_t>& types = instance.points()[i].types;
    if (types.size() == 1 && types[0] == 0) {
      type0_only_points_.Set(i);
    }
  }
}

bool DefaultConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return !view().TypeAllows(agent, point);
}

MoveCheck DefaultConstraintChecker::OnMove(const SearchState& /*state*/, std::uint64_t /*agent*/,
                                           std::uint64_t /*point*/) const {
  return MoveCheck{};
}

bool DefaultConstraintChecker::IsFeasible(const SearchState& /*state*/,
                                          std::uint64_t /*agent*/) const {
  return true;
}

bool DefaultConstraintChecker::IsRejectedOnFinish(const SearchState& state) const {
  for (const std::uint64_t k : type0_agents_) {
    if (state.finished[k] == 0) {
      return false;
    }
  }
  for (std::size_t w = 0; w < 4; ++w) {
    if ((type0_only_points_.words[w] & ~state.visited.words[w]) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace plenro
