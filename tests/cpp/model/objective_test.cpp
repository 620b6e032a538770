#include "plenro/model/objective.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace plenro {
namespace {

struct NameCase {
  std::string name;
  ObjectiveType expected;
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << '"' << c.name << '"';
}

class ObjectiveNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ObjectiveNameTest, ReadsTheLoadersNames) {
  EXPECT_EQ(ObjectiveFromName(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, ObjectiveNameTest,
                         ::testing::Values(NameCase{"min_max", MinMax}, NameCase{"MIN_MAX", MinMax},
                                           NameCase{"min_sum", MinSum}, NameCase{"MIN_SUM", MinSum},
                                           NameCase{"minmax", MinSum}, NameCase{"", MinSum}),
                         [](const auto& info) {
                           return info.param.name.empty() ? std::string("empty") : info.param.name;
                         });

TEST(ObjectiveTest, NamesRoundTrip) {
  EXPECT_EQ(ObjectiveFromName(ObjectiveName(MinMax)), MinMax);
  EXPECT_EQ(ObjectiveFromName(ObjectiveName(MinSum)), MinSum);
}

TEST(ObjectiveTest, TotalsStartFromZeroAndScoreByObjective) {
  const RouteTotals none = TotalsOf(std::vector<double>{});
  EXPECT_EQ(none.max, 0.0);
  EXPECT_EQ(none.sum, 0.0);
  const RouteTotals totals = TotalsOf(std::vector<double>{3.0, 7.5, 0.0, 2.0});
  EXPECT_EQ(totals.max, 7.5);
  EXPECT_EQ(totals.sum, 12.5);
  EXPECT_EQ(ObjectiveValue(MinMax, totals), 7.5);
  EXPECT_EQ(ObjectiveValue(MinSum, totals), 12.5);
}

TEST(ObjectiveTest, OnlyMinSumScoresTheSum) {
  EXPECT_TRUE(ScoresLongestRoute(MinMax));
  EXPECT_FALSE(ScoresLongestRoute(MinSum));
  const auto outside = static_cast<ObjectiveType>(7);
  EXPECT_TRUE(ScoresLongestRoute(outside));
  const RouteTotals totals{4.0, 9.0};
  EXPECT_EQ(ObjectiveValue(outside, totals), 4.0);
  EXPECT_EQ(KeyOf(outside, totals).primary, 4.0);
}

TEST(ObjectiveTest, ImprovementNeedsMoreThanTheTolerance) {
  EXPECT_TRUE(Improves(9.0, 10.0));
  EXPECT_FALSE(Improves(10.0, 10.0));
  EXPECT_FALSE(Improves(10.0 - 1e-10, 10.0));
  EXPECT_FALSE(Improves(11.0, 10.0));
}

TEST(ObjectiveTest, KeyBreaksMinMaxTiesByTheSum) {
  const RouteTotals a{10.0, 30.0};
  const RouteTotals b{10.0, 25.0};
  const RouteTotals c{9.0, 40.0};
  EXPECT_TRUE(Better(KeyOf(MinMax, b), KeyOf(MinMax, a)));
  EXPECT_FALSE(Better(KeyOf(MinMax, a), KeyOf(MinMax, b)));
  EXPECT_TRUE(Better(KeyOf(MinMax, c), KeyOf(MinMax, b)));
  EXPECT_FALSE(Better(KeyOf(MinSum, c), KeyOf(MinSum, b)));
  EXPECT_TRUE(Better(KeyOf(MinSum, b), KeyOf(MinSum, a)));
  EXPECT_FALSE(Better(KeyOf(MinMax, a), KeyOf(MinMax, a)));
}

}  // namespace
}  // namespace plenro
