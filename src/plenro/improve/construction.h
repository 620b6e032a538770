#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/insertion.h"
#include "plenro/improve/solution.h"

namespace plenro {

// Builds routes for every agent by regret insertion: each step takes the unplaced point whose
// best place beats its next-best places (on other routes) by the most, and puts it there. A
// point that fits one route only is placed early, before the others use up that route's slack.
// After a placement, the best places on the changed route are looked up again for every point;
// on large instances without windows and route limits only for the points whose best route it
// was and those that have the placed point among their candidates (the rest keep an older
// value, and a point is placed where its route is when it is chosen).
// Every constraint is honoured where the evaluator's penalties can keep it; what is left is
// for the local search to repair. Orders are kept outright: a point tied to points on routes
// goes only where it keeps its orders with them (Inserter::KeepsOrders), and one that fits
// nowhere stays unplaced. A point and its partner (a shipment, a pair of one route) that are
// both unplaced are placed as one unit, both at their best places on one route (so that a
// shipment is priced with its load on board only between its two points).
class RegretConstruction {
 public:
  RegretConstruction(const RoutingInstance& instance, const CandidateLists& candidates,
                     Inserter& inserter, std::int32_t regret_routes = 3);

  // Places every unplaced point of `s`. Returns false when `stop` (polled every step) asked to
  // stop first.
  bool Run(Solution& s, const std::function<bool()>& stop);

  // Checks up front that every agent can end its route (its type may serve its end point, or,
  // for open routes, its start point) and that every point can be served at all: some agent's
  // type may serve it and that type has a connection into and out of it. Returns why the first
  // agent cannot finish or the first point cannot be served (naming it), or an empty text.
  // Then, where loads and orders apply: that some agent that may serve a point (with its
  // partner) can carry its load, that no two points must share a route and must not, and that
  // the orders form no cycle.
  static std::string Unservable(const RoutingInstance& instance);
  static std::string UnorderableOrOverloaded(const RoutingInstance& instance);

 private:
  // Value of placing a point on route r at the cached best place (lower is better).
  double Value(const Solution& s, const Placement& place) const;
  // Whether an order names both p and v.
  bool TiedTo(std::int32_t p, std::int32_t v) const;
  // Sets the mark of every point that has v among its candidates.
  void MarkReverse(std::int32_t v, char mark);

  const RoutingInstance* instance_;
  Inserter* inserter_;
  std::int32_t regret_routes_;
  // Where a pending pair unit goes on a route: both places (see Inserter::BestPair); on a long
  // route, the first at its best place alone and the second at its best place behind it.
  Placement PairInRoute(const Solution& s, std::size_t i, std::int32_t r,
                        std::int32_t& second_after) const;
  // The cached best place of pending unit i on route r, recomputed.
  void Refresh(const Solution& s, std::size_t i, std::int32_t r, bool all_places);

  std::vector<Placement> table_;  // per (unplaced point index, route)
  // Per table entry of a pair unit: the second point's place (as BestPair gives it).
  std::vector<std::int32_t> second_after_;
  std::vector<std::int32_t> pending_;
  // Per pending unit: the partner placed with it (after it), or -1 for a point placed alone.
  std::vector<std::int32_t> second_;
  std::vector<std::int32_t> best_route_;    // per unplaced point index, as last seen
  std::vector<std::size_t> reverse_begin_;  // per vertex, into reverse_
  std::vector<std::int32_t> reverse_;
  std::vector<char> touched_;
};

}  // namespace plenro
