#include "plenro/graph/cost_table.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "plenro/graph/no_connection.h"
#include "plenro/graph/sparse_graph.h"

namespace plenro {
namespace {

// Every (u, v, t) of the table must agree with the graph's own look-up.
void ExpectTableMatchesGraph(const CostTable& table, const PlannerGraph& graph) {
  ASSERT_EQ(table.NumVertex(), graph.NumVertex());
  ASSERT_EQ(table.CostDim(), graph.GetCostDim());
  for (std::uint64_t u = 0; u < graph.NumVertex(); ++u) {
    for (std::uint64_t v = 0; v < graph.NumVertex(); ++v) {
      const CostVector cost = graph.GetArcCost(u, v);
      ASSERT_EQ(table.HasArc(u, v), !cost.empty()) << u << " -> " << v;
      for (std::uint64_t t = 0; t < cost.size(); ++t) {
        EXPECT_EQ(table.Cost(u, v, t), cost[t]) << u << " -> " << v << " type " << t;
      }
    }
  }
}

TEST(CostTableTest, MatchesGetArcCostIncludingMissingArcs) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  graph.AddArc(0, 1, {1.0, 2.0});
  graph.AddArc(1, 0, {3.0, 4.0});
  graph.AddArc(1, 2, {5.0, 6.0});
  graph.AddArc(2, 2, {7.0, 8.0});
  graph.AddVertex(3);
  graph.AddArc(0, 1, {1.5, 2.5});
  const CostTable table(graph);
  ExpectTableMatchesGraph(table, graph);
  EXPECT_FALSE(table.HasArc(2, 0));
  EXPECT_FALSE(table.HasArc(3, 3));
  EXPECT_EQ(table.Cost(0, 1, 1), 2.5);
}

TEST(CostTableTest, FirstOfRepeatedArcsWins) {
  SparseGraph graph;
  graph.ChangeCostDim(1, 0.0);
  graph.CreateFromArcs({0, 0}, {1, 1}, {{4.0}, {9.0}});
  const CostTable table(graph);
  ExpectTableMatchesGraph(table, graph);
  EXPECT_EQ(table.Cost(0, 1, 0), 4.0);
}

TEST(CostTableTest, VectorsOfOtherLengthsAreFittedToTheDimension) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 0.0);
  graph.CreateFromArcs({0, 1}, {1, 0}, {{4.0}, {5.0, 6.0, 7.0}});
  const CostTable table(graph);
  EXPECT_EQ(table.Cost(0, 1, 0), 4.0);
  EXPECT_EQ(table.Cost(0, 1, 1), 9999.0);
  EXPECT_EQ(table.Cost(1, 0, 0), 5.0);
  EXPECT_EQ(table.Cost(1, 0, 1), 6.0);
}

TEST(CostTableTest, EmptyGraphAndDefault) {
  const CostTable empty_default;
  EXPECT_EQ(empty_default.NumVertex(), 0u);
  EXPECT_EQ(empty_default.CostDim(), 0u);
  const SparseGraph graph;
  const CostTable table(graph);
  EXPECT_EQ(table.NumVertex(), 0u);
}

TEST(CostTableTest, DenseTableWithoutGraphIsCompleteWithoutSelfArcs) {
  CostTable table(3, 2);
  table.Set(0, 2, 1, 4.5);
  EXPECT_EQ(table.NumVertex(), 3u);
  EXPECT_EQ(table.CostDim(), 2u);
  for (std::uint64_t u = 0; u < 3; ++u) {
    for (std::uint64_t v = 0; v < 3; ++v) {
      EXPECT_EQ(table.HasArc(u, v), u != v) << u << " -> " << v;
    }
  }
  EXPECT_EQ(table.Cost(0, 2, 1), 4.5);
  EXPECT_EQ(table.Cost(0, 2, 0), kNoConnection);
  EXPECT_EQ(table.Cost(2, 0, 1), kNoConnection);
}

}  // namespace
}  // namespace plenro
