// The search never travels a leg it pays that has no connection (a missing matrix entry or a
// cost from the no-connection marker up); the free leg that ends an open route at the agent's
// own start or end point is exempt.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::InstanceBuilder;
using testing_support::MakeOptions;

struct ConnectionCase {
  const char* name;
  CostMatrix costs;  // rows may be cut short: missing entries
  std::uint64_t agents;
  std::uint64_t end_node;
  bool return_to_end;
  std::vector<std::vector<std::int64_t>> routes;  // empty: no solution
  std::vector<double> costs_expected;
};

void PrintTo(const ConnectionCase& c, std::ostream* os) {
  *os << c.name;
}

class SolverConnectionTest : public ::testing::TestWithParam<ConnectionCase> {};

// Nodes 0, 1, 2; every agent starts at 0 and ends at `end_node`.
TEST_P(SolverConnectionTest, RoutesNeverPayForAMissingConnection) {
  const ConnectionCase& c = GetParam();
  InstanceBuilder builder;
  builder.AddNode(0).AddNode(1).AddNode(2).SetCosts("v", c.costs);
  for (std::uint64_t k = 0; k < c.agents; ++k) {
    builder.AddAgent(k, "v", 0, c.end_node);
  }
  const Problem problem = builder.Build();
  std::unique_ptr<Solver> solver;
  bool found = false;
  testing_support::CaptureOutput([&] {
    solver = std::make_unique<Solver>(problem, MakeOptions(MinSum, c.return_to_end));
    found = solver->Search();
  });
  ASSERT_EQ(found, !c.routes.empty());
  const Result result = solver->GetResult();
  for (std::size_t k = 0; k < c.routes.size(); ++k) {
    EXPECT_EQ(result.paths.at(k), c.routes[k]) << "agent " << k;
    EXPECT_DOUBLE_EQ(result.times.at(k), c.costs_expected[k]) << "agent " << k;
  }
  // No recorded solution, before or after post-optimisation, pays for such a leg either.
  for (const AnytimeEntry& entry : solver->GetAnytimeResults()) {
    for (const auto& [agent, route] : entry.result.paths) {
      for (std::size_t i = 1; i < route.size(); ++i) {
        const auto u = static_cast<std::size_t>(route[i - 1]);
        const auto v = static_cast<std::size_t>(route[i]);
        const bool free = u == v || (!c.return_to_end && (v == 0 || v == c.end_node));
        const double leg = v < c.costs.at(u).size() ? c.costs[u][v] : kNoConnection;
        EXPECT_TRUE(free || !IsNoConnection(leg)) << "agent " << agent << " leg " << u << v;
      }
    }
  }
}

constexpr double kGap = kNoConnection;

INSTANTIATE_TEST_SUITE_P(
    Cases, SolverConnectionTest,
    ::testing::Values(
        // Every tour of 1 and 2 crosses between them, and no crossing exists.
        ConnectionCase{
            "OnlyTourCrossesAGap", {{0, 1, 1}, {1, 0, kGap}, {1, kGap, 0}}, 1, 0, true, {}, {}},
        // The same gaps with two agents: each takes one point.
        ConnectionCase{"TwoAgentsShareThePoints",
                       {{0, 1, 1}, {1, 0, kGap}, {1, kGap, 0}},
                       2,
                       0,
                       true,
                       {{0, 1, 0}, {0, 2, 0}},
                       {2.0, 2.0}},
        // 0 1 2 0 would cost 1 + 9999 + 1 < 0 2 1 0 at 6000 + 6000 + 1, but 1 -> 2 is a gap.
        ConnectionCase{"DearerTourWithoutTheGap",
                       {{0, 1, 6000}, {1, 0, kGap}, {1, 6000, 0}},
                       1,
                       0,
                       true,
                       {{0, 2, 1, 0}},
                       {12001.0}},
        // The missing entry 2 -> 1 is the leg into the end point: paid with the return rule,
        // free without it.
        ConnectionCase{
            "GapIntoTheEndPointWithReturn", {{0, 5, 3}, {5, 0, 4}, {4}}, 1, 1, true, {}, {}},
        ConnectionCase{"GapIntoTheEndPointIsFreeWithoutReturn",
                       {{0, 5, 3}, {5, 0, 4}, {4}},
                       1,
                       1,
                       false,
                       {{0, 2, 1}},
                       {3.0}}),
    [](const ::testing::TestParamInfo<ConnectionCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace plenro
