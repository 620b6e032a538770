#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/improve/solution.h"

namespace plenro {

// SWAP* (Vidal, "Hybrid genetic search for the CVRP: open-source implementation and SWAP*
// neighborhood", 2022): a point u of route a and a point v of route b change routes, each
// going to its best place in the other route rather than into the other's place. For every
// point and the other route, the three cheapest insertion places are found once; the best
// place of u in b without v is then one of those three not next to v, or v's own place, so that
// all pairs (u, v) of two routes are scored in O(|a| |b|). The scores are the legs' costs and
// the change of the load over capacity (by the routes' deliveries), which is what a route
// costs where no windows or route limits apply; the best pair is then priced exactly, from
// its new routes, and the caller applies it only when that improves the solution.
//
// Where it applies (Applies): MinSum with loads (capacitated routing, where it pays most),
// without windows or route limits (on timed instances a route's cost is no sum of legs) and
// without orders tying points together.
class SwapStar {
 public:
  explicit SwapStar(const RoutingInstance& instance);

  static bool Applies(const RoutingInstance& instance, ObjectiveType objective);

  // The best exchange between routes a and b as scored above; when it looks like an
  // improvement, the new visits of a and b go to `first` and `second`, their exact costs to
  // `ca` and `cb`, and it returns true.
  bool Best(const Solution& s, std::int32_t a, std::int32_t b, std::vector<std::int32_t>& first,
            std::vector<std::int32_t>& second, RouteCost& ca, RouteCost& cb);

  // The two points of the last exchange Best proposed.
  std::array<std::int32_t, 2> moved() const { return moved_; }

 private:
  // The three cheapest places (after which position) of a point in a route, cheapest first.
  struct Places {
    std::array<double, 3> cost;
    std::array<std::int32_t, 3> after;
    void Reset();
    void Offer(double c, std::int32_t p);
  };
  // For every visit of route `from`, its removal gain (gain_) and its three best places in
  // route `into` (places_), indexed by the visit's position - 1.
  void Prepare(const Solution& s, std::int32_t from, std::int32_t into, std::vector<double>& gain,
               std::vector<Places>& places) const;
  // The cheapest insertion of the point at position p of route `from` into route `into` with
  // the point at position q of `into` removed: its cost and the place (after which position of
  // `into`; -1: in the removed point's place).
  double InsertWithout(const Solution& s, std::int32_t from, std::int32_t p, std::int32_t into,
                       std::int32_t q, const Places& places, std::int32_t& after) const;
  // The over-capacity of route r (summed over dimensions, by deliveries) when the point `out`
  // leaves it and `in` joins it.
  double OverWith(const Solution& s, std::int32_t r, std::int32_t out, std::int32_t in) const;
  // The visits of route r with the point at position `p` replaced by `in` placed after
  // position `after` (-1: at p).
  void Rebuilt(const Solution& s, std::int32_t r, std::int32_t p, std::int32_t in,
               std::int32_t after, std::vector<std::int32_t>& out) const;
  RouteCost Price(const Solution& s, std::int32_t r, const std::vector<std::int32_t>& visits) const;

  const RoutingInstance* instance_;
  std::vector<double> gain_a_, gain_b_;
  std::vector<Places> places_a_, places_b_;  // a's points into b, b's points into a
  std::array<std::int32_t, 2> moved_{};
};

}  // namespace plenro
