#include "plenro/improve/improvement_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "improve_test_support.h"
#include "plenro/instance/route_evaluation.h"
#include "plenro/model/objective.h"

namespace plenro {
namespace {

using improve_testing::Families;
using improve_testing::InstanceShape;
using improve_testing::MakeView;

constexpr double kForever = 1e9;

ImproveOutcome RunEngine(const InstanceView& view, ObjectiveType objective,
                         const RoutePlan* initial, std::uint64_t seed, std::int64_t iterations,
                         const RunControl& control = {}) {
  ImprovementEngine engine(view, objective);
  Stopwatch clock;
  clock.Start();
  return engine.Run(initial, ImproveSettings{seed, iterations, kForever}, clock, control);
}

// Every route accepted by the shared evaluation at its reported cost, every point to serve on
// exactly one route.
void ExpectValid(const InstanceView& view, const RoutePlan& plan) {
  const RouteEvaluator validator(view);
  ASSERT_EQ(plan.routes.size(), view.num_agents());
  std::vector<int> served(view.num_points(), 0);
  for (std::size_t a = 0; a < plan.routes.size(); ++a) {
    const RouteEvaluation check = validator.Evaluate(plan.routes[a], a);
    EXPECT_TRUE(check.valid) << "route " << a;
    EXPECT_NEAR(check.cost, plan.costs[a], 1e-9) << "route " << a;
    const Route& route = plan.routes[a];
    for (std::size_t i = 1; i + 1 < route.size(); ++i) {
      ++served[static_cast<std::size_t>(route[i])];
    }
    // No leg without a connection, but for the free last leg of an open route.
    for (std::size_t i = 1; i < route.size(); ++i) {
      const auto u = static_cast<std::uint64_t>(route[i - 1]);
      const auto v = static_cast<std::uint64_t>(route[i]);
      const bool free_leg = !view.return_to_end() && i + 1 == route.size();
      if (u != v && !free_leg) {
        EXPECT_TRUE(view.Connected(u, v, static_cast<std::uint64_t>(view.AgentType(a))))
            << "route " << a << " leg " << u << " -> " << v;
      }
    }
  }
  for (std::uint64_t v = 0; v < view.num_points(); ++v) {
    const bool endpoint = view.IsStart(v) || view.IsGoal(v);
    EXPECT_EQ(served[v], endpoint ? 0 : 1) << "point " << v;
  }
}

ObjectiveKey KeyOfPlan(ObjectiveType objective, const RoutePlan& plan) {
  return KeyOf(objective, TotalsOf(plan.costs));
}

class EngineFamilies : public ::testing::TestWithParam<InstanceShape> {};

TEST_P(EngineFamilies, ImprovesWithoutEverReturningWorseOrInvalidRoutes) {
  for (const ObjectiveType objective : {MinMax, MinSum}) {
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      const InstanceView view = MakeView(GetParam(), seed);
      const ImproveOutcome first = RunEngine(view, objective, nullptr, seed, 3);
      if (!first.found) {
        continue;  // some random instances with windows and limits have no solution
      }
      ExpectValid(view, first.best);
      const ImproveOutcome second = RunEngine(view, objective, &first.best, seed + 10, 30);
      ASSERT_TRUE(second.found);
      ExpectValid(view, second.best);
      EXPECT_FALSE(Better(KeyOfPlan(objective, first.best), KeyOfPlan(objective, second.best)))
          << "worse than the solution it was given";
    }
  }
}

TEST_P(EngineFamilies, SameSeedAndIterationLimitGiveTheSameRoutes) {
  const InstanceView view = MakeView(GetParam(), 5);
  const ImproveOutcome a = RunEngine(view, MinMax, nullptr, 42, 25);
  const ImproveOutcome b = RunEngine(view, MinMax, nullptr, 42, 25);
  EXPECT_EQ(a.found, b.found);
  EXPECT_EQ(a.best.routes, b.best.routes);
  EXPECT_EQ(a.best.costs, b.best.costs);
  EXPECT_EQ(a.iterations, 25);
  EXPECT_EQ(a.moves_evaluated, b.moves_evaluated);
}

INSTANTIATE_TEST_SUITE_P(Families, EngineFamilies, ::testing::ValuesIn(Families()),
                         [](const auto& info) { return std::string(info.param.name); });

// Long enough for the adaptive ruin choice to update its weights many times and for the
// current solution to go back to the best one (after 2,000 iterations without a new best) more
// than once: a seed and an iteration limit still fix the routes, under both objectives and with
// windows (where a MinSum run first climbs the balanced key).
TEST(Engine, RestartsAndAdaptiveRuinsKeepASeedsRoutes) {
  for (const ObjectiveType objective : {MinMax, MinSum}) {
    for (const bool windows : {false, true}) {
      const InstanceView view = MakeView({.customers = 12, .agents = 3, .windows = windows}, 8);
      const ImproveOutcome a = RunEngine(view, objective, nullptr, 7, 3000);
      const ImproveOutcome b = RunEngine(view, objective, nullptr, 7, 3000);
      ASSERT_TRUE(a.found);
      ExpectValid(view, a.best);
      EXPECT_EQ(a.iterations, 3000);
      EXPECT_EQ(a.best.routes, b.best.routes);
      EXPECT_EQ(a.best.costs, b.best.costs);
      EXPECT_EQ(a.moves_evaluated, b.moves_evaluated);
      // No worse than a short run from the same seed: going back to the best never loses it.
      const ImproveOutcome brief = RunEngine(view, objective, nullptr, 7, 50);
      ASSERT_TRUE(brief.found);
      EXPECT_FALSE(Better(KeyOfPlan(objective, brief.best), KeyOfPlan(objective, a.best)));
    }
  }
}

TEST(Engine, KeepsAValidInitialSolutionThatItCannotBeat) {
  // Two agents, one point: the initial solution is already optimal.
  const InstanceView view = MakeView({.customers = 1, .agents = 2}, 9);
  const ImproveOutcome first = RunEngine(view, MinSum, nullptr, 1, 1);
  ASSERT_TRUE(first.found);
  const ImproveOutcome again = RunEngine(view, MinSum, &first.best, 2, 10);
  ASSERT_TRUE(again.found);
  EXPECT_EQ(again.best.costs, first.best.costs);
}

TEST(Engine, ReplacesAnInvalidInitialSolution) {
  const InstanceView view = MakeView({.customers = 8, .agents = 2}, 4);
  RoutePlan broken;
  // Every point twice on agent 0's route, nothing for agent 1: not a solution.
  broken.routes = {{0}, {1, 1}};
  for (const std::uint64_t v : {2, 3, 4, 5, 6, 7, 8, 9, 2, 3}) {
    broken.routes[0].push_back(static_cast<std::int64_t>(v));
  }
  broken.routes[0].push_back(0);
  broken.costs = {1.0, 0.0};
  const ImproveOutcome outcome = RunEngine(view, MinMax, &broken, 3, 10);
  ASSERT_TRUE(outcome.found);
  ExpectValid(view, outcome.best);
}

// ------------------------------------------------------------------------------------------
// Construction against brute force

// Whether some assignment of the points to agents, in some order each, passes the shared
// route evaluation on every route.
bool FeasibleByBruteForce(const InstanceView& view) {
  const RouteEvaluator validator(view);
  std::vector<std::int64_t> points;
  for (std::uint64_t v = 0; v < view.num_points(); ++v) {
    if (!view.IsStart(v) && !view.IsGoal(v)) {
      points.push_back(static_cast<std::int64_t>(v));
    }
  }
  const std::uint64_t m = view.num_agents();
  std::uint64_t assignments = 1;
  for (std::size_t i = 0; i < points.size(); ++i) {
    assignments *= m;
  }
  for (std::uint64_t code = 0; code < assignments; ++code) {
    std::vector<std::vector<std::int64_t>> mine(m);
    std::uint64_t rest = code;
    for (const std::int64_t v : points) {
      mine[rest % m].push_back(v);
      rest /= m;
    }
    bool all = true;
    for (std::uint64_t a = 0; a < m && all; ++a) {
      std::vector<std::int64_t> order = mine[a];
      std::sort(order.begin(), order.end());
      bool some = false;
      do {
        for (const std::uint64_t end : {view.Goal(a), view.Start(a)}) {
          if (end != view.Goal(a) && view.return_to_end()) {
            continue;
          }
          Route route{static_cast<std::int64_t>(view.Start(a))};
          route.insert(route.end(), order.begin(), order.end());
          route.push_back(static_cast<std::int64_t>(end));
          some = some || validator.Evaluate(route, a).valid;
        }
      } while (!some && std::next_permutation(order.begin(), order.end()));
      all = some;
    }
    if (all) {
      return true;
    }
  }
  return false;
}

TEST(EngineConstruction, PlacesEveryPointWheneverAFeasiblePlacementExists) {
  int feasible = 0;
  int infeasible = 0;
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    InstanceShape shape{.customers = 5,
                        .agents = 2,
                        .windows = true,
                        .limits = seed % 2 == 0,
                        .open_routes = seed % 3 == 0,
                        .separate_ends = seed % 3 == 0};
    shape.types = seed % 4 == 0 ? 2 : 1;
    shape.partial_types = shape.types == 2;
    const InstanceView view = MakeView(shape, seed);
    const bool exists = FeasibleByBruteForce(view);
    const ImproveOutcome outcome = RunEngine(view, MinSum, nullptr, seed, 20);
    EXPECT_EQ(outcome.found, exists) << "seed " << seed;
    if (outcome.found) {
      ExpectValid(view, outcome.best);
    }
    (exists ? feasible : infeasible) += 1;
  }
  // The random instances cover both outcomes.
  EXPECT_GT(feasible, 10);
  EXPECT_GT(infeasible, 3);
}

