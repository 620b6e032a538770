// The improvement engine with loads, service durations and orders enforced: every solution it
// returns keeps them all, and where none can it says why.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "improve_test_support.h"
#include "plenro/improve/improvement_engine.h"
#include "plenro/instance/route_evaluation.h"

namespace plenro {
namespace {

using improve_testing::InstanceShape;
using improve_testing::MakeView;

constexpr double kForever = 1e9;

ImproveOutcome RunEngine(const InstanceView& view, ObjectiveType objective, std::uint64_t seed,
                         std::int64_t iterations, bool construct_only = false) {
  ImprovementEngine engine(view, objective);
  Stopwatch clock;
  clock.Start();
  return engine.Run(nullptr, ImproveSettings{seed, iterations, kForever, construct_only}, clock,
                    RunControl{});
}

// Orders over the points to serve of a view made by MakeView (points agents.. on): shipments,
// pairs of one route and of two, precedences, as many of each as asked, on distinct points
// (each point in one order at most), firsts of precedences before their seconds by index so
// that they form no cycle.
struct OrderShape {
  const char* name;
  InstanceShape instance;
  int shipments = 0;
  int same = 0;
  int diff = 0;
  int precedences = 0;
};

void PrintTo(const OrderShape& shape, std::ostream* os) {
  *os << shape.name;
}

std::vector<OrderLink> MakeOrders(const OrderShape& shape, std::uint64_t first_customer,
                                  std::uint64_t seed) {
  RandomSource random(seed);
  std::vector<OrderLink> orders;
  std::uint64_t next = first_customer;
  const auto add = [&](LinkKind kind, int count) {
    for (int i = 0; i < count; ++i) {
      std::vector<double> amount;
      if (kind == LinkKind::kShipment) {
        amount = {1.0 + std::floor(random.Uniform() * 5.0)};
      }
      orders.push_back(OrderLink{kind, next, next + 1, amount});
      next += 2;
    }
  };
  add(LinkKind::kShipment, shape.shipments);
  add(LinkKind::kSameRoute, shape.same);
  add(LinkKind::kOtherRoute, shape.diff);
  add(LinkKind::kPrecedence, shape.precedences);
  return orders;
}

// Every route accepted by the shared evaluation at its cost (loads, service and the orders on
// one route), the orders across routes kept, every point served once.
void ExpectKeepsEveryRule(const InstanceView& view, const RoutePlan& plan) {
  const RouteEvaluator validator(view);
  ASSERT_EQ(plan.routes.size(), view.num_agents());
  std::vector<int> served(view.num_points(), 0);
  std::vector<Route> routes;
  for (std::size_t a = 0; a < plan.routes.size(); ++a) {
    const RouteEvaluation check = validator.Evaluate(plan.routes[a], a);
    EXPECT_TRUE(check.valid) << "route " << a;
    EXPECT_NEAR(check.cost, plan.costs[a], 1e-9) << "route " << a;
    for (std::size_t i = 1; i + 1 < plan.routes[a].size(); ++i) {
      ++served[static_cast<std::size_t>(plan.routes[a][i])];
    }
    routes.push_back(plan.routes[a]);
  }
  EXPECT_EQ(validator.OrdersAcross(routes), "");
  for (std::uint64_t v = 0; v < view.num_points(); ++v) {
    EXPECT_EQ(served[v], view.IsStart(v) || view.IsGoal(v) ? 0 : 1) << "point " << v;
  }
}

class EngineRules : public ::testing::TestWithParam<OrderShape> {};

TEST_P(EngineRules, ReturnsOnlySolutionsThatKeepEveryRule) {
  const OrderShape& shape = GetParam();
  int found = 0;
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    InstanceView view = MakeView(shape.instance, seed);
    view.SetEnforced(true);
    const std::uint64_t first =
        view.num_points() - static_cast<std::uint64_t>(shape.instance.customers);
    view.SetOrders(MakeOrders(shape, first, seed));
    for (const ObjectiveType objective : {MinSum, MinMax}) {
      for (const bool construct_only : {false, true}) {
        const ImproveOutcome outcome = RunEngine(view, objective, seed, 100, construct_only);
        ASSERT_TRUE(outcome.unservable.empty()) << outcome.unservable;
        if (!outcome.found) {
          EXPECT_FALSE(outcome.shortfall.empty());
          continue;
        }
        ++found;
        ExpectKeepsEveryRule(view, outcome.best);
      }
    }
  }
  EXPECT_GT(found, 0) << "no run found a solution";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, EngineRules,
    ::testing::Values(
        OrderShape{"capacity", {.customers = 16, .agents = 3, .loads = true}},
        OrderShape{"shipments", {.customers = 16, .agents = 3, .loads = true}, 5},
        OrderShape{"pairs", {.customers = 16, .agents = 3}, 0, 2, 2, 2},
        OrderShape{"everything",
                   {.customers = 14, .agents = 3, .windows = true, .loads = true, .service = true},
                   2,
                   1,
                   1,
                   2},
        OrderShape{"long_routes_shipments", {.customers = 60, .agents = 2, .loads = true}, 12}),
    [](const ::testing::TestParamInfo<OrderShape>& info) { return info.param.name; });

TEST(EngineRules, SameSeedAndIterationLimitGiveTheSameRoutes) {
  const OrderShape shape{"everything", {.customers = 20, .agents = 3, .loads = true}, 3, 1, 1, 1};
  InstanceView view = MakeView(shape.instance, 7);
  view.SetOrders(MakeOrders(shape, 3, 7));
  const ImproveOutcome a = RunEngine(view, MinSum, 9, 30);
  const ImproveOutcome b = RunEngine(view, MinSum, 9, 30);
  EXPECT_EQ(a.best.routes, b.best.routes);
  EXPECT_EQ(a.moves_evaluated, b.moves_evaluated);
}

// A precedence whose first point opens late, so that its second point is served in time only
// when a route reaches it late enough: on the other agent's route (the types force it), on the
// first's route behind it, or either; with the second also the delivery of a shipment.
struct LateOrder {
  const char* name;
  std::vector<std::uint64_t> first_types;
  std::vector<std::uint64_t> second_types;
  bool shipment = false;
};

void PrintTo(const LateOrder& c, std::ostream* os) {
  *os << c.name;
}

InstanceView LateOrderView(const LateOrder& c) {
  // Point 0 is both agents' depot; 1 the precedence's first, 2 its second, 3..5 others.
  const std::vector<std::pair<double, double>> at = {{0, 0},  {50, 0},  {0, 10},
                                                     {0, 40}, {0, -40}, {30, 30}};
  const auto n = static_cast<std::uint64_t>(at.size());
  std::vector<Point> points(n);
  for (std::uint64_t v = 0; v < n; ++v) {
    points[v].x = at[v].first;
    points[v].y = at[v].second;
    points[v].id = 100 + v;
    points[v].types = {0, 1};
  }
  points[1].types = c.first_types;
  points[2].types = c.second_types;
  std::vector<AgentInfo> agents(2);
  for (std::uint64_t a = 0; a < 2; ++a) {
    agents[a].id = a;
    agents[a].type = static_cast<std::int64_t>(a);
    agents[a].capacities = {5.0};
  }
  CostTable table(n, 2);
  for (std::uint64_t u = 0; u < n; ++u) {
    for (std::uint64_t v = 0; v < n; ++v) {
      if (u != v) {
        const double d = std::hypot(at[u].first - at[v].first, at[u].second - at[v].second);
        table.Set(u, v, 0, d);
        table.Set(u, v, 1, d);
      }
    }
  }
  InstanceView view;
  view.SetEnforced(true);
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetStarts({0, 0});
  view.SetGoals({0, 0});
  view.SetTimeWindows(TimeWindowMap{{1, {100.0, 300.0}}});
  view.SetReturnToEnd(true);
  view.SetCosts(std::move(table));
  std::vector<OrderLink> orders = {OrderLink{LinkKind::kPrecedence, 1, 2, {}}};
  if (c.shipment) {
    orders.push_back(OrderLink{LinkKind::kShipment, 3, 2, {4.0}});
  }
  view.SetOrders(orders);
  return view;
}

class EngineLateOrder : public ::testing::TestWithParam<LateOrder> {};

TEST_P(EngineLateOrder, FindsRoutesThatServeTheSecondPointLateEnough) {
  const InstanceView view = LateOrderView(GetParam());
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    for (const ObjectiveType objective : {MinSum, MinMax}) {
      const ImproveOutcome outcome = RunEngine(view, objective, seed, 200);
      ASSERT_TRUE(outcome.found) << "seed " << seed << ": " << outcome.shortfall;
      ExpectKeepsEveryRule(view, outcome.best);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineLateOrder,
    ::testing::Values(LateOrder{"on_two_routes", {0}, {1}}, LateOrder{"on_one_route", {0}, {0}},
                      LateOrder{"either", {0, 1}, {0, 1}},
                      LateOrder{"on_two_routes_with_a_shipment", {0}, {1}, true},
                      LateOrder{"either_with_a_shipment", {0, 1}, {0, 1}, true}),
    [](const ::testing::TestParamInfo<LateOrder>& info) { return info.param.name; });

// Three agents of three types at one depot (costs 1, 1.3 and 0.8 times the distance), two
// shipments and a precedence whose first point, open late and to two types only, must start
// no later than the delivery of a shipment on another agent's route: the routes that keep it
// are few, and the cheapest routes on their own break it.
InstanceView OrderAcrossTypedRoutesView() {
  struct Site {
    double x, y;
    std::vector<std::uint64_t> types;
    double delivery, pickup, service;
  };
  const std::vector<Site> sites = {
      {6.579, 40.087, {0, 1, 2}, 0, 0, 0}, {4.335, 76.727, {0, 1, 2}, 0, 0, 0},
      {98.2, 9.935, {0, 1, 2}, 0, 0, 14},  {4.923, 2.787, {2}, 9, 2, 8},
      {51.022, 77.888, {2}, 0, 0, 1},      {19.426, 18.935, {0, 1, 2}, 5, 9, 0},
      {70.823, 98.123, {1, 2}, 0, 0, 1},   {94.03, 63.87, {0, 1, 2}, 0, 0, 14}};
  const auto n = static_cast<std::uint64_t>(sites.size());
  std::vector<Point> points(n);
  for (std::uint64_t v = 0; v < n; ++v) {
    points[v].x = sites[v].x;
    points[v].y = sites[v].y;
    points[v].id = v == 0 ? 0 : 99 + v;
    points[v].types = sites[v].types;
    points[v].delivery = {sites[v].delivery};
    points[v].pickup = {sites[v].pickup};
    points[v].service = sites[v].service;
  }
  const std::vector<double> factor = {1.0, 1.3, 0.8};
  std::vector<AgentInfo> agents(3);
  const std::vector<double> limits = {482.0, 264.0, 0.0};
  const std::vector<double> capacities = {13.0, 1.0, 12.0};
  for (std::uint64_t a = 0; a < 3; ++a) {
    agents[a].id = 1000 + a;
    agents[a].type = static_cast<std::int64_t>(a);
    agents[a].max_length = limits[a];
    agents[a].capacities = {capacities[a]};
  }
  CostTable table(n, 3);
  for (std::uint64_t u = 0; u < n; ++u) {
    for (std::uint64_t v = 0; v < n; ++v) {
      if (u != v) {
        const double d = std::hypot(sites[u].x - sites[v].x, sites[u].y - sites[v].y);
        for (std::uint64_t t = 0; t < 3; ++t) {
          table.Set(u, v, t, d * factor[t]);
        }
      }
    }
  }
  InstanceView view;
  view.SetEnforced(true);
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetStarts({0, 0, 0});
  view.SetGoals({0, 0, 0});
  view.SetTimeWindows(TimeWindowMap{{6, {97.48, 174.94}}});
  view.SetReturnToEnd(true);
  view.SetCosts(std::move(table));
  view.SetOrders({OrderLink{LinkKind::kShipment, 5, 2, {3.0}},
                  OrderLink{LinkKind::kShipment, 3, 4, {9.0}},
                  OrderLink{LinkKind::kPrecedence, 6, 2, {}}});
  return view;
}

TEST(EngineLateOrder, KeepsAnOrderAcrossRoutesOfAgentsOfDifferentTypes) {
  const InstanceView view = OrderAcrossTypedRoutesView();
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    for (const ObjectiveType objective : {MinMax, MinSum}) {
      const ImproveOutcome outcome = RunEngine(view, objective, seed, 300);
      ASSERT_TRUE(outcome.found) << "seed " << seed << ": " << outcome.shortfall;
      ExpectKeepsEveryRule(view, outcome.best);
    }
  }
}

struct Impossible {
  const char* name;
  std::vector<OrderLink> orders;
  double delivery;  // of point 3
  const char* message;
};

void PrintTo(const Impossible& c, std::ostream* os) {
  *os << c.name;
}

class EngineImpossible : public ::testing::TestWithParam<Impossible> {};

TEST_P(EngineImpossible, EndsWithoutASolutionNamingWhatCannotBeKept) {
  const Impossible& c = GetParam();
  InstanceView view = MakeView({.customers = 5, .agents = 2, .loads = true}, 3);
  std::vector<Point> points = view.points();
  points[3].delivery = {c.delivery};
  view.SetPoints(points);
  view.SetOrders(c.orders);
  const ImproveOutcome outcome = RunEngine(view, MinSum, 1, 5);
  EXPECT_FALSE(outcome.found);
  EXPECT_EQ(outcome.iterations, 0);
  EXPECT_EQ(outcome.unservable, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineImpossible,
    ::testing::Values(
        Impossible{"load_above_every_capacity",
                   {},
                   1000.0,
                   "point 3 (node id 103) cannot be carried: its load exceeds the capacity of "
                   "every agent that may serve it"},
        Impossible{"shipment_above_every_capacity",
                   {OrderLink{LinkKind::kShipment, 4, 5, {1000.0}}},
                   0.0,
                   "the pair of node 104 and node 105 (first before second) cannot be carried: "
                   "its load exceeds the capacity of every agent that may serve it"},
        Impossible{
            "same_and_diff",
            {OrderLink{LinkKind::kSameRoute, 4, 5, {}}, OrderLink{LinkKind::kOtherRoute, 5, 4, {}}},
            0.0,
            "nodes 105 and 104 cannot be ordered: they must share a route and must not"},
        Impossible{
            "cycle",
            {OrderLink{LinkKind::kPrecedence, 4, 5, {}}, OrderLink{LinkKind::kPrecedence, 5, 6, {}},
             OrderLink{LinkKind::kSameRoute, 6, 4, {}}},
            0.0,
            "the orders cannot be kept: they form a cycle (node 104 before node 105 "
            "before node 106 before node 104)"}),
    [](const ::testing::TestParamInfo<Impossible>& info) { return info.param.name; });

}  // namespace
}  // namespace plenro
