#include "plenro/search/simple_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>

namespace plenro {
namespace {

// Burns processor time until the timer's clock has moved past `seconds` since `timer` started.
// The loop waits on the clock itself, so no assertion depends on how fast the machine is.
void BurnUntil(const SimpleTimer& timer, double seconds) {
  volatile std::uint64_t sink = 0;
  while (timer.Elapsed() <= seconds) {
    for (int i = 0; i < 10000; ++i) {
      sink = sink + static_cast<std::uint64_t>(i) * 2654435761u;
    }
  }
}

TEST(SimpleTimerTest, StartReturnsTheThreadsProcessorClockInMicroseconds) {
  SimpleTimer timer;
  EXPECT_EQ(timer.clock(), BudgetClock::kThreadCpu);
  const auto to_micros = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
  };
  const double before = to_micros();
  const std::int64_t start = timer.Start();
  const double after = to_micros();
  EXPECT_GE(static_cast<double>(start), before - 1.0);
  EXPECT_LE(static_cast<double>(start), after + 1.0);
  const double elapsed = timer.Elapsed();
  EXPECT_GE(elapsed, 0.0);
  EXPECT_LT(elapsed, 1.0);
}

TEST(SimpleTimerTest, OtherThreadsWorkDoesNotCount) {
  SimpleTimer timer;
  timer.Start();
  std::thread other([] {
    SimpleTimer own;
    own.Start();
    BurnUntil(own, 0.1);
  });
  other.join();
  // This thread only waited.
  EXPECT_LT(timer.Elapsed(), 0.05);
}

TEST(SimpleTimerTest, TheWallClockCountsWaiting) {
  SimpleTimer timer;
  timer.set_clock(BudgetClock::kWall);
  timer.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_GE(timer.Elapsed(), 0.03);
  // A clock chosen after the start counts from the next start.
  timer.set_clock(BudgetClock::kThreadCpu);
  EXPECT_GE(timer.Elapsed(), 0.03);
  timer.Start();
  EXPECT_LT(timer.Elapsed(), 0.03);
}

TEST(SimpleTimerTest, ElapsedGrowsWithProcessorTimeAndRestartResets) {
  SimpleTimer timer;
  timer.Start();
  BurnUntil(timer, 0.02);
  const double first = timer.Elapsed();
  EXPECT_GT(first, 0.02);
  BurnUntil(timer, first);
  EXPECT_GT(timer.Elapsed(), first);

  timer.Start();
  EXPECT_LT(timer.Elapsed(), first);
}

TEST(SimpleTimerTest, PrintWritesLabelAndElapsedSeconds) {
  SimpleTimer timer;
  timer.Start();
  BurnUntil(timer, 0.01);
  const double before = timer.Elapsed();

  testing::internal::CaptureStdout();
  timer.Print();
  const std::string printed = testing::internal::GetCapturedStdout();
  const double after = timer.Elapsed();

  const std::string label = " System Clock Duration: ";
  ASSERT_EQ(printed.compare(0, label.size(), label), 0) << printed;
  ASSERT_EQ(printed.back(), '\n');
  const std::string number = printed.substr(label.size(), printed.size() - label.size() - 1);
  std::size_t used = 0;
  const double value = std::stod(number, &used);
  EXPECT_EQ(used, number.size()) << number;
  // The default stream format keeps six significant digits.
  EXPECT_GE(value, before * (1 - 1e-5));
  EXPECT_LE(value, after * (1 + 1e-5));
}

}  // namespace
}  // namespace plenro
