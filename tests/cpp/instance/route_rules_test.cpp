// The loads, service durations and orders the route evaluation enforces when the view says so.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "instance_test_support.h"
#include "plenro/graph/cost_table.h"
#include "plenro/instance/instance_view.h"
#include "plenro/instance/route_evaluation.h"

namespace plenro {
namespace {

using instance_testing::MakeAgents;
using instance_testing::MakeType0Points;

// Points on a line at 0, 10, 20, ..., point 0 the depot of both agents; each step costs 10.
// Point v has the delivery, pickup and service of row v below.
struct Site {
  std::vector<double> delivery;
  std::vector<double> pickup;
  double service = 0.0;
};

InstanceView MakeRulesView(const std::vector<Site>& sites, const std::vector<double>& capacity,
                           const std::vector<OrderLink>& orders, bool enforced = true) {
  const std::size_t n = sites.size() + 1;
  std::vector<Point> points = MakeType0Points(n);
  for (std::size_t v = 1; v < n; ++v) {
    points[v].delivery = sites[v - 1].delivery;
    points[v].pickup = sites[v - 1].pickup;
    points[v].service = sites[v - 1].service;
  }
  std::vector<AgentInfo> agents = MakeAgents({0, 0});
  agents[0].capacities = capacity;
  agents[1].capacities = capacity;
  CostTable table(n, 1);
  for (std::size_t u = 0; u < n; ++u) {
    for (std::size_t v = 0; v < n; ++v) {
      if (u != v) {
        table.Set(u, v, 0, 10.0 * static_cast<double>(u > v ? u - v : v - u));
      }
    }
  }
  InstanceView view;
  view.SetEnforced(enforced);
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetStarts({0, 0});
  view.SetGoals({0, 0});
  view.SetOrders(orders);
  view.SetCosts(std::move(table));
  return view;
}

struct RulesCase {
  const char* name;
  std::vector<Site> sites;
  std::vector<double> capacity;
  std::vector<OrderLink> orders;
  Route route;
  bool valid;
  double cost;
};

void PrintTo(const RulesCase& c, std::ostream* os) {
  *os << c.name;
}

OrderLink Link(LinkKind kind, std::uint64_t first, std::uint64_t second,
               std::vector<double> amount = {}) {
  return OrderLink{kind, first, second, std::move(amount)};
}

class RouteRulesTest : public ::testing::TestWithParam<RulesCase> {};

TEST_P(RouteRulesTest, JudgesLoadsOrdersAndService) {
  const RulesCase& c = GetParam();
  const InstanceView view = MakeRulesView(c.sites, c.capacity, c.orders);
  const RouteEvaluator evaluator(view);
  const RouteEvaluation result = evaluator.Evaluate(c.route, 0);
  EXPECT_EQ(result.valid, c.valid);
  if (c.valid) {
    EXPECT_DOUBLE_EQ(result.cost, c.cost);
  }
  // Off, the same route is judged on travel alone.
  const InstanceView off = MakeRulesView(c.sites, c.capacity, c.orders, false);
  const RouteEvaluation plain = RouteEvaluator(off).Evaluate(c.route, 0);
  EXPECT_TRUE(plain.valid);
}

const std::vector<Site> kThree = {{{4}, {}, 0}, {{4}, {}, 0}, {{4}, {}, 0}};

INSTANTIATE_TEST_SUITE_P(
    Cases, RouteRulesTest,
    ::testing::Values(
        RulesCase{"deliveries_within_capacity", kThree, {12}, {}, {0, 1, 2, 3, 0}, true, 60},
        RulesCase{"deliveries_over_capacity", kThree, {11}, {}, {0, 1, 2, 3, 0}, false, 0},
        RulesCase{"zero_capacity_is_no_limit", kThree, {0}, {}, {0, 1, 2, 3, 0}, true, 60},
        RulesCase{"second_dimension_over",
                  {{{1, 5}, {}, 0}, {{1, 5}, {}, 0}},
                  {10, 9},
                  {},
                  {0, 1, 2, 0},
                  false,
                  0},
        RulesCase{"pickup_after_deliveries_fits",
                  {{{6}, {}, 0}, {{}, {6}, 0}},
                  {6},
                  {},
                  {0, 1, 2, 0},
                  true,
                  40},
        RulesCase{"pickup_before_deliveries_overloads",
                  {{{6}, {}, 0}, {{}, {6}, 0}},
                  {6},
                  {},
                  {0, 2, 1, 0},
                  false,
                  0},
        RulesCase{"shipment_in_order_with_room",
                  {{{}, {}, 0}, {{}, {}, 0}},
                  {5},
                  {Link(LinkKind::kShipment, 1, 2, {5})},
                  {0, 1, 2, 0},
                  true,
                  40},
        RulesCase{"shipment_over_capacity",
                  {{{}, {}, 0}, {{}, {}, 0}},
                  {4},
                  {Link(LinkKind::kShipment, 1, 2, {5})},
                  {0, 1, 2, 0},
                  false,
                  0},
        RulesCase{"shipment_misordered",
                  {{{}, {}, 0}, {{}, {}, 0}},
                  {0},
                  {Link(LinkKind::kShipment, 1, 2, {5})},
                  {0, 2, 1, 0},
                  false,
                  0},
        RulesCase{"shipment_split",
                  {{{}, {}, 0}, {{}, {}, 0}},
                  {0},
                  {Link(LinkKind::kShipment, 1, 2, {5})},
                  {0, 1, 0},
                  false,
                  0},
        RulesCase{"same_pair_in_order",
                  kThree,
                  {},
                  {Link(LinkKind::kSameRoute, 3, 1)},
                  {0, 3, 2, 1, 0},
                  true,
                  60},
        RulesCase{"same_pair_missing_one",
                  kThree,
                  {},
                  {Link(LinkKind::kSameRoute, 3, 1)},
                  {0, 3, 2, 0},
                  false,
                  0},
        RulesCase{"diff_pair_together",
                  kThree,
                  {},
                  {Link(LinkKind::kOtherRoute, 1, 2)},
                  {0, 1, 2, 0},
                  false,
                  0},
        RulesCase{"diff_pair_apart",
                  kThree,
                  {},
                  {Link(LinkKind::kOtherRoute, 1, 2)},
                  {0, 1, 3, 0},
                  true,
                  60},
        RulesCase{"precedence_in_order",
                  kThree,
                  {},
                  {Link(LinkKind::kPrecedence, 1, 3)},
                  {0, 1, 2, 3, 0},
                  true,
                  60},
        RulesCase{"precedence_broken_on_one_route",
                  kThree,
                  {},
                  {Link(LinkKind::kPrecedence, 3, 1)},
                  {0, 1, 2, 3, 0},
                  false,
                  0},
        RulesCase{"service_added_on_leaving",
                  {{{}, {}, 5}, {{}, {}, 7}},
                  {},
                  {},
                  {0, 1, 2, 0},
                  true,
                  52}),
    [](const ::testing::TestParamInfo<RulesCase>& info) { return info.param.name; });

TEST(RouteRulesTest, ScheduleReportsArrivalStartDepartureAndLoad) {
  const InstanceView view = MakeRulesView({{{3}, {}, 5}, {{}, {2}, 0}}, {10}, {});
  const std::vector<Stop> stops = RouteEvaluator(view).Schedule({0, 1, 2, 0}, 0);
  ASSERT_EQ(stops.size(), 4u);
  const double expected[4][4] = {{0, 0, 0, 3}, {10, 10, 15, 0}, {25, 25, 25, 2}, {45, 45, 45, 2}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_DOUBLE_EQ(stops[i].arrival, expected[i][0]) << i;
    EXPECT_DOUBLE_EQ(stops[i].start, expected[i][1]) << i;
    EXPECT_DOUBLE_EQ(stops[i].departure, expected[i][2]) << i;
    ASSERT_EQ(stops[i].load.size(), 1u);
    EXPECT_DOUBLE_EQ(stops[i].load[0], expected[i][3]) << i;
  }
  EXPECT_DOUBLE_EQ(RouteEvaluator(view).Evaluate({0, 1, 2, 0}, 0).cost, stops[3].arrival);
}

TEST(RouteRulesTest, PrecedenceAcrossRoutesIsJudgedOnTheSchedules) {
  const InstanceView view = MakeRulesView(kThree, {}, {Link(LinkKind::kPrecedence, 3, 1)});
  const RouteEvaluator evaluator(view);
  // Point 3 (30 away) starts at 30, point 1 at 10 on the other route: broken.
  const std::string broken = evaluator.OrdersAcross({{0, 3, 0}, {0, 1, 2, 0}});
  EXPECT_NE(broken.find("node 103"), std::string::npos) << broken;
  // Point 1 served after point 2 on the other route starts at 30, with point 3.
  EXPECT_EQ(evaluator.OrdersAcross({{0, 3, 0}, {0, 2, 1, 0}}), "");
}

TEST(RouteRulesTest, ProbeVariantsMatchEvaluateUnderLoadsAndOrders) {
  const InstanceView view = MakeRulesView({{{4}, {}, 2}, {{}, {3}, 1}, {{2}, {}, 0}, {{}, {}, 3}},
                                          {8}, {Link(LinkKind::kShipment, 4, 2, {2})});
  const RouteEvaluator evaluator(view);
  const Route route = {0, 4, 1, 2, 3, 0};
  ASSERT_TRUE(evaluator.Evaluate(route, 0).valid);
  RouteProbe probe;
  probe.Load(evaluator, route, 0);
  for (std::size_t i = 1; i + 1 < route.size(); ++i) {
    Route without = route;
    without.erase(without.begin() + static_cast<std::ptrdiff_t>(i));
    const RouteEvaluation a = probe.Without(i);
    const RouteEvaluation b = evaluator.Evaluate(without, 0);
    EXPECT_EQ(a.valid, b.valid) << "without " << i;
    EXPECT_DOUBLE_EQ(a.cost, b.cost) << "without " << i;
    for (std::size_t j = i + 1; j + 1 < route.size(); ++j) {
      Route reversed = route;
      std::reverse(reversed.begin() + static_cast<std::ptrdiff_t>(i),
                   reversed.begin() + static_cast<std::ptrdiff_t>(j) + 1);
      EXPECT_EQ(probe.Reversed(i, j).valid, evaluator.Evaluate(reversed, 0).valid)
          << "reversed " << i << ".." << j;
    }
  }
}

}  // namespace
}  // namespace plenro
