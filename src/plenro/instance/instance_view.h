#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/graph/no_connection.h"
#include "plenro/graph/planner_graph.h"
#include "plenro/instance/instance_records.h"

namespace plenro {

// The instance as every component of one solve reads it, built once: the points with their
// allowed types, the agents, their start and end points, the windows, the return rule and one
// dense cost table. The search set-up fills it; the checkers, the post-optimisers and the
// improvement engine read it instead of keeping tables of their own.
//
// Every per-vertex lookup is O(1). Vertices at or above num_points() have no flags and no
// window. An empty starts (goals) list means "not set": the rules that mention start (end)
// points then do not apply.
//
// Each setter replaces what an earlier call stored and rebuilds the tables that depend on it,
// so the setters may come in any order.
class InstanceView {
 public:
  void SetPoints(const std::vector<Point>& points);
  void SetAgents(const std::vector<AgentInfo>& agents);
  void SetStarts(const std::vector<std::uint64_t>& starts);
  void SetGoals(const std::vector<std::uint64_t>& goals);
  void SetTimeWindows(const TimeWindowMap& windows);
  void SetReturnToEnd(bool return_to_end) { return_to_end_ = return_to_end; }
  // Snapshots the graph's costs (null: no costs).
  void SetCosts(const PlannerGraph* graph);
  // Takes a table built without a graph.
  void SetCosts(CostTable table);
  // Whether the loads, service durations and orders below apply; off (the default) every
  // point has no load and no service, every agent no capacity and no order binds.
  void SetEnforced(bool enforced);
  // The orders between points (vertex indices; those naming no point are dropped).
  void SetOrders(const std::vector<OrderLink>& orders);

  // Sizes. num_types() covers every agent's type and the cost table's width.
  std::uint64_t num_points() const { return points_.size(); }
  std::uint64_t num_agents() const { return agents_.size(); }
  std::uint64_t num_types() const { return num_types_; }

  const std::vector<Point>& points() const { return points_; }
  const std::vector<AgentInfo>& agents() const { return agents_; }
  const std::vector<std::uint64_t>& starts() const { return starts_; }
  const std::vector<std::uint64_t>& goals() const { return goals_; }
  const TimeWindowMap& windows() const { return windows_; }
  bool return_to_end() const { return return_to_end_; }

  // Agents, by agent index (below num_agents()).
  std::int64_t AgentType(std::uint64_t agent) const { return agents_[agent].type; }
  // 0 or less: no limit.
  double MaxLength(std::uint64_t agent) const { return agents_[agent].max_length; }
  bool has_starts() const { return !starts_.empty(); }
  bool has_goals() const { return !goals_.empty(); }
  // Require has_starts() (has_goals()) and agent below the list's size.
  std::uint64_t Start(std::uint64_t agent) const { return starts_[agent]; }
  std::uint64_t Goal(std::uint64_t agent) const { return goals_[agent]; }

  // Per vertex.
  bool IsStart(std::uint64_t v) const { return v < is_start_.size() && is_start_[v] != 0; }
  bool IsGoal(std::uint64_t v) const { return v < is_goal_.size() && is_goal_[v] != 0; }
  bool has_windows() const { return !windows_.empty(); }
  bool HasWindow(std::uint64_t v) const { return v < has_window_.size() && has_window_[v] != 0; }
  // Require HasWindow(v).
  double Open(std::uint64_t v) const { return open_[v]; }
  double Close(std::uint64_t v) const { return close_[v]; }
  // Whether agents of type `type` may serve vertex v (false for a negative type).
  bool Allows(std::int64_t type, std::uint64_t v) const {
    return type >= 0 && static_cast<std::uint64_t>(type) < num_types_ && v < num_points() &&
           allowed_[static_cast<std::uint64_t>(type) * num_points() + v] != 0;
  }

  // Loads, service and orders: all empty unless enforced.
  bool enforced() const { return enforced_; }
  // Load dimensions: the most of any point's amounts, agent's capacities or shipment's amount;
  // 0 when nothing carries a load.
  std::size_t load_dims() const { return dims_; }
  // What point v adds to the load its agent leaves the start with (its delivery), and how
  // the load changes at v (its pickup and the shipments it starts, less its delivery and the
  // shipments it ends), in dimension d below load_dims().
  double StartLoad(std::uint64_t v, std::size_t d) const { return start_load_[v * dims_ + d]; }
  double LoadChange(std::uint64_t v, std::size_t d) const { return load_change_[v * dims_ + d]; }
  // The agent's capacity in dimension d; infinity for no limit.
  double Capacity(std::uint64_t agent, std::size_t d) const { return capacity_[agent * dims_ + d]; }
  // Service duration at vertex v: points that are no start and no end point only; 0 beyond.
  bool has_service() const { return has_service_; }
  double Service(std::uint64_t v) const { return v < service_.size() ? service_[v] : 0.0; }
  // The orders, and the indices into them of those that name point v.
  bool has_orders() const { return !orders_.empty(); }
  const std::vector<OrderLink>& orders() const { return orders_; }
  std::span<const std::uint32_t> OrdersOf(std::uint64_t v) const {
    if (v + 1 >= order_begin_.size()) {
      return {};
    }
    return {order_index_.data() + order_begin_[v], order_begin_[v + 1] - order_begin_[v]};
  }
  // Whether any rule of loads, service or order constrains the routes.
  bool has_route_rules() const { return dims_ > 0 || has_service_ || has_orders(); }
  static constexpr double kNoCapacity = std::numeric_limits<double>::infinity();

