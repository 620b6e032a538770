#include "plenro/improve/local_search.h"

#include <algorithm>

namespace plenro {

namespace {

// A descent ends after this many sweeps even if moves keep improving by tiny amounts.
constexpr std::int32_t kMaxSweeps = 1000;

}  // namespace

LocalSearch::LocalSearch(const RoutingInstance& instance, const CandidateLists& candidates)
    : instance_(&instance), candidates_(&candidates), order_(instance.customers()) {}

bool LocalSearch::Run(Solution& s, RandomSource& random, const std::function<bool()>& stop) {
  random.Shuffle(order_);
  bool changed = false;
  for (std::int32_t sweep = 0; sweep < kMaxSweeps; ++sweep) {
    bool improved = false;
    for (const std::int32_t u : order_) {
      if (stop()) {
        return changed;
      }
      if (s.RouteOf(u) < 0) {
        continue;
      }
      const std::int64_t since = s.TestedAt(u);
      s.SetTestedAt(u, s.changes());
      for (std::int32_t t = 0; t < instance_->num_types(); ++t) {
        if (!instance_->Serves(t, u)) {
          continue;
        }
        for (const std::int32_t v : candidates_->Near(t, u)) {
          const std::int32_t b = s.RouteOf(v);
          if (b < 0 || s.route(b).type != t) {
            continue;
          }
          if (std::max(s.route(s.RouteOf(u)).stamp, s.route(b).stamp) <= since) {
            continue;
          }
          improved = TryPair(s, u, v) || improved;
        }
      }
      improved = TryEmptyRoutes(s, u, since) || improved;
    }
    if (!improved) {
      break;
    }
    changed = true;
  }
  return changed;
}

bool LocalSearch::TryPair(Solution& s, std::int32_t u, std::int32_t v) {
  MoveProposal& m = proposal_;
  const std::int32_t b = s.RouteOf(v);
  const std::int32_t q = s.PositionOf(v);
  if (Commit(s, RouteMoves::Relocate(s, u, 1, b, q, m)) ||
      Commit(s, RouteMoves::Relocate(s, u, 2, b, q, m)) ||
      Commit(s, RouteMoves::Relocate(s, u, 3, b, q, m)) ||
      Commit(s, RouteMoves::Relocate(s, u, 1, b, q - 1, m))) {
    return true;
  }
  if (Commit(s, RouteMoves::Swap(s, u, 1, v, 1, m)) ||
      Commit(s, RouteMoves::Swap(s, u, 2, v, 1, m)) ||
      Commit(s, RouteMoves::Swap(s, u, 1, v, 2, m)) ||
      Commit(s, RouteMoves::Swap(s, u, 2, v, 2, m))) {
    return true;
  }
  return Commit(s, RouteMoves::TwoOpt(s, u, v, m)) || Commit(s, RouteMoves::TwoOptStar(s, u, v, m));
}

bool LocalSearch::Commit(Solution& s, bool proposed) {
  if (!proposed) {
    return false;
  }
  const MoveProposal& m = proposal_;
  ++evaluated_;
  const RouteCost first = s.evaluator().Close(m.route[0], m.body[0]);
  ObjectiveKey key;
  if (m.count == 1) {
    key = s.KeyWith(m.route[0], first.penalised, -1, 0.0);
  } else {
    const RouteCost second = s.evaluator().Close(m.route[1], m.body[1]);
    key = s.KeyWith(m.route[0], first.penalised, m.route[1], second.penalised);
  }
  if (!Better(key, s.Key())) {
    return false;
  }
  // Both lists are read before either route changes.
  m.Gather(s, 0, first_);
  if (m.count == 2) {
    m.Gather(s, 1, second_);
  }
  s.SetVisits(m.route[0], first_);
  if (m.count == 2) {
    s.SetVisits(m.route[1], second_);
  }
  return true;
}

bool LocalSearch::TryEmptyRoutes(Solution& s, std::int32_t u, std::int64_t since) {
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& R = s.route(r);
    if (!R.empty() || std::max(s.route(s.RouteOf(u)).stamp, R.stamp) <= since) {
      continue;
    }
    if (Commit(s, RouteMoves::IntoEmpty(s, u, r, proposal_))) {
      return true;
    }
  }
  return false;
}

}  // namespace plenro
