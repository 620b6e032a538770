#pragma once

#include <cstdint>
#include <vector>

#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/insertion.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/solution.h"

namespace plenro {

// Ruin and recreate: take a few points off their routes, then put them back one by one at
// their best place. The ruin removes strings of consecutive points from routes that lie near
// one another (slack induction by string removals, Christiaens and Vanden Berghe), or random
// points; the recreate inserts in one of several orders with blinks. A point that must share a
// route with a partner (a shipment, a pair of one route) leaves with it and returns with it.
class RuinRecreate {
 public:
  RuinRecreate(const RoutingInstance& instance, const CandidateLists& candidates,
               Inserter& inserter);

  // Removes strings from about `average` points' worth of routes near a seed point (`seed`, or
  // a random one when it is -1), each string at most `max_string` points long.
  void RuinStrings(Solution& s, RandomSource& random, double average, std::int32_t max_string,
                   std::int32_t seed = -1);
  // Removes `count` random points.
  void RuinRandom(Solution& s, RandomSource& random, std::int32_t count);
  // Inserts every removed point; each place is skipped with probability `blink`.
  void Recreate(Solution& s, RandomSource& random, double blink);

  const std::vector<std::int32_t>& removed() const { return removed_; }

  // Inserts the unplaced point v and its unplaced partner (RoutingInstance::Partner) together at
  // their best places on one route; false when no route may take both.
  bool InsertPair(Solution& s, std::int32_t v, std::int32_t partner, RandomSource* random,
                  double blink);

 private:
  void RemoveString(const Solution& s, RandomSource& random, std::int32_t r, std::int32_t v,
                    std::int32_t length);
  void SortForRecreate(RandomSource& random);
  // Adds to the removed points the partners of those removed, so that pairs go back together.
  void AddPartners(const Solution& s);

  const RoutingInstance* instance_;
  const CandidateLists* candidates_;
  Inserter* inserter_;
  std::vector<double> depot_distance_;  // per vertex: the cheapest leg from a start serving it
  std::vector<std::int32_t> removed_;
  std::vector<char> route_ruined_;
  std::vector<char> is_removed_;
};

}  // namespace plenro
