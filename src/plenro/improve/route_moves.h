#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "plenro/improve/route_summary.h"
#include "plenro/improve/solution.h"

namespace plenro {

// A stretch of a route's visits (1-based positions, inclusive; empty when from > to), maybe
// reversed. The new visits of a route a move changes are a list of these.
struct RoutePiece {
  std::int32_t route = 0;
  std::int32_t from = 0;
  std::int32_t to = -1;
  bool reversed = false;
};

// What a move would make of the one or two routes it changes: for each, its new body (start
// point and visits, priced from the cached summaries without building it) and its new visits
// as pieces of the current routes. Fixed-size, so that proposing allocates nothing.
struct MoveProposal {
  static constexpr std::int32_t kMaxPieces = 5;

  std::int32_t count = 0;  // routes changed: 1 or 2
  std::array<std::int32_t, 2> route{};
  std::array<RouteSummary, 2> body{};
  std::array<std::array<RoutePiece, kMaxPieces>, 2> pieces{};
  std::array<std::int32_t, 2> num_pieces{};

  // Route r, in `slot` (0 or 1), gets `new_body` made of `new_pieces`. Inline: every scored
  // move makes one or two of these.
  void Change(std::int32_t slot, std::int32_t r, const RouteSummary& new_body,
              std::initializer_list<RoutePiece> new_pieces) {
    const auto k = static_cast<std::size_t>(slot);
    route[k] = r;
    body[k] = new_body;
    std::copy(new_pieces.begin(), new_pieces.end(), pieces[k].begin());
    num_pieces[k] = static_cast<std::int32_t>(new_pieces.size());
    count = slot + 1;
  }
  // The new visits of the route in `slot`, read from `s` (which must not have changed since).
  void Gather(const Solution& s, std::int32_t slot, std::vector<std::int32_t>& out) const;
};

// The local search's moves, each scored in O(1) from the routes' cached prefix and suffix
// summaries plus O(length) for the stretches it moves or reverses. Each returns false when the
// move does not apply (positions out of range, a point the receiving type may not serve, a
// no-op); otherwise it fills the proposal. u and v are points on routes.
class RouteMoves {
 public:
  // The `length` points from u (1 to 3) moved to after position `after` of route b.
  static bool Relocate(const Solution& s, std::int32_t u, std::int32_t length, std::int32_t b,
                       std::int32_t after, MoveProposal& out);
  // The `length_u` points from u exchanged with the `length_v` points from v.
  static bool Swap(const Solution& s, std::int32_t u, std::int32_t length_u, std::int32_t v,
                   std::int32_t length_v, MoveProposal& out);
  // u and v on one route, u first: the stretch after u up to v reversed, so v follows u.
  static bool TwoOpt(const Solution& s, std::int32_t u, std::int32_t v, MoveProposal& out);
  // u and v on two routes of one type: u's route keeps its head up to u and takes v's route's
  // tail from v; v's route takes the tail after u.
  static bool TwoOptStar(const Solution& s, std::int32_t u, std::int32_t v, MoveProposal& out);
  // u moved into the empty route r.
  static bool IntoEmpty(const Solution& s, std::int32_t u, std::int32_t r, MoveProposal& out);

 private:
  // Whether type `type` may serve the visits from..to of route `r`.
  static bool Serves(const Solution& s, std::int32_t type, std::int32_t r, std::int32_t from,
                     std::int32_t to);
};

}  // namespace plenro
