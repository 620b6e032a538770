#include "plenro/plugins/composite_post_optimizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "plenro/plugins/default_post_optimizer.h"
#include "plenro/plugins/route_merging_post_optimizer.h"
#include "post_optimizer_test_support.h"

namespace plenro {
namespace {

using post_opt_testing::Agents;
using post_opt_testing::GraphBuilder;
using post_opt_testing::MakeResult;
using Log = std::vector<std::string>;

// Writes every call into a shared log; Optimize appends the member's number to route 0.
class LoggingOptimizer : public PostOptimizerPlugin {
 public:
  LoggingOptimizer(std::int64_t number, Log* log) : number_(number), log_(log) {}
  ~LoggingOptimizer() override { Note("destroyed"); }

  std::string Name() const override { return "LoggingOptimizer"; }
  void Optimize(const PlannerGraph* graph, const std::vector<Point>& points,
                const std::vector<AgentInfo>& agents, Result& result) override {
    Note("Optimize saw " + std::to_string(result.paths[0].size()) + " with " +
         std::to_string(graph->NumVertex()) + "/" + std::to_string(points.size()) + "/" +
         std::to_string(agents.size()));
    result.paths[0].push_back(number_);
  }
  void SetReturnToEnd(bool flag) override { Note(flag ? "return" : "no return"); }
  void SetStarts(const std::vector<std::uint64_t>& starts) override {
    Note("starts " + std::to_string(starts.size()));
  }
  void SetGoals(const std::vector<std::uint64_t>& goals) override {
    Note("goals " + std::to_string(goals.size()));
  }
  void SetTimeWindows(const TimeWindowMap& windows) override {
    Note("windows " + std::to_string(windows.size()));
  }

 private:
  void Note(const std::string& what) { log_->push_back(std::to_string(number_) + " " + what); }

  std::int64_t number_;
  Log* log_;
};

TEST(CompositePostOptimizerTest, WithoutMembersDoesNothing) {
  CompositePostOptimizer composite;
  EXPECT_EQ(composite.Name(), "CompositePostOptimizer");
  EXPECT_EQ(composite.NumOptimizers(), 0u);
  composite.SetReturnToEnd(false);
  composite.SetStarts({0});
  composite.SetGoals({1});
  composite.SetTimeWindows({{0, {1.0, 2.0}}});
  const auto graph = GraphBuilder(3, 1, 1.0).Build();
  Result result = MakeResult({{0, 2, 1}}, {7.0});
  result.n_expanded = 4;
  const Result before = result;
  composite.Optimize(graph.get(), post_opt_testing::OpenPoints(3), Agents({0}), result);
  EXPECT_EQ(result.paths, before.paths);
  EXPECT_EQ(result.times, before.times);
  EXPECT_EQ(result.n_expanded, 4);
}

TEST(CompositePostOptimizerTest, PassesEveryCallToEveryMemberInOrder) {
  Log log;
  {
    CompositePostOptimizer composite;
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(1, &log));
    composite.AddOptimizer(nullptr);
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(2, &log));
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(3, &log));
    EXPECT_EQ(composite.NumOptimizers(), 3u);

    composite.SetReturnToEnd(true);
    composite.SetStarts({0, 1});
    composite.SetGoals({2, 3, 4});
    composite.SetTimeWindows({{5, {0.0, 1.0}}});
    const auto graph = GraphBuilder(4, 1, 1.0).Build();
    Result result;
    composite.Optimize(graph.get(), post_opt_testing::OpenPoints(5), Agents({0, 0}), result);
    // Each member starts from what the one before it left.
    EXPECT_EQ(result.paths.at(0), (Route{1, 2, 3}));
  }
  const Log expected = {"1 return",
                        "2 return",
                        "3 return",
                        "1 starts 2",
                        "2 starts 2",
                        "3 starts 2",
                        "1 goals 3",
                        "2 goals 3",
                        "3 goals 3",
                        "1 windows 1",
                        "2 windows 1",
                        "3 windows 1",
                        "1 Optimize saw 0 with 4/5/2",
                        "2 Optimize saw 1 with 4/5/2",
                        "3 Optimize saw 2 with 4/5/2",
                        "1 destroyed",
                        "2 destroyed",
                        "3 destroyed"};
  EXPECT_EQ(log, expected);
}

TEST(CompositePostOptimizerTest, RunsTheDefaultAndMergingOptimizersLikeInSequence) {
  // Depots 0 and 1 at x = 0, points 2, 3, 4 at x = 1, 3, 2. No single move pays for the default
  // optimiser; the merging one then dissolves agent 1's route into agent 0's.
  const auto graph = GraphBuilder::Line({0, 0, 1, 3, 2}).Build();
  const auto points = post_opt_testing::OpenPoints(5);
  const auto agents = Agents({0, 0});
  const auto configure = [](PostOptimizerPlugin& optimizer) {
    optimizer.SetReturnToEnd(true);
    optimizer.SetStarts({0, 1});
    optimizer.SetGoals({0, 1});
    optimizer.SetTimeWindows({});
  };
  const Result input = MakeResult({{0, 2, 3, 0}, {1, 4, 1}});

  CompositePostOptimizer composite;
  composite.AddOptimizer(std::make_unique<DefaultPostOptimizer>());
  composite.AddOptimizer(std::make_unique<RouteMergingPostOptimizer>());
  configure(composite);
  Result combined = input;
  composite.Optimize(graph.get(), points, agents, combined);

  DefaultPostOptimizer first;
  RouteMergingPostOptimizer second;
  configure(first);
  configure(second);
  Result sequential = input;
  first.Optimize(graph.get(), points, agents, sequential);
  second.Optimize(graph.get(), points, agents, sequential);

  EXPECT_EQ(combined.paths, sequential.paths);
  EXPECT_EQ(combined.times, sequential.times);
  EXPECT_EQ(combined.paths.at(1), (Route{1, 1}));
  EXPECT_DOUBLE_EQ(combined.times.at(0), 6.0);
}

}  // namespace
}  // namespace plenro
