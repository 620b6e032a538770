#include "plenro/plugins/time_limit_constraint_checker.h"

namespace plenro {

MoveCheck TimeLimitConstraintChecker::OnMove(const SearchState& /*state*/, std::uint64_t /*agent*/,
                                             std::uint64_t /*point*/) const {
  return MoveCheck{};
}

bool TimeLimitConstraintChecker::IsFeasible(const SearchState& state, std::uint64_t agent) const {
  const double limit = view().MaxLength(agent);
  return limit <= 0.0 || state.costs[agent] <= limit;
}

}  // namespace plenro
