#pragma once

#include <cstdint>
#include <string>

#include "plenro/plugins/default_backed_checker.h"

namespace plenro {

// The route-length limit: an agent's route cost (its arrival time, waiting included) may not pass
// its `max_length` (the agent's `time_limit`; 0 or less means none). "TimeLimit" is the name it
// has always had as a plug-in (and Name()); it limits no solving time. RouteLengthChecker below
// names what it is. Assignment and the dead-end test come from the DefaultConstraintChecker it
// holds.
class TimeLimitConstraintChecker : public DefaultBackedChecker {
 public:
  std::string Name() const override { return "TimeLimitConstraintChecker"; }
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  // True when the agent has no limit or its route cost is at most the limit.
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
};

using RouteLengthChecker = TimeLimitConstraintChecker;

}  // namespace plenro
