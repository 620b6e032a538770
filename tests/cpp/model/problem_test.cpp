#include "plenro/model/problem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace plenro {
namespace {

using Numbers = std::vector<std::uint64_t>;

Agent MakeAgent(std::uint64_t id, const std::string& type) {
  Agent agent;
  agent.id = id;
  agent.type = type;
  return agent;
}

TEST(ProblemTest, Defaults) {
  const Node node;
  EXPECT_EQ(node.id, 0u);
  EXPECT_EQ(node.type, TARGET);
  EXPECT_EQ(node.position.x, 0.0);
  EXPECT_EQ(node.position.y, 0.0);
  EXPECT_EQ(node.position.z, 0.0);
  EXPECT_EQ(node.demand, 0.0);
  const Options options;
  EXPECT_TRUE(options.return_to_end);
  EXPECT_EQ(options.objective, MinSum);
  EXPECT_EQ(options.time_limit, 60.0);
  EXPECT_EQ(static_cast<int>(MinMax), 0);
  EXPECT_EQ(static_cast<int>(DEPOT), 0);
  const Problem problem;
  EXPECT_TRUE(problem.nodes().empty());
  EXPECT_TRUE(problem.agents_ordered().empty());
  EXPECT_TRUE(problem.type_index.empty());
}

TEST(ProblemTest, TypeNumbersFollowFirstAppearance) {
  Problem problem;
  problem.add_agent(MakeAgent(1, "A"), 1);
  problem.add_agent(MakeAgent(2, "B"), 2);
  problem.add_agent(MakeAgent(3, "A"), 3);
  EXPECT_EQ(problem.type_index.size(), 2u);
  EXPECT_EQ(problem.type_index.at("A"), 0u);
  EXPECT_EQ(problem.type_index.at("B"), 1u);
  EXPECT_EQ(problem.agent_type_index.at(1), 0u);
  EXPECT_EQ(problem.agent_type_index.at(2), 1u);
  EXPECT_EQ(problem.agent_type_index.at(3), 0u);
  ASSERT_EQ(problem.agents_ordered().size(), 3u);
  EXPECT_EQ(problem.agents_ordered()[2].id, 3u);
}

TEST(ProblemTest, SameIdTwiceKeepsBothAgentsAndTheLaterType) {
  Problem problem;
  problem.add_agent(MakeAgent(4, "A"), 4);
  problem.add_agent(MakeAgent(4, "B"), 4);
  ASSERT_EQ(problem.agents_ordered().size(), 2u);
  EXPECT_EQ(problem.agents_ordered()[0].type, "A");
  EXPECT_EQ(problem.agents_ordered()[1].type, "B");
  EXPECT_EQ(problem.agent_type_index.size(), 1u);
  EXPECT_EQ(problem.agent_type_index.at(4), 1u);
}

TEST(ProblemTest, TypeIsFiledUnderTheIdArgument) {
  Problem problem;
  problem.add_agent(MakeAgent(10, "A"), 99);
  EXPECT_EQ(problem.agent_type_index.count(10), 0u);
  EXPECT_EQ(problem.agent_type_index.at(99), 0u);
  EXPECT_EQ(problem.agents_ordered()[0].id, 10u);
}

TEST(ProblemTest, ReferencesStayValidWhenMoreAreAppended) {
  Problem problem;
  problem.add_node(Node{});
  problem.add_agent(MakeAgent(0, "A"), 0);
  Node& first_node = problem.nodes().front();
  Agent& first_agent = problem.agents_ordered().front();
  for (std::uint64_t i = 1; i < 1000; ++i) {
    Node node;
    node.id = i;
    problem.add_node(node);
    problem.add_agent(MakeAgent(i, "A"), i);
  }
  first_node.demand = 4.0;
  first_agent.time_limit = 7.0;
  EXPECT_EQ(problem.nodes()[0].demand, 4.0);
  EXPECT_EQ(problem.agents_ordered()[0].time_limit, 7.0);
  EXPECT_EQ(problem.nodes()[999].id, 999u);
}

TEST(ProblemTest, SettersReplaceEarlierEntries) {
  Problem problem;
  problem.set_cost_matrix("nobody", {{0.0, 1.0}});
  problem.set_cost_matrix("nobody", {{2.0}});
  EXPECT_EQ(problem.cost_matrices.at("nobody"), (CostMatrix{{2.0}}));

  TimeWindowConstraint windows;
  windows.set_timewindow(5, 1.0, 2.0);
  windows.set_timewindow(5, 4.0, 3.0);
  EXPECT_EQ(windows.windows.size(), 1u);
  EXPECT_EQ(windows.windows.at(5), (std::pair{4.0, 3.0}));
  problem.set_timewindow_constraint(windows);
  EXPECT_EQ(problem.timewindow_constraint.windows.at(5), (std::pair{4.0, 3.0}));

  AssignmentConstraint assignment;
  assignment.set_assignment(1, {"A"});
  assignment.set_assignment(1, {"B", "C"});
  problem.set_assignment_constraint(assignment);
  EXPECT_EQ(problem.assignment_constraint.allowed_types.at(1),
            (std::vector<std::string>{"B", "C"}));
  problem.set_assignment_constraint(problem.assignment_constraint);
  EXPECT_EQ(problem.assignment_constraint.allowed_types.size(), 1u);
}

class AllowedTypeIndicesTest : public testing::Test {
 protected:
  void SetUp() override {
    problem_.add_agent(MakeAgent(1, "A"), 1);
    problem_.add_agent(MakeAgent(2, "B"), 2);
    problem_.add_agent(MakeAgent(3, "C"), 3);
  }

  // Result of allowed_type_indices(node) and what it wrote on standard error.
  std::pair<Numbers, std::string> Call(std::uint64_t node) const {
    testing::internal::CaptureStderr();
    Numbers numbers = problem_.allowed_type_indices(node);
    return {numbers, testing::internal::GetCapturedStderr()};
  }

  Problem problem_;
};

TEST_F(AllowedTypeIndicesTest, ListedNamesAreSortedDeduplicatedAndUnknownSkipped) {
  problem_.assignment_constraint.set_assignment(7, {"B", "unknown", "A", "B"});
  EXPECT_EQ(Call(7), (std::pair{Numbers{0, 1}, std::string()}));
}

TEST_F(AllowedTypeIndicesTest, EmptyOrUnknownListGivesNothingQuietly) {
  problem_.assignment_constraint.set_assignment(7, {});
  problem_.assignment_constraint.set_assignment(8, {"a", "D"});
  EXPECT_EQ(Call(7), (std::pair{Numbers{}, std::string()}));
  EXPECT_EQ(Call(8), (std::pair{Numbers{}, std::string()}));
}

TEST_F(AllowedTypeIndicesTest, NodeWithoutEntryGetsAllTypesAndOneWarningPerCall) {
  problem_.assignment_constraint.set_assignment(7, {"A"});
  const std::string warning =
      "[warning] node 18446744073709551615 has no assignment constraint; allowing all types\n";
  EXPECT_EQ(Call(18446744073709551615u), (std::pair{Numbers{0, 1, 2}, warning}));
  EXPECT_EQ(Call(18446744073709551615u), (std::pair{Numbers{0, 1, 2}, warning}));
  EXPECT_EQ(Call(0).second, "[warning] node 0 has no assignment constraint; allowing all types\n");
}

TEST(ProblemTest, NodeWithoutEntryAndNoAgentsWarnsAndGivesNothing) {
  const Problem problem;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(problem.allowed_type_indices(3).empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "[warning] node 3 has no assignment constraint; allowing all types\n");
}

}  // namespace
}  // namespace plenro
