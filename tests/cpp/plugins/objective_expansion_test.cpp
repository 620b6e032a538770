#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "plenro/plugins/composite_constraint_checker.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/default_expansion.h"
#include "plenro/plugins/default_focal_comparator.h"
#include "plenro/plugins/default_heuristic.h"
#include "plenro/plugins/default_objective.h"
#include "plenro/plugins/min_sum_objective.h"
#include "plenro/plugins/time_limit_constraint_checker.h"
#include "plenro/plugins/time_window_constraint_checker.h"
#include "plugins/plugin_test_support.h"

namespace plenro {
namespace {

using checker_testing::MakeAgents;
using checker_testing::MakeState;
using checker_testing::MakeView;

TEST(PluginNameTest, EveryPluginAnswersItsFixedName) {
  const std::vector<std::pair<std::unique_ptr<PluginBase>, std::string>> cases = [] {
    std::vector<std::pair<std::unique_ptr<PluginBase>, std::string>> v;
    v.emplace_back(std::make_unique<DefaultConstraintChecker>(), "DefaultConstraintChecker");
    v.emplace_back(std::make_unique<TimeLimitConstraintChecker>(), "TimeLimitConstraintChecker");
    v.emplace_back(std::make_unique<TimeWindowConstraintChecker>(), "TimeConstraintChecker");
    v.emplace_back(std::make_unique<CompositeConstraintChecker>(), "CompositeConstraintChecker");
    v.emplace_back(std::make_unique<DefaultHeuristic>(), "DefaultHeuristic");
    v.emplace_back(std::make_unique<DefaultExpansion>(), "DefaultExpansion");
    v.emplace_back(std::make_unique<DefaultObjective>(), "DefaultObjective");
    v.emplace_back(std::make_unique<MinSumObjective>(), "MinSumObjective");
    v.emplace_back(std::make_unique<DefaultFocalComparator>(), "DefaultFocalComparator");
    return v;
  }();
  for (const auto& [plugin, name] : cases) {
    EXPECT_EQ(plugin->Name(), name);
  }
}

struct CombineCase {
  std::vector<double> costs;
  std::vector<char> finished;
  std::int64_t unfinished;
  double h;
  double minmax;
  double minsum;
};

TEST(ObjectiveTest, CombineUnderBothObjectives) {
  const std::vector<CombineCase> cases = {
      // max(5, (4 + 3 + 5) / 2) = 6; 3 + 5 + 4 = 12.
      {{3, 5}, {0, 0}, 2, 4.0, 6.0, 12.0},
      // Nobody unfinished: the longest route whatever h is.
      {{3, 5}, {0, 0}, 0, 4.0, 5.0, 12.0},
      {{3, 5}, {1, 1}, 0, 1000.0, 5.0, 1008.0},
      // The average below the longest route: the longest route.
      {{3, 9}, {0, 1}, 1, 2.0, 9.0, 14.0},
      // Only unfinished agents' costs count: (10 + 3) / 1.
      {{3, 9}, {0, 1}, 1, 10.0, 13.0, 22.0},
      // Negative unfinished count is treated like zero.
      {{7, 2}, {0, 0}, -1, 50.0, 7.0, 59.0},
  };
  const DefaultObjective minmax;
  const MinSumObjective minsum;
  for (const CombineCase& c : cases) {
    SearchState state = MakeState(4, {0, 0}, c.costs, {}, c.finished);
    EXPECT_DOUBLE_EQ(minmax.Combine(state, c.unfinished, c.h), c.minmax);
    EXPECT_DOUBLE_EQ(minsum.Combine(state, c.unfinished, c.h), c.minsum);
  }
}

TEST(ObjectiveTest, EvaluateLongestAndSum) {
  const DefaultObjective minmax;
  const MinSumObjective minsum;
  EXPECT_EQ(minmax.Evaluate({}), 0.0);
  EXPECT_EQ(minsum.Evaluate({}), 0.0);
  EXPECT_EQ(minmax.Evaluate({-3.0, -1.0, -2.0}), -1.0);
  EXPECT_EQ(minmax.Evaluate({2.0, 7.5, 7.0}), 7.5);
  EXPECT_EQ(minsum.Evaluate({2.0, 7.5, 7.0}), 16.5);
  // Added in order from 0.0: (0.1 + 0.2) + 0.3, not 0.1 + (0.2 + 0.3).
  EXPECT_EQ(minsum.Evaluate({0.1, 0.2, 0.3}), (0.1 + 0.2) + 0.3);
}

// Combine goes through the object's own Evaluate.
class DoubledMinSum : public MinSumObjective {
 public:
  double Evaluate(const std::vector<double>& costs) const override {
    return 2.0 * MinSumObjective::Evaluate(costs);
  }
};

class ShiftedMinMax : public DefaultObjective {
 public:
  double Evaluate(const std::vector<double>& costs) const override {
    return DefaultObjective::Evaluate(costs) + 100.0;
  }
};

TEST(ObjectiveTest, CombineUsesOverriddenEvaluate) {
  const SearchState state = MakeState(4, {0, 0}, {3, 5}, {});
  EXPECT_DOUBLE_EQ(DoubledMinSum().Combine(state, 2, 4.0), 20.0);
  EXPECT_DOUBLE_EQ(ShiftedMinMax().Combine(state, 2, 4.0), 105.0);
  EXPECT_DOUBLE_EQ(ShiftedMinMax().Combine(state, 0, 4.0), 105.0);
}

struct SelectCase {
  std::vector<double> costs;
  std::vector<char> finished;
  std::int64_t expected;
};

TEST(ExpansionTest, SelectsCheapestUnfinishedLowestIndex) {
  const double inf = std::numeric_limits<double>::infinity();
  const double big = std::numeric_limits<double>::max();
  const std::vector<SelectCase> cases = {
      {{4, 2, 2}, {0, 0, 0}, 1},
      {{4, 2, 2}, {1, 1, 1}, -1},
      {{4, 2, 2}, {0, 1, 0}, 2},
      {{4, 2, 2}, {0, 1, 1}, 0},
      // Costs not below the largest finite double are never chosen.
      {{inf, big, 5}, {0, 0, 1}, -1},
      {{inf, 7, 5}, {0, 0, 1}, 1},
  };
  DefaultExpansion expansion;
  const InstanceView view = MakeView(nullptr, {}, MakeAgents({0, 0, 0}), {}, {0, 0, 0});
  expansion.Bind(view);
  EXPECT_EQ(expansion.NumAgents(), 3u);
  for (const SelectCase& c : cases) {
    const SearchState state = MakeState(4, {0, 0, 0}, c.costs, {}, c.finished);
    EXPECT_EQ(expansion.SelectAgent(state), c.expected);
  }
}

TEST(ExpansionTest, AgentCountComesFromTheView) {
  DefaultExpansion expansion;
  const InstanceView view = MakeView(nullptr, {}, MakeAgents({0, 0}), {}, {0, 0});
  expansion.Bind(view);
  // A third entry in the state is not an agent of this expansion.
  const SearchState state = MakeState(4, {0, 0, 0}, {9, 8, 1}, {});
  EXPECT_EQ(expansion.SelectAgent(state), 1);
}

struct CompareCase {
  FocalKey a;
  FocalKey b;
  bool a_before_b;
  bool b_before_a;
};

TEST(FocalComparatorTest, VisitedThenFThenTotal) {
  const std::vector<CompareCase> cases = {
      // {id, visited, unfinished, f, total}
      {{1, 5, 1, 9.0, 9.0}, {2, 4, 1, 1.0, 1.0}, true, false},
      {{1, 4, 1, 2.0, 9.0}, {2, 4, 1, 3.0, 1.0}, true, false},
      {{1, 4, 1, 3.0, 1.0}, {2, 4, 1, 3.0, 2.0}, true, false},
      // Equal in the three compared fields: equivalent, whatever id and unfinished are.
      {{1, 4, 1, 3.0, 2.0}, {2, 4, 7, 3.0, 2.0}, false, false},
      {{1, 4, 1, 3.0, 2.0}, {1, 4, 1, 3.0, 2.0}, false, false},
      // Signed comparison of visited counts.
      {{1, -1, 0, 0.0, 0.0}, {2, 0, 0, 0.0, 0.0}, false, true},
  };
  const DefaultFocalComparator compare;
  for (const CompareCase& c : cases) {
    EXPECT_EQ(compare.Compare(c.a, c.b), c.a_before_b);
    EXPECT_EQ(compare.Compare(c.b, c.a), c.b_before_a);
  }
}

}  // namespace
}  // namespace plenro
