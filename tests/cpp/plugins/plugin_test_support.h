#pragma once

// Small builders shared by the plug-in tests: graphs from cost matrices, point and agent
// tables and views (those of the instance tests), and search states.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "instance/instance_test_support.h"
#include "plenro/plugins/search_state.h"

namespace plenro::checker_testing {

using instance_testing::kNoArc;
using instance_testing::MakeAgents;
using instance_testing::MakeGraph;
using instance_testing::MakePoints;
using instance_testing::MakeType0Points;
using instance_testing::MakeView;

// A state over n points with the listed points visited. `finished` defaults to all zero.
inline SearchState MakeState(std::int32_t n, std::vector<std::int64_t> positions,
                             std::vector<double> costs,
                             std::initializer_list<std::uint64_t> visited,
                             std::vector<char> finished = {}) {
  SearchState state;
  state.num_bits = n;
  state.visited = VisitedSet::Sized(n);
  for (const std::uint64_t k : visited) {
    state.visited.Set(k);
  }
  if (finished.empty()) {
    finished.assign(positions.size(), 0);
  }
  std::int64_t unfinished = 0;
  for (const char f : finished) {
    unfinished += f == 0 ? 1 : 0;
  }
  state.positions = std::move(positions);
  state.costs = std::move(costs);
  state.finished = std::move(finished);
  state.unfinished = unfinished;
  return state;
}

}  // namespace plenro::checker_testing
