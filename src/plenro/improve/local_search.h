#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/route_moves.h"
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
  // The same, but trying only the moves of the points in `seeds`, their neighbours on their
  // routes, and the points each applied move touches (the "don't look bits" of Bentley): the
  // descent after a small change of a large solution then costs in proportion to the change.
  bool RunFrom(Solution& s, const std::vector<std::int32_t>& seeds, RandomSource& random,
               const std::function<bool()>& stop);

  // Moves scored since construction.
  std::int64_t moves_evaluated() const { return evaluated_; }

 private:
  // Calls visit(v, route of v) for every candidate v of u on a route of the type that makes
  // it u's candidate.
  template <class Visit>
  void ForEachCandidate(const Solution& s, std::int32_t u, Visit visit) const {
    for (std::int32_t t = 0; t < instance_->num_types(); ++t) {
      if (!instance_->Serves(t, u)) {
        continue;
      }
      for (const std::int32_t v : candidates_->Near(t, u)) {
        const std::int32_t b = s.RouteOf(v);
        if (b >= 0 && s.route(b).type == t) {
          visit(v, b);
        }
      }
    }
  }
  bool TryPair(Solution& s, std::int32_t u, std::int32_t v);
  // Queues v and the points next to it on its route, unless queued already.
  void Activate(const Solution& s, std::int32_t v);
  bool TryEmptyRoutes(Solution& s, std::int32_t u, std::int64_t since);
  // Applies the proposal if it improves the solution's key; `proposed` tells whether a move
  // applied at all.
  bool Commit(Solution& s, bool proposed);

  const RoutingInstance* instance_;
  const CandidateLists* candidates_;
  std::vector<std::int32_t> order_;
  std::vector<std::int32_t> queue_;
  std::vector<char> queued_;
  MoveProposal proposal_;
  std::vector<std::int32_t> first_;  // scratch: new visits of the routes a move changes
  std::vector<std::int32_t> second_;
  std::int64_t evaluated_ = 0;
};

}  // namespace plenro
