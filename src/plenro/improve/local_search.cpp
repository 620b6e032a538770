#include "plenro/improve/local_search.h"

#include <algorithm>

namespace plenro {

namespace {

// A descent ends after this many sweeps even if moves keep improving by tiny amounts.
constexpr std::int32_t kMaxSweeps = 1000;

std::size_t Index(std::int32_t p) {
  return static_cast<std::size_t>(p);
}

// The routes and positions of two points.
struct Pair {
  std::int32_t a;
  std::int32_t b;
  std::int32_t p;
  std::int32_t q;
};

Pair Locate(const Solution& s, std::int32_t u, std::int32_t v) {
  return {s.RouteOf(u), s.RouteOf(v), s.PositionOf(u), s.PositionOf(v)};
}

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
  const std::int32_t b = s.RouteOf(v);
  const std::int32_t q = s.PositionOf(v);
  if (RelocateAfter(s, u, 1, b, q) || RelocateAfter(s, u, 2, b, q) ||
      RelocateAfter(s, u, 3, b, q) || RelocateAfter(s, u, 1, b, q - 1)) {
    return true;
  }
  if (Swap(s, u, 1, v, 1) || Swap(s, u, 2, v, 1) || Swap(s, u, 1, v, 2) || Swap(s, u, 2, v, 2)) {
    return true;
  }
  const std::int32_t a = s.RouteOf(u);
  if (a == b) {
    return TwoOpt(s, u, v);
  }
  return s.route(a).type == s.route(b).type && TwoOptStar(s, u, v);
}

bool LocalSearch::Improves(const Solution& s, std::int32_t r1, const RouteCost& c1, std::int32_t r2,
                           const RouteCost& c2) {
  ++evaluated_;
  return Better(s.KeyWith(r1, c1.penalised, r2, r2 >= 0 ? c2.penalised : 0.0), s.Key());
}

void LocalSearch::Gather(const Solution& s, Pieces pieces, std::vector<std::int32_t>& out) {
  out.clear();
  for (const Piece& piece : pieces) {
    const PlannedRoute& route = s.route(piece.route);
    if (piece.reversed) {
      for (std::int32_t p = piece.to; p >= piece.from; --p) {
        out.push_back(route.At(p));
      }
    } else {
      for (std::int32_t p = piece.from; p <= piece.to; ++p) {
        out.push_back(route.At(p));
      }
    }
  }
}

bool LocalSearch::CommitOne(Solution& s, std::int32_t a, const TimeSegment& body, Pieces pieces) {
  const RouteCost cost = s.evaluator().Close(a, body);
  if (!Improves(s, a, cost, -1, cost)) {
    return false;
  }
  Gather(s, pieces, first_);
  s.SetVisits(a, first_);
  return true;
}

bool LocalSearch::CommitTwo(Solution& s, std::int32_t a, const TimeSegment& body_a, Pieces pieces_a,
                            std::int32_t b, const TimeSegment& body_b, Pieces pieces_b) {
  const RouteCost cost_a = s.evaluator().Close(a, body_a);
  const RouteCost cost_b = s.evaluator().Close(b, body_b);
  if (!Improves(s, a, cost_a, b, cost_b)) {
    return false;
  }
  // Both lists are read from the solution before either route changes.
  Gather(s, pieces_a, first_);
  Gather(s, pieces_b, second_);
  s.SetVisits(a, first_);
  s.SetVisits(b, second_);
  return true;
}

bool LocalSearch::ServesRange(const Solution& s, std::int32_t type, std::int32_t src,
                              std::int32_t from, std::int32_t to) const {
  const PlannedRoute& route = s.route(src);
  for (std::int32_t p = from; p <= to; ++p) {
    if (!instance_->Serves(type, route.At(p))) {
      return false;
    }
  }
  return true;
}

bool LocalSearch::RelocateAfter(Solution& s, std::int32_t u, std::int32_t length, std::int32_t b,
                                std::int32_t after) {
  const RoutingInstance& in = *instance_;
  const std::int32_t a = s.RouteOf(u);
  const std::int32_t p = s.PositionOf(u);
  const PlannedRoute& A = s.route(a);
  const std::int32_t last = p + length - 1;
  if (last > A.size()) {
    return false;
  }
  const PlannedRoute& B = s.route(b);
  if (a != b) {
    if (!ServesRange(s, B.type, a, p, last)) {
      return false;
    }
    const TimeSegment moved = s.Range(a, p, last, B.type);
    return CommitTwo(
        s, a, in.Join(A.prefix[Index(p - 1)], A.suffix[Index(last + 1)], A.type),
        {{a, 1, p - 1}, {a, last + 1, A.size()}}, b,
        in.Join(in.Join(B.prefix[Index(after)], moved, B.type), B.suffix[Index(after + 1)], B.type),
        {{b, 1, after}, {a, p, last}, {b, after + 1, B.size()}});
  }
  if (after >= p - 1 && after <= last) {
    return false;
  }
  if (after < p - 1) {
    // Backwards: start .. after, the moved points, after + 1 .. p - 1, the rest.
    TimeSegment body = in.Join(A.prefix[Index(after)], s.Range(a, p, last, A.type), A.type);
    body = in.Join(body, s.Range(a, after + 1, p - 1, A.type), A.type);
    body = in.Join(body, A.suffix[Index(last + 1)], A.type);
    return CommitOne(s, a, body,
                     {{a, 1, after}, {a, p, last}, {a, after + 1, p - 1}, {a, last + 1, A.size()}});
  }
  // Forwards: start .. p - 1, last + 1 .. after, the moved points, the rest.
  TimeSegment body = in.Join(A.prefix[Index(p - 1)], s.Range(a, last + 1, after, A.type), A.type);
  body = in.Join(body, s.Range(a, p, last, A.type), A.type);
  body = in.Join(body, A.suffix[Index(after + 1)], A.type);
  return CommitOne(s, a, body,
                   {{a, 1, p - 1}, {a, last + 1, after}, {a, p, last}, {a, after + 1, A.size()}});
}

bool LocalSearch::Swap(Solution& s, std::int32_t u, std::int32_t length_u, std::int32_t v,
                       std::int32_t length_v) {
  const RoutingInstance& in = *instance_;
  const auto [a, b, p, q] = Locate(s, u, v);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  const std::int32_t pe = p + length_u - 1;
  const std::int32_t qe = q + length_v - 1;
  if (pe > A.size() || qe > B.size()) {
    return false;
  }
  if (a != b) {
    if (!ServesRange(s, B.type, a, p, pe) || !ServesRange(s, A.type, b, q, qe)) {
      return false;
    }
    return CommitTwo(s, a,
                     in.Join(in.Join(A.prefix[Index(p - 1)], s.Range(b, q, qe, A.type), A.type),
                             A.suffix[Index(pe + 1)], A.type),
                     {{a, 1, p - 1}, {b, q, qe}, {a, pe + 1, A.size()}}, b,
                     in.Join(in.Join(B.prefix[Index(q - 1)], s.Range(a, p, pe, B.type), B.type),
                             B.suffix[Index(qe + 1)], B.type),
                     {{b, 1, q - 1}, {a, p, pe}, {b, qe + 1, B.size()}});
  }
  // One route: x..xe comes before y..ye, with the points between them kept in place.
  const bool u_first = p < q;
  const std::int32_t x = u_first ? p : q;
  const std::int32_t xe = u_first ? pe : qe;
  const std::int32_t y = u_first ? q : p;
  const std::int32_t ye = u_first ? qe : pe;
  if (xe >= y) {
    return false;
  }
  TimeSegment body = in.Join(A.prefix[Index(x - 1)], s.Range(a, y, ye, A.type), A.type);
  if (xe + 1 <= y - 1) {
    body = in.Join(body, s.Range(a, xe + 1, y - 1, A.type), A.type);
  }
  body = in.Join(body, s.Range(a, x, xe, A.type), A.type);
  body = in.Join(body, A.suffix[Index(ye + 1)], A.type);
  return CommitOne(
      s, a, body,
      {{a, 1, x - 1}, {a, y, ye}, {a, xe + 1, y - 1}, {a, x, xe}, {a, ye + 1, A.size()}});
}

bool LocalSearch::TwoOpt(Solution& s, std::int32_t u, std::int32_t v) {
  const RoutingInstance& in = *instance_;
  const auto [a, b, p, q] = Locate(s, u, v);
  if (q <= p + 1) {
    return false;
  }
  const PlannedRoute& A = s.route(a);
  // u then v: the stretch p + 1 .. q is reversed.
  const TimeSegment body =
      in.Join(in.Join(A.prefix[Index(p)], s.ReversedRange(a, p + 1, q, A.type), A.type),
              A.suffix[Index(q + 1)], A.type);
  return CommitOne(s, a, body, {{a, 1, p}, {a, p + 1, q, true}, {a, q + 1, A.size()}});
}

bool LocalSearch::TwoOptStar(Solution& s, std::int32_t u, std::int32_t v) {
  const RoutingInstance& in = *instance_;
  const auto [a, b, p, q] = Locate(s, u, v);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  // u then v: A keeps its head up to u and takes B's tail from v; B takes A's tail after u.
  return CommitTwo(s, a, in.Join(A.prefix[Index(p)], B.suffix[Index(q)], A.type),
                   {{a, 1, p}, {b, q, B.size()}}, b,
                   in.Join(B.prefix[Index(q - 1)], A.suffix[Index(p + 1)], B.type),
                   {{b, 1, q - 1}, {a, p + 1, A.size()}});
}

bool LocalSearch::TryEmptyRoutes(Solution& s, std::int32_t u, std::int64_t since) {
  const RoutingInstance& in = *instance_;
  const std::int32_t a = s.RouteOf(u);
  const std::int32_t p = s.PositionOf(u);
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& R = s.route(r);
    if (r == a || !R.empty() || !in.Serves(R.type, u) ||
        std::max(s.route(a).stamp, R.stamp) <= since) {
      continue;
    }
    const PlannedRoute& A = s.route(a);
    if (CommitTwo(s, a, in.Join(A.prefix[Index(p - 1)], A.suffix[Index(p + 1)], A.type),
                  {{a, 1, p - 1}, {a, p + 1, A.size()}}, r,
                  in.Join(R.prefix[0], in.Single(u), R.type), {{a, p, p}})) {
      return true;
    }
  }
  return false;
}

}  // namespace plenro
