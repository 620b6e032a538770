#include "plenro/improve/adaptive_choice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "plenro/improve/random_source.h"

namespace plenro {
namespace {

using Outcome = AdaptiveChoice::Outcome;

constexpr Outcome kOutcomes[] = {Outcome::kRejected, Outcome::kAccepted, Outcome::kImproved,
                                 Outcome::kNewBest};

// After any history of outcomes, every pick is an option, every weight is positive and at
// least the floor's share of the largest.
TEST(AdaptiveChoice, StaysInRangeWhateverTheOutcomes) {
  for (const std::int32_t options : {1, 2, 5}) {
    AdaptiveChoice choice(options, 7, 0.3, 0.1);
    RandomSource random(options);
    for (int i = 0; i < 5000; ++i) {
      const std::int32_t pick = choice.Pick(random);
      ASSERT_GE(pick, 0);
      ASSERT_LT(pick, options);
      choice.Record(pick, kOutcomes[random.Below(4)]);
      double largest = 0.0;
      for (std::int32_t o = 0; o < options; ++o) {
        largest = std::max(largest, choice.weight(o));
      }
      for (std::int32_t o = 0; o < options; ++o) {
        ASSERT_GT(choice.weight(o), 0.0);
        ASSERT_GE(choice.weight(o), 0.1 * largest * (1.0 - 1e-12)) << "option " << o;
      }
    }
  }
}

// The option that keeps finding new bests comes to be picked most; one that is always
// rejected is still picked now and then (the floor).
TEST(AdaptiveChoice, FavoursWhatWorksAndKeepsTheRestInPlay) {
  AdaptiveChoice choice(3, 50, 0.2, 0.1);
  RandomSource random(11);
  std::vector<int> picks(3, 0);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t pick = choice.Pick(random);
    ++picks[static_cast<std::size_t>(pick)];
    choice.Record(pick, pick == 1 ? Outcome::kNewBest : Outcome::kRejected);
  }
  EXPECT_GT(picks[1], picks[0] * 3);
  EXPECT_GT(picks[1], picks[2] * 3);
  EXPECT_GT(picks[0], 0);
  EXPECT_GT(picks[2], 0);
  EXPECT_DOUBLE_EQ(choice.weight(0), 0.1 * choice.weight(1));
}

// A long run of rejections everywhere (the end of a run) keeps the weights usable: picks still
// spread over all options, as equal weights would.
TEST(AdaptiveChoice, LongRunsOfRejectionsDoNotStarveThePicks) {
  AdaptiveChoice choice(4, 10, 0.5, 0.1);
  RandomSource random(5);
  for (int i = 0; i < 100000; ++i) {
    choice.Record(static_cast<std::int32_t>(i % 4), Outcome::kRejected);
  }
  std::vector<int> picks(4, 0);
  for (int i = 0; i < 4000; ++i) {
    ++picks[static_cast<std::size_t>(choice.Pick(random))];
  }
  for (const int count : picks) {
    EXPECT_GT(count, 800);
  }
}

TEST(AdaptiveChoice, SameSeedAndOutcomesGiveTheSamePicks) {
  const auto run = [](std::uint64_t seed) {
    AdaptiveChoice choice(4, 20);
    RandomSource random(seed);
    std::vector<std::int32_t> picks;
    for (int i = 0; i < 3000; ++i) {
      const std::int32_t pick = choice.Pick(random);
      picks.push_back(pick);
      choice.Record(pick, kOutcomes[(pick + i) % 4]);
    }
    return picks;
  };
  EXPECT_EQ(run(3), run(3));
  EXPECT_NE(run(3), run(4));
}

TEST(AdaptiveChoice, ResetForgetsTheHistory) {
  AdaptiveChoice choice(2, 5);
  for (int i = 0; i < 100; ++i) {
    choice.Record(0, Outcome::kNewBest);
  }
  ASSERT_NE(choice.weight(0), choice.weight(1));
  choice.Reset();
  EXPECT_EQ(choice.weight(0), 1.0);
  EXPECT_EQ(choice.weight(1), 1.0);
}

TEST(AdaptiveChoice, RefusesSettingsOutOfRange) {
  EXPECT_THROW(AdaptiveChoice(0), std::invalid_argument);
  EXPECT_THROW(AdaptiveChoice(2, 0), std::invalid_argument);
  EXPECT_THROW(AdaptiveChoice(2, 10, 0.0), std::invalid_argument);
  EXPECT_THROW(AdaptiveChoice(2, 10, 0.5, 1.5), std::invalid_argument);
}

}  // namespace
}  // namespace plenro
