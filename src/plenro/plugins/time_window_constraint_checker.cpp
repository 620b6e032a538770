#include "plenro/plugins/time_window_constraint_checker.h"

#include <algorithm>
#include <bit>

namespace plenro {

namespace {

constexpr MoveCheck kReject{false, 0.0, false};

// Calls fn(i) for every point i < n whose bit in `visited` is clear, ascending, until fn
// returns true; returns whether it did.
template <typename Fn>
bool AnyOpenPoint(const VisitedSet& visited, std::uint64_t n, Fn fn) {
  const std::uint64_t limit = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(kMaxPoints));
  for (std::uint64_t w = 0; w < 4 && w * 64 < limit; ++w) {
    std::uint64_t word = ~visited.words[w];
    while (word != 0) {
      const std::uint64_t i = w * 64 + static_cast<std::uint64_t>(std::countr_zero(word));
      if (i >= limit) {
        return false;
      }
      if (fn(i)) {
        return true;
      }
      word &= word - 1;
    }
  }
  return false;
}

}  // namespace

void TimeWindowConstraintChecker::Initialize(const PlannerGraph* graph,
                                             const std::vector<Point>& points,
                                             const std::vector<AgentInfo>& agents) {
  base_.Initialize(graph, points, agents);
  graph_ = graph;
  costs_ = graph_ == nullptr ? CostTable() : CostTable(*graph_);
  num_points_ = points.size();
  num_agents_ = agents.size();
  agent_type_.clear();
  agent_type_.reserve(agents.size());
  for (const AgentInfo& agent : agents) {
    agent_type_.push_back(static_cast<std::uint64_t>(agent.type));
  }
  RebuildWindowTable();
  RebuildGoalTable();
  RebuildStartTable();
}

bool TimeWindowConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return base_.IsForbidden(agent, point);
}

bool TimeWindowConstraintChecker::IsFeasible(const SearchState& /*state*/,
                                             std::uint64_t /*agent*/) const {
  return true;
}

bool TimeWindowConstraintChecker::IsRejectedOnFinish(const SearchState& state) const {
  return base_.IsRejectedOnFinish(state);
}

void TimeWindowConstraintChecker::SetGoals(const std::vector<std::uint64_t>& goals) {
  goals_ = goals;
  RebuildGoalTable();
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowMap& windows) {
  windows_ = windows;
  RebuildWindowTable();
}

void TimeWindowConstraintChecker::SetStarts(const std::vector<std::uint64_t>& starts) {
  starts_ = starts;
  RebuildStartTable();
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) {
  return_to_end_ = return_to_end;
}

void TimeWindowConstraintChecker::RebuildWindowTable() {
  has_window_.assign(num_points_, 0);
  open_.assign(num_points_, 0.0);
  close_.assign(num_points_, 0.0);
  // Windows of vertices beyond the points are never asked for.
  for (const auto& [vertex, window] : windows_) {
    if (vertex < num_points_) {
      has_window_[vertex] = 1;
      open_[vertex] = window.first;
      close_[vertex] = window.second;
    }
  }
}

void TimeWindowConstraintChecker::RebuildGoalTable() {
  is_goal_.assign(num_points_, 0);
  for (const std::uint64_t g : goals_) {
    if (g < num_points_) {
      is_goal_[g] = 1;
    }
  }
}

void TimeWindowConstraintChecker::RebuildStartTable() {
  is_start_.assign(num_points_, 0);
  for (const std::uint64_t s : starts_) {
    if (s < num_points_) {
      is_start_[s] = 1;
    }
  }
}

double TimeWindowConstraintChecker::Travel(std::uint64_t x, std::uint64_t y,
                                           std::uint64_t k) const {
  if (graph_ == nullptr || x == y) {
    return 0.0;
  }
  if (!starts_.empty() && y == starts_[k]) {
    return 0.0;
  }
  if (!return_to_end_ && !goals_.empty() && y == goals_[k]) {
    return 0.0;
  }
  // A missing arc costs kNoConnection, as in the search; a free leg would let the skip test
  // reject moves on the strength of a detour that does not exist.
  if (!costs_.HasArc(x, y)) {
    return kNoConnection;
  }
  return costs_.Cost(x, y, agent_type_[k]);
}

