#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "plenro/improve/route_summary.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/model/objective.h"
#include "plenro/model/types.h"

namespace plenro {

// The kinds of violation the search tolerates for a while and prices, each at a weight of its
// own that the engine adapts: time warp (arriving after a window closes) and length over the
// agent's route limit, both from the time resource, and load over the agent's capacity (summed
// over the dimensions) from the load resource. A new resource adds its kinds here and
// computes them in CostEvaluator::Finish. A leg without a connection is no such violation: it
// has a fixed price (CostEvaluator::kBrokenPenalty) and is never tolerated in a result.
enum Violation : std::size_t { kTimeWarp, kOverLength, kOverCapacity, kViolationKinds };

// One penalty weight per kind of violation, indexed by Violation.
using PenaltyWeights = std::array<double, kViolationKinds>;

// The same weight for every kind.
constexpr PenaltyWeights UniformWeights(double weight) {
  PenaltyWeights weights{};
  weights.fill(weight);
  return weights;
}

// What one route costs: the time its agent reaches its last point (waiting included), the
// amount of each kind of violation, the legs without a connection, and their price at the
// current weights.
struct RouteCost {
  double cost = 0.0;
  std::array<double, kViolationKinds> violation{};
  std::int32_t broken = 0;
  // Open routes only: the route ends back at its start point instead of its end point.
  bool ends_at_start = false;
  double penalty = 0.0;

  double penalised() const { return cost + penalty; }

  // Violations below this are rounding, not violations; the route check has the last word.
  static constexpr double kTolerance = 1e-9;
  // Whether the route is free of violations of this kind.
  bool Meets(Violation kind) const { return violation[kind] <= kTolerance; }
  bool feasible() const {
    for (std::size_t k = 0; k < kViolationKinds; ++k) {
      if (!Meets(static_cast<Violation>(k))) {
        return false;
      }
    }
    return broken == 0;
  }
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
  RouteCost Close(std::int32_t agent, const RouteSummary& body) const;

  // Penalty per unit of each kind of violation.
  const PenaltyWeights& weights() const { return weights_; }
  void SetWeights(const PenaltyWeights& weights) { weights_ = weights; }

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
  RouteCost Finish(const PlannedAgent& agent, const RouteSummary& route, bool at_start) const;

  const RoutingInstance* instance_;
  ObjectiveType objective_;
  PenaltyWeights weights_ = UniformWeights(1.0);
  double tie_weight_ = 0.0;
};

}  // namespace plenro
