#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "plenro/graph/planner_graph.h"

namespace plenro {

// Adjacency-list graph that stores every arc twice: in the successor list of its tail and in
// the predecessor list of its head, each entry with its own copy of the cost vector. Lists keep
// the order in which arcs were added. An index from (tail, head) to the first matching entry of
// both lists makes arc look-ups O(1) on the complete graphs the solver builds.
//
// Failures write their message on standard output, then throw std::runtime_error.
class SparseGraph : public PlannerGraph {
 public:
  SparseGraph() = default;

  bool HasVertex(std::uint64_t v) const override;
  bool HasArc(std::uint64_t u, std::uint64_t v) const override;
  std::vector<std::uint64_t> GetSuccs(std::uint64_t v) const override;
  std::vector<std::uint64_t> GetPreds(std::uint64_t v) const override;
  CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const override;
  std::vector<CostVector> GetSuccCosts(std::uint64_t v) const override;
  std::vector<CostVector> GetPredCosts(std::uint64_t v) const override;
  std::uint64_t NumVertex() const override;
  std::uint64_t NumArc() const override;
  // Half the arc counter; throws when the counter is odd.
  std::uint64_t NumEdge() const override;
  std::uint64_t GetCostDim() const override;
  std::vector<std::uint64_t> GetAllVertices() const override;
  // Makes every number up to v a vertex.
  void AddVertex(std::uint64_t v) override;
  void AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& cost) override;
  // Adds u -> v (and its end points) or replaces the cost of the first such arc. The first arc
  // added to a graph without cost dimension sets it; later ones must match it.
  void AddArc(std::uint64_t u, std::uint64_t v, const CostVector& cost) override;
  // The bulk builders replace every list without searching: repeated pairs give repeated
  // entries. They leave the arc counter and the cost dimension as they were. The three lists
  // must have equal length (std::invalid_argument otherwise).
  void CreateFromEdges(const std::vector<std::uint64_t>& tails,
                       const std::vector<std::uint64_t>& heads,
                       const std::vector<CostVector>& costs) override;
  void CreateFromArcs(const std::vector<std::uint64_t>& tails,
                      const std::vector<std::uint64_t>& heads,
                      const std::vector<CostVector>& costs) override;
  // Pads (with `fill`) or cuts every stored cost vector to `cdim` entries.
  void ChangeCostDim(std::uint64_t cdim, double fill) override;
  bool SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& cost) override;
  std::string ToStr() const override;

 private:
  struct Adjacency {
    std::vector<std::uint64_t> succs;
    std::vector<CostVector> succ_costs;  // parallel to succs
    std::vector<std::uint64_t> preds;
    std::vector<CostVector> pred_costs;  // parallel to preds
  };

  struct ArcKey {
    std::uint64_t tail;
    std::uint64_t head;
    bool operator==(const ArcKey&) const = default;
  };

  struct ArcKeyHash {
    std::size_t operator()(const ArcKey& key) const noexcept;
  };

  // Positions of the first entry for an arc: in its tail's successor list and in its head's
  // predecessor list. Both entries are always created together, so one arc has both or none.
  struct ArcSlots {
    std::size_t succ;
    std::size_t pred;
  };

  void CreateFrom(const std::vector<std::uint64_t>& tails, const std::vector<std::uint64_t>& heads,
                  const std::vector<CostVector>& costs, bool both_directions);
  // Appends u -> v to both lists and records it in the index unless an earlier entry exists.
  void AppendArc(std::uint64_t u, std::uint64_t v, const CostVector& cost);
  const ArcSlots* FindArc(std::uint64_t u, std::uint64_t v) const;

  std::vector<Adjacency> adjacency_;
  std::unordered_map<ArcKey, ArcSlots, ArcKeyHash> arc_index_;
  std::uint64_t arc_counter_ = 0;
  std::uint64_t cdim_ = 0;
};

}  // namespace plenro
