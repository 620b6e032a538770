#include "plenro/graph/sparse_graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace plenro {
namespace {

using Vertices = std::vector<std::uint64_t>;

// Runs `action`, expecting it to print `printed` plus a newline on standard output and then to
// throw std::runtime_error with `thrown`.
void ExpectGraphFailure(const std::function<void()>& action, const std::string& printed,
                        const std::string& thrown) {
  testing::internal::CaptureStdout();
  std::string what;
  try {
    action();
  } catch (const std::runtime_error& error) {
    what = error.what();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), printed + "\n");
  EXPECT_EQ(what, thrown);
}

TEST(SparseGraphTest, NewGraphIsEmpty) {
  SparseGraph graph;
  EXPECT_EQ(graph.NumVertex(), 0u);
  EXPECT_EQ(graph.NumArc(), 0u);
  EXPECT_EQ(graph.NumEdge(), 0u);
  EXPECT_EQ(graph.GetCostDim(), 0u);
  EXPECT_TRUE(graph.GetAllVertices().empty());
  EXPECT_FALSE(graph.HasVertex(0));
  EXPECT_EQ(graph.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 0 outgoing edges \n incoming edges \n"
            "=== SparseGraph End ===");
}

TEST(SparseGraphTest, AddVertexGrowsToIncludeIt) {
  SparseGraph graph;
  graph.AddVertex(5);
  EXPECT_EQ(graph.NumVertex(), 6u);
  EXPECT_EQ(graph.GetAllVertices(), (Vertices{0, 1, 2, 3, 4, 5}));
  for (std::uint64_t v = 0; v <= 5; ++v) {
    EXPECT_TRUE(graph.HasVertex(v));
    EXPECT_TRUE(graph.GetSuccs(v).empty());
    EXPECT_TRUE(graph.GetPreds(v).empty());
  }
  EXPECT_FALSE(graph.HasVertex(6));
  graph.AddVertex(2);
  EXPECT_EQ(graph.NumVertex(), 6u);
}

TEST(SparseGraphTest, AddArcAddsVerticesSetsCdimAndReplaces) {
  SparseGraph graph;
  graph.AddArc(0, 3, {1.0, 2.0});
  EXPECT_EQ(graph.NumVertex(), 4u);
  EXPECT_EQ(graph.GetCostDim(), 2u);
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_TRUE(graph.HasArc(0, 3));
  EXPECT_FALSE(graph.HasArc(3, 0));

  graph.AddArc(0, 3, {5.0, 6.0});
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_EQ(graph.NumEdge(), 1u);
  EXPECT_EQ(graph.GetArcCost(0, 3), (CostVector{5.0, 6.0}));
  EXPECT_EQ(graph.GetSuccs(0), (Vertices{3}));
  EXPECT_EQ(graph.GetPreds(3), (Vertices{0}));
  EXPECT_EQ(graph.GetSuccCosts(0), (std::vector<CostVector>{{5.0, 6.0}}));
  EXPECT_EQ(graph.GetPredCosts(3), (std::vector<CostVector>{{5.0, 6.0}}));
}

TEST(SparseGraphTest, ListsKeepInsertionOrder) {
  SparseGraph graph;
  graph.AddArc(2, 1, {1.0});
  graph.AddArc(2, 0, {2.0});
  graph.AddArc(0, 1, {3.0});
  graph.AddArc(2, 1, {4.0});
  EXPECT_EQ(graph.GetSuccs(2), (Vertices{1, 0}));
  EXPECT_EQ(graph.GetSuccCosts(2), (std::vector<CostVector>{{4.0}, {2.0}}));
  EXPECT_EQ(graph.GetPreds(1), (Vertices{2, 0}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<CostVector>{{4.0}, {3.0}}));
  EXPECT_EQ(graph.NumArc(), 6u);
}

TEST(SparseGraphTest, AddEdgeAddsBothDirections) {
  SparseGraph graph;
  graph.AddEdge(0, 1, {7.0});
  EXPECT_EQ(graph.NumArc(), 4u);
  EXPECT_EQ(graph.NumEdge(), 2u);
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{7.0}));
  EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{7.0}));
}

