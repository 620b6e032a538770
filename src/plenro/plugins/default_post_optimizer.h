#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "plenro/instance/route_evaluation.h"
#include "plenro/plugins/two_opt.h"
#include "plenro/plugins/view_post_optimizer.h"

namespace plenro {

// Rebalances a solution among agents of the same type. Every route is first shortened on its
// own by segment reversal; then, per type group, one interior point moves from the group's
// longest route to its shortest one when that lowers the larger of the two below the longest
// route's cost; finally points move from the group whose longest route is longest to the group
// whose longest route is shortest, as long as such a move pays.
//
// A route the agent may not drive (wrong endpoints, a point its type may not serve, another
// agent's start or end point, a missed window, over its length limit) is reported on standard
// error and counts as cost 0.0 inside, so that no move pays by touching it; it is written back
// unchanged with the cost it came in with.
class DefaultPostOptimizer : public ViewPostOptimizer {
 public:
  // The agents of one type.
  struct AgentGroup {
    std::int64_t count = 0;
    std::int64_t type = 0;
    std::int64_t longest = 0;           // member with the largest route cost
    std::int64_t shortest = 0;          // member with the smallest route cost
    std::vector<std::int64_t> members;  // in order of addition
  };

  // One agent's route being improved.
  struct RouteRecord {
    std::int64_t agent = 0;
    double cost = 0.0;
    Route route;
  };

  // One interior point moving from the longest route of group `from_type` (position `from_pos`)
  // to the shortest route of group `to_type` (before position `to_pos`). -1 positions and gain
  // 0.0 mean no move.
  struct Relocation {
    std::int64_t from_pos = -1;
    std::int64_t to_pos = -1;
    std::int64_t from_type = 0;
    std::int64_t to_type = 0;
    double gain = 0.0;
  };

  std::string Name() const override { return "DefaultPostOptimizer"; }

  // Replaces the result's paths and times by one entry per agent index 0..M-1 (the view's
  // agents); nothing else in the result changes.
  void Optimize(Result& result) override;

  // The steps of Optimize. They work on the tables the last Optimize left.

  // The route's cost, or 0.0 with a note on standard error when the agent may not drive it.
  double RouteCost(const Route& route, std::uint64_t agent) const;
  // Recomputes the longest and shortest member of group `type` (earlier members win ties).
  // Throws std::logic_error when there is no such group.
  void RefreshGroup(std::int64_t type);
  // The best move of one interior point from the longest route of group `from_type` to the
  // shortest route of group `to_type`: the largest strictly positive gain, first found on ties
  // (smallest position taken out, then smallest insertion position). Throws std::logic_error
  // when a group is missing.
  Relocation BestRelocation(std::int64_t from_type, std::int64_t to_type);
  // Carries out `move` when it fits both routes and leaves both valid; otherwise (and for a
  // record given as both sides) nothing changes.
  void ApplyRelocation(RouteRecord& giving, RouteRecord& receiving, const Relocation& move);

  const std::vector<std::int64_t>& group_order() const { return group_order_; }
  // Throws std::logic_error when there is no such group.
  const AgentGroup& group(std::int64_t type) const;
  const std::vector<RouteRecord>& route_table() const { return route_table_; }

 private:
  AgentGroup& GroupOf(std::int64_t type);
  // The evaluation, with the note on standard error for a route the agent may not drive.
  RouteEvaluation CheckRoute(const Route& route, std::uint64_t agent) const;
  void AddToGroup(std::int64_t agent, std::int64_t type, double cost);
  void ImproveWithinGroup(std::int64_t type);
  void BalanceGroups();
  // Forgets that a record came in invalid once a move has given it a new, valid route.
  void MarkChanged(const RouteRecord& record);

  std::vector<std::int64_t> group_order_;
  std::unordered_map<std::int64_t, AgentGroup> groups_;
  std::vector<RouteRecord> route_table_;

  // Per agent: whether its route came in invalid and is still unchanged, and the cost the
  // result held for it, which is what such a route is written back with.
  std::vector<char> kept_invalid_;
  std::vector<double> incoming_cost_;

  RouteProbe giving_probe_;
  RouteProbe receiving_probe_;
  TwoOpt two_opt_;
};

}  // namespace plenro
