#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/solution.h"

namespace plenro {

// Granular descent over the whole-solution key (model/objective.h) of the penalised route
// values. For every point u and each of its candidates v (a neighbour for the type of v's
// route), the moves below are scored from the routes' cached summaries and the first that
// improves the key is applied:
//   - relocate the 1 to 3 consecutive points starting at u after v, or u before v;
//   - swap 1 or 2 consecutive points at u with 1 or 2 at v;
//   - on one route, reverse the stretch after u up to v (2-opt; costs may be asymmetric);
//   - on two routes of the same type, exchange their tails after u and from v (2-opt*);
//   - move u into an empty route.
// A pair is tried again only when one of its routes changed since u's moves were last all
// tried (the stamps of the solution), so a descent after a small change costs little.
class LocalSearch {
 public:
  LocalSearch(const RoutingInstance& instance, const CandidateLists& candidates);

  // Descends until no move improves, or until `stop` (polled for every point) returns true.
  // Returns whether the solution changed.
  bool Run(Solution& s, RandomSource& random, const std::function<bool()>& stop);

  // Moves scored since construction.
  std::int64_t moves_evaluated() const { return evaluated_; }

 private:
  bool TryPair(Solution& s, std::int32_t u, std::int32_t v);
  bool TryEmptyRoutes(Solution& s, std::int32_t u, std::int64_t since);

  bool RelocateAfter(Solution& s, std::int32_t u, std::int32_t length, std::int32_t b,
                     std::int32_t after);
  bool Swap(Solution& s, std::int32_t u, std::int32_t length_u, std::int32_t v,
            std::int32_t length_v);
  bool TwoOpt(Solution& s, std::int32_t u, std::int32_t v);
  bool TwoOptStar(Solution& s, std::int32_t u, std::int32_t v);

  // A stretch of a route's visits (1-based, inclusive; empty when from > to), maybe reversed:
  // the new visits of a changed route are a list of these.
  struct Piece {
    std::int32_t route;
    std::int32_t from;
    std::int32_t to;
    bool reversed = false;
  };
  using Pieces = std::initializer_list<Piece>;

  // Route a takes the body `body`, whose visits are `pieces`: applied if that improves the
  // solution's key.
  bool CommitOne(Solution& s, std::int32_t a, const TimeSegment& body, Pieces pieces);
  // The same for two routes at once.
  bool CommitTwo(Solution& s, std::int32_t a, const TimeSegment& body_a, Pieces pieces_a,
                 std::int32_t b, const TimeSegment& body_b, Pieces pieces_b);
  // Whether giving routes r1 and r2 (r2 may be -1) these costs improves the solution's key.
  bool Improves(const Solution& s, std::int32_t r1, const RouteCost& c1, std::int32_t r2,
                const RouteCost& c2);
  // Whether route r's type may serve the visits from..to of route `src`.
  bool ServesRange(const Solution& s, std::int32_t type, std::int32_t src, std::int32_t from,
                   std::int32_t to) const;
  static void Gather(const Solution& s, Pieces pieces, std::vector<std::int32_t>& out);

  const RoutingInstance* instance_;
  const CandidateLists* candidates_;
  std::vector<std::int32_t> order_;
  std::vector<std::int32_t> types_of_;  // scratch: types that may serve u
  std::vector<std::int32_t> first_;     // scratch: new visits of the routes a move changes
  std::vector<std::int32_t> second_;
  std::int64_t evaluated_ = 0;
};

}  // namespace plenro
