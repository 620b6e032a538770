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

bool TimeWindowConstraintChecker::IsFeasible(const SearchState& /*state*/,
                                             std::uint64_t /*agent*/) const {
  return true;
}

double TimeWindowConstraintChecker::Travel(std::uint64_t x, std::uint64_t y,
                                           std::uint64_t k) const {
  const InstanceView& instance = view();
  if (!instance.has_costs() || instance.IsOwnStart(k, y)) {
    return 0.0;
  }
  return instance.Leg(x, y, k);
}

bool TimeWindowConstraintChecker::CanServe(std::uint64_t k, std::uint64_t i) const {
  return view().MayServe(k, i);
}

MoveCheck TimeWindowConstraintChecker::OnMove(const SearchState& state, std::uint64_t agent,
                                              std::uint64_t point) const {
  const InstanceView& instance = view();
  const auto from = static_cast<std::uint64_t>(state.positions[agent]);
  double arrival = state.costs[agent];
  // An agent still at its start point has not moved yet (a route that comes back there has
  // ended): it leaves when the start point's window opens.
  if (instance.IsOwnStart(agent, from)) {
    const double departure = DepartureTime(agent);
    if (departure < 0.0) {
      return kReject;
    }
    arrival += departure;
  }
  double served = arrival;
  if (instance.HasWindow(point)) {
    if (served > instance.Close(point)) {
      return kReject;
    }
    if (served < instance.Open(point)) {
      served = instance.Open(point);
    }
  }
  if (instance.has_costs()) {
    const double left_at = arrival - Travel(from, point, agent);
    if (SkipsDominatedPoint(state, agent, point, from, left_at, served) ||
        LeavesUnreachablePoint(state, agent, point, served)) {
      return kReject;
    }
  }
  if (served == state.costs[agent]) {
    return MoveCheck{};
  }
  return MoveCheck{true, served, true};
}

double TimeWindowConstraintChecker::DepartureTime(std::uint64_t k) const {
  const InstanceView& instance = view();
  if (!instance.has_starts()) {
    return 0.0;
  }
  const std::uint64_t start = instance.Start(k);
  if (!instance.HasWindow(start)) {
    return 0.0;
  }
  if (instance.Close(start) < 0.0) {
    return -1.0;
  }
  return std::max(0.0, instance.Open(start));
}

// True when some open point i could have been served between `from` and `point` without a
// later arrival at `point`, while serving it after `point` would miss its window or reach it
// later than the detour reaches `point`.
bool TimeWindowConstraintChecker::SkipsDominatedPoint(const SearchState& state, std::uint64_t agent,
                                                      std::uint64_t point, std::uint64_t from,
                                                      double left_at, double arrival) const {
  const InstanceView& instance = view();
  return AnyOpenPoint(state.visited, instance.num_points(), [&](std::uint64_t i) {
    if (i == point || i == from || !CanServe(agent, i)) {
      return false;
    }
    // The agent's own start point, and a free ending, are never detours.
    if (instance.IsOwnStart(agent, i) || instance.FreeEnding(agent, i)) {
      return false;
    }
    double via_i = left_at + Travel(from, i, agent);
    if (instance.HasWindow(i)) {
      if (via_i > instance.Close(i)) {
        return false;
      }
      via_i = std::max(via_i, instance.Open(i));
    }
    double detour = via_i + Travel(i, point, agent);
    if (instance.HasWindow(point)) {
      if (detour > instance.Close(point)) {
        return false;
      }
      detour = std::max(detour, instance.Open(point));
    }
    if (!(detour <= arrival)) {
      return false;
    }
    double after = arrival + Travel(point, i, agent);
    if (instance.HasWindow(i)) {
      if (after > instance.Close(i)) {
        return true;
      }
      after = std::max(after, instance.Open(i));
    }
    return after > detour;
  });
}

// True when some open point has no unfinished agent that may serve it and reach it before its
// close, the moving agent counting from `point` at `arrival`.
bool TimeWindowConstraintChecker::LeavesUnreachablePoint(const SearchState& state,
                                                         std::uint64_t agent, std::uint64_t point,
                                                         double arrival) const {
  const InstanceView& instance = view();
  const bool goals_set = instance.has_goals();
  const std::uint64_t agents = instance.num_agents();
  return AnyOpenPoint(state.visited, instance.num_points(), [&](std::uint64_t j) {
    for (std::uint64_t k = 0; k < agents; ++k) {
      if ((goals_set && state.finished[k] != 0) || !CanServe(k, j)) {
        continue;
      }
      if (!instance.HasWindow(j)) {
        return false;  // any agent that may serve j fits
      }
      const std::uint64_t from =
          k == agent ? point : static_cast<std::uint64_t>(state.positions[k]);
      double start = k == agent ? arrival : state.costs[k];
      if (k != agent && instance.IsOwnStart(k, from)) {
        const double departure = DepartureTime(k);
        if (departure < 0.0) {
          continue;  // this agent can never leave its start
        }
        start += departure;
      }
      if (start + Travel(from, j, k) <= instance.Close(j)) {
        return false;
      }
    }
    return true;
  });
}

}  // namespace plenro
