#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "plenro/plugins/composite_constraint_checker.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/time_limit_constraint_checker.h"
#include "plenro/plugins/time_window_constraint_checker.h"
#include "plugins/plugin_test_support.h"
#include "plugins/recording_checker.h"

namespace plenro {
namespace {

using checker_testing::MakeAgents;
using checker_testing::MakeGraph;
using checker_testing::MakePoints;
using checker_testing::MakeState;
using checker_testing::MakeView;
using checker_testing::RecordingChecker;

bool IsNeutral(const MoveCheck& check) {
  return check.accepted && !check.has_value && check.value == 0.0;
}

std::vector<std::vector<double>> FlatMatrix(std::size_t n, double cost) {
  return std::vector<std::vector<double>>(n, std::vector<double>(n, cost));
}

// A view of the graph, the points and the agents alone: no start or end points, no windows.
InstanceView TablesView(const PlannerGraph* graph, const std::vector<Point>& points,
                        const std::vector<AgentInfo>& agents) {
  return MakeView(graph, points, agents, {}, {});
}

// The four checkers, bound to one view; the composite holds one of each other kind.
std::vector<std::unique_ptr<ConstraintCheckerPlugin>> AllCheckers(const InstanceView& view) {
  std::vector<std::unique_ptr<ConstraintCheckerPlugin>> checkers;
  checkers.push_back(std::make_unique<DefaultConstraintChecker>());
  checkers.push_back(std::make_unique<TimeLimitConstraintChecker>());
  checkers.push_back(std::make_unique<TimeWindowConstraintChecker>());
  auto composite = std::make_unique<CompositeConstraintChecker>();
  composite->AddChecker(std::make_unique<DefaultConstraintChecker>());
  composite->AddChecker(std::make_unique<TimeWindowConstraintChecker>());
  composite->AddChecker(std::make_unique<TimeLimitConstraintChecker>());
  checkers.push_back(std::move(composite));
  for (auto& checker : checkers) {
    checker->Bind(view);
  }
  return checkers;
}

TEST(AssignmentRuleTest, EveryCheckerForbidsByType) {
  // Point types: [0], [0, 1], [1], [] (nobody), [2].
  const auto points = MakePoints({{0}, {0, 1}, {1}, {}, {2}});
  const auto agents = MakeAgents({0, 1, 2});
  const auto graph = MakeGraph({FlatMatrix(points.size(), 1.0)});
  // forbidden[point][agent]
  const std::vector<std::vector<bool>> forbidden = {{false, true, true},
                                                    {false, false, true},
                                                    {true, false, true},
                                                    {true, true, true},
                                                    {true, true, false}};
  const InstanceView view = TablesView(graph.get(), points, agents);
  for (const auto& checker : AllCheckers(view)) {
    for (std::uint64_t j = 0; j < points.size(); ++j) {
      for (std::uint64_t k = 0; k < agents.size(); ++k) {
        EXPECT_EQ(checker->IsForbidden(k, j), forbidden[j][k])
            << checker->Name() << " agent " << k << " point " << j;
      }
    }
  }
}

struct DeadEndCase {
  const char* what;
  std::vector<char> finished;
  std::vector<std::uint64_t> visited;
  bool rejected;
};

TEST(DeadEndRuleTest, OpenType0OnlyPointWithoutType0Agent) {
  // Points 0 and 3 may be served by type 0 only.
  const auto points = MakePoints({{0}, {0, 1}, {1}, {0}});
  const auto agents = MakeAgents({0, 0, 1});
  const auto graph = MakeGraph({FlatMatrix(points.size(), 1.0)});
  const std::vector<DeadEndCase> cases = {
      {"type-0 agents unfinished", {0, 0, 0}, {}, false},
      {"one type-0 agent unfinished", {1, 0, 1}, {}, false},
      {"both type-0 agents finished, 0 and 3 open", {1, 1, 0}, {}, true},
      {"only 3 open", {1, 1, 0}, {0}, true},
      {"type-0-only points visited, shared and type-1 open", {1, 1, 0}, {0, 3}, false},
      {"everybody finished, type-0-only points visited", {1, 1, 1}, {0, 3}, false},
  };
  const InstanceView view = TablesView(graph.get(), points, agents);
  for (const auto& checker : AllCheckers(view)) {
    for (const DeadEndCase& c : cases) {
      SearchState s = MakeState(4, {0, 0, 0}, {0, 0, 0}, {}, c.finished);
      for (const std::uint64_t v : c.visited) {
        s.visited.Set(v);
      }
      EXPECT_EQ(checker->IsRejectedOnFinish(s), c.rejected) << checker->Name() << ": " << c.what;
    }
  }
}

TEST(DeadEndRuleTest, ExaminesOnlyTheGraphsVertices) {
  const auto points = MakePoints({{0, 1}, {0, 1}, {0, 1}, {0}});
  const auto agents = MakeAgents({0});
  const auto graph = MakeGraph({FlatMatrix(3, 1.0)});  // point 3 is not a vertex
  DefaultConstraintChecker checker;
  const InstanceView short_view = TablesView(graph.get(), points, agents);
  checker.Bind(short_view);
  EXPECT_FALSE(checker.IsRejectedOnFinish(MakeState(4, {0}, {0}, {}, {1})));
  const auto full = MakeGraph({FlatMatrix(4, 1.0)});
  const InstanceView full_view = TablesView(full.get(), points, agents);
  checker.Bind(full_view);
  EXPECT_TRUE(checker.IsRejectedOnFinish(MakeState(4, {0}, {0}, {}, {1})));
}

TEST(DefaultConstraintCheckerTest, NeutralMoveAlwaysFeasibleGoalsKept) {
  const auto points = MakePoints({{0}, {0}});
  const auto graph = MakeGraph({FlatMatrix(2, 1.0)});
  DefaultConstraintChecker checker;
  const InstanceView view = MakeView(graph.get(), points, MakeAgents({0}), {}, {1});
  checker.Bind(view);
  const SearchState s = MakeState(2, {0}, {1e9}, {1});
  EXPECT_TRUE(IsNeutral(checker.OnMove(s, 0, 1)));
  EXPECT_TRUE(checker.IsFeasible(s, 0));
  EXPECT_EQ(checker.Goals(), (std::vector<std::uint64_t>{1}));
  EXPECT_EQ(checker.NumAgents(), 1u);

  TimeLimitConstraintChecker limited;
  const InstanceView limited_view = MakeView(graph.get(), points, MakeAgents({0}, {5.0}), {}, {0});
  limited.Bind(limited_view);
  EXPECT_EQ(limited.Goals(), (std::vector<std::uint64_t>{0}));
  EXPECT_TRUE(IsNeutral(limited.OnMove(s, 0, 1)));
}

struct LengthCase {
  std::uint64_t agent;
  double cost;
  bool feasible;
};

TEST(LengthRuleTest, LimitIsInclusiveAndNonPositiveMeansNone) {
  const auto points = MakePoints({{0}, {0}});
  const auto graph = MakeGraph({FlatMatrix(2, 1.0)});
  TimeLimitConstraintChecker checker;
  const InstanceView view =
      TablesView(graph.get(), points, MakeAgents({0, 0, 0}, {10.0, 0.0, -5.0}));
  checker.Bind(view);
  const std::vector<LengthCase> cases = {
      {0, 10.0, true},  {0, 9.5, true},  {0, 10.000001, false},
      {0, 11.0, false}, {1, 1e12, true}, {2, 1e12, true},
  };
  for (const LengthCase& c : cases) {
    std::vector<double> costs(3, 0.0);
    costs[c.agent] = c.cost;
    EXPECT_EQ(checker.IsFeasible(MakeState(2, {0, 0, 0}, costs, {}), c.agent), c.feasible)
        << "agent " << c.agent << " cost " << c.cost;
  }
}

TEST(CompositeConstraintCheckerTest, EmptyCompositeIsNeutral) {
  CompositeConstraintChecker composite;
  const InstanceView empty;
  composite.Bind(empty);
  const SearchState s = MakeState(2, {0}, {3.0}, {});
  EXPECT_FALSE(composite.IsForbidden(0, 1));
  EXPECT_TRUE(IsNeutral(composite.OnMove(s, 0, 1)));
  EXPECT_TRUE(composite.IsFeasible(s, 0));
  EXPECT_FALSE(composite.IsRejectedOnFinish(s));
  EXPECT_TRUE(composite.Members().empty());
}

TEST(CompositeConstraintCheckerTest, DestroysMembersFirstToLast) {
  RecordingChecker::Log log;
  {
    CompositeConstraintChecker composite;
    for (int tag = 0; tag < 4; ++tag) {
      composite.AddChecker(std::make_unique<RecordingChecker>(tag, &log));
    }
    composite.AddChecker(nullptr);
    EXPECT_EQ(composite.Members().size(), 4u);
    EXPECT_TRUE(log.destroyed.empty());
  }
  EXPECT_EQ(log.destroyed, (std::vector<int>{0, 1, 2, 3}));
}

// Two recording members; returns raw pointers to inspect them after handing them over.
struct Pair {
  CompositeConstraintChecker composite;
  RecordingChecker* first;
  RecordingChecker* second;
  Pair() {
    auto a = std::make_unique<RecordingChecker>(0, nullptr);
    auto b = std::make_unique<RecordingChecker>(1, nullptr);
    first = a.get();
    second = b.get();
    composite.AddChecker(std::move(a));
    composite.AddChecker(std::move(b));
  }
};

TEST(CompositeConstraintCheckerTest, BindsEveryMemberInOrder) {
  Pair pair;
  const InstanceView view = TablesView(nullptr, MakePoints({{0}, {0}, {0}}), MakeAgents({0}));
  pair.composite.Bind(view);
  EXPECT_EQ(pair.first->bind_calls, 1);
  EXPECT_EQ(pair.second->bind_calls, 1);
  EXPECT_EQ(pair.second->bound_points, 3u);
  EXPECT_EQ(pair.composite.Members()[0].get(), pair.first);
  EXPECT_EQ(pair.composite.Members()[1].get(), pair.second);
}

TEST(CompositeConstraintCheckerTest, FirstDecisiveMemberShortCircuits) {
  const SearchState s = MakeState(2, {0}, {3.0}, {});
  {
    Pair pair;
    pair.first->forbid = true;
    EXPECT_TRUE(pair.composite.IsForbidden(0, 1));
    EXPECT_EQ(pair.second->calls, 0);
  }
  {
    Pair pair;
    pair.second->forbid = true;
    EXPECT_TRUE(pair.composite.IsForbidden(0, 1));
    EXPECT_EQ(pair.first->calls, 1);
  }
  {
    Pair pair;
    pair.first->feasible = false;
    EXPECT_FALSE(pair.composite.IsFeasible(s, 0));
    EXPECT_EQ(pair.second->calls, 0);
  }
  {
    Pair pair;
    pair.first->reject_on_finish = true;
    EXPECT_TRUE(pair.composite.IsRejectedOnFinish(s));
    EXPECT_EQ(pair.second->calls, 0);
  }
  {
    // A rejection comes back as the member gave it; later members are not asked.
    Pair pair;
    pair.first->reply = MoveCheck{false, 2.5, true};
    const MoveCheck r = pair.composite.OnMove(s, 0, 1);
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.value, 2.5);
    EXPECT_TRUE(r.has_value);
    EXPECT_EQ(pair.second->calls, 0);
  }
}

TEST(CompositeConstraintCheckerTest, LaterMembersSeeAdjustedCost) {
  const SearchState s = MakeState(2, {0, 0}, {3.0, 7.0}, {});
  {
    Pair pair;
    pair.first->add = 1.0;
    pair.second->add = 1.0;
    const MoveCheck r = pair.composite.OnMove(s, 1, 1);
    EXPECT_TRUE(r.accepted);
    EXPECT_TRUE(r.has_value);
    EXPECT_EQ(r.value, 9.0);
    EXPECT_EQ(pair.first->seen_costs, (std::vector<double>{7.0}));
    EXPECT_EQ(pair.second->seen_costs, (std::vector<double>{8.0}));
    EXPECT_EQ(s.costs, (std::vector<double>{3.0, 7.0}));  // caller's state untouched
    // The next call starts again from the caller's cost, also for a larger state.
    const SearchState t = MakeState(2, {0, 0, 0}, {1.0, 2.0, 4.0}, {});
    EXPECT_EQ(pair.composite.OnMove(t, 2, 1).value, 6.0);
    EXPECT_EQ(pair.second->seen_costs.back(), 5.0);
  }
  {
    // A value equal to the old cost still counts as set.
    Pair pair;
    pair.first->reply = MoveCheck{true, 3.0, true};
    const MoveCheck r = pair.composite.OnMove(s, 0, 1);
    EXPECT_TRUE(r.has_value);
    EXPECT_EQ(r.value, 3.0);
  }
  {
    Pair pair;
    EXPECT_TRUE(IsNeutral(pair.composite.OnMove(s, 0, 1)));
  }
}

// Default, TimeWindow and TimeLimit, as the solver builds them: the length limit applies to the
// cost after waiting, because the search stores the composite's value before IsFeasible.
TEST(CompositeConstraintCheckerTest, TimeLimitSeesCostAfterWaiting) {
  const auto points = MakePoints({{0}, {0}});
  const auto graph = MakeGraph({FlatMatrix(2, 3.0)});
  CompositeConstraintChecker composite;
  composite.AddChecker(std::make_unique<DefaultConstraintChecker>());
  composite.AddChecker(std::make_unique<TimeWindowConstraintChecker>());
  composite.AddChecker(std::make_unique<TimeLimitConstraintChecker>());
  auto recorder = std::make_unique<RecordingChecker>(9, nullptr);
  const RecordingChecker* seen = recorder.get();
  composite.AddChecker(std::move(recorder));
  const InstanceView view =
      MakeView(graph.get(), points, MakeAgents({0}, {6.0}), {0}, {0}, {{1, {8.0, 20.0}}}, true);
  composite.Bind(view);
  // Agent 0 went 0 -> 1 (leg 3) and must wait until 8.
  SearchState child = MakeState(2, {0}, {3.0}, {1});
  const MoveCheck r = composite.OnMove(child, 0, 1);
  EXPECT_TRUE(r.accepted);
  EXPECT_TRUE(r.has_value);
  EXPECT_EQ(r.value, 8.0);
  EXPECT_EQ(seen->seen_costs, (std::vector<double>{8.0}));
  EXPECT_EQ(child.costs[0], 3.0);
  EXPECT_TRUE(composite.IsFeasible(child, 0));  // 3 is within the limit of 6
  child.costs[0] = r.value;                     // what the search does
  EXPECT_FALSE(composite.IsFeasible(child, 0));
}

}  // namespace
}  // namespace plenro
