#include "plenro/improve/solution.h"

#include <algorithm>
#include <cmath>

namespace plenro {

Solution::Solution(const RoutingInstance& instance, const CostEvaluator& evaluator)
    : instance_(&instance), evaluator_(&evaluator) {
  const auto n = static_cast<std::size_t>(instance.num_vertices());
  route_of_.assign(n, -1);
  position_of_.assign(n, 0);
  num_unassigned_ = static_cast<std::int32_t>(instance.customers().size());
  routes_.resize(static_cast<std::size_t>(instance.num_agents()));
  for (std::int32_t r = 0; r < num_routes(); ++r) {
    PlannedRoute& route = routes_[static_cast<std::size_t>(r)];
    route.agent = r;
    route.type = instance.agent(r).type;
    Rebuild(route);
  }
  RecomputeTotals();
}

void Solution::Rebuild(PlannedRoute& route) {
  const RoutingInstance& in = *instance_;
  const std::int32_t k = route.size();
  const auto slots = static_cast<std::size_t>(k) + 2;
  route.prefix.resize(slots - 1);
  route.suffix.resize(slots);

  route.prefix[0] = in.Single(in.agent(route.agent).start);
  for (std::int32_t p = 1; p <= k; ++p) {
    const std::int32_t v = route.At(p);
    route.prefix[static_cast<std::size_t>(p)] =
        in.Join(route.prefix[static_cast<std::size_t>(p - 1)], in.Single(v), route.agent);
    route_of_[static_cast<std::size_t>(v)] = route.agent;
    position_of_[static_cast<std::size_t>(v)] = p;
  }
  route.suffix[0] = RouteSummary{};
  route.suffix[static_cast<std::size_t>(k) + 1] = RouteSummary{};
  for (std::int32_t p = k; p >= 1; --p) {
    route.suffix[static_cast<std::size_t>(p)] =
        in.Join(in.Single(route.At(p)), route.suffix[static_cast<std::size_t>(p) + 1], route.agent);
  }
  const std::int32_t block = PlannedRoute::kBlock;
  route.blocks.resize(static_cast<std::size_t>((k + block - 1) / block));
  for (std::size_t i = 0; i < route.blocks.size(); ++i) {
    const auto first = static_cast<std::int32_t>(i) * block + 1;
    RouteSummary out = in.Single(route.At(first));
    for (std::int32_t p = first + 1; p <= std::min(k, first + block - 1); ++p) {
      out = in.Join(out, in.Single(route.At(p)), route.agent);
    }
    route.blocks[i] = out;
  }
  route.cost = evaluator_->Close(route.agent, route.prefix[static_cast<std::size_t>(k)]);
}

void Solution::RecomputeTotals() {
  totals_ = RouteTotals{};
  for (std::int32_t i = 0; i < 3; ++i) {
    top_value_[i] = 0.0;
    top_route_[i] = -1;
  }
  for (const PlannedRoute& route : routes_) {
    const double value = route.cost.penalised();
    totals_.Add(value);
    // Keep the three largest, in descending order.
    std::int32_t slot = 3;
    while (slot > 0 && (top_route_[slot - 1] < 0 || top_value_[slot - 1] < value)) {
      --slot;
    }
    if (slot < 3) {
      for (std::int32_t i = 2; i > slot; --i) {
        top_value_[i] = top_value_[i - 1];
        top_route_[i] = top_route_[i - 1];
      }
      top_value_[slot] = value;
      top_route_[slot] = route.agent;
    }
  }
}

void Solution::SetVisits(std::int32_t r, const std::vector<std::int32_t>& visits) {
  PlannedRoute& route = routes_[static_cast<std::size_t>(r)];
  for (const std::int32_t v : route.visits) {
    if (route_of_[static_cast<std::size_t>(v)] == r) {
      route_of_[static_cast<std::size_t>(v)] = -1;
      ++num_unassigned_;
    }
  }
  route.visits.assign(visits.begin(), visits.end());
  for (const std::int32_t v : route.visits) {
    if (route_of_[static_cast<std::size_t>(v)] < 0) {
      --num_unassigned_;
    }
    route_of_[static_cast<std::size_t>(v)] = r;
  }
  Rebuild(route);
  RecomputeTotals();
}

void Solution::Remove(const std::vector<std::int32_t>& points) {
  // Mark first, then compact each touched route once.
  for (const std::int32_t v : points) {
    const std::int32_t r = route_of_[static_cast<std::size_t>(v)];
    if (r < 0) {
      continue;
    }
    routes_[static_cast<std::size_t>(r)]
        .visits[static_cast<std::size_t>(position_of_[static_cast<std::size_t>(v)] - 1)] = -1;
    route_of_[static_cast<std::size_t>(v)] = -1;
    ++num_unassigned_;
  }
  for (PlannedRoute& route : routes_) {
    const auto kept = std::remove(route.visits.begin(), route.visits.end(), -1);
    if (kept != route.visits.end()) {
      route.visits.erase(kept, route.visits.end());
      Rebuild(route);
    }
  }
  RecomputeTotals();
}

void Solution::Insert(std::int32_t v, std::int32_t r, std::int32_t after) {
  PlannedRoute& route = routes_[static_cast<std::size_t>(r)];
  if (route_of_[static_cast<std::size_t>(v)] < 0) {
    --num_unassigned_;
  }
  route.visits.insert(route.visits.begin() + after, v);
  route_of_[static_cast<std::size_t>(v)] = r;
  Rebuild(route);
  RecomputeTotals();
}

void Solution::Refresh() {
  for (PlannedRoute& route : routes_) {
    route.cost =
        evaluator_->Close(route.agent, route.prefix[static_cast<std::size_t>(route.size())]);
  }
  RecomputeTotals();
}

RouteSummary Solution::Range(std::int32_t r, std::int32_t from, std::int32_t to,
                             std::int32_t agent) const {
  const PlannedRoute& route = routes_[static_cast<std::size_t>(r)];
  const std::int32_t block = PlannedRoute::kBlock;
  RouteSummary out = instance_->Single(route.At(from));
  std::int32_t p = from + 1;
  // The blocks hold legs between points to serve, the same for every agent of the route's type.
  if (instance_->agent(agent).type == route.type && to - from >= 2 * block) {
    // Points up to a block boundary, whole blocks, then the rest point by point.
    for (; (p - 1) % block != 0; ++p) {
      out = instance_->Join(out, instance_->Single(route.At(p)), agent);
    }
    for (; p + block - 1 <= to; p += block) {
      out = instance_->Join(out, route.blocks[static_cast<std::size_t>((p - 1) / block)], agent);
    }
  }
  for (; p <= to; ++p) {
    out = instance_->Join(out, instance_->Single(route.At(p)), agent);
  }
  return out;
}

RouteSummary Solution::ReversedRange(std::int32_t r, std::int32_t from, std::int32_t to,
                                     std::int32_t agent) const {
  const PlannedRoute& route = routes_[static_cast<std::size_t>(r)];
  RouteSummary out = instance_->Single(route.At(to));
  for (std::int32_t p = to - 1; p >= from; --p) {
    out = instance_->Join(out, instance_->Single(route.At(p)), agent);
  }
  return out;
}

ObjectiveKey Solution::KeyChange(std::int32_t r1, const RouteCost& c1, std::int32_t r2,
                                 const RouteCost& c2) const {
  const double old1 = routes_[static_cast<std::size_t>(r1)].cost.penalised();
  RouteTotals change;
  change.sum = c1.penalised() - old1;
  double largest = c1.penalised();
  double magnitude = std::max(std::abs(c1.penalised()), std::abs(old1));
  if (r2 >= 0 && r2 != r1) {
    const double old2 = routes_[static_cast<std::size_t>(r2)].cost.penalised();
    change.sum += c2.penalised() - old2;
    largest = std::max(largest, c2.penalised());
    magnitude = std::max({magnitude, std::abs(c2.penalised()), std::abs(old2)});
  } else {
    r2 = r1;
  }
  for (std::int32_t i = 0; i < 3; ++i) {
    if (top_route_[i] >= 0 && top_route_[i] != r1 && top_route_[i] != r2) {
      largest = std::max(largest, top_value_[i]);
      break;
    }
  }
  change.max = std::max(largest, 0.0) - totals_.max;
  // A route timed along two different orders of joins differs in its last bits; differences
  // within that noise are no change (with large penalties it exceeds the key's tolerance).
  const double noise = kRoundingNoise * std::max(magnitude, totals_.max);
  for (double* figure : {&change.sum, &change.max}) {
    if (std::abs(*figure) <= noise) {
      *figure = 0.0;
    }
  }
  return evaluator_->Key(change);
}

RouteTotals Solution::CostTotals() const {
  RouteTotals totals;
  for (const PlannedRoute& route : routes_) {
    totals.Add(route.cost.cost);
  }
  return totals;
}

bool Solution::Feasible() const {
  if (num_unassigned_ != 0) {
    return false;
  }
  for (const PlannedRoute& route : routes_) {
    if (!route.cost.feasible()) {
      return false;
    }
  }
  return true;
}

}  // namespace plenro
