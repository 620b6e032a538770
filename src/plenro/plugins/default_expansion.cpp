#include "plenro/plugins/default_expansion.h"

#include <limits>

namespace plenro {

std::int64_t DefaultExpansion::SelectAgent(const SearchState& state) const {
  std::int64_t best = -1;
  double best_cost = std::numeric_limits<double>::max();
  const std::uint64_t agents = NumAgents();
  for (std::uint64_t i = 0; i < agents; ++i) {
    if (state.finished[i] == 0 && state.costs[i] < best_cost) {
      best = static_cast<std::int64_t>(i);
      best_cost = state.costs[i];
    }
  }
  return best;
}

}  // namespace plenro
