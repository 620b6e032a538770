#include "plenro/plugins/composite_post_optimizer.h"

#include <utility>

namespace plenro {

CompositePostOptimizer::~CompositePostOptimizer() {
  // A vector destroys its elements last to first; members go first to last.
  for (auto& member : members_) {
    member.reset();
  }
}

void CompositePostOptimizer::AddOptimizer(std::unique_ptr<PostOptimizerPlugin> optimizer) {
  if (optimizer != nullptr) {
    members_.push_back(std::move(optimizer));
  }
}

void CompositePostOptimizer::Optimize(const PlannerGraph* graph, const std::vector<Point>& points,
                                      const std::vector<AgentInfo>& agents, Result& result) {
  for (auto& member : members_) {
    member->Optimize(graph, points, agents, result);
  }
}

void CompositePostOptimizer::SetReturnToEnd(bool return_to_end) {
  for (auto& member : members_) {
    member->SetReturnToEnd(return_to_end);
  }
}

void CompositePostOptimizer::SetStarts(const std::vector<std::uint64_t>& starts) {
  for (auto& member : members_) {
    member->SetStarts(starts);
  }
}

void CompositePostOptimizer::SetGoals(const std::vector<std::uint64_t>& goals) {
  for (auto& member : members_) {
    member->SetGoals(goals);
  }
}

void CompositePostOptimizer::SetTimeWindows(const TimeWindowMap& windows) {
  for (auto& member : members_) {
    member->SetTimeWindows(windows);
  }
}

void CompositePostOptimizer::UseView(const InstanceView* view) {
  for (auto& member : members_) {
    member->UseView(view);
  }
}

}  // namespace plenro
