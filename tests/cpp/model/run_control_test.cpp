#include "plenro/model/run_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

}  // namespace
}  // namespace plenro
