#pragma once

#include <cstdint>
#include <vector>

namespace plenro {

// A solution as the solver reports it: per agent, by agent index, its route (start point,
// visits, end point) and the route's cost.
struct RoutePlan {
  std::vector<std::vector<std::int64_t>> routes;
  std::vector<double> costs;
};

}  // namespace plenro
