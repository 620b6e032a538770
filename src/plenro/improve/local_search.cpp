#include "plenro/improve/local_search.h"

#include <algorithm>

namespace plenro {

namespace {

// A descent ends after this many applied moves per point to serve (and at least the floor), even
// if moves keep improving: under MinMax an endless series of tiny gains on the longest route,
// each paid back on the others, is possible.
constexpr std::int64_t kMaxMovesPerPoint = 20;
constexpr std::int64_t kMaxMovesFloor = 1000;

}  // namespace

LocalSearch::LocalSearch(const RoutingInstance& instance, const CandidateLists& candidates)
    : instance_(&instance),
      candidates_(&candidates),
      queued_(static_cast<std::size_t>(instance.num_vertices()), 0),
      max_moves_(std::max(kMaxMovesFloor, kMaxMovesPerPoint * static_cast<std::int64_t>(
                                                                  instance.customers().size()))) {}

void LocalSearch::Activate(const Solution& s, std::int32_t v) {
  const std::int32_t r = s.RouteOf(v);
  if (r < 0) {
    return;
  }
  const PlannedRoute& route = s.route(r);
  const std::int32_t p = s.PositionOf(v);
  for (std::int32_t q = std::max(1, p - 1); q <= std::min(route.size(), p + 1); ++q) {
    const std::int32_t w = route.At(q);
    if (queued_[static_cast<std::size_t>(w)] == 0) {
      queued_[static_cast<std::size_t>(w)] = 1;
      queue_.push_back(w);
    }
  }
}

bool LocalSearch::Run(Solution& s, const std::vector<std::int32_t>& seeds, RandomSource& random,
                      const std::function<bool()>& stop) {
  applied_ = 0;
  queue_.clear();
  for (const std::int32_t v : seeds) {
    Activate(s, v);
  }
  random.Shuffle(queue_);
  bool changed = false;
  std::size_t next = 0;
  while (next < queue_.size()) {
    if (stop() || applied_ >= max_moves_) {
      break;
    }
    const std::int32_t u = queue_[next++];
    queued_[static_cast<std::size_t>(u)] = 0;
    if (s.RouteOf(u) < 0) {
      continue;
    }
    ForEachCandidate(s, u, [&](std::int32_t v, std::int32_t) {
      // The points around u and v before the move lose a neighbour; around them after it,
      // they gain one.
      const std::size_t before = queue_.size();
      Activate(s, u);
      Activate(s, v);
      if (TryPair(s, u, v)) {
        changed = true;
        Activate(s, u);
        Activate(s, v);
      } else {
        for (std::size_t i = before; i < queue_.size(); ++i) {
          queued_[static_cast<std::size_t>(queue_[i])] = 0;
        }
        queue_.resize(before);
      }
    });
    if (TryEmptyRoutes(s, u)) {
      changed = true;
      Activate(s, u);
    }
    // Compact the queue now and then, so that it does not grow without bound.
    if (next > 4096 && next * 2 > queue_.size()) {
      queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(next));
      next = 0;
    }
  }
  for (std::size_t i = next; i < queue_.size(); ++i) {
    queued_[static_cast<std::size_t>(queue_[i])] = 0;
  }
  queue_.clear();
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
  ObjectiveKey change;
  if (m.count == 1) {
    change = s.KeyChange(m.route[0], first);
  } else {
    const RouteCost second = s.evaluator().Close(m.route[1], m.body[1]);
    change = s.KeyChange(m.route[0], first, m.route[1], second);
  }
  if (!Better(change, ObjectiveKey{})) {
    return false;
  }
  ++applied_;
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

bool LocalSearch::TryEmptyRoutes(Solution& s, std::int32_t u) {
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    if (!s.route(r).empty()) {
      continue;
    }
    if (Commit(s, RouteMoves::IntoEmpty(s, u, r, proposal_))) {
      return true;
    }
  }
  return false;
}

}  // namespace plenro
