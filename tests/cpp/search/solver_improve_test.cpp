#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "plenro/instance/route_evaluation.h"
#include "plenro/model/objective.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::CaptureOutput;
using testing_support::InstanceBuilder;
using testing_support::MakeOptions;

// Points on a jittered grid: point 0 is the depot of every agent.
// With a window width, every third point has a window opening at its x coordinate.
Problem GridInstance(std::uint64_t points, std::uint64_t agents, double window = 0.0) {
  InstanceBuilder builder;
  for (std::uint64_t v = 0; v < points; ++v) {
    const double x = static_cast<double>(v % 17) * 7.0 + static_cast<double>((v * 37) % 5);
    const double y = static_cast<double>(v / 17) * 6.0 + static_cast<double>((v * 53) % 7);
    builder.AddNode(v, x, y);
    if (window > 0.0 && v > 0 && v % 3 == 0) {
      builder.SetWindow(v, x, x + window);
    }
  }
  for (std::uint64_t a = 0; a < agents; ++a) {
    builder.AddAgent(a, "robot", 0, 0);
  }
  builder.SetEuclideanCosts("robot");
  return builder.Build();
}

Options ImproveOptions(ObjectiveType objective, std::int64_t iterations, std::uint64_t seed = 1,
                       double time_limit = 60.0) {
  Options options = MakeOptions(objective, true, time_limit);
  options.improve = true;
  options.seed = seed;
  options.improve_iterations = iterations;
  return options;
}

// Every route of the result accepted by the shared route evaluation at its reported cost.
void ExpectValidResult(const Solver& solver, const Result& result) {
  const RouteEvaluator validator(solver.view());
  ASSERT_EQ(result.paths.size(), solver.agents().size());
  for (const auto& [agent, path] : result.paths) {
    const RouteEvaluation check = validator.Evaluate(path, agent);
    EXPECT_TRUE(check.valid) << "agent " << agent;
    EXPECT_NEAR(check.cost, result.times.at(agent), 1e-9) << "agent " << agent;
  }
}

double Objective(ObjectiveType objective, const Result& result) {
  RouteTotals totals;
  for (const auto& [agent, cost] : result.times) {
    totals.Add(cost);
  }
  return ObjectiveValue(objective, totals);
}

TEST(SolverImprove, ImprovementOffLeavesTheSearchAsItIs) {
  // Small enough for the search to finish before its time limit: the counters are exact.
  const Problem problem = GridInstance(7, 2, 150.0);
  Options off = MakeOptions(MinMax);
  off.seed = 9;  // settings of the improvement alone change nothing while it is off
  off.improve_iterations = 50;
  Solver plain(problem, MakeOptions(MinMax));
  Solver with_settings(problem, off);
  ASSERT_FALSE(with_settings.GetResult().timeout);
  CaptureOutput([&] {
    plain.Search();
    with_settings.Search();
  });
  const Result a = plain.GetResult();
  const Result b = with_settings.GetResult();
  ASSERT_FALSE(a.timeout);
  EXPECT_EQ(a.paths, b.paths);
  EXPECT_EQ(a.times, b.times);
  EXPECT_EQ(a.n_generated, b.n_generated);
  EXPECT_EQ(a.n_expanded, b.n_expanded);
  EXPECT_EQ(plain.GetAnytimeResults().size(), with_settings.GetAnytimeResults().size());
  EXPECT_EQ(with_settings.improve_iterations(), 0);
}

class SolverImproveObjective : public ::testing::TestWithParam<ObjectiveType> {};

TEST_P(SolverImproveObjective, KeepsTheBestAndRecordsEachImprovement) {
  const ObjectiveType objective = GetParam();
  const Problem problem = GridInstance(30, 3, 150.0);
  Solver search_only(problem, MakeOptions(objective, true, 1.0));
  Solver improved(problem, ImproveOptions(objective, 150));
  CaptureOutput([&] {
    search_only.Search();
    ASSERT_TRUE(improved.Search());
  });
  const Result result = improved.GetResult();
  ExpectValidResult(improved, result);
  if (!search_only.GetResult().paths.empty()) {
    EXPECT_LE(Objective(objective, result), Objective(objective, search_only.GetResult()) + 1e-9);
  }
  const std::vector<AnytimeEntry> history = improved.GetAnytimeResults();
  ASSERT_FALSE(history.empty());
  for (std::size_t i = 1; i < history.size(); ++i) {
    EXPECT_LE(history[i - 1].time, history[i].time);
  }
  // The last recorded solution is the one reported, recorded when it was found.
  EXPECT_EQ(history.back().result.paths, result.paths);
  EXPECT_EQ(history.back().time, result.last_update_time);
  EXPECT_EQ(improved.improve_iterations(), 150);
  EXPECT_GT(improved.improve_moves(), 0);
  EXPECT_FALSE(result.timeout) << "the iteration limit, not the clock, ended the run";
}

