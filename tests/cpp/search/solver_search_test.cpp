#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plenro/instance/route_evaluation.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::CaptureOutput;
using testing_support::InstanceBuilder;
using testing_support::MakeOptions;
using testing_support::ScopedEnv;

double MaxCost(const Result& result) {
  double m = 0.0;
  for (const auto& [agent, cost] : result.times) {
    m = std::max(m, cost);
  }
  return m;
}

// Every point visited exactly once across the routes' interiors and ends (start points aside).
void ExpectCoversAllPoints(const Result& result, std::size_t num_points) {
  std::multiset<std::int64_t> seen;
  for (const auto& [agent, route] : result.paths) {
    for (std::size_t k = 0; k < route.size(); ++k) {
      seen.insert(route[k]);
    }
  }
  for (std::size_t p = 0; p < num_points; ++p) {
    EXPECT_GE(seen.count(static_cast<std::int64_t>(p)), 1u) << "point " << p;
  }
}

TEST(SolverSearchTest, OneAgentTourOfASquare) {
  const Problem problem = InstanceBuilder()
                              .AddNode(10, 0, 0)
                              .AddNode(11, 1, 0)
                              .AddNode(12, 1, 1)
                              .AddNode(13, 0, 1)
                              .AddAgent(7, "car", 10, 10)
                              .SetEuclideanCosts("car")
                              .Build();
  for (const ObjectiveType objective : {MinMax, MinSum}) {
    Solver solver(problem, MakeOptions(objective));
    ASSERT_TRUE(solver.Search());
    const Result result = solver.GetResult();
    ASSERT_EQ(result.paths.size(), 1u);
    const std::vector<std::int64_t>& route = result.paths.at(0);
    ASSERT_EQ(route.size(), 5u);
    EXPECT_EQ(route.front(), 0);
    EXPECT_EQ(route.back(), 0);
    // Around the square, never across it.
    for (std::size_t k = 0; k + 1 < route.size(); ++k) {
      EXPECT_EQ(std::abs(route[k + 1] - route[k]) % 2, 1) << "leg " << k;
    }
    EXPECT_DOUBLE_EQ(result.times.at(0), 4.0);
    EXPECT_FALSE(result.timeout);
    EXPECT_GT(result.n_generated, 0);
    EXPECT_GT(result.n_expanded, 0);
    const SolverStatistics stats = solver.GetStatistics();
    EXPECT_EQ(stats.found, 1);
    EXPECT_EQ(stats.num_points, 4);
    EXPECT_EQ(stats.num_agents, 1);
    EXPECT_DOUBLE_EQ(stats.max_cost, 4.0);
    EXPECT_DOUBLE_EQ(stats.sum_cost, 4.0);
    EXPECT_EQ(stats.last_update_time, result.last_update_time);
  }
}

