#include "plenro/improve/construction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace plenro {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Above this many points to place, a placement refreshes only the entries it most likely
// changed (see Run), unless windows or route limits make every later place of the route change
// with it.
constexpr std::int32_t kLazyAbove = 400;
// A load above a capacity by less than this is rounding.
constexpr double kLoadTolerance = 1e-9;
// A pair unit tries every pair of places on routes up to this long (see PairInRoute).
constexpr std::int32_t kPairScanWhole = 32;

}  // namespace

RegretConstruction::RegretConstruction(const RoutingInstance& instance,
                                       const CandidateLists& candidates, Inserter& inserter,
                                       std::int32_t regret_routes)
    : instance_(&instance), inserter_(&inserter), regret_routes_(std::max(2, regret_routes)) {
  // Who has whom among its candidates, for any type: v's "reverse" candidates.
  const auto n = static_cast<std::size_t>(instance.num_vertices());
  std::vector<std::vector<std::int32_t>> reverse(n);
  for (std::int32_t t = 0; t < instance.num_types(); ++t) {
    for (const std::int32_t p : instance.customers()) {
      for (const std::int32_t v : candidates.Near(t, p)) {
        reverse[static_cast<std::size_t>(v)].push_back(p);
      }
    }
  }
  reverse_begin_.assign(n + 1, 0);
  for (std::size_t v = 0; v < n; ++v) {
    reverse_begin_[v] = reverse_.size();
    reverse_.insert(reverse_.end(), reverse[v].begin(), reverse[v].end());
  }
  reverse_begin_[n] = reverse_.size();
  touched_.assign(n, 0);
}

void RegretConstruction::MarkReverse(std::int32_t v, char mark) {
  const auto x = static_cast<std::size_t>(v);
  for (std::size_t i = reverse_begin_[x]; i < reverse_begin_[x + 1]; ++i) {
    touched_[static_cast<std::size_t>(reverse_[i])] = mark;
  }
}

std::string RegretConstruction::Unservable(const RoutingInstance& instance) {
  std::vector<char> type_used(static_cast<std::size_t>(instance.num_types()), 0);
  for (std::int32_t a = 0; a < instance.num_agents(); ++a) {
    const PlannedAgent& agent = instance.agent(a);
    type_used[static_cast<std::size_t>(agent.type)] = 1;
    const bool at_start = instance.open_routes() && agent.start != agent.goal;
    if (!instance.Serves(agent.type, agent.goal) &&
        !(at_start && instance.Serves(agent.type, agent.start))) {
      return instance.DescribeAgent(a) + " cannot end its route: its type may not serve its end " +
             instance.DescribePoint(agent.goal) +
             (at_start ? ", nor its start " + instance.DescribePoint(agent.start) +
                             ", where an open route may end too"
                       : "");
    }
  }
  for (const std::int32_t v : instance.customers()) {
    bool allowed = false;
    bool reached = false;
    bool left = false;
    for (std::int32_t t = 0; t < instance.num_types(); ++t) {
      if (type_used[static_cast<std::size_t>(t)] == 0 || !instance.Serves(t, v)) {
        continue;
      }
      allowed = true;
      bool in = false;
      bool out = false;
      for (std::int32_t a = 0; a < instance.num_agents(); ++a) {
        const PlannedAgent& agent = instance.agent(a);
        if (agent.type == t) {
          in = in || !IsNoConnection(instance.Leg(agent.start, v, a));
          out = out || !IsNoConnection(instance.Leg(v, agent.goal, a));
        }
      }
      for (const std::int32_t w : instance.customers()) {
        if (in && out) {
          break;
        }
        if (w != v && instance.Serves(t, w)) {
          in = in || !IsNoConnection(instance.Cost(w, v, t));
          out = out || !IsNoConnection(instance.Cost(v, w, t));
        }
      }
      reached = reached || in;
      left = left || out;
      if (in && out) {
        break;
      }
    }
    if (!allowed) {
      return instance.DescribePoint(v) + " cannot be served: no agent's type may serve it";
    }
    if (!reached || !left) {
      return instance.DescribePoint(v) +
             " cannot be served: no agent type that may serve it has a connection " +
             (!reached ? "into it" : "out of it");
    }
  }
  return UnorderableOrOverloaded(instance);
}

