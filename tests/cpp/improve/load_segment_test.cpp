#include "plenro/improve/load_segment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <ostream>
#include <vector>

#include "plenro/improve/random_source.h"
#include "plenro/improve/route_summary.h"

namespace plenro {
namespace {

// One point in one dimension: its delivery (loaded at the start) and its change of the load.
struct Stop {
  double delivery;
  double change;
};

// The highest load on a route through the stops, step by step: leave with every delivery,
// then apply each stop's change.
double HighestLoad(const std::vector<Stop>& stops) {
  double load = 0.0;
  for (const Stop& stop : stops) {
    load += stop.delivery;
  }
  double highest = load;
  for (const Stop& stop : stops) {
    load += stop.change;
    highest = std::max(highest, load);
  }
  return highest;
}

LoadSegment Single(const Stop& stop) {
  return LoadSegment::Point(1, &stop.delivery, &stop.change);
}

// Joins stops first..last (inclusive), split at `split`: the two halves are joined first.
LoadSegment JoinSplit(const std::vector<Stop>& stops, std::size_t split) {
  LoadSegment left = Single(stops[0]);
  for (std::size_t i = 1; i < split; ++i) {
    left = Join(left, Single(stops[i]));
  }
  if (split >= stops.size()) {
    return left;
  }
  LoadSegment right = Single(stops[split]);
  for (std::size_t i = split + 1; i < stops.size(); ++i) {
    right = Join(right, Single(stops[i]));
  }
  return Join(left, right);
}

struct LoadCase {
  const char* name;
  std::vector<Stop> stops;
  double highest;
};

void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.name;
}

class LoadJoin : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadJoin, EveryOrderOfJoinsGivesTheHighestLoadOfTheRoute) {
  const LoadCase& c = GetParam();
  ASSERT_DOUBLE_EQ(HighestLoad(c.stops), c.highest);
  for (std::size_t split = 1; split <= c.stops.size(); ++split) {
    EXPECT_DOUBLE_EQ(JoinSplit(c.stops, split).HighestLoad(0), c.highest) << "split " << split;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadJoin,
    ::testing::Values(
        LoadCase{"deliveries_only", {{3, -3}, {4, -4}, {5, -5}}, 12},
        LoadCase{"pickups_only", {{0, 2}, {0, 6}, {0, 1}}, 9},
        LoadCase{"pickup_after_deliveries_peaks_at_the_end", {{5, -5}, {5, -5}, {0, 7}}, 10},
        LoadCase{"pickup_first_adds_to_the_deliveries", {{0, 7}, {5, -5}, {5, -5}}, 17},
        LoadCase{"shipment_on_board_between_its_stops", {{2, -2}, {0, 6}, {3, -3}, {0, -6}}, 9},
        LoadCase{"shipment_ends_before_a_pickup", {{0, 6}, {0, -6}, {0, 4}}, 6},
        LoadCase{"one_point", {{4, 1}}, 5}, LoadCase{"nothing_carried", {{0, 0}, {0, 0}}, 0}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST(LoadJoin, RandomRoutesAgreeWithTheStepByStepLoadInEveryDimension) {
  RandomSource random(17);
  for (int trial = 0; trial < 300; ++trial) {
    const std::size_t dims = 1 + random.Below(LoadSegment::kDims);
    const std::size_t length = 1 + random.Below(12);
    std::vector<std::vector<Stop>> stops(dims, std::vector<Stop>(length));
    std::vector<LoadSegment> singles(length);
    for (std::size_t i = 0; i < length; ++i) {
      double delivery[LoadSegment::kDims] = {};
      double change[LoadSegment::kDims] = {};
      for (std::size_t d = 0; d < dims; ++d) {
        delivery[d] = random.Chance(0.5) ? std::floor(random.Uniform() * 9.0) : 0.0;
        change[d] = std::floor(random.Uniform() * 9.0) - delivery[d] - (random.Chance(0.3) ? 5 : 0);
        stops[d][i] = {delivery[d], change[d]};
      }
      singles[i] = LoadSegment::Point(dims, delivery, change);
    }
    // Joined from the right, and as summaries with a time resource beside the load.
    LoadSegment from_right = singles[length - 1];
    for (std::size_t i = length - 1; i-- > 0;) {
      from_right = Join(singles[i], from_right);
    }
    RouteSummary summary = RouteSummary::Point(0, TimeSegment{}, singles[0]);
    for (std::size_t i = 1; i < length; ++i) {
      summary = Join(summary,
                     RouteSummary::Point(static_cast<std::int32_t>(i), TimeSegment{}, singles[i]),
                     1.0, false);
    }
    ASSERT_EQ(summary.load.dims, dims);
    for (std::size_t d = 0; d < dims; ++d) {
      const double expected = HighestLoad(stops[d]);
      ASSERT_DOUBLE_EQ(from_right.HighestLoad(d), expected) << "trial " << trial << " dim " << d;
      ASSERT_DOUBLE_EQ(summary.load.HighestLoad(d), expected) << "trial " << trial << " dim " << d;
    }
  }
}

TEST(LoadJoin, SummariesWithoutLoadsStayWithoutThem) {
  const RouteSummary a = RouteSummary::Point(0, TimeSegment{});
  const RouteSummary b = RouteSummary::Point(1, TimeSegment{});
  EXPECT_EQ(Join(a, b, 2.0, false).load.dims, 0);
  const double delivery[1] = {3.0};
  const double change[1] = {-3.0};
  const RouteSummary loaded =
      RouteSummary::Point(2, TimeSegment{}, LoadSegment::Point(1, delivery, change));
  const RouteSummary joined = Join(a, loaded, 2.0, false);
  EXPECT_EQ(joined.load.dims, 1);
  EXPECT_DOUBLE_EQ(joined.load.HighestLoad(0), 3.0);
}

}  // namespace
}  // namespace plenro
