#include "plenro/improve/routing_instance.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "improve_test_support.h"

namespace plenro {
namespace {

using improve_testing::MakeView;

// An instance the engine cannot plan on is refused with a message that names what is missing.
struct Refusal {
  const char* name;
  std::function<InstanceView(const InstanceView&)> spoil;
  const char* message;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
  *os << refusal.name;
}

class RoutingInstanceRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(RoutingInstanceRefusal, NamesWhatIsMissing) {
  // Two agents (points 0 and 1 their depots) and three points to serve.
  const InstanceView made = MakeView({.customers = 3, .agents = 2}, 7);
  const InstanceView view = GetParam().spoil(made);
  try {
    const RoutingInstance instance(view);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RoutingInstanceRefusal,
    ::testing::Values(
        Refusal{"no_costs",
                [](const InstanceView& made) {
                  InstanceView view;
                  view.SetPoints(made.points());
                  view.SetAgents(made.agents());
                  view.SetStarts(made.starts());
                  view.SetGoals(made.goals());
                  return view;
                },
                "the improvement engine needs the instance's costs"},
        Refusal{"no_end_points",
                [](const InstanceView& made) {
                  InstanceView view = made;
                  view.SetGoals({});
                  return view;
                },
                "the improvement engine needs one start and one end point per agent; got 2 "
                "start points and 0 end points for 2 agents"},
        Refusal{"unknown_type",
                [](const InstanceView& made) {
                  InstanceView view = made;
                  std::vector<AgentInfo> agents = made.agents();
                  agents[1].type = -1;
                  view.SetAgents(agents);
                  return view;
                },
                "agent 1 has type -1, start point 1 and end point 1; the instance has 1 agent "
                "types and 5 points"},
        Refusal{"start_outside",
                [](const InstanceView& made) {
                  InstanceView view = made;
                  view.SetStarts({0, 9});
                  return view;
                },
                "agent 1 has type 0, start point 9 and end point 1; the instance has 1 agent "
                "types and 5 points"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plenro
