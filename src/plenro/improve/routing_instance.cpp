#include "plenro/improve/routing_instance.h"

#include <limits>
#include <sstream>
#include <stdexcept>

namespace plenro {

RoutingInstance::RoutingInstance(const InstanceView& view) : view_(&view), table_(&view.costs()) {
  const std::uint64_t n = view.num_points();
  const std::uint64_t m = view.num_agents();
  if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::invalid_argument("the improvement engine handles at most 2^31 - 1 points");
  }
  if (!view.has_costs()) {
    throw std::invalid_argument("the improvement engine needs the instance's costs");
  }
  if (view.starts().size() != m || view.goals().size() != m) {
    std::ostringstream message;
    message << "the improvement engine needs one start and one end point per agent; got "
            << view.starts().size() << " start points and " << view.goals().size()
            << " end points for " << m << " agents";
    throw std::invalid_argument(message.str());
  }
  num_vertices_ = static_cast<std::int32_t>(n);
  num_types_ = static_cast<std::int32_t>(view.num_types());

  agents_.resize(m);
  for (std::uint64_t a = 0; a < m; ++a) {
    const std::int64_t type = view.AgentType(a);
    if (type < 0 || static_cast<std::uint64_t>(type) >= view.num_types() || view.Start(a) >= n ||
        view.Goal(a) >= n) {
      std::ostringstream message;
      message << "agent " << a << " has type " << type << ", start point " << view.Start(a)
              << " and end point " << view.Goal(a) << "; the instance has " << view.num_types()
              << " agent types and " << n << " points";
      throw std::invalid_argument(message.str());
    }
    agents_[a] = PlannedAgent{static_cast<std::int32_t>(type),
                              static_cast<std::int32_t>(view.Start(a)),
                              static_cast<std::int32_t>(view.Goal(a)),
                              view.MaxLength(a),
                              {}};
    agents_[a].capacity.fill(InstanceView::kNoCapacity);
    for (std::size_t d = 0; d < view.load_dims(); ++d) {
      agents_[a].capacity[d] = view.Capacity(a, d);
      loaded_ = loaded_ || view.Capacity(a, d) != InstanceView::kNoCapacity;
    }
    timed_ = timed_ || view.MaxLength(a) > 0.0;
  }
  timed_ = timed_ || view.has_windows();
  const std::size_t dims = loaded_ ? view.load_dims() : 0;
  std::vector<double> delivery(dims);
  std::vector<double> change(dims);

  is_customer_.assign(n, 0);
  singles_.resize(n);
  for (std::uint64_t v = 0; v < n; ++v) {
    const auto vertex = static_cast<std::int32_t>(v);
    TimeSegment time =
        view.HasWindow(v) ? TimeSegment::Window(view.Open(v), view.Close(v)) : TimeSegment{};
    // Service: the time from the start of service to leaving, inside the point's stretch.
    time.duration = view.Service(v);
    for (std::size_t d = 0; d < dims; ++d) {
      delivery[d] = view.StartLoad(v, d);
      change[d] = view.LoadChange(v, d);
    }
    singles_[v] = RouteSummary::Point(
        vertex, time,
        dims > 0 ? LoadSegment::Point(dims, delivery.data(), change.data()) : LoadSegment{});
    if (!view.IsStart(v) && !view.IsGoal(v)) {
      is_customer_[v] = 1;
      customers_.push_back(vertex);
    }
  }

  partner_.assign(n, -1);
  partner_first_.assign(n, 0);
  for (const OrderLink& link : view.orders()) {
    if (link.kind != LinkKind::kShipment && link.kind != LinkKind::kSameRoute) {
      continue;
    }
    const auto first = static_cast<std::size_t>(link.first);
    const auto second = static_cast<std::size_t>(link.second);
    if (partner_[first] < 0 && partner_[second] < 0) {
      partner_[first] = static_cast<std::int32_t>(second);
      partner_[second] = static_cast<std::int32_t>(first);
      partner_first_[first] = 1;
    }
  }

  direct_ = table_->NumVertex() >= n && table_->CostDim() >= view.num_types();
  for (std::uint64_t u = 0; u < n && direct_; ++u) {
    for (const std::int32_t v : customers_) {
      if (u != static_cast<std::uint64_t>(v) && !table_->HasArc(u, static_cast<std::uint64_t>(v))) {
        direct_ = false;
        break;
      }
    }
  }
}

std::string RoutingInstance::DescribePoint(std::int32_t v) const {
  std::ostringstream text;
  text << "point " << v << " (node id " << view_->points()[static_cast<std::size_t>(v)].id << ")";
  return text.str();
}

std::string RoutingInstance::DescribeAgent(std::int32_t a) const {
  std::ostringstream text;
  text << "agent " << a << " (id " << view_->agents()[static_cast<std::size_t>(a)].id << ")";
  return text.str();
}

}  // namespace plenro
