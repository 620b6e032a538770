#pragma once

#include <cstdint>
#include <vector>

#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/route_summary.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/model/objective.h"

namespace plenro {

// One agent's route: the points it visits between its fixed endpoints, with cached route
// summaries of every prefix and suffix.
//
// Positions: 0 is the start point, 1..size() the visits, size() + 1 the end point.
// prefix[p] covers positions 0..p (p = 0..size()); suffix[p] covers the visits p..size()
// (p = 1..size() + 1, suffix[size() + 1] empty; suffix[0] is unused).
struct PlannedRoute {
  std::int32_t agent = 0;
  std::int32_t type = 0;
  std::vector<std::int32_t> visits;
  std::vector<RouteSummary> prefix;
  std::vector<RouteSummary> suffix;
  // blocks[i] covers the visits i * kBlock + 1 .. (i + 1) * kBlock (the last one may be short),
  // so that a long stretch of a route is timed in O(kBlock + length / kBlock).
  static constexpr std::int32_t kBlock = 16;
  std::vector<RouteSummary> blocks;
  RouteCost cost;

  std::int32_t size() const { return static_cast<std::int32_t>(visits.size()); }
  bool empty() const { return visits.empty(); }
  // The point at position p (start, visit or end).
  std::int32_t At(std::int32_t p) const { return visits[static_cast<std::size_t>(p - 1)]; }
};

// A solution: one route per agent, the route and position of every point to serve (or none
// while it is removed), and the totals of the penalised route values. Copying a solution copies
// everything; buffers keep their capacity, so copies into an existing solution do not allocate
// once it has grown.
class Solution {
 public:
  Solution(const RoutingInstance& instance, const CostEvaluator& evaluator);

  std::int32_t num_routes() const { return static_cast<std::int32_t>(routes_.size()); }
  const PlannedRoute& route(std::int32_t r) const { return routes_[static_cast<std::size_t>(r)]; }
  // Route and position of a point to serve; -1 while it is not on a route.
  std::int32_t RouteOf(std::int32_t v) const { return route_of_[static_cast<std::size_t>(v)]; }
  std::int32_t PositionOf(std::int32_t v) const {
    return position_of_[static_cast<std::size_t>(v)];
  }
  std::int32_t num_unassigned() const { return num_unassigned_; }

  // Replaces the visits of route r and updates its caches, costs, positions and the totals.
  // Points that leave the route and are on no other become unassigned.
  void SetVisits(std::int32_t r, const std::vector<std::int32_t>& visits);
  // Takes the points off their routes.
  void Remove(const std::vector<std::int32_t>& points);
  // Inserts point v into route r after position `after` (0 = right after the start).
  void Insert(std::int32_t v, std::int32_t r, std::int32_t after);
  // Re-closes every route, after the evaluator's weights changed.
  void Refresh();

  // Route summaries of the visits from..to (1-based, inclusive, from <= to) as agent `agent`
  // would drive them, forward or reversed. O(to - from); forward for an agent of the route's
  // type O(kBlock + (to - from) / kBlock).
  RouteSummary Range(std::int32_t r, std::int32_t from, std::int32_t to, std::int32_t agent) const;
  RouteSummary ReversedRange(std::int32_t r, std::int32_t from, std::int32_t to,
                             std::int32_t agent) const;

  // Totals of the route costs (without penalties).
  RouteTotals CostTotals() const;
  // The solution's key: the objective's key of the penalised route values.
  ObjectiveKey Key() const { return evaluator_->Key(totals_); }
  // How the key changes when route r1 (and r2, unless -1 or r1) takes the given cost: the
  // difference to the current key (negative: better), computed from the changed routes alone,
  // so that no rounding of the large totals makes a change that alters nothing look like an
  // improvement. Better(KeyChange(...), ObjectiveKey{}) tells whether the change improves the
  // solution.
  ObjectiveKey KeyChange(std::int32_t r1, const RouteCost& c1) const {
    return KeyChange(r1, c1, -1, c1);
  }
  ObjectiveKey KeyChange(std::int32_t r1, const RouteCost& c1, std::int32_t r2,
                         const RouteCost& c2) const;
  // Every point served and every route free of violations.
  bool Feasible() const;

  const CostEvaluator& evaluator() const { return *evaluator_; }
  const RoutingInstance& instance() const { return *instance_; }

 private:
  // Relative rounding noise of a route value (see KeyChange).
  static constexpr double kRoundingNoise = 1e-11;

  void Rebuild(PlannedRoute& route);
  void RecomputeTotals();

  const RoutingInstance* instance_;
  const CostEvaluator* evaluator_;
  std::vector<PlannedRoute> routes_;
  std::vector<std::int32_t> route_of_;
  std::vector<std::int32_t> position_of_;
  std::int32_t num_unassigned_ = 0;
  RouteTotals totals_;  // of the penalised route values
  // The three largest penalised route values and their routes, for KeyChange.
  double top_value_[3] = {0.0, 0.0, 0.0};
  std::int32_t top_route_[3] = {-1, -1, -1};
};

}  // namespace plenro
