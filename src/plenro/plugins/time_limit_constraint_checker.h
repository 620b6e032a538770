#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// Route-length limit per agent (`max_length`; 0 or less means none). Assignment and the
// dead-end test come from a DefaultConstraintChecker it holds (linked to the same view, or given
// the same data).
class TimeLimitConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "TimeLimitConstraintChecker"; }
  // Without a linked view, its own view takes the graph's costs, the points and the agents;
  // the held DefaultConstraintChecker is initialised with the same arguments.
  void Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                  const std::vector<AgentInfo>& agents) override;
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  // True when the agent has no limit or its route cost is at most the limit.
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
  bool IsRejectedOnFinish(const SearchState& state) const override;
  void UseView(const InstanceView* view) override;

  void SetGoals(const std::vector<std::uint64_t>& goals);
  const std::vector<std::uint64_t>& Goals() const { return link_.view().goals(); }

 private:
  ViewLink link_;
  DefaultConstraintChecker base_;
};

}  // namespace plenro