TEST(SolverSearchTest, TwoAgentsSplitALineUnderMinMax) {
  // Depot at 0, two targets on each side; the best split sends one agent to each side.
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddNode(2, 2)
                              .AddNode(3, -1)
                              .AddNode(4, -2)
                              .AddAgent(0, "v", 0, 0)
                              .AddAgent(1, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .Build();
  Solver solver(problem, MakeOptions(MinMax));
  ASSERT_TRUE(solver.Search());
  const Result result = solver.GetResult();
  EXPECT_DOUBLE_EQ(MaxCost(result), 4.0);
  EXPECT_DOUBLE_EQ(result.times.at(0), 4.0);
  EXPECT_DOUBLE_EQ(result.times.at(1), 4.0);
  ExpectCoversAllPoints(result, 5);
  for (const auto& [agent, route] : result.paths) {
    ASSERT_EQ(route.size(), 4u);
    // Both interior points on the same side of the depot.
    EXPECT_EQ(route[1] <= 2, route[2] <= 2) << "agent " << agent;
  }
}

TEST(SolverSearchTest, AgentWaitsForAWindowToOpen) {
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddAgent(0, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .SetWindow(1, 5.0, 10.0)
                              .Build();
  Solver solver(problem, MakeOptions(MinSum));
  ASSERT_TRUE(solver.Search());
  const Result result = solver.GetResult();
  EXPECT_EQ(result.paths.at(0), (std::vector<std::int64_t>{0, 1, 0}));
  // Arrives at 1, waits until 5, comes back at 6.
  EXPECT_DOUBLE_EQ(result.times.at(0), 6.0);
  const std::vector<AnytimeEntry> anytime = solver.GetAnytimeResults();
  ASSERT_EQ(anytime.size(), 2u);
  EXPECT_DOUBLE_EQ(anytime[0].result.times.at(0), 6.0);
  EXPECT_LE(anytime[0].time, anytime[1].time);
}

TEST(SolverSearchTest, LastLegIsFreeWhenRoutesNeedNotReturn) {
  // Start 0, end 1, one target 2: 0 -> 2 costs 3, 2 -> 1 costs 5.
  const CostMatrix costs = {{0, 9, 3}, {9, 0, 5}, {4, 5, 0}};
  const Problem problem = InstanceBuilder()
                              .AddNode(0)
                              .AddNode(1)
                              .AddNode(2)
                              .AddAgent(0, "v", 0, 1)
                              .SetCosts("v", costs)
                              .Build();
  for (const bool return_to_end : {false, true}) {
    Solver solver(problem, MakeOptions(MinSum, return_to_end));
    ASSERT_TRUE(solver.Search()) << return_to_end;
    const Result result = solver.GetResult();
    EXPECT_EQ(result.paths.at(0), (std::vector<std::int64_t>{0, 2, 1})) << return_to_end;
    EXPECT_DOUBLE_EQ(result.times.at(0), return_to_end ? 8.0 : 3.0);
  }
}

TEST(SolverSearchTest, InfeasibleWindowGivesNoSolution) {
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 2)
                              .AddAgent(0, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .SetWindow(1, 0.0, 1.0)
                              .Build();
  Solver solver(problem, MakeOptions(MinMax));
  EXPECT_FALSE(solver.Search());
  const Result result = solver.GetResult();
  EXPECT_TRUE(result.paths.empty());
  EXPECT_TRUE(result.times.empty());
  EXPECT_FALSE(result.timeout);
  EXPECT_TRUE(solver.GetAnytimeResults().empty());
  EXPECT_EQ(solver.GetStatistics().found, 0);
  EXPECT_EQ(solver.GetStatistics().max_cost, -1.0);
}

// Without agents nothing can move: nodes left open mean no solution; with no nodes either, the
// root is already a goal with no routes. Both run clean under the sanitizers (empty tables).
TEST(SolverSearchTest, InstancesWithoutAgents) {
  testing::internal::CaptureStderr();
  const Problem two_nodes = InstanceBuilder().AddNode(0).AddNode(1, 1).Build();
  Solver with_nodes(two_nodes, MakeOptions(MinSum));
  EXPECT_FALSE(with_nodes.Search());
  EXPECT_TRUE(with_nodes.GetResult().paths.empty());

  Solver empty(Problem{}, MakeOptions(MinMax));
  EXPECT_TRUE(empty.Search());
  EXPECT_TRUE(empty.GetResult().paths.empty());
  EXPECT_EQ(empty.GetAnytimeResults().size(), 2u);
  testing::internal::GetCapturedStderr();
}

TEST(SolverSearchTest, DeadEndOfTheTypeRuleIsDropped) {
  // Point 3 only for type A. Finishing the only A agent while 3 is open is a dead end.
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddNode(2, 2)
                              .AddNode(3, 3)
                              .AddAgent(0, "A", 0, 0)
                              .AddAgent(1, "B", 0, 0)
                              .SetEuclideanCosts("A")
                              .SetEuclideanCosts("B")
                              .Allow(3, {"A"})
                              .Build();
  Solver solver(problem, MakeOptions(MinMax));
  ASSERT_TRUE(solver.Search());
  const Result result = solver.GetResult();
  const std::vector<std::int64_t>& route_a = result.paths.at(0);
  EXPECT_NE(std::find(route_a.begin(), route_a.end(), 3), route_a.end());
  ExpectCoversAllPoints(result, 4);
}

TEST(SolverSearchTest, StartPointLeftBehindCountsAsVisited) {
  // Start 0 differs from end 3: without counting 0 as visited no route could ever serve it.
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddNode(2, 2)
                              .AddNode(3, 3)
                              .AddAgent(0, "v", 0, 3)
                              .SetEuclideanCosts("v")
                              .Build();
  Solver solver(problem, MakeOptions(MinSum));
  ASSERT_TRUE(solver.Search());
  EXPECT_EQ(solver.GetResult().paths.at(0), (std::vector<std::int64_t>{0, 1, 2, 3}));
  EXPECT_DOUBLE_EQ(solver.GetResult().times.at(0), 3.0);
}

Problem RandomInstance(int num_points, int num_agents, unsigned seed) {
  InstanceBuilder builder;
  unsigned state = seed;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<double>((state >> 16) % 1000) / 10.0;
  };
  for (int p = 0; p < num_points; ++p) {
    builder.AddNode(static_cast<std::uint64_t>(100 + p), next(), next());
  }
  for (int a = 0; a < num_agents; ++a) {
    builder.AddAgent(static_cast<std::uint64_t>(a), "v", 100, 100);
  }
  builder.SetEuclideanCosts("v");
  return builder.Build();
}

TEST(SolverSearchTest, WeightsFollowTheIncumbentRatio) {
  const Problem problem = RandomInstance(9, 2, 7);
  Solver solver(problem, MakeOptions(MinMax, true, 20.0));
  bool found = false;
  const std::string out = CaptureOutput([&] { found = solver.Search(); }).out;
  ASSERT_TRUE(found);
  const std::vector<double>& weights = solver.weights();
  ASSERT_GE(weights.size(), 2u);
  EXPECT_EQ(weights[0], 100.0);
  std::size_t ones = 0;
  double last_other = 0.0;
  for (std::size_t k = 1; k < weights.size(); ++k) {
    if (weights[k] == 1.0) {
      ++ones;
    } else {
      EXPECT_GT(weights[k], 1.0);
      last_other = weights[k];
    }
  }
  std::size_t printed = 0;
  for (std::size_t pos = out.find("w = 1\n"); pos != std::string::npos;
       pos = out.find("w = 1\n", pos + 1)) {
    ++printed;
  }
  EXPECT_EQ(printed, ones);
  if (last_other != 0.0) {
    // The last weight above 1 is z - (z - 1) / 5 with z the recorded incumbent ratio.
    const double z = solver.GetStatistics().bound;
    EXPECT_DOUBLE_EQ(last_other, z - (z - 1.0) / 5.0);
  }
  EXPECT_GE(solver.GetAnytimeResults().size(), 2u);
  EXPECT_EQ(solver.GetAnytimeResults().size() % 2, 0u);
}

TEST(SolverSearchTest, WithoutSolutionEveryPassEndsWithWeightOne) {
  // Two points that no agent may serve: passes end without a solution.
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddNode(2, 2)
                              .AddAgent(0, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .Allow(2, {})
                              .Build();
  Solver solver(problem, MakeOptions(MinMax));
  bool found = true;
  const std::string out = CaptureOutput([&] { found = solver.Search(); }).out;
  EXPECT_FALSE(found);
  for (std::size_t k = 1; k < solver.weights().size(); ++k) {
    EXPECT_EQ(solver.weights()[k], 1.0);
  }
  EXPECT_EQ(out.find("w = 1") != std::string::npos, solver.weights().size() > 1);
}

TEST(SolverSearchTest, ZeroTimeLimitTimesOut) {
  const Problem problem = RandomInstance(14, 2, 3);
  Solver solver(problem, MakeOptions(MinSum, true, 0.0));
  solver.Search();
  EXPECT_TRUE(solver.GetResult().timeout);
}

TEST(SolverSearchTest, SecondSearchRepeatsTheFirst) {
  const Problem problem = RandomInstance(8, 2, 11);
  Solver solver(problem, MakeOptions(MinMax));
  bool found = false;
  CaptureOutput([&] { found = solver.Search(); });
  ASSERT_TRUE(found);
  const Result first = solver.GetResult();
  const std::vector<double> first_weights = solver.weights();
  const std::size_t first_anytime = solver.GetAnytimeResults().size();
  CaptureOutput([&] { found = solver.Search(); });
  ASSERT_TRUE(found);
  const Result second = solver.GetResult();
  EXPECT_EQ(second.paths, first.paths);
  EXPECT_EQ(second.times, first.times);
  EXPECT_EQ(second.n_generated, first.n_generated);
  EXPECT_EQ(second.n_expanded, first.n_expanded);
  EXPECT_EQ(solver.weights(), first_weights);
  EXPECT_EQ(solver.GetAnytimeResults().size(), first_anytime);
}

TEST(SolverSearchTest, DrySearchRestartsFromTheOpenSet) {
  // Children at 1 and at 2 get equal focal keys, so only the one at 1 enters the focal set. It
  // is a dead end (1 -> 2 breaks the length limit of 3); the search must go on with the one at 2.
  const CostMatrix costs = {{0, 1, 1}, {1, 0, 5}, {1, 1, 0}};
  const Problem problem = InstanceBuilder()
                              .AddNode(0)
                              .AddNode(1)
                              .AddNode(2)
                              .AddAgent(0, "v", 0, 0, 3.0)
                              .SetCosts("v", costs)
                              .Build();
  Solver solver(problem, MakeOptions(MinSum));
  bool found = false;
  CaptureOutput([&] { found = solver.Search(); });
  ASSERT_TRUE(found);
  EXPECT_EQ(solver.GetResult().paths.at(0), (std::vector<std::int64_t>{0, 2, 1, 0}));
  EXPECT_DOUBLE_EQ(solver.GetResult().times.at(0), 3.0);
}

TEST(SolverSearchTest, MemoryBudgetEndsTheSearchLikeATimeout) {
  const ScopedEnv budget("ORVIK_MEMORY_LIMIT_MB", "1");
  const Problem problem = RandomInstance(20, 2, 5);
  Solver solver(problem, MakeOptions(MinSum, true, 30.0));
  const std::string err = CaptureOutput([&] { solver.Search(); }).err;
  EXPECT_NE(err.find("[warning] search stopped: memory budget of 1 MiB reached\n"),
            std::string::npos);
  const Result result = solver.GetResult();
  EXPECT_TRUE(result.timeout);
  // Two agents take about 120 bytes per state: 7168 states fit in 1 MiB, 11264 do not, so the
  // search ends when the store is full at 7168.
  EXPECT_EQ(result.n_generated, 7168);
}

struct IdleAgentsCase {
  const char* name;
  std::uint64_t agents;
  std::uint64_t targets;
  bool shared_depot;
  ObjectiveType objective;
};

// More agents than work: the agents without a target end their routes where they stand, and
// each such state must survive beside the one where another agent did so.
TEST(SolverSearchTest, AgentsWithoutWorkStayAtTheirDepots) {
  const std::vector<IdleAgentsCase> cases = {
      {"three agents one target shared depot", 3, 1, true, MinSum},
      {"three agents one target shared depot min-max", 3, 1, true, MinMax},
      {"four agents two targets shared depot", 4, 2, true, MinMax},
      {"three agents one target own depots", 3, 1, false, MinSum},
      {"four agents one target own depots min-max", 4, 1, false, MinMax},
  };
  for (const IdleAgentsCase& c : cases) {
    InstanceBuilder builder;
    const std::uint64_t depots = c.shared_depot ? 1 : c.agents;
    for (std::uint64_t d = 0; d < depots; ++d) {
      builder.AddNode(d, 0.0, static_cast<double>(d));
    }
    for (std::uint64_t t = 0; t < c.targets; ++t) {
      builder.AddNode(depots + t, 5.0 + static_cast<double>(t), 0.0);
    }
    for (std::uint64_t a = 0; a < c.agents; ++a) {
      const std::uint64_t depot = c.shared_depot ? 0 : a;
      builder.AddAgent(a, "v", depot, depot);
    }
    builder.SetEuclideanCosts("v");
    Solver solver(builder.Build(), MakeOptions(c.objective));
    ASSERT_TRUE(solver.Search()) << c.name;
    const Result result = solver.GetResult();
    ASSERT_EQ(result.paths.size(), c.agents) << c.name;
    ExpectCoversAllPoints(result, depots + c.targets);
    std::uint64_t idle = 0;
    for (const auto& [agent, route] : result.paths) {
      const auto depot = static_cast<std::int64_t>(c.shared_depot ? 0 : agent);
      EXPECT_EQ(route.front(), depot) << c.name;
      EXPECT_EQ(route.back(), depot) << c.name;
      idle += route.size() == 2 ? 1 : 0;
    }
    EXPECT_GE(idle, c.agents - c.targets) << c.name;
  }
}

struct SharedDepotsCase {
  const char* name;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> agents;  // start and end node of each
  bool return_to_end;
  ObjectiveType objective;
};

// Agents whose start or end point is another agent's start or end point too: each may still
// begin at its start and end at its end (or, on open routes, back at its start), and the
// post-optimiser takes their routes for valid ones.
TEST(SolverSearchTest, AgentsEndWhereOthersStartOrEnd) {
  const std::vector<SharedDepotsCase> cases = {
      {"open routes 0-1, 1-1, 1-0", {{0, 1}, {1, 1}, {1, 0}}, false, MinMax},
      {"open routes 0-1, 1-1, 1-0 min-sum", {{0, 1}, {1, 1}, {1, 0}}, false, MinSum},
      {"open routes swap depots", {{1, 0}, {0, 0}}, false, MinSum},
      {"closed route ends at another's start", {{0, 0}, {1, 0}}, true, MinMax},
      {"open route ends at another's start", {{0, 0}, {1, 0}}, false, MinMax},
      {"closed routes swap depots", {{0, 1}, {1, 0}}, true, MinSum},
  };
  for (const SharedDepotsCase& c : cases) {
    InstanceBuilder builder;
    builder.AddNode(0, 0, 0).AddNode(1, 10, 0);
    builder.AddNode(2, 2, 3).AddNode(3, 4, -2).AddNode(4, 6, 4).AddNode(5, 8, -1).AddNode(6, 5, 0);
    for (std::size_t a = 0; a < c.agents.size(); ++a) {
      builder.AddAgent(a, "v", c.agents[a].first, c.agents[a].second);
    }
    builder.SetEuclideanCosts("v");
    Solver solver(builder.Build(), MakeOptions(c.objective, c.return_to_end));
    bool found = false;
    const auto captured = CaptureOutput([&] { found = solver.Search(); });
    ASSERT_TRUE(found) << c.name;
    EXPECT_EQ(captured.err.find("invalid path"), std::string::npos) << c.name << captured.err;
    const Result result = solver.GetResult();
    const RouteEvaluator evaluator(solver.view());
    std::multiset<std::int64_t> served;
    for (const auto& [agent, route] : result.paths) {
      const auto start = static_cast<std::int64_t>(c.agents[agent].first);
      const auto end = static_cast<std::int64_t>(c.agents[agent].second);
      ASSERT_GE(route.size(), 2u) << c.name;
      EXPECT_EQ(route.front(), start) << c.name;
      EXPECT_TRUE(route.back() == end || (!c.return_to_end && route.back() == start)) << c.name;
      served.insert(route.begin() + 1, route.end() - 1);
      const RouteEvaluation check = evaluator.Evaluate(route, agent);
      EXPECT_TRUE(check.valid) << c.name << " agent " << agent;
      EXPECT_DOUBLE_EQ(check.cost, result.times.at(agent)) << c.name << " agent " << agent;
    }
    EXPECT_EQ(served, (std::multiset<std::int64_t>{2, 3, 4, 5, 6})) << c.name;
  }
}

// The set-up refuses the instance before it builds the graph, whose size grows with the square
// of the point count.
TEST(SolverSearchTest, RejectsMoreThan256Points) {
  InstanceBuilder builder;
  for (std::uint64_t p = 0; p < 257; ++p) {
    builder.AddNode(p, static_cast<double>(p));
  }
  builder.AddAgent(0, "v", 0, 0);
  const Problem problem = builder.Build();
  try {
    CaptureOutput([&] { Solver solver(problem, MakeOptions(MinSum)); });
    FAIL() << "expected an exception from the set-up";
  } catch (const std::out_of_range&) {
    FAIL() << "must not be an out-of-range error";
  } catch (const std::runtime_error& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("257"), std::string::npos) << text;
    EXPECT_NE(text.find("256"), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace plenro

namespace plenro {
namespace {

// The search reaches every step through the virtual table, so a subclass can replace one.
class NonZeroRootSolver : public Solver {
 public:
  using Solver::Solver;
  double TotalCost(const SearchState& state) const override {
    return state.id == 0 ? 1.5 : Solver::TotalCost(state);
  }
};

class CountingSolver : public Solver {
 public:
  using Solver::Solver;
  std::int64_t NewStateId() override {
    ++ids_handed_out;
    return Solver::NewStateId();
  }
  std::int64_t ids_handed_out = 0;
};

TEST(SolverSearchTest, StepsAreCalledThroughTheVirtualTable) {
  const Problem problem = testing_support::InstanceBuilder()
                              .AddNode(0, 0)
                              .AddNode(1, 1)
                              .AddAgent(0, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .Build();
  NonZeroRootSolver broken(problem, testing_support::MakeOptions(MinSum));
  try {
    broken.Search();
    ADD_FAILURE() << "expected std::runtime_error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("Initial length is not 0 !"), std::string::npos);
  }
  CountingSolver counting(problem, testing_support::MakeOptions(MinSum));
  ASSERT_TRUE(counting.Search());
  EXPECT_EQ(counting.ids_handed_out, counting.GetResult().n_generated);
}

}  // namespace
}  // namespace plenro
