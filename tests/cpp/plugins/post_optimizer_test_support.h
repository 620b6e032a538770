#pragma once

// Builders for the post-optimiser tests: complete graphs with hand-set costs, point and agent
// tables and views (those of the instance tests), and results.

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "instance/instance_test_support.h"
#include "plenro/model/result.h"

namespace plenro::post_opt_testing {

using instance_testing::Agents;
using instance_testing::GraphBuilder;
using instance_testing::MakeView;
using instance_testing::OpenPoints;
using instance_testing::Points;

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
