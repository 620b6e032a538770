#include "plenro/plugins/default_post_optimizer.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
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

// Depot 0 at x = 0 (agent 0), depot 1 at x = 10 (agent 1), points 2..5 at x = 1, 2, 8, 9;
// point 6 (x = 5) is open to type 1 only. Both agents start and end at their depot.
const std::vector<double> kX = {0, 10, 1, 2, 8, 9, 5};

Bound<DefaultPostOptimizer> MakeOptimizer(bool return_to_end = true) {
  return Bound<DefaultPostOptimizer>({0, 1}, {0, 1}, return_to_end);
}

void ExpectRoutes(const Result& result, const Paths& routes, const std::vector<double>& times) {
  ASSERT_EQ(result.paths.size(), routes.size());
  ASSERT_EQ(result.times.size(), times.size());
  for (std::size_t k = 0; k < routes.size(); ++k) {
    EXPECT_EQ(result.paths.at(k), routes[k]) << "agent " << k;
    EXPECT_DOUBLE_EQ(result.times.at(k), times[k]) << "agent " << k;
  }
}

struct MoveCase {
  const char* name;
  std::vector<std::int64_t> agent_types;
  std::vector<std::uint64_t> types_of_4;
  std::vector<std::uint64_t> types_of_5;
  Paths routes;
  std::vector<double> times;
};

void PrintTo(const MoveCase& c, std::ostream* os) {
  *os << c.name;
}

class DefaultPostOptimizerMoveTest : public ::testing::TestWithParam<MoveCase> {};

// Agent 0 starts with 0 2 3 4 5 0 (cost 18), agent 1 with 1 1 (cost 0).
TEST_P(DefaultPostOptimizerMoveTest, MovesPointsAsHandChecked) {
  const MoveCase& c = GetParam();
  const auto graph = GraphBuilder::Line(kX, 2).Build();
  const auto points = Points({{0, 1}, {0, 1}, {0, 1}, {0, 1}, c.types_of_4, c.types_of_5, {1}});
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 3, 4, 5, 0}, {1, 1}}, {18.0, 0.0});
  testing::internal::CaptureStderr();
  optimizer.Optimize(graph.get(), points, Agents(c.agent_types), result);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ExpectRoutes(result, c.routes, c.times);
}

INSTANTIATE_TEST_SUITE_P(
    HandChecked, DefaultPostOptimizerMoveTest,
    ::testing::Values(
        // Within one type only one move is made, although moving 4 as well would pay.
        MoveCase{"SameTypeOneMoveInGroup",
                 {0, 0},
                 {0, 1},
                 {0, 1},
                 {{0, 2, 3, 4, 0}, {1, 5, 1}},
                 {16.0, 2.0}},
        // Between types the moves go on while they pay: 5, then 4 (before 5: the first of two
        // equal insertions), then the longest routes tie and the loop stops.
        MoveCase{"TwoTypesMoveUntilNoGain",
                 {0, 1},
                 {0, 1},
                 {0, 1},
                 {{0, 2, 3, 0}, {1, 4, 5, 1}},
                 {4.0, 4.0}},
        MoveCase{"OtherTypeMayNotTakePoint4",
                 {0, 1},
                 {0},
                 {0, 1},
                 {{0, 2, 3, 4, 0}, {1, 5, 1}},
                 {16.0, 2.0}},
        MoveCase{"OtherTypeMayTakeNeither",
                 {0, 1},
                 {0},
                 {0},
                 {{0, 2, 3, 4, 5, 0}, {1, 1}},
                 {18.0, 0.0}}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

TEST(DefaultPostOptimizerTest, NameIsFixed) {
  EXPECT_EQ(DefaultPostOptimizer().Name(), "DefaultPostOptimizer");
}

TEST(DefaultPostOptimizerTest, ReadsTheViewItIsBoundTo) {
  // Unbound, it reads an empty instance.
  DefaultPostOptimizer optimizer;
  EXPECT_TRUE(optimizer.view().return_to_end());
  EXPECT_FALSE(optimizer.view().has_windows());
  EXPECT_EQ(optimizer.view().num_agents(), 0u);

  InstanceView shared;
  shared.SetStarts({6});
  optimizer.Bind(shared);
  EXPECT_EQ(&optimizer.view(), &shared);
  EXPECT_EQ(&optimizer.evaluator().view(), &shared);
  // A copy reads the same view.
  const DefaultPostOptimizer linked_copy = optimizer;
  EXPECT_EQ(&linked_copy.view(), &shared);
  EXPECT_EQ(&linked_copy.evaluator().view(), &shared);

  // Bound to another view, it reads that one as it stands.
  InstanceView other;
  other.SetStarts({1, 2});
  other.SetGoals({8, 9});
  other.SetTimeWindows({{3, {1.0, 2.0}}});
  other.SetReturnToEnd(false);
  optimizer.Bind(other);
  EXPECT_EQ(optimizer.view().starts(), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(optimizer.view().goals(), (std::vector<std::uint64_t>{8, 9}));
  EXPECT_EQ(optimizer.view().windows().at(3), std::make_pair(1.0, 2.0));
  EXPECT_FALSE(optimizer.view().return_to_end());
  EXPECT_EQ(shared.starts(), (std::vector<std::uint64_t>{6}));
  DefaultPostOptimizer assigned;
  assigned = optimizer;
  EXPECT_EQ(assigned.view().starts(), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(&assigned.evaluator().view(), &assigned.view());
}

TEST(DefaultPostOptimizerTest, ReversesEachRouteFirst) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 3, 2, 0}, {1, 5, 4, 1}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0, 0}), result);
  // Both are already as short as a round trip over their points gets; nothing moves.
  ExpectRoutes(result, {{0, 3, 2, 0}, {1, 5, 4, 1}}, {4.0, 4.0});

  Result detour = MakeResult({{0, 3, 2, 4, 0}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0}), detour);
  ExpectRoutes(detour, {{0, 2, 3, 4, 0}}, {16.0});
}