TEST(SparseGraphTest, CdimMismatchPrintsThrowsAndKeepsNewVertices) {
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  ExpectGraphFailure([&] { graph.AddArc(0, 4, {1.0, 2.0, 3.0}); },
                     "[ERROR] SparseGraph::AddArc cdim does not match: 2 != 3",
                     "[ERROR] SparseGraph::AddArc cdim does not match");
  EXPECT_EQ(graph.NumVertex(), 5u);
  EXPECT_EQ(graph.NumArc(), 0u);
  EXPECT_FALSE(graph.HasArc(0, 4));
}

TEST(SparseGraphTest, CdimZeroLetsTheNextArcSetIt) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1.0, 2.0});
  graph.ChangeCostDim(0, 0.0);
  EXPECT_EQ(graph.GetArcCost(0, 1), CostVector{});
  graph.AddArc(1, 0, {1.0, 2.0, 3.0});
  EXPECT_EQ(graph.GetCostDim(), 3u);
}

TEST(SparseGraphTest, ChangeCostDimPadsAndCutsBothCopies) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1.0, 2.0});
  graph.AddArc(1, 2, {3.0, 4.0});

  graph.ChangeCostDim(4, 9999.0);
  EXPECT_EQ(graph.GetCostDim(), 4u);
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1.0, 2.0, 9999.0, 9999.0}));
  EXPECT_EQ(graph.GetSuccCosts(1), (std::vector<CostVector>{{3.0, 4.0, 9999.0, 9999.0}}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<CostVector>{{1.0, 2.0, 9999.0, 9999.0}}));
  EXPECT_EQ(graph.GetPredCosts(2), (std::vector<CostVector>{{3.0, 4.0, 9999.0, 9999.0}}));

  graph.ChangeCostDim(1, -5.0);
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1.0}));
  EXPECT_EQ(graph.GetPredCosts(2), (std::vector<CostVector>{{3.0}}));
}

TEST(SparseGraphTest, ReadsOfMissingThingsAreEmpty) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1.0});
  graph.AddVertex(2);
  const std::uint64_t n = graph.NumVertex();
  EXPECT_TRUE(graph.GetArcCost(1, 0).empty());
  EXPECT_TRUE(graph.GetArcCost(0, 2).empty());
  EXPECT_TRUE(graph.GetSuccs(n).empty());
  EXPECT_TRUE(graph.GetPreds(n).empty());
  EXPECT_TRUE(graph.GetSuccCosts(n).empty());
  EXPECT_TRUE(graph.GetPredCosts(n).empty());
}

TEST(SparseGraphTest, SetArcCostReplacesBothCopies) {
  SparseGraph graph;
  graph.AddArc(0, 1, {1.0, 2.0});
  EXPECT_TRUE(graph.SetArcCost(0, 1, {8.0, 9.0}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{8.0, 9.0}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<CostVector>{{8.0, 9.0}}));
  EXPECT_EQ(graph.NumArc(), 2u);
}

struct SetArcCostFailure {
  const char* name;
  std::uint64_t u;
  std::uint64_t v;
  CostVector cost;
  const char* message;
};

void PrintTo(const SetArcCostFailure& c, std::ostream* os) {
  *os << c.name;
}

class SetArcCostFailureTest : public testing::TestWithParam<SetArcCostFailure> {};

