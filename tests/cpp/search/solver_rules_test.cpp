// The solver with loads, service durations and orders enforced: the search, which honours none
// of them, does not run; the improvement engine's routes keep them all, or the run says why
// there are none.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "plenro/instance/route_evaluation.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::CaptureOutput;
using testing_support::InstanceBuilder;
using testing_support::MakeOptions;

// Twelve sites on a line right of the depot (node 0), each delivering 10; two trucks.
Problem Deliveries(double capacity) {
  InstanceBuilder builder;
  for (std::uint64_t v = 0; v <= 12; ++v) {
    builder.AddNode(v, static_cast<double>(v) * 3.0, static_cast<double>(v % 3));
  }
  builder.AddAgent(100, "truck", 0, 0).AddAgent(101, "truck", 0, 0).SetEuclideanCosts("truck");
  Problem problem = builder.Build();
  for (Node& node : problem.nodes()) {
    node.demand = node.id == 0 ? 0.0 : 10.0;
  }
  for (Agent& agent : problem.agents_ordered()) {
    agent.capacity_limit = capacity;
  }
  return problem;
}

Options RuleOptions(bool improve, bool enforce) {
  Options options = MakeOptions(MinSum);
  options.improve = improve;
  options.improve_iterations = 30;
  options.seed = 3;
  options.enforce_constraints = enforce;
  return options;
}

double Load(const std::vector<std::int64_t>& path) {
  return 10.0 * static_cast<double>(path.size() - 2);
}

struct Mode {
  const char* name;
  bool improve;
};

class SolverRules : public ::testing::TestWithParam<Mode> {};

TEST_P(SolverRules, EveryRouteStaysWithinItsCapacity) {
  const Problem problem = Deliveries(60.0);
  Solver solver(problem, RuleOptions(GetParam().improve, true));
  ASSERT_TRUE(solver.RouteRulesApply());
  CaptureOutput([&] { ASSERT_TRUE(solver.Search()); });
  const Result result = solver.GetResult();
  const RouteEvaluator validator(solver.view());
  ASSERT_EQ(result.paths.size(), 2u);
  for (const auto& [agent, path] : result.paths) {
    EXPECT_TRUE(validator.Evaluate(path, agent).valid);
    EXPECT_LE(Load(path), 60.0);
  }
  // The search's own counters stay at zero: it never ran.
  EXPECT_EQ(result.n_expanded, 0);
}

TEST_P(SolverRules, OffTheLoadsAreStoredAndIgnored) {
  const Problem problem = Deliveries(10.0);
  Solver solver(problem, RuleOptions(GetParam().improve, false));
  EXPECT_FALSE(solver.RouteRulesApply());
  CaptureOutput([&] { ASSERT_TRUE(solver.Search()); });
  double carried = 0.0;
  for (const auto& [agent, path] : solver.GetResult().paths) {
    carried = std::max(carried, Load(path));
  }
  EXPECT_GT(carried, 10.0);
}

TEST_P(SolverRules, NoSolutionWhenASiteOutweighsEveryTruck) {
  Problem problem = Deliveries(60.0);
  problem.nodes()[5].demand = 70.0;
  Solver solver(problem, RuleOptions(GetParam().improve, true));
  bool found = true;
  CaptureOutput([&] { found = solver.Search(); });
  EXPECT_FALSE(found);
  EXPECT_TRUE(solver.GetResult().paths.empty());
  EXPECT_EQ(solver.no_solution_reason(),
            "point 5 (node id 5) cannot be carried: its load exceeds the capacity of every agent "
            "that may serve it");
}

INSTANTIATE_TEST_SUITE_P(Modes, SolverRules,
                         ::testing::Values(Mode{"improving", true}, Mode{"search_alone", false}),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return info.param.name;
                         });

struct BadRule {
  const char* name;
  std::vector<Shipment> shipments;
  std::vector<NodePair> same;
  double demand;
  const char* message;
};

class SolverRuleInput : public ::testing::TestWithParam<BadRule> {};

TEST_P(SolverRuleInput, RefusesWhatNamesNoSiteOrIsNoAmount) {
  const BadRule& c = GetParam();
  Problem problem = Deliveries(60.0);
  problem.shipments = c.shipments;
  problem.same_agent_pairs = c.same;
  problem.nodes()[1].demand = c.demand;
  try {
    Solver solver(problem, RuleOptions(true, true));
    FAIL() << "accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SolverRuleInput,
    ::testing::Values(
        BadRule{"unknown_node",
                {{3, 99, {1.0}}},
                {},
                10.0,
                "the shipment names node 99, which the instance does not have"},
        BadRule{"depot",
                {},
                {{0, 4}},
                10.0,
                "the sequence pair of type \"same\" names node 0, an agent's start or end point; "
                "orders bind sites only"},
        BadRule{"twice", {{4, 4, {}}}, {}, 10.0, "the shipment names node 4 twice"},
        BadRule{"negative",
                {},
                {},
                -1.0,
                "the delivery of node 1 has the amount -1; amounts are finite and not negative"}),
    [](const ::testing::TestParamInfo<BadRule>& info) { return info.param.name; });

}  // namespace
}  // namespace plenro
