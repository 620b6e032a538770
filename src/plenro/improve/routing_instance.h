#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/improve/route_summary.h"
#include "plenro/instance/instance_view.h"

namespace plenro {

// An agent as the improvement engine plans its route: the type whose costs and permissions
// apply, the fixed start and end points and the route limit (0 or less: none).
struct PlannedAgent {
  std::int32_t type = 0;
  std::int32_t start = 0;
  std::int32_t goal = 0;
  double max_length = 0.0;
  // The load it may carry per dimension (InstanceView::kNoCapacity: no limit).
  std::array<double, LoadSegment::kDims> capacity{};
};

// The instance as the improvement engine works on it, read from the shared instance view: the
// points to serve (every point that is no agent's start or end point), the agents, the legs and
// one route summary per point (its resources). Everything else is asked of the view.
class RoutingInstance {
 public:
  // Requires a view with costs, start and end points and a known type for every agent; throws
  // std::invalid_argument naming what is missing.
  explicit RoutingInstance(const InstanceView& view);

  const InstanceView& view() const { return *view_; }
  // How messages name point v and agent a: "point 4 (node id 7)", "agent 1 (id 12)".
  std::string DescribePoint(std::int32_t v) const;
  std::string DescribeAgent(std::int32_t a) const;
  std::int32_t num_vertices() const { return num_vertices_; }
  std::int32_t num_agents() const { return static_cast<std::int32_t>(agents_.size()); }
  std::int32_t num_types() const { return num_types_; }
  const std::vector<std::int32_t>& customers() const { return customers_; }
  bool IsCustomer(std::int32_t v) const { return is_customer_[v] != 0; }
  const PlannedAgent& agent(std::int32_t a) const { return agents_[a]; }
  // Whether windows or route limits constrain the routes' timing: then a route can break them
  // (the search prices that), and a point placed on a route changes every later place on it.
  bool timed() const { return timed_; }
  // Whether loads constrain the routes (some agent has a capacity and something is carried).
  bool loaded() const { return loaded_; }
  // Whether windows, route limits or loads can be violated, and are priced while searching.
  bool priced() const { return timed_ || loaded_; }
  // Whether orders tie points together (shipments, pairs, precedences): then every move and
  // insertion is checked against them (see LinksHold, PlaceKeepsOrders).
  bool linked() const { return view_->has_orders(); }
  // The orders naming point v, and whether v must share a route with another point.
  std::span<const std::uint32_t> OrdersOf(std::int32_t v) const {
    return view_->OrdersOf(static_cast<std::uint64_t>(v));
  }
  const OrderLink& Order(std::uint32_t k) const { return view_->orders()[k]; }
  // The point v must share its route with (the other of its first shipment or pair of one
  // route), and whether v comes first; -1 when it has none.
  std::int32_t Partner(std::int32_t v) const { return partner_[static_cast<std::size_t>(v)]; }
  bool PartnerFirst(std::int32_t v) const {
    return partner_first_[static_cast<std::size_t>(v)] != 0;
  }
  // Whether routes may end back at their start point, with free legs into the own endpoints.
  bool open_routes() const { return !view_->return_to_end(); }
  bool Serves(std::int32_t type, std::int32_t v) const { return view_->Allows(type, v); }

  // What agent `agent` pays for the leg u -> v: the view's one leg rule (nothing for staying
  // put or for the free ending of an open route).
  double Leg(std::int32_t u, std::int32_t v, std::int32_t agent) const {
    // Into a point to serve from another point, the rule is the type's table cost: read it
    // straight from the table where it has every such arc (the timing of every move asks this).
    if (direct_ && is_customer_[v] != 0 && u != v) {
      return table_->Cost(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v),
                          static_cast<std::uint64_t>(agents_[agent].type));
    }
    return view_->Leg(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v),
                      static_cast<std::uint64_t>(agent));
  }
  // What type `type` pays between two different points to serve (no free leg among them).
  double Cost(std::int32_t u, std::int32_t v, std::int32_t type) const {
    return view_->Cost(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v),
                       static_cast<std::uint64_t>(type));
  }
  // The summary of the single point v: its resources (its window, if any).
  const RouteSummary& Single(std::int32_t v) const { return singles_[v]; }
  // `a` then `b` on the route of agent `agent`, paying the leg between them.
  RouteSummary Join(const RouteSummary& a, const RouteSummary& b, std::int32_t agent) const {
    if (a.empty() || b.empty()) {
      return a.empty() ? b : a;
    }
    const double leg = Leg(a.last, b.first, agent);
    return plenro::Join(a, b, leg, IsNoConnection(leg));
  }

 private:
  const InstanceView* view_;
  const CostTable* table_;
  // The table covers every point and type and has every arc into a point to serve, so that
  // such legs need none of the view's checks.
  bool direct_ = false;
  std::int32_t num_vertices_ = 0;
  std::int32_t num_types_ = 0;
  std::vector<PlannedAgent> agents_;
  std::vector<std::int32_t> customers_;
  std::vector<char> is_customer_;
  std::vector<RouteSummary> singles_;
  bool timed_ = false;
  bool loaded_ = false;
  std::vector<std::int32_t> partner_;
  std::vector<char> partner_first_;  // v comes before its partner
};

}  // namespace plenro
