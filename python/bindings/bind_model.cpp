// Registration of the problem model: the two enumerations, the value classes, the constraint
// tables, Problem with its views, and the read-only Result.
#include <deque>

#include "bindings.h"
#include "plenro/model/problem.h"
#include "plenro/model/result.h"
#include "plenro/model/types.h"

namespace orvik_bindings {

using plenro::Agent;
using plenro::AssignmentConstraint;
using plenro::Node;
using plenro::Options;
using plenro::Position;
using plenro::Problem;
using plenro::Result;
using plenro::TimeWindowConstraint;

void bind_model(py::module_& m) {
  bind_enum<plenro::ObjectiveType>(m, "ObjectiveType",
                                   {{"MinMax", plenro::MinMax}, {"MinSum", plenro::MinSum}});
  bind_enum<plenro::NodeType>(m, "NodeType",
                              {{"DEPOT", plenro::DEPOT}, {"TARGET", plenro::TARGET}});

  bind_value_class<Position>(m, "Position", field("x", &Position::x), field("y", &Position::y),
                             field("z", &Position::z));
  bind_value_class<Node>(m, "Node", field("id", &Node::id), view_field("position", &Node::position),
                         field("type", &Node::type), field("demand", &Node::demand));
  bind_value_class<Agent>(
      m, "Agent", field("id", &Agent::id), field("type", &Agent::type),
      field("start_node", &Agent::start_node), field("end_node", &Agent::end_node),
      field("capacity_limit", &Agent::capacity_limit), field("time_limit", &Agent::time_limit));
  bind_value_class<Options>(m, "Options", field("return_to_end", &Options::return_to_end),
                            field("objective", &Options::objective),
                            field("time_limit", &Options::time_limit),
                            field("improve", &Options::improve), field("seed", &Options::seed),
                            field("improve_iterations", &Options::improve_iterations));

  bind_value_class<AssignmentConstraint>(m, "AssignmentConstraint")
      .def("set_assignment", &AssignmentConstraint::set_assignment, py::arg("node"),
           py::arg("types"));
  bind_value_class<TimeWindowConstraint>(m, "TimeWindowConstraint")
      .def("set_timewindow", &TimeWindowConstraint::set_timewindow, py::arg("node"),
           py::arg("start"), py::arg("end"));

  auto problem = bind_value_class<Problem>(m, "Problem");
  problem.def("add_node", &Problem::add_node, py::arg("node"))
      .def("add_agent", &Problem::add_agent, py::arg("agent"), py::arg("id"))
      .def("set_cost_matrix", &Problem::set_cost_matrix, py::arg("agent_type"), py::arg("matrix"))
      .def("set_assignment_constraint", &Problem::set_assignment_constraint, py::arg("constraint"))
      .def("set_timewindow_constraint", &Problem::set_timewindow_constraint, py::arg("constraint"));
  // The node and agent deques keep their elements in place when more are appended, so views
  // taken earlier stay valid.
  def_view(problem, "options", [](Problem& self) -> Options& { return self.options(); });
  def_view(problem, "nodes", [](Problem& self) -> std::deque<Node>& { return self.nodes(); });
  def_view(problem, "agents_ordered",
           [](Problem& self) -> std::deque<Agent>& { return self.agents_ordered(); });

  bind_readonly_class<Result>(m, "Result", field("n_generated", &Result::n_generated),
                              field("n_expanded", &Result::n_expanded),
                              field("timeout", &Result::timeout),
                              field("last_update_time", &Result::last_update_time),
                              field("paths", &Result::paths), field("times", &Result::times));
}

}  // namespace orvik_bindings
