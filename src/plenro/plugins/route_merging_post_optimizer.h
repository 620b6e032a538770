#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "plenro/instance/route_evaluation.h"
#include "plenro/plugins/two_opt.h"
#include "plenro/plugins/view_post_optimizer.h"

namespace plenro {

// Dissolves short routes into the others. Routes are taken in order of increasing cost; when
// every interior point of one can go into some other agent's route without that route costing
// more than the current longest route F (plus 1e-9), and the route of its two endpoints alone is
// one the agent may drive, all of them move and the emptied agent keeps only its endpoints, at
// what that route costs (0.0 when they coincide or routes need not return). A dissolution is all
// or nothing: should a point find no place once the points before it have moved, those moves are
// undone and every route keeps its points and cost. Every remaining route is then shortened by
// segment reversal. Nothing is reported.
//
// A route the agent may not drive counts as cost 0.0 inside (it is never dissolved or reversed)
// and, unless a point moved into it, is written back unchanged with the cost it came in with.
class RouteMergingPostOptimizer : public ViewPostOptimizer {
 public:
  // The cheapest place found for a point: the receiving agent, the position the point goes
  // before, and that route's cost afterwards.
  struct Insertion {
    bool found = false;
    std::int64_t agent = -1;
    std::int64_t pos = 0;
    double cost = std::numeric_limits<double>::max();
  };

  std::string Name() const override { return "RouteMergingPostOptimizer"; }

  // Writes (inserting or replacing) the result's paths and times entries 0..M-1 (the view's
  // agents); leaves the result untouched when no route has a positive cost.
  void Optimize(Result& result) override;

  // The steps of Optimize. They work on the tables the last Optimize left.

  // Whether agent `agent` may take `point` (InstanceView::MayServe).
  bool CanServe(std::uint64_t agent, std::int64_t point) const;
  // The cheapest place for `point` in the route of an agent other than `excluded`, among those
  // costing at most `bound` + 1e-9 afterwards. Places within 1e-9 of the same cost are decided
  // by the smaller growth of the receiving route, then by the lower agent, then the lower
  // position.
  Insertion FindInsertion(std::int64_t point, std::int64_t excluded, double bound);

  const std::vector<Route>& routes() const { return routes_; }
  const std::vector<double>& costs() const { return costs_; }

 private:
  // One point moved by a dissolution: where it went, and what the receiving route had before.
  struct Move {
    std::int64_t agent = -1;
    std::int64_t pos = 0;
    double cost_before = 0.0;
    char kept_invalid_before = 0;
  };

  // Dissolves what it can, cheapest route first, within the longest route's cost.
  void Merge(double longest);
  // Moves every point of interior_ out of agent w's route, each to its cheapest place within
  // `longest`, and leaves it endpoints_. True when all moved; otherwise every route is as it was
  // before, and false.
  bool MoveAll(std::int64_t w, double longest);
  // Takes back the moves recorded in moves_, last first.
  void UndoMoves();

  std::vector<Route> routes_;
  std::vector<double> costs_;

  // Per agent: whether its route came in invalid and is still unchanged, and the cost the
  // result held for it, which is what such a route is written back with.
  std::vector<char> kept_invalid_;
  std::vector<double> incoming_cost_;

  RouteProbe probe_;
  TwoOpt two_opt_;
  std::vector<std::pair<double, std::int64_t>> order_;
  Route interior_;
  Route endpoints_;
  std::vector<Move> moves_;
};

}  // namespace plenro
