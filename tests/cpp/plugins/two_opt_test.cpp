#include "plenro/plugins/two_opt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>

#include "plenro/instance/instance_view.h"
#include "plenro/instance/route_evaluation.h"
#include "post_optimizer_test_support.h"

namespace plenro {
namespace {

using instance_testing::Reversed;
using post_opt_testing::Agents;
using post_opt_testing::GraphBuilder;
using post_opt_testing::MakeView;

// Reverses segments of routes for agent 0, from 0 to 1, over `graph`.
bool RunTwoOpt(const PlannerGraph& graph, std::size_t n, const TimeWindowMap& windows, Route& route,
               double& cost) {
  const InstanceView view =
      MakeView(&graph, post_opt_testing::OpenPoints(n), Agents({0}), {0}, {1}, windows);
  TwoOpt two_opt;
  return two_opt.Improve(RouteEvaluator(view), route, cost, 0);
}

struct TwoOptCase {
  const char* name;
  Route route;
  double cost;  // what the caller claims the route costs
  bool changed;
  Route expected;
  double expected_cost;
};

void PrintTo(const TwoOptCase& c, std::ostream* os) {
  *os << c.name;
}

class TwoOptTest : public ::testing::TestWithParam<TwoOptCase> {};

// Start 0 at x = 0, goal 1 at x = 10, points 2..5 at x = 2, 4, 6, 8. The claimed cost of 1000
// lets any evaluated candidate through, so a route that changes shows a reversal was tried.
TEST_P(TwoOptTest, ReversesOnlyInteriorSegments) {
  const TwoOptCase& c = GetParam();
  const auto graph = GraphBuilder::Line({0, 10, 2, 4, 6, 8}).Build();
  Route route = c.route;
  double cost = c.cost;
  EXPECT_EQ(RunTwoOpt(*graph, 6, {}, route, cost), c.changed);
  EXPECT_EQ(route, c.expected);
  EXPECT_DOUBLE_EQ(cost, c.expected_cost);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TwoOptTest,
    ::testing::Values(
        TwoOptCase{"Empty", {}, 1000.0, false, {}, 1000.0},
        TwoOptCase{"TwoPoints", {0, 1}, 1000.0, false, {0, 1}, 1000.0},
        TwoOptCase{"ThreePoints", {0, 2, 1}, 1000.0, false, {0, 2, 1}, 1000.0},
        // The one reversal of a 4-point route is taken, then taken back, as each pays.
        TwoOptCase{"FourPointsOneCandidate", {0, 2, 3, 1}, 1000.0, true, {0, 2, 3, 1}, 10.0},
        TwoOptCase{"FourPointsImproves", {0, 3, 2, 1}, 14.0, true, {0, 2, 3, 1}, 10.0},
        TwoOptCase{"SortsALine", {0, 5, 3, 4, 2, 1}, 26.0, true, {0, 2, 3, 4, 5, 1}, 10.0},
        TwoOptCase{"OptimalStays", {0, 2, 3, 4, 5, 1}, 10.0, false, {0, 2, 3, 4, 5, 1}, 10.0},
        TwoOptCase{"GainAtTheToleranceIsNoGain",
                   {0, 3, 2, 1},
                   10.0 + 1e-9,
                   false,
                   {0, 3, 2, 1},
                   10.0 + 1e-9}),
    [](const ::testing::TestParamInfo<TwoOptCase>& info) { return std::string(info.param.name); });

// The route 0, 2, 3, 4, 1 has three interior reversals. In each case the arcs of one reversed
// route cost 1, those of the route itself 5 and all others 100, so that exactly that reversal
// pays, and nothing pays after it: segment reversal must find it.
class TwoOptReversalTest : public ::testing::TestWithParam<std::pair<std::size_t, std::size_t>> {};

TEST_P(TwoOptReversalTest, TriesEveryInteriorReversal) {
  const auto [i, j] = GetParam();
  const Route start = {0, 2, 3, 4, 1};
  const Route target = Reversed(start, i, j);
  GraphBuilder builder(5, 1, 100.0);
  for (std::size_t k = 0; k + 1 < start.size(); ++k) {
    builder.Arc(static_cast<std::size_t>(start[k]), static_cast<std::size_t>(start[k + 1]), 5.0);
  }
  for (std::size_t k = 0; k + 1 < target.size(); ++k) {
    builder.Arc(static_cast<std::size_t>(target[k]), static_cast<std::size_t>(target[k + 1]), 1.0);
  }
  const auto graph = builder.Build();
  Route route = start;
  double cost = 1000.0;
  EXPECT_TRUE(RunTwoOpt(*graph, 5, {}, route, cost));
  EXPECT_EQ(route, target);
  EXPECT_DOUBLE_EQ(cost, 4.0);
}

INSTANTIATE_TEST_SUITE_P(
    Segments, TwoOptReversalTest,
    ::testing::Values(std::make_pair(1, 2), std::make_pair(1, 3), std::make_pair(2, 3)),
    [](const ::testing::TestParamInfo<std::pair<std::size_t, std::size_t>>& info) {
      return "Positions" + std::to_string(info.param.first) + "To" +
             std::to_string(info.param.second);
    });

TEST(TwoOptRulesTest, TakesTheFirstImprovementAndStartsOver) {
  // Route s=0, a=2, b=3, c=4, g=1. Reversing 1..2 gives 34, reversing 1..3 would give 20, but
  // the first improvement is taken and nothing improves on it afterwards.
  auto builder = GraphBuilder(5, 1, 10.0);
  builder.Arc(0, 3, 9.0).Arc(0, 4, 5.0).Arc(4, 3, 5.0).Arc(3, 2, 5.0).Arc(2, 1, 5.0);
  const auto graph = builder.Build();
  const InstanceView view =
      MakeView(graph.get(), post_opt_testing::OpenPoints(5), Agents({0}), {0}, {1});
  Route route = {0, 2, 3, 4, 1};
  double cost = RouteEvaluator(view).Evaluate(route, 0).cost;
  ASSERT_DOUBLE_EQ(cost, 40.0);
  EXPECT_TRUE(RunTwoOpt(*graph, 5, {}, route, cost));
  EXPECT_EQ(route, (Route{0, 3, 2, 4, 1}));
  EXPECT_DOUBLE_EQ(cost, 34.0);
}

TEST(TwoOptRulesTest, KeepsWindows) {
  // 0 -> 2 -> 3 -> 1 costs 1 + 1 + 10; reversed, 1 + 1 + 1, but it reaches 2 at 2.
  const auto graph = GraphBuilder(4, 1, 1.0).Arc(3, 1, 10.0).Build();
  for (const bool with_window : {false, true}) {
    const TimeWindowMap windows = with_window ? TimeWindowMap{{2, {0.0, 1.5}}} : TimeWindowMap{};
    Route route = {0, 2, 3, 1};
    double cost = 12.0;
    EXPECT_EQ(RunTwoOpt(*graph, 4, windows, route, cost), !with_window);
    EXPECT_EQ(route, with_window ? (Route{0, 2, 3, 1}) : (Route{0, 3, 2, 1}));
    EXPECT_DOUBLE_EQ(cost, with_window ? 12.0 : 3.0);
  }
}

}  // namespace
}  // namespace plenro
