#pragma once

// A configurable checker that records how the composite calls it.

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/instance/instance_view.h"
#include "plenro/plugins/constraint_checker_plugin.h"

namespace plenro::checker_testing {

class RecordingChecker : public ConstraintCheckerPlugin {
 public:
  struct Log {
    std::vector<int> destroyed;  // tags, in destruction order
  };

  RecordingChecker(int tag, Log* log) : tag_(tag), log_(log) {}
  ~RecordingChecker() override {
    if (log_ != nullptr) {
      log_->destroyed.push_back(tag_);
    }
  }

  std::string Name() const override { return "RecordingChecker"; }
  void Bind(const InstanceView& view) override {
    bound_points = view.num_points();
    ++bind_calls;
  }
  bool IsForbidden(std::uint64_t /*agent*/, std::uint64_t /*point*/) const override {
    ++calls;
    return forbid;
  }
  // Records the cost it sees; answers `reply`, or the seen cost plus `add` when add is set.
  MoveCheck OnMove(const SearchState& state, std::uint64_t agent,
                   std::uint64_t /*point*/) const override {
    ++calls;
    seen_costs.push_back(state.costs[agent]);
    if (add != 0.0) {
      return MoveCheck{true, state.costs[agent] + add, true};
    }
    return reply;
  }
  bool IsFeasible(const SearchState& /*state*/, std::uint64_t /*agent*/) const override {
    ++calls;
    return feasible;
  }
  bool IsRejectedOnFinish(const SearchState& /*state*/) const override {
    ++calls;
    return reject_on_finish;
  }

  bool forbid = false;
  bool feasible = true;
  bool reject_on_finish = false;
  MoveCheck reply{};
  double add = 0.0;
  mutable int calls = 0;
  mutable std::vector<double> seen_costs;
  int bind_calls = 0;
  std::size_t bound_points = 0;

 private:
  int tag_;
  Log* log_;
};

}  // namespace plenro::checker_testing
