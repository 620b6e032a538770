#pragma once

// Small builders shared by the plug-in tests: graphs from cost matrices, point and agent
// tables, and search states.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "plenro/graph/sparse_graph.h"
#include "plenro/search/search_records.h"

namespace plenro::checker_testing {

// Marks a matrix cell that should have no arc at all (GetArcCost answers empty).
inline constexpr double kNoArc = -1.0;

// One cost matrix per type; matrices[t][u][v] is the cost of u -> v for type t. Diagonal
// cells are ignored.
inline std::unique_ptr<SparseGraph> MakeGraph(
    const std::vector<std::vector<std::vector<double>>>& matrices) {
  auto graph = std::make_unique<SparseGraph>();
  const std::uint64_t n = matrices.empty() ? 0 : matrices[0].size();
  graph->ChangeCostDim(matrices.size(), kNoConnection);
  for (std::uint64_t v = 0; v < n; ++v) {
    graph->AddVertex(v);
  }
  for (std::uint64_t u = 0; u < n; ++u) {
    for (std::uint64_t v = 0; v < n; ++v) {
      if (u == v || matrices[0][u][v] == kNoArc) {
        continue;
      }
      CostVector cost;
      for (const auto& matrix : matrices) {
        cost.push_back(matrix[u][v]);
      }
      graph->AddArc(u, v, cost);
    }
  }
  return graph;
}

// Points 0..n-1, each with the given allowed types.
inline std::vector<Point> MakePoints(const std::vector<std::vector<std::uint64_t>>& types) {
  std::vector<Point> points(types.size());
  for (std::size_t j = 0; j < types.size(); ++j) {
    points[j].id = 100 + j;
    points[j].types = types[j];
  }
  return points;
}

// Points 0..n-1, each open to type 0 only.
inline std::vector<Point> MakeType0Points(std::size_t n) {
  return MakePoints(std::vector<std::vector<std::uint64_t>>(n, {0}));
}

inline std::vector<AgentInfo> MakeAgents(const std::vector<std::int64_t>& types,
                                         const std::vector<double>& max_lengths = {}) {
  std::vector<AgentInfo> agents(types.size());
  for (std::size_t i = 0; i < types.size(); ++i) {
    agents[i].id = 10 + i;
    agents[i].type = types[i];
    agents[i].max_length = i < max_lengths.size() ? max_lengths[i] : 0.0;
  }
  return agents;
}

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
