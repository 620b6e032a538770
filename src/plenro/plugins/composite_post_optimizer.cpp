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

void CompositePostOptimizer::Optimize(Result& result) {
  for (auto& member : members_) {
    member->Optimize(result);
  }
}

void CompositePostOptimizer::Bind(const InstanceView& view) {
  for (auto& member : members_) {
    member->Bind(view);
  }
}

}  // namespace plenro
