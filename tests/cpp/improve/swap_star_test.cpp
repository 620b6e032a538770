#include "plenro/improve/swap_star.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "improve_test_support.h"
#include "plenro/graph/cost_table.h"
#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/local_search.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/improve/solution.h"
#include "plenro/instance/instance_view.h"

namespace plenro {
namespace {

using improve_testing::MakeView;

constexpr double kTolerance = 1e-6;

// A capacitated instance: `fleet` agents at depot 0, `customers` points in the plane (exact
// distances, which keep the triangle inequality) with whole deliveries (no pickups) and a
// capacity a random split of them tends to break.
InstanceView CapacitatedView(std::int32_t customers, std::int32_t fleet, std::uint64_t seed) {
  RandomSource random(seed);
  const std::int32_t n = customers + 1;
  std::vector<double> x(static_cast<std::size_t>(n));
  std::vector<double> y(static_cast<std::size_t>(n));
  std::vector<Point> points(static_cast<std::size_t>(n));
  double total = 0.0;
  for (std::int32_t v = 0; v < n; ++v) {
    x[static_cast<std::size_t>(v)] = std::floor(random.Uniform() * 100.0);
    y[static_cast<std::size_t>(v)] = std::floor(random.Uniform() * 100.0);
    Point& point = points[static_cast<std::size_t>(v)];
    point.id = static_cast<std::uint64_t>(v);
    point.types = {0};
    if (v > 0) {
      point.delivery = {1.0 + std::floor(random.Uniform() * 9.0)};
      total += point.delivery[0];
    }
  }
  std::vector<AgentInfo> agents(static_cast<std::size_t>(fleet));
  std::vector<std::uint64_t> depots(agents.size(), 0);
  for (std::size_t a = 0; a < agents.size(); ++a) {
    agents[a].id = a;
    agents[a].type = 0;
    agents[a].capacities = {std::ceil(1.1 * total / static_cast<double>(agents.size()))};
  }
  CostTable table(static_cast<std::uint64_t>(n), 1);
  for (std::int32_t u = 0; u < n; ++u) {
    for (std::int32_t v = 0; v < n; ++v) {
      if (u != v) {
        table.Set(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v), 0,
                  std::hypot(x[static_cast<std::size_t>(u)] - x[static_cast<std::size_t>(v)],
                             y[static_cast<std::size_t>(u)] - y[static_cast<std::size_t>(v)]));
      }
    }
  }
  InstanceView view;
  view.SetEnforced(true);
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetStarts(depots);
  view.SetGoals(depots);
  view.SetReturnToEnd(true);
  view.SetCosts(std::move(table));
  return view;
}

void RandomSolution(Solution& s, RandomSource& random) {
  std::vector<std::vector<std::int32_t>> visits(static_cast<std::size_t>(s.num_routes()));
  for (const std::int32_t v : s.instance().customers()) {
    visits[random.Below(visits.size())].push_back(v);
  }
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    s.SetVisits(r, visits[static_cast<std::size_t>(r)]);
  }
}

// The penalised values of routes a and b after exchanging the points at positions p and q,
// each put at every place of the other route: the lowest sum, found by trying them all.
double BestByHand(const Solution& s, std::int32_t a, std::int32_t b) {
  double best = std::numeric_limits<double>::infinity();
  const auto& A = s.route(a).visits;
  const auto& B = s.route(b).visits;
  Solution trial = s;
  for (std::size_t p = 0; p < A.size(); ++p) {
    for (std::size_t q = 0; q < B.size(); ++q) {
      std::vector<std::int32_t> rest_a = A;
      rest_a.erase(rest_a.begin() + static_cast<std::ptrdiff_t>(p));
      std::vector<std::int32_t> rest_b = B;
      rest_b.erase(rest_b.begin() + static_cast<std::ptrdiff_t>(q));
      for (std::size_t i = 0; i <= rest_a.size(); ++i) {
        std::vector<std::int32_t> new_a = rest_a;
        new_a.insert(new_a.begin() + static_cast<std::ptrdiff_t>(i), B[q]);
        trial.SetVisits(a, new_a);
        const double value_a = trial.route(a).cost.penalised();
        for (std::size_t j = 0; j <= rest_b.size(); ++j) {
          std::vector<std::int32_t> new_b = rest_b;
          new_b.insert(new_b.begin() + static_cast<std::ptrdiff_t>(j), A[p]);
          trial.SetVisits(b, new_b);
          best = std::min(best, value_a + trial.route(b).cost.penalised());
        }
      }
    }
  }
  return best;
}