// The checks run in a fixed order: dimension, then vertices, then the arc.
TEST_P(SetArcCostFailureTest, PrintsAndThrows) {
  const SetArcCostFailure& failure = GetParam();
  SparseGraph graph;
  graph.AddArc(0, 1, {1.0, 2.0});
  graph.AddVertex(2);
  ExpectGraphFailure([&] { graph.SetArcCost(failure.u, failure.v, failure.cost); }, failure.message,
                     failure.message);
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1.0, 2.0}));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SetArcCostFailureTest,
    testing::Values(
        SetArcCostFailure{"WrongDimensionOnMissingVertex",
                          7,
                          9,
                          {1.0},
                          "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not "
                          "match! Maybe call ChangeCostDim() at first."},
        SetArcCostFailure{"WrongDimension",
                          0,
                          1,
                          {1.0, 2.0, 3.0},
                          "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not "
                          "match! Maybe call ChangeCostDim() at first."},
        SetArcCostFailure{"TailNotAVertex",
                          3,
                          0,
                          {1.0, 2.0},
                          "[ERROR] SparseGraph::SetArcCost vertex does not exist!"},
        SetArcCostFailure{"HeadNotAVertex",
                          0,
                          3,
                          {1.0, 2.0},
                          "[ERROR] SparseGraph::SetArcCost vertex does not exist!"},
        SetArcCostFailure{
            "MissingArc", 0, 2, {1.0, 2.0}, "[ERROR] SparseGraph::SetArcCost arc does not exist!"},
        SetArcCostFailure{"ReverseOfArc",
                          1,
                          0,
                          {1.0, 2.0},
                          "[ERROR] SparseGraph::SetArcCost arc does not exist!"}),
    [](const testing::TestParamInfo<SetArcCostFailure>& info) { return info.param.name; });

TEST(SparseGraphTest, CreateFromArcsWithNoArcsLeavesOneVertex) {
  SparseGraph graph;
  graph.AddArc(0, 4, {1.0});
  graph.CreateFromArcs({}, {}, {});
  EXPECT_EQ(graph.NumVertex(), 1u);
  EXPECT_TRUE(graph.GetSuccs(0).empty());
  EXPECT_TRUE(graph.GetPreds(0).empty());
  EXPECT_FALSE(graph.HasArc(0, 4));
  // The bulk builders leave the counter and the cost dimension alone.
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_EQ(graph.GetCostDim(), 1u);
}

TEST(SparseGraphTest, CreateFromArcsKeepsRepeatsAndFirstWins) {
  SparseGraph graph;
  graph.AddArc(5, 6, {0.0});
  graph.CreateFromArcs({0, 2, 0}, {1, 0, 1}, {{1.0, 1.5}, {2.0, 2.5}, {3.0, 3.5}});
  EXPECT_EQ(graph.NumVertex(), 3u);
  EXPECT_EQ(graph.GetSuccs(0), (Vertices{1, 1}));
  EXPECT_EQ(graph.GetPreds(1), (Vertices{0, 0}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1.0, 1.5}));
  EXPECT_EQ(graph.GetArcCost(2, 0), (CostVector{2.0, 2.5}));
  EXPECT_FALSE(graph.HasArc(1, 0));
  EXPECT_EQ(graph.NumArc(), 2u);
  EXPECT_EQ(graph.GetCostDim(), 1u);

  // AddArc and SetArcCost act on the first of the repeated entries only; the arc exists, so
  // the counter stays.
  graph.ChangeCostDim(2, 0.0);
  graph.AddArc(0, 1, {7.0, 7.0});
  EXPECT_EQ(graph.GetSuccCosts(0), (std::vector<CostVector>{{7.0, 7.0}, {3.0, 3.5}}));
  EXPECT_EQ(graph.GetPredCosts(1), (std::vector<CostVector>{{7.0, 7.0}, {3.0, 3.5}}));
  EXPECT_TRUE(graph.SetArcCost(0, 1, {8.0, 8.0}));
  EXPECT_EQ(graph.GetSuccCosts(0), (std::vector<CostVector>{{8.0, 8.0}, {3.0, 3.5}}));
  EXPECT_EQ(graph.NumArc(), 2u);
}

TEST(SparseGraphTest, CreateFromEdgesAddsBothDirectionsWithRepeats) {
  SparseGraph graph;
  graph.CreateFromEdges({0, 1, 0}, {1, 2, 1}, {{1.0}, {2.0}, {3.0}});
  EXPECT_EQ(graph.NumVertex(), 3u);
  EXPECT_EQ(graph.GetSuccs(0), (Vertices{1, 1}));
  EXPECT_EQ(graph.GetSuccs(1), (Vertices{0, 2, 0}));
  EXPECT_EQ(graph.GetSuccCosts(1), (std::vector<CostVector>{{1.0}, {2.0}, {3.0}}));
  EXPECT_EQ(graph.GetPreds(1), (Vertices{0, 2, 0}));
  EXPECT_EQ(graph.GetPreds(0), (Vertices{1, 1}));
  EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{1.0}));
  EXPECT_EQ(graph.GetArcCost(2, 1), (CostVector{2.0}));
  EXPECT_EQ(graph.NumArc(), 0u);
  EXPECT_EQ(graph.GetCostDim(), 0u);
}