std::string RegretConstruction::UnorderableOrOverloaded(const RoutingInstance& instance) {
  const auto node = [&instance](std::int32_t v) {
    return std::to_string(instance.view().points()[static_cast<std::size_t>(v)].id);
  };
  // Orders: two points that must share a route and must not; a cycle of orders.
  const InstanceView& view = instance.view();
  const std::uint64_t n = view.num_points();
  std::vector<std::vector<std::int32_t>> after(n);
  for (const OrderLink& link : view.orders()) {
    if (link.kind == LinkKind::kOtherRoute) {
      for (const OrderLink& other : view.orders()) {
        const bool same_points = (other.first == link.first && other.second == link.second) ||
                                 (other.first == link.second && other.second == link.first);
        if (same_points &&
            (other.kind == LinkKind::kShipment || other.kind == LinkKind::kSameRoute)) {
          return "nodes " + node(static_cast<std::int32_t>(link.first)) + " and " +
                 node(static_cast<std::int32_t>(link.second)) +
                 " cannot be ordered: they must share a route and must not";
        }
      }
      continue;
    }
    after[link.first].push_back(static_cast<std::int32_t>(link.second));
  }
  // Depth-first search for a cycle; `state`: 0 unseen, 1 on the path, 2 done.
  std::vector<char> state(n, 0);
  std::vector<std::int32_t> parent(n, -1);
  for (std::uint64_t root = 0; root < n; ++root) {
    if (state[root] != 0) {
      continue;
    }
    std::vector<std::pair<std::int32_t, std::size_t>> stack{{static_cast<std::int32_t>(root), 0}};
    state[root] = 1;
    while (!stack.empty()) {
      auto& [v, next] = stack.back();
      const auto x = static_cast<std::size_t>(v);
      if (next == after[x].size()) {
        state[x] = 2;
        stack.pop_back();
        continue;
      }
      const std::int32_t w = after[x][next++];
      const auto y = static_cast<std::size_t>(w);
      if (state[y] == 1) {
        // The cycle runs from w along the path to v and back to w.
        std::string cycle = node(w);
        std::vector<std::int32_t> path;
        for (std::int32_t u = v; u != w && u >= 0; u = parent[static_cast<std::size_t>(u)]) {
          path.push_back(u);
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
          cycle += " before node " + node(*it);
        }
        return "the orders cannot be kept: they form a cycle (node " + cycle + " before node " +
               node(w) + ")";
      }
      if (state[y] == 0) {
        state[y] = 1;
        parent[y] = v;
        stack.emplace_back(w, 0);
      }
    }
  }
  // Loads: a point (with its partner, if it has one) that no agent that may serve it can carry.
  const auto fits = [&instance](std::int32_t a, const LoadSegment& load) {
    for (std::size_t d = 0; d < load.dims; ++d) {
      if (load.HighestLoad(d) > instance.agent(a).capacity[d] + kLoadTolerance) {
        return false;
      }
    }
    return true;
  };
  for (const std::int32_t v : instance.customers()) {
    const std::int32_t partner = instance.Partner(v);
    const bool paired = partner >= 0;
    const std::int32_t first = paired && !instance.PartnerFirst(v) ? partner : v;
    const std::int32_t second = paired && !instance.PartnerFirst(v) ? v : partner;
    const LoadSegment load = paired
                                 ? Join(instance.Single(first).load, instance.Single(second).load)
                                 : instance.Single(v).load;
    bool served = false;
    bool carried = false;
    for (std::int32_t a = 0; a < instance.num_agents() && !carried; ++a) {
      const std::int32_t type = instance.agent(a).type;
      if (instance.Serves(type, v) && (!paired || instance.Serves(type, partner))) {
        served = true;
        carried = fits(a, load);
      }
    }
    const std::string what = paired ? "the pair of node " + node(first) + " and node " +
                                          node(second) + " (first before second)"
                                    : instance.DescribePoint(v);
    if (!served) {
      return what + " cannot be served: no agent's type may serve both";
    }
    if (!carried) {
      return what + " cannot be carried: its load exceeds the capacity of every agent that may " +
             "serve it";
    }
  }
  return "";
}

