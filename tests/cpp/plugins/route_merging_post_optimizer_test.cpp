#include "plenro/plugins/route_merging_post_optimizer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "post_optimizer_test_support.h"

namespace plenro {
namespace {

using post_opt_testing::Agents;
using post_opt_testing::Bound;
using post_opt_testing::GraphBuilder;
using post_opt_testing::MakeResult;
using post_opt_testing::Points;
using Paths = std::vector<Route>;

// Depots 0, 1, 2 (agents 0, 1, 2) at x = 0; points 3, 4, 5 at x = 1, 3, 2; point 6 at x = 5 is
// open to type 1 only. Every agent starts and ends at its depot.
const std::vector<double> kX = {0, 0, 0, 1, 3, 2, 5};

Bound<RouteMergingPostOptimizer> MakeOptimizer(const std::vector<std::uint64_t>& depots) {
  return Bound<RouteMergingPostOptimizer>(depots, depots);
}

std::vector<Point> LinePoints() {
  return Points({{0, 1}, {0, 1}, {0, 1}, {0}, {0}, {0}, {1}});
}

void ExpectRoutes(const Result& result, const Paths& routes, const std::vector<double>& times) {
  for (std::size_t k = 0; k < routes.size(); ++k) {
    ASSERT_EQ(result.paths.count(k), 1u) << "agent " << k;
    ASSERT_EQ(result.times.count(k), 1u) << "agent " << k;
    EXPECT_EQ(result.paths.at(k), routes[k]) << "agent " << k;
    EXPECT_DOUBLE_EQ(result.times.at(k), times[k]) << "agent " << k;
  }
}

TEST(RouteMergingPostOptimizerTest, NameIsFixed) {
  EXPECT_EQ(RouteMergingPostOptimizer().Name(), "RouteMergingPostOptimizer");
}

TEST(RouteMergingPostOptimizerTest, SinglePointRouteIsDissolved) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  Result result = MakeResult({{0, 3, 4, 0}, {1, 5, 1}}, {6.0, 4.0});
  testing::internal::CaptureStderr();
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 0}), result);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // Point 5 fits before 4 or after it at cost 6 = F; the earlier position wins the tie.
  ExpectRoutes(result, {{0, 3, 5, 4, 0}, {1, 1}}, {6.0, 0.0});
}

// Agent 0 at depot 0 serves 4 (x = 4); agent 1 runs from 1 (x = 0) over 3 (x = 2) to its end
// point 2 (x = 1). Point 3 fits into agent 0's route within its cost; what agent 1 is left with
// is the route from its start to its end point, at what that costs.
struct EmptiedCase {
  const char* name;
  bool return_to_end;
  bool gap;  // no arc 1 -> 2
  Paths routes;
  std::vector<double> times;
};

void PrintTo(const EmptiedCase& c, std::ostream* os) {
  *os << c.name;
}

class EmptiedRouteTest : public ::testing::TestWithParam<EmptiedCase> {};

TEST_P(EmptiedRouteTest, KeepsTheCostOfItsEndpoints) {
  const EmptiedCase& c = GetParam();
  GraphBuilder builder = GraphBuilder::Line({0, 0, 1, 2, 4});
  if (c.gap) {
    builder.Remove(1, 2);
  }
  const auto graph = builder.Build();
  Bound<RouteMergingPostOptimizer> optimizer({0, 1}, {0, 2}, c.return_to_end);
  Result result = MakeResult({{0, 4, 0}, {1, 3, 2}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(5), Agents({0, 0}), result);
  ExpectRoutes(result, c.routes, c.times);
}

INSTANTIATE_TEST_SUITE_P(
    SeparateEnds, EmptiedRouteTest,
    ::testing::Values(
        EmptiedCase{"WithReturn", true, false, {{0, 3, 4, 0}, {1, 2}}, {8.0, 1.0}},
        EmptiedCase{"WithoutReturn", false, false, {{0, 3, 4, 0}, {1, 2}}, {4.0, 0.0}},
        // The emptied route would pay for a missing connection: nothing is dissolved.
        EmptiedCase{"GapBetweenTheEndpoints", true, true, {{0, 4, 0}, {1, 3, 2}}, {8.0, 3.0}}),
    [](const ::testing::TestParamInfo<EmptiedCase>& info) { return std::string(info.param.name); });

TEST(RouteMergingPostOptimizerTest, InvalidRouteIsKeptWithTheCostItCameWith) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1, 2});
  // Agent 2 (type 0) may not serve point 6; nothing is inserted into its route either.
  Result result = MakeResult({{0, 3, 4, 0}, {1, 5, 1}, {2, 6, 2}}, {6.0, 4.0, 4.25});
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 0, 0}), result);
  ExpectRoutes(result, {{0, 3, 5, 4, 0}, {1, 1}, {2, 6, 2}}, {6.0, 0.0, 4.25});

  Result untimed = MakeResult({{0, 3, 4, 0}, {1, 5, 1}, {2, 6, 2}});
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 0, 0}), untimed);
  ExpectRoutes(untimed, {{0, 3, 5, 4, 0}, {1, 1}, {2, 6, 2}}, {6.0, 0.0, 0.0});
}

