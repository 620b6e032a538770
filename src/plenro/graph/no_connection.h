#pragma once

namespace plenro {

// The cost that marks a missing connection between two points: a matrix entry the instance
// does not give, an arc the graph lacks, a type beyond an arc's cost vector. Every leg costing
// this much or more is no connection, and no route may travel it.
inline constexpr double kNoConnection = 9999.0;

// The one test of that rule.
constexpr bool IsNoConnection(double cost) {
  return cost >= kNoConnection;
}

}  // namespace plenro
