#include "plenro/improve/route_moves.h"

namespace plenro {

namespace {

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

void MoveProposal::Gather(const Solution& s, std::int32_t slot,
                          std::vector<std::int32_t>& out) const {
  const auto k = static_cast<std::size_t>(slot);
  out.clear();
  for (std::int32_t i = 0; i < num_pieces[k]; ++i) {
    const RoutePiece& piece = pieces[k][static_cast<std::size_t>(i)];
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

bool RouteMoves::Serves(const Solution& s, std::int32_t type, std::int32_t r, std::int32_t from,
                        std::int32_t to) {
  const PlannedRoute& route = s.route(r);
  for (std::int32_t p = from; p <= to; ++p) {
    if (!s.instance().Serves(type, route.At(p))) {
      return false;
    }
  }
  return true;
}

bool RouteMoves::Relocate(const Solution& s, std::int32_t u, std::int32_t length, std::int32_t b,
                          std::int32_t after, MoveProposal& out) {
  const RoutingInstance& in = s.instance();
  const std::int32_t a = s.RouteOf(u);
  const std::int32_t p = s.PositionOf(u);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  const std::int32_t last = p + length - 1;
  if (last > A.size() || after < 0 || after > B.size()) {
    return false;
  }
  if (a != b) {
    if (!Serves(s, B.type, a, p, last)) {
      return false;
    }
    const RouteSummary moved = s.Range(a, p, last, B.agent);
    out.Change(0, a, in.Join(A.prefix[Index(p - 1)], A.suffix[Index(last + 1)], A.agent),
               {{a, 1, p - 1}, {a, last + 1, A.size()}});
    out.Change(1, b,
               in.Join(in.Join(B.prefix[Index(after)], moved, B.agent), B.suffix[Index(after + 1)],
                       B.agent),
               {{b, 1, after}, {a, p, last}, {b, after + 1, B.size()}});
    return true;
  }
  if (after >= p - 1 && after <= last) {
    return false;
  }
  if (after < p - 1) {
    // Backwards: start .. after, the moved points, after + 1 .. p - 1, the rest.
    RouteSummary body = in.Join(A.prefix[Index(after)], s.Range(a, p, last, A.agent), A.agent);
    body = in.Join(body, s.Range(a, after + 1, p - 1, A.agent), A.agent);
    body = in.Join(body, A.suffix[Index(last + 1)], A.agent);
    out.Change(0, a, body,
               {{a, 1, after}, {a, p, last}, {a, after + 1, p - 1}, {a, last + 1, A.size()}});
    return true;
  }
  // Forwards: start .. p - 1, last + 1 .. after, the moved points, the rest.
  RouteSummary body =
      in.Join(A.prefix[Index(p - 1)], s.Range(a, last + 1, after, A.agent), A.agent);
  body = in.Join(body, s.Range(a, p, last, A.agent), A.agent);
  body = in.Join(body, A.suffix[Index(after + 1)], A.agent);
  out.Change(0, a, body,
             {{a, 1, p - 1}, {a, last + 1, after}, {a, p, last}, {a, after + 1, A.size()}});
  return true;
}

bool RouteMoves::Swap(const Solution& s, std::int32_t u, std::int32_t length_u, std::int32_t v,
                      std::int32_t length_v, MoveProposal& out) {
  const RoutingInstance& in = s.instance();
  const auto [a, b, p, q] = Locate(s, u, v);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  const std::int32_t pe = p + length_u - 1;
  const std::int32_t qe = q + length_v - 1;
  if (pe > A.size() || qe > B.size()) {
    return false;
  }
  if (a != b) {
    if (!Serves(s, B.type, a, p, pe) || !Serves(s, A.type, b, q, qe)) {
      return false;
    }
    out.Change(0, a,
               in.Join(in.Join(A.prefix[Index(p - 1)], s.Range(b, q, qe, A.agent), A.agent),
                       A.suffix[Index(pe + 1)], A.agent),
               {{a, 1, p - 1}, {b, q, qe}, {a, pe + 1, A.size()}});
    out.Change(1, b,
               in.Join(in.Join(B.prefix[Index(q - 1)], s.Range(a, p, pe, B.agent), B.agent),
                       B.suffix[Index(qe + 1)], B.agent),
               {{b, 1, q - 1}, {a, p, pe}, {b, qe + 1, B.size()}});
    return true;
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
  RouteSummary body = in.Join(A.prefix[Index(x - 1)], s.Range(a, y, ye, A.agent), A.agent);
  if (xe + 1 <= y - 1) {
    body = in.Join(body, s.Range(a, xe + 1, y - 1, A.agent), A.agent);
  }
  body = in.Join(body, s.Range(a, x, xe, A.agent), A.agent);
  body = in.Join(body, A.suffix[Index(ye + 1)], A.agent);
  out.Change(0, a, body,
             {{a, 1, x - 1}, {a, y, ye}, {a, xe + 1, y - 1}, {a, x, xe}, {a, ye + 1, A.size()}});
  return true;
}

bool RouteMoves::TwoOpt(const Solution& s, std::int32_t u, std::int32_t v, MoveProposal& out) {
  const RoutingInstance& in = s.instance();
  const auto [a, b, p, q] = Locate(s, u, v);
  if (a != b || q <= p + 1) {
    return false;
  }
  const PlannedRoute& A = s.route(a);
  out.Change(0, a,
             in.Join(in.Join(A.prefix[Index(p)], s.ReversedRange(a, p + 1, q, A.agent), A.agent),
                     A.suffix[Index(q + 1)], A.agent),
             {{a, 1, p}, {a, p + 1, q, true}, {a, q + 1, A.size()}});
  return true;
}

bool RouteMoves::TwoOptStar(const Solution& s, std::int32_t u, std::int32_t v, MoveProposal& out) {
  const RoutingInstance& in = s.instance();
  const auto [a, b, p, q] = Locate(s, u, v);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  if (a == b || A.type != B.type) {
    return false;
  }
  out.Change(0, a, in.Join(A.prefix[Index(p)], B.suffix[Index(q)], A.agent),
             {{a, 1, p}, {b, q, B.size()}});
  out.Change(1, b, in.Join(B.prefix[Index(q - 1)], A.suffix[Index(p + 1)], B.agent),
             {{b, 1, q - 1}, {a, p + 1, A.size()}});
  return true;
}

bool RouteMoves::IntoEmpty(const Solution& s, std::int32_t u, std::int32_t r, MoveProposal& out) {
  const RoutingInstance& in = s.instance();
  const std::int32_t a = s.RouteOf(u);
  const std::int32_t p = s.PositionOf(u);
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& R = s.route(r);
  if (r == a || !R.empty() || !in.Serves(R.type, u)) {
    return false;
  }
  out.Change(0, a, in.Join(A.prefix[Index(p - 1)], A.suffix[Index(p + 1)], A.agent),
             {{a, 1, p - 1}, {a, p + 1, A.size()}});
  out.Change(1, r, in.Join(R.prefix[0], in.Single(u), R.agent), {{a, p, p}});
  return true;
}

}  // namespace plenro
