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
}

void InstanceView::SetAgents(const std::vector<AgentInfo>& agents) {
  agents_ = agents;
  RebuildTypes();
  RebuildAgentRules();
}

void InstanceView::SetStarts(const std::vector<std::uint64_t>& starts) {
  starts_ = starts;
  RebuildEndpointFlags();
  RebuildAgentRules();
}

void InstanceView::SetGoals(const std::vector<std::uint64_t>& goals) {
  goals_ = goals;
  RebuildEndpointFlags();
  RebuildAgentRules();
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

}  // namespace plenro
