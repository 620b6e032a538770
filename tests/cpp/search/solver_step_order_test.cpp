#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::InstanceBuilder;
using testing_support::MakeOptions;

// Records every step of the search that goes through the virtual table, with the fields of
// the state it was handed, so that the order of the steps can be compared with a hand trace.
class TracingSolver : public Solver {
 public:
  using Solver::Solver;

  std::int64_t NewStateId() override {
    const std::int64_t id = Solver::NewStateId();
    Log("new " + std::to_string(id));
    return id;
  }
  bool IsDominated(const SearchState& state) override {
    std::ostringstream line;
    line << "dominated? at " << state.positions.at(0) << " g " << state.g << " f " << state.f;
    Log(line.str());
    return Solver::IsDominated(state);
  }
  void AddToFrontier(const SearchState& state) override {
    Log("frontier at " + std::to_string(state.positions.at(0)));
    Solver::AddToFrontier(state);
  }
  bool IsGoal(const SearchState& state) const override {
    const bool goal = Solver::IsGoal(state);
    Log(goal ? "goal" : "not goal");
    return goal;
  }
  void UpdateFocalBound(double old_bound, double new_bound) override {
    std::ostringstream line;
    line << "bound " << old_bound << " -> " << new_bound;
    Log(line.str());
    Solver::UpdateFocalBound(old_bound, new_bound);
  }
  void ExtractSolution(std::int64_t goal_id) override {
    Log("extract " + std::to_string(goal_id));
    Solver::ExtractSolution(goal_id);
  }
  void ComputeStatistics() override {
    Log("statistics");
    Solver::ComputeStatistics();
  }
  void ApplyIncumbent(double cost) override {
    std::ostringstream line;
    line << "incumbent " << cost;
    Log(line.str());
    Solver::ApplyIncumbent(cost);
  }

  mutable std::vector<std::string> trace;

 private:
  void Log(const std::string& line) const { trace.push_back(line); }
};

// One agent based at point 0 and one point at distance 1: the search pops the root, moves to
// 1, pops that state, returns to 0 and pops the goal. The trace shows that a child is tested
// for dominance while it still carries its parent's g and f, that the focal bound is refreshed
// after an expansion (and not while the open set is empty), and that a goal is filed in its
// frontier before it is recognised, with the statistics written before the incumbent prunes.
TEST(SolverStepOrderTest, StepsOfASmallSearchFollowTheHandTrace) {
  const Problem problem = InstanceBuilder()
                              .AddNode(0, 0, 0)
                              .AddNode(1, 1, 0)
                              .AddAgent(0, "v", 0, 0)
                              .SetEuclideanCosts("v")
                              .Build();
  TracingSolver solver(problem, MakeOptions(MinSum));
  ASSERT_TRUE(solver.Search());

  const std::vector<std::string> expected = {
      "new 0",
      // Pop the root (f = g + h = 0 + 1).
      "dominated? at 0 g 0 f 1", "frontier at 0", "not goal",
      // Move to 1 (the return to 0 would leave 1 unvisited); the child still has the root's g, f.
      "dominated? at 1 g 0 f 1", "new 1", "bound 100 -> 200",
      // Pop state 1 (g 1, f 2) and move back to 0; the bound stays at 100 x 2.
      "dominated? at 1 g 1 f 2", "frontier at 1", "not goal", "dominated? at 0 g 1 f 2", "new 2",
      // Pop the goal.
      "dominated? at 0 g 2 f 2", "frontier at 0", "goal", "extract 2", "statistics", "incumbent 2"};
  EXPECT_EQ(solver.trace, expected);

  const Result result = solver.GetResult();
  EXPECT_EQ(result.n_generated, 3);
  EXPECT_EQ(result.n_expanded, 2);
  EXPECT_EQ(result.paths.at(0), (std::vector<std::int64_t>{0, 1, 0}));
  EXPECT_EQ(result.times.at(0), 2.0);
  EXPECT_EQ(solver.weights(), (std::vector<double>{100.0}));
}

}  // namespace
}  // namespace plenro
