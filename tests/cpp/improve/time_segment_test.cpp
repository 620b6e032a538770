#include "plenro/improve/time_segment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "plenro/improve/random_source.h"
#include "plenro/improve/route_summary.h"

namespace plenro {
namespace {

constexpr double kNone = TimeSegment::kUnbounded;

struct Stop {
  double open;
  double close;
};

// The route's timing step by step: leave at 0, wait for an open window, warp back to a closed
// window's close and count the warp, pay each leg.
double Simulate(const std::vector<Stop>& stops, const std::vector<double>& legs, double& warp) {
  double t = 0.0;
  warp = 0.0;
  for (std::size_t i = 0; i < stops.size(); ++i) {
    if (i > 0) {
      t += legs[i - 1];
    }
    if (t > stops[i].close) {
      warp += t - stops[i].close;
      t = stops[i].close;
    }
    t = std::max(t, stops[i].open);
  }
  return t;
}

// Stop v as a route summary: its window is its time resource.
RouteSummary Point(std::int32_t v, const Stop& stop) {
  return RouteSummary::Point(v, TimeSegment::Window(stop.open, stop.close));
}

// Joins stops first..last (inclusive) left to right.
RouteSummary JoinAll(const std::vector<Stop>& stops, const std::vector<double>& legs,
                     std::size_t first, std::size_t last) {
  RouteSummary out = Point(static_cast<std::int32_t>(first), stops[first]);
  for (std::size_t i = first + 1; i <= last; ++i) {
    out = Join(out, Point(static_cast<std::int32_t>(i), stops[i]), legs[i - 1], false);
  }
  return out;
}

struct TimingCase {
  const char* name;
  std::vector<Stop> stops;
  std::vector<double> legs;
  double arrival;
  double warp;
};

void PrintTo(const TimingCase& c, std::ostream* os) {
  *os << c.name;
}

class TimeSegmentTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(TimeSegmentTiming, ArrivesWhenTheRouteDoes) {
  const TimingCase& c = GetParam();
  double warp = -1.0;
  const double arrival =
      JoinAll(c.stops, c.legs, 0, c.stops.size() - 1).time.ArrivalFrom(0.0, warp);
  EXPECT_DOUBLE_EQ(arrival, c.arrival);
  EXPECT_DOUBLE_EQ(warp, c.warp);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeSegmentTiming,
    ::testing::Values(
        TimingCase{"no_windows", {{-kNone, kNone}, {-kNone, kNone}, {-kNone, kNone}}, {3, 4}, 7, 0},
        TimingCase{"waits_for_a_window", {{-kNone, kNone}, {10, 20}}, {3}, 10, 0},
        TimingCase{"late_warps_back", {{-kNone, kNone}, {0, 2}}, {5}, 2, 3},
        TimingCase{"waits_at_the_start", {{5, 100}, {-kNone, kNone}}, {2}, 7, 0},
        TimingCase{"start_window_already_closed", {{-10, -4}, {-kNone, kNone}}, {2}, -2, 4},
        TimingCase{"warp_then_wait", {{-kNone, kNone}, {0, 2}, {20, 30}}, {5, 1}, 20, 3},
        TimingCase{"inverted_window_before_close", {{-kNone, kNone}, {9, 4}}, {3}, 9, 0},
        TimingCase{"arrival_exactly_at_close", {{-kNone, kNone}, {0, 3}}, {3}, 3, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Any grouping of the joins gives the step-by-step timing: the summaries concatenate.
TEST(TimeSegmentJoin, EveryGroupingTimesLikeTheStepByStepRoute) {
  RandomSource random(7);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t n = 2 + random.Below(9);
    std::vector<Stop> stops(n);
    std::vector<double> legs(n - 1);
    for (Stop& stop : stops) {
      if (random.Chance(0.6)) {
        stop.open = random.Uniform() * 100.0;
        stop.close = stop.open + random.Uniform() * 40.0;
      } else {
        stop = {-kNone, kNone};
      }
    }
    for (double& leg : legs) {
      leg = random.Uniform() * 30.0;
    }
    double expected_warp = 0.0;
    const double expected = Simulate(stops, legs, expected_warp);
    for (std::size_t i = 0; i + 1 < n; ++i) {
      for (std::size_t j = i + 1; j < n; ++j) {
        // [0, i] + [i + 1, j] + [j + 1, n - 1], the last part possibly empty.
        RouteSummary head = JoinAll(stops, legs, 0, i);
        RouteSummary middle = JoinAll(stops, legs, i + 1, j);
        RouteSummary tail = j + 1 < n ? JoinAll(stops, legs, j + 1, n - 1) : RouteSummary{};
        const RouteSummary left =
            Join(Join(head, middle, legs[i], false), tail, j + 1 < n ? legs[j] : 0.0, false);
        const RouteSummary right =
            Join(head, Join(middle, tail, j + 1 < n ? legs[j] : 0.0, false), legs[i], false);
        for (const RouteSummary& whole : {left, right}) {
          double warp = 0.0;
          ASSERT_NEAR(whole.time.ArrivalFrom(0.0, warp), expected, 1e-9) << "trial " << trial;
          ASSERT_NEAR(warp, expected_warp, 1e-9) << "trial " << trial;
        }
      }
    }
  }
}

TEST(RouteSummaryJoin, CountsLegsWithoutConnection) {
  const RouteSummary a = RouteSummary::Point(0, TimeSegment{});
  const RouteSummary b = RouteSummary::Point(1, TimeSegment{});
  const RouteSummary c = RouteSummary::Point(2, TimeSegment{});
  const RouteSummary joined = Join(Join(a, b, 1.0, true), c, 1.0, true);
  EXPECT_EQ(joined.broken, 2);
  EXPECT_EQ(joined.first, 0);
  EXPECT_EQ(joined.last, 2);
  EXPECT_TRUE(Join(RouteSummary{}, RouteSummary{}, 0.0, false).empty());
  EXPECT_EQ(Join(RouteSummary{}, b, 5.0, true).broken, 0) << "no leg to an empty side";
}

}  // namespace
}  // namespace plenro
