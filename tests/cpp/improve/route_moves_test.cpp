#include "plenro/improve/route_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "improve_test_support.h"
#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/improve/solution.h"
#include "plenro/instance/route_evaluation.h"

namespace plenro {
namespace {

using improve_testing::Families;
using improve_testing::InstanceShape;
using improve_testing::MakeView;

constexpr double kTolerance = 1e-9;

// Every point on a random route its type may serve.
void RandomSolution(Solution& s, RandomSource& random) {
  const RoutingInstance& in = s.instance();
  std::vector<std::vector<std::int32_t>> visits(static_cast<std::size_t>(s.num_routes()));
  for (const std::int32_t v : in.customers()) {
    std::vector<std::int32_t> fits;
    for (std::int32_t r = 0; r < s.num_routes(); ++r) {
      if (in.Serves(s.route(r).type, v)) {
        fits.push_back(r);
      }
    }
    if (!fits.empty()) {
      visits[static_cast<std::size_t>(fits[random.Below(fits.size())])].push_back(v);
    }
  }
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    random.Shuffle(visits[static_cast<std::size_t>(r)]);
    s.SetVisits(r, visits[static_cast<std::size_t>(r)]);
  }
}

// The full route as the shared route evaluation reads it.
Route FullRoute(const Solution& s, std::int32_t r) {
  const PlannedAgent& agent = s.instance().agent(r);
  Route route{agent.start};
  route.insert(route.end(), s.route(r).visits.begin(), s.route(r).visits.end());
  route.push_back(s.route(r).cost.ends_at_start ? agent.start : agent.goal);
  return route;
}

struct Checked {
  std::int64_t proposals = 0;
  std::int64_t validated = 0;
};

// The proposal's costs, from cached summaries, against the applied move's routes rebuilt point
// by point, and, where the move leaves a route without violations, against the shared route
// evaluation.
void Check(const Solution& s, const MoveProposal& m, const RouteEvaluator& validator,
           Checked& checked, const std::string& what) {
  Solution applied = s;
  std::vector<std::vector<std::int32_t>> visits(2);
  for (std::int32_t k = 0; k < m.count; ++k) {
    m.Gather(s, k, visits[static_cast<std::size_t>(k)]);
  }
  for (std::int32_t k = 0; k < m.count; ++k) {
    applied.SetVisits(m.route[static_cast<std::size_t>(k)], visits[static_cast<std::size_t>(k)]);
  }
  ASSERT_EQ(applied.num_unassigned(), s.num_unassigned()) << what;
  ++checked.proposals;
  // The solution's key as the move predicts it, from the changed routes alone.
  const std::int32_t r0 = m.route[0];
  const RouteCost c0 = s.evaluator().Close(r0, m.body[0]);
  const ObjectiveKey change =
      m.count == 1 ? s.KeyChange(r0, c0)
                   : s.KeyChange(r0, c0, m.route[1], s.evaluator().Close(m.route[1], m.body[1]));
  // Relative: a leg without a connection adds a large penalty to these totals.
  const ObjectiveKey before = s.Key();
  const ObjectiveKey after = applied.Key();
  ASSERT_NEAR(before.primary + change.primary, after.primary,
              kTolerance * std::max(1.0, std::abs(after.primary)))
      << what;
  ASSERT_NEAR(before.secondary + change.secondary, after.secondary,
              kTolerance * std::max(1.0, std::abs(after.secondary)))
      << what;
  for (std::int32_t k = 0; k < m.count; ++k) {
    const std::int32_t r = m.route[static_cast<std::size_t>(k)];
    const RouteCost predicted = s.evaluator().Close(r, m.body[static_cast<std::size_t>(k)]);
    const RouteCost& rebuilt = applied.route(r).cost;
    ASSERT_NEAR(predicted.cost, rebuilt.cost, kTolerance) << what << " route " << r;
    for (std::size_t kind = 0; kind < kViolationKinds; ++kind) {
      ASSERT_NEAR(predicted.violation[kind], rebuilt.violation[kind], kTolerance)
          << what << " route " << r << " violation " << kind;
    }
    ASSERT_NEAR(predicted.penalty, rebuilt.penalty, kTolerance * std::max(1.0, rebuilt.penalty))
        << what << " route " << r;
    ASSERT_EQ(predicted.broken, rebuilt.broken) << what << " route " << r;
    ASSERT_EQ(predicted.ends_at_start, rebuilt.ends_at_start) << what << " route " << r;
    const RouteEvaluation full = validator.Evaluate(FullRoute(applied, r), r);
    if (rebuilt.feasible()) {
      ASSERT_TRUE(full.valid) << what << " route " << r;
      ASSERT_NEAR(full.cost, predicted.cost, kTolerance) << what << " route " << r;
      ++checked.validated;
    } else if (rebuilt.broken == 0 &&
               (rebuilt.violation[kTimeWarp] > 1e-6 || rebuilt.violation[kOverLength] > 1e-6 ||
                rebuilt.violation[kOverCapacity] > 1e-6)) {
      ASSERT_FALSE(full.valid) << what << " route " << r;
    }
  }
}

class RouteMovesTest : public ::testing::TestWithParam<InstanceShape> {};

TEST_P(RouteMovesTest, ProposalsCostWhatTheAppliedMoveCosts) {
  const InstanceShape& shape = GetParam();
  Checked checked;
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const InstanceView view = MakeView(shape, seed);
    const RoutingInstance instance(view);
    CostEvaluator evaluator(instance, seed % 2 == 0 ? MinMax : MinSum);
    evaluator.SetWeights({3.0, 2.0, 1.5});
    const RouteEvaluator validator(view);
    RandomSource random(seed * 31);
    Solution s(instance, evaluator);
    RandomSolution(s, random);
    MoveProposal m;
    const auto& points = instance.customers();
    // On large instances a sample of the pairs, so that the test stays quick.
    const std::size_t stride = std::max<std::size_t>(1, points.size() / 12);
    for (const std::int32_t u : points) {
      if (s.RouteOf(u) < 0) {
        continue;
      }
      for (std::size_t j = static_cast<std::size_t>(u) % stride; j < points.size(); j += stride) {
        const std::int32_t v = points[j];
        if (v == u || s.RouteOf(v) < 0) {
          continue;
        }
        const std::int32_t b = s.RouteOf(v);
        const std::int32_t q = s.PositionOf(v);
        for (std::int32_t length = 1; length <= 3; ++length) {
          if (RouteMoves::Relocate(s, u, length, b, q, m)) {
            Check(s, m, validator, checked, "relocate after");
          }
          if (RouteMoves::Relocate(s, u, length, b, q - 1, m)) {
            Check(s, m, validator, checked, "relocate before");
          }
          for (std::int32_t other = 1; other <= 3; ++other) {
            if (RouteMoves::Swap(s, u, length, v, other, m)) {
              Check(s, m, validator, checked, "swap");
            }
          }
        }
        if (RouteMoves::TwoOpt(s, u, v, m)) {
          Check(s, m, validator, checked, "2-opt");
        }
        if (RouteMoves::TwoOptStar(s, u, v, m)) {
          Check(s, m, validator, checked, "2-opt*");
        }
      }
      for (std::int32_t r = 0; r < s.num_routes(); ++r) {
        if (RouteMoves::IntoEmpty(s, u, r, m)) {
          Check(s, m, validator, checked, "into an empty route");
        }
      }
    }
    if (::testing::Test::HasFatalFailure()) {
      return;
    }
  }
  EXPECT_GT(checked.proposals, 1000);
  // Random long routes through windows almost never keep them all.
  const bool rarely_valid = shape.windows && shape.customers > 30;
  EXPECT_GT(checked.validated, rarely_valid ? 0 : 100);
}

