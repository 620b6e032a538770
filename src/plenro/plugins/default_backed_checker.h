#pragma once

#include <cstdint>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// What the time-limit and time-window checkers share: the view they read, and the
// DefaultConstraintChecker they hold for assignment and the dead-end test, bound to the same view.
class DefaultBackedChecker : public ConstraintCheckerPlugin {
 public:
  void Bind(const InstanceView& view) override;
  // Assignment, from the held checker.
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  // The dead-end test, from the held checker.
  bool IsRejectedOnFinish(const SearchState& state) const override;

  const std::vector<std::uint64_t>& Goals() const { return view().goals(); }
  const InstanceView& view() const { return link_.view(); }

 private:
  ViewLink link_;
  DefaultConstraintChecker base_;
};

}  // namespace plenro