// On capacitated instances with deliveries alone, the scores are exact: the exchange found is
// the best of all (each point at its best place in the other route), its prices are what the
// new routes cost, and nothing is found where no exchange improves.
TEST(SwapStar, FindsTheBestExchangeAndPricesItExactly) {
  std::int32_t found = 0;
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    const InstanceView view = CapacitatedView(12, 3, seed);
    const RoutingInstance instance(view);
    ASSERT_TRUE(SwapStar::Applies(instance, MinSum));
    CostEvaluator evaluator(instance, MinSum);
    evaluator.SetWeights(UniformWeights(seed % 3 == 0 ? 0.5 : 20.0));
    Solution s(instance, evaluator);
    RandomSource random(seed);
    RandomSolution(s, random);
    SwapStar swap(instance);
    for (std::int32_t a = 0; a < s.num_routes(); ++a) {
      for (std::int32_t b = a + 1; b < s.num_routes(); ++b) {
        const double before = s.route(a).cost.penalised() + s.route(b).cost.penalised();
        const double by_hand = BestByHand(s, a, b);
        std::vector<std::int32_t> first;
        std::vector<std::int32_t> second;
        RouteCost ca;
        RouteCost cb;
        if (!swap.Best(s, a, b, first, second, ca, cb)) {
          EXPECT_GE(by_hand, before - kTolerance) << "seed " << seed << " routes " << a << b;
          continue;
        }
        ++found;
        EXPECT_NEAR(ca.penalised() + cb.penalised(), by_hand, kTolerance) << "seed " << seed;
        // The new routes hold the same points, but for the two that changed places.
        const auto [u, v] = swap.moved();
        EXPECT_EQ(s.RouteOf(u), a);
        EXPECT_EQ(s.RouteOf(v), b);
        Solution applied = s;
        applied.SetVisits(a, first);
        applied.SetVisits(b, second);
        EXPECT_EQ(applied.num_unassigned(), 0);
        EXPECT_EQ(applied.RouteOf(u), b);
        EXPECT_EQ(applied.RouteOf(v), a);
        EXPECT_EQ(first.size(), s.route(a).visits.size());
        EXPECT_NEAR(applied.route(a).cost.penalised(), ca.penalised(), kTolerance);
        EXPECT_NEAR(applied.route(b).cost.penalised(), cb.penalised(), kTolerance);
      }
    }
  }
  EXPECT_GT(found, 0);
}

// The descent that uses it leaves no improving exchange between any two routes, and keeps
// every point on exactly one route.
TEST(SwapStar, DescentLeavesNoImprovingExchange) {
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    const InstanceView view = CapacitatedView(30, 4, seed);
    const RoutingInstance instance(view);
    const CandidateLists candidates(instance, 40);
    CostEvaluator evaluator(instance, MinSum);
    evaluator.SetWeights(UniformWeights(50.0));
    Solution s(instance, evaluator);
    RandomSource random(seed);
    RandomSolution(s, random);
    LocalSearch search(instance, candidates);
    search.Run(s, instance.customers(), random, [] { return false; });
    EXPECT_EQ(s.num_unassigned(), 0);
    SwapStar swap(instance);
    for (std::int32_t a = 0; a < s.num_routes(); ++a) {
      for (std::int32_t b = a + 1; b < s.num_routes(); ++b) {
        const double before = s.route(a).cost.penalised() + s.route(b).cost.penalised();
        EXPECT_GE(BestByHand(s, a, b), before - kTolerance) << "seed " << seed;
      }
    }
  }
}

// Not where a route's cost is no sum of legs (windows, limits), nor without loads or under
// MinMax.
TEST(SwapStar, AppliesToCapacitatedMinSumOnly) {
  const InstanceView capacitated = CapacitatedView(8, 2, 1);
  const RoutingInstance loaded(capacitated);
  EXPECT_TRUE(SwapStar::Applies(loaded, MinSum));
  EXPECT_FALSE(SwapStar::Applies(loaded, MinMax));
  for (const improve_testing::InstanceShape& shape :
       {improve_testing::InstanceShape{.name = "plain"},
        improve_testing::InstanceShape{.name = "loads_windows", .windows = true, .loads = true},
        improve_testing::InstanceShape{.name = "loads_limits", .limits = true, .loads = true}}) {
    const InstanceView view = MakeView(shape, 2);
    const RoutingInstance instance(view);
    EXPECT_FALSE(SwapStar::Applies(instance, MinSum)) << shape.name;
  }
}

}  // namespace
}  // namespace plenro
