#include "plenro/instance/route_evaluation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <set>
#include <utility>

#include "instance/instance_test_support.h"
#include "plenro/instance/instance_view.h"

namespace plenro {
namespace {

using instance_testing::Agents;
using instance_testing::GraphBuilder;
using instance_testing::MakeView;
using instance_testing::Points;
using instance_testing::Reversed;

// Vertices on a line. Agent 0 (type 0) runs 0 -> 1, agent 1 (type 1) runs 2 -> 3, agent 2
// (type 0) starts and ends at 7. Point 6 is open to type 1 only.
const std::vector<double> kX = {0, 10, 0, 10, 2, 5, 7, 1};

// The route evaluation on the view judges the route as expected (and, if valid, costs it so).
void ExpectJudged(const InstanceView& view, const Route& route, std::uint64_t agent, bool valid,
                  double cost) {
  const RouteEvaluation got = RouteEvaluator(view).Evaluate(route, agent);
  EXPECT_EQ(got.valid, valid);
  if (valid) {
    EXPECT_DOUBLE_EQ(got.cost, cost);
  }
}

std::vector<Point> LinePoints() {
  return Points({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {0, 1}, {1}, {0, 1}});
}

// Settings a case departs from: routes need not return to their end point, no starts, no goals.
enum Setup : int { kDefault = 0, kFree = 1, kNoStarts = 2, kNoGoals = 4 };

struct EvalCase {
  const char* name;
  Route route;
  bool valid = false;
  double cost = 0.0;
  std::uint64_t agent = 0;
  int setup = kDefault;
  TimeWindowMap windows = {};
  double max_length = 0.0;  // agent 0's limit
};

void PrintTo(const EvalCase& c, std::ostream* os) {
  *os << c.name;
}

class EvaluateRouteTest : public ::testing::TestWithParam<EvalCase> {};

TEST_P(EvaluateRouteTest, JudgesAndCostsTheRoute) {
  const EvalCase& c = GetParam();
  const auto graph = GraphBuilder::Line(kX, 2).Build();
  const std::vector<std::uint64_t> starts = {0, 2, 7};
  const std::vector<std::uint64_t> goals = {1, 3, 7};
  const InstanceView view =
      MakeView(graph.get(), LinePoints(), Agents({0, 1, 0}, {c.max_length, 0.0, 0.0}),
               (c.setup & kNoStarts) == 0 ? starts : std::vector<std::uint64_t>{},
               (c.setup & kNoGoals) == 0 ? goals : std::vector<std::uint64_t>{}, c.windows,
               (c.setup & kFree) == 0);
  ExpectJudged(view, c.route, c.agent, c.valid, c.cost);
}

// Legs: 0-4 costs 2, 4-5 3, 5-1 5, 0-1 10, 4-1 8, 2-6 7, 6-3 3.
INSTANTIATE_TEST_SUITE_P(
    Rules, EvaluateRouteTest,
    ::testing::Values(
        EvalCase{"EmptyRoute", {}, true, 0.0},
        EvalCase{"EmptyRouteWithoutEndpoints", {}, true, 0.0, 0, kNoStarts | kNoGoals},
        EvalCase{"Plain", {0, 4, 5, 1}, true, 10.0},
        EvalCase{"RepeatedPointCostsNothing", {0, 4, 4, 1}, true, 10.0},
        EvalCase{"WrongStart", {4, 5, 1}}, EvalCase{"WrongEnd", {0, 4, 5}},
        EvalCase{"BackToStartNeedsFreeReturn", {0, 4, 0}},
        EvalCase{"BackToStartFreeLastLeg", {0, 4, 0}, true, 2.0, 0, kFree},
        EvalCase{"LegIntoOwnGoalFreeWithoutReturn", {0, 4, 1}, true, 2.0, 0, kFree},
        EvalCase{"LegIntoOwnGoalPaid", {0, 4, 1}, true, 10.0},
        EvalCase{"OnePointNeedsFreeReturn", {0}},
        EvalCase{"OnePointFreeReturn", {0}, true, 0.0, 0, kFree},
        EvalCase{"OnePointStartIsGoal", {7}, true, 0.0, 2},
        EvalCase{"OwnStartInside", {0, 4, 0, 5, 1}},
        EvalCase{"OwnStartInsideFreeReturn", {0, 4, 0, 5, 0}, false, 0.0, 0, kFree},
        EvalCase{"OwnGoalInsideAllowed", {0, 1, 4, 1}, true, 26.0},
        EvalCase{"TypeNotServed", {0, 6, 1}}, EvalCase{"OtherTypeServed", {2, 6, 3}, true, 10.0, 1},
        EvalCase{"ForeignStart", {0, 2, 1}}, EvalCase{"ForeignGoal", {0, 3, 1}},
        EvalCase{"ForeignStartAndGoal", {0, 7, 1}}, EvalCase{"UnknownVertex", {0, 99, 1}},
        EvalCase{"NegativeVertex", {0, -4, 1}}, EvalCase{"UnknownAgent", {0, 4, 1}, false, 0.0, 9},
        EvalCase{"NoStartsNoGoals", {0, 4, 5, 1}, false, 0.0, 0, kNoStarts | kNoGoals},
        EvalCase{"GoalsOnlyAnyStart", {4, 5, 1}, true, 8.0, 0, kNoStarts},
        EvalCase{"GoalsOnlyWrongGoal", {4, 5, 3}, false, 0.0, 0, kNoStarts},
        EvalCase{"StartsOnlyBackToStart", {0, 4, 0}, true, 2.0, 0, kFree | kNoGoals},
        EvalCase{"StartsOnlyMustReturn", {0, 4, 1}, false, 0.0, 0, kFree | kNoGoals},
        EvalCase{"StartsOnlyNeedsFreeReturn", {0, 4, 0}, false, 0.0, 0, kNoGoals},
        EvalCase{"WindowWaits", {0, 4, 5, 1}, true, 14.0, 0, kDefault, {{4, {6.0, 20.0}}}},
        EvalCase{"WindowMissed", {0, 4, 5, 1}, false, 0.0, 0, kDefault, {{5, {0.0, 4.0}}}},
        EvalCase{"WindowReachedAtClose", {0, 4, 5, 1}, true, 10.0, 0, kDefault, {{5, {0.0, 5.0}}}},
        // A route waits at its start until the start's window opens.
        EvalCase{"WindowOnStart", {0, 4, 5, 1}, true, 13.0, 0, kDefault, {{0, {3.0, 100.0}}}},
        EvalCase{"StartWindowClosedBeforeLeaving",
                 {0, 4, 5, 1},
                 false,
                 0.0,
                 0,
                 kDefault,
                 {{0, {-5.0, -1.0}}}},
        EvalCase{"StartWindowMissedOnReturn", {0, 4, 0}, false, 0.0, 0, kFree, {{0, {0.0, 1.5}}}},
        EvalCase{
            "StartWindowWaitedForBeforeLeaving", {0, 4, 0}, true, 7.0, 0, kFree, {{0, {5.0, 9.0}}}},
        EvalCase{"WindowOfUnvisitedPoint", {0, 4, 1}, true, 10.0, 0, kDefault, {{5, {0.0, 0.0}}}},
        EvalCase{"MaxLengthReached", {0, 4, 5, 1}, true, 10.0, 0, kDefault, {}, 10.0},
        EvalCase{"MaxLengthExceeded", {0, 4, 5, 1}, false, 0.0, 0, kDefault, {}, 9.5},
        EvalCase{"MaxLengthOnFirstLeg", {0, 1}, false, 0.0, 0, kDefault, {}, 9.0},
        EvalCase{"MaxLengthAfterWaiting",
                 {0, 4, 5, 1},
                 false,
                 0.0,
                 0,
                 kDefault,
                 {{4, {6.0, 20.0}}},
                 13.0},
        EvalCase{
            "MaxLengthNotTestedAtStart", {0}, true, 50.0, 0, kFree, {{0, {50.0, 60.0}}}, 10.0}),
    [](const ::testing::TestParamInfo<EvalCase>& info) { return std::string(info.param.name); });

// Depots shared between agents, on a line: depots 0 and 1, sites 2, 3 and 4 (4 open to type 1
// only). Agent 0 (type 0) runs 0 -> 1, agent 1 (type 0) 1 -> 1, agent 2 (type 1) 1 -> 0: each
// agent's start or end point is another agent's start or end point too.
const std::vector<double> kSharedX = {0, 10, 2, 5, 7};

// A depot open to type 1 only, in some cases.
enum Restriction : int { kNone = 0, kStartForTypeOne = 1, kGoalForTypeOne = 2 };

struct SharedDepotCase {
  const char* name;
  std::uint64_t agent;
  Route route;
  bool valid = false;
  double cost = 0.0;
  bool return_to_end = true;
  Restriction restriction = kNone;
};

void PrintTo(const SharedDepotCase& c, std::ostream* os) {
  *os << c.name;
}

class SharedDepotTest : public ::testing::TestWithParam<SharedDepotCase> {};

TEST_P(SharedDepotTest, OwnEndsAreNeverRefusedBecauseOthersStartOrEndThere) {
  const SharedDepotCase& c = GetParam();
  const auto graph = GraphBuilder::Line(kSharedX, 2).Build();
  std::vector<std::vector<std::uint64_t>> types = {{0, 1}, {0, 1}, {0, 1}, {0, 1}, {1}};
  if (c.restriction == kStartForTypeOne) {
    types[0] = {1};
  } else if (c.restriction == kGoalForTypeOne) {
    types[1] = {1};
  }
  const InstanceView view = MakeView(graph.get(), Points(types), Agents({0, 0, 1}), {0, 1, 1},
                                     {1, 1, 0}, {}, c.return_to_end);
  ExpectJudged(view, c.route, c.agent, c.valid, c.cost);
}

// Legs: 0-2 costs 2, 2-3 3, 3-1 5, 1-3 5, 2-1 8, 3-0 5.
INSTANTIATE_TEST_SUITE_P(
    Rules, SharedDepotTest,
    ::testing::Values(
        SharedDepotCase{"OwnGoalIsAnotherAgentsStart", 0, {0, 2, 3, 1}, true, 10.0},
        SharedDepotCase{"OwnStartIsAnotherAgentsGoal", 2, {1, 3, 2, 0}, true, 10.0},
        SharedDepotCase{"SharedStartAndGoal", 1, {1, 3, 2, 1}, true, 16.0},
        SharedDepotCase{"OpenRouteEndsAtOwnGoal", 0, {0, 2, 3, 1}, true, 5.0, false},
        SharedDepotCase{"OpenRouteEndsBackAtOwnStart", 0, {0, 2, 3, 0}, true, 5.0, false},
        SharedDepotCase{"OpenRouteOfASharedDepot", 1, {1, 3, 2, 1}, true, 8.0, false},
        SharedDepotCase{"OpenRouteEndsAtAnotherAgentsStart", 2, {1, 4, 0}, true, 3.0, false},
        SharedDepotCase{"OwnGoalInsideWhereAnotherStarts", 0, {0, 1, 2, 1}},
        SharedDepotCase{"AnotherAgentsDepotInside", 1, {1, 0, 2, 1}},
        SharedDepotCase{"AnotherAgentsDepotInsideOpenRoute", 1, {1, 0, 2, 1}, false, 0.0, false},
        SharedDepotCase{"WrongEndStillRefused", 0, {0, 2, 3, 4}},
        // The agent is at its start already: that point's types do not matter; those of the
        // point it ends at do.
        SharedDepotCase{
            "StartOpenToAnotherTypeOnly", 0, {0, 2, 1}, true, 10.0, true, kStartForTypeOne},
        SharedDepotCase{
            "GoalOpenToAnotherTypeOnly", 0, {0, 2, 1}, false, 0.0, true, kGoalForTypeOne},
        SharedDepotCase{"OpenRouteBackAtAStartOpenToAnotherTypeOnly",
                        0,
                        {0, 2, 0},
                        false,
                        0.0,
                        false,
                        kStartForTypeOne}),
    [](const ::testing::TestParamInfo<SharedDepotCase>& info) {
      return std::string(info.param.name);
    });

TEST(RouteEvaluatorTest, LegsCostNothingWithoutCostsAndNoConnectionIsNeverTravelled) {
  const auto points = Points({{0}, {0}, {0}, {0}});
  const InstanceView without_costs = MakeView(nullptr, points, Agents({0}), {0}, {1});
  EXPECT_DOUBLE_EQ(RouteEvaluator(without_costs).Evaluate({0, 3, 2, 1}, 0).cost, 0.0);

  // A missing arc, or a cost from the no-connection marker up, is no connection: a route that
  // pays for such a leg is invalid. The free leg into the own end point without the return
  // rule is never paid, so it does not matter there.
  const auto graph = GraphBuilder(4, 1, 2.0).Remove(3, 2).Arc(2, 3, 12000.0).Remove(2, 1).Build();
  for (const bool return_to_end : {true, false}) {
    const InstanceView view =
        MakeView(graph.get(), points, Agents({0}), {0}, {1}, {}, return_to_end);
    const RouteEvaluator evaluator(view);
    EXPECT_FALSE(evaluator.Evaluate({0, 3, 2, 1}, 0).valid) << return_to_end;
    EXPECT_FALSE(evaluator.Evaluate({0, 2, 3, 1}, 0).valid) << return_to_end;
    const RouteEvaluation ending = evaluator.Evaluate({0, 2, 1}, 0);
    EXPECT_EQ(ending.valid, !return_to_end) << return_to_end;
    EXPECT_EQ(ending.cost, return_to_end ? 0.0 : 2.0) << return_to_end;
  }
}

TEST(RouteEvaluatorTest, CostsComeFromTheAgentsTypeInTheBoundView) {
  const auto graph = GraphBuilder(3, 2, 1.0).TypeArc(0, 2, 1, 5.0).TypeArc(2, 1, 1, 7.0).Build();
  const auto points = Points({{0, 1}, {0, 1}, {0, 1}});
  const InstanceView view = MakeView(graph.get(), points, Agents({0, 1}), {0, 0}, {1, 1});
  RouteEvaluator evaluator(view);
  EXPECT_DOUBLE_EQ(evaluator.Evaluate({0, 2, 1}, 0).cost, 2.0);
  EXPECT_DOUBLE_EQ(evaluator.Evaluate({0, 2, 1}, 1).cost, 12.0);
  // Bound to a view of the changed graph, it reads that one.
  ASSERT_TRUE(graph->SetArcCost(0, 2, {4.0, 5.0}));
  const InstanceView changed = MakeView(graph.get(), points, Agents({0, 1}), {0, 0}, {1, 1});
  evaluator.Bind(changed);
  EXPECT_DOUBLE_EQ(evaluator.Evaluate({0, 2, 1}, 0).cost, 5.0);
  EXPECT_EQ(&evaluator.view(), &changed);
}

// ---------------------------------------------------------------------------------------------
// Route variants

// Start and end points of the two agents: their own depots, or each ending where the other
// starts.
struct ProbeLayout {
  const char* name;
  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> goals;
};

class RouteProbeTest : public ::testing::TestWithParam<ProbeLayout> {};

// The probe must give bit-for-bit what Evaluate gives on the built variant, for valid
// and invalid routes alike, under windows, limits, types, free returns and missing connections.
TEST_P(RouteProbeTest, MatchesEvaluateOnBuiltVariants) {
  const std::vector<std::uint64_t>& starts = GetParam().starts;
  const std::vector<std::uint64_t>& goals = GetParam().goals;
  std::mt19937 rng(12345);
  const auto draw = [&rng](std::uint32_t n) { return static_cast<std::int64_t>(rng() % n); };
  constexpr std::uint64_t kN = 9;
  int valid_variants = 0;
  for (int round = 0; round < 60; ++round) {
    auto builder = GraphBuilder(kN, 2, 0.0);
    for (std::uint64_t u = 0; u < kN; ++u) {
      for (std::uint64_t v = 0; v < kN; ++v) {
        builder.TypeArc(u, v, 0, static_cast<double>(draw(20)) * 0.5);
        builder.TypeArc(u, v, 1, static_cast<double>(draw(20)) * 0.25);
        // Now and then no connection: a missing arc, or a cost at the marker.
        const std::int64_t gap = draw(30);
        if (gap == 0) {
          builder.Remove(u, v);
        } else if (gap == 1) {
          builder.TypeArc(u, v, draw(2) == 0 ? 0 : 1, kNoConnection);
        }
      }
    }
    const auto graph = builder.Build();
    std::vector<std::vector<std::uint64_t>> types(kN);
    for (auto& t : types) {
      t = draw(5) == 0 ? std::vector<std::uint64_t>{1} : std::vector<std::uint64_t>{0, 1};
    }
    types[0] = types[1] = types[2] = {0, 1};
    TimeWindowMap windows;
    for (std::uint64_t v = 0; v < kN; ++v) {
      if (draw(3) == 0) {
        const double open = static_cast<double>(draw(20));
        windows[v] = {open, open + static_cast<double>(draw(25))};
      }
    }
    const bool return_to_end = draw(2) == 0;
    const auto agents = Agents({draw(2), draw(2)}, {static_cast<double>(draw(3) * 30), 0.0});
    const InstanceView view =
        MakeView(graph.get(), Points(types), agents, starts, goals, windows, return_to_end);
    const RouteEvaluator evaluator(view);

    const std::uint64_t agent = static_cast<std::uint64_t>(draw(2));
    const auto start = static_cast<std::int64_t>(starts[agent]);
    const auto goal = static_cast<std::int64_t>(goals[agent]);
    Route route = {start};
    const auto length = static_cast<std::size_t>(2 + draw(5));
    for (std::size_t k = 0; k < length; ++k) {
      route.push_back(3 + draw(kN - 3));
    }
    route.push_back(start != goal && draw(4) == 0 ? start : goal);

    RouteProbe probe;
    probe.Load(evaluator, route, agent);
    const auto same = [&valid_variants](const RouteEvaluation& a, const RouteEvaluation& b) {
      valid_variants += b.valid ? 1 : 0;
      return a.valid == b.valid && (!a.valid || a.cost == b.cost);
    };
    const std::size_t n = route.size();
    for (std::size_t i = 1; i + 2 < n; ++i) {
      for (std::size_t j = i + 1; j + 1 < n; ++j) {
        EXPECT_TRUE(same(probe.Reversed(i, j), evaluator.Evaluate(Reversed(route, i, j), agent)))
            << "round " << round << " reversal " << i << ".." << j;
      }
    }
    for (std::size_t pos = 1; pos + 1 < n; ++pos) {
      Route shorter = route;
      shorter.erase(shorter.begin() + static_cast<std::ptrdiff_t>(pos));
      EXPECT_TRUE(same(probe.Without(pos), evaluator.Evaluate(shorter, agent)))
          << "round " << round << " without " << pos;
    }
    for (std::size_t pos = 1; pos < n; ++pos) {
      for (std::int64_t x = 0; x < static_cast<std::int64_t>(kN); ++x) {
        Route longer = route;
        longer.insert(longer.begin() + static_cast<std::ptrdiff_t>(pos), x);
        EXPECT_TRUE(same(probe.WithInserted(pos, x), evaluator.Evaluate(longer, agent)))
            << "round " << round << " insert " << x << " at " << pos;
      }
    }
  }
  // Enough of the variants pass every check for the costs to be compared.
  EXPECT_GT(valid_variants, 300);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, RouteProbeTest,
    ::testing::Values(ProbeLayout{"OwnDepots", {0, 2}, {1, 2}},
                      ProbeLayout{"EachEndsWhereTheOtherStarts", {0, 1}, {1, 0}}),
    [](const ::testing::TestParamInfo<ProbeLayout>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plenro
