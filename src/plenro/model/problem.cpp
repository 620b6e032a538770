#include "plenro/model/problem.h"

#include <algorithm>

#include "plenro/model/log_sink.h"

namespace plenro {

void Problem::add_node(const Node& node) {
  nodes_.push_back(node);
}

void Problem::add_agent(const Agent& agent, std::uint64_t id) {
  auto it = type_index.find(agent.type);
  if (it == type_index.end()) {
    const std::uint64_t next = type_index.size();
    it = type_index.emplace(agent.type, next).first;
  }
  agent_type_index[id] = it->second;
  agents_ordered_.push_back(agent);
}

void Problem::set_cost_matrix(const std::string& agent_type, const CostMatrix& matrix) {
  cost_matrices[agent_type] = matrix;
}

void Problem::set_assignment_constraint(const AssignmentConstraint& constraint) {
  assignment_constraint = constraint;
}

void Problem::set_timewindow_constraint(const TimeWindowConstraint& constraint) {
  timewindow_constraint = constraint;
}

std::vector<std::uint64_t> Problem::allowed_type_indices(std::uint64_t node) const {
  std::vector<std::uint64_t> numbers;
  const auto entry = assignment_constraint.allowed_types.find(node);
  if (entry != assignment_constraint.allowed_types.end()) {
    for (const std::string& name : entry->second) {
      const auto it = type_index.find(name);
      if (it != type_index.end()) {
        numbers.push_back(it->second);
      }
    }
  } else {
    Log(LogStream::kErr, "[warning] node ", node,
        " has no assignment constraint; allowing all types\n");
    numbers.reserve(type_index.size());
    for (const auto& [name, number] : type_index) {
      numbers.push_back(number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace plenro