TEST(DefaultPostOptimizerTest, InvalidRouteIsKeptWithTheCostItCameWith) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  // Point 6 is closed to type 0: agent 1 may not drive its route.
  for (const bool with_time : {true, false}) {
    Result result = MakeResult({{0, 2, 3, 4, 5, 0}, {1, 6, 1}});
    result.times[0] = 18.0;
    if (with_time) {
      result.times[1] = 7.5;
    }
    testing::internal::CaptureStderr();
    optimizer.Optimize(graph.get(), Points({{0}, {0}, {0}, {0}, {0}, {0}, {1}}), Agents({0, 0}),
                       result);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[post-opt] invalid path for agent 1, skip optimize\n"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("agent 0"), std::string::npos) << err;
    ExpectRoutes(result, {{0, 2, 3, 4, 5, 0}, {1, 6, 1}}, {18.0, with_time ? 7.5 : 0.0});
  }
}

TEST(DefaultPostOptimizerTest, InvalidRouteThatReceivesAPointGetsItsNewCost) {
  // Agent 1 reaches 4 too late (window closes at 5) unless it goes through 2 first.
  const auto graph = GraphBuilder(5, 1, 10.0).Arc(1, 2, 1.0).Arc(2, 4, 1.0).Arc(4, 1, 1.0).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  optimizer.windows = {{4, {0.0, 5.0}}};
  Result result = MakeResult({{0, 2, 3, 0}, {1, 4, 1}}, {30.0, 99.0});
  testing::internal::CaptureStderr();
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(5), Agents({0, 0}), result);
  testing::internal::GetCapturedStderr();
  ExpectRoutes(result, {{0, 3, 0}, {1, 2, 4, 1}}, {20.0, 3.0});
}

TEST(DefaultPostOptimizerTest, MissingPathReadsAsEmptyRoute) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 3, 4, 5, 0}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0, 0}), result);
  ExpectRoutes(result, {{0, 2, 3, 4, 5, 0}, {}}, {18.0, 0.0});
}

TEST(DefaultPostOptimizerTest, LeavesCountersAndFlagsAndDropsForeignEntries) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 0}, {1, 5, 1}});
  result.paths[7] = {3};
  result.times[7] = 1.0;
  result.n_generated = 11;
  result.n_expanded = 7;
  result.timeout = true;
  result.last_update_time = 2.5;
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0, 0}), result);
  ExpectRoutes(result, {{0, 2, 0}, {1, 5, 1}}, {2.0, 2.0});
  EXPECT_EQ(result.n_generated, 11);
  EXPECT_EQ(result.n_expanded, 7);
  EXPECT_TRUE(result.timeout);
  EXPECT_DOUBLE_EQ(result.last_update_time, 2.5);
}

TEST(DefaultPostOptimizerTest, ReportsRoutesOfUnboundedCost) {
  // A cost that is no number passes every check but is reported.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto graph = GraphBuilder::Line(kX).Arc(0, 2, nan).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 0}});
  testing::internal::CaptureStderr();
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0}), result);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[post-opt] path invalid or over capacity, skip agent 0\n");
  EXPECT_TRUE(std::isnan(result.times.at(0)));
}

TEST(DefaultPostOptimizerTest, InfiniteLegIsNoConnection) {
  const double inf = std::numeric_limits<double>::infinity();
  const auto graph = GraphBuilder::Line(kX).Arc(0, 2, inf).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 0}}, {7.0});
  testing::internal::CaptureStderr();
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0}), result);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[post-opt] invalid path for agent 0, skip optimize\n"
            "[post-opt] invalid path for agent 0, skip optimize\n");
  EXPECT_EQ(result.paths.at(0), (Route{0, 2, 0}));
  EXPECT_EQ(result.times.at(0), 7.0);
}