bool RegretConstruction::TiedTo(std::int32_t p, std::int32_t v) const {
  for (const std::uint32_t k : instance_->OrdersOf(p)) {
    const OrderLink& link = instance_->Order(k);
    if (link.first == static_cast<std::uint64_t>(v) ||
        link.second == static_cast<std::uint64_t>(v)) {
      return true;
    }
  }
  return false;
}

double RegretConstruction::Value(const Solution& s, const Placement& place) const {
  const double value = s.evaluator().Scalar(s.KeyChange(place.route, place.cost));
  // Infinite route values can differ by NaN; the regrets are sorted, and NaN has no order.
  return std::isnan(value) ? kInfinity : value;
}

Placement RegretConstruction::PairInRoute(const Solution& s, std::size_t i, std::int32_t r,
                                          std::int32_t& second_after) const {
  const std::int32_t first = pending_[i];
  const std::int32_t second = second_[i];
  if (s.route(r).size() <= kPairScanWhole) {
    return inserter_->BestPair(s, first, second, second_after, nullptr, 0.0, r);
  }
  // A long route: every pair of places would cost the square of its length, for every unit at
  // every step. The first point goes to its best place alone, the second to its best place
  // behind it.
  const Placement alone = inserter_->BestInRoute(s, first, r, nullptr, 0.0, false);
  if (!alone.found()) {
    return alone;
  }
  return inserter_->AnchoredPair(s, first, second, r, alone.after, true, second_after);
}

void RegretConstruction::Refresh(const Solution& s, std::size_t i, std::int32_t r,
                                 bool all_places) {
  const std::size_t at = i * static_cast<std::size_t>(s.num_routes()) + static_cast<std::size_t>(r);
  if (second_[i] >= 0) {
    table_[at] = PairInRoute(s, i, r, second_after_[at]);
    if (table_[at].found()) {
      table_[at].key = s.KeyChange(r, table_[at].cost);
    }
  } else {
    table_[at] = inserter_->BestInRoute(s, pending_[i], r, nullptr, 0.0, all_places);
  }
}

