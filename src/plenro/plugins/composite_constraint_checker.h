#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "plenro/plugins/constraint_checker_plugin.h"

namespace plenro {

// An ordered list of checkers asked in turn. It owns its members and destroys them first to
// last. A move passes when every member passes it; in OnMove a member sees the route cost as
// adjusted by the members before it.
class CompositeConstraintChecker : public ConstraintCheckerPlugin {
 public:
  CompositeConstraintChecker() = default;
  CompositeConstraintChecker(const CompositeConstraintChecker&) = delete;
  CompositeConstraintChecker& operator=(const CompositeConstraintChecker&) = delete;
  ~CompositeConstraintChecker() override;

  std::string Name() const override { return "CompositeConstraintChecker"; }
  // True as soon as one member forbids.
  bool IsForbidden(std::uint64_t agent, std::uint64_t point) const override;
  // The first rejection is returned as it is. Otherwise the cost of the last member that set
  // one (with has_value), or the neutral result when none did. The state is not changed.
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t point) const override;
  // False as soon as one member answers false.
  bool IsFeasible(const SearchState& state, std::uint64_t agent) const override;
  // True as soon as one member answers true.
  bool IsRejectedOnFinish(const SearchState& state) const override;
  // Binds every member, in member order.
  void Bind(const InstanceView& view) override;

  // Appends a member; null pointers are ignored.
  void AddChecker(std::unique_ptr<ConstraintCheckerPlugin> checker);
  // The members in order.
  const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Members() const { return members_; }

 private:
  std::vector<std::unique_ptr<ConstraintCheckerPlugin>> members_;
  // Copy of the caller's state, made only once a member adjusts the cost; reused across calls
  // so that the copy does not allocate once its vectors have grown.
  mutable SearchState scratch_;
};

}  // namespace plenro
