#pragma once

#include <cstdint>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// What the time-limit and time-window checkers share: their view of the instance, and the
// DefaultConstraintChecker they hold for assignment and the dead-end test, which reads the same
// view when one is linked and is given the same data otherwise.
class DefaultBackedChecker : public ConstraintCheckerPlugin {
 public:
  // Without a linked view, the own view takes the graph's costs, the points and the agents; the
  // held DefaultConstraintChecker is initialised with the same arguments.
  void Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                  const std::vector<AgentInfo>& agents) override;
  void UseView(const InstanceView* view) override;
  // Assignment, from the held checker.
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  // The dead-end test, from the held checker.
  bool IsRejectedOnFinish(const SearchState& state) const override;

  void SetGoals(const std::vector<std::uint64_t>& goals);
  const std::vector<std::uint64_t>& Goals() const { return view().goals(); }
  const InstanceView& view() const { return link_.view(); }

 protected:
  ViewLink& link() { return link_; }

 private:
  ViewLink link_;
  DefaultConstraintChecker base_;
};

}  // namespace plenro
