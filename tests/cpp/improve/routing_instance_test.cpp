#include "plenro/improve/routing_instance.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "improve_test_support.h"
#include "plenro/graph/cost_table.h"
#include "plenro/graph/no_connection.h"

namespace plenro {
namespace {

using improve_testing::Families;
using improve_testing::InstanceShape;
using improve_testing::MakeView;

// The engine reads legs into points to serve straight from the table; every leg must still be
// the view's: free endings of open routes, staying put, missing connections, every type.
class RoutingInstanceLegs : public ::testing::TestWithParam<InstanceShape> {};

void ExpectViewLegs(const InstanceView& view) {
  const RoutingInstance instance(view);
  for (std::int32_t a = 0; a < instance.num_agents(); ++a) {
    for (std::int32_t u = 0; u < instance.num_vertices(); ++u) {
      for (std::int32_t v = 0; v < instance.num_vertices(); ++v) {
        const double expected =
            view.Leg(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v),
                     static_cast<std::uint64_t>(a));
        ASSERT_EQ(instance.Leg(u, v, a), expected) << "agent " << a << " leg " << u << " -> " << v;
      }
    }
  }
}

TEST_P(RoutingInstanceLegs, AreTheViewsLegs) {
  for (std::uint64_t seed = 1; seed <= 2; ++seed) {
    ExpectViewLegs(MakeView(GetParam(), seed));
  }
}

INSTANTIATE_TEST_SUITE_P(Families, RoutingInstanceLegs, ::testing::ValuesIn(Families()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RoutingInstanceLegs, AreTheViewsLegsWhereTheTableLacksArcs) {
  // Two types, the table written for one (type 1 beyond it), and an arc into a point to serve
  // never written: neither may be read from the table directly.
  const InstanceView made = MakeView({.customers = 4, .agents = 2, .types = 2}, 3);
  for (const std::uint64_t kinds : {1, 2}) {
    CostTable table(made.num_points(), kinds);
    for (std::uint64_t u = 0; u < made.num_points(); ++u) {
      for (std::uint64_t v = 0; v < made.num_points(); ++v) {
        if (u != v && !(u == 2 && v == 4)) {
          for (std::uint64_t t = 0; t < kinds; ++t) {
            table.Set(u, v, t, made.Cost(u, v, t));
          }
        }
      }
    }
    InstanceView view = made;
    view.SetCosts(std::move(table));
    ExpectViewLegs(view);
    EXPECT_TRUE(IsNoConnection(RoutingInstance(view).Leg(2, 4, 0)));
  }
}

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
