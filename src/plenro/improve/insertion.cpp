#include "plenro/improve/insertion.h"

#include <algorithm>
#include <limits>

namespace plenro {

Inserter::Inserter(const RoutingInstance& instance, const CandidateLists& candidates,
                   std::int32_t granular_above)
    : instance_(&instance),
      candidates_(&candidates),
      granular_(static_cast<std::int32_t>(instance.customers().size()) > granular_above) {}

RouteCost Inserter::CostAt(const Solution& s, std::int32_t v, std::int32_t r,
                           std::int32_t after) const {
  const RoutingInstance& in = *instance_;
  const PlannedRoute& R = s.route(r);
  ++evaluated_;
  const RouteSummary head =
      in.Join(R.prefix[static_cast<std::size_t>(after)], in.Single(v), R.agent);
  return s.evaluator().Close(r,
                             in.Join(head, R.suffix[static_cast<std::size_t>(after) + 1], R.agent));
}

Placement Inserter::BestInRoute(const Solution& s, std::int32_t v, std::int32_t r,
                                RandomSource* random, double blink, bool all_places) const {
  Placement best;
  const PlannedRoute& R = s.route(r);
  if (!instance_->Serves(R.type, v)) {
    return best;
  }
  double lowest = std::numeric_limits<double>::infinity();
  const bool linked = instance_->linked();
  const auto consider = [&](std::int32_t after) {
    if (random != nullptr && random->Chance(blink)) {
      return;
    }
    if (linked && !KeepsOrders(s, v, r, after)) {
      return;
    }
    const RouteCost cost = CostAt(s, v, r, after);
    if (!best.found() || cost.penalised() < lowest) {
      lowest = cost.penalised();
      best.route = r;
      best.after = after;
      best.cost = cost;
    }
  };
  if (all_places || !granular_ || R.size() <= kScanWhole) {
    for (std::int32_t after = 0; after <= R.size(); ++after) {
      consider(after);
    }
  } else {
    for (const std::int32_t w : candidates_->Near(R.type, v)) {
      if (s.RouteOf(w) == r) {
        consider(s.PositionOf(w) - 1);
        consider(s.PositionOf(w));
      }
    }
    const std::int32_t slot = TimeSlot(s, v, r);
    for (std::int32_t after = std::max(0, slot - 1); after <= std::min(R.size(), slot + 1);
         ++after) {
      consider(after);
    }
  }
  if (best.found()) {
    best.key = s.KeyChange(r, best.cost);
  }
  return best;
}

std::int32_t Inserter::TimeSlot(const Solution& s, std::int32_t v, std::int32_t r) const {
  const TimeSegment& window = instance_->Single(v).time;
  const PlannedRoute& R = s.route(r);
  if (window.latest == TimeSegment::kUnbounded) {
    return -1;
  }
  // The last position the agent reaches before v's window closes (arrivals grow along a route
  // that keeps its windows; a search in one that does not still finds a place).
  std::int32_t low = 0;
  std::int32_t high = R.size();
  while (low < high) {
    const std::int32_t mid = (low + high + 1) / 2;
    double warp = 0.0;
    if (R.prefix[static_cast<std::size_t>(mid)].time.ArrivalFrom(0.0, warp) <= window.latest) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}

void Inserter::Consider(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after,
                        Placement& best) {
  if (instance_->linked() && !KeepsOrders(s, v, r, after)) {
    return;
  }
  const RouteCost cost = CostAt(s, v, r, after);
  const ObjectiveKey key = s.KeyChange(r, cost);
  if (!best.found() || Better(key, best.key)) {
    best.route = r;
    best.after = after;
    best.cost = cost;
    best.key = key;
  }
}

bool Inserter::KeepsOrders(const Solution& s, std::int32_t v, std::int32_t r, std::int32_t after,
                           std::int32_t moving) {
  const RoutingInstance& in = s.instance();
  for (const std::uint32_t k : in.OrdersOf(v)) {
    const OrderLink& link = in.Order(k);
    const bool v_first = link.first == static_cast<std::uint64_t>(v);
    const auto other = static_cast<std::int32_t>(v_first ? link.second : link.first);
    const std::int32_t on = s.RouteOf(other);
    if (on < 0 || other == moving) {
      continue;
    }
    // v goes before the other point exactly when it is inserted before the other's position.
    const bool before = after < s.PositionOf(other);
    switch (link.kind) {
      case LinkKind::kShipment:
      case LinkKind::kSameRoute:
        if (on != r || before != v_first) {
          return false;
        }
        break;
      case LinkKind::kOtherRoute:
        if (on == r) {
          return false;
        }
        break;
      case LinkKind::kPrecedence:
        if (on == r && before != v_first) {
          return false;
        }
        break;
    }
  }
  return true;
}

Placement Inserter::BestPair(const Solution& s, std::int32_t first, std::int32_t second,
                             std::int32_t& second_after, RandomSource* random, double blink,
                             std::int32_t only_route) const {
  const RoutingInstance& in = *instance_;
  Placement best;
  double lowest = std::numeric_limits<double>::infinity();
  for (std::int32_t r = std::max(only_route, 0);
       r < (only_route >= 0 ? only_route + 1 : s.num_routes()); ++r) {
    const PlannedRoute& R = s.route(r);
    if (!in.Serves(R.type, first) || !in.Serves(R.type, second)) {
      continue;
    }
    for (std::int32_t i = 0; i <= R.size(); ++i) {
      if (!KeepsOrders(s, first, r, i, second)) {
        continue;
      }
      // Start, visits up to i, first; then visits i + 1 .. j, second, the rest.
      RouteSummary head = in.Join(R.prefix[static_cast<std::size_t>(i)], in.Single(first), r);
      for (std::int32_t j = i; j <= R.size(); ++j) {
        if (j > i) {
          head = in.Join(head, in.Single(R.At(j)), r);
        }
        if ((random != nullptr && random->Chance(blink)) || !KeepsOrders(s, second, r, j, first)) {
          continue;
        }
        const RouteCost cost = PairCost(s, second, r, j, head);
        const ObjectiveKey key = only_route >= 0 ? ObjectiveKey{} : s.KeyChange(r, cost);
        const double value = only_route >= 0 ? cost.penalised() : s.evaluator().Scalar(key);
        if (!best.found() || value < lowest) {
          lowest = value;
          best.route = r;
          best.after = i;
          best.cost = cost;
          best.key = key;
          second_after = j;
        }
      }
    }
  }
  return best;
}

RouteCost Inserter::PairCost(const Solution& s, std::int32_t second, std::int32_t r, std::int32_t j,
                             const RouteSummary& head) const {
  const RoutingInstance& in = *instance_;
  ++evaluated_;
  const RouteSummary body = in.Join(in.Join(head, in.Single(second), r),
                                    s.route(r).suffix[static_cast<std::size_t>(j) + 1], r);
  return s.evaluator().Close(r, body);
}

Placement Inserter::AnchoredPair(const Solution& s, std::int32_t first, std::int32_t second,
                                 std::int32_t r, std::int32_t at, bool first_fixed,
                                 std::int32_t& second_after) const {
  const RoutingInstance& in = *instance_;
  const PlannedRoute& R = s.route(r);
  Placement best;
  if (at < 0 || at > R.size() || !in.Serves(R.type, first) || !in.Serves(R.type, second) ||
      !KeepsOrders(s, first_fixed ? first : second, r, at, first_fixed ? second : first)) {
    return best;
  }
  const auto keep = [&](std::int32_t i, std::int32_t j, const RouteCost& cost) {
    if (!best.found() || cost.penalised() < best.cost.penalised()) {
      best.route = r;
      best.after = i;
      best.cost = cost;
      second_after = j;
    }
  };
  if (first_fixed) {
    RouteSummary head = in.Join(R.prefix[static_cast<std::size_t>(at)], in.Single(first), r);
    for (std::int32_t j = at; j <= R.size(); ++j) {
      if (j > at) {
        head = in.Join(head, in.Single(R.At(j)), r);
      }
      if (KeepsOrders(s, second, r, j, first)) {
        keep(at, j, PairCost(s, second, r, j, head));
      }
    }
    return best;
  }
  // Second after position `at`; first after position i <= at: the start, the visits up to i,
  // first, then the visits i + 1 .. at, second and the rest (built from the back).
  RouteSummary tail = in.Join(in.Single(second), R.suffix[static_cast<std::size_t>(at) + 1], r);
  for (std::int32_t i = at; i >= 0; --i) {
    if (i < at) {
      tail = in.Join(in.Single(R.At(i + 1)), tail, r);
    }
    if (KeepsOrders(s, first, r, i, second)) {
      ++evaluated_;
      const RouteSummary body =
          in.Join(in.Join(R.prefix[static_cast<std::size_t>(i)], in.Single(first), r), tail, r);
      keep(i, at, s.evaluator().Close(r, body));
    }
  }
  return best;
}

Placement Inserter::Best(const Solution& s, std::int32_t v, RandomSource* random, double blink) {
  Placement best;
  if (instance_->linked()) {
    const std::int32_t partner = instance_->Partner(v);
    if (partner >= 0 && s.RouteOf(partner) >= 0) {
      return BestInRoute(s, v, s.RouteOf(partner), random, blink);
    }
  }
  if (granular_) {
    for (std::int32_t t = 0; t < instance_->num_types(); ++t) {
      if (!instance_->Serves(t, v)) {
        continue;
      }
      for (const std::int32_t w : candidates_->Near(t, v)) {
        const std::int32_t r = s.RouteOf(w);
        if (r < 0 || s.route(r).type != t) {
          continue;
        }
        const std::int32_t q = s.PositionOf(w);
        for (const std::int32_t after : {q - 1, q}) {
          if (random == nullptr || !random->Chance(blink)) {
            Consider(s, v, r, after, best);
          }
        }
      }
    }
    const bool windowed = instance_->Single(v).time.latest != TimeSegment::kUnbounded;
    for (std::int32_t r = 0; r < s.num_routes(); ++r) {
      const PlannedRoute& R = s.route(r);
      if (!instance_->Serves(R.type, v)) {
        continue;
      }
      if (R.empty()) {
        Consider(s, v, r, 0, best);
      } else if (windowed) {
        const std::int32_t slot = TimeSlot(s, v, r);
        for (std::int32_t after = std::max(0, slot - 1); after <= std::min(R.size(), slot + 1);
             ++after) {
          if (random == nullptr || !random->Chance(blink)) {
            Consider(s, v, r, after, best);
          }
        }
      }
    }
    if (best.found()) {
      return best;
    }
  }
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const Placement here = BestInRoute(s, v, r, random, blink);
    if (here.found() && (!best.found() || Better(here.key, best.key))) {
      best = here;
    }
  }
  return best;
}

}  // namespace plenro
