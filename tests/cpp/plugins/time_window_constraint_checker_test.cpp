#include "plenro/plugins/time_window_constraint_checker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "plenro/instance/instance_view.h"
#include "plugins/plugin_test_support.h"

namespace plenro {
namespace {

using checker_testing::kNoArc;
using checker_testing::MakeAgents;
using checker_testing::MakeGraph;
using checker_testing::MakePoints;
using checker_testing::MakeState;
using checker_testing::MakeView;

using Matrix = std::vector<std::vector<double>>;
using Window = std::optional<std::pair<double, double>>;

// A checker bound to a view of its own graph, as the solver binds it.
struct Instance {
  std::unique_ptr<SparseGraph> graph;
  InstanceView view;
  TimeWindowConstraintChecker checker;

  Instance(const std::vector<Matrix>& matrices, const std::vector<Point>& points,
           const std::vector<AgentInfo>& agents, const std::vector<std::uint64_t>& starts,
           const std::vector<std::uint64_t>& goals, const TimeWindowMap& windows,
           bool return_to_end)
      : graph(MakeGraph(matrices)),
        view(MakeView(graph.get(), points, agents, starts, goals, windows, return_to_end)) {
    checker.Bind(view);
  }
};

TimeWindowMap Windows(const std::vector<std::pair<std::uint64_t, Window>>& entries) {
  TimeWindowMap map;
  for (const auto& [vertex, window] : entries) {
    if (window) {
      map[vertex] = *window;
    }
  }
  return map;
}

struct TravelCase {
  const char* what;
  bool return_to_end;
  bool starts_set;
  std::uint64_t x, y, k;
  double expected;
};

TEST(TimeWindowTravelTest, LegTimes) {
  // Type 0 costs 1 + 3u + v, type 1 costs 100 + 3u + v; no arc 2 -> 1.
  Matrix type0(3, std::vector<double>(3));
  Matrix type1(3, std::vector<double>(3));
  for (int u = 0; u < 3; ++u) {
    for (int v = 0; v < 3; ++v) {
      type0[u][v] = 1 + 3 * u + v;
      type1[u][v] = 100 + 3 * u + v;
    }
  }
  type0[2][1] = kNoArc;
  // Agent 0 (type 1): start 0, end 1. Agent 1 (type 0): start 0, end 2.
  const std::vector<TravelCase> cases = {
      {"arc, type 1", true, true, 1, 2, 0, 105.0},
      {"arc, type 0", true, true, 1, 2, 1, 6.0},
      {"same point", true, true, 1, 1, 0, 0.0},
      {"into own start", true, true, 1, 0, 0, 0.0},
      {"into own start, no return to end", false, true, 2, 0, 1, 0.0},
      {"into own end, return to end", true, true, 0, 1, 0, 101.0},
      {"into own end, no return to end", false, true, 0, 1, 0, 0.0},
      {"into another's end, no return to end", false, true, 0, 2, 0, 102.0},
      {"missing arc", true, true, 2, 1, 1, kNoConnection},
      {"starts not set", true, false, 1, 0, 0, 103.0},
  };
  for (const TravelCase& c : cases) {
    Instance inst({type0, type1}, checker_testing::MakeType0Points(3), MakeAgents({1, 0}),
                  c.starts_set ? std::vector<std::uint64_t>{0, 0} : std::vector<std::uint64_t>{},
                  {1, 2}, {}, c.return_to_end);
    EXPECT_EQ(inst.checker.Travel(c.x, c.y, c.k), c.expected) << c.what;
  }
  TimeWindowConstraintChecker no_graph;
  const InstanceView no_costs =
      MakeView(nullptr, checker_testing::MakeType0Points(3), MakeAgents({1, 0}), {}, {}, {}, false);
  no_graph.Bind(no_costs);
  EXPECT_EQ(no_graph.Travel(1, 2, 0), 0.0);
}

TEST(TimeWindowServeTest, TypesAndOtherAgentsDepots) {
  // Agent 0 (type 0): start 0, end 2. Agent 1 (type 1): start 1, end 0.
  const auto points = MakePoints({{0, 1}, {0, 1}, {0, 1}, {1}, {}});
  const Matrix flat(5, std::vector<double>(5, 1.0));
  // can[k][i] with both sets, then with neither.
  const std::vector<std::vector<bool>> with_sets = {{false, false, true, false, false},
                                                    {false, true, false, true, false}};
  const std::vector<std::vector<bool>> without_sets = {{true, true, true, false, false},
                                                       {true, true, true, true, false}};
  Instance inst({flat}, points, MakeAgents({0, 1}), {0, 1}, {2, 0}, {}, true);
  for (std::uint64_t k = 0; k < 2; ++k) {
    for (std::uint64_t i = 0; i < 5; ++i) {
      EXPECT_EQ(inst.checker.CanServe(k, i), with_sets[k][i]) << "agent " << k << " point " << i;
    }
  }
  // The checker reads the view as it stands: replacing the sets clears the old members.
  inst.view.SetGoals({});
  inst.view.SetStarts({});
  for (std::uint64_t k = 0; k < 2; ++k) {
    for (std::uint64_t i = 0; i < 5; ++i) {
      EXPECT_EQ(inst.checker.CanServe(k, i), without_sets[k][i]) << "agent " << k << " point " << i;
    }
  }
  inst.view.SetStarts({3, 1});
  EXPECT_TRUE(inst.checker.CanServe(0, 0));
  EXPECT_FALSE(inst.checker.CanServe(0, 1));
  EXPECT_TRUE(inst.checker.CanServe(1, 1));
  EXPECT_FALSE(inst.checker.CanServe(1, 3));
}

struct ArrivalCase {
  double arrival;
  bool accepted;
  bool has_value;
  double value;
};

TEST(WindowRuleTest, CloseIsInclusiveEarlyArrivalWaits) {
  // Depot 0, point 1 with window (4, 10); the agent went 0 -> 1.
  const Matrix costs = {{0, 10}, {10, 0}};
  const std::vector<ArrivalCase> cases = {
      {10.0, true, false, 0.0}, {10.5, false, false, 0.0}, {3.0, true, true, 4.0},
      {4.0, true, false, 0.0},  {7.0, true, false, 0.0},   {-1.0, true, true, 4.0},
  };
  Instance inst({costs}, checker_testing::MakeType0Points(2), MakeAgents({0}), {0}, {0},
                {{1, {4.0, 10.0}}}, true);
  TimeWindowConstraintChecker no_graph;
  const InstanceView no_costs = MakeView(nullptr, checker_testing::MakeType0Points(2),
                                         MakeAgents({0}), {}, {}, {{1, {4.0, 10.0}}}, false);
  no_graph.Bind(no_costs);
  for (const ArrivalCase& c : cases) {
    const SearchState s = MakeState(2, {0}, {c.arrival}, {1});
    for (const TimeWindowConstraintChecker* checker : {&inst.checker, &no_graph}) {
      const MoveCheck r = checker->OnMove(s, 0, 1);
      EXPECT_EQ(r.accepted, c.accepted) << "arrival " << c.arrival;
      EXPECT_EQ(r.has_value, c.has_value) << "arrival " << c.arrival;
      EXPECT_EQ(r.value, c.value) << "arrival " << c.arrival;
    }
  }
}

struct SkipCase {
  const char* what;
  Matrix costs;  // over depot 0, skipped point 1, target 2
  Window window1;
  Window window2;
  bool accepted;
  double value;  // with has_value when not 0
};

TEST(WindowRuleTest, SkipDominance) {
  // The agent goes from its depot 0 straight to 2, leaving 1 open; arrival = costs[0][2].
  const Matrix line = {{0, 1, 2}, {1, 0, 1}, {2, 1, 0}};
  const Matrix far = {{0, 2, 2}, {2, 0, 2}, {2, 2, 0}};
  const Matrix free_back = {{0, 1, 2}, {1, 0, 1}, {2, 0, 0}};
  const Matrix no_way_back = {{0, 1, 2}, {1, 0, 1}, {2, kNoArc, 0}};
  const std::vector<SkipCase> cases = {
      // Through 1 arrives at 2 as early (y = 2 <= 2), and 1 after 2 is later (3 > 2).
      {"on the way", line, std::nullopt, std::nullopt, false, 0.0},
      // The detour arrives later (4 > 2): 1 is not on the way.
      {"detour", far, std::nullopt, std::nullopt, true, 0.0},
      // 1 after 2 misses 1's close (3 > 2.5).
      {"misses window after", line, std::make_pair(0.0, 2.5), std::nullopt, false, 0.0},
      // Waiting at 2 until 5 makes the detour free: y = max(2, 5) = 5 <= 5, z = 6 > 5.
      {"wait at target", line, std::nullopt, std::make_pair(5.0, 20.0), false, 0.0},
      // Waiting at 1 until 3 makes the detour late (y = 4 > 2).
      {"wait at skipped point", line, std::make_pair(3.0, 10.0), std::nullopt, true, 0.0},
      // 1 closes before anyone can reach it: the reachability test rejects.
      {"skipped point closed early", far, std::make_pair(0.0, 0.5), std::nullopt, false, 0.0},
      // Going back 2 -> 1 is free: z = 2 is not later than y = 2.
      {"free return", free_back, std::nullopt, std::nullopt, true, 0.0},
      // No arc 2 -> 1: serving 1 after 2 is no connection, so the detour wins.
      {"no way back", no_way_back, std::nullopt, std::nullopt, false, 0.0},
  };
  for (const SkipCase& c : cases) {
    Instance inst({c.costs}, checker_testing::MakeType0Points(3), MakeAgents({0}), {0}, {0},
                  Windows({{1, c.window1}, {2, c.window2}}), true);
    const SearchState s = MakeState(3, {0}, {c.costs[0][2]}, {2});
    const MoveCheck r = inst.checker.OnMove(s, 0, 2);
    EXPECT_EQ(r.accepted, c.accepted) << c.what;
    EXPECT_EQ(r.has_value, c.value != 0.0) << c.what;
    EXPECT_EQ(r.value, c.value) << c.what;
  }
}

TEST(WindowRuleTest, SkipDominanceIgnoresPointsTheAgentMayNotServe) {
  const Matrix line = {{0, 1, 2}, {1, 0, 1}, {2, 1, 0}};
  const SearchState s = MakeState(3, {0}, {2.0}, {2});
  // Point 1 is type 1 only and served by agent 1 (type 1), which keeps it reachable.
  const auto points = MakePoints({{0, 1}, {1}, {0, 1}});
  Instance typed({line, line}, points, MakeAgents({0, 1}), {0, 0}, {0, 0}, {}, true);
  EXPECT_TRUE(typed.checker.OnMove(MakeState(3, {0, 0}, {2.0, 0.0}, {2}), 0, 2).accepted);
  // Point 1 is another agent's start: not skipped by agent 0.
  Instance other_start({line}, checker_testing::MakeType0Points(3), MakeAgents({0, 0}), {0, 1},
                       {0, 0}, {}, true);
  EXPECT_TRUE(other_start.checker.OnMove(MakeState(3, {0, 1}, {2.0, 0.0}, {2}), 0, 2).accepted);
  // Point 1 is agent 0's own end point and routes need not return there: not considered.
  Instance own_end({line}, checker_testing::MakeType0Points(3), MakeAgents({0}), {0}, {1}, {},
                   false);
  EXPECT_TRUE(own_end.checker.OnMove(s, 0, 2).accepted);
  Instance own_end_returning({line}, checker_testing::MakeType0Points(3), MakeAgents({0}), {0}, {1},
                             {}, true);
  EXPECT_FALSE(own_end_returning.checker.OnMove(s, 0, 2).accepted);
}

struct ReachCase {
  const char* what;
  std::vector<std::int64_t> types;  // agent 1 absent when size 1
  std::vector<double> costs;        // agent 0's arrival at 2 is 5
  std::vector<char> finished;
  bool goals_set;
  bool accepted;
};

TEST(WindowRuleTest, Reachability) {
  // Depot 0; point 1 (type 0 only) with window (0, 3); target 2. Agent 0 goes 0 -> 2 (5) and
  // would reach 1 only at 10; a second agent at the depot may still reach it (leg 1).
  const Matrix costs = {{0, 1, 5}, {1, 0, 5}, {5, 5, 0}};
  const auto points = MakePoints({{0, 1}, {0}, {0, 1}});
  const std::vector<ReachCase> cases = {
      {"single agent", {0}, {5}, {0}, true, false},
      {"helper in time", {0, 0}, {5, 0}, {0, 0}, true, true},
      {"helper exactly at close", {0, 0}, {5, 2}, {0, 0}, true, true},
      {"helper too late", {0, 0}, {5, 2.5}, {0, 0}, true, false},
      {"helper finished", {0, 0}, {5, 0}, {0, 1}, true, false},
      {"finished helper counts without goals", {0, 0}, {5, 0}, {0, 1}, false, true},
      {"helper of another type", {0, 1}, {5, 0}, {0, 0}, true, false},
  };
  for (const ReachCase& c : cases) {
    const std::size_t m = c.types.size();
    Instance inst({costs, costs}, points, MakeAgents(c.types), std::vector<std::uint64_t>(m, 0),
                  c.goals_set ? std::vector<std::uint64_t>(m, 0) : std::vector<std::uint64_t>{},
                  {{1, {0.0, 3.0}}}, true);
    const SearchState s = MakeState(3, std::vector<std::int64_t>(m, 0), c.costs, {2}, c.finished);
    EXPECT_EQ(inst.checker.OnMove(s, 0, 2).accepted, c.accepted) << c.what;
  }
}

TEST(WindowRuleTest, PointsWithoutWindowNeedAServingAgent) {
  // Agent 0 goes 0 -> 1 (no windows anywhere); point 2 stays open.
  const Matrix costs = {{0, 1, 5}, {1, 0, 5}, {5, 5, 0}};
  Instance servable({costs}, MakePoints({{0}, {0}, {0, 1}}), MakeAgents({0}), {0}, {0}, {}, true);
  Instance orphan({costs}, MakePoints({{0}, {0}, {1}}), MakeAgents({0}), {0}, {0}, {}, true);
  const SearchState s = MakeState(3, {0}, {1.0}, {1});
  const MoveCheck ok = servable.checker.OnMove(s, 0, 1);
  EXPECT_TRUE(ok.accepted);
  EXPECT_FALSE(ok.has_value);
  EXPECT_FALSE(orphan.checker.OnMove(s, 0, 1).accepted);
}

TEST(WindowRuleTest, LegsIntoOwnEndAreFreeWithoutReturnToEnd) {
  // Agent 0: start 0, end 1 with window (0, 6); it goes 0 -> 2 (5). The leg 2 -> 1 costs 10,
  // unless routes need not return to their end point.
  const Matrix costs = {{0, 10, 5}, {10, 0, 10}, {5, 10, 0}};
  for (const bool return_to_end : {true, false}) {
    Instance inst({costs}, checker_testing::MakeType0Points(3), MakeAgents({0}), {0}, {1},
                  {{1, {0.0, 6.0}}}, return_to_end);
    const SearchState s = MakeState(3, {0}, {5.0}, {2});
    EXPECT_EQ(inst.checker.OnMove(s, 0, 2).accepted, !return_to_end)
        << "return_to_end " << return_to_end;
  }
}

// A checker answers from the view it is bound to alone: bound to another view that holds the
// same instance, filled in the opposite order, it answers as the first.
TEST(WindowRuleTest, BoundToAnEqualViewItAnswersAlike) {
  const Matrix costs = {{0, 1, 5, 2}, {1, 0, 5, 3}, {5, 5, 0, 4}, {2, 3, 4, 0}};
  const auto points = MakePoints({{0, 1}, {0}, {0, 1}, {1}});
  const auto agents = MakeAgents({0, 1});
  const TimeWindowMap windows = {{1, {0.0, 3.0}}, {3, {4.0, 9.0}}};
  Instance own({costs, costs}, points, agents, {0, 0}, {0, 2}, windows, false);

  InstanceView view;
  view.SetReturnToEnd(false);
  view.SetTimeWindows(windows);
  view.SetGoals({0, 2});
  view.SetStarts({0, 0});
  view.SetCosts(own.graph.get());
  view.SetAgents(agents);
  view.SetPoints(points);
  TimeWindowConstraintChecker linked;
  linked.Bind(view);

  for (std::uint64_t k = 0; k < 2; ++k) {
    for (std::uint64_t x = 0; x < 4; ++x) {
      EXPECT_EQ(linked.CanServe(k, x), own.checker.CanServe(k, x)) << k << " " << x;
      EXPECT_EQ(linked.IsForbidden(k, x), own.checker.IsForbidden(k, x)) << k << " " << x;
      for (std::uint64_t y = 0; y < 4; ++y) {
        EXPECT_EQ(linked.Travel(x, y, k), own.checker.Travel(x, y, k)) << k << " " << x << y;
      }
    }
  }
  for (const double cost : {0.5, 2.0, 3.5, 8.0}) {
    const SearchState s = MakeState(4, {0, 0}, {cost, 0.0}, {0});
    for (std::uint64_t j = 1; j < 4; ++j) {
      const MoveCheck a = linked.OnMove(s, 0, j);
      const MoveCheck b = own.checker.OnMove(s, 0, j);
      EXPECT_EQ(a.accepted, b.accepted) << cost << " " << j;
      EXPECT_EQ(a.has_value, b.has_value) << cost << " " << j;
      EXPECT_EQ(a.value, b.value) << cost << " " << j;
    }
  }
}

}  // namespace
}  // namespace plenro
