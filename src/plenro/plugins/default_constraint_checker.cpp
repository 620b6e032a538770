#include "plenro/plugins/default_constraint_checker.h"

#include <algorithm>

namespace plenro {

namespace {

bool TypeAllowed(const Point& point, std::int64_t type) {
  if (type < 0) {
    return false;
  }
  const auto wanted = static_cast<std::uint64_t>(type);
  return std::find(point.types.begin(), point.types.end(), wanted) != point.types.end();
}

}  // namespace

void DefaultConstraintChecker::Initialize(const PlannerGraph* graph,
                                          const std::vector<Point>& points,
                                          const std::vector<AgentInfo>& agents) {
  graph_ = graph;
  num_agents_ = agents.size();
  allowed_.assign(points.size() * num_agents_, 0);
  for (std::size_t j = 0; j < points.size(); ++j) {
    for (std::size_t k = 0; k < num_agents_; ++k) {
      allowed_[j * num_agents_ + k] = TypeAllowed(points[j], agents[k].type) ? 1 : 0;
    }
  }
  type0_agents_.clear();
  for (std::size_t k = 0; k < num_agents_; ++k) {
    if (agents[k].type == 0) {
      type0_agents_.push_back(k);
    }
  }
  // The dead-end rule looks at the graph's points; a visited set cannot name more than
  // kMaxPoints of them, and the search refuses larger graphs.
  type0_only_points_ = VisitedSet{};
  const std::uint64_t vertices = graph_ == nullptr ? 0 : graph_->NumVertex();
  const std::uint64_t limit = std::min<std::uint64_t>(
      std::min<std::uint64_t>(vertices, points.size()), static_cast<std::uint64_t>(kMaxPoints));
  for (std::uint64_t i = 0; i < limit; ++i) {
    if (points[i].types.size() == 1 && points[i].types[0] == 0) {
      type0_only_points_.Set(i);
    }
  }
}

bool DefaultConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return allowed_[point * num_agents_ + agent] == 0;
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

void DefaultConstraintChecker::SetGoals(const std::vector<std::uint64_t>& goals) {
  goals_ = goals;
}

}  // namespace plenro
