#pragma once

#include <cstdint>
#include <vector>

#include "plenro/graph/planner_graph.h"

namespace plenro {

// Dense snapshot of a graph's arc costs, taken once so that hot loops read a cost in O(1)
// without the vector copy GetArcCost makes. HasArc(u, v) is true exactly when GetArcCost(u, v)
// was not empty; Cost(u, v, t) is then entry t of that vector. What a missing arc costs is the
// caller's rule.
class CostTable {
 public:
  CostTable() = default;
  explicit CostTable(const PlannerGraph& graph);
  // The complete table over n vertices as an instance's matrices define it, without building a
  // graph: every arc u != v present at "no connection" until Set gives its cost, no self arcs.
  CostTable(std::uint64_t n, std::uint64_t cdim);

  // Requires u != v, both below NumVertex(), and t < CostDim().
  void Set(std::uint64_t u, std::uint64_t v, std::uint64_t t, double cost) {
    costs_[(u * n_ + v) * cdim_ + t] = cost;
  }

  std::uint64_t NumVertex() const { return n_; }
  std::uint64_t CostDim() const { return cdim_; }
  bool HasArc(std::uint64_t u, std::uint64_t v) const { return present_[u * n_ + v] != 0; }
  // Requires HasArc(u, v) and t < CostDim().
  double Cost(std::uint64_t u, std::uint64_t v, std::uint64_t t) const {
    return costs_[(u * n_ + v) * cdim_ + t];
  }

 private:
  std::uint64_t n_ = 0;
  std::uint64_t cdim_ = 0;
  std::vector<double> costs_;  // n * n * cdim, row-major by (u, v, t)
  std::vector<char> present_;  // n * n
};

}  // namespace plenro
