#include "plenro/plugins/view_post_optimizer.h"

namespace plenro {

ViewPostOptimizer::ViewPostOptimizer(const ViewPostOptimizer& other)
    : PostOptimizerPlugin(other), link_(other.link_), evaluator_(link_.view()) {}

ViewPostOptimizer& ViewPostOptimizer::operator=(const ViewPostOptimizer& other) {
  PostOptimizerPlugin::operator=(other);
  link_ = other.link_;
  evaluator_.Bind(link_.view());
  return *this;
}

void ViewPostOptimizer::SetReturnToEnd(bool return_to_end) {
  link_.Fill([return_to_end](InstanceView& own) { own.SetReturnToEnd(return_to_end); });
}

void ViewPostOptimizer::SetStarts(const std::vector<std::uint64_t>& starts) {
  link_.Fill([&starts](InstanceView& own) { own.SetStarts(starts); });
}

void ViewPostOptimizer::SetGoals(const std::vector<std::uint64_t>& goals) {
  link_.Fill([&goals](InstanceView& own) { own.SetGoals(goals); });
}

void ViewPostOptimizer::SetTimeWindows(const TimeWindowMap& windows) {
  link_.Fill([&windows](InstanceView& own) { own.SetTimeWindows(windows); });
}

void ViewPostOptimizer::UseView(const InstanceView* view) {
  link_.Link(view);
  evaluator_.Bind(link_.view());
}

void ViewPostOptimizer::BindRun(const PlannerGraph* graph, const std::vector<Point>& points,
                                const std::vector<AgentInfo>& agents) {
  link_.FillInstance(graph, points, agents);
  evaluator_.Bind(link_.view());
}

}  // namespace plenro
