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

TimeWindowConstraintChecker::TimeWindowConstraintChecker() {
  link_.Fill([](InstanceView& own) { own.SetReturnToEnd(false); });
}

void TimeWindowConstraintChecker::Initialize(const PlannerGraph* graph,
                                             const std::vector<Point>& points,
                                             const std::vector<AgentInfo>& agents) {
  link_.Fill([&](InstanceView& own) {
    own.SetPoints(points);
    own.SetAgents(agents);
    own.SetCosts(graph);
  });
  base_.Initialize(graph, points, agents);
}

void TimeWindowConstraintChecker::UseView(const InstanceView* view) {
  link_.Link(view);
  base_.UseView(view);
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
  link_.Fill([&goals](InstanceView& own) { own.SetGoals(goals); });
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowMap& windows) {
  link_.Fill([&windows](InstanceView& own) { own.SetTimeWindows(windows); });
}

void TimeWindowConstraintChecker::SetStarts(const std::vector<std::uint64_t>& starts) {
  link_.Fill([&starts](InstanceView& own) { own.SetStarts(starts); });
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool return_to_end) {
  link_.Fill([return_to_end](InstanceView& own) { own.SetReturnToEnd(return_to_end); });
}

double TimeWindowConstraintChecker::Travel(std::uint64_t x, std::uint64_t y,
                                           std::uint64_t k) const {
  const InstanceView& view = link_.view();
  if (!view.has_costs() || view.IsOwnStart(k, y)) {
    return 0.0;
  }
  return view.Leg(x, y, k);
}

bool TimeWindowConstraintChecker::CanServe(std::uint64_t k, std::uint64_t i) const {
  return link_.view().MayServe(k, i);
}

MoveCheck TimeWindowConstraintChecker::OnMove(const SearchState& state, std::uint64_t agent,
                                              std::uint64_t point) const {
  const InstanceView& view = link_.view();
  const double arrival = state.costs[agent];
  double served = arrival;
  if (view.HasWindow(point)) {
    if (served > view.Close(point)) {
      return kReject;
    }
    if (served < view.Open(point)) {
      served = view.Open(point);
    }
  }
  if (view.has_costs()) {
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
  const InstanceView& view = link_.view();
  return AnyOpenPoint(state.visited, view.num_points(), [&](std::uint64_t i) {
    if (i == point || i == from || !CanServe(agent, i)) {
      return false;
    }
    // The agent's own start point, and a free ending, are never detours.
    if (view.IsOwnStart(agent, i) || view.FreeEnding(agent, i)) {
      return false;
    }
    double via_i = left_at + Travel(from, i, agent);
    if (view.HasWindow(i)) {
      if (via_i > view.Close(i)) {
        return false;
      }
      via_i = std::max(via_i, view.Open(i));
    }
    double detour = via_i + Travel(i, point, agent);
    if (view.HasWindow(point)) {
      if (detour > view.Close(point)) {
        return false;
      }
      detour = std::max(detour, view.Open(point));
    }
    if (!(detour <= arrival)) {
      return false;
    }
    double after = arrival + Travel(point, i, agent);
    if (view.HasWindow(i)) {
      if (after > view.Close(i)) {
        return true;
      }
      after = std::max(after, view.Open(i));
    }
    return after > detour;
  });
}

// True when some open point has no unfinished agent that may serve it and reach it before its
// close, the moving agent counting from `point` at `arrival`.
bool TimeWindowConstraintChecker::LeavesUnreachablePoint(const SearchState& state,
                                                         std::uint64_t agent, std::uint64_t point,
                                                         double arrival) const {
  const InstanceView& view = link_.view();
  const bool goals_set = view.has_goals();
  const std::uint64_t agents = view.num_agents();
  return AnyOpenPoint(state.visited, view.num_points(), [&](std::uint64_t j) {
    for (std::uint64_t k = 0; k < agents; ++k) {
      if ((goals_set && state.finished[k] != 0) || !CanServe(k, j)) {
        continue;
      }
      if (!view.HasWindow(j)) {
        return false;  // any agent that may serve j fits
      }
      const std::uint64_t from =
          k == agent ? point : static_cast<std::uint64_t>(state.positions[k]);
      const double start = k == agent ? arrival : state.costs[k];
      if (start + Travel(from, j, k) <= view.Close(j)) {
        return false;
      }
    }
    return true;
  });
}

}  // namespace plenro
