#include "plenro/improve/local_search.h"

#include <algorithm>
#include <limits>

namespace plenro {

namespace {

// A descent ends after this many applied moves per point to serve (and at least the floor), even
// if moves keep improving: under MinMax an endless series of tiny gains on the longest route,
// each paid back on the others, is possible.
constexpr std::int64_t kMaxMovesPerPoint = 20;
constexpr std::int64_t kMaxMovesFloor = 1000;
// SWAP* pairs a route with the routes holding the first this many candidates of its points.
constexpr std::size_t kSwapStarNear = 10;

}  // namespace

LocalSearch::LocalSearch(const RoutingInstance& instance, const CandidateLists& candidates)
    : instance_(&instance),
      candidates_(&candidates),
      pairs_(instance, candidates, std::numeric_limits<std::int32_t>::max()),
      queued_(static_cast<std::size_t>(instance.num_vertices()), 0),
      swap_star_(instance),
      use_swap_star_(SwapStar::Applies(instance, MinSum)),
      touched_(static_cast<std::size_t>(instance.num_agents()), 0),
      near_mark_(static_cast<std::size_t>(instance.num_agents()), 0),
      where_route_(static_cast<std::size_t>(instance.num_vertices()), -1),
      where_position_(static_cast<std::size_t>(instance.num_vertices()), 0),
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
  const bool swap_star = use_swap_star_ && s.evaluator().objective() == MinSum;
  for (const std::int32_t r : touched_routes_) {
    touched_[static_cast<std::size_t>(r)] = 0;
  }
  touched_routes_.clear();
  if (swap_star) {
    for (const std::int32_t v : queue_) {
      Touch(s.RouteOf(v));
    }
  }
  bool changed = false;
  std::size_t next = 0;
  for (;;) {
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
    // No move of a queued point improves: SWAP* between the routes that changed and their
    // neighbours, and on with the points of what it applied.
    if (!swap_star || next < queue_.size() || stop() || applied_ >= max_moves_ ||
        !SwapStarSweep(s)) {
      break;
    }
    changed = true;
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
  if (Commit(s, RouteMoves::TwoOpt(s, u, v, m)) || Commit(s, RouteMoves::TwoOptStar(s, u, v, m))) {
    return true;
  }
  return instance_->linked() && TryPairMoves(s, u, v);
}

bool LocalSearch::TryPairMoves(Solution& s, std::int32_t u, std::int32_t v) {
  const RoutingInstance& in = *instance_;
  const std::int32_t partner = in.Partner(u);
  const std::int32_t a = s.RouteOf(u);
  const std::int32_t b = s.RouteOf(v);
  if (partner < 0 || a == b || s.RouteOf(partner) != a) {
    return false;
  }
  const std::int32_t first = in.PartnerFirst(u) ? u : partner;
  const std::int32_t second = in.PartnerFirst(u) ? partner : u;
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  if (!in.Serves(B.type, first) || !in.Serves(B.type, second)) {
    return false;
  }
  const std::int32_t p = s.PositionOf(first);
  const std::int32_t q = s.PositionOf(second);
  if (p > q) {
    return false;
  }
  // Route a without the pair.
  RouteSummary rest = A.prefix[static_cast<std::size_t>(p - 1)];
  if (q > p + 1) {
    rest = in.Join(rest, s.Range(a, p + 1, q - 1, A.agent), A.agent);
  }
  rest = in.Join(rest, A.suffix[static_cast<std::size_t>(q + 1)], A.agent);
  const RouteCost without = s.evaluator().Close(a, rest);

  // Pair relocate: u right before or after v on route b, its partner at its best place there
  // on its side of u.
  std::int32_t second_after = 0;
  Placement place;
  const std::int32_t at = s.PositionOf(v);
  for (const std::int32_t after : {at - 1, at}) {
    std::int32_t its_second = 0;
    const Placement here = pairs_.AnchoredPair(s, first, second, b, after, u == first, its_second);
    if (here.found() && (!place.found() || here.cost.penalised() < place.cost.penalised())) {
      place = here;
      second_after = its_second;
    }
  }
  if (place.found()) {
    ++evaluated_;
    first_.clear();
    for (const std::int32_t w : A.visits) {
      if (w != first && w != second) {
        first_.push_back(w);
      }
    }
    second_.assign(B.visits.begin(), B.visits.end());
    second_.insert(second_.begin() + second_after, second);
    second_.insert(second_.begin() + place.after, first);
    if (CommitVisits(s, a, without, b, place.cost)) {
      return true;
    }
  }

  // Pair exchange: v and its partner take the pair's places on route a, and the other way.
  const std::int32_t v_partner = in.Partner(v);
  if (v_partner < 0 || s.RouteOf(v_partner) != b || !in.Serves(A.type, v) ||
      !in.Serves(A.type, v_partner)) {
    return false;
  }
  const std::int32_t v_first = in.PartnerFirst(v) ? v : v_partner;
  const std::int32_t v_second = in.PartnerFirst(v) ? v_partner : v;
  const std::int32_t pv = s.PositionOf(v_first);
  const std::int32_t qv = s.PositionOf(v_second);
  if (pv > qv) {
    return false;
  }
  ++evaluated_;
  const auto exchanged = [&s, &in](std::int32_t r, std::int32_t x, std::int32_t y, std::int32_t nx,
                                   std::int32_t ny) {
    // Route r with its points at positions x < y replaced by nx and ny.
    const PlannedRoute& R = s.route(r);
    RouteSummary body = in.Join(R.prefix[static_cast<std::size_t>(x - 1)], in.Single(nx), R.agent);
    if (y > x + 1) {
      body = in.Join(body, s.Range(r, x + 1, y - 1, R.agent), R.agent);
    }
    body = in.Join(body, in.Single(ny), R.agent);
    return s.evaluator().Close(r,
                               in.Join(body, R.suffix[static_cast<std::size_t>(y + 1)], R.agent));
  };
  const RouteCost ca = exchanged(a, p, q, v_first, v_second);
  const RouteCost cb = exchanged(b, pv, qv, first, second);
  first_.assign(A.visits.begin(), A.visits.end());
  first_[static_cast<std::size_t>(p - 1)] = v_first;
  first_[static_cast<std::size_t>(q - 1)] = v_second;
  second_.assign(B.visits.begin(), B.visits.end());
  second_[static_cast<std::size_t>(pv - 1)] = first;
  second_[static_cast<std::size_t>(qv - 1)] = second;
  return CommitVisits(s, a, ca, b, cb);
}

bool LocalSearch::CommitVisits(Solution& s, std::int32_t a, const RouteCost& ca, std::int32_t b,
                               const RouteCost& cb) {
  const ObjectiveKey change = s.KeyChange(a, ca, b, cb);
  if (!Better(change, ObjectiveKey{}) || !OrdersHold(s, a, b)) {
    return false;
  }
  ++applied_;
  s.SetVisits(a, first_);
  Touch(a);
  if (b >= 0 && b != a) {
    s.SetVisits(b, second_);
    Touch(b);
  }
  return true;
}

bool LocalSearch::OrdersHold(const Solution& s, std::int32_t a, std::int32_t b) {
  const RoutingInstance& in = *instance_;
  const auto mark = [this](const std::vector<std::int32_t>& visits, std::int32_t r) {
    for (std::size_t i = 0; i < visits.size(); ++i) {
      where_route_[static_cast<std::size_t>(visits[i])] = r;
      where_position_[static_cast<std::size_t>(visits[i])] = static_cast<std::int32_t>(i) + 1;
    }
  };
  const auto unmark = [this](const std::vector<std::int32_t>& visits) {
    for (const std::int32_t v : visits) {
      where_route_[static_cast<std::size_t>(v)] = -1;
    }
  };
  const bool two = b >= 0 && b != a;
  mark(first_, a);
  if (two) {
    mark(second_, b);
  }
  const auto check = [&](const std::vector<std::int32_t>& visits) {
    for (const std::int32_t v : visits) {
      const auto x = static_cast<std::size_t>(v);
      for (const std::uint32_t k : in.OrdersOf(v)) {
        const OrderLink& link = in.Order(k);
        const bool v_first = link.first == static_cast<std::uint64_t>(v);
        const auto other = static_cast<std::size_t>(v_first ? link.second : link.first);
        const bool moved = where_route_[other] >= 0;
        const std::int32_t on =
            moved ? where_route_[other] : s.RouteOf(static_cast<std::int32_t>(other));
        const std::int32_t at =
            moved ? where_position_[other] : s.PositionOf(static_cast<std::int32_t>(other));
        if (on < 0) {
          continue;
        }
        const bool same = on == where_route_[x];
        const bool in_order = (where_position_[x] < at) == v_first;
        switch (link.kind) {
          case LinkKind::kShipment:
          case LinkKind::kSameRoute:
            if (!same || !in_order) {
              return false;
            }
            break;
          case LinkKind::kOtherRoute:
            if (same) {
              return false;
            }
            break;
          case LinkKind::kPrecedence:
            if (same && !in_order) {
              return false;
            }
            break;
        }
      }
    }
    return true;
  };
  const bool ok = check(first_) && (!two || check(second_));
  unmark(first_);
  if (two) {
    unmark(second_);
  }
  return ok;
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
  // Both lists are read before either route changes.
  m.Gather(s, 0, first_);
  if (m.count == 2) {
    m.Gather(s, 1, second_);
  }
  if (instance_->linked() && !OrdersHold(s, m.route[0], m.count == 2 ? m.route[1] : -1)) {
    return false;
  }
  ++applied_;
  s.SetVisits(m.route[0], first_);
  Touch(m.route[0]);
  if (m.count == 2) {
    s.SetVisits(m.route[1], second_);
    Touch(m.route[1]);
  }
  return true;
}

void LocalSearch::Touch(std::int32_t r) {
  if (use_swap_star_ && r >= 0 && touched_[static_cast<std::size_t>(r)] == 0) {
    touched_[static_cast<std::size_t>(r)] = 1;
    touched_routes_.push_back(r);
  }
}

bool LocalSearch::SwapStarSweep(Solution& s) {
  sweep_.swap(touched_routes_);
  touched_routes_.clear();
  for (const std::int32_t r : sweep_) {
    touched_[static_cast<std::size_t>(r)] = 0;
  }
  bool applied = false;
  for (const std::int32_t a : sweep_) {
    if (s.route(a).empty()) {
      continue;
    }
    // The routes near a: those holding the first candidates of its points.
    near_routes_.clear();
    const std::int32_t type = s.route(a).type;
    for (const std::int32_t u : s.route(a).visits) {
      const auto near = candidates_->Near(type, u);
      for (std::size_t i = 0; i < std::min(near.size(), kSwapStarNear); ++i) {
        const std::int32_t b = s.RouteOf(near[i]);
        if (b >= 0 && b != a && near_mark_[static_cast<std::size_t>(b)] == 0) {
          near_mark_[static_cast<std::size_t>(b)] = 1;
          near_routes_.push_back(b);
        }
      }
    }
    for (const std::int32_t b : near_routes_) {
      near_mark_[static_cast<std::size_t>(b)] = 0;
    }
    for (const std::int32_t b : near_routes_) {
      ++evaluated_;
      RouteCost ca;
      RouteCost cb;
      if (swap_star_.Best(s, a, b, first_, second_, ca, cb) && CommitVisits(s, a, ca, b, cb)) {
        applied = true;
        for (const std::int32_t v : swap_star_.moved()) {
          Activate(s, v);
        }
      }
    }
  }
  return applied;
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
