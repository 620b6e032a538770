#pragma once

#include <cstdint>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/solution.h"
#include "plenro/model/objective.h"

namespace plenro {

// A place for a point: after position `after` of route `route`, and what the route then costs.
struct Placement {
  std::int32_t route = -1;
  std::int32_t after = 0;
  RouteCost cost;
  ObjectiveKey key;  // the change of the solution's key (see Solution::KeyChange)

  bool found() const { return route >= 0; }
};

// Where a point fits best. Within one route the best place is the one whose penalised route
// value is lowest; across routes, the one whose solution key is best. Each place may be skipped
// with a small probability ("blinks", after Christiaens and Vanden Berghe), which varies the
// recreated solutions. On large instances only the places next to the point's candidates (and
// the empty routes, and for a point with a window the places where the route's arrival times
// meet it) are tried, unless none of them is on a route.
class Inserter {
 public:
  Inserter(const RoutingInstance& instance, const CandidateLists& candidates,
           std::int32_t granular_above);

  // The best place for v in route r; not found when r's type may not serve v. With a random
  // source, every place is skipped with probability `blink`. Without `all_places`, a long
  // route on a large instance offers only the places next to v's candidates.
  Placement BestInRoute(const Solution& s, std::int32_t v, std::int32_t r, RandomSource* random,
                        double blink, bool all_places = true) const;
  // The best place for v over all routes. A point whose partner (RoutingInstance::Partner) is
  // on a route goes into that route only, on its side of the partner.
  Placement Best(const Solution& s, std::int32_t v, RandomSource* random, double blink);
  // The best places for the unplaced points `first` and `second` on one route, `first` before
  // `second`; `after` of the result is first's place, `second_after` second's place in the
  // route as it is before either is inserted (second_after >= after). With `only_route` >= 0,
  // on that route alone, and the places are compared by the route's penalised value.
  // Neither point is on route r (both may be on another route, from which they move together:
  // the order between the two of them is the caller's).
  Placement BestPair(const Solution& s, std::int32_t first, std::int32_t second,
                     std::int32_t& second_after, RandomSource* random, double blink,
                     std::int32_t only_route = -1) const;
  // The same on route r alone, with one of the two at a given place: `first` after position
  // `at` and `second` at its best place behind it, or (`first_fixed` false) `second` after `at`
  // and `first` at its best place ahead of it. O(size of r). Compared by the route's penalised
  // value.
  Placement AnchoredPair(const Solution& s, std::int32_t first, std::int32_t second, std::int32_t r,
                         std::int32_t at, bool first_fixed, std::int32_t& second_after) const;
  // Whether v inserted after position `after` of route r keeps the orders that name v and a
  // point on a route: a point it must share a route with is on r on the right side, one it
  // must not share a route with is not on r, and one it precedes or follows on r is on the
  // right side. Orders with unplaced points hold, and so do those with `moving`, a point that
  // moves with v (-1: none).
  static bool KeepsOrders(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after,
                          std::int32_t moving = -1);

  // Places evaluated since construction.
  std::int64_t evaluated() const { return evaluated_; }

 private:
  RouteCost CostAt(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after) const;
  // Route r with `first` after position i and `second` after position j >= i (of the route as
  // it is), where `head` is the start, the visits up to j and `first` among them after i.
  RouteCost PairCost(const Solution& s, std::int32_t second, std::int32_t r, std::int32_t j,
                     const RouteSummary& head) const;
  void Consider(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after,
                Placement& best);
  // Where v's window falls on route r: the last position reached before it closes; -1 when v
  // has no window.
  std::int32_t TimeSlot(const Solution& s, std::int32_t v, std::int32_t r) const;
  // Routes up to this long are always scanned whole.
  static constexpr std::int32_t kScanWhole = 64;

  const RoutingInstance* instance_;
  const CandidateLists* candidates_;
  bool granular_ = false;
  mutable std::int64_t evaluated_ = 0;
};

}  // namespace plenro