// ------------------------------------------------------------------------------------------
// Points that cannot be served

struct Unservable {
  const char* name;
  std::vector<std::uint64_t> types;  // of point 2
  bool cut_in;
  bool cut_out;
  const char* message;
};

class EngineUnservable : public ::testing::TestWithParam<Unservable> {};

TEST_P(EngineUnservable, EndsWithoutASolutionNamingThePointAndWhy) {
  const Unservable& c = GetParam();
  InstanceView view = MakeView({.customers = 3, .agents = 2}, 11);
  std::vector<Point> points = view.points();
  points[2].types = c.types;
  view.SetPoints(points);
  CostTable table = view.costs();
  for (std::uint64_t u = 0; u < view.num_points(); ++u) {
    if (u != 2 && c.cut_in) {
      table.Set(u, 2, 0, kNoConnection);
    }
    if (u != 2 && c.cut_out) {
      table.Set(2, u, 0, kNoConnection);
    }
  }
  view.SetCosts(std::move(table));
  const ImproveOutcome outcome = RunEngine(view, MinSum, nullptr, 1, 5);
  EXPECT_FALSE(outcome.found);
  EXPECT_EQ(outcome.iterations, 0);
  EXPECT_EQ(outcome.unservable,
            std::string("point 2 (node id 102) cannot be served: ") + c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineUnservable,
    ::testing::Values(Unservable{"no_type", {}, false, false, "no agent's type may serve it"},
                      Unservable{"no_way_in",
                                 {0},
                                 true,
                                 false,
                                 "no agent type that may serve it has a connection into it"},
                      Unservable{"no_way_out",
                                 {0},
                                 false,
                                 true,
                                 "no agent type that may serve it has a connection out of it"}),
    [](const auto& info) { return std::string(info.param.name); });

// A window no agent can reach in time: the run ends without a solution and says which point
// its closest routes reach late, and by how much.
TEST(Engine, EndsWithoutASolutionNamingTheWindowItCannotMeet) {
  InstanceView view = MakeView({.customers = 3, .agents = 2}, 11);
  const double earliest = std::min(view.Cost(0, 2, 0), view.Cost(1, 2, 0));
  ASSERT_GT(earliest, 1.0);
  view.SetTimeWindows({{2, {0.0, 1.0}}});
  const ImproveOutcome outcome = RunEngine(view, MinSum, nullptr, 1, 50);
  EXPECT_FALSE(outcome.found);
  EXPECT_TRUE(outcome.unservable.empty());
  const std::string expected =
      "no solution found within the limit: the closest routes found arrive after the window "
      "closes at 1 point (point 2 (node id 102) by ";
  EXPECT_EQ(outcome.shortfall.substr(0, expected.size()), expected) << outcome.shortfall;
}

// A run that finds a solution says nothing of a shortfall.
TEST(Engine, NoShortfallOnceASolutionIsFound) {
  const InstanceView view = MakeView({.customers = 8, .agents = 2}, 3);
  const ImproveOutcome outcome = RunEngine(view, MinMax, nullptr, 1, 20);
  EXPECT_TRUE(outcome.found);
  EXPECT_TRUE(outcome.shortfall.empty());
}

TEST(Engine, ExtremeCostsAndWindowsBreakNothing) {
  // Costs and windows at the edge of the doubles: sums overflow to infinity and infinities
  // meet; the engine must still end, and return nothing the route evaluation refuses.
  for (std::uint64_t seed = 1; seed <= 4; ++seed) {
    InstanceView view = MakeView({.customers = 6, .agents = 2, .windows = true}, seed);
    RandomSource random(seed);
    CostTable table = view.costs();
    for (std::uint64_t u = 0; u < view.num_points(); ++u) {
      for (std::uint64_t v = 0; v < view.num_points(); ++v) {
        if (u != v) {
          const double choices[] = {1e308, -1e308, 0.0, 5.0, -3.0};
          table.Set(u, v, 0, choices[random.Below(5)]);
        }
      }
    }
    view.SetCosts(std::move(table));
    TimeWindowMap windows;
    windows[3] = {1e308, 1e308};
    windows[4] = {-1e308, -1e308};
    windows[5] = {-1e308, 1e308};
    view.SetTimeWindows(windows);
    for (const ObjectiveType objective : {MinMax, MinSum}) {
      const ImproveOutcome outcome = RunEngine(view, objective, nullptr, seed, 10);
      if (outcome.found) {
        const RouteEvaluator validator(view);
        for (std::size_t a = 0; a < outcome.best.routes.size(); ++a) {
          EXPECT_TRUE(validator.Evaluate(outcome.best.routes[a], a).valid);
        }
      }
    }
  }
}

// ------------------------------------------------------------------------------------------
// Run control

TEST(EngineControl, AStopRequestEndsTheRunWithTheSolutionGiven) {
  const InstanceView view = MakeView({.customers = 12, .agents = 3}, 2);
  const ImproveOutcome first = RunEngine(view, MinSum, nullptr, 1, 2);
  ASSERT_TRUE(first.found);
  std::atomic<bool> stop{true};
  RunControl control;
  control.stop = &stop;
  const ImproveOutcome outcome = RunEngine(view, MinSum, &first.best, 1, 0, control);
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_FALSE(outcome.out_of_time);
  EXPECT_EQ(outcome.iterations, 0);
  ASSERT_TRUE(outcome.found);
  EXPECT_EQ(outcome.best.routes, first.best.routes);
}

TEST(EngineControl, ReportsEveryImprovementWithAFallingBest) {
  const InstanceView view = MakeView({.customers = 15, .agents = 3, .windows = true}, 6);
  std::vector<ProgressReport> reports;
  RunControl control;
  control.progress = [&reports](const ProgressReport& report) { reports.push_back(report); };
  ImprovementEngine engine(view, MinSum);
  Stopwatch clock;
  clock.Start();
  int announced = 0;
  const ImproveOutcome outcome =
      engine.Run(nullptr, ImproveSettings{3, 40, kForever}, clock, control,
                 [&announced](const RoutePlan&, double) { ++announced; });
  ASSERT_TRUE(outcome.found);
  std::vector<double> improvements;
  for (const ProgressReport& report : reports) {
    if (report.improved) {
      improvements.push_back(report.best);
    }
  }
  EXPECT_EQ(static_cast<int>(improvements.size()), announced);
  ASSERT_FALSE(improvements.empty());
  EXPECT_TRUE(std::is_sorted(improvements.rbegin(), improvements.rend()));
  EXPECT_DOUBLE_EQ(improvements.back(), TotalsOf(outcome.best.costs).sum);
}

}  // namespace
}  // namespace plenro
