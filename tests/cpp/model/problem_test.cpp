#include "plenro/model/problem.h"

#include <gtest/gtest.h>

namespace plenro {
namespace {

TEST(ProblemTest, TypeNumbersFollowFirstAppearance) {
  Problem problem;
  Agent a;
  a.type = "A";
  Agent b;
  b.type = "B";
  problem.add_agent(a, 1);
  problem.add_agent(b, 2);
  problem.add_agent(a, 3);
  EXPECT_EQ(problem.type_index.size(), 2u);
  EXPECT_EQ(problem.agent_type_index.at(1), 0u);
  EXPECT_EQ(problem.agent_type_index.at(2), 1u);
  EXPECT_EQ(problem.agent_type_index.at(3), 0u);
  EXPECT_EQ(problem.agents_ordered().size(), 3u);
}

}  // namespace
}  // namespace plenro