INSTANTIATE_TEST_SUITE_P(Objectives, SolverImproveObjective, ::testing::Values(MinMax, MinSum),
                         [](const auto& info) {
                           return std::string(info.param == MinMax ? "MinMax" : "MinSum");
                         });

TEST(SolverImprove, SameSeedAndIterationLimitGiveTheSameRoutes) {
  const Problem problem = GridInstance(25, 4);
  Solver a(problem, ImproveOptions(MinSum, 60, 7));
  Solver b(problem, ImproveOptions(MinSum, 60, 7));
  CaptureOutput([&] {
    a.Search();
    b.Search();
  });
  EXPECT_EQ(a.GetResult().paths, b.GetResult().paths);
  EXPECT_EQ(a.GetResult().times, b.GetResult().times);
}

TEST(SolverImprove, RunsToTheTimeLimitWithoutAnIterationLimit) {
  const Problem problem = GridInstance(80, 3);
  Solver solver(problem, ImproveOptions(MinMax, 0, 1, 0.5));
  CaptureOutput([&] { EXPECT_TRUE(solver.Search()); });
  EXPECT_TRUE(solver.GetResult().timeout);
  ExpectValidResult(solver, solver.GetResult());
}

TEST(SolverImprove, WithoutAnIterationLimitARunEndsWhenItStopsImproving) {
  const Problem problem = GridInstance(6, 2);
  Solver solver(problem, ImproveOptions(MinSum, 0, 1, 1e6));
  CaptureOutput([&] { EXPECT_TRUE(solver.Search()); });
  EXPECT_FALSE(solver.GetResult().timeout);
  EXPECT_GE(solver.improve_iterations(), 5000);
  ExpectValidResult(solver, solver.GetResult());
}

TEST(SolverImprove, AboveTheSearchLimitTheEngineSolvesWithoutAPlannerGraph) {
  const Problem problem = GridInstance(300, 4, 5000.0);
  Solver solver(problem, ImproveOptions(MinMax, 5));
  EXPECT_EQ(solver.graph(), nullptr);
  EXPECT_EQ(solver.view().num_points(), 300u);
  bool found = false;
  CaptureOutput([&] { found = solver.Search(); });
  ASSERT_TRUE(found);
  const Result result = solver.GetResult();
  ExpectValidResult(solver, result);
  std::vector<int> served(300, 0);
  for (const auto& [agent, path] : result.paths) {
    for (std::size_t i = 1; i + 1 < path.size(); ++i) {
      ++served[static_cast<std::size_t>(path[i])];
    }
  }
  EXPECT_EQ(served[0], 0);
  EXPECT_EQ(std::count(served.begin() + 1, served.end(), 1), 299);
  EXPECT_EQ(result.n_generated, 0) << "no search ran";
}

TEST(SolverImprove, AboveTheSearchLimitWithoutImprovementTheSetUpRefuses) {
  const Problem problem = GridInstance(257, 2);
  try {
    Solver solver(problem, MakeOptions(MinMax));
    FAIL() << "expected the size error";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "the instance has 257 points, but the search handles at most 256 points");
  }
}

TEST(SolverImprove, APointNoAgentMayServeFailsTheRunWithTheReasonOnStandardError) {
  InstanceBuilder builder;
  builder.AddNode(0).AddNode(1, 1, 0).AddNode(2, 2, 0).AddAgent(0, "A", 0, 0);
  builder.AddAgent(1, "B", 0, 0);
  builder.SetEuclideanCosts("A").SetEuclideanCosts("B");
  builder.Allow(2, {"C"});  // a type no agent has
  const Problem problem = builder.Build();

  Solver plain(problem, MakeOptions(MinSum, true, 1.0));
  CaptureOutput([&] { EXPECT_FALSE(plain.Search()); });

  Solver improving(problem, ImproveOptions(MinSum, 5, 1, 1.0));
  bool found = true;
  const auto captured = CaptureOutput([&] { found = improving.Search(); });
  EXPECT_FALSE(found);
  EXPECT_TRUE(improving.GetResult().paths.empty());
  EXPECT_EQ(captured.err,
            "[warning] point 2 (node id 2) cannot be served: no agent's type may serve it\n");
}

// Two depots and sites around them; agent a runs from its start to its end node.
Problem SharedDepotsInstance(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& agents,
                             std::uint64_t sites) {
  InstanceBuilder builder;
  builder.AddNode(0, 0, 0).AddNode(1, 60, 10);
  for (std::uint64_t v = 2; v < 2 + sites; ++v) {
    builder.AddNode(v, static_cast<double>((v * 37) % 61), static_cast<double>((v * 53) % 41));
  }
  for (std::size_t a = 0; a < agents.size(); ++a) {
    builder.AddAgent(a, "robot", agents[a].first, agents[a].second);
  }
  builder.SetEuclideanCosts("robot");
  return builder.Build();
}

struct HandOverCase {
  const char* name;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> agents;
  bool return_to_end;
};

void PrintTo(const HandOverCase& c, std::ostream* os) {
  *os << c.name;
}

