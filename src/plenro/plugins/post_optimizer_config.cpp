#include "plenro/plugins/post_optimizer_config.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace plenro {

namespace {

// Stands for an unset start or end point: no vertex of a bound run is this large.
constexpr std::uint64_t kNoVertex = std::numeric_limits<std::uint64_t>::max();

// Improvements smaller than this do not count.
constexpr double kEpsilon = 1e-9;

bool Is(std::int64_t x, std::uint64_t v) {
  return x >= 0 && static_cast<std::uint64_t>(x) == v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Settings

void PostOptimizerConfig::SetStarts(const std::vector<std::uint64_t>& starts) {
  starts_ = starts;
  start_set_.clear();
  start_set_.insert(starts_.begin(), starts_.end());
}

void PostOptimizerConfig::SetGoals(const std::vector<std::uint64_t>& goals) {
  goals_ = goals;
  goal_set_.clear();
  goal_set_.insert(goals_.begin(), goals_.end());
}

void PostOptimizerConfig::SetTimeWindows(const TimeWindowMap& windows) {
  windows_ = windows;
  has_time_windows_ = !windows_.empty();
}

// ---------------------------------------------------------------------------------------------
// Binding one run

void PostOptimizerConfig::Bind(const PlannerGraph* graph, const std::vector<Point>& points,
                               const std::vector<AgentInfo>& agents) {
  graph_ = graph;
  num_points_ = points.size();

  agents_.resize(agents.size());
  num_types_ = 0;
  for (std::size_t k = 0; k < agents.size(); ++k) {
    agents_[k] = AgentData{agents[k].type, agents[k].max_length};
    if (agents[k].type >= 0) {
      num_types_ =
          std::max<std::uint64_t>(num_types_, static_cast<std::uint64_t>(agents[k].type) + 1);
    }
  }

  // Only the types some agent has can be asked about.
  allowed_.assign(num_types_ * num_points_, 0);
  for (std::uint64_t x = 0; x < num_points_; ++x) {
    for (const std::uint64_t t : points[x].types) {
      if (t < num_types_) {
        allowed_[t * num_points_ + x] = 1;
      }
    }
  }

  is_start_.assign(num_points_, 0);
  for (const std::uint64_t s : starts_) {
    if (s < num_points_) {
      is_start_[s] = 1;
    }
  }
  is_goal_.assign(num_points_, 0);
  for (const std::uint64_t g : goals_) {
    if (g < num_points_) {
      is_goal_[g] = 1;
    }
  }

  has_window_.assign(num_points_, 0);
  open_.assign(num_points_, 0.0);
  close_.assign(num_points_, 0.0);
  for (const auto& [v, window] : windows_) {
    if (v < num_points_) {
      has_window_[v] = 1;
      open_[v] = window.first;
      close_[v] = window.second;
    }
  }

  // A route visits only points, so the cache needs no vertex beyond them.
  graph_vertices_ = 0;
  cost_width_ = num_types_;
  if (graph_ != nullptr) {
    graph_vertices_ = std::min<std::uint64_t>(graph_->NumVertex(), num_points_);
    cost_width_ = std::max<std::uint64_t>(graph_->GetCostDim(), num_types_);
  }
  const std::uint64_t cells = graph_vertices_ * graph_vertices_;
  arc_state_.assign(cells, 0);
  if (arc_costs_.size() < cells * cost_width_) {
    arc_costs_.resize(cells * cost_width_);
  }
}

bool PostOptimizerConfig::Serves(std::int64_t type, std::int64_t vertex) const {
  if (type < 0 || vertex < 0) {
    return false;
  }
  const auto t = static_cast<std::uint64_t>(type);
  const auto x = static_cast<std::uint64_t>(vertex);
  return t < num_types_ && x < num_points_ && allowed_[t * num_points_ + x] != 0;
}

bool PostOptimizerConfig::InStartSet(std::int64_t vertex) const {
  return vertex >= 0 && start_set_.count(static_cast<std::uint64_t>(vertex)) != 0;
}

bool PostOptimizerConfig::InGoalSet(std::int64_t vertex) const {
  return vertex >= 0 && goal_set_.count(static_cast<std::uint64_t>(vertex)) != 0;
}

// ---------------------------------------------------------------------------------------------
// Route checks

RouteAgent PostOptimizerConfig::ViewOf(std::uint64_t agent) const {
  RouteAgent a;
  if (agent >= agents_.size()) {
    return a;
  }
  a.known = true;
  a.type = agents_[agent].type;
  a.max_length = agents_[agent].max_length;
  a.start = agent < starts_.size() ? starts_[agent] : kNoVertex;
  a.goal = agent < goals_.size() ? goals_[agent] : kNoVertex;
  return a;
}

bool PostOptimizerConfig::EndpointsOk(const RouteAgent& a, std::int64_t first,
                                      std::int64_t last) const {
  const bool back_at_start = last == first && !return_to_end_;
  if (starts_.empty()) {
    return !goals_.empty() && Is(last, a.goal);
  }
  if (!Is(first, a.start)) {
    return false;
  }
  if (goals_.empty()) {
    return back_at_start;
  }
  return Is(last, a.goal) || back_at_start;
}

// A missing arc costs kNoConnection, as in the search: a graph handed to the solver from outside
// may lack arcs, and reading them as free would under-report a route's cost.
double PostOptimizerConfig::Leg(std::uint64_t u, std::uint64_t v, std::uint64_t type) const {
  if (u >= graph_vertices_ || v >= graph_vertices_) {
    return kNoConnection;
  }
  const std::uint64_t cell = u * graph_vertices_ + v;
  if (arc_state_[cell] == 0) {
    const CostVector cost = graph_->GetArcCost(u, v);
    if (cost.empty()) {
      arc_state_[cell] = 1;
    } else {
      arc_state_[cell] = 2;
      double* out = &arc_costs_[cell * cost_width_];
      const std::uint64_t copied = std::min<std::uint64_t>(cost.size(), cost_width_);
      std::copy_n(cost.begin(), copied, out);
      // A type beyond the arc's vector has no connection on it.
      std::fill(out + copied, out + cost_width_, kNoConnection);
    }
  }
  return arc_state_[cell] == 1 ? kNoConnection : arc_costs_[cell * cost_width_ + type];
}

bool PostOptimizerConfig::Step(const RouteAgent& a, std::size_t i, std::size_t last, std::int64_t x,
                               std::int64_t prev, double& cost) const {
  if (x < 0 || static_cast<std::uint64_t>(x) >= num_points_) {
    return false;
  }
  const auto v = static_cast<std::uint64_t>(x);
  const bool has_starts = !starts_.empty();
  const bool has_goals = !goals_.empty();
  const bool own_start = has_starts && v == a.start;
  const bool own_goal = has_goals && v == a.goal;
  // The agent's own start point may only open or close its route.
  if (own_start && i != 0 && i != last) {
    return false;
  }
  if (!Serves(a.type, x)) {
    return false;
  }
  // Another agent's start or end point is never part of this route.
  if ((has_starts && is_start_[v] != 0 && !own_start) ||
      (has_goals && is_goal_[v] != 0 && !own_goal)) {
    return false;
  }
  if (i > 0) {
    double leg = 0.0;
    const bool free_return = !return_to_end_ && (own_start || own_goal);
    if (graph_ != nullptr && x != prev && !free_return) {
      leg = Leg(static_cast<std::uint64_t>(prev), v, static_cast<std::uint64_t>(a.type));
    }
    cost += leg;
  }
  if (has_time_windows_ && has_window_[v] != 0) {
    if (cost > close_[v]) {
      return false;
    }
    if (cost < open_[v]) {
      cost = open_[v];
    }
  }
  return !(i > 0 && a.max_length > 0.0 && cost > a.max_length);
}

RouteEvaluation PostOptimizerConfig::EvaluateRoute(const Route& route, std::uint64_t agent) const {
  if (route.empty()) {
    return {true, 0.0};
  }
  const RouteAgent a = ViewOf(agent);
  if (!a.known || !EndpointsOk(a, route.front(), route.back())) {
    return {};
  }
  const std::size_t last = route.size() - 1;
  double cost = 0.0;
  for (std::size_t i = 0; i <= last; ++i) {
    if (!Step(a, i, last, route[i], i > 0 ? route[i - 1] : -1, cost)) {
      return {};
    }
  }
  return {true, cost};
}

bool PostOptimizerConfig::TwoOpt(Route& route, double& cost, std::uint64_t agent) {
  const std::size_t n = route.size();
  if (n <= 3) {
    return false;
  }
  bool changed = false;
  for (;;) {
    probe_.Load(*this, route, agent);
    bool accepted = false;
    for (std::size_t i = 1; i + 3 <= n && !accepted; ++i) {
      for (std::size_t j = i + 1; j + 2 <= n; ++j) {
        const RouteEvaluation candidate = probe_.Reversed(i, j);
        if (candidate.valid && candidate.cost + kEpsilon < cost) {
          std::reverse(route.begin() + static_cast<std::ptrdiff_t>(i),
                       route.begin() + static_cast<std::ptrdiff_t>(j) + 1);
          cost = candidate.cost;
          accepted = true;
          break;
        }
      }
    }
    if (!accepted) {
      return changed;
    }
    changed = true;
  }
}

// ---------------------------------------------------------------------------------------------
// Route variants

void RouteProbe::Load(const PostOptimizerConfig& config, const Route& route, std::uint64_t agent) {
  config_ = &config;
  route_ = &route;
  agent_ = config.ViewOf(agent);
  prefix_.clear();
  endpoints_ok_ =
      !route.empty() && agent_.known && config.EndpointsOk(agent_, route.front(), route.back());
  if (!endpoints_ok_) {
    return;
  }
  // Every variant keeps both endpoints, and the positions before its first change are never
  // its last one, so the route's own running costs serve as the variants' up to that point.
  const std::size_t last = route.size() - 1;
  double cost = 0.0;
  for (std::size_t i = 0; i <= last; ++i) {
    if (!config.Step(agent_, i, last, route[i], i > 0 ? route[i - 1] : -1, cost)) {
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
    if (!config_->Step(agent_, i, last, x, prev, cost)) {
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
