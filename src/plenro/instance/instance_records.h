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
  // Loaded at the agent's start and dropped here; taken here and carried to the route's end
  // (per load dimension, missing dimensions 0). Service: time spent here after service starts.
  // Read only where the rules are enforced (InstanceView::SetEnforced).
  std::vector<double> delivery = {};
  std::vector<double> pickup = {};
  double service = 0.0;
};

// One per entry of the problem's agent list, in that order.
struct AgentInfo {
  std::uint64_t id = 0;
  std::int64_t type = -1;
  double capacity = 0.0;
  // Limit on the route cost (the agent's `time_limit`, JSON "max_length"); 0 or less means no
  // limit.
  double max_length = 0.0;
  // The load the agent may carry per dimension; 0 (or a missing dimension): no limit there.
  // Read only where the rules are enforced.
  std::vector<double> capacities = {};
};

// Two points tied by an order: a shipment (one agent serves both, `first` the pickup, and
// `amount` is on board between them), a pair on one route (`first` earlier on it), a pair on
// two routes, or a precedence (service at `first` starts no later than at `second`, on one
// route or two).
enum class LinkKind : std::uint8_t { kShipment, kSameRoute, kOtherRoute, kPrecedence };

struct OrderLink {
  LinkKind kind = LinkKind::kPrecedence;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::vector<double> amount = {};  // shipments only
};

// Service window (open, close) by vertex.
using TimeWindowMap = std::unordered_map<std::uint64_t, std::pair<double, double>>;

}  // namespace plenro
