#include "plenro/graph/cost_table.h"

#include <algorithm>

#include "plenro/graph/no_connection.h"

namespace plenro {

CostTable::CostTable(const PlannerGraph& graph)
    : n_(graph.NumVertex()),
      cdim_(graph.GetCostDim()),
      costs_(n_ * n_ * cdim_, 0.0),
      present_(n_ * n_, 0) {
  for (std::uint64_t u = 0; u < n_; ++u) {
    for (std::uint64_t v = 0; v < n_; ++v) {
      const CostVector cost = graph.GetArcCost(u, v);
      if (cost.empty()) {
        continue;
      }
      present_[u * n_ + v] = 1;
      // A vector shorter than the cost dimension (possible only through the bulk builders)
      // leaves the remaining entries at "no connection".
      double* cell = &costs_[(u * n_ + v) * cdim_];
      const std::uint64_t copied = std::min<std::uint64_t>(cost.size(), cdim_);
      std::copy_n(cost.begin(), copied, cell);
      std::fill(cell + copied, cell + cdim_, kNoConnection);
    }
  }
}

CostTable::CostTable(std::uint64_t n, std::uint64_t cdim)
    : n_(n), cdim_(cdim), costs_(n * n * cdim, kNoConnection), present_(n * n, 1) {
  for (std::uint64_t v = 0; v < n_; ++v) {
    present_[v * n_ + v] = 0;
  }
}

}  // namespace plenro
