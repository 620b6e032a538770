#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plenro/instance/instance_view.h"

namespace plenro {

// A route: vertices in visiting order, from the agent's start point to its end point (or back to
// its start point when routes need not end at their end point). Positions 0 and size - 1 are
// the endpoints, 1 .. size - 2 the interior.
using Route = std::vector<std::int64_t>;

// Outcome of judging a route: whether the agent may drive it, and the time it reaches its last
// point (waiting for windows included). The cost is 0.0 for an invalid route.
struct RouteEvaluation {
  bool valid = false;
  double cost = 0.0;
};

// One stop of a route as its agent drives it: when it arrives, starts service (after waiting
// for the window), leaves, and the load on board after the stop (one entry per load dimension).
struct Stop {
  double arrival = 0.0;
  double start = 0.0;
  double departure = 0.0;
  std::vector<double> load;
};

// The one judge of whole routes, on the instance view it is bound to. A route is valid for an
// agent when
// - its endpoints fit: without starts it ends at the agent's end point (and without goals too,
//   no route is valid); with starts it begins at the agent's start point and ends at its end
//   point (when goals are set), or back at its start point when routes need not return;
// - the agent's own start point appears only at the ends;
// - the agent may serve every point inside it (InstanceView::MayServe); its type serves the
//   two ends, which may be other agents' start or end points as well;
// - every leg it pays (InstanceView::Leg) has a connection; without costs every leg is free;
// - every window is met on arrival, waiting until it opens;
// - after every leg, the cost stays within the agent's max_length (when positive);
// and where the view enforces them (InstanceView::enforced):
// - the agent leaves a point its service duration after service starts there;
// - the load stays within the agent's capacity in every dimension, from its start (loaded with
//   every delivery of the route) to its end;
// - a shipment or a pair of one route has both points on the route, its first one earlier; a
//   pair of two routes has not both on it; a precedence on the route starts service at its
//   first point no later than at its second. Precedences across routes are judged by
//   `OrdersAcross` on the schedules of all routes.
// The cost is the arrival time at the last point.
class RouteEvaluator {
 public:
  // Loads above a capacity by less than this, and precedences across routes late by less than
  // this, are rounding, not violations.
  static constexpr double kLoadTolerance = 1e-9;
  static constexpr double kTimeTolerance = 1e-9;

  RouteEvaluator() = default;
  explicit RouteEvaluator(const InstanceView& view) : view_(&view) {}

  // Judges routes on `view` from now on (not owned; must outlive the use).
  void Bind(const InstanceView& view) { view_ = &view; }
  // Requires a bound view.
  const InstanceView& view() const { return *view_; }

  // Whether agent `agent` may drive `route`, and its cost. An empty route is valid with cost 0.
  // Requires a bound view.
  RouteEvaluation Evaluate(const Route& route, std::uint64_t agent) const;

  // The stops of a route the agent may drive (one per position; empty for an empty route).
  std::vector<Stop> Schedule(const Route& route, std::uint64_t agent) const;
  // Whether the routes (one per agent, by agent index) keep the orders that span two routes: a
  // precedence across two routes starts service at its first point no later than at its second.
  // Returns the first order they break, in words (naming the points by node id), or an empty
  // text.
  std::string OrdersAcross(const std::vector<Route>& routes) const;
  // The index (into InstanceView::orders) of the first order OrdersAcross finds broken; -1 for
  // none.
  std::int64_t BrokenAcross(const std::vector<Route>& routes) const;
  // What breaks the route's loads or orders, in words; empty when nothing does (and always
  // when the view enforces no such rule). `starts` holds the service start at every position.
  std::string RouteRulesBroken(const Route& route, std::uint64_t agent,
                               const std::vector<double>& starts) const;

 private:
  friend class RouteProbe;

  // The endpoint rules on the first and last vertex of a non-empty route.
  bool EndpointsOk(std::uint64_t agent, std::int64_t first, std::int64_t last) const;
  // The checks at position i of a route whose last position is `last`; adds the leg from `prev`
  // into `cost` and applies waiting. False when the position fails.
  bool Step(std::uint64_t agent, std::size_t i, std::size_t last, std::int64_t x, std::int64_t prev,
            double& cost) const;

  const InstanceView* view_ = nullptr;
};

// Evaluates variants of one route (a segment reversed, one point removed, one point inserted)
// without building them, resuming from the stored costs of the part they share with the route.
// Results are exactly those of RouteEvaluator::Evaluate on the built variant. Load() again
// whenever the route or the evaluator's view changes; the route must stay alive meanwhile.
class RouteProbe {
 public:
  void Load(const RouteEvaluator& evaluator, const Route& route, std::uint64_t agent);

  // Positions i..j reversed, 1 <= i < j <= size - 2.
  RouteEvaluation Reversed(std::size_t i, std::size_t j) const;
  // Position pos removed, 1 <= pos <= size - 2.
  RouteEvaluation Without(std::size_t pos) const;
  // `vertex` inserted before position pos, 1 <= pos <= size - 1.
  RouteEvaluation WithInserted(std::size_t pos, std::int64_t vertex) const;

 private:
  template <class At>
  RouteEvaluation Resume(std::size_t from, std::size_t size, At at) const;

  // Loads and orders hold along the whole route: variants are built and judged whole.
  bool whole_ = false;
  mutable Route scratch_;

  const RouteEvaluator* evaluator_ = nullptr;
  const Route* route_ = nullptr;
  std::uint64_t agent_ = 0;
  bool endpoints_ok_ = false;
  std::vector<double> prefix_;  // cost after each position that passed, from the front
};

}  // namespace plenro
