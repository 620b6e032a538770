#include "plenro/instance/route_evaluation.h"

#include <algorithm>
#include <sstream>

namespace plenro {

// ---------------------------------------------------------------------------------------------
// Whole routes

bool RouteEvaluator::EndpointsOk(std::uint64_t agent, std::int64_t first, std::int64_t last) const {
  const InstanceView& view = *view_;
  const bool back_at_start = last == first && !view.return_to_end();
  if (!view.has_starts()) {
    return view.has_goals() && last >= 0 && view.IsOwnGoal(agent, static_cast<std::uint64_t>(last));
  }
  if (first < 0 || !view.IsOwnStart(agent, static_cast<std::uint64_t>(first))) {
    return false;
  }
  if (!view.has_goals()) {
    return back_at_start;
  }
  return (last >= 0 && view.IsOwnGoal(agent, static_cast<std::uint64_t>(last))) || back_at_start;
}

bool RouteEvaluator::Step(std::uint64_t agent, std::size_t i, std::size_t last, std::int64_t x,
                          std::int64_t prev, double& cost) const {
  const InstanceView& view = *view_;
  if (x < 0 || static_cast<std::uint64_t>(x) >= view.num_points()) {
    return false;
  }
  const auto v = static_cast<std::uint64_t>(x);
  // The agent's own start point may only open or close its route.
  if (view.IsOwnStart(agent, v) && i != 0 && i != last) {
    return false;
  }
  // The agent's own start and end points are never refused because another agent starts or
  // ends there too. Where its route begins the agent is at its start already and serves
  // nothing; where it ends, its type must serve the point.
  const bool begins_here = i == 0 && view.IsOwnStart(agent, v);
  const bool ends_here = i == last && (view.IsOwnStart(agent, v) || view.IsOwnGoal(agent, v));
  if (!begins_here && !(ends_here ? view.TypeAllows(agent, v) : view.MayServe(agent, v))) {
    return false;
  }
  if (i > 0 && view.has_service()) {
    cost += view.Service(static_cast<std::uint64_t>(prev));
  }
  if (i > 0 && view.has_costs()) {
    const double leg = view.Leg(static_cast<std::uint64_t>(prev), v, agent);
    if (IsNoConnection(leg)) {
      return false;
    }
    cost += leg;
  }
  if (view.HasWindow(v)) {
    if (cost > view.Close(v)) {
      return false;
    }
    if (cost < view.Open(v)) {
      cost = view.Open(v);
    }
  }
  const double limit = view.MaxLength(agent);
  return !(i > 0 && limit > 0.0 && cost > limit);
}

RouteEvaluation RouteEvaluator::Evaluate(const Route& route, std::uint64_t agent) const {
  if (route.empty()) {
    return {true, 0.0};
  }
  if (agent >= view_->num_agents() || !EndpointsOk(agent, route.front(), route.back())) {
    return {};
  }
  const std::size_t last = route.size() - 1;
  double cost = 0.0;
  const bool rules = view_->enforced() && (view_->load_dims() > 0 || view_->has_orders());
  std::vector<double> starts;
  for (std::size_t i = 0; i <= last; ++i) {
    if (!Step(agent, i, last, route[i], i > 0 ? route[i - 1] : -1, cost)) {
      return {};
    }
    if (rules) {
      starts.push_back(cost);
    }
  }
  if (rules && !RouteRulesBroken(route, agent, starts).empty()) {
    return {};
  }
  return {true, cost};
}

std::string RouteEvaluator::RouteRulesBroken(const Route& route, std::uint64_t agent,
                                             const std::vector<double>& starts) const {
  const InstanceView& view = *view_;
  if (route.size() < 3 || !view.enforced()) {
    return "";
  }
  const std::size_t dims = view.load_dims();
  const std::size_t last = route.size() - 1;
  std::ostringstream why;
  // Loads: the start carries every delivery of the route; each stop changes the load.
  for (std::size_t d = 0; d < dims; ++d) {
    const double capacity = view.Capacity(agent, d);
    double load = 0.0;
    for (std::size_t i = 1; i < last; ++i) {
      load += view.StartLoad(static_cast<std::uint64_t>(route[i]), d);
    }
    std::size_t i = 0;
    while (true) {
      if (load > capacity + kLoadTolerance) {
        why << "the load " << load << " in dimension " << d << " exceeds the capacity " << capacity
            << " of agent " << view.agents()[agent].id << " at node "
            << view.points()[static_cast<std::size_t>(route[i])].id;
        return why.str();
      }
      if (++i >= last) {
        break;
      }
      load += view.LoadChange(static_cast<std::uint64_t>(route[i]), d);
    }
  }
  if (!view.has_orders()) {
    return "";
  }
  // Orders: the position of each point of the route.
  std::vector<std::int64_t> position(view.num_points(), -1);
  for (std::size_t i = 1; i < last; ++i) {
    position[static_cast<std::size_t>(route[i])] = static_cast<std::int64_t>(i);
  }
  for (std::size_t i = 1; i < last; ++i) {
    for (const std::uint32_t k : view.OrdersOf(static_cast<std::uint64_t>(route[i]))) {
      const OrderLink& link = view.orders()[k];
      const std::int64_t first = position[link.first];
      const std::int64_t second = position[link.second];
      const auto name = [&view](std::uint64_t v) { return view.points()[v].id; };
      switch (link.kind) {
        case LinkKind::kShipment:
        case LinkKind::kSameRoute:
          if (first < 0 || second < 0 || first > second) {
            why << (link.kind == LinkKind::kShipment ? "the shipment from node "
                                                     : "the pair from node ")
                << name(link.first) << " to node " << name(link.second)
                << (first < 0 || second < 0 ? " is split across routes"
                                            : " is served in the wrong order");
            return why.str();
          }
          break;
        case LinkKind::kOtherRoute:
          if (first >= 0 && second >= 0) {
            why << "nodes " << name(link.first) << " and " << name(link.second)
                << " must be on different routes";
            return why.str();
          }
          break;
        case LinkKind::kPrecedence:
          if (first >= 0 && second >= 0 &&
              starts[static_cast<std::size_t>(first)] > starts[static_cast<std::size_t>(second)]) {
            why << "service at node " << name(link.first) << " starts after service at node "
                << name(link.second);
            return why.str();
          }
          break;
      }
    }
  }
  return "";
}

std::vector<Stop> RouteEvaluator::Schedule(const Route& route, std::uint64_t agent) const {
  const InstanceView& view = *view_;
  std::vector<Stop> stops(route.size());
  if (route.empty()) {
    return stops;
  }
  const std::size_t dims = view.load_dims();
  const std::size_t last = route.size() - 1;
  std::vector<double> load(dims, 0.0);
  for (std::size_t i = 1; i < last; ++i) {
    for (std::size_t d = 0; d < dims; ++d) {
      load[d] += view.StartLoad(static_cast<std::uint64_t>(route[i]), d);
    }
  }
  double departure = 0.0;
  for (std::size_t i = 0; i <= last; ++i) {
    const auto v = static_cast<std::uint64_t>(route[i]);
    Stop& stop = stops[i];
    stop.arrival = departure;
    if (i > 0 && view.has_costs()) {
      stop.arrival += view.Leg(static_cast<std::uint64_t>(route[i - 1]), v, agent);
    }
    stop.start = stop.arrival;
    if (view.HasWindow(v) && stop.start < view.Open(v)) {
      stop.start = view.Open(v);
    }
    stop.departure = stop.start + view.Service(v);
    departure = stop.departure;
    if (i > 0 && i < last) {
      for (std::size_t d = 0; d < dims; ++d) {
        load[d] += view.LoadChange(v, d);
      }
    }
    stop.load = load;
  }
  return stops;
}

std::int64_t RouteEvaluator::BrokenAcross(const std::vector<Route>& routes) const {
  const InstanceView& view = *view_;
  if (!view.has_orders()) {
    return -1;
  }
  // The service start of every point on a route.
  std::vector<double> start(view.num_points(), 0.0);
  std::vector<char> served(view.num_points(), 0);
  for (std::size_t a = 0; a < routes.size(); ++a) {
    const std::vector<Stop> stops = Schedule(routes[a], a);
    for (std::size_t i = 1; i + 1 < routes[a].size(); ++i) {
      const auto v = static_cast<std::size_t>(routes[a][i]);
      if (v < start.size()) {
        start[v] = stops[i].start;
        served[v] = 1;
      }
    }
  }
  for (std::size_t k = 0; k < view.orders().size(); ++k) {
    const OrderLink& link = view.orders()[k];
    if (link.kind == LinkKind::kPrecedence && served[link.first] != 0 && served[link.second] != 0 &&
        start[link.first] > start[link.second] + kTimeTolerance) {
      return static_cast<std::int64_t>(k);
    }
  }
  return -1;
}

std::string RouteEvaluator::OrdersAcross(const std::vector<Route>& routes) const {
  const std::int64_t k = BrokenAcross(routes);
  if (k < 0) {
    return "";
  }
  const InstanceView& view = *view_;
  const OrderLink& link = view.orders()[static_cast<std::size_t>(k)];
  std::ostringstream why;
  why << "service at node " << view.points()[link.first].id << " starts after service at node "
      << view.points()[link.second].id;
  return why.str();
}

// ---------------------------------------------------------------------------------------------
// Route variants

void RouteProbe::Load(const RouteEvaluator& evaluator, const Route& route, std::uint64_t agent) {
  evaluator_ = &evaluator;
  route_ = &route;
  agent_ = agent;
  prefix_.clear();
  const InstanceView& view = evaluator.view();
  whole_ = view.enforced() && (view.load_dims() > 0 || view.has_orders());
  endpoints_ok_ = !route.empty() && agent < evaluator.view().num_agents() &&
                  evaluator.EndpointsOk(agent, route.front(), route.back());
  if (!endpoints_ok_) {
    return;
  }
  // Every variant keeps both endpoints, and the positions before its first change are never
  // its last one, so the route's own running costs serve as the variants' up to that point.
  const std::size_t last = route.size() - 1;
  double cost = 0.0;
  for (std::size_t i = 0; i <= last; ++i) {
    if (!evaluator.Step(agent, i, last, route[i], i > 0 ? route[i - 1] : -1, cost)) {
      break;
    }
    prefix_.push_back(cost);
  }
}

template <class At>
RouteEvaluation RouteProbe::Resume(std::size_t from, std::size_t size, At at) const {
  if (!endpoints_ok_ || from == 0 || from > prefix_.size()) {
    return {};
  }
  if (whole_) {
    scratch_.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
      scratch_[i] = at(i);
    }
    return evaluator_->Evaluate(scratch_, agent_);
  }
  double cost = prefix_[from - 1];
  std::int64_t prev = at(from - 1);
  const std::size_t last = size - 1;
  for (std::size_t i = from; i <= last; ++i) {
    const std::int64_t x = at(i);
    if (!evaluator_->Step(agent_, i, last, x, prev, cost)) {
      return {};
    }
    prev = x;
  }
  return {true, cost};
}

RouteEvaluation RouteProbe::Reversed(std::size_t i, std::size_t j) const {
  const Route& r = *route_;
  return Resume(i, r.size(),
                [&r, i, j](std::size_t p) { return (p >= i && p <= j) ? r[i + j - p] : r[p]; });
}

RouteEvaluation RouteProbe::Without(std::size_t pos) const {
  const Route& r = *route_;
  return Resume(pos, r.size() - 1, [&r, pos](std::size_t p) { return p < pos ? r[p] : r[p + 1]; });
}

RouteEvaluation RouteProbe::WithInserted(std::size_t pos, std::int64_t vertex) const {
  const Route& r = *route_;
  return Resume(pos, r.size() + 1, [&r, pos, vertex](std::size_t p) {
    return p < pos ? r[p] : (p == pos ? vertex : r[p - 1]);
  });
}

}  // namespace plenro
