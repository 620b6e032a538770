#include "plenro/instance/instance_view.h"

#include <algorithm>
#include <utility>

namespace plenro {

void InstanceView::SetPoints(const std::vector<Point>& points) {
  points_ = points;
  RebuildTypes();
  RebuildEndpointFlags();
  RebuildWindows();
  RebuildAgentRules();
  RebuildLoads();
}

void InstanceView::SetAgents(const std::vector<AgentInfo>& agents) {
  agents_ = agents;
  RebuildTypes();
  RebuildAgentRules();
  RebuildLoads();
}

void InstanceView::SetEnforced(bool enforced) {
  enforced_ = enforced;
  RebuildLoads();
}

void InstanceView::SetOrders(const std::vector<OrderLink>& orders) {
  given_orders_ = orders;
  RebuildLoads();
}

void InstanceView::SetStarts(const std::vector<std::uint64_t>& starts) {
  starts_ = starts;
  RebuildEndpointFlags();
  RebuildAgentRules();
  RebuildLoads();
}

void InstanceView::SetGoals(const std::vector<std::uint64_t>& goals) {
  goals_ = goals;
  RebuildEndpointFlags();
  RebuildAgentRules();
  RebuildLoads();
}

void InstanceView::SetTimeWindows(const TimeWindowMap& windows) {
  windows_ = windows;
  RebuildWindows();
}

void InstanceView::SetCosts(const PlannerGraph* graph) {
  has_costs_ = graph != nullptr;
  costs_ = graph != nullptr ? CostTable(*graph) : CostTable();
  RebuildTypes();
  RebuildAgentRules();
}

void InstanceView::SetCosts(CostTable table) {
  has_costs_ = true;
  costs_ = std::move(table);
  RebuildTypes();
  RebuildAgentRules();
}

void InstanceView::RebuildTypes() {
  num_types_ = costs_.CostDim();
  for (const AgentInfo& agent : agents_) {
    if (agent.type >= 0) {
      num_types_ = std::max<std::uint64_t>(num_types_, static_cast<std::uint64_t>(agent.type) + 1);
    }
  }
  const std::uint64_t n = num_points();
  allowed_.assign(num_types_ * n, 0);
  for (std::uint64_t v = 0; v < n; ++v) {
    for (const std::uint64_t t : points_[v].types) {
      if (t < num_types_) {
        allowed_[t * n + v] = 1;
      }
    }
  }
}

void InstanceView::RebuildEndpointFlags() {
  const std::uint64_t n = num_points();
  is_start_.assign(n, 0);
  for (const std::uint64_t s : starts_) {
    if (s < n) {
      is_start_[s] = 1;
    }
  }
  is_goal_.assign(n, 0);
  for (const std::uint64_t g : goals_) {
    if (g < n) {
      is_goal_[g] = 1;
    }
  }
}

void InstanceView::RebuildAgentRules() {
  const std::uint64_t n = num_points();
  agent_rules_.assign(num_agents() * n, 0);
  for (std::uint64_t agent = 0; agent < num_agents(); ++agent) {
    for (std::uint64_t v = 0; v < n; ++v) {
      if (!Allows(AgentType(agent), v)) {
        continue;
      }
      const bool foreign_goal = IsGoal(v) && !IsOwnGoal(agent, v);
      const bool foreign_start = IsStart(v) && !IsOwnStart(agent, v);
      agent_rules_[agent * n + v] = foreign_goal || foreign_start ? kTypeAllows : kServes;
    }
  }
}

void InstanceView::RebuildWindows() {
  const std::uint64_t n = num_points();
  has_window_.assign(n, 0);
  open_.assign(n, 0.0);
  close_.assign(n, 0.0);
  // Windows of vertices beyond the points are never asked for.
  for (const auto& [v, window] : windows_) {
    if (v < n) {
      has_window_[v] = 1;
      open_[v] = window.first;
      close_[v] = window.second;
    }
  }
}

void InstanceView::RebuildLoads() {
  const std::uint64_t n = num_points();
  // Orders naming vertices beyond the points bind nothing.
  orders_.clear();
  for (const OrderLink& link : given_orders_) {
    if (enforced_ && link.first < n && link.second < n) {
      orders_.push_back(link);
    }
  }
  const std::vector<OrderLink>& orders = orders_;
  dims_ = 0;
  if (enforced_) {
    for (const Point& point : points_) {
      dims_ = std::max({dims_, point.delivery.size(), point.pickup.size()});
    }
    for (const AgentInfo& agent : agents_) {
      dims_ = std::max(dims_, agent.capacities.size());
    }
    for (const OrderLink& link : orders) {
      dims_ = std::max(dims_, link.amount.size());
    }
  }
  start_load_.assign(n * dims_, 0.0);
  load_change_.assign(n * dims_, 0.0);
  capacity_.assign(num_agents() * dims_, kNoCapacity);
  service_.assign(n, 0.0);
  has_service_ = false;
  for (std::uint64_t v = 0; v < n && enforced_; ++v) {
    const Point& point = points_[v];
    for (std::size_t d = 0; d < point.delivery.size(); ++d) {
      start_load_[v * dims_ + d] += point.delivery[d];
      load_change_[v * dims_ + d] -= point.delivery[d];
    }
    for (std::size_t d = 0; d < point.pickup.size(); ++d) {
      load_change_[v * dims_ + d] += point.pickup[d];
    }
    // Start and end points serve nothing: their service does not count.
    if (!IsStart(v) && !IsGoal(v) && point.service > 0.0) {
      service_[v] = point.service;
      has_service_ = true;
    }
  }
  for (std::uint64_t a = 0; a < num_agents() && enforced_; ++a) {
    const std::vector<double>& limits = agents_[a].capacities;
    for (std::size_t d = 0; d < limits.size(); ++d) {
      if (limits[d] > 0.0) {
        capacity_[a * dims_ + d] = limits[d];
      }
    }
  }
  order_begin_.assign(n + 1, 0);
  order_index_.clear();
  for (const OrderLink& link : orders) {
    for (const std::uint64_t v : {link.first, link.second}) {
      if (v < n) {
        ++order_begin_[v + 1];
      }
    }
    if (link.kind == LinkKind::kShipment && link.first < n && link.second < n) {
      for (std::size_t d = 0; d < link.amount.size(); ++d) {
        load_change_[link.first * dims_ + d] += link.amount[d];
        load_change_[link.second * dims_ + d] -= link.amount[d];
      }
    }
  }
  for (std::uint64_t v = 0; v < n; ++v) {
    order_begin_[v + 1] += order_begin_[v];
  }
  order_index_.resize(order_begin_[n]);
  std::vector<std::uint32_t> next(order_begin_.begin(), order_begin_.end() - 1);
  for (std::size_t i = 0; i < orders.size(); ++i) {
    for (const std::uint64_t v : {orders[i].first, orders[i].second}) {
      if (v < n) {
        order_index_[next[v]++] = static_cast<std::uint32_t>(i);
      }
    }
  }
}

}  // namespace plenro
