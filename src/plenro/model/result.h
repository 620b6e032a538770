#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace plenro {

// The outcome of a search. Routes and costs are keyed by agent index (the agent's position in
// the problem's agent list), routes hold vertices (node positions) in visiting order.
struct Result {
  std::unordered_map<std::uint64_t, std::vector<std::int64_t>> paths;
  std::unordered_map<std::uint64_t, double> times;
  std::int64_t n_generated = 0;
  std::int64_t n_expanded = 0;
  bool timeout = false;
  double last_update_time = 0.0;
};

}  // namespace plenro
