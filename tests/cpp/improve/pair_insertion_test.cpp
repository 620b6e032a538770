// Places for a shipment's two points on one route: what the inserter proposes costs what the
// route rebuilt with both points costs, it is the best of the places it may choose from, and a
// pair that is on one route finds places on another (the pair relocate of the local search).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <ostream>
#include <vector>

#include "improve_test_support.h"
#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/insertion.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/improve/solution.h"

namespace plenro {
namespace {

using improve_testing::InstanceShape;
using improve_testing::MakeView;

constexpr double kTolerance = 1e-6;
constexpr std::int32_t kShipments = 4;

struct PairCase {
  const char* name;
  InstanceShape shape;
};

void PrintTo(const PairCase& c, std::ostream* os) {
  *os << c.name;
}

// A view of the shape whose first customers form kShipments shipments (2k before 2k + 1).
InstanceView ShipmentView(const InstanceShape& shape, std::uint64_t seed) {
  InstanceView view = MakeView(shape, seed);
  view.SetEnforced(true);
  const auto first = view.num_points() - static_cast<std::uint64_t>(shape.customers);
  std::vector<OrderLink> orders;
  for (std::uint64_t k = 0; k < kShipments; ++k) {
    orders.push_back(OrderLink{
        LinkKind::kShipment, first + 2 * k, first + 2 * k + 1, {2.0 + static_cast<double>(k)}});
  }
  view.SetOrders(orders);
  return view;
}

// Every shipment on a random route, pickup first; the other points anywhere.
void PlaceAll(Solution& s, RandomSource& random) {
  const RoutingInstance& in = s.instance();
  std::vector<std::vector<std::int32_t>> visits(static_cast<std::size_t>(s.num_routes()));
  for (const std::int32_t v : in.customers()) {
    const std::int32_t partner = in.Partner(v);
    if (partner >= 0 && !in.PartnerFirst(v)) {
      continue;
    }
    std::vector<std::int32_t> fits;
    for (std::int32_t r = 0; r < s.num_routes(); ++r) {
      const std::int32_t type = s.route(r).type;
      if (in.Serves(type, v) && (partner < 0 || in.Serves(type, partner))) {
        fits.push_back(r);
      }
    }
    if (fits.empty()) {
      continue;
    }
    auto& route = visits[static_cast<std::size_t>(fits[random.Below(fits.size())])];
    route.insert(route.begin() + static_cast<std::ptrdiff_t>(random.Below(route.size() + 1)), v);
    if (partner >= 0) {
      const auto at = std::find(route.begin(), route.end(), v) - route.begin() + 1;
      const auto after = at + static_cast<std::ptrdiff_t>(
                                  random.Below(route.size() - static_cast<std::size_t>(at) + 1));
      route.insert(route.begin() + after, partner);
    }
  }
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    s.SetVisits(r, visits[static_cast<std::size_t>(r)]);
  }
}

// Route r's penalised value with `first` after position i and `second` after position j >= i
// of its visits (both taken off their own route first), the route rebuilt point by point.
double Rebuilt(const Solution& s, std::int32_t first, std::int32_t second, std::int32_t r,
               std::int32_t i, std::int32_t j) {
  Solution applied = s;
  applied.Remove({first, second});
  std::vector<std::int32_t> visits = applied.route(r).visits;
  visits.insert(visits.begin() + j, second);
  visits.insert(visits.begin() + i, first);
  applied.SetVisits(r, visits);
  return applied.route(r).cost.penalised();
}

class PairInsertion : public ::testing::TestWithParam<PairCase> {};

TEST_P(PairInsertion, ProposesTheCheapestPlacesOnAnotherRoute) {
  std::int64_t compared = 0;
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const InstanceView view = ShipmentView(GetParam().shape, seed);
    const RoutingInstance in(view);
    const CostEvaluator evaluator(in, MinSum);
    const CandidateLists candidates(in, 8);
    const Inserter inserter(in, candidates, std::numeric_limits<std::int32_t>::max());
    Solution s(in, evaluator);
    RandomSource random(seed);
    PlaceAll(s, random);
    for (const std::int32_t first : in.customers()) {
      const std::int32_t second = in.Partner(first);
      if (second < 0 || !in.PartnerFirst(first) || s.RouteOf(first) < 0) {
        continue;
      }
      for (std::int32_t r = 0; r < s.num_routes(); ++r) {
        const PlannedRoute& R = s.route(r);
        if (r == s.RouteOf(first) || !in.Serves(R.type, first) || !in.Serves(R.type, second)) {
          continue;
        }
        double lowest = std::numeric_limits<double>::infinity();
        for (std::int32_t i = 0; i <= R.size(); ++i) {
          for (std::int32_t j = i; j <= R.size(); ++j) {
            lowest = std::min(lowest, Rebuilt(s, first, second, r, i, j));
          }
        }
        std::int32_t second_after = -1;
        const Placement best = inserter.BestPair(s, first, second, second_after, nullptr, 0.0, r);
        ASSERT_TRUE(best.found()) << "seed " << seed << " route " << r;
        EXPECT_NEAR(best.cost.penalised(), lowest, kTolerance);
        EXPECT_NEAR(Rebuilt(s, first, second, r, best.after, second_after), lowest, kTolerance);

        // One of the two at a given place, the other at its best place on its side.
        for (std::int32_t at = 0; at <= R.size(); ++at) {
          for (const bool first_fixed : {true, false}) {
            double anchored = std::numeric_limits<double>::infinity();
            for (std::int32_t k = 0; k <= R.size(); ++k) {
              const std::int32_t i = first_fixed ? at : k;
              const std::int32_t j = first_fixed ? k : at;
              if (i <= j) {
                anchored = std::min(anchored, Rebuilt(s, first, second, r, i, j));
              }
            }
            std::int32_t its_second = -1;
            const Placement place =
                inserter.AnchoredPair(s, first, second, r, at, first_fixed, its_second);
            ASSERT_TRUE(place.found());
            EXPECT_EQ(first_fixed ? place.after : its_second, at);
            EXPECT_LE(place.after, its_second);
            EXPECT_NEAR(place.cost.penalised(), anchored, kTolerance);
            EXPECT_NEAR(Rebuilt(s, first, second, r, place.after, its_second), anchored,
                        kTolerance);
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PairInsertion,
    ::testing::Values(PairCase{"loads", {.customers = 14, .agents = 3, .loads = true}},
                      PairCase{"loads_service_windows",
                               {.customers = 14,
                                .agents = 3,
                                .windows = true,
                                .open_routes = true,
                                .separate_ends = true,
                                .loads = true,
                                .service = true}},
                      PairCase{"long_routes", {.customers = 40, .agents = 2, .loads = true}}),
    [](const ::testing::TestParamInfo<PairCase>& info) { return info.param.name; });

}  // namespace
}  // namespace plenro