TEST(SparseGraphTest, CreateFromShrinksAndForgetsOldArcs) {
  SparseGraph graph;
  graph.AddArc(0, 9, {1.0});
  graph.AddArc(1, 0, {1.0});
  graph.CreateFromEdges({1}, {0}, {{4.0}});
  EXPECT_EQ(graph.NumVertex(), 2u);
  EXPECT_EQ(graph.GetSuccs(1), (Vertices{0}));
  EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{4.0}));
  EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{4.0}));
  // A new arc after a rebuild is appended behind the rebuilt entries.
  graph.AddArc(1, 1, {5.0});
  EXPECT_EQ(graph.GetSuccs(1), (Vertices{0, 1}));
  EXPECT_EQ(graph.GetPreds(1), (Vertices{0, 1}));
  EXPECT_EQ(graph.NumArc(), 6u);
}

TEST(SparseGraphTest, BulkBuildersRefuseListsOfDifferentLengths) {
  SparseGraph graph;
  EXPECT_THROW(graph.CreateFromArcs({0, 1}, {1}, {{1.0}, {2.0}}), std::invalid_argument);
  EXPECT_THROW(graph.CreateFromEdges({0}, {1}, {}), std::invalid_argument);
}

// NumEdge's odd-counter failure cannot be reached through the interface: AddArc always creates
// or finds the successor and predecessor entries together, and the bulk builders leave the
// counter alone, so the counter only ever grows by two.

TEST(SparseGraphTest, ToStrOfSmallGraph) {
  SparseGraph graph;
  graph.AddArc(0, 1, {2.0, 3.5});
  graph.AddArc(0, 2, {-1.25, 1e6});
  graph.AddVertex(3);
  EXPECT_EQ(graph.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 4 outgoing edges \n"
            " -- 0:[1([2.000000,3.500000]),2([-1.250000,1000000.000000]),]\n"
            " -- 1:[]\n"
            " -- 2:[]\n"
            " -- 3:[]\n"
            " incoming edges \n"
            " -- 0:[]\n"
            " -- 1:[0([2.000000,3.500000]),]\n"
            " -- 2:[0([-1.250000,1000000.000000]),]\n"
            " -- 3:[]\n"
            "=== SparseGraph End ===");
}

TEST(SparseGraphTest, ToStrOfEmptyCostVector) {
  SparseGraph graph;
  graph.CreateFromArcs({1}, {0}, {{}});
  EXPECT_EQ(graph.ToStr(),
            "=== SparseGraph Begin ===\n |V| = 2 outgoing edges \n -- 0:[]\n -- 1:[0([]),]\n"
            " incoming edges \n -- 0:[1([]),]\n -- 1:[]\n=== SparseGraph End ===");
}

TEST(SparseGraphTest, CompleteGraphLikeTheSolverBuildsIt) {
  constexpr std::uint64_t kN = 40;
  SparseGraph graph;
  graph.ChangeCostDim(2, 9999.0);
  for (std::uint64_t v = 0; v < kN; ++v) {
    graph.AddVertex(v);
  }
  for (std::uint64_t u = 0; u < kN; ++u) {
    for (std::uint64_t v = 0; v < kN; ++v) {
      if (u != v) {
        graph.AddArc(u, v, {static_cast<double>(u * 100 + v), static_cast<double>(v)});
      }
    }
  }
  EXPECT_EQ(graph.NumArc(), 2 * kN * (kN - 1));
  for (std::uint64_t u = 0; u < kN; ++u) {
    EXPECT_FALSE(graph.HasArc(u, u));
    EXPECT_EQ(graph.GetSuccs(u).size(), kN - 1);
    for (std::uint64_t v = 0; v < kN; ++v) {
      if (u != v) {
        ASSERT_EQ(graph.GetArcCost(u, v),
                  (CostVector{static_cast<double>(u * 100 + v), static_cast<double>(v)}));
      }
    }
  }
}

}  // namespace
}  // namespace plenro
