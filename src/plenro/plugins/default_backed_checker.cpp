#include "plenro/plugins/default_backed_checker.h"

namespace plenro {

void DefaultBackedChecker::Bind(const InstanceView& view) {
  link_.Link(view);
  base_.Bind(view);
}

bool DefaultBackedChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  return base_.IsForbidden(agent, point);
}

bool DefaultBackedChecker::IsRejectedOnFinish(const SearchState& state) const {
  return base_.IsRejectedOnFinish(state);
}

}  // namespace plenro
