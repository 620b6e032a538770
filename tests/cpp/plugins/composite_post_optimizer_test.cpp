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
using post_opt_testing::Bound;
using post_opt_testing::GraphBuilder;
using post_opt_testing::MakeResult;
using post_opt_testing::MakeView;
using Log = std::vector<std::string>;

// Writes every call into a shared log; Optimize appends the member's number to route 0.
class LoggingOptimizer : public PostOptimizerPlugin {
 public:
  LoggingOptimizer(std::int64_t number, Log* log) : number_(number), log_(log) {}
  ~LoggingOptimizer() override { Note("destroyed"); }

  std::string Name() const override { return "LoggingOptimizer"; }
  void Bind(const InstanceView& view) override {
    view_ = &view;
    Note(std::string(view.return_to_end() ? "return" : "no return") + ", starts " +
         std::to_string(view.starts().size()) + ", goals " + std::to_string(view.goals().size()) +
         ", windows " + std::to_string(view.windows().size()));
  }
  void Optimize(Result& result) override {
    Note("Optimize saw " + std::to_string(result.paths[0].size()) + " with " +
         std::to_string(view_->costs().NumVertex()) + "/" + std::to_string(view_->num_points()) +
         "/" + std::to_string(view_->num_agents()));
    result.paths[0].push_back(number_);
  }

 private:
  void Note(const std::string& what) { log_->push_back(std::to_string(number_) + " " + what); }

  std::int64_t number_;
  Log* log_;
  const InstanceView* view_ = nullptr;
};

TEST(CompositePostOptimizerTest, WithoutMembersDoesNothing) {
  CompositePostOptimizer composite;
  EXPECT_EQ(composite.Name(), "CompositePostOptimizer");
  EXPECT_EQ(composite.NumOptimizers(), 0u);
  const auto graph = GraphBuilder(3, 1, 1.0).Build();
  const InstanceView view = MakeView(graph.get(), post_opt_testing::OpenPoints(3), Agents({0}), {0},
                                     {1}, {{0, {1.0, 2.0}}}, false);
  composite.Bind(view);
  Result result = MakeResult({{0, 2, 1}}, {7.0});
  result.n_expanded = 4;
  const Result before = result;
  composite.Optimize(result);
  EXPECT_EQ(result.paths, before.paths);
  EXPECT_EQ(result.times, before.times);
  EXPECT_EQ(result.n_expanded, 4);
}

TEST(CompositePostOptimizerTest, BindsAndRunsEveryMemberInOrder) {
  Log log;
  {
    CompositePostOptimizer composite;
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(1, &log));
    composite.AddOptimizer(nullptr);
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(2, &log));
    composite.AddOptimizer(std::make_unique<LoggingOptimizer>(3, &log));
    EXPECT_EQ(composite.NumOptimizers(), 3u);

    const auto graph = GraphBuilder(4, 1, 1.0).Build();
    const InstanceView view = MakeView(graph.get(), post_opt_testing::OpenPoints(5), Agents({0, 0}),
                                       {0, 1}, {2, 3, 4}, {{5, {0.0, 1.0}}}, true);
    composite.Bind(view);
    Result result;
    composite.Optimize(result);
    // Each member starts from what the one before it left.
    EXPECT_EQ(result.paths.at(0), (Route{1, 2, 3}));
  }
  const Log expected = {"1 return, starts 2, goals 3, windows 1",
                        "2 return, starts 2, goals 3, windows 1",
                        "3 return, starts 2, goals 3, windows 1",
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
  const Result input = MakeResult({{0, 2, 3, 0}, {1, 4, 1}});

  Bound<CompositePostOptimizer> composite({0, 1}, {0, 1});
  composite.AddOptimizer(std::make_unique<DefaultPostOptimizer>());
  composite.AddOptimizer(std::make_unique<RouteMergingPostOptimizer>());
  Result combined = input;
  composite.Optimize(graph.get(), points, agents, combined);

  Bound<DefaultPostOptimizer> first({0, 1}, {0, 1});
  Bound<RouteMergingPostOptimizer> second({0, 1}, {0, 1});
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
