// The search under a run control: a stop flag, a progress hook and the budget's clock, and the
// messages of a solve reaching the thread's log sink.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "plenro/model/log_sink.h"
#include "plenro/model/objective.h"
#include "plenro/model/run_control.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::InstanceBuilder;
using testing_support::MakeOptions;

// `n` points scattered by a fixed generator over a 100 x 100 square, the first a depot that
// `agents` agents of one type leave and return to.
Problem Scattered(std::uint64_t n, std::uint64_t agents, std::uint64_t seed) {
  InstanceBuilder builder;
  std::uint64_t state = seed * 2654435761u + 1;
  const auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<double>((state >> 33) % 10000) / 100.0;
  };
  for (std::uint64_t v = 0; v < n; ++v) {
    const double x = next();
    builder.AddNode(v, x, next());
  }
  for (std::uint64_t a = 0; a < agents; ++a) {
    builder.AddAgent(100 + a, "car", 0, 0);
  }
  return builder.SetEuclideanCosts("car").Build();
}

// An instance the search does not finish for a long while.
Problem Large() {
  return Scattered(45, 3, 7);
}

double ObjectiveOf(ObjectiveType objective, const Result& result) {
  RouteTotals totals;
  for (const auto& [agent, cost] : result.times) {
    totals.Add(cost);
  }
  return ObjectiveValue(objective, totals);
}

// A hook that keeps every report.
struct Recorder {
  std::vector<ProgressReport> reports;
  RunControl Control(double interval = 0.5) {
    RunControl control;
    control.progress = [this](const ProgressReport& report) { reports.push_back(report); };
    control.progress_interval = interval;
    return control;
  }
  std::vector<ProgressReport> Improvements() const {
    std::vector<ProgressReport> out;
    for (const ProgressReport& report : reports) {
      if (report.improved) {
        out.push_back(report);
      }
    }
    return out;
  }
};

struct SmallCase {
  const char* name;
  std::uint64_t points;
  std::uint64_t agents;
  std::uint64_t seed;
  ObjectiveType objective;
};

class UnchangedSearchTest : public ::testing::TestWithParam<SmallCase> {};

TEST_P(UnchangedSearchTest, HookAndLoweredStopFlagLeaveTheSearchAsItWas) {
  const SmallCase& c = GetParam();
  const Problem problem = Scattered(c.points, c.agents, c.seed);
  const Options options = MakeOptions(c.objective);

  Solver plain(problem, options);
  const bool plain_found = plain.Search();
  const Result expected = plain.GetResult();
  ASSERT_FALSE(expected.timeout) << "the case must run to its end";

  Recorder recorder;
  std::atomic<bool> stop{false};
  RunControl control = recorder.Control(/*interval=*/0.0);  // a report at every step
  control.stop = &stop;
  control.progress_routes = true;
  control.route_interval = 0.0;
  Solver watched(problem, options);
  watched.SetRunControl(control);
  EXPECT_EQ(watched.Search(), plain_found);
  const Result got = watched.GetResult();

  EXPECT_EQ(got.n_generated, expected.n_generated);
  EXPECT_EQ(got.n_expanded, expected.n_expanded);
  EXPECT_EQ(got.paths, expected.paths);
  EXPECT_EQ(got.times, expected.times);
  EXPECT_EQ(watched.GetAnytimeResults().size(), plain.GetAnytimeResults().size());
  EXPECT_FALSE(watched.stopped());
  EXPECT_GT(recorder.reports.size(), recorder.Improvements().size());
}

