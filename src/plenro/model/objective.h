#pragma once

#include <string>

#include "plenro/model/types.h"

namespace plenro {

// How a set of route costs scores under each objective, and what counts as an improvement.
// This is the one place that decides it: the loader reads objective names through
// ObjectiveFromName, the solver picks its objective plug-in by ScoresLongestRoute, and every
// history, report and comparison scores routes through RouteTotals and ObjectiveValue. The
// Python side (orvik.rules) states the same rules; a test holds the two together.

// "min_max" and "MIN_MAX" name MinMax; every other name (and no name) means MinSum.
ObjectiveType ObjectiveFromName(const std::string& name);
// The name an instance document uses for the objective: "min_max" or "min_sum".
const char* ObjectiveName(ObjectiveType objective);

// The longest route (from 0.0, so 0.0 without routes) and the sum of all routes, added in the
// order given.
struct RouteTotals {
  double max = 0.0;
  double sum = 0.0;

  void Add(double cost) {
    if (cost > max) {
      max = cost;
    }
    sum += cost;
  }
};

template <class Costs>
RouteTotals TotalsOf(const Costs& costs) {
  RouteTotals totals;
  for (const double cost : costs) {
    totals.Add(cost);
  }
  return totals;
}

// Whether the objective scores the longest route (MinMax) rather than the sum (MinSum). Only
// MinSum scores the sum: a value outside the enumeration scores the longest route, as the
// solver's choice of objective plug-in has always read it.
inline bool ScoresLongestRoute(ObjectiveType objective) {
  return objective != MinSum;
}

// MinMax scores the longest route, MinSum the sum.
inline double ObjectiveValue(ObjectiveType objective, const RouteTotals& totals) {
  return ScoresLongestRoute(objective) ? totals.max : totals.sum;
}

// Values closer than this are equal.
inline constexpr double kImprovementTolerance = 1e-9;

// Whether `candidate` improves on `best` by more than the tolerance (lower is better).
inline bool Improves(double candidate, double best) {
  return best - kImprovementTolerance > candidate;
}

// The whole-solution order an improving search climbs: the objective's value first, then the
// other figure to break ties (under MinMax the sum, so that shortening any route counts even
// when the longest stays; under MinSum the longest).
struct ObjectiveKey {
  double primary = 0.0;
  double secondary = 0.0;
};

inline ObjectiveKey KeyOf(ObjectiveType objective, const RouteTotals& totals) {
  return ScoresLongestRoute(objective) ? ObjectiveKey{totals.max, totals.sum}
                                       : ObjectiveKey{totals.sum, totals.max};
}

// Strictly better under the key order, each figure compared with the tolerance.
inline bool Better(const ObjectiveKey& candidate, const ObjectiveKey& best) {
  if (Improves(candidate.primary, best.primary)) {
    return true;
  }
  if (Improves(best.primary, candidate.primary)) {
    return false;
  }
  return Improves(candidate.secondary, best.secondary);
}

}  // namespace plenro
