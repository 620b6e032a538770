#pragma once

#include <cstdint>
#include <string>

#include "plenro/plugins/default_backed_checker.h"

namespace plenro {

// Route-length limit per agent (`max_length`; 0 or less means none). Assignment and the
// dead-end test come from the DefaultConstraintChecker it holds.
class TimeLimitConstraintChecker : public DefaultBackedChecker {
 public:
  std::string Name() const override { return "TimeLimitConstraintChecker"; }
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  // True when the agent has no limit or its route cost is at most the limit.
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
};

}  // namespace plenro
