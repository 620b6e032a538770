#include "plenro/plugins/default_post_optimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "plenro/model/log_sink.h"

namespace plenro {

namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

[[noreturn]] void ThrowNoGroup(std::int64_t type, const char* tail) {
  std::ostringstream message;
  message << "Error: no group with type " << type << tail;
  throw std::logic_error(message.str());
}

std::ptrdiff_t Offset(std::int64_t pos) {
  return static_cast<std::ptrdiff_t>(pos);
}

}  // namespace

void DefaultPostOptimizer::Optimize(Result& result) {
  groups_.clear();
  group_order_.clear();
  route_table_.clear();
  const std::uint64_t m = view().num_agents();
  route_table_.resize(m);
  kept_invalid_.assign(m, 0);
  incoming_cost_.assign(m, 0.0);

  // Group the agents by type, in agent order.
  for (std::uint64_t i = 0; i < m; ++i) {
    const auto path = result.paths.find(i);
    Route route = path != result.paths.end() ? path->second : Route{};
    const RouteEvaluation evaluation = CheckRoute(route, i);
    const auto time = result.times.find(i);
    incoming_cost_[i] = time != result.times.end() ? time->second : 0.0;
    kept_invalid_[i] = evaluation.valid ? 0 : 1;
    const auto agent = static_cast<std::int64_t>(i);
    AddToGroup(agent, view().AgentType(i), evaluation.cost);
    route_table_[i] = RouteRecord{agent, evaluation.cost, std::move(route)};
  }

  for (const std::int64_t type : group_order_) {
    ImproveWithinGroup(type);
  }
  BalanceGroups();

  std::unordered_map<std::uint64_t, std::vector<std::int64_t>> paths;
  std::unordered_map<std::uint64_t, double> times;
  paths.reserve(m);
  times.reserve(m);
  for (std::uint64_t i = 0; i < m; ++i) {
    paths[i] = route_table_[i].route;
    times[i] = kept_invalid_[i] != 0 ? incoming_cost_[i] : route_table_[i].cost;
  }
  result.paths = std::move(paths);
  result.times = std::move(times);
}

RouteEvaluation DefaultPostOptimizer::CheckRoute(const Route& route, std::uint64_t agent) const {
  const RouteEvaluation evaluation = evaluator().Evaluate(route, agent);
  if (!evaluation.valid) {
    Log(LogStream::kErr, "[post-opt] invalid path for agent ", agent, ", skip optimize\n");
  }
  return evaluation;
}

double DefaultPostOptimizer::RouteCost(const Route& route, std::uint64_t agent) const {
  return CheckRoute(route, agent).cost;
}

void DefaultPostOptimizer::AddToGroup(std::int64_t agent, std::int64_t type, double cost) {
  const auto found = groups_.find(type);
  if (found == groups_.end()) {
    groups_.emplace(type, AgentGroup{1, type, agent, agent, {agent}});
    group_order_.push_back(type);
    return;
  }
  AgentGroup& group = found->second;
  group.members.push_back(agent);
  if (group.count == 0) {
    std::ostringstream message;
    message << "group " << type << " size is 0 after initialize ?";
    throw std::logic_error(message.str());
  }
  if (cost > route_table_[group.longest].cost) {
    group.longest = agent;
  } else if (cost < route_table_[group.shortest].cost) {
    group.shortest = agent;
  }
  group.count += 1;
}

void DefaultPostOptimizer::ImproveWithinGroup(std::int64_t type) {
  const auto found = groups_.find(type);
  if (found == groups_.end()) {
    ThrowNoGroup(type, " to InGroup optimize !");
  }
  for (const std::int64_t u : found->second.members) {
    RouteRecord& record = route_table_[u];
    const auto agent = static_cast<std::uint64_t>(u);
    const double cost = RouteCost(record.route, agent);
    if (std::abs(cost) <= kLargest) {
      record.cost = cost;
      if (two_opt_.Improve(evaluator(), record.route, record.cost, agent)) {
        MarkChanged(record);
      }
    }
    const double limit = view().MaxLength(agent);
    if (!std::isfinite(record.cost) || (limit > 0.0 && limit < record.cost)) {
      Log(LogStream::kErr, "[post-opt] path invalid or over capacity, skip agent ", u, "\n");
    }
  }
  RefreshGroup(type);

  // At most one move inside the group.
  const Relocation move = BestRelocation(type, type);
  if (move.gain > 0.0) {
    ApplyRelocation(route_table_[GroupOf(move.from_type).longest],
                    route_table_[GroupOf(move.to_type).shortest], move);
    RefreshGroup(type);
  }
}

