#pragma once

#include <vector>

#include "plenro/graph/planner_graph.h"
#include "plenro/instance/instance_view.h"

namespace plenro {

// Where a plug-in reads the instance. Used on its own, a plug-in keeps a view of its own, which
// its Initialize and setters fill. In a solve, the solver links it to the one view of the solve
// (PluginBase::UseView); from then on the plug-in reads only that view, and its Initialize and
// setters keep nothing of their own, since the linked view already holds it.
// A copy keeps the link (or copies the own view).
class ViewLink {
 public:
  ViewLink() = default;
  ViewLink(const ViewLink& other) : own_(other.own_) { Link(other.linked_); }
  ViewLink& operator=(const ViewLink& other) {
    own_ = other.own_;
    Link(other.linked_);
    return *this;
  }

  // The view to read: the linked one, else the own one.
  const InstanceView& view() const { return *current_; }
  bool linked() const { return linked_ != nullptr; }
  // Reads `view` from now on (not owned; must outlive the use); null goes back to the own view.
  void Link(const InstanceView* view) {
    linked_ = view;
    current_ = view != nullptr ? view : &own_;
  }

  // Calls fill(own view) while no view is linked; the setters' one way in.
  template <class Setter>
  void Fill(Setter fill) {
    if (linked_ == nullptr) {
      fill(own_);
    }
  }
  // While no view is linked, the own view takes one run's instance: the graph's costs (null:
  // none), the points and the agents.
  void FillInstance(const PlannerGraph* graph, const std::vector<Point>& points,
                    const std::vector<AgentInfo>& agents) {
    Fill([&](InstanceView& own) {
      own.SetPoints(points);
      own.SetAgents(agents);
      own.SetCosts(graph);
    });
  }

 private:
  InstanceView own_;
  const InstanceView* linked_ = nullptr;
  const InstanceView* current_ = &own_;  // what view() reads, so that it needs no test
};

}  // namespace plenro
