#pragma once

#include <cstdint>

#include "plenro/improve/routing_instance.h"
#include "plenro/improve/time_segment.h"
#include "plenro/model/objective.h"
#include "plenro/model/types.h"

namespace plenro {

// What one route costs: the time its agent reaches its last point (waiting included), the
// constraint violations the search tolerates for a while (time warp, length over the agent's
// limit, legs without a connection) and their price at the current weights.
struct RouteCost {
  double cost = 0.0;
  double time_warp = 0.0;
  double excess = 0.0;
  std::int32_t broken = 0;
  // Open routes only: the route ends back at its start point instead of its end point.
  bool ends_at_start = false;
  double penalty = 0.0;

  double penalised() const { return cost + penalty; }

  // Violations below this are rounding, not violations; the route check has the last word.
  static constexpr double kTolerance = 1e-9;
  bool feasible() const { return time_warp <= kTolerance && excess <= kTolerance && broken == 0; }
};

// The one place that turns a route into its cost and its penalty: it closes a route at its
// agent's end (or, for open routes, at whichever own endpoint serves better), applies the
// penalty weights, and scores sets of routes under the objective through model/objective.h.
// Operators ask it for values; none computes a cost of its own.
//
// A solution's key is the objective's key of its penalised route values (cost plus penalty):
// under MinMax the route that breaks its windows the most is the longest in this sense, and the
// search works on it first.
class CostEvaluator {
 public:
  CostEvaluator(const RoutingInstance& instance, ObjectiveType objective)
      : instance_(&instance), objective_(objective) {}

  // The objective whose key the search climbs. The engine may climb another than the instance's
  // for a while (see ImprovementEngine); what it returns is always judged by the instance's.
  ObjectiveType objective() const { return objective_; }
  void SetObjective(ObjectiveType objective) { objective_ = objective; }
  const RoutingInstance& instance() const { return *instance_; }

  // The route of `agent` whose body (its start point followed by its visits) is `body`.
  RouteCost Close(std::int32_t agent, const TimeSegment& body) const;

  // Penalty per unit of time warp and per unit of length over a limit.
  double warp_weight() const { return warp_weight_; }
  double excess_weight() const { return excess_weight_; }
  void SetWeights(double warp, double excess) {
    warp_weight_ = warp;
    excess_weight_ = excess;
  }

  // The key of (penalised) route values with these totals.
  ObjectiveKey Key(const RouteTotals& totals) const { return KeyOf(objective_, totals); }
  // One number for a key, where a search needs differences rather than an order (regret,
  // acceptance): the primary figure plus `tie_weight` times the secondary one.
  double Scalar(const ObjectiveKey& key) const { return key.primary + tie_weight_ * key.secondary; }
  double tie_weight() const { return tie_weight_; }
  void SetTieWeight(double weight) { tie_weight_ = weight; }

  // Added per leg without a connection, on top of the leg's own cost: such a leg is never part
  // of a returned route, so no saving elsewhere may pay for one.
  static constexpr double kBrokenPenalty = 1e7;

 private:
  RouteCost Finish(const PlannedAgent& agent, const TimeSegment& route, bool at_start) const;

  const RoutingInstance* instance_;
  ObjectiveType objective_;
  double warp_weight_ = 1.0;
  double excess_weight_ = 1.0;
  double tie_weight_ = 0.0;
};

}  // namespace plenro
