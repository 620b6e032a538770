#pragma once

// Builders shared by the tests of the instance layer and of the layers above it: graphs from
// cost matrices, point and agent tables, and instance views over them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "plenro/graph/sparse_graph.h"
#include "plenro/instance/instance_records.h"
#include "plenro/instance/instance_view.h"
#include "plenro/instance/route_evaluation.h"

namespace plenro::instance_testing {

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

// A complete directed graph over n vertices with `types` cost entries per arc, every cost
// `fill` until changed.
class GraphBuilder {
 public:
  GraphBuilder(std::size_t n, std::size_t types, double fill)
      : n_(n), types_(types), cost_(n * n * types, fill), present_(n * n, 1) {}

  // Costs |x[u] - x[v]| for every type.
  static GraphBuilder Line(const std::vector<double>& x, std::size_t types = 1) {
    GraphBuilder builder(x.size(), types, 0.0);
    for (std::size_t u = 0; u < x.size(); ++u) {
      for (std::size_t v = 0; v < x.size(); ++v) {
        builder.Arc(u, v, std::abs(x[u] - x[v]));
      }
    }
    return builder;
  }

  // u -> v for every type.
  GraphBuilder& Arc(std::size_t u, std::size_t v, double cost) {
    for (std::size_t t = 0; t < types_; ++t) {
      cost_[(u * n_ + v) * types_ + t] = cost;
    }
    return *this;
  }
  // u -> v and v -> u for every type.
  GraphBuilder& Edge(std::size_t u, std::size_t v, double cost) {
    return Arc(u, v, cost).Arc(v, u, cost);
  }
  // u -> v for type t only.
  GraphBuilder& TypeArc(std::size_t u, std::size_t v, std::size_t t, double cost) {
    cost_[(u * n_ + v) * types_ + t] = cost;
    return *this;
  }
  // No arc u -> v at all.
  GraphBuilder& Remove(std::size_t u, std::size_t v) {
    present_[u * n_ + v] = 0;
    return *this;
  }

  // G is SparseGraph or a test graph derived from it.
  template <class G = SparseGraph>
  std::unique_ptr<G> Build() const {
    auto graph = std::make_unique<G>();
    graph->ChangeCostDim(types_, kNoConnection);
    for (std::size_t v = 0; v < n_; ++v) {
      graph->AddVertex(v);
    }
    for (std::size_t u = 0; u < n_; ++u) {
      for (std::size_t v = 0; v < n_; ++v) {
        if (u == v || present_[u * n_ + v] == 0) {
          continue;
        }
        const auto first = cost_.begin() + static_cast<std::ptrdiff_t>((u * n_ + v) * types_);
        graph->AddArc(u, v, CostVector(first, first + static_cast<std::ptrdiff_t>(types_)));
      }
    }
    return graph;
  }

 private:
  std::size_t n_;
  std::size_t types_;
  std::vector<double> cost_;
  std::vector<char> present_;
};

// Points 0..n-1 with the given allowed types.
inline std::vector<Point> Points(const std::vector<std::vector<std::uint64_t>>& types) {
  std::vector<Point> points(types.size());
  for (std::size_t j = 0; j < types.size(); ++j) {
    points[j].id = 1000 + j;
    points[j].types = types[j];
  }
  return points;
}

// n points, each open to every type below `types`.
inline std::vector<Point> OpenPoints(std::size_t n, std::uint64_t types = 1) {
  std::vector<std::uint64_t> all;
  for (std::uint64_t t = 0; t < types; ++t) {
    all.push_back(t);
  }
  return Points(std::vector<std::vector<std::uint64_t>>(n, all));
}

inline std::vector<AgentInfo> Agents(const std::vector<std::int64_t>& types,
                                     const std::vector<double>& max_lengths = {}) {
  std::vector<AgentInfo> agents(types.size());
  for (std::size_t i = 0; i < types.size(); ++i) {
    agents[i].id = 50 + i;
    agents[i].type = types[i];
    agents[i].max_length = i < max_lengths.size() ? max_lengths[i] : 0.0;
  }
  return agents;
}

// A view over the graph, points and agents with the given start and end points.
inline InstanceView MakeView(const PlannerGraph* graph, const std::vector<Point>& points,
                             const std::vector<AgentInfo>& agents,
                             const std::vector<std::uint64_t>& starts,
                             const std::vector<std::uint64_t>& goals,
                             const TimeWindowMap& windows = {}, bool return_to_end = true) {
  InstanceView view;
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetCosts(graph);
  view.SetStarts(starts);
  view.SetGoals(goals);
  view.SetTimeWindows(windows);
  view.SetReturnToEnd(return_to_end);
  return view;
}

// `r` with positions i..j reversed.
inline Route Reversed(Route r, std::size_t i, std::size_t j) {
  std::reverse(r.begin() + static_cast<std::ptrdiff_t>(i),
               r.begin() + static_cast<std::ptrdiff_t>(j) + 1);
  return r;
}

}  // namespace plenro::instance_testing
