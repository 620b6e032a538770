#include "plenro/search/state_queries.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace plenro {
namespace {

SearchState Fresh(std::int32_t n, std::int64_t unfinished) {
  SearchState s;
  s.num_bits = n;
  s.visited = VisitedSet::Sized(n);
  s.unfinished = unfinished;
  return s;
}

TEST(StateQueriesTest, SixtyFourPointsFillOnlyTheFirstWord) {
  SearchState s = Fresh(64, 0);
  EXPECT_EQ(s.visited.words[0], 0u);
  EXPECT_EQ(s.visited.words[1], ~std::uint64_t{0});
  EXPECT_EQ(s.visited.words[3], ~std::uint64_t{0});
  EXPECT_EQ(CountVisitedPoints(s), 0);
  EXPECT_FALSE(IsGoalState(s));
  for (std::uint64_t k = 0; k < 63; ++k) {
    s.visited.Set(k);
  }
  EXPECT_EQ(CountVisitedPoints(s), 63);
  EXPECT_FALSE(IsGoalState(s));
  s.visited.Set(63);
  EXPECT_EQ(CountVisitedPoints(s), 64);
  EXPECT_TRUE(IsGoalState(s));
  s.unfinished = 1;
  EXPECT_FALSE(IsGoalState(s));
}

TEST(StateQueriesTest, TwoHundredFiftySixPointsUseEveryWord) {
  SearchState s = Fresh(256, 0);
  for (const std::uint64_t word : s.visited.words) {
    EXPECT_EQ(word, 0u);
  }
  for (std::uint64_t k = 0; k < 256; ++k) {
    if (k != 200) {
      s.visited.Set(k);
    }
  }
  EXPECT_EQ(CountVisitedPoints(s), 255);
  EXPECT_FALSE(IsGoalState(s));
  s.visited.Set(200);
  EXPECT_EQ(CountVisitedPoints(s), 256);
  EXPECT_TRUE(IsGoalState(s));
}

TEST(StateQueriesTest, GoalLooksOnlyAtBitsBelowTheSize) {
  // A clear bit above num_bits (which the search never produces) does not count.
  SearchState s = Fresh(3, 0);
  s.visited.Set(0);
  s.visited.Set(1);
  s.visited.Set(2);
  s.visited.Clear(100);
  EXPECT_TRUE(IsGoalState(s));
  EXPECT_EQ(CountVisitedPoints(s), 3);
  EXPECT_TRUE(IsGoalState(Fresh(0, 0)));
}

TEST(StateQueriesTest, TotalCostSumsTheAgentsCosts) {
  SearchState s;
  s.costs = {1.5, 2.25, 4.0};
  EXPECT_EQ(TotalRouteCost(s, 3), 7.75);
  EXPECT_EQ(TotalRouteCost(s, 2), 3.75);
  EXPECT_EQ(TotalRouteCost(s, 0), 0.0);
}

}  // namespace
}  // namespace plenro