TEST(RouteMergingPostOptimizerTest, NothingChangesWhenNoRouteCostsAnything) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  const Result before = [] {
    Result r = MakeResult({{0, 0}, {1, 6, 1}}, {0.0, 9.0});
    r.paths[5] = {4};
    r.n_generated = 3;
    return r;
  }();
  Result result = before;
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 0}), result);
  EXPECT_EQ(result.paths, before.paths);
  EXPECT_EQ(result.times, before.times);
  Result none = before;
  optimizer.Optimize(graph.get(), LinePoints(), Agents({}), none);
  EXPECT_EQ(none.paths, before.paths);
}

TEST(RouteMergingPostOptimizerTest, WritesAgentEntriesAndLeavesTheRest) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  Result result = MakeResult({{0, 3, 4, 0}, {1, 5, 1}});
  result.paths[9] = {4, 4};
  result.times[9] = 1.5;
  result.n_generated = 11;
  result.n_expanded = 7;
  result.timeout = true;
  result.last_update_time = 2.5;
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 0}), result);
  ExpectRoutes(result, {{0, 3, 5, 4, 0}, {1, 1}}, {6.0, 0.0});
  EXPECT_EQ(result.paths.at(9), (Route{4, 4}));
  EXPECT_DOUBLE_EQ(result.times.at(9), 1.5);
  EXPECT_EQ(result.n_generated, 11);
  EXPECT_EQ(result.n_expanded, 7);
  EXPECT_TRUE(result.timeout);
  EXPECT_DOUBLE_EQ(result.last_update_time, 2.5);
}

TEST(RouteMergingPostOptimizerTest, RemainingRoutesAreReversed) {
  const auto graph = GraphBuilder::Line(kX, 2).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  // Nothing can be dissolved (agent 1 is the only one below F and its point 6 is closed to
  // type 0), but agent 0's detour is straightened.
  Result result = MakeResult({{0, 5, 3, 4, 0}, {1, 6, 1}});
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 1}), result);
  ExpectRoutes(result, {{0, 3, 5, 4, 0}, {1, 6, 1}}, {6.0, 10.0});
}

struct LongestCase {
  const char* name;
  double shorter_by;  // how much cheaper agent 1's route is than agent 0's
  std::vector<std::int64_t> agent_types;
  Paths routes;
  std::vector<double> times;
};

void PrintTo(const LongestCase& c, std::ostream* os) {
  *os << c.name;
}

class RouteMergingLongestTest : public ::testing::TestWithParam<LongestCase> {};

// Agent 0 runs 0 3 0 (cost 6), agent 1 runs 1 4 1 (cost 6 - shorter_by); every other leg is
// free, so either point fits into the other route.
TEST_P(RouteMergingLongestTest, OnlyRoutesClearlyBelowTheLongestDissolve) {
  const LongestCase& c = GetParam();
  auto builder = GraphBuilder(5, 2, 0.0);
  builder.Arc(0, 3, 3.0).Arc(3, 0, 3.0).Arc(1, 4, 3.0 - c.shorter_by).Arc(4, 1, 3.0);
  const auto graph = builder.Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  Result result = MakeResult({{0, 3, 0}, {1, 4, 1}});
  const auto points = Points({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {1}});
  optimizer.Optimize(graph.get(), points, Agents(c.agent_types), result);
  ExpectRoutes(result, c.routes, c.times);
}

INSTANTIATE_TEST_SUITE_P(
    Tolerance, RouteMergingLongestTest,
    ::testing::Values(
        LongestCase{"Tied", 0.0, {1, 1}, {{0, 3, 0}, {1, 4, 1}}, {6.0, 6.0}},
        LongestCase{
            "TiedWithinTolerance", 5e-10, {1, 1}, {{0, 3, 0}, {1, 4, 1}}, {6.0, 6.0 - 5e-10}},
        LongestCase{"ClearlyShorter", 2e-9, {1, 1}, {{0, 4, 3, 0}, {1, 1}}, {3.0, 0.0}},
        // Point 4 is open to type 1 only, and agent 0 has type 0.
        LongestCase{
            "NoOtherAgentMayTakeThePoint", 1.0, {0, 1}, {{0, 3, 0}, {1, 4, 1}}, {6.0, 5.0}}),
    [](const ::testing::TestParamInfo<LongestCase>& info) { return std::string(info.param.name); });

