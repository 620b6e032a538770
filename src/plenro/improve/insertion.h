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
  // The best place for v over all routes.
  Placement Best(const Solution& s, std::int32_t v, RandomSource* random, double blink);

  // Places evaluated since construction.
  std::int64_t evaluated() const { return evaluated_; }

 private:
  RouteCost CostAt(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after) const;
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
