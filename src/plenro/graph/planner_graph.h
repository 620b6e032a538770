#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plenro {

using CostVector = std::vector<double>;

// Directed graph whose arcs carry one cost per agent type (the cost dimension). The search and
// the plug-ins read it through NumVertex, GetCostDim and GetArcCost only. Every read returns a
// copy. HasArc and GetArcCost require u to be a vertex.
class PlannerGraph {
 public:
  virtual ~PlannerGraph() = default;

  virtual bool HasVertex(std::uint64_t v) const = 0;
  virtual bool HasArc(std::uint64_t u, std::uint64_t v) const = 0;
  virtual std::vector<std::uint64_t> GetSuccs(std::uint64_t v) const = 0;
  virtual std::vector<std::uint64_t> GetPreds(std::uint64_t v) const = 0;
  // Cost vector of the first arc u -> v; empty when there is none.
  virtual CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const = 0;
  virtual std::vector<CostVector> GetSuccCosts(std::uint64_t v) const = 0;
  virtual std::vector<CostVector> GetPredCosts(std::uint64_t v) const = 0;
  virtual std::uint64_t NumVertex() const = 0;
  virtual std::uint64_t NumArc() const = 0;
  virtual std::uint64_t NumEdge() const = 0;
  virtual std::uint64_t GetCostDim() const = 0;
  virtual std::vector<std::uint64_t> GetAllVertices() const = 0;
  virtual void AddVertex(std::uint64_t v) = 0;
  virtual void AddEdge(std::uint64_t u, std::uint64_t v, const CostVector& cost) = 0;
  virtual void AddArc(std::uint64_t u, std::uint64_t v, const CostVector& cost) = 0;
  virtual void CreateFromEdges(const std::vector<std::uint64_t>& tails,
                               const std::vector<std::uint64_t>& heads,
                               const std::vector<CostVector>& costs) = 0;
  virtual void CreateFromArcs(const std::vector<std::uint64_t>& tails,
                              const std::vector<std::uint64_t>& heads,
                              const std::vector<CostVector>& costs) = 0;
  virtual void ChangeCostDim(std::uint64_t cdim, double fill) = 0;
  virtual bool SetArcCost(std::uint64_t u, std::uint64_t v, const CostVector& cost) = 0;
  virtual std::string ToStr() const = 0;
};

}  // namespace plenro