struct DissolutionCase {
  const char* name;
  // Arcs on top of the common ones below.
  std::vector<std::tuple<std::size_t, std::size_t, double>> arcs;
  bool with_starts;
  Paths routes;
  std::vector<double> max_lengths;
  Paths expected_routes;
  std::vector<double> expected_times;
};

void PrintTo(const DissolutionCase& c, std::ostream* os) {
  *os << c.name;
}

class RouteMergingDissolutionTest : public ::testing::TestWithParam<DissolutionCase> {};

// Agent 0 runs 0 1 (cost 1), agent 2 runs 4 5 (cost 10 = F); agent 1's route is dissolved into
// agent 0's if it can be. Each of a = 6 and b = 7 fits alone into 0 1 (0 6 1 costs 8, 0 7 1
// costs 9.5), but once a has moved b no longer fits within F. Points 8 and 3 serve the cases
// without start points. Every arc not given costs 100.
TEST_P(RouteMergingDissolutionTest, DissolutionIsAllOrNothing) {
  const DissolutionCase& c = GetParam();
  auto builder = GraphBuilder(9, 1, 100.0);
  builder.Arc(0, 1, 1.0).Arc(0, 6, 4.0).Arc(6, 1, 4.0).Arc(0, 7, 4.0).Arc(7, 1, 5.5);
  builder.Arc(6, 7, 1.0).Arc(4, 5, 10.0);
  for (const auto& [u, v, cost] : c.arcs) {
    builder.Arc(u, v, cost);
  }
  const auto graph = builder.Build();
  Bound<RouteMergingPostOptimizer> optimizer;
  if (c.with_starts) {
    optimizer.starts = {0, 2, 4};
  }
  optimizer.goals = {1, 3, 5};
  Result result = MakeResult(c.routes);
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(9), Agents({0, 0, 0}, c.max_lengths),
                     result);
  ExpectRoutes(result, c.expected_routes, c.expected_times);
}

INSTANTIATE_TEST_SUITE_P(
    Undo, RouteMergingDissolutionTest,
    ::testing::Values(
        // b stays behind in a valid rest 2 7 3: still the attempt is undone, a goes back.
        DissolutionCase{"StrandedPointUndoesTheMovesBeforeIt",
                        {{2, 6, 1.0}, {7, 3, 1.0}, {2, 7, 2.0}},
                        true,
                        {{0, 1}, {2, 6, 7, 3}, {4, 5}},
                        {},
                        {{0, 1}, {2, 6, 7, 3}, {4, 5}},
                        {1.0, 3.0, 10.0}},
        // The rest 2 7 3 would cost 101, over agent 1's limit of 50: it is never reported.
        DissolutionCase{"RestOverItsLimitIsNeverLeft",
                        {{2, 6, 1.0}, {7, 3, 1.0}},
                        true,
                        {{0, 1}, {2, 6, 7, 3}, {4, 5}},
                        {0.0, 50.0, 0.0},
                        {{0, 1}, {2, 6, 7, 3}, {4, 5}},
                        {1.0, 3.0, 10.0}},
        // Without start points the route 8 a b 8 3 may open at 8, which it visits again.
        DissolutionCase{
            "RouteOpeningAtARepeatedPointIsRestored",
            {{8, 6, 1.0}, {7, 8, 1.0}, {8, 3, 1.0}, {0, 8, 1.0}, {8, 1, 0.5}, {6, 8, 0.5}},
            false,
            {{0, 1}, {8, 6, 7, 8, 3}, {4, 5}},
            {},
            {{0, 1}, {8, 6, 7, 8, 3}, {4, 5}},
            {1.0, 4.0, 10.0}},
        // 8 a 8 3 dissolves whole (a, then 8, into agent 0's route): only the ends are left,
        // at the cost of their own leg 8 -> 3.
        DissolutionCase{"EveryPointPlacedLeavesTheEnds",
                        {{8, 6, 1.0}, {8, 3, 1.0}, {0, 8, 1.0}, {8, 1, 0.5}, {6, 8, 0.5}},
                        false,
                        {{0, 1}, {8, 6, 8, 3}, {4, 5}},
                        {},
                        {{0, 6, 8, 1}, {8, 3}, {4, 5}},
                        {5.0, 1.0, 10.0}}),
    [](const ::testing::TestParamInfo<DissolutionCase>& info) {
      return std::string(info.param.name);
    });

// ---------------------------------------------------------------------------------------------
// Choosing a place

