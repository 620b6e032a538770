#pragma once

#include <cstdint>

#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Answer of a checker's move test.
struct MoveCheck {
  bool accepted = true;
  double value = 0.0;      // the agent's new route cost, meaningful when has_value
  bool has_value = false;  // the checker changed the route cost (for example by waiting)
};

// Call pattern: Bind to the solve's instance view at set-up (PluginBase::Bind); then, per
// candidate move of the search, IsForbidden, IsRejectedOnFinish (only when the move ends a
// route), OnMove, IsFeasible. Checkers answer through their results only: they print nothing and
// throw nothing.
class ConstraintCheckerPlugin : public PluginBase {
 public:
  // True when the agent may not serve the point; the search then skips the point.
  virtual bool IsForbidden(std::uint64_t agent, std::uint64_t point) const = 0;
  // Called on the child after the leg was added to costs[agent] but before positions[agent]
  // is updated (it still holds the point the agent comes from). accepted false drops the
  // child; has_value makes the search store value into costs[agent]. The state is not changed.
  virtual MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                           std::uint64_t point) const = 0;
  // Called after OnMove on the same child; false drops it.
  virtual bool IsFeasible(const SearchState& state, std::uint64_t agent) const = 0;
  // Called on a child in which the moving agent's route has just ended; true drops it.
  virtual bool IsRejectedOnFinish(const SearchState& state) const = 0;
};

}  // namespace plenro
