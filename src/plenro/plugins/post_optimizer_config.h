#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "plenro/graph/planner_graph.h"
#include "plenro/search/search_records.h"

namespace plenro {

// A route: vertices in visiting order, from the agent's start point to its end point (or back to
// its start point when routes need not end at their end point). Positions 0 and size - 1 are
// the endpoints, 1 .. size - 2 the interior.
using Route = std::vector<std::int64_t>;

// Outcome of checking a route: whether the agent may drive it, and the time it reaches its last
// point (waiting for windows included). The cost is 0.0 for an invalid route.
struct RouteEvaluation {
  bool valid = false;
  double cost = 0.0;
};

class PostOptimizerConfig;

// An agent's fields as the route checks read them. `start` and `goal` are meaningful only when
// starts (goals) are set; an agent unknown to the bound run has `known` false.
struct RouteAgent {
  std::int64_t type = -1;
  double max_length = 0.0;
  std::uint64_t start = 0;
  std::uint64_t goal = 0;
  bool known = false;
};

// Evaluates variants of one route (a segment reversed, one point removed, one point inserted)
// without building them, resuming from the stored costs of the part they share with the route.
// Results are exactly those of EvaluateRoute on the built variant. Load() again whenever the
// route or the configuration's binding changes; the route must stay alive meanwhile.
class RouteProbe {
 public:
  void Load(const PostOptimizerConfig& config, const Route& route, std::uint64_t agent);

  // Positions i..j reversed, 1 <= i < j <= size - 2.
  RouteEvaluation Reversed(std::size_t i, std::size_t j) const;
  // Position pos removed, 1 <= pos <= size - 2.
  RouteEvaluation Without(std::size_t pos) const;
  // `vertex` inserted before position pos, 1 <= pos <= size - 1.
  RouteEvaluation WithInserted(std::size_t pos, std::int64_t vertex) const;

 private:
  template <class At>
  RouteEvaluation Resume(std::size_t from, std::size_t size, At at) const;

  const PostOptimizerConfig* config_ = nullptr;
  const Route* route_ = nullptr;
  RouteAgent agent_;
  bool endpoints_ok_ = false;
  std::vector<double> prefix_;  // cost after each position that passed, from the front
};

// What the post-optimisers share: the instance settings handed over by the four setters, the
// route check with its cost, and segment reversal. Bind() attaches the graph, points and agents
// of one Optimize run; it must precede every evaluation in that run.
class PostOptimizerConfig {
 public:
  void SetReturnToEnd(bool return_to_end) { return_to_end_ = return_to_end; }
  void SetStarts(const std::vector<std::uint64_t>& starts);
  void SetGoals(const std::vector<std::uint64_t>& goals);
  void SetTimeWindows(const TimeWindowMap& windows);

  bool return_to_end() const { return return_to_end_; }
  bool has_time_windows() const { return has_time_windows_; }
  const TimeWindowMap& windows() const { return windows_; }
  const std::vector<std::uint64_t>& starts() const { return starts_; }
  const std::vector<std::uint64_t>& goals() const { return goals_; }
  const std::unordered_set<std::uint64_t>& start_set() const { return start_set_; }
  const std::unordered_set<std::uint64_t>& goal_set() const { return goal_set_; }

  // Prepares the evaluations of one Optimize run: per-point flags, the allowed types, the
  // agents' types and limits, and an empty arc-cost cache over `graph` (not owned; may be null,
  // then every leg costs 0). Arc costs are fetched once per arc and run, on first use.
  void Bind(const PlannerGraph* graph, const std::vector<Point>& points,
            const std::vector<AgentInfo>& agents);

  // Whether agent `agent` may drive `route`, and its cost. An empty route is valid with cost 0.
  RouteEvaluation EvaluateRoute(const Route& route, std::uint64_t agent) const;

  // Shortens `route` (driven by `agent`, currently costing `cost`) by reversing interior
  // segments: the first reversal that lowers the cost by more than 1e-9 is taken and the sweep
  // starts over, until a sweep finds none. Routes of 3 points or fewer are left alone. Returns
  // whether the route changed.
  bool TwoOpt(Route& route, double& cost, std::uint64_t agent);

  // Whether type `type` occurs in the allowed types of point `vertex`.
  bool Serves(std::int64_t type, std::int64_t vertex) const;
  // Whether `vertex` is some agent's start point (or end point).
  bool InStartSet(std::int64_t vertex) const;
  bool InGoalSet(std::int64_t vertex) const;
  std::uint64_t NumAgents() const { return agents_.size(); }
  std::int64_t AgentType(std::uint64_t agent) const { return agents_[agent].type; }
  double MaxLength(std::uint64_t agent) const { return agents_[agent].max_length; }

 private:
  friend class RouteProbe;

  struct AgentData {
    std::int64_t type = -1;
    double max_length = 0.0;
  };

  RouteAgent ViewOf(std::uint64_t agent) const;
  // Endpoint rules, on the first and last vertex of a non-empty route.
  bool EndpointsOk(const RouteAgent& a, std::int64_t first, std::int64_t last) const;
  // The checks at position i of a route whose last position is `last`; adds the leg from
  // `prev` into `cost` and applies waiting. False when the position fails.
  bool Step(const RouteAgent& a, std::size_t i, std::size_t last, std::int64_t x, std::int64_t prev,
            double& cost) const;
  double Leg(std::uint64_t u, std::uint64_t v, std::uint64_t type) const;

  // Settings.
  bool return_to_end_ = true;
  bool has_time_windows_ = false;
  TimeWindowMap windows_;
  std::vector<std::uint64_t> starts_;
  std::vector<std::uint64_t> goals_;
  std::unordered_set<std::uint64_t> start_set_;
  std::unordered_set<std::uint64_t> goal_set_;

  // Tables of the bound run, indexed by vertex (and type) for O(1) checks.
  const PlannerGraph* graph_ = nullptr;
  std::uint64_t num_points_ = 0;
  std::uint64_t num_types_ = 0;
  std::vector<AgentData> agents_;
  std::vector<char> allowed_;  // num_types_ x num_points_
  std::vector<char> is_start_;
  std::vector<char> is_goal_;
  std::vector<char> has_window_;
  std::vector<double> open_;
  std::vector<double> close_;

  // Arc costs fetched so far in this run: state 0 unknown, 1 no arc, 2 costs in arc_costs_.
  std::uint64_t graph_vertices_ = 0;
  std::uint64_t cost_width_ = 0;
  mutable std::vector<char> arc_state_;
  mutable std::vector<double> arc_costs_;

  RouteProbe probe_;  // reused by TwoOpt
};

}  // namespace plenro
