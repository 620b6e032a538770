#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "plenro/plugins/composite_constraint_checker.h"
#include "plenro/plugins/composite_post_optimizer.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/default_expansion.h"
#include "plenro/plugins/default_heuristic.h"
#include "plenro/plugins/view_post_optimizer.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::CaptureOutput;
using testing_support::InstanceBuilder;
using testing_support::MakeOptions;
using testing_support::ScopedEnv;

InstanceBuilder ThreePoints() {
  InstanceBuilder builder;
  builder.AddNode(5, 0).AddNode(6, 1).AddNode(7, 2).AddAgent(1, "v", 5, 5).SetEuclideanCosts("v");
  return builder;
}

// The cost vector of the arc u -> v in the solver's cost table, one entry per type; empty when
// there is no arc.
CostVector ArcCosts(const Solver& solver, std::uint64_t u, std::uint64_t v) {
  const CostTable& table = solver.view().costs();
  CostVector costs;
  if (table.HasArc(u, v)) {
    for (std::uint64_t t = 0; t < table.CostDim(); ++t) {
      costs.push_back(table.Cost(u, v, t));
    }
  }
  return costs;
}

std::vector<std::string> CheckerNames(const Solver& solver) {
  const ConstraintCheckerPlugin& checker = solver.constraint_checker();
  const auto* composite = dynamic_cast<const CompositeConstraintChecker*>(&checker);
  if (composite == nullptr) {
    return {checker.Name()};
  }
  std::vector<std::string> names = {checker.Name()};
  for (const auto& member : composite->Members()) {
    names.push_back(member->Name());
  }
  return names;
}

TEST(SolverSetupTest, CheckerFollowsWindowsAndLengthLimits) {
  struct Case {
    bool window;
    double max_length;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {false, 0.0, {"DefaultConstraintChecker"}},
      {false, -3.0, {"DefaultConstraintChecker"}},
      {true,
       0.0,
       {"CompositeConstraintChecker", "DefaultConstraintChecker", "TimeConstraintChecker"}},
      {false,
       7.0,
       {"CompositeConstraintChecker", "DefaultConstraintChecker", "TimeLimitConstraintChecker"}},
      {true,
       7.0,
       {"CompositeConstraintChecker", "DefaultConstraintChecker", "TimeConstraintChecker",
        "TimeLimitConstraintChecker"}},
  };
  for (const Case& c : cases) {
    InstanceBuilder builder;
    builder.AddNode(5, 0).AddNode(6, 1).AddAgent(1, "v", 5, 5, c.max_length);
    builder.SetEuclideanCosts("v");
    if (c.window) {
      builder.SetWindow(6, 0.0, 50.0);
    }
    const Solver solver(builder.Build(), MakeOptions(MinSum));
    EXPECT_EQ(CheckerNames(solver), c.names) << c.window << " " << c.max_length;
  }
}

