#include "plenro/instance/instance_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "instance/instance_test_support.h"

namespace plenro {
namespace {

using instance_testing::kNoArc;
using instance_testing::MakeAgents;
using instance_testing::MakeGraph;
using instance_testing::MakePoints;

// Three points: 0 open to both types, 1 to type 1, 2 to type 0; the arc 2 -> 0 is missing.
InstanceView MakeView(bool setters_first) {
  const auto graph = MakeGraph(
      {{{0, 1, 2}, {3, 0, 4}, {kNoArc, 5, 0}}, {{0, 10, 20}, {30, 0, 40}, {kNoArc, 50, 0}}});
  InstanceView view;
  const auto fill_tables = [&view, &graph] {
    view.SetPoints(MakePoints({{0, 1}, {1}, {0}}));
    view.SetAgents(MakeAgents({0, 1}, {0.0, 25.0}));
    view.SetCosts(graph.get());
  };
  if (!setters_first) {
    fill_tables();
  }
  view.SetStarts({0, 0});
  view.SetGoals({2, 0});
  view.SetTimeWindows({{1, {3.0, 9.0}}, {7, {1.0, 2.0}}});
  view.SetReturnToEnd(false);
  if (setters_first) {
    fill_tables();
  }
  return view;
}

class InstanceViewTest : public ::testing::TestWithParam<bool> {};

TEST_P(InstanceViewTest, TablesDoNotDependOnTheOrderOfTheSetters) {
  const InstanceView view = MakeView(GetParam());
  EXPECT_EQ(view.num_points(), 3u);
  EXPECT_EQ(view.num_agents(), 2u);
  EXPECT_EQ(view.num_types(), 2u);
  EXPECT_FALSE(view.return_to_end());

  EXPECT_TRUE(view.Allows(0, 0));
  EXPECT_TRUE(view.Allows(1, 0));
  EXPECT_FALSE(view.Allows(0, 1));
  EXPECT_TRUE(view.Allows(1, 1));
  EXPECT_FALSE(view.Allows(1, 2));
  EXPECT_FALSE(view.Allows(-1, 0));
  EXPECT_FALSE(view.Allows(2, 0));
  EXPECT_FALSE(view.Allows(0, 3));

  EXPECT_TRUE(view.IsStart(0));
  EXPECT_FALSE(view.IsStart(2));
  EXPECT_TRUE(view.IsGoal(2));
  EXPECT_TRUE(view.IsGoal(0));
  EXPECT_FALSE(view.IsGoal(1));
  EXPECT_FALSE(view.IsGoal(99));
  EXPECT_EQ(view.Start(1), 0u);
  EXPECT_EQ(view.Goal(0), 2u);

  EXPECT_TRUE(view.has_windows());
  EXPECT_TRUE(view.HasWindow(1));
  EXPECT_EQ(view.Open(1), 3.0);
  EXPECT_EQ(view.Close(1), 9.0);
  EXPECT_FALSE(view.HasWindow(0));
  EXPECT_FALSE(view.HasWindow(7));  // beyond the points

  EXPECT_EQ(view.AgentType(1), 1);
  EXPECT_EQ(view.MaxLength(1), 25.0);
}

TEST_P(InstanceViewTest, MissingArcsAndForeignTypesAreNoConnection) {
  const InstanceView view = MakeView(GetParam());
  ASSERT_TRUE(view.has_costs());
  EXPECT_EQ(view.Cost(0, 2, 0), 2.0);
  EXPECT_EQ(view.Cost(1, 2, 1), 40.0);
  EXPECT_EQ(view.Cost(2, 0, 0), kNoConnection);
  EXPECT_FALSE(view.Connected(2, 0, 1));
  EXPECT_TRUE(view.Connected(2, 1, 1));
  EXPECT_EQ(view.Cost(0, 0, 0), kNoConnection);  // no self arc
  EXPECT_EQ(view.Cost(0, 1, 5), kNoConnection);  // type beyond the table
  EXPECT_EQ(view.Cost(0, 9, 0), kNoConnection);  // vertex beyond the table
}

INSTANTIATE_TEST_SUITE_P(SetterOrder, InstanceViewTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "SettersBeforeTables" : "TablesBeforeSetters";
});

TEST(InstanceViewTest, EmptyStartsAndGoalsMeanNotSet) {
  InstanceView view;
  view.SetPoints(MakePoints({{0}, {0}}));
  view.SetAgents(MakeAgents({0}));
  EXPECT_FALSE(view.has_starts());
  EXPECT_FALSE(view.has_goals());
  EXPECT_FALSE(view.IsStart(0));
  EXPECT_FALSE(view.has_costs());
  EXPECT_EQ(view.Cost(0, 1, 0), kNoConnection);
}

TEST(InstanceViewTest, TableWithoutGraphCountsAsCosts) {
  InstanceView view;
  view.SetPoints(MakePoints({{0}, {0}}));
  CostTable table(2, 1);
  table.Set(0, 1, 0, 7.0);
  view.SetCosts(table);
  EXPECT_TRUE(view.has_costs());
  EXPECT_EQ(view.Cost(0, 1, 0), 7.0);
  EXPECT_FALSE(view.Connected(1, 0, 0));
}

// The rules of one agent. Five points: agent 0 (type 0) runs 0 -> 1, agent 1 (type 1) runs
// 2 -> 3; point 4 is open to type 0 only. Type 0 pays 10 u + v from u to v, type 1 twice that;
// the arc 4 -> 1 has no cost for either type.
struct AgentRuleCase {
  const char* name;
  std::uint64_t agent;
  std::uint64_t u;
  std::uint64_t v;
  bool return_to_end;
  bool may_serve;
  bool free_ending;
  double leg;
};

void PrintTo(const AgentRuleCase& c, std::ostream* os) {
  *os << c.name;
}

class AgentRuleTest : public ::testing::TestWithParam<AgentRuleCase> {};

TEST_P(AgentRuleTest, ServingFreeEndingsAndLegs) {
  const AgentRuleCase& c = GetParam();
  CostTable table(5, 2);
  for (std::uint64_t u = 0; u < 5; ++u) {
    for (std::uint64_t v = 0; v < 5; ++v) {
      if (u != v && !(u == 4 && v == 1)) {
        table.Set(u, v, 0, static_cast<double>(10 * u + v));
        table.Set(u, v, 1, static_cast<double>(2 * (10 * u + v)));
      }
    }
  }
  InstanceView view;
  view.SetPoints(MakePoints({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {0}}));
  view.SetAgents(MakeAgents({0, 1}));
  view.SetStarts({0, 2});
  view.SetGoals({1, 3});
  view.SetReturnToEnd(c.return_to_end);
  view.SetCosts(table);

  EXPECT_EQ(view.MayServe(c.agent, c.v), c.may_serve);
  // The assignment rule alone: the agent's type, whoever's endpoint the point is.
  EXPECT_EQ(view.TypeAllows(c.agent, c.v), view.Allows(view.AgentType(c.agent), c.v));
  EXPECT_EQ(view.FreeEnding(c.agent, c.v), c.free_ending);
  EXPECT_EQ(view.Leg(c.u, c.v, c.agent), c.leg);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AgentRuleTest,
    ::testing::Values(AgentRuleCase{"PlainLeg", 0, 1, 4, true, true, false, 14.0},
                      AgentRuleCase{"TypeNotServed", 1, 2, 4, true, false, false, 2 * 24.0},
                      AgentRuleCase{"OtherTypesCost", 1, 2, 1, true, false, false, 2 * 21.0},
                      AgentRuleCase{"StayingIsFree", 0, 4, 4, true, true, false, 0.0},
                      AgentRuleCase{"OwnGoalPaidWithReturn", 0, 4, 1, true, true, false,
                                    kNoConnection},
                      AgentRuleCase{"OwnGoalFreeWithoutReturn", 0, 4, 1, false, true, true, 0.0},
                      AgentRuleCase{"OwnStartFreeWithoutReturn", 0, 4, 0, false, true, true, 0.0},
                      AgentRuleCase{"OwnStartPaidWithReturn", 0, 4, 0, true, true, false, 40.0},
                      AgentRuleCase{"ForeignStart", 0, 4, 2, false, false, false, 42.0},
                      AgentRuleCase{"ForeignGoal", 1, 0, 1, false, false, false, 2 * 1.0},
                      AgentRuleCase{"MissingArc", 1, 4, 1, true, false, false, kNoConnection}),
    [](const ::testing::TestParamInfo<AgentRuleCase>& info) {
      return std::string(info.param.name);
    });

TEST(InstanceViewTest, AgentsBeyondTheEndpointListsHaveNoOwnEndpoints) {
  InstanceView view;
  view.SetPoints(MakePoints({{0}, {0}}));
  view.SetAgents(MakeAgents({0, 0}));
  view.SetStarts({0});
  view.SetReturnToEnd(false);
  EXPECT_TRUE(view.IsOwnStart(0, 0));
  EXPECT_FALSE(view.IsOwnStart(1, 0));
  EXPECT_FALSE(view.IsOwnGoal(0, 0));
  EXPECT_FALSE(view.FreeEnding(1, 0));
  // Agent 1 may not take agent 0's start point, although its type may serve it.
  EXPECT_FALSE(view.MayServe(1, 0));
  EXPECT_TRUE(view.TypeAllows(1, 0));
  EXPECT_TRUE(view.MayServe(1, 1));
  // Nothing is known of agents and points beyond the tables.
  EXPECT_FALSE(view.TypeAllows(2, 0));
  EXPECT_FALSE(view.MayServe(0, 2));
}

TEST(NoConnectionTest, EveryCostFromTheMarkerUpIsNoConnection) {
  EXPECT_TRUE(IsNoConnection(kNoConnection));
  EXPECT_TRUE(IsNoConnection(20018.0));
  EXPECT_FALSE(IsNoConnection(9998.999));
}

}  // namespace
}  // namespace plenro