INSTANTIATE_TEST_SUITE_P(Instances, UnchangedSearchTest,
                         ::testing::Values(SmallCase{"SixPointsOneAgentMinSum", 6, 1, 1, MinSum},
                                           SmallCase{"EightPointsTwoAgentsMinMax", 8, 2, 2, MinMax},
                                           SmallCase{"NinePointsThreeAgentsMinSum", 9, 3, 3,
                                                     MinSum},
                                           SmallCase{"TenPointsTwoAgentsMinMax", 10, 2, 4, MinMax}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SolverRunControlTest, EveryImprovementIsReportedWithTheObjectiveOfItsSolution) {
  for (const ObjectiveType objective : {MinMax, MinSum}) {
    Recorder recorder;
    Solver solver(Scattered(10, 2, 4), MakeOptions(objective));
    solver.SetRunControl(recorder.Control());
    ASSERT_TRUE(solver.Search());
    const std::vector<ProgressReport> improvements = recorder.Improvements();
    ASSERT_FALSE(improvements.empty());

    // The solutions after post-optimisation, each kept when it improves on the last kept one.
    std::vector<double> expected;
    const std::vector<AnytimeEntry> anytime = solver.GetAnytimeResults();
    for (std::size_t k = 1; k < anytime.size(); k += 2) {
      const double value = ObjectiveOf(objective, anytime[k].result);
      if (expected.empty() || Improves(value, expected.back())) {
        expected.push_back(value);
      }
    }
    ASSERT_EQ(improvements.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_DOUBLE_EQ(improvements[k].best, expected[k]) << "improvement " << k;
      EXPECT_EQ(improvements[k].phase, SolvePhase::kSearch);
      if (k > 0) {
        EXPECT_GE(improvements[k].elapsed, improvements[k - 1].elapsed);
        EXPECT_GE(improvements[k].work, improvements[k - 1].work);
      }
    }
    EXPECT_DOUBLE_EQ(improvements.back().best, ObjectiveOf(objective, solver.GetResult()));
  }
}

// The routes of a report as the result keeps them, by agent index.
std::unordered_map<std::uint64_t, std::vector<std::int64_t>> PathsOf(const RoutePlan& plan) {
  std::unordered_map<std::uint64_t, std::vector<std::int64_t>> paths;
  for (std::size_t a = 0; a < plan.routes.size(); ++a) {
    paths[a] = plan.routes[a];
  }
  return paths;
}

// A hook that keeps, besides the figures, a copy of the routes of the reports that carry them.
struct RouteCopies {
  std::vector<ProgressReport> reports;
  std::vector<RoutePlan> plans;  // one per report with routes, in order
  RunControl Control(double route_interval) {
    RunControl control;
    control.progress = [this](const ProgressReport& report) {
      reports.push_back(report);
      if (report.routes != nullptr) {
        plans.push_back(*report.routes);
        reports.back().routes = &plans.back();  // a marker only: the vector may move
      }
    };
    control.progress_interval = 1e9;
    control.progress_routes = true;
    control.route_interval = route_interval;
    return control;
  }
};

TEST(SolverRunControlTest, EverySearchImprovementCarriesItsRoutesWhenAskedEachTime) {
  for (const ObjectiveType objective : {MinMax, MinSum}) {
    RouteCopies copies;
    Solver solver(Scattered(10, 2, 4), MakeOptions(objective));
    solver.SetRunControl(copies.Control(/*route_interval=*/0.0));
    ASSERT_TRUE(solver.Search());
    ASSERT_FALSE(copies.plans.empty());
    ASSERT_EQ(copies.plans.size(), copies.reports.size());
    for (std::size_t k = 0; k < copies.plans.size(); ++k) {
      const RoutePlan& plan = copies.plans[k];
      ASSERT_EQ(plan.routes.size(), 2u);
      ASSERT_EQ(plan.costs.size(), 2u);
      RouteTotals totals;
      for (const double cost : plan.costs) {
        totals.Add(cost);
      }
      EXPECT_DOUBLE_EQ(ObjectiveValue(objective, totals), copies.reports[k].best) << k;
      for (const std::vector<std::int64_t>& route : plan.routes) {
        ASSERT_GE(route.size(), 2u);
        EXPECT_EQ(route.front(), 0);  // the depot
        EXPECT_EQ(route.back(), 0);
      }
    }
    EXPECT_EQ(PathsOf(copies.plans.back()), solver.GetResult().paths);
  }
}

TEST(SolverRunControlTest, PacedRoutesEndWithTheResultsRoutesWithImprovementOn) {
  Options options = MakeOptions(MinSum);
  options.improve = true;
  options.seed = 3;
  options.improve_iterations = 3000;
  RouteCopies copies;
  Solver solver(Scattered(30, 3, 5), options);
  solver.SetRunControl(copies.Control(/*route_interval=*/1e9));
  ASSERT_TRUE(solver.Search());
  std::size_t improvements = 0;
  for (const ProgressReport& report : copies.reports) {
    improvements += report.improved ? 1 : 0;
  }
  // Many improvements, routes with the first of each phase and once more at its end.
  ASSERT_GT(improvements, 4u);
  EXPECT_LE(copies.plans.size(), 4u);
  ASSERT_FALSE(copies.plans.empty());
  EXPECT_EQ(PathsOf(copies.plans.back()), solver.GetResult().paths);

  // Asked for no routes, the same run: the same result and the same reports without routes.
  Recorder recorder;
  Solver plain(Scattered(30, 3, 5), options);
  RunControl control = recorder.Control(1e9);
  plain.SetRunControl(control);
  ASSERT_TRUE(plain.Search());
  EXPECT_EQ(plain.GetResult().paths, solver.GetResult().paths);
  EXPECT_EQ(recorder.Improvements().size(), improvements);
  for (const ProgressReport& report : recorder.reports) {
    EXPECT_EQ(report.routes, nullptr);
  }
}

TEST(SolverRunControlTest, StopFlagEndsTheSearchKeepingTheBestSolution) {
  std::atomic<bool> stop{false};
  std::int64_t work_at_stop = -1;
  RunControl control;
  control.stop = &stop;
  control.progress = [&](const ProgressReport& report) {
    if (report.improved && work_at_stop < 0) {
      work_at_stop = report.work;
      stop = true;
    }
  };
  Solver solver(Large(), MakeOptions(MinMax, true, 60.0));
  solver.SetRunControl(control);
  ASSERT_TRUE(solver.Search());
  const Result result = solver.GetResult();
  EXPECT_TRUE(solver.stopped());
  EXPECT_FALSE(result.timeout);
  EXPECT_EQ(result.paths.size(), 3u);
  // The step after the solution ended the search: no state was generated after the stop.
  EXPECT_EQ(result.n_generated, work_at_stop);
  EXPECT_DOUBLE_EQ(result.last_update_time, solver.GetAnytimeResults().back().time);
}

TEST(SolverRunControlTest, AStopRaisedBeforehandEndsTheSearchAtItsFirstStep) {
  std::atomic<bool> stop{true};
  RunControl control;
  control.stop = &stop;
  Solver solver(Large(), MakeOptions(MinSum));
  solver.SetRunControl(control);
  EXPECT_FALSE(solver.Search());
  const Result result = solver.GetResult();
  EXPECT_TRUE(solver.stopped());
  EXPECT_FALSE(result.timeout);
  EXPECT_TRUE(result.paths.empty());
  EXPECT_EQ(result.n_generated, 1);  // the root
  EXPECT_EQ(result.n_expanded, 0);
}

TEST(SolverRunControlTest, ProgressIsReportedBetweenImprovements) {
  Recorder recorder;
  Solver solver(Large(), MakeOptions(MinMax, true, 0.3));
  solver.SetRunControl(recorder.Control(/*interval=*/0.02));
  solver.Search();
  ASSERT_TRUE(solver.GetResult().timeout);
  ASSERT_GT(recorder.reports.size(), recorder.Improvements().size());
  for (const ProgressReport& report : recorder.reports) {
    EXPECT_LE(report.elapsed, solver.search_time());
    EXPECT_EQ(report.phase, SolvePhase::kSearch);
  }
}

TEST(SolverRunControlTest, TheBudgetCountsTheChosenClock) {
  for (const BudgetClock clock : {BudgetClock::kThreadCpu, BudgetClock::kWall}) {
    RunControl control;
    control.clock = clock;
    Solver solver(Large(), MakeOptions(MinMax, true, 0.1));
    solver.SetRunControl(control);
    const Stopwatch watch(clock);
    Stopwatch own(clock);
    own.Start();
    solver.Search();
    EXPECT_TRUE(solver.GetResult().timeout);
    EXPECT_GT(solver.search_time(), 0.1);
    // The search's own reading never runs ahead of the same clock read around it.
    EXPECT_LE(solver.search_time(), own.Elapsed());
    EXPECT_EQ(solver.run_control().clock, clock);
  }
}

TEST(SolverRunControlTest, SearchesOnTwoThreadsEachGetTheirWholeProcessorBudget) {
  constexpr double kBudget = 0.3;
  struct Run {
    double search_time = 0.0;
    double thread_time = 0.0;
    bool timeout = false;
  };
  std::vector<Run> runs(2);
  std::vector<std::thread> threads;
  for (Run& run : runs) {
    threads.emplace_back([&run] {
      Stopwatch own(BudgetClock::kThreadCpu);
      own.Start();
      Solver solver(Large(), MakeOptions(MinMax, true, kBudget));
      solver.Search();
      run.thread_time = own.Elapsed();
      run.search_time = solver.search_time();
      run.timeout = solver.GetResult().timeout;
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const Run& run : runs) {
    EXPECT_TRUE(run.timeout);
    EXPECT_GT(run.search_time, kBudget);
    EXPECT_GT(run.thread_time, kBudget);
  }
}

TEST(SolverRunControlTest, MessagesOfASolveReachTheThreadsSink) {
  std::vector<std::pair<LogStream, std::string>> seen;
  const ScopedLogSink sink(
      [&](LogStream stream, const std::string& text) { seen.emplace_back(stream, text); });
  const Problem problem = InstanceBuilder()
                              .WithoutDefaultAssignments()
                              .AddNode(1, 0, 0)
                              .AddNode(2, 1, 0)
                              .AddAgent(7, "car", 1, 1)
                              .Allow(1, {"car"})
                              .SetEuclideanCosts("car")
                              .Build();
  ::testing::internal::CaptureStderr();
  Solver solver(problem, MakeOptions(MinSum));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, LogStream::kErr);
  EXPECT_EQ(seen[0].second, "[warning] node 2 has no assignment constraint; allowing all types\n");
}

}  // namespace
}  // namespace plenro
