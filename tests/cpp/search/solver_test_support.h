#pragma once

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plenro/model/problem.h"
#include "plenro/model/types.h"

namespace plenro::testing_support {

// Builds small instances for the solver tests. Nodes get an assignment entry for every type
// named in the instance unless told otherwise, so the set-up prints no warnings.
class InstanceBuilder {
 public:
  InstanceBuilder& AddNode(std::uint64_t id, double x = 0.0, double y = 0.0) {
    Node node;
    node.id = id;
    node.position = Position{x, y, 0.0};
    nodes_.push_back(node);
    return *this;
  }
  InstanceBuilder& AddAgent(std::uint64_t id, const std::string& type, std::uint64_t start,
                            std::uint64_t end, double max_length = 0.0) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    agent.start_node = start;
    agent.end_node = end;
    agent.time_limit = max_length;
    agents_.push_back(agent);
    return *this;
  }
  InstanceBuilder& SetCosts(const std::string& type, CostMatrix matrix) {
    matrices_.emplace_back(type, std::move(matrix));
    return *this;
  }
  // Euclidean distances between the nodes' positions, for the type.
  InstanceBuilder& SetEuclideanCosts(const std::string& type) {
    CostMatrix matrix(nodes_.size(), std::vector<double>(nodes_.size(), 0.0));
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      for (std::size_t j = 0; j < nodes_.size(); ++j) {
        matrix[i][j] = std::hypot(nodes_[i].position.x - nodes_[j].position.x,
                                  nodes_[i].position.y - nodes_[j].position.y);
      }
    }
    return SetCosts(type, std::move(matrix));
  }
  InstanceBuilder& SetWindow(std::uint64_t node, double open, double close) {
    windows_.set_timewindow(node, open, close);
    return *this;
  }
  InstanceBuilder& Allow(std::uint64_t node, std::vector<std::string> types) {
    allowed_.set_assignment(node, types);
    return *this;
  }
  InstanceBuilder& WithoutDefaultAssignments() {
    default_assignments_ = false;
    return *this;
  }

  Problem Build() const {
    Problem problem;
    for (const Node& node : nodes_) {
      problem.add_node(node);
    }
    std::vector<std::string> all_types;
    for (const Agent& agent : agents_) {
      problem.add_agent(agent, agent.id);
      if (std::find(all_types.begin(), all_types.end(), agent.type) == all_types.end()) {
        all_types.push_back(agent.type);
      }
    }
    for (const auto& [type, matrix] : matrices_) {
      problem.set_cost_matrix(type, matrix);
    }
    AssignmentConstraint assignment = allowed_;
    if (default_assignments_) {
      for (const Node& node : nodes_) {
        assignment.allowed_types.try_emplace(node.id, all_types);
      }
    }
    problem.set_assignment_constraint(assignment);
    problem.set_timewindow_constraint(windows_);
    return problem;
  }

 private:
  std::vector<Node> nodes_;
  std::vector<Agent> agents_;
  std::vector<std::pair<std::string, CostMatrix>> matrices_;
  TimeWindowConstraint windows_;
  AssignmentConstraint allowed_;
  bool default_assignments_ = true;
};

inline Options MakeOptions(ObjectiveType objective, bool return_to_end = true,
                           double time_limit = 60.0) {
  Options options;
  options.objective = objective;
  options.return_to_end = return_to_end;
  options.time_limit = time_limit;
  return options;
}

// Runs fn with standard output and error captured; returns both texts. Exceptions pass through
// after the capture has ended.
struct Captured {
  std::string out;
  std::string err;
};
template <class Fn>
Captured CaptureOutput(Fn&& fn) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  try {
    fn();
  } catch (...) {
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    throw;
  }
  Captured captured;
  captured.out = ::testing::internal::GetCapturedStdout();
  captured.err = ::testing::internal::GetCapturedStderr();
  return captured;
}

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Runs the test body in a fresh temporary directory, then returns to the old one.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::string& tag)
      : old_(std::filesystem::current_path()),
        dir_(std::filesystem::temp_directory_path() /
             ("orvik_" + tag + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
  }
  ~ScopedWorkingDirectory() {
    std::filesystem::current_path(old_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path dir_;
};

}  // namespace plenro::testing_support
