#include "plenro/model/run_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

namespace plenro {
namespace {

// Burns processor time on the calling thread until the wall clock has moved by `seconds`.
void Spin(double seconds) {
  const double until = Stopwatch::Now(BudgetClock::kWall) + seconds;
  volatile double sink = 0.0;
  while (Stopwatch::Now(BudgetClock::kWall) < until) {
    sink = sink + 1.0;
  }
}

TEST(StopwatchTest, ThreadClockIgnoresOtherThreadsWork) {
  Stopwatch own(BudgetClock::kThreadCpu);
  own.Start();
  std::thread other([] { Spin(0.2); });
  other.join();
  // The calling thread only waited for the other one.
  EXPECT_LT(own.Elapsed(), 0.1);
}

TEST(StopwatchTest, BothClocksCountOwnWork) {
  Stopwatch cpu(BudgetClock::kThreadCpu);
  Stopwatch wall(BudgetClock::kWall);
  cpu.Start();
  wall.Start();
  volatile double sink = 0.0;
  while (cpu.Elapsed() < 0.03) {
    sink = sink + 1.0;
  }
  // Processor time of one thread never runs ahead of the wall clock.
  EXPECT_GE(wall.Elapsed(), cpu.Elapsed() - 1e-3);
  EXPECT_EQ(cpu.clock(), BudgetClock::kThreadCpu);
  EXPECT_EQ(wall.clock(), BudgetClock::kWall);
}

TEST(RunControlTest, StopIsAskedOnlyThroughTheFlag) {
  RunControl control;
  EXPECT_FALSE(control.StopRequested());
  std::atomic<bool> stop{false};
  control.stop = &stop;
  EXPECT_FALSE(control.StopRequested());
  stop = true;
  EXPECT_TRUE(control.StopRequested());
}

// A hook that keeps every report.
struct Recorder {
  std::vector<ProgressReport> reports;
  RunControl Control(double interval) {
    RunControl control;
    control.progress = [this](const ProgressReport& report) { reports.push_back(report); };
    control.progress_interval = interval;
    return control;
  }
};

TEST(ProgressPacerTest, WithoutAHookNothingIsReported) {
  const RunControl control;
  ProgressPacer pacer(&control, SolvePhase::kSearch);
  EXPECT_FALSE(pacer.active());
  pacer.Tick(1.0, 10, 5.0);
  pacer.Improved(1.0, 10, 5.0);
  EXPECT_FALSE(ProgressPacer().active());
  ProgressPacer().Improved(1.0, 10, 5.0);  // no control at all
}

TEST(ProgressPacerTest, AnImprovementIsReportedAtOnceWithItsFigures) {
  Recorder recorder;
  const RunControl control = recorder.Control(1e9);
  ProgressPacer pacer(&control, SolvePhase::kImprovement);
  ASSERT_TRUE(pacer.active());
  pacer.Tick(0.5, 3, std::numeric_limits<double>::quiet_NaN());
  pacer.Improved(0.75, 12, 41.5);
  ASSERT_EQ(recorder.reports.size(), 1u);
  const ProgressReport& report = recorder.reports[0];
  EXPECT_EQ(report.phase, SolvePhase::kImprovement);
  EXPECT_DOUBLE_EQ(report.elapsed, 0.75);
  EXPECT_EQ(report.work, 12);
  EXPECT_DOUBLE_EQ(report.best, 41.5);
  EXPECT_TRUE(report.improved);
}

TEST(ProgressPacerTest, TicksReportOncePerInterval) {
  struct Case {
    double interval;
    std::size_t expected;  // reports from 5 ticks
  };
  for (const Case c : {Case{0.0, 5}, Case{1e9, 0}}) {
    Recorder recorder;
    const RunControl control = recorder.Control(c.interval);
    ProgressPacer pacer(&control, SolvePhase::kSearch);
    for (int k = 0; k < 5; ++k) {
      pacer.Tick(0.1 * k, k, std::numeric_limits<double>::quiet_NaN());
    }
    ASSERT_EQ(recorder.reports.size(), c.expected) << "interval " << c.interval;
    for (const ProgressReport& report : recorder.reports) {
      EXPECT_FALSE(report.improved);
      EXPECT_TRUE(std::isnan(report.best));
    }
  }
}

TEST(ProgressPacerTest, ATickAfterTheIntervalReports) {
  Recorder recorder;
  const RunControl control = recorder.Control(0.02);
  ProgressPacer pacer(&control, SolvePhase::kSearch);
  pacer.Tick(0.0, 1, 2.0);
  EXPECT_TRUE(recorder.reports.empty());
  Spin(0.03);
  pacer.Tick(0.03, 2, 2.0);
  ASSERT_EQ(recorder.reports.size(), 1u);
  EXPECT_EQ(recorder.reports[0].work, 2);
  pacer.Tick(0.03, 3, 2.0);  // the interval starts again at each report
  EXPECT_EQ(recorder.reports.size(), 1u);
}

// A hook that keeps the figures of every report and whether it carried the given routes.
struct RouteRecorder {
  struct Seen {
    bool improved;
    const RoutePlan* routes;
    std::int64_t work;
  };
  std::vector<Seen> seen;
  RunControl Control(double interval, double route_interval, bool routes = true) {
    RunControl control;
    control.progress = [this](const ProgressReport& report) {
      seen.push_back(Seen{report.improved, report.routes, report.work});
    };
    control.progress_interval = interval;
    control.progress_routes = routes;
    control.route_interval = route_interval;
    return control;
  }
};

TEST(ProgressPacerTest, RoutesGoOutOnlyWhenAskedFor) {
  const RoutePlan plan{{{0, 1, 0}}, {2.0}};
  for (const bool asked : {false, true}) {
    RouteRecorder recorder;
    const RunControl control = recorder.Control(1e9, 0.0, asked);
    ProgressPacer pacer(&control, SolvePhase::kSearch);
    EXPECT_EQ(pacer.wants_routes(), asked);
    pacer.Improved(0.1, 1, 2.0, &plan);
    pacer.Improved(0.2, 2, 1.0, nullptr);  // a run without routes at hand attaches none
    pacer.Flush(0.3, 3, 1.0, &plan);
    ASSERT_EQ(recorder.seen.size(), 2u) << "asked " << asked;
    EXPECT_EQ(recorder.seen[0].routes, asked ? &plan : nullptr);
    EXPECT_EQ(recorder.seen[1].routes, nullptr);
  }
  // Without a hook there is nobody to hand routes to.
  RunControl silent;
  silent.progress_routes = true;
  EXPECT_FALSE(ProgressPacer(&silent, SolvePhase::kSearch).wants_routes());
}

TEST(ProgressPacerTest, RoutesAreSentAtMostOncePerRouteIntervalAndNoneIsLost) {
  const RoutePlan plan{{{0, 2, 1, 0}}, {3.0}};
  RouteRecorder recorder;
  const RunControl control = recorder.Control(1e9, 1e9);
  ProgressPacer pacer(&control, SolvePhase::kImprovement);
  pacer.Improved(0.1, 1, 5.0, &plan);  // the first improvement carries its routes
  pacer.Improved(0.2, 2, 4.0, &plan);  // too soon: owed
  pacer.Improved(0.3, 3, 3.0, &plan);
  pacer.Tick(0.4, 4, 3.0, &plan);   // neither the interval nor the route interval has passed
  pacer.Flush(0.5, 5, 3.0, &plan);  // the owed routes, once
  pacer.Flush(0.6, 6, 3.0, &plan);
  ASSERT_EQ(recorder.seen.size(), 4u);
  const std::vector<bool> carried = {true, false, false, true};
  for (std::size_t k = 0; k < carried.size(); ++k) {
    EXPECT_EQ(recorder.seen[k].routes != nullptr, carried[k]) << "report " << k;
  }
  EXPECT_FALSE(recorder.seen[3].improved);
  EXPECT_EQ(recorder.seen[3].work, 5);
}

TEST(ProgressPacerTest, OwedRoutesGoOutWithTheFirstTickAfterTheRouteInterval) {
  const RoutePlan plan{{{0, 1, 0}, {0, 0}}, {2.0, 0.0}};
  RouteRecorder recorder;
  const RunControl control = recorder.Control(1e9, 0.02);
  ProgressPacer pacer(&control, SolvePhase::kSearch);
  pacer.Improved(0.0, 1, 2.0, &plan);
  pacer.Improved(0.0, 2, 1.5, &plan);
  pacer.Tick(0.0, 3, 1.5, &plan);
  ASSERT_EQ(recorder.seen.size(), 2u);
  Spin(0.03);
  pacer.Tick(0.03, 4, 1.5, &plan);
  pacer.Tick(0.03, 5, 1.5, &plan);  // nothing owed any more, and the interval is long
  ASSERT_EQ(recorder.seen.size(), 3u);
  EXPECT_EQ(recorder.seen[2].routes, &plan);
  EXPECT_EQ(recorder.seen[2].work, 4);
  EXPECT_FALSE(recorder.seen[2].improved);
}

}  // namespace
}  // namespace plenro
