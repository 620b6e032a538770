#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/heuristic_plugin.h"
#include "plenro/plugins/view_link.h"

namespace plenro {

// Spanning-tree bound: the weight of a tree that hangs every open point on the unfinished
// agents' current points, grown greedily over a weight-sorted edge list. An edge is usable when
// its weight is below kNoConnection, it joins the tree to a point outside it, and neither end is
// closed (visited and not an unfinished agent's position). Each growth step takes the usable
// edge that comes first in the list.
//
// The list is turned once into a dense table of edge ranks (position in the list), so a growth
// step is a minimum over the open points' best ranks instead of a rescan of the list; the edges
// taken, the order in which their weights are added, and so the sum, are those of the rescan.
class DefaultHeuristic : public HeuristicPlugin {
 public:
  // The value returned when the open points cannot all be joined to the tree: the largest
  // finite double divided by 16.
  static constexpr double kUnreachable = 1.1235582092889473e307;

  std::string Name() const override { return "DefaultHeuristic"; }
  // The agent count is the view's; the estimate reads no costs but the edge list's.
  void Bind(const InstanceView& view) override { link_.Link(view); }
  // The edge list the solver builds from the view (Solver::BuildEdgeList), sorted by ascending
  // weight; edges whose ends are not both in [0, 256) are outside any search and ignored.
  void SetEdgeList(const std::vector<WeightedEdge>& edges);
  double Estimate(const SearchState& state) const override;

  std::uint64_t NumAgents() const { return link_.view().num_agents(); }
  // The view's end points, for the owner; the estimate does not read them.
  const std::vector<std::uint64_t>& Goals() const { return link_.view().goals(); }
  const std::vector<WeightedEdge>& Edges() const { return edges_; }

 private:
  ViewLink link_;
  std::vector<WeightedEdge> edges_;
  // Points 0..dim_-1 appear in some usable edge; rank_[x * dim_ + y] is the smallest list
  // position of a usable edge joining x and y, kNoRank when there is none.
  std::uint32_t dim_ = 0;
  std::vector<std::int32_t> rank_;
};

}  // namespace plenro
