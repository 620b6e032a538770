#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/insertion.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/route_moves.h"
#include "plenro/improve/solution.h"
#include "plenro/improve/swap_star.h"

namespace plenro {

// Granular descent over the whole-solution key (model/objective.h) of the penalised route
// values. For every point u and each of its candidates v (a neighbour for the type of v's
// route), the moves below are scored from the routes' cached summaries and the first that
// improves the key is applied:
//   - relocate the 1 to 3 consecutive points starting at u after v, or u before v;
//   - swap 1 or 2 consecutive points at u with 1 or 2 at v;
//   - on one route, reverse the stretch after u up to v (2-opt; costs may be asymmetric);
//   - on two routes of the same type, exchange their tails after u and from v (2-opt*);
//   - move u into an empty route;
//   - where it applies (SwapStar::Applies), once no move of a queued point improves: SWAP*
//     between each route a move or the points it started from changed and the routes near it
//     (those holding the first candidates of its points), and on with the queue after one
//     applies;
//   - where points are tied to a partner on their route (a shipment, a pair of one route):
//     move u and its partner together to their best places on v's route (pair relocate), or
//     exchange them with v and its partner (pair exchange).
// Where orders tie points (RoutingInstance::linked), a move applies only if the routes it makes
// keep every order among the points on them (OrdersHold).
// The descent tries the moves of a queue of points: the points it starts from, their neighbours
// on their routes, and the points each applied move touches ("don't look bits", Bentley), so a
// descent after a small change of a large solution costs in proportion to the change.
class LocalSearch {
 public:
  LocalSearch(const RoutingInstance& instance, const CandidateLists& candidates);

  // Descends from the points in `seeds` (all points for a full descent) until no move of a
  // queued point improves, until `stop` (polled for every point) returns true, or after a
  // bounded number of applied moves (20 per point to serve). Returns whether the solution
  // changed.
  bool Run(Solution& s, const std::vector<std::int32_t>& seeds, RandomSource& random,
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
  bool TryEmptyRoutes(Solution& s, std::int32_t u);
  // The pair moves of u (with its partner) toward v's route.
  bool TryPairMoves(Solution& s, std::int32_t u, std::int32_t v);
  // Applies new visits to routes a and b (b may be -1) when the key improves and the orders
  // hold; the visits are in first_ and second_.
  bool CommitVisits(Solution& s, std::int32_t a, const RouteCost& ca, std::int32_t b,
                    const RouteCost& cb);
  // Whether the new visits in first_ (route a) and second_ (route b, unless -1) keep the
  // orders that name their points.
  bool OrdersHold(const Solution& s, std::int32_t a, std::int32_t b);
  // Applies the proposal if it improves the solution's key; `proposed` tells whether a move
  // applied at all.
  bool Commit(Solution& s, bool proposed);
  // Notes that route r changed since the last SWAP* sweep.
  void Touch(std::int32_t r);
  // SWAP* between every route changed since the last sweep and the routes near it; queues the
  // points of the exchanges it applies. Returns whether it applied any.
  bool SwapStarSweep(Solution& s);

  const RoutingInstance* instance_;
  const CandidateLists* candidates_;
  Inserter pairs_;  // the places of a pair on a route
  std::vector<std::int32_t> queue_;
  std::vector<char> queued_;
  MoveProposal proposal_;
  std::vector<std::int32_t> first_;  // scratch: new visits of the routes a move changes
  std::vector<std::int32_t> second_;
  SwapStar swap_star_;
  bool use_swap_star_ = false;
  std::vector<char> touched_;  // per route: changed since the last sweep
  std::vector<std::int32_t> touched_routes_;
  std::vector<std::int32_t> sweep_;        // scratch of SwapStarSweep: the routes it sweeps
  std::vector<std::int32_t> near_routes_;  // scratch of SwapStarSweep
  std::vector<char> near_mark_;            // per route
  std::vector<std::int32_t> where_route_;  // scratch of OrdersHold, per vertex; -1 when unset
  std::vector<std::int32_t> where_position_;
  std::int64_t evaluated_ = 0;
  std::int64_t applied_ = 0;  // moves applied in the current descent
  std::int64_t max_moves_;
};

}  // namespace plenro
