#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "plenro/model/types.h"

namespace plenro {

using CostMatrix = std::vector<std::vector<double>>;
using NodePair = std::pair<std::uint64_t, std::uint64_t>;

// One routing instance, owned by value. Nodes and agents live in deques so that references
// handed out by nodes() and agents_ordered() stay valid when more are appended.
class Problem {
 public:
  std::unordered_map<std::string, CostMatrix> cost_matrices;
  AssignmentConstraint assignment_constraint;
  TimeWindowConstraint timewindow_constraint;
  std::vector<NodePair> precedence_pairs;
  std::vector<NodePair> same_agent_pairs;
  std::vector<NodePair> diff_agent_pairs;
  std::vector<Shipment> shipments;
  std::unordered_map<std::string, std::uint64_t> type_index;
  std::unordered_map<std::uint64_t, std::uint64_t> agent_type_index;

  void add_node(const Node& node);
  // Files the agent's type number under `id`, which may differ from the agent's own id.
  void add_agent(const Agent& agent, std::uint64_t id);
  void set_cost_matrix(const std::string& agent_type, const CostMatrix& matrix);
  void set_assignment_constraint(const AssignmentConstraint& constraint);
  void set_timewindow_constraint(const TimeWindowConstraint& constraint);

  std::deque<Node>& nodes() { return nodes_; }
  const std::deque<Node>& nodes() const { return nodes_; }
  std::deque<Agent>& agents_ordered() { return agents_ordered_; }
  const std::deque<Agent>& agents_ordered() const { return agents_ordered_; }
  Options& options() { return options_; }
  const Options& options() const { return options_; }

  // Type numbers allowed to serve the node, sorted and without repeats. A node without an
  // assignment entry gets every type number, after a warning line on standard error.
  std::vector<std::uint64_t> allowed_type_indices(std::uint64_t node) const;

 private:
  std::deque<Node> nodes_;
  Options options_;
  std::deque<Agent> agents_ordered_;
};

}  // namespace plenro
