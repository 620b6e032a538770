#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/default_constraint_checker.h"

namespace plenro {

// Time windows with waiting. A move is rejected when it arrives after the point's close, when
// some open point could have been served on the way without arriving later (and serving it
// afterwards would be worse), or when it leaves an open point that no unfinished agent can
// still reach before its close. Assignment and the dead-end test come from a held
// DefaultConstraintChecker.
//
// Windows, start and goal membership are flat per-vertex tables and leg costs come from a
// CostTable snapshot of the graph taken in Initialize, so every lookup of the rule is O(1).
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
 public:
  std::string Name() const override { return "TimeConstraintChecker"; }
  // Forwards to the held DefaultConstraintChecker; snapshots the graph's costs (when graph is
  // not null) and keeps the agents' types and the number of points and agents.
  void Initialize(const PlannerGraph* graph, const std::vector<Point>& points,
                  const std::vector<AgentInfo>& agents) override;
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  // The window rule; value is the arrival time after waiting when the agent has to wait.
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
  bool IsRejectedOnFinish(const SearchState& state) const override;

  // Set-up hand-overs, each replacing what an earlier call stored. An empty starts or goals
  // vector means "not set": the rules that mention them are then skipped.
  void SetGoals(const std::vector<std::uint64_t>& goals);
  void SetTimeWindows(const TimeWindowMap& windows);
  void SetStarts(const std::vector<std::uint64_t>& starts);
  void SetReturnToEnd(bool return_to_end);

  // Time agent k needs from point x to point y: 0 without a graph, for x = y, into its own
  // start point, into its own end point when routes need not return there, and for a missing
  // arc; otherwise the arc's cost for the agent's type.
  double Travel(std::uint64_t x, std::uint64_t y, std::uint64_t k) const;
  // Agent k may serve point i: its type is allowed there, and i is neither another agent's end
  // point nor another agent's start point (as far as goals and starts are set).
  bool CanServe(std::uint64_t k, std::uint64_t i) const;

 private:
  bool HasWindow(std::uint64_t v) const { return has_window_[v] != 0; }
  bool InGoalSet(std::uint64_t v) const { return v < is_goal_.size() && is_goal_[v] != 0; }
  bool InStartSet(std::uint64_t v) const { return v < is_start_.size() && is_start_[v] != 0; }
  // Builds the per-vertex tables from the stored windows, goals and starts.
  void RebuildWindowTable();
  void RebuildGoalTable();
  void RebuildStartTable();
  bool SkipsDominatedPoint(const SearchState& state, std::uint64_t agent, std::uint64_t point,
                           std::uint64_t from, double left_at, double arrival) const;
  bool LeavesUnreachablePoint(const SearchState& state, std::uint64_t agent, std::uint64_t point,
                              double arrival) const;

  DefaultConstraintChecker base_;
  TimeWindowMap windows_;
  const PlannerGraph* graph_ = nullptr;
  CostTable costs_;
  std::vector<std::uint64_t> agent_type_;  // per agent
  std::uint64_t num_points_ = 0;
  std::uint64_t num_agents_ = 0;
  std::vector<std::uint64_t> goals_;
  std::vector<std::uint64_t> starts_;
  bool return_to_end_ = false;
  // Per point: flags and bounds of the window (unset entries have no window).
  std::vector<char> has_window_;
  std::vector<double> open_;
  std::vector<double> close_;
  // Per vertex below num_points_: membership in the goal and start sets.
  std::vector<char> is_goal_;
  std::vector<char> is_start_;
};

}  // namespace plenro
