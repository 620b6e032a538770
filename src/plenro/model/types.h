#pragma once

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

struct Node {
  std::uint64_t id = 0;
  Position position;
  NodeType type = TARGET;
  // Stored and exposed; the search does not use it.
  double demand = 0.0;
};

struct Agent {
  std::uint64_t id = 0;
  std::string type;
  std::uint64_t start_node = 0;
  std::uint64_t end_node = 0;
  // Stored and exposed; the search does not use it.
  double capacity_limit = 0.0;
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
