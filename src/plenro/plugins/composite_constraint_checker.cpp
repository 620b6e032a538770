#include "plenro/plugins/composite_constraint_checker.h"

#include <utility>

namespace plenro {

CompositeConstraintChecker::~CompositeConstraintChecker() {
  // A vector destroys its elements last to first; members go first to last.
  for (std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    member.reset();
  }
}

bool CompositeConstraintChecker::IsForbidden(std::uint64_t agent, std::uint64_t point) const {
  for (const std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    if (member->IsForbidden(agent, point)) {
      return true;
    }
  }
  return false;
}

MoveCheck CompositeConstraintChecker::OnMove(const SearchState& state, std::uint64_t agent,
                                             std::uint64_t point) const {
  // Members read the state through a const reference, so the caller's state serves until a
  // member adjusts the cost; from then on the members see the adjusted copy.
  const SearchState* current = &state;
  for (const std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    const MoveCheck check = member->OnMove(*current, agent, point);
    if (!check.accepted) {
      return check;
    }
    if (check.has_value) {
      if (current == &state) {
        scratch_ = state;
        current = &scratch_;
      }
      scratch_.costs[agent] = check.value;
    }
  }
  if (current == &state) {
    return MoveCheck{};
  }
  return MoveCheck{true, scratch_.costs[agent], true};
}

bool CompositeConstraintChecker::IsFeasible(const SearchState& state, std::uint64_t agent) const {
  for (const std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    if (!member->IsFeasible(state, agent)) {
      return false;
    }
  }
  return true;
}

bool CompositeConstraintChecker::IsRejectedOnFinish(const SearchState& state) const {
  for (const std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    if (member->IsRejectedOnFinish(state)) {
      return true;
    }
  }
  return false;
}

void CompositeConstraintChecker::Bind(const InstanceView& view) {
  for (const std::unique_ptr<ConstraintCheckerPlugin>& member : members_) {
    member->Bind(view);
  }
}

void CompositeConstraintChecker::AddChecker(std::unique_ptr<ConstraintCheckerPlugin> checker) {
  if (checker != nullptr) {
    members_.push_back(std::move(checker));
  }
}

}  // namespace plenro
