#pragma once

#include <cstddef>
#include <cstdint>

#include "plenro/plugins/search_state.h"

namespace plenro {

// Number of visited points among the state's first num_bits points.
inline std::int64_t CountVisitedPoints(const SearchState& s) {
  return s.visited.CountBelow(s.num_bits);
}

// True when the state's first num_bits points are all visited.
inline bool AllPointsVisited(const SearchState& s) {
  const VisitedSet above = VisitedSet::Sized(s.num_bits);
  for (std::size_t w = 0; w < above.words.size(); ++w) {
    if ((s.visited.words[w] | above.words[w]) != ~std::uint64_t{0}) {
      return false;
    }
  }
  return true;
}

// A complete solution: every point visited and every route ended.
inline bool IsGoalState(const SearchState& s) {
  return AllPointsVisited(s) && s.unfinished == 0;
}

// Sum of the route costs of the first num_agents agents, added in index order from 0.0.
inline double TotalRouteCost(const SearchState& s, std::size_t num_agents) {
  double total = 0.0;
  const std::size_t n = num_agents < s.costs.size() ? num_agents : s.costs.size();
  for (std::size_t i = 0; i < n; ++i) {
    total += s.costs[i];
  }
  return total;
}

}  // namespace plenro
