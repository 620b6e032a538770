#include "plenro/instance/route_evaluation.h"

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
  for (std::size_t i = 0; i <= last; ++i) {
    if (!Step(agent, i, last, route[i], i > 0 ? route[i - 1] : -1, cost)) {
      return {};
    }
  }
  return {true, cost};
}

// ---------------------------------------------------------------------------------------------
// Route variants

void RouteProbe::Load(const RouteEvaluator& evaluator, const Route& route, std::uint64_t agent) {
  evaluator_ = &evaluator;
  route_ = &route;
  agent_ = agent;
  prefix_.clear();
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
