#include "plenro/improve/cost_evaluator.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/instance/instance_view.h"

namespace plenro {
namespace {

// One agent (type 0, route limit 11) from and back to point 0; point 2 closes at 5. Legs:
// 0 -> 1 costs 4, 1 -> 2 costs 4, 2 -> 0 costs 8, all others 1.
InstanceView LateAndLongView() {
  std::vector<Point> points(3);
  for (std::size_t v = 0; v < points.size(); ++v) {
    points[v].id = 10 + v;
    points[v].types = {0};
  }
  AgentInfo agent;
  agent.type = 0;
  agent.max_length = 11.0;
  CostTable table(3, 1);
  for (std::uint64_t u = 0; u < 3; ++u) {
    for (std::uint64_t v = 0; v < 3; ++v) {
      if (u != v) {
        table.Set(u, v, 0, 1.0);
      }
    }
  }
  table.Set(0, 1, 0, 4.0);
  table.Set(1, 2, 0, 4.0);
  table.Set(2, 0, 0, 8.0);
  InstanceView view;
  view.SetPoints(points);
  view.SetAgents({agent});
  view.SetStarts({0});
  view.SetGoals({0});
  view.SetTimeWindows({{2, {0.0, 5.0}}});
  view.SetCosts(std::move(table));
  return view;
}

struct PriceCase {
  PenaltyWeights weights;
  double penalty;
};

// The route 0, 1, 2, 0 reaches 2 at 8, three after it closes, warps back to 5 and ends at 13,
// two over its limit of 11: each kind of violation is priced at its own weight.
TEST(CostEvaluatorTest, EachKindOfViolationAtItsOwnWeight) {
  const InstanceView view = LateAndLongView();
  const RoutingInstance instance(view);
  CostEvaluator evaluator(instance, MinMax);
  const RouteSummary body = instance.Join(instance.Join(instance.Single(0), instance.Single(1), 0),
                                          instance.Single(2), 0);
  for (const PriceCase& c : std::vector<PriceCase>{
           {{3.0, 5.0}, 19.0}, {{1.0, 0.0}, 3.0}, {{0.0, 1.0}, 2.0}, {UniformWeights(2.0), 10.0}}) {
    evaluator.SetWeights(c.weights);
    const RouteCost cost = evaluator.Close(0, body);
    EXPECT_DOUBLE_EQ(cost.cost, 13.0);
    EXPECT_DOUBLE_EQ(cost.violation[kTimeWarp], 3.0);
    EXPECT_DOUBLE_EQ(cost.violation[kOverLength], 2.0);
    EXPECT_FALSE(cost.Meets(kTimeWarp));
    EXPECT_FALSE(cost.Meets(kOverLength));
    EXPECT_FALSE(cost.feasible());
    EXPECT_DOUBLE_EQ(cost.penalty, c.penalty) << c.weights[0] << ", " << c.weights[1];
  }
  // Without point 2 the route is on time and within its limit (0, 1, 0 ends at 5).
  const RouteCost short_route =
      evaluator.Close(0, instance.Join(instance.Single(0), instance.Single(1), 0));
  EXPECT_TRUE(short_route.feasible());
  EXPECT_DOUBLE_EQ(short_route.penalty, 0.0);
}

}  // namespace
}  // namespace plenro