class SolverImproveHandOver
    : public ::testing::TestWithParam<std::tuple<HandOverCase, ObjectiveType>> {};

// The solution the search hands over stands unless the engine beats it, also where the agents'
// start and end points are other agents' depots: the result is valid and no worse than any
// solution recorded before it, and the history ends with it.
TEST_P(SolverImproveHandOver, NeverEndsWorseThanTheSearchsSolution) {
  const auto& [c, objective] = GetParam();
  const Problem problem = SharedDepotsInstance(c.agents, 26);
  for (const std::uint64_t seed : {1u, 2u, 3u}) {
    Options options = ImproveOptions(objective, 40, seed);
    options.return_to_end = c.return_to_end;
    Solver solver(problem, options);
    bool found = false;
    const auto captured = CaptureOutput([&] { found = solver.Search(); });
    ASSERT_TRUE(found) << "seed " << seed;
    EXPECT_EQ(captured.err.find("invalid path"), std::string::npos) << captured.err;
    const Result result = solver.GetResult();
    ExpectValidResult(solver, result);
    const std::vector<AnytimeEntry> history = solver.GetAnytimeResults();
    ASSERT_FALSE(history.empty());
    for (const AnytimeEntry& entry : history) {
      EXPECT_LE(Objective(objective, result), Objective(objective, entry.result) + 1e-9)
          << "seed " << seed << ", entry at " << entry.time;
    }
    EXPECT_EQ(history.back().result.paths, result.paths) << "seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SolverImproveHandOver,
    ::testing::Combine(
        ::testing::Values(
            HandOverCase{"EndsAtAnotherAgentsStart", {{0, 0}, {1, 0}}, true},
            HandOverCase{"SwapDepots", {{0, 1}, {1, 0}}, true},
            HandOverCase{"OpenRoutesThroughEachOthersDepots", {{0, 1}, {1, 1}, {1, 0}}, false},
            HandOverCase{"OpenRoutesEndAtAnotherAgentsStart", {{1, 0}, {0, 0}}, false}),
        ::testing::Values(MinMax, MinSum)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == MinMax ? "MinMax" : "MinSum");
    });

// On a small instance the search runs on after its first solution before the improvement
// starts: its solutions are those of the search alone, and the improvement starts from the best.
TEST(SolverImprove, OnASmallInstanceTheSearchRunsOnFirst) {
  const Problem problem = SharedDepotsInstance({{0, 1}, {1, 0}}, 9);
  Solver alone(problem, MakeOptions(MinMax, true, 60.0));
  Solver improving(problem, ImproveOptions(MinMax, 1, 1));
  CaptureOutput([&] {
    ASSERT_TRUE(alone.Search());
    ASSERT_TRUE(improving.Search());
  });
  ASSERT_FALSE(alone.GetResult().timeout);
  const std::vector<AnytimeEntry> searched = alone.GetAnytimeResults();
  ASSERT_GE(searched.size(), 4u) << "the search alone finds more than one solution";
  const std::vector<AnytimeEntry> history = improving.GetAnytimeResults();
  ASSERT_GE(history.size(), searched.size());
  for (std::size_t i = 0; i < searched.size(); ++i) {
    EXPECT_EQ(history[i].result.paths, searched[i].result.paths) << "entry " << i;
  }
  EXPECT_LE(Objective(MinMax, improving.GetResult()), Objective(MinMax, alone.GetResult()) + 1e-9);
}

// An agent whose type may serve neither its end point nor, on an open route, its start point
// can end its route nowhere: the run fails at once and says which agent and why.
TEST(SolverImprove, AnAgentThatCanEndNowhereIsNamed) {
  for (const bool return_to_end : {true, false}) {
    InstanceBuilder builder;
    builder.AddNode(0).AddNode(1, 4, 0).AddNode(2, 0, 4).AddNode(3, 2, 2);
    builder.AddAgent(0, "A", 0, 0).AddAgent(1, "A", 2, 1);
    builder.SetEuclideanCosts("A");
    builder.Allow(1, {"C"}).Allow(2, {"C"});  // a type no agent has
    const Problem problem = builder.Build();
    Options plain_options = MakeOptions(MinSum, return_to_end, 1.0);
    Solver plain(problem, plain_options);
    CaptureOutput([&] { EXPECT_FALSE(plain.Search()); });

    Options options = ImproveOptions(MinSum, 5, 1, 1.0);
    options.return_to_end = return_to_end;
    Solver improving(problem, options);
    bool found = true;
    const auto captured = CaptureOutput([&] { found = improving.Search(); });
    EXPECT_FALSE(found);
    EXPECT_EQ(captured.err,
              std::string("[warning] agent 1 (id 1) cannot end its route: its type may not serve "
                          "its end point 1 (node id 1)") +
                  (return_to_end ? ""
                                 : ", nor its start point 2 (node id 2), where an open route may "
                                   "end too") +
                  "\n");
  }
}

}  // namespace
}  // namespace plenro
