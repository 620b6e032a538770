#include "plenro/improve/route_validator.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace plenro {

namespace {

// The instance view's cost table seen as a read-only planner graph, so that the route
// evaluation reads the same costs with or without a planner graph behind the solve.
class CostTableGraph final : public PlannerGraph {
 public:
  explicit CostTableGraph(const CostTable& table) : table_(&table) {}

  bool HasVertex(std::uint64_t v) const override { return v < table_->NumVertex(); }
  bool HasArc(std::uint64_t u, std::uint64_t v) const override {
    return HasVertex(u) && HasVertex(v) && table_->HasArc(u, v);
  }
  CostVector GetArcCost(std::uint64_t u, std::uint64_t v) const override {
    CostVector cost;
    if (HasArc(u, v)) {
      cost.resize(table_->CostDim());
      for (std::uint64_t t = 0; t < table_->CostDim(); ++t) {
        cost[t] = table_->Cost(u, v, t);
      }
    }
    return cost;
  }
  std::uint64_t NumVertex() const override { return table_->NumVertex(); }
  std::uint64_t GetCostDim() const override { return table_->CostDim(); }

  // The route evaluation needs none of these.
  std::vector<std::uint64_t> GetSuccs(std::uint64_t) const override { Refuse(); }
  std::vector<std::uint64_t> GetPreds(std::uint64_t) const override { Refuse(); }
  std::vector<CostVector> GetSuccCosts(std::uint64_t) const override { Refuse(); }
  std::vector<CostVector> GetPredCosts(std::uint64_t) const override { Refuse(); }
  std::uint64_t NumArc() const override { Refuse(); }
  std::uint64_t NumEdge() const override { Refuse(); }
  std::vector<std::uint64_t> GetAllVertices() const override { Refuse(); }
  void AddVertex(std::uint64_t) override { Refuse(); }
  void AddEdge(std::uint64_t, std::uint64_t, const CostVector&) override { Refuse(); }
  void AddArc(std::uint64_t, std::uint64_t, const CostVector&) override { Refuse(); }
  void CreateFromEdges(const std::vector<std::uint64_t>&, const std::vector<std::uint64_t>&,
                       const std::vector<CostVector>&) override {
    Refuse();
  }
  void CreateFromArcs(const std::vector<std::uint64_t>&, const std::vector<std::uint64_t>&,
                      const std::vector<CostVector>&) override {
    Refuse();
  }
  void ChangeCostDim(std::uint64_t, double) override { Refuse(); }
  bool SetArcCost(std::uint64_t, std::uint64_t, const CostVector&) override { Refuse(); }
  std::string ToStr() const override { Refuse(); }

 private:
  [[noreturn]] static void Refuse() {
    throw std::logic_error("the route check's view of the cost table is read-only");
  }

  const CostTable* table_;
};

}  // namespace

RouteValidator::RouteValidator(const InstanceView& view)
    : graph_(std::make_unique<CostTableGraph>(view.costs())) {
  config_.SetReturnToEnd(view.return_to_end());
  config_.SetStarts(view.starts());
  config_.SetGoals(view.goals());
  config_.SetTimeWindows(view.windows());
  config_.Bind(graph_.get(), view.points(), view.agents());
}

RouteValidator::~RouteValidator() = default;

RouteEvaluation RouteValidator::Evaluate(const Route& route, std::uint64_t agent) const {
  return config_.EvaluateRoute(route, agent);
}

}  // namespace plenro