bool TimeWindowConstraintChecker::CanServe(std::uint64_t k, std::uint64_t i) const {
  if (base_.IsForbidden(k, i)) {
    return false;
  }
  if (!goals_.empty() && InGoalSet(i) && i != goals_[k]) {
    return false;
  }
  return starts_.empty() || !InStartSet(i) || i == starts_[k];
}

MoveCheck TimeWindowConstraintChecker::OnMove(const SearchState& state, std::uint64_t agent,
                                              std::uint64_t point) const {
  const double arrival = state.costs[agent];
  double served = arrival;
  if (HasWindow(point)) {
    if (served > close_[point]) {
      return kReject;
    }
    if (served < open_[point]) {
      served = open_[point];
    }
  }
  if (graph_ != nullptr) {
    const auto from = static_cast<std::uint64_t>(state.positions[agent]);
    const double left_at = arrival - Travel(from, point, agent);
    if (SkipsDominatedPoint(state, agent, point, from, left_at, served) ||
        LeavesUnreachablePoint(state, agent, point, served)) {
      return kReject;
    }
  }
  if (served == arrival) {
    return MoveCheck{};
  }
  return MoveCheck{true, served, true};
}

// True when some open point i could have been served between `from` and `point` without a
// later arrival at `point`, while serving it after `point` would miss its window or reach it
// later than the detour reaches `point`.
bool TimeWindowConstraintChecker::SkipsDominatedPoint(const SearchState& state, std::uint64_t agent,
                                                      std::uint64_t point, std::uint64_t from,
                                                      double left_at, double arrival) const {
  return AnyOpenPoint(state.visited, num_points_, [&](std::uint64_t i) {
    if (i == point || i == from || !CanServe(agent, i)) {
      return false;
    }
    if (!starts_.empty() && i == starts_[agent]) {
      return false;
    }
    if (!return_to_end_ && !goals_.empty() && i == goals_[agent]) {
      return false;
    }
    double via_i = left_at + Travel(from, i, agent);
    if (HasWindow(i)) {
      if (via_i > close_[i]) {
        return false;
      }
      via_i = std::max(via_i, open_[i]);
    }
    double detour = via_i + Travel(i, point, agent);
    if (HasWindow(point)) {
      if (detour > close_[point]) {
        return false;
      }
      detour = std::max(detour, open_[point]);
    }
    if (!(detour <= arrival)) {
      return false;
    }
    double after = arrival + Travel(point, i, agent);
    if (HasWindow(i)) {
      if (after > close_[i]) {
        return true;
      }
      after = std::max(after, open_[i]);
    }
    return after > detour;
  });
}

// True when some open point has no unfinished agent that may serve it and reach it before its
// close, the moving agent counting from `point` at `arrival`.
bool TimeWindowConstraintChecker::LeavesUnreachablePoint(const SearchState& state,
                                                         std::uint64_t agent, std::uint64_t point,
                                                         double arrival) const {
  const bool goals_set = !goals_.empty();
  return AnyOpenPoint(state.visited, num_points_, [&](std::uint64_t j) {
    for (std::uint64_t k = 0; k < num_agents_; ++k) {
      if ((goals_set && state.finished[k] != 0) || !CanServe(k, j)) {
        continue;
      }
      if (!HasWindow(j)) {
        return false;  // any agent that may serve j fits
      }
      const std::uint64_t from =
          k == agent ? point : static_cast<std::uint64_t>(state.positions[k]);
      const double start = k == agent ? arrival : state.costs[k];
      if (start + Travel(from, j, k) <= close_[j]) {
        return false;
      }
    }
    return true;
  });
}

}  // namespace plenro