INSTANTIATE_TEST_SUITE_P(Families, RouteMovesTest, ::testing::ValuesIn(Families()),
                         [](const auto& info) { return std::string(info.param.name); });

// Moves that do not apply are refused, whatever the instance.
TEST(RouteMovesRefusal, RefusesMovesThatDoNotApply) {
  const InstanceView view = MakeView({.customers = 6, .agents = 2}, 3);
  const RoutingInstance instance(view);
  const CostEvaluator evaluator(instance, MinMax);
  Solution s(instance, evaluator);
  // Route 0 serves every point in order; route 1 is empty.
  s.SetVisits(0, instance.customers());
  MoveProposal m;
  const std::int32_t first = instance.customers()[0];
  const std::int32_t second = instance.customers()[1];
  const std::int32_t last = instance.customers().back();
  EXPECT_FALSE(RouteMoves::Relocate(s, first, 1, 0, 1, m)) << "onto itself";
  EXPECT_FALSE(RouteMoves::Relocate(s, first, 1, 0, 0, m)) << "where it already is";
  EXPECT_FALSE(RouteMoves::Relocate(s, last, 2, 0, 0, m)) << "past the route's end";
  EXPECT_FALSE(RouteMoves::Swap(s, first, 2, second, 1, m)) << "overlapping stretches";
  EXPECT_FALSE(RouteMoves::TwoOpt(s, first, second, m)) << "adjacent points";
  EXPECT_FALSE(RouteMoves::TwoOpt(s, second, first, m)) << "v before u";
  EXPECT_FALSE(RouteMoves::TwoOptStar(s, first, last, m)) << "one route";
  EXPECT_FALSE(RouteMoves::IntoEmpty(s, first, 0, m)) << "own route";
  EXPECT_TRUE(RouteMoves::IntoEmpty(s, first, 1, m));
  EXPECT_EQ(m.count, 2);
}

// 2-opt* exchanges route tails between agents of one type, whatever their indices, and never
// between types (a tail's cached timing holds its own type's costs).
TEST(RouteMovesTwoOptStar, PairsRoutesOfOneType) {
  // Agents 0 and 2 are of type 0, agent 1 of type 1; every point is open to both types.
  const InstanceView view = MakeView({.customers = 6, .agents = 3, .types = 2}, 5);
  const RoutingInstance instance(view);
  const CostEvaluator evaluator(instance, MinSum);
  Solution s(instance, evaluator);
  const std::vector<std::int32_t>& points = instance.customers();
  s.SetVisits(0, {points[0], points[1]});
  s.SetVisits(1, {points[2], points[3]});
  s.SetVisits(2, {points[4], points[5]});
  MoveProposal m;
  EXPECT_TRUE(RouteMoves::TwoOptStar(s, points[0], points[5], m)) << "agents 0 and 2";
  EXPECT_TRUE(RouteMoves::TwoOptStar(s, points[4], points[1], m)) << "agents 2 and 0";
  EXPECT_FALSE(RouteMoves::TwoOptStar(s, points[0], points[3], m)) << "agents 0 and 1";
  EXPECT_FALSE(RouteMoves::TwoOptStar(s, points[2], points[5], m)) << "agents 1 and 2";
}

}  // namespace
}  // namespace plenro
