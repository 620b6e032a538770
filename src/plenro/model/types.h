#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace plenro {

// How routes are scored: the longest route (MinMax) or the sum of all routes (MinSum).
enum ObjectiveType : std::int32_t { MinMax = 0, MinSum = 1 };

enum NodeType : std::int32_t { DEPOT = 0, TARGET = 1 };

struct Position {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// An amount of goods in up to kMaxLoadDimensions dimensions (weight, volume, ...); missing
// trailing dimensions are 0.
constexpr std::size_t kMaxLoadDimensions = 4;
using Amounts = std::vector<double>;

struct Node {
  std::uint64_t id = 0;
  Position position;
  NodeType type = TARGET;
  // The scalar delivery amount (JSON "demand" as a number, or the first entry of an array).
  // Honoured only with Options::enforce_constraints; `delivery`, when not empty, replaces it.
  double demand = 0.0;
  // Loaded at the agent's start and dropped here ("delivery", or "demand" as an array).
  Amounts delivery;
  // Taken here and carried to the route's end ("pickup").
  Amounts pickup;
  // Time spent here after service starts, before leaving ("service").
  double service = 0.0;
};

struct Agent {
  std::uint64_t id = 0;
  std::string type;
  std::uint64_t start_node = 0;
  std::uint64_t end_node = 0;
  // The scalar capacity, truncated to an integer as the instance format has always read it.
  // Honoured only with Options::enforce_constraints; `capacity`, when not empty, replaces it.
  double capacity_limit = 0.0;
  // The load the agent may carry, per dimension; 0 in a dimension means no limit there.
  Amounts capacity;
  // The route-length limit: the largest cost (arrival time at its last point, waiting included)
  // the agent's route may reach; 0 or less means no limit. The name is the one the problem
  // model has always exposed; it is no time budget (JSON "max_length", AgentInfo::max_length).
  double time_limit = 0.0;
};

struct Options {
  bool return_to_end = true;
  ObjectiveType objective = MinSum;
  // Seconds the solve may take on its budget clock (the solving thread's processor time, unless
  // a run control chooses the wall clock). The one statement of the default.
  double time_limit = 60.0;
  // After the search's first solution (or at most a fifth of the time limit), improve it with
  // local search and ruin-and-recreate for the rest of the time limit.
  bool improve = false;
  // Seed of the improvement's random choices.
  std::uint64_t seed = 0;
  // Ruin-and-recreate iterations of the improvement; 0 means no limit but the time limit.
  std::int64_t improve_iterations = 0;
  // Honour capacities, pickups and deliveries, shipments, sequence pairs and service durations
  // (JSON option "enforce_constraints"); off, they are stored and not used.
  bool enforce_constraints = false;
};

// A pickup site and a delivery site one agent serves, pickup first, with the amount on board
// between them (node ids).
struct Shipment {
  std::uint64_t pickup = 0;
  std::uint64_t delivery = 0;
  Amounts amount;
};

// Which agent type names may serve a node, by node id. A node without an entry is open to all.
struct AssignmentConstraint {
  std::unordered_map<std::uint64_t, std::vector<std::string>> allowed_types;

  void set_assignment(std::uint64_t node, const std::vector<std::string>& types) {
    allowed_types[node] = types;
  }
};

// Service windows (earliest, latest) by node id.
struct TimeWindowConstraint {
  std::unordered_map<std::uint64_t, std::pair<double, double>> windows;

  void set_timewindow(std::uint64_t node, double start, double end) {
    windows[node] = {start, end};
  }
};

}  // namespace plenro
