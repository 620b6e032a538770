#pragma once

// Builders for the post-optimiser tests: complete graphs with hand-set costs, point and agent
// tables and views (those of the instance tests), and results.

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "instance/instance_test_support.h"
#include "plenro/model/result.h"

namespace plenro::post_opt_testing {

using instance_testing::Agents;
using instance_testing::GraphBuilder;
using instance_testing::MakeView;
using instance_testing::OpenPoints;
using instance_testing::Points;

// A post-optimiser of class P run as the solver runs it, with the start and end points, windows
// and return rule a test gives it: each Optimize over a graph, points and agents builds the view
// of that instance, binds the optimiser to it and runs it. The view stays until the next
// Optimize, so that the optimiser's steps can be called on the same instance afterwards.
template <class P>
class Bound : public P {
 public:
  Bound() = default;
  Bound(std::vector<std::uint64_t> starts_in, std::vector<std::uint64_t> goals_in,
        bool return_to_end_in = true)
      : starts(std::move(starts_in)), goals(std::move(goals_in)), return_to_end(return_to_end_in) {}
  // The optimiser reads this object's view.
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;

  using P::Optimize;
  void Optimize(const PlannerGraph* graph, const std::vector<Point>& points,
                const std::vector<AgentInfo>& agents, Result& result) {
    view_ = MakeView(graph, points, agents, starts, goals, windows, return_to_end);
    this->Bind(view_);
    P::Optimize(result);
  }

  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> goals;
  TimeWindowMap windows;
  bool return_to_end = true;

 private:
  InstanceView view_;
};

// A result holding route k for agent k (and its cost, where given).
inline Result MakeResult(const std::vector<std::vector<std::int64_t>>& routes,
                         const std::vector<double>& times = {}) {
  Result result;
  for (std::size_t k = 0; k < routes.size(); ++k) {
    result.paths[k] = routes[k];
  }
  for (std::size_t k = 0; k < times.size(); ++k) {
    result.times[k] = times[k];
  }
  return result;
}

}  // namespace plenro::post_opt_testing
