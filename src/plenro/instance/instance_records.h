#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plenro {

// The per-point and per-agent records a solve prepares from the problem, by index: point j is
// the problem's j-th node (vertex j), agent i its i-th agent (the agent index).

// One per node, in node order.
struct Point {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
  std::uint64_t id = 0;
  // Type numbers allowed to serve the point, ascending, without repeats; may be empty.
  std::vector<std::uint64_t> types;
};

// One per entry of the problem's agent list, in that order.
struct AgentInfo {
  std::uint64_t id = 0;
  std::int64_t type = -1;
  double capacity = 0.0;
  // Limit on the route cost (the agent's `time_limit`, JSON "max_length"); 0 or less means no
  // limit.
  double max_length = 0.0;
};

// Service window (open, close) by vertex.
using TimeWindowMap = std::unordered_map<std::uint64_t, std::pair<double, double>>;

}  // namespace plenro