struct InsertionCase {
  const char* name;
  // Costs of 2 -> 8, 8 -> 3, 2 -> 3 (agent 1), 4 -> 8, 8 -> 5, 4 -> 5 (agent 2).
  double a_in, a_out, a_route, b_in, b_out, b_route;
  bool cheap_in_agent_3;  // both places in agent 3's route cost 52
  double bound;
  bool found;
  std::int64_t agent;
  std::int64_t pos;
  double cost;
};

void PrintTo(const InsertionCase& c, std::ostream* os) {
  *os << c.name;
}

class FindInsertionTest : public ::testing::TestWithParam<InsertionCase> {};

// Agents 0..3 run 0 1, 2 3, 4 5 and 6 9 7 (cost 100, the longest, so nothing is dissolved and
// the tables stay as given). Point 8 is placed, agent 0 excluded.
TEST_P(FindInsertionTest, PicksTheCheapestPlaceWithItsTieRules) {
  const InsertionCase& c = GetParam();
  auto builder = GraphBuilder(10, 1, 100.0);
  builder.Arc(0, 1, 1.0).Arc(6, 9, 50.0).Arc(9, 7, 50.0);
  builder.Arc(2, 8, c.a_in).Arc(8, 3, c.a_out).Arc(2, 3, c.a_route);
  builder.Arc(4, 8, c.b_in).Arc(8, 5, c.b_out).Arc(4, 5, c.b_route);
  if (c.cheap_in_agent_3) {
    builder.Arc(6, 8, 1.0).Arc(8, 9, 1.0).Arc(9, 8, 1.0).Arc(8, 7, 1.0);
  }
  const auto graph = builder.Build();
  Bound<RouteMergingPostOptimizer> optimizer({0, 2, 4, 6}, {1, 3, 5, 7});
  Result result = MakeResult({{0, 1}, {2, 3}, {4, 5}, {6, 9, 7}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(10), Agents({0, 0, 0, 0}), result);
  ASSERT_EQ(optimizer.routes(), (Paths{{0, 1}, {2, 3}, {4, 5}, {6, 9, 7}}));

  const auto place = optimizer.FindInsertion(8, 0, c.bound);
  EXPECT_EQ(place.found, c.found);
  EXPECT_EQ(place.agent, c.agent);
  EXPECT_EQ(place.pos, c.pos);
  EXPECT_DOUBLE_EQ(place.cost, c.cost);
}

constexpr double kMax = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(
    TieRules, FindInsertionTest,
    ::testing::Values(
        InsertionCase{"SmallerGrowthWins", 4, 4, 5, 4, 4, 7, false, 1000, true, 2, 1, 8},
        InsertionCase{"EqualGrowthLowerAgent", 4, 4, 5, 4, 4, 5, false, 1000, true, 1, 1, 8},
        InsertionCase{"CheaperBeatsSmallerGrowth", 4.5, 4.5, 8.5, 4, 4, 5, false, 1000, true, 2, 1,
                      8},
        InsertionCase{"SameCostWithinTolerance", 4, 4, 5, 4, 4 + 5e-10, 7 + 5e-10, false, 1000,
                      true, 2, 1, 8 + 5e-10},
        InsertionCase{"LowerPositionInOneRoute", 100, 100, 5, 100, 100, 7, true, 1000, true, 3, 1,
                      52},
        InsertionCase{"BoundWithinTolerance", 4, 4, 5, 100, 100, 7, false, 8 - 5e-10, true, 1, 1,
                      8},
        InsertionCase{"BoundExceeded", 4, 4, 5, 100, 100, 7, false, 7.99, false, -1, 0, kMax}),
    [](const ::testing::TestParamInfo<InsertionCase>& info) {
      return std::string(info.param.name);
    });

TEST(RouteMergingPostOptimizerTest, CanServeFollowsTypesAndOtherAgentsEndpoints) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<RouteMergingPostOptimizer> optimizer = MakeOptimizer({0, 1});
  Result result;
  optimizer.Optimize(graph.get(), LinePoints(), Agents({0, 1}), result);
  EXPECT_TRUE(optimizer.CanServe(0, 3));
  EXPECT_FALSE(optimizer.CanServe(1, 3));  // type
  EXPECT_TRUE(optimizer.CanServe(1, 6));
  EXPECT_FALSE(optimizer.CanServe(0, 6));
  EXPECT_TRUE(optimizer.CanServe(0, 0));   // its own depot
  EXPECT_FALSE(optimizer.CanServe(0, 1));  // agent 1's depot
  EXPECT_TRUE(optimizer.CanServe(0, 2));   // nobody's depot
  EXPECT_FALSE(optimizer.CanServe(0, 99));
}

}  // namespace
}  // namespace plenro