void DefaultPostOptimizer::BalanceGroups() {
  for (;;) {
    if (group_order_.empty()) {
      return;
    }
    // hi: the group whose longest route is longest; lo: the one whose longest route is
    // shortest. The first group in creation order wins ties.
    std::int64_t hi = 0;
    std::int64_t lo = 0;
    bool has_hi = false;
    bool has_lo = false;
    double hi_cost = -1.0;
    double lo_cost = kLargest;
    for (const std::int64_t type : group_order_) {
      const double cost = route_table_[groups_.at(type).longest].cost;
      if (cost > hi_cost) {
        hi_cost = cost;
        hi = type;
        has_hi = true;
      }
      if (cost < lo_cost) {
        lo_cost = cost;
        lo = type;
        has_lo = true;
      }
    }
    if (!has_hi || !has_lo || hi == lo) {
      return;
    }
    const Relocation move = BestRelocation(hi, lo);
    if (!(move.gain > 0.0)) {
      return;
    }
    ApplyRelocation(route_table_[GroupOf(move.from_type).longest],
                    route_table_[GroupOf(move.to_type).shortest], move);
    RefreshGroup(hi);
    RefreshGroup(lo);
  }
}

DefaultPostOptimizer::AgentGroup& DefaultPostOptimizer::GroupOf(std::int64_t type) {
  const auto found = groups_.find(type);
  if (found == groups_.end()) {
    ThrowNoGroup(type, "");
  }
  return found->second;
}

const DefaultPostOptimizer::AgentGroup& DefaultPostOptimizer::group(std::int64_t type) const {
  const auto found = groups_.find(type);
  if (found == groups_.end()) {
    ThrowNoGroup(type, "");
  }
  return found->second;
}

void DefaultPostOptimizer::RefreshGroup(std::int64_t type) {
  AgentGroup& group = GroupOf(type);
  double largest = -1.0;
  double smallest = kLargest;
  for (const std::int64_t u : group.members) {
    const double cost = route_table_[u].cost;
    if (cost > largest) {
      largest = cost;
      group.longest = u;
    }
    if (cost < smallest) {
      smallest = cost;
      group.shortest = u;
    }
  }
}

DefaultPostOptimizer::Relocation DefaultPostOptimizer::BestRelocation(std::int64_t from_type,
                                                                      std::int64_t to_type) {
  const std::int64_t g = GroupOf(from_type).longest;
  const std::int64_t h = GroupOf(to_type).shortest;
  Relocation best{-1, -1, from_type, to_type, 0.0};
  if (g == h) {
    return best;
  }
  const RouteRecord& giving = route_table_[g];
  const RouteRecord& receiving = route_table_[h];
  const Route& r = giving.route;
  const Route& q = receiving.route;
  if (r.size() < 3 || q.size() < 2) {
    return best;
  }
  giving_probe_.Load(evaluator(), r, static_cast<std::uint64_t>(g));
  receiving_probe_.Load(evaluator(), q, static_cast<std::uint64_t>(h));
  for (std::size_t i = 1; i + 1 < r.size(); ++i) {
    const std::int64_t p = r[i];
    if (from_type != to_type && (p < 0 || !view().Allows(to_type, static_cast<std::uint64_t>(p)))) {
      continue;
    }
    // The shortened giving route is the same for every insertion position.
    const RouteEvaluation shortened = giving_probe_.Without(i);
    if (!shortened.valid) {
      continue;
    }
    for (std::size_t j = 1; j < q.size(); ++j) {
      const RouteEvaluation grown = receiving_probe_.WithInserted(j, p);
      if (!grown.valid) {
        continue;
      }
      const double gain = giving.cost - std::max(shortened.cost, grown.cost);
      if (gain > best.gain) {
        best = Relocation{static_cast<std::int64_t>(i), static_cast<std::int64_t>(j), from_type,
                          to_type, gain};
      }
    }
  }
  return best;
}

void DefaultPostOptimizer::ApplyRelocation(RouteRecord& giving, RouteRecord& receiving,
                                           const Relocation& move) {
  if (&giving == &receiving || giving.route.size() <= 1 || receiving.route.size() <= 1) {
    return;
  }
  const auto giving_size = static_cast<std::int64_t>(giving.route.size());
  const auto receiving_size = static_cast<std::int64_t>(receiving.route.size());
  if (move.from_pos < 1 || move.from_pos > giving_size - 2 || move.to_pos < 1 ||
      move.to_pos > receiving_size - 1) {
    return;
  }
  const std::int64_t p = giving.route[static_cast<std::size_t>(move.from_pos)];
  giving_probe_.Load(evaluator(), giving.route, static_cast<std::uint64_t>(giving.agent));
  receiving_probe_.Load(evaluator(), receiving.route, static_cast<std::uint64_t>(receiving.agent));
  const RouteEvaluation shortened = giving_probe_.Without(static_cast<std::size_t>(move.from_pos));
  const RouteEvaluation grown =
      receiving_probe_.WithInserted(static_cast<std::size_t>(move.to_pos), p);
  if (!shortened.valid || !grown.valid) {
    return;
  }
  giving.route.erase(giving.route.begin() + Offset(move.from_pos));
  receiving.route.insert(receiving.route.begin() + Offset(move.to_pos), p);
  giving.cost = shortened.cost;
  receiving.cost = grown.cost;
  MarkChanged(giving);
  MarkChanged(receiving);
}

void DefaultPostOptimizer::MarkChanged(const RouteRecord& record) {
  if (record.agent >= 0 && static_cast<std::size_t>(record.agent) < kept_invalid_.size()) {
    kept_invalid_[static_cast<std::size_t>(record.agent)] = 0;
  }
}

}  // namespace plenro