TEST(SolverSetupTest, OtherPluginsAndTheirSetUpData) {
  const Problem problem = ThreePoints().AddAgent(2, "v", 6, 7).Build();
  const Solver min_sum(problem, MakeOptions(MinSum));
  const Solver min_max(problem, MakeOptions(MinMax));
  EXPECT_EQ(min_sum.objective().Name(), "MinSumObjective");
  EXPECT_EQ(min_max.objective().Name(), "DefaultObjective");
  EXPECT_EQ(min_sum.focal_comparator().Name(), "DefaultFocalComparator");
  EXPECT_EQ(min_sum.expansion().Name(), "DefaultExpansion");
  EXPECT_EQ(min_sum.post_optimizer().Name(), "CompositePostOptimizer");
  const auto& post = dynamic_cast<const CompositePostOptimizer&>(min_sum.post_optimizer());
  EXPECT_EQ(post.NumOptimizers(), 2u);

  const auto& heuristic = dynamic_cast<const DefaultHeuristic&>(min_sum.heuristic());
  EXPECT_EQ(heuristic.Goals(), (std::vector<std::uint64_t>{0, 2}));
  EXPECT_EQ(heuristic.NumAgents(), 2u);
  EXPECT_EQ(heuristic.Edges().size(), min_sum.edge_list().size());
  const auto& expansion = dynamic_cast<const DefaultExpansion&>(min_sum.expansion());
  EXPECT_EQ(expansion.NumAgents(), 2u);
  const auto& checker = dynamic_cast<const DefaultConstraintChecker&>(min_sum.constraint_checker());
  EXPECT_EQ(checker.Goals(), (std::vector<std::uint64_t>{0, 2}));

  EXPECT_EQ(min_sum.starts(), (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(min_sum.goals(), (std::vector<std::uint64_t>{0, 2}));
  EXPECT_EQ(min_sum.num_agents(), 2);
  EXPECT_EQ(min_sum.num_types(), 1u);
  EXPECT_TRUE(min_sum.return_to_end());
  EXPECT_EQ(min_sum.time_limit(), 60.0);
  // No planner graph is built from a problem: the costs are the view's table, complete over the
  // 3 points.
  EXPECT_EQ(min_sum.graph(), nullptr);
  EXPECT_EQ(min_sum.view().costs().NumVertex(), 3u);
  std::uint64_t arcs = 0;
  for (std::uint64_t u = 0; u < 3; ++u) {
    for (std::uint64_t v = 0; v < 3; ++v) {
      arcs += ArcCosts(min_sum, u, v).empty() ? 0 : 1;
    }
  }
  EXPECT_EQ(arcs, 6u);
}

TEST(SolverSetupTest, TablesFollowTheProblemsOrder) {
  InstanceBuilder builder;
  builder.AddNode(40, 1, 2).AddNode(30, 3, 4).AddNode(20, 5, 6);
  builder.AddAgent(9, "B", 30, 20).AddAgent(3, "A", 30, 40).AddAgent(4, "B", 40, 40);
  builder.SetEuclideanCosts("A").SetEuclideanCosts("B");
  builder.Allow(40, {"B", "nobody", "A", "B"}).Allow(30, {"A"}).Allow(20, {});
  Problem problem = builder.Build();
  problem.options().return_to_end = false;
  const Solver solver(problem, MakeOptions(MinMax, false, 2.5));

  ASSERT_EQ(solver.points().size(), 3u);
  EXPECT_EQ(solver.points()[0].id, 40u);
  EXPECT_EQ(solver.points()[2].x, 5.0);
  EXPECT_EQ(solver.points()[2].y, 6.0);
  // B is type 0 (first seen), A type 1; repeats and unknown names vanish.
  EXPECT_EQ(solver.points()[0].types, (std::vector<std::uint64_t>{0, 1}));
  EXPECT_EQ(solver.points()[1].types, (std::vector<std::uint64_t>{1}));
  EXPECT_TRUE(solver.points()[2].types.empty());
  ASSERT_EQ(solver.agents().size(), 3u);
  EXPECT_EQ(solver.agents()[0].type, 0);
  EXPECT_EQ(solver.agents()[1].type, 1);
  EXPECT_EQ(solver.agents()[1].id, 3u);
  EXPECT_EQ(solver.starts(), (std::vector<std::uint64_t>{1, 1, 0}));
  EXPECT_EQ(solver.goals(), (std::vector<std::uint64_t>{2, 0, 0}));
  EXPECT_EQ(solver.start_set().size(), 2u);
  EXPECT_EQ(solver.goal_set().size(), 2u);
  EXPECT_FALSE(solver.return_to_end());
  EXPECT_EQ(solver.time_limit(), 2.5);
}

// The view holds what set-up prepared, and every plug-in that reads the instance reads it.
TEST(SolverSetupTest, OneViewHoldsTheInstanceAndEveryPluginReadsIt) {
  InstanceBuilder builder;
  builder.AddNode(40).AddNode(30).AddNode(20).AddNode(10);
  builder.AddAgent(9, "B", 30, 20, 50.0).AddAgent(3, "A", 30, 40);
  builder.SetEuclideanCosts("A").SetCosts("B", {{0, 1}, {2, 0}}).SetWindow(10, 1.0, 8.0);
  const Solver solver(builder.Build(), MakeOptions(MinMax, false));
  const InstanceView& view = solver.view();
  EXPECT_EQ(view.num_points(), 4u);
  EXPECT_EQ(view.num_agents(), 2u);
  EXPECT_EQ(view.starts(), solver.starts());
  EXPECT_EQ(view.goals(), solver.goals());
  EXPECT_TRUE(view.IsStart(1));
  EXPECT_TRUE(view.IsGoal(2));
  EXPECT_TRUE(view.HasWindow(3));
  EXPECT_FALSE(view.return_to_end());
  EXPECT_EQ(view.MaxLength(0), 50.0);
  EXPECT_EQ(view.Cost(0, 1, 0), 1.0);
  EXPECT_EQ(view.Cost(0, 2, 0), kNoConnection);  // not in B's matrix

  const auto& composite =
      dynamic_cast<const CompositeConstraintChecker&>(solver.constraint_checker());
  const auto& plain = dynamic_cast<const DefaultConstraintChecker&>(*composite.Members().at(0));
  EXPECT_EQ(&plain.view(), &view);
  const auto& post = dynamic_cast<const CompositePostOptimizer&>(solver.post_optimizer());
  ASSERT_EQ(post.NumOptimizers(), 2u);
  for (const auto& member : post.Members()) {
    EXPECT_EQ(&dynamic_cast<const ViewPostOptimizer&>(*member).view(), &view);
  }
  const auto& heuristic = dynamic_cast<const DefaultHeuristic&>(solver.heuristic());
  EXPECT_EQ(heuristic.Goals(), solver.goals());
}

TEST(SolverSetupTest, MissingCostsAreNoConnectionForThatTypeOnly) {
  InstanceBuilder builder;
  builder.AddNode(0).AddNode(1).AddNode(2).AddAgent(0, "A", 0, 0).AddAgent(1, "B", 0, 0);
  builder.SetCosts("A", {{0, 4}, {5}});  // rows and columns cut short
  builder.SetCosts("B", {{0, 1, 2}, {3, 0, 4}, {5, 6, 0}});
  const Solver solver(builder.Build(), MakeOptions(MinSum));
  EXPECT_EQ(ArcCosts(solver, 0, 1), (CostVector{4.0, 1.0}));
  EXPECT_EQ(ArcCosts(solver, 1, 0), (CostVector{5.0, 3.0}));
  EXPECT_EQ(ArcCosts(solver, 0, 2), (CostVector{9999.0, 2.0}));
  EXPECT_EQ(ArcCosts(solver, 2, 1), (CostVector{9999.0, 6.0}));
  EXPECT_TRUE(ArcCosts(solver, 1, 1).empty());
}

TEST(SolverSetupTest, UnreachableDepotIsReportedOnceAndCountsAsVisited) {
  // Point 2 is an end point with no type-0 way out; point 3 is a target in the same state.
  const CostMatrix costs = {
      {0, 1, 1, 9999}, {1, 0, 1, 9999}, {9999, 9999, 0, 9999}, {9999, 9999, 9999, 0}};
  InstanceBuilder builder;
  builder.AddNode(0).AddNode(1).AddNode(2).AddNode(3);
  builder.AddAgent(0, "v", 0, 2).AddAgent(1, "v", 1, 2).SetCosts("v", costs);
  const Problem problem = builder.Build();
  std::unique_ptr<Solver> solver;
  const auto captured =
      CaptureOutput([&] { solver = std::make_unique<Solver>(problem, MakeOptions(MinSum)); });
  EXPECT_EQ(captured.err, "point: 2 can't be reached\n");
  EXPECT_EQ(solver->pre_visited(), (std::vector<std::uint64_t>{2}));
}

TEST(SolverSetupTest, BlockedPairsAreCountedAndListedOnRequest) {
  // No type can travel between 1 and 2 in either direction.
  const CostMatrix costs = {{0, 1, 1}, {1, 0, 9999}, {1, 9999, 0}};
  const Problem problem = InstanceBuilder()
                              .AddNode(0)
                              .AddNode(1)
                              .AddNode(2)
                              .AddAgent(0, "v", 0, 0)
                              .SetCosts("v", costs)
                              .Build();
  for (const bool debug : {false, true}) {
    const ScopedEnv env("MTSP_DEBUG_TW_EDGES", debug ? "" : nullptr);
    const auto captured = CaptureOutput([&] { Solver solver(problem, MakeOptions(MinSum)); });
    const std::string listed = debug ? "edge: 2->1 cost: 1.79769e+308\n" : "";
    EXPECT_EQ(captured.out,
              listed + "[TW-MST] blocked edges: 1 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
  }
  const Solver solver(problem, MakeOptions(MinSum));
  ASSERT_EQ(solver.edge_list().size(), 2u);
  for (const WeightedEdge& edge : solver.edge_list()) {
    EXPECT_EQ(edge.v, 0);
    EXPECT_EQ(edge.weight, 1.0);
  }
}

TEST(SolverSetupTest, PairWeightWaitsForTheLaterWindow) {
  // a = 0 with window (0, 10), b = 1 with window (20, 30), travel 2: leaving a at 10 at the
  // latest still means waiting 8 at b, so w(a, b) = 10; b -> a is too late (blocked).
  const Problem problem = InstanceBuilder()
                              .AddNode(0)
                              .AddNode(1)
                              .AddAgent(0, "v", 0, 0)
                              .SetCosts("v", {{0, 2}, {2, 0}})
                              .SetWindow(0, 0, 10)
                              .SetWindow(1, 20, 30)
                              .Build();
  const Solver solver(problem, MakeOptions(MinSum));
  ASSERT_EQ(solver.edge_list().size(), 1u);
  EXPECT_EQ(solver.edge_list()[0].u, 1);
  EXPECT_EQ(solver.edge_list()[0].v, 0);
  EXPECT_EQ(solver.edge_list()[0].weight, 10.0);
}

TEST(SolverSetupTest, EdgeListTakesTheCheapestTypeAndSortsByWeight) {
  InstanceBuilder builder;
  builder.AddNode(0).AddNode(1).AddNode(2).AddAgent(0, "A", 0, 0).AddAgent(1, "B", 0, 0);
  builder.SetCosts("A", {{0, 7, 3}, {7, 0, 9999}, {3, 9999, 0}});
  builder.SetCosts("B", {{0, 8, 9999}, {6, 0, 4}, {9999, 9999, 0}});
  const Solver solver(builder.Build(), MakeOptions(MinSum));
  const std::vector<WeightedEdge>& edges = solver.edge_list();
  ASSERT_EQ(edges.size(), 3u);
  EXPECT_EQ(edges[0].weight, 3.0);  // 2-0 by A
  EXPECT_EQ(edges[1].weight, 4.0);  // 2-1 by B, one direction only
  EXPECT_EQ(edges[2].weight, 6.0);  // 1-0 by B, cheaper back than forth
  EXPECT_EQ(edges[1].u, 2);
  EXPECT_EQ(edges[1].v, 1);
}

TEST(SolverSetupTest, WarningsForNodesWithoutAssignmentAndUnknownWindowNodes) {
  const Problem problem = InstanceBuilder()
                              .AddNode(3)
                              .AddNode(4)
                              .AddAgent(0, "v", 3, 3)
                              .SetCosts("v", {{0, 1}, {1, 0}})
                              .WithoutDefaultAssignments()
                              .Allow(3, {"v"})
                              .SetWindow(99, 0, 1)
                              .Build();
  std::unique_ptr<Solver> solver;
  const auto captured =
      CaptureOutput([&] { solver = std::make_unique<Solver>(problem, MakeOptions(MinSum)); });
  EXPECT_EQ(captured.err,
            "[warning] node 4 has no assignment constraint; allowing all types\n"
            "[warning] time window node id 99 not found in nodes\n");
  EXPECT_TRUE(solver->time_windows().empty());
  EXPECT_EQ(solver->points()[1].types, (std::vector<std::uint64_t>{0}));
  EXPECT_EQ(solver->constraint_checker().Name(), "DefaultConstraintChecker");
}

TEST(SolverSetupTest, UnknownIdsThrowOutOfRange) {
  const auto expect_map_at = [](const Problem& problem) {
    try {
      Solver solver(problem, MakeOptions(MinSum));
      ADD_FAILURE() << "expected std::out_of_range";
    } catch (const std::out_of_range& error) {
      EXPECT_STREQ(error.what(), "_Map_base::at");
    }
  };
  expect_map_at(InstanceBuilder().AddNode(0).AddAgent(0, "v", 0, 8).Build());
  expect_map_at(InstanceBuilder().AddNode(0).AddAgent(0, "v", 8, 0).Build());
  expect_map_at(InstanceBuilder().AddNode(0).AddAgent(0, "v", 0, 0).SetCosts("w", {{0}}).Build());
}

TEST(SolverSetupTest, OversizedMatricesAreRejected) {
  const auto expect_rejected = [](const CostMatrix& matrix, const std::string& fragment) {
    const Problem problem = InstanceBuilder()
                                .AddNode(0)
                                .AddNode(1)
                                .AddAgent(0, "car", 0, 0)
                                .SetCosts("car", matrix)
                                .Build();
    try {
      Solver solver(problem, MakeOptions(MinSum));
      ADD_FAILURE() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& error) {
      const std::string text = error.what();
      EXPECT_NE(text.find("'car'"), std::string::npos) << text;
      EXPECT_NE(text.find(fragment), std::string::npos) << text;
    }
  };
  expect_rejected({{0, 1}, {1, 0}, {2, 2}}, "3 rows");
  expect_rejected({{0, 1}, {1, 0, 5}}, "3 entries");
}

TEST(SolverSetupTest, AgentFiledUnderAnotherIdIsRejected) {
  Problem problem = InstanceBuilder().AddNode(0).AddNode(1).SetCosts("v", {{0, 1}, {1, 0}}).Build();
  Agent agent;
  agent.id = 17;
  agent.type = "v";
  problem.add_agent(agent, 18);
  try {
    CaptureOutput([&] { Solver solver(problem, MakeOptions(MinSum)); });
    ADD_FAILURE() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("position 0"), std::string::npos) << text;
    EXPECT_NE(text.find("id 17"), std::string::npos) << text;
  }
}

struct RefusalCase {
  const char* name;
  Problem problem;
  Options options;
  std::vector<std::string> fragments;  // each must occur in the message
};

Problem TwoAgentsUnderOneId(const std::string& first_type, const std::string& second_type) {
  return InstanceBuilder()
      .AddNode(0)
      .AddNode(1, 1)
      .AddNode(2, 2)
      .AddAgent(7, first_type, 0, 0)
      .AddAgent(7, second_type, 0, 0)
      .SetEuclideanCosts(first_type)
      .SetEuclideanCosts(second_type)
      .Build();
}

TEST(SolverSetupTest, RefusesWhatWouldRunWrong) {
  Options nan_limit = MakeOptions(MinSum);
  nan_limit.time_limit = std::nan("");
  const std::vector<RefusalCase> cases = {
      // Both agents would drive with one type's permissions and costs.
      {"different types under one id",
       TwoAgentsUnderOneId("car", "drone"),
       MakeOptions(MinSum),
       {"id 7", "'car'", "'drone'", "positions 0 and 1"}},
      {"a later agent clashes with the first of two",
       InstanceBuilder()
           .AddNode(0)
           .AddNode(1, 1)
           .AddAgent(7, "car", 0, 0)
           .AddAgent(7, "car", 0, 0)
           .AddAgent(7, "boat", 1, 1)
           .SetEuclideanCosts("car")
           .SetEuclideanCosts("boat")
           .Build(),
       MakeOptions(MinMax),
       {"id 7", "'car'", "'boat'", "positions 1 and 2"}},
      // A limit that is not a number is never reached.
      {"NaN time limit", ThreePoints().Build(), nan_limit, {"time limit", "NaN"}},
  };
  for (const RefusalCase& c : cases) {
    try {
      CaptureOutput([&] { Solver solver(c.problem, c.options); });
      ADD_FAILURE() << c.name << ": expected std::invalid_argument";
    } catch (const std::invalid_argument& error) {
      const std::string text = error.what();
      for (const std::string& fragment : c.fragments) {
        EXPECT_NE(text.find(fragment), std::string::npos) << c.name << ": " << text;
      }
    }
  }
}

TEST(SolverSetupTest, AgentsOfOneTypeMayShareAnId) {
  const Solver solver(TwoAgentsUnderOneId("car", "car"), MakeOptions(MinSum));
  ASSERT_EQ(solver.agents().size(), 2u);
  EXPECT_EQ(solver.agents()[0].type, solver.agents()[1].type);
}

TEST(SolverSetupTest, SinglePointHasNoArcsAndReportsNothing) {
  const Problem problem =
      InstanceBuilder().AddNode(0).AddAgent(0, "v", 0, 0).SetCosts("v", {{0}}).Build();
  std::unique_ptr<Solver> solver;
  const auto captured =
      CaptureOutput([&] { solver = std::make_unique<Solver>(problem, MakeOptions(MinSum)); });
  EXPECT_EQ(captured.out, "");
  EXPECT_EQ(captured.err, "");
  EXPECT_TRUE(solver->pre_visited().empty());
  EXPECT_TRUE(solver->edge_list().empty());
  const SolverStatistics stats = solver->GetStatistics();
  EXPECT_EQ(stats.found, 0);
  EXPECT_EQ(stats.num_points, -1);
  EXPECT_EQ(stats.sum_cost, -1.0);
  EXPECT_EQ(stats.bound, -1.0);
}

TEST(SolverSetupTest, PiecewisePointsMustBeOfTypeZeroOrShared) {
  Solver solver;
  const std::vector<std::vector<std::uint64_t>> bad = {{}, {1}, {0, 2}, {1, 0}, {0, 0}};
  for (const auto& types : bad) {
    Point point;
    point.types = types;
    EXPECT_THROW(solver.SetPoints({point}), std::runtime_error);
  }
  Point zero;
  zero.types = {0};
  Point shared;
  shared.types = {0, 1};
  EXPECT_NO_THROW(solver.SetPoints({zero, shared}));
  EXPECT_EQ(solver.points().size(), 2u);
}

}  // namespace
}  // namespace plenro
