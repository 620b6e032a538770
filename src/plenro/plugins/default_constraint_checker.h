#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"

namespace plenro {

// Assignment by agent type, and the dead-end test when a route ends: once no agent of type 0
// can move any more, a point that only type 0 may serve must not be left open.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "DefaultConstraintChecker"; }
  // Keeps the graph pointer and turns both tables into flat lookups: which agent may serve
  // which point, the agents of type 0, and the points only type 0 may serve.
  void Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                  const std::vector<AgentInfo>& agents) override;
  // True when the point's types are empty or do not contain the agent's type.
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
  // True when every type-0 agent has finished and a point whose types are exactly [0] is open.
  bool IsRejectedOnFinish(const SearchState& state) const override;

  // Per-agent end points; kept for the owner, the checks do not read them.
  void SetGoals(const std::vector<std::uint64_t>& goals);
  const std::vector<std::uint64_t>& Goals() const { return goals_; }
  std::uint64_t NumAgents() const { return num_agents_; }

 private:
  const PlannerGraph* graph_ = nullptr;
  std::vector<std::uint64_t> goals_;
  std::uint64_t num_agents_ = 0;
  // allowed_[point * num_agents_ + agent] is 1 when the agent may serve the point.
  std::vector<char> allowed_;
  std::vector<std::uint64_t> type0_agents_;
  // Points below the graph's vertex count whose types are exactly [0].
  VisitedSet type0_only_points_;
};

}  // namespace plenro
