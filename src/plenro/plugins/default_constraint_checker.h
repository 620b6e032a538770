#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// Assignment by agent type, and the dead-end test when a route ends: once no agent of type 0
// can move any more, a point that only type 0 may serve must not be left open.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "DefaultConstraintChecker"; }
  // Reads `view` from now on and builds the dead-end tables from it: the agents of type 0, and
  // the points whose types are exactly [0] (among the first cost-table vertices that a search
  // can name).
  void Bind(const InstanceView& view) override;
  // True when the agent's type may not serve the point.
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
  // True when every type-0 agent has finished and a point whose types are exactly [0] is open.
  bool IsRejectedOnFinish(const SearchState& state) const override;

  // The view's end points, for the owner; the checks do not read them.
  const std::vector<std::uint64_t>& Goals() const { return view().goals(); }
  std::uint64_t NumAgents() const { return view().num_agents(); }
  const InstanceView& view() const { return link_.view(); }

 private:
  ViewLink link_;
  std::vector<std::uint64_t> type0_agents_;
  VisitedSet type0_only_points_;
};

}  // namespace plenro
