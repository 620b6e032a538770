#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/default_backed_checker.h"

namespace plenro {

// Time windows with waiting. A move is rejected when it arrives after the point's close, when
// some open point could have been served on the way without arriving later (and serving it
// afterwards would be worse), or when it leaves an open point that no unfinished agent can
// still reach before its close. A route leaves its start point at time 0, or when the start
// point's window opens if that is later, as the route evaluation has it. Assignment and the
// dead-end test come from the DefaultConstraintChecker it holds.
//
// Windows, start and end points, the return rule and the leg costs come from the bound instance
// view, so every lookup of the rule is O(1). An empty starts or goals list of the view means
// "not set": the rules that mention them are then skipped.
class TimeWindowConstraintChecker : public DefaultBackedChecker {
 public:
  // "TimeConstraintChecker": the name the time-window checker has always reported, not its class
  // name. It checks service windows, not any time budget.
  std::string Name() const override { return "TimeConstraintChecker"; }
  // The window rule; value is the arrival time after waiting when the agent has to wait.
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;

  // Time agent k needs from point x to point y: 0 without costs and into its own start point;
  // otherwise the leg rule of the view (InstanceView::Leg: 0 for x = y and for a free ending,
  // kNoConnection for a missing arc).
  double Travel(std::uint64_t x, std::uint64_t y, std::uint64_t k) const;
  // Agent k may serve point i (InstanceView::MayServe).
  bool CanServe(std::uint64_t k, std::uint64_t i) const;

 private:
  // When agent k leaves its start point: at 0, or once the start point's window opens; -1 when
  // that window closed before 0, so the agent can never leave.
  double DepartureTime(std::uint64_t k) const;
  bool SkipsDominatedPoint(const SearchState& state, std::uint64_t agent, std::uint64_t point,
                           std::uint64_t from, double left_at, double arrival) const;
  bool LeavesUnreachablePoint(const SearchState& state, std::uint64_t agent, std::uint64_t point,
                              double arrival) const;
};

}  // namespace plenro
