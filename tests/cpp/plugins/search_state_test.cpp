#include "plenro/plugins/search_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace plenro {
namespace {

TEST(VisitedSetTest, SizedSetsEveryBitFromN) {
  struct Case {
    std::int64_t n;
    std::array<std::uint64_t, 4> words;
  };
  const std::uint64_t all = ~std::uint64_t{0};
  const std::vector<Case> cases = {
      {0, {all, all, all, all}},
      {-3, {all, all, all, all}},
      {1, {all << 1, all, all, all}},
      {64, {0, all, all, all}},
      {70, {0, all << 6, all, all}},
      {128, {0, 0, all, all}},
      {255, {0, 0, 0, std::uint64_t{1} << 63}},
      {256, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VisitedSet::Sized(c.n).words, c.words) << "n = " << c.n;
    // Every bit at or above n is set, none below.
    EXPECT_EQ(VisitedSet::Sized(c.n).CountBelow(256), 256 - std::max<std::int64_t>(c.n, 0));
  }
}

TEST(VisitedSetTest, CountBelowCountsOnlyLowBits) {
  VisitedSet s;
  for (const std::uint64_t k : {0, 5, 63, 64, 100, 191, 192, 255}) {
    s.Set(k);
  }
  const std::vector<std::pair<std::int64_t, std::int64_t>> cases = {
      {0, 0}, {1, 1}, {5, 1}, {6, 2}, {64, 3}, {65, 4}, {192, 6}, {193, 7}, {255, 7}, {256, 8}};
  for (const auto& [n, count] : cases) {
    EXPECT_EQ(s.CountBelow(n), count) << "n = " << n;
  }
  s.Clear(64);
  EXPECT_FALSE(s.Test(64));
  EXPECT_EQ(s.CountBelow(256), 7);
}

TEST(VisitedSetTest, SubsetInEveryWord) {
  VisitedSet small;
  VisitedSet large;
  for (const std::uint64_t k : {3, 70, 130, 250}) {
    small.Set(k);
    large.Set(k);
  }
  large.Set(200);
  EXPECT_TRUE(small.IsSubsetOf(large));
  EXPECT_FALSE(large.IsSubsetOf(small));
  EXPECT_TRUE(small.IsSubsetOf(small));
  EXPECT_TRUE(VisitedSet{}.IsSubsetOf(small));
  for (const std::uint64_t k : {3, 70, 130, 250}) {
    VisitedSet missing_one = large;
    missing_one.Clear(k);
    EXPECT_FALSE(small.IsSubsetOf(missing_one)) << "bit " << k;
  }
}

}  // namespace
}  // namespace plenro