TEST(DefaultPostOptimizerTest, GroupsFollowTypesAndFirstMemberWinsTies) {
  const auto graph = GraphBuilder::Line(kX, 3).Build();
  Bound<DefaultPostOptimizer> optimizer({0, 1, 0, 1}, {0, 1, 0, 1});
  // Agents 0 and 3 (type 2) tie at cost 4; agents 1 and 2 (type 0) cost 2 and 0.
  Result result = MakeResult({{0, 3, 0}, {1, 5, 1}, {0, 0}, {1, 4, 1}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7, 3), Agents({2, 0, 0, 2}), result);
  EXPECT_EQ(optimizer.group_order(), (std::vector<std::int64_t>{2, 0}));
  const auto& typed2 = optimizer.group(2);
  EXPECT_EQ(typed2.count, 2);
  EXPECT_EQ(typed2.members, (std::vector<std::int64_t>{0, 3}));
  EXPECT_EQ(typed2.longest, 0);
  EXPECT_EQ(typed2.shortest, 0);
  const auto& typed0 = optimizer.group(0);
  EXPECT_EQ(typed0.longest, 1);
  EXPECT_EQ(typed0.shortest, 2);
  ASSERT_EQ(optimizer.route_table().size(), 4u);
  EXPECT_EQ(optimizer.route_table()[3].agent, 3);
  EXPECT_DOUBLE_EQ(optimizer.route_table()[3].cost, 4.0);
}

TEST(DefaultPostOptimizerTest, MissingGroupsThrowLogicError) {
  DefaultPostOptimizer fresh;
  try {
    fresh.RefreshGroup(3);
    FAIL() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "Error: no group with type 3");
  }
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result = MakeResult({{0, 2, 0}, {1, 5, 1}});
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0, 0}), result);
  EXPECT_THROW(optimizer.RefreshGroup(1), std::logic_error);
  EXPECT_THROW(optimizer.BestRelocation(0, 1), std::logic_error);
  EXPECT_THROW(optimizer.group(-1), std::logic_error);
  EXPECT_NO_THROW(optimizer.RefreshGroup(0));
}

TEST(DefaultPostOptimizerTest, RouteCostReportsInvalidRoutes) {
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result result;
  optimizer.Optimize(graph.get(), post_opt_testing::OpenPoints(7), Agents({0, 0}), result);
  testing::internal::CaptureStderr();
  EXPECT_DOUBLE_EQ(optimizer.RouteCost({0, 2, 0}, 0), 2.0);
  EXPECT_DOUBLE_EQ(optimizer.RouteCost({0, 2, 1}, 0), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[post-opt] invalid path for agent 0, skip optimize\n");
}

struct ApplyCase {
  const char* name;
  Route giving;
  Route receiving;
  std::int64_t from_pos;
  std::int64_t to_pos;
  bool applied;
};

void PrintTo(const ApplyCase& c, std::ostream* os) {
  *os << c.name;
}

class ApplyRelocationTest : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ApplyRelocationTest, AppliesOnlyFittingValidMoves) {
  const ApplyCase& c = GetParam();
  const auto graph = GraphBuilder::Line(kX).Build();
  Bound<DefaultPostOptimizer> optimizer = MakeOptimizer();
  Result empty;
  optimizer.Optimize(graph.get(), Points({{0}, {0}, {0}, {0}, {0}, {0}, {1}}), Agents({0, 0}),
                     empty);
  DefaultPostOptimizer::RouteRecord giving{0, 18.0, c.giving};
  DefaultPostOptimizer::RouteRecord receiving{1, 0.0, c.receiving};
  optimizer.ApplyRelocation(giving, receiving,
                            DefaultPostOptimizer::Relocation{c.from_pos, c.to_pos, 0, 0, 1.0});
  if (c.applied) {
    EXPECT_EQ(giving.route, (Route{0, 2, 3, 4, 0}));
    EXPECT_EQ(receiving.route, (Route{1, 5, 1}));
    EXPECT_DOUBLE_EQ(giving.cost, 16.0);
    EXPECT_DOUBLE_EQ(receiving.cost, 2.0);
  } else {
    EXPECT_EQ(giving.route, c.giving);
    EXPECT_EQ(receiving.route, c.receiving);
    EXPECT_DOUBLE_EQ(giving.cost, 18.0);
    EXPECT_DOUBLE_EQ(receiving.cost, 0.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Guards, ApplyRelocationTest,
    ::testing::Values(ApplyCase{"Fits", {0, 2, 3, 4, 5, 0}, {1, 1}, 4, 1, true},
                      ApplyCase{"FromStart", {0, 2, 3, 4, 5, 0}, {1, 1}, 0, 1, false},
                      ApplyCase{"FromEnd", {0, 2, 3, 4, 5, 0}, {1, 1}, 5, 1, false},
                      ApplyCase{"BeforeStart", {0, 2, 3, 4, 5, 0}, {1, 1}, 4, 0, false},
                      ApplyCase{"AfterEnd", {0, 2, 3, 4, 5, 0}, {1, 1}, 4, 2, false},
                      ApplyCase{"OnePointReceiver", {0, 2, 3, 4, 5, 0}, {1}, 4, 1, false},
                      ApplyCase{"ReceiverMayNotServe", {0, 2, 6, 0}, {1, 1}, 2, 1, false},
                      ApplyCase{"GiverLeftInvalid", {0, 6, 5, 0}, {1, 1}, 2, 1, false}),
    [](const ::testing::TestParamInfo<ApplyCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plenro
