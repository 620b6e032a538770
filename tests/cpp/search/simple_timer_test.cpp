#include "plenro/search/simple_timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <iostream>
#include <string>

namespace plenro {
namespace {

// Burns processor time until the process clock has moved past `seconds` since `timer` started.
// The loop waits on the clock itself, so no assertion depends on how fast the machine is.
void BurnUntil(const SimpleTimer& timer, double seconds) {
  volatile std::uint64_t sink = 0;
  while (timer.Elapsed() <= seconds) {
    for (int i = 0; i < 10000; ++i) {
      sink = sink + static_cast<std::uint64_t>(i) * 2654435761u;
    }
  }
}

TEST(SimpleTimerTest, StartReturnsTheProcessorClockInMicroseconds) {
  SimpleTimer timer;
  const std::clock_t before = std::clock();
  const std::int64_t start = timer.Start();
  const std::clock_t after = std::clock();
  const auto to_micros = [](std::clock_t ticks) {
    return static_cast<double>(ticks) * 1e6 / static_cast<double>(CLOCKS_PER_SEC);
  };
  EXPECT_GE(static_cast<double>(start), to_micros(before) - 1.0);
  EXPECT_LE(static_cast<double>(start), to_micros(after) + 1.0);
  const double elapsed = timer.Elapsed();
  EXPECT_GE(elapsed, 0.0);
  EXPECT_LT(elapsed, 1.0);
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