  // Costs. has_costs() is false until a graph or a table is given.
  bool has_costs() const { return has_costs_; }
  const CostTable& costs() const { return costs_; }
  // What type `type` pays from u to v: the table's cost, or kNoConnection for a missing arc,
  // a type beyond the table and vertices outside it.
  double Cost(std::uint64_t u, std::uint64_t v, std::uint64_t type) const {
    if (u >= costs_.NumVertex() || v >= costs_.NumVertex() || type >= costs_.CostDim() ||
        !costs_.HasArc(u, v)) {
      return kNoConnection;
    }
    return costs_.Cost(u, v, type);
  }
  // Whether type `type` can travel from u to v at all.
  bool Connected(std::uint64_t u, std::uint64_t v, std::uint64_t type) const {
    return !IsNoConnection(Cost(u, v, type));
  }

  // The rules of one agent (below num_agents()).

  // Whether the agent's type may serve point v (the assignment rule alone).
  bool TypeAllows(std::uint64_t agent, std::uint64_t v) const {
    return agent < num_agents() && v < num_points() && agent_rules_[agent * num_points() + v] != 0;
  }
  // Whether the agent may take point v into its route: its type serves v, and v is no other
  // agent's start point (as far as starts are set) nor another agent's end point (as far as
  // goals are set).
  bool MayServe(std::uint64_t agent, std::uint64_t v) const {
    return agent < num_agents() && v < num_points() &&
           agent_rules_[agent * num_points() + v] == kServes;
  }
  // Whether v is the agent's own start (end) point; false while starts (goals) are not set.
  bool IsOwnStart(std::uint64_t agent, std::uint64_t v) const {
    return agent < starts_.size() && starts_[agent] == v;
  }
  bool IsOwnGoal(std::uint64_t agent, std::uint64_t v) const {
    return agent < goals_.size() && goals_[agent] == v;
  }
  // Whether the leg into v ends the agent's route for free: routes need not return to their
  // end point, and v is the agent's own start or end point.
  bool FreeEnding(std::uint64_t agent, std::uint64_t v) const {
    return !return_to_end_ && (IsOwnStart(agent, v) || IsOwnGoal(agent, v));
  }
  // What the agent pays for the leg u -> v, the one leg rule of every route: nothing for
  // staying put (u == v) and for a free ending, else Cost(u, v, its type). A leg it pays that
  // is no connection (IsNoConnection) is never travelled.
  double Leg(std::uint64_t u, std::uint64_t v, std::uint64_t agent) const {
    if (u == v || FreeEnding(agent, v)) {
      return 0.0;
    }
    const std::int64_t type = AgentType(agent);
    return type < 0 ? kNoConnection : Cost(u, v, static_cast<std::uint64_t>(type));
  }

 private:
  // Per agent and point: 0 its type may not serve the point, kTypeAllows it may but the point
  // is another agent's start or end point, kServes it may take the point.
  static constexpr char kTypeAllows = 1;
  static constexpr char kServes = 2;

  void RebuildTypes();
  void RebuildEndpointFlags();
  void RebuildWindows();
  // The per-agent table; after every change of points, agents, endpoints or types.
  void RebuildAgentRules();
  // Loads, service and the orders' index; after every change of points, agents, endpoints,
  // orders or enforcement.
  void RebuildLoads();

  std::vector<Point> points_;
  std::vector<AgentInfo> agents_;
  std::vector<std::uint64_t> starts_;
  std::vector<std::uint64_t> goals_;
  TimeWindowMap windows_;
  bool return_to_end_ = true;
  CostTable costs_;
  bool has_costs_ = false;

  std::uint64_t num_types_ = 0;
  std::vector<char> allowed_;  // num_types_ x num_points()
  std::vector<char> is_start_;
  std::vector<char> is_goal_;
  std::vector<char> agent_rules_;  // num_agents() x num_points()
  std::vector<char> has_window_;
  std::vector<double> open_;
  std::vector<double> close_;

  bool enforced_ = false;
  std::vector<OrderLink> given_orders_;
  std::vector<OrderLink> orders_;  // the given ones while enforced, else none
  std::size_t dims_ = 0;
  std::vector<double> start_load_;   // num_points() x dims_
  std::vector<double> load_change_;  // num_points() x dims_
  std::vector<double> capacity_;     // num_agents() x dims_
  bool has_service_ = false;
  std::vector<double> service_;
  std::vector<std::uint32_t> order_begin_;  // per point, into order_index_ (num_points() + 1)
  std::vector<std::uint32_t> order_index_;
};

}  // namespace plenro