bool RegretConstruction::Run(Solution& s, const std::function<bool()>& stop) {
  const std::int32_t m = s.num_routes();
  pending_.clear();
  second_.clear();
  for (const std::int32_t v : instance_->customers()) {
    if (s.RouteOf(v) >= 0) {
      continue;
    }
    // A point whose partner is unplaced too goes with it, as the unit of the first of the two.
    const std::int32_t partner = instance_->linked() ? instance_->Partner(v) : -1;
    const bool paired = partner >= 0 && s.RouteOf(partner) < 0;
    if (paired && !instance_->PartnerFirst(v)) {
      continue;
    }
    pending_.push_back(v);
    second_.push_back(paired ? partner : -1);
  }
  const auto stride = static_cast<std::size_t>(m);
  // A point placed with windows or a route limit delays everything after it on its route and
  // lengthens the route: a cached place elsewhere on it may now come too late or run over, and
  // a stale table would send points into routes that no longer have room for them.
  const bool lazy = !instance_->priced() && !instance_->linked() &&
                    static_cast<std::int32_t>(pending_.size()) > kLazyAbove;
  best_route_.assign(pending_.size(), -1);
  table_.assign(pending_.size() * stride, Placement{});
  second_after_.assign(pending_.size() * stride, 0);
  for (std::size_t i = 0; i < pending_.size(); ++i) {
    for (std::int32_t r = 0; r < m; ++r) {
      Refresh(s, i, r, false);
    }
  }

  std::vector<double> values;
  values.reserve(stride);
  while (!pending_.empty()) {
    if (stop()) {
      return false;
    }
    // The point with the largest regret; ties go to the cheaper best place.
    std::size_t chosen = pending_.size();
    double chosen_regret = -kInfinity;
    double chosen_best = kInfinity;
    std::int32_t chosen_route = -1;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      std::int32_t best_route = -1;
      double best_value = kInfinity;
      const auto collect = [&]() {
        values.clear();
        for (std::int32_t r = 0; r < m; ++r) {
          const Placement& place = table_[i * stride + static_cast<std::size_t>(r)];
          if (!place.found()) {
            continue;
          }
          const double value = Value(s, place);
          values.push_back(value);
          if (best_route < 0 || value < best_value) {
            best_value = value;
            best_route = r;
          }
        }
      };
      collect();
      if (best_route < 0) {
        // Only long routes that hold none of its candidates: look at every place.
        for (std::int32_t r = 0; r < m; ++r) {
          Refresh(s, i, r, true);
        }
        collect();
        if (best_route < 0 && !instance_->linked()) {
          throw std::logic_error(instance_->DescribePoint(pending_[i]) + " fits no route");
        }
      }
      double regret = kInfinity;
      if (values.size() > 1) {
        const std::size_t keep =
            std::min<std::size_t>(values.size(), static_cast<std::size_t>(regret_routes_));
        std::partial_sort(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(keep),
                          values.end());
        regret = 0.0;
        for (std::size_t j = 1; j < keep; ++j) {
          regret += values[j] - values[0];
        }
        if (std::isnan(regret)) {
          regret = 0.0;  // only infinite places: none is better than another
        }
      }
      best_route_[i] = best_route;
      if (chosen == pending_.size() || regret > chosen_regret ||
          (regret == chosen_regret && best_value < chosen_best)) {
        chosen = i;
        chosen_regret = regret;
        chosen_best = best_value;
        chosen_route = best_route;
      }
    }

    const std::int32_t v = pending_[chosen];
    const std::int32_t second = second_[chosen];
    Placement place = chosen_route >= 0
                          ? table_[chosen * stride + static_cast<std::size_t>(chosen_route)]
                          : Placement{};
    std::int32_t second_after =
        chosen_route >= 0 ? second_after_[chosen * stride + static_cast<std::size_t>(chosen_route)]
                          : 0;
    if (lazy) {
      // Its entry may be stale: place it where the route is now.
      const Placement fresh = inserter_->BestInRoute(s, v, chosen_route, nullptr, 0.0, false);
      place = fresh.found() ? fresh : place;
    }
    if (second >= 0) {
      // A pair goes where its entry says, the route as it is now (orders with points placed
      // since may have closed some places).
      place = chosen_route >= 0 ? PairInRoute(s, chosen, chosen_route, second_after) : place;
    } else if (instance_->linked()) {
      // A point tied to others goes where they are now; one that fits nowhere stays out (the
      // search reports the shortfall).
      place = inserter_->Best(s, v, nullptr, 0.0);
    }
    if (place.found()) {
      s.Insert(v, place.route, place.after);
      if (second >= 0) {
        s.Insert(second, place.route, second_after + 1);
      }
    }
    // Drop the point's row (the last row moves into its place), then refresh the route's column:
    // every entry, or on large instances those whose best route it was and those of the points
    // that have v among their candidates (the others keep an older value until chosen).
    const std::size_t last = pending_.size() - 1;
    if (chosen != last) {
      pending_[chosen] = pending_[last];
      second_[chosen] = second_[last];
      best_route_[chosen] = best_route_[last];
      std::copy_n(table_.begin() + static_cast<std::ptrdiff_t>(last * stride), stride,
                  table_.begin() + static_cast<std::ptrdiff_t>(chosen * stride));
      std::copy_n(second_after_.begin() + static_cast<std::ptrdiff_t>(last * stride), stride,
                  second_after_.begin() + static_cast<std::ptrdiff_t>(chosen * stride));
    }
    pending_.pop_back();
    second_.pop_back();
    best_route_.pop_back();
    table_.resize(pending_.size() * stride);
    second_after_.resize(pending_.size() * stride);
    if (lazy) {
      MarkReverse(v, 1);
    }
    for (std::size_t i = 0; i < pending_.size() && place.found(); ++i) {
      const auto p = static_cast<std::size_t>(pending_[i]);
      if (!lazy || best_route_[i] == place.route || touched_[p] != 0) {
        Refresh(s, i, place.route, false);
      }
      // A point tied to v (or to its partner) may now go into v's route only: its places
      // elsewhere are gone.
      if (instance_->linked() &&
          (TiedTo(pending_[i], v) || (second >= 0 && TiedTo(pending_[i], second)) ||
           (second_[i] >= 0 &&
            (TiedTo(second_[i], v) || (second >= 0 && TiedTo(second_[i], second)))))) {
        for (std::int32_t r = 0; r < m; ++r) {
          if (r != place.route) {
            Refresh(s, i, r, false);
          }
        }
      }
    }
    if (lazy) {
      MarkReverse(v, 0);
    }
  }
  return true;
}

}  // namespace plenro
