#include "plenro/plugins/default_heuristic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "plugins/plugin_test_support.h"

namespace plenro {
namespace {

using checker_testing::MakeState;

// The estimate as a plain rescan of the sorted list: at every step the first usable edge.
double LiteralEstimate(const SearchState& s, const std::vector<WeightedEdge>& edges,
                       std::size_t num_agents) {
  VisitedSet in_tree = s.visited;
  VisitedSet closed = s.visited;
  for (std::size_t i = 0; i < num_agents; ++i) {
    in_tree.Set(static_cast<std::uint64_t>(s.positions[i]));
  }
  for (std::size_t i = 0; i < num_agents; ++i) {
    if (s.finished[i] == 0) {
      closed.Clear(static_cast<std::uint64_t>(s.positions[i]));
    }
  }
  double sum = 0.0;
  while (true) {
    if (s.num_bits <= 0 || in_tree.CountBelow(s.num_bits) == s.num_bits) {
      return sum;
    }
    const WeightedEdge* found = nullptr;
    for (const WeightedEdge& e : edges) {
      const auto u = static_cast<std::uint64_t>(e.u);
      const auto v = static_cast<std::uint64_t>(e.v);
      if (e.weight < 9999.0 && in_tree.Test(u) != in_tree.Test(v) && !closed.Test(u) &&
          !closed.Test(v)) {
        found = &e;
        break;
      }
    }
    if (found == nullptr) {
      return std::numeric_limits<double>::max() / 16.0;
    }
    sum += found->weight;
    in_tree.Set(in_tree.Test(static_cast<std::uint64_t>(found->u))
                    ? static_cast<std::uint64_t>(found->v)
                    : static_cast<std::uint64_t>(found->u));
  }
}

// A view of `num_agents` agents of type 0 that end at point 0, kept for the whole run (the
// heuristic reads only its agent count).
const InstanceView& AgentsView(std::size_t num_agents) {
  static std::map<std::size_t, InstanceView> views;
  const auto [it, added] = views.try_emplace(num_agents);
  if (added) {
    it->second.SetAgents(checker_testing::MakeAgents(std::vector<std::int64_t>(num_agents, 0)));
    it->second.SetGoals(std::vector<std::uint64_t>(num_agents, 0));
  }
  return it->second;
}

DefaultHeuristic MakeHeuristic(std::size_t num_agents, const std::vector<WeightedEdge>& edges) {
  DefaultHeuristic h;
  h.Bind(AgentsView(num_agents));
  h.SetEdgeList(edges);
  return h;
}

struct EstimateCase {
  const char* what;
  SearchState state;
  double expected;
};

TEST(DefaultHeuristicTest, HandComputedInstances) {
  // Four points on a line-like instance, sorted by weight.
  const std::vector<WeightedEdge> edges = {{1, 0, 1.0}, {3, 2, 1.5}, {2, 1, 2.0},
                                           {3, 0, 3.0}, {2, 0, 4.0}, {3, 1, 9999.0}};
  const std::vector<EstimateCase> cases = {
      // Tree from 0: 0-1 (1), 1-2 (2), 2-3 (1.5).
      {"root", MakeState(4, {0}, {0.0}, {}), 4.5},
      // Visited 2 is closed: 0-1 (1), then 3 only through 0-3 (3).
      {"closed point", MakeState(4, {0}, {0.0}, {2}), 4.0},
      // Everything visited except the agent's position, which is already in the tree.
      {"all visited", MakeState(4, {3}, {0.0}, {0, 1, 2}), 0.0},
      {"all visited incl. position", MakeState(4, {3}, {0.0}, {0, 1, 2, 3}), 0.0},
      // Two unfinished agents at 0 and 2: 1 joins 0 (1), 3 joins 2 (1.5).
      {"two agents", MakeState(4, {0, 2}, {0.0, 0.0}, {}), 2.5},
      // Agent 1 finished at visited 3: 3 is closed, so 2 hangs on 1 (2).
      {"finished agent", MakeState(4, {0, 3}, {0.0, 0.0}, {3}, {0, 1}), 3.0},
      // Only the 9999.0 edge touches 1 once 0 and 2 are closed.
      {"unreachable", MakeState(4, {3}, {0.0}, {0, 2}), DefaultHeuristic::kUnreachable},
      {"no points", MakeState(0, {0}, {0.0}, {}), 0.0},
  };
  const DefaultHeuristic h2 = MakeHeuristic(2, edges);
  const DefaultHeuristic h1 = MakeHeuristic(1, edges);
  for (const EstimateCase& c : cases) {
    const DefaultHeuristic& h = c.state.positions.size() == 2 ? h2 : h1;
    EXPECT_EQ(h.Estimate(c.state), c.expected) << c.what;
    EXPECT_EQ(LiteralEstimate(c.state, edges, c.state.positions.size()), c.expected) << c.what;
  }
  EXPECT_EQ(DefaultHeuristic::kUnreachable, 1.1235582092889473e307);
}

TEST(DefaultHeuristicTest, ListOrderDecidesNotWeight) {
  // The estimate takes the first usable edge of the list as given; the list is expected sorted,
  // but an unsorted one shows that the order, not the weight, decides.
  const SearchState s = MakeState(3, {0}, {0.0}, {});
  EXPECT_EQ(MakeHeuristic(1, {{1, 0, 1.0}, {2, 0, 1.0}, {2, 1, 0.5}}).Estimate(s), 2.0);
  EXPECT_EQ(MakeHeuristic(1, {{2, 1, 0.5}, {1, 0, 1.0}, {2, 0, 1.0}}).Estimate(s), 1.5);
  // A repeated pair counts by its first usable copy.
  const std::vector<WeightedEdge> repeated = {{1, 0, 9999.0}, {1, 0, 3.0}, {0, 1, 0.25}};
  EXPECT_EQ(MakeHeuristic(1, repeated).Estimate(MakeState(2, {0}, {0.0}, {})), 3.0);
}

// Random instances: weights drawn from a small set (ties) with missing connections, repeated
// and reversed pairs; list stably sorted by weight after a shuffle; random states.
TEST(DefaultHeuristicTest, MatchesListRescanOnRandomStates) {
  std::mt19937_64 rng(20240611);
  const std::vector<double> weights = {0.5, 1.0, 1.0, 2.0, 2.5, 3.0, 3.0, 7.25, 9999.0, 12000.0};
  const std::vector<int> sizes = {1, 2, 3, 5, 8, 13, 40, 64, 65, 130, 256};
  int compared = 0;
  int unreachable = 0;
  for (const int n : sizes) {
    for (int instance = 0; instance < 3; ++instance) {
      std::vector<WeightedEdge> edges;
      std::bernoulli_distribution keep(n > 100 ? 0.3 : 0.8);
      std::uniform_int_distribution<std::size_t> pick(0, weights.size() - 1);
      for (int u = 1; u < n; ++u) {
        for (int v = 0; v < u; ++v) {
          if (keep(rng)) {
            edges.push_back({u, v, weights[pick(rng)]});
          }
          if (rng() % 17 == 0) {
            edges.push_back({v, u, weights[pick(rng)]});  // reversed repeat
          }
        }
      }
      std::shuffle(edges.begin(), edges.end(), rng);
      std::stable_sort(
          edges.begin(), edges.end(),
          [](const WeightedEdge& x, const WeightedEdge& y) { return x.weight < y.weight; });
      const std::size_t num_agents = 1 + rng() % 4;
      const DefaultHeuristic h = MakeHeuristic(num_agents, edges);
      for (int trial = 0; trial < 12; ++trial) {
        std::vector<std::int64_t> positions;
        std::vector<char> finished;
        for (std::size_t i = 0; i < num_agents; ++i) {
          positions.push_back(static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(n)));
          finished.push_back(rng() % 3 == 0 ? 1 : 0);
        }
        SearchState s = MakeState(n, positions, std::vector<double>(num_agents, 0.0), {}, finished);
        const std::uint64_t density = rng() % 4;  // from nothing to most points visited
        for (int k = 0; k < n; ++k) {
          if (rng() % 4 < density) {
            s.visited.Set(static_cast<std::uint64_t>(k));
          }
        }
        const double fast = h.Estimate(s);
        const double literal = LiteralEstimate(s, edges, num_agents);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(literal))
            << "n = " << n << ", instance " << instance << ", trial " << trial;
        ++compared;
        unreachable += literal == DefaultHeuristic::kUnreachable ? 1 : 0;
      }
    }
  }
  EXPECT_GE(compared, 300);
  // The instances exercise both outcomes.
  EXPECT_GT(unreachable, 0);
  EXPECT_LT(unreachable, compared);
}

}  // namespace
}  // namespace plenro
