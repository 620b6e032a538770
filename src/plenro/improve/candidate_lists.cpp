#include "plenro/improve/candidate_lists.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace plenro {

namespace {

// Prices of the waiting and of the time warp a leg forces between two windows.
constexpr double kWaitWeight = 0.2;
constexpr double kWarpWeight = 1.0;

double Directed(const RoutingInstance& instance, std::int32_t type, std::int32_t u,
                std::int32_t v) {
  const double leg = instance.Cost(u, v, type);
  const TimeSegment& a = instance.Single(u).time;
  const TimeSegment& b = instance.Single(v).time;
  // Leaving u as late as its window allows still waits at v; leaving as early as it allows
  // still comes too late for v.
  const double wait = std::max(b.earliest - leg - a.latest, 0.0);
  const double warp = std::max(a.earliest + leg - b.latest, 0.0);
  return leg + kWaitWeight * wait + kWarpWeight * warp;
}

}  // namespace

double CandidateLists::Proximity(const RoutingInstance& instance, std::int32_t type, std::int32_t u,
                                 std::int32_t v) {
  return std::min(Directed(instance, type, u, v), Directed(instance, type, v, u));
}

CandidateLists::CandidateLists(const RoutingInstance& instance, std::int32_t k)
    : num_vertices_(instance.num_vertices()) {
  const std::vector<std::int32_t>& customers = instance.customers();
  k_ = std::max<std::int32_t>(
      0, std::min<std::int32_t>(k, static_cast<std::int32_t>(customers.size()) - 1));
  const auto n = static_cast<std::size_t>(num_vertices_);
  const auto types = static_cast<std::size_t>(instance.num_types());
  begin_.assign(types * n + 1, 0);

  std::vector<std::pair<double, std::int32_t>> scored;
  scored.reserve(customers.size());
  for (std::size_t t = 0; t < types; ++t) {
    const auto type = static_cast<std::int32_t>(t);
    for (std::size_t v = 0; v < n; ++v) {
      const std::size_t cell = t * n + v;
      begin_[cell] = lists_.size();
      const auto u = static_cast<std::int32_t>(v);
      if (!instance.IsCustomer(u) || !instance.Serves(type, u)) {
        continue;
      }
      scored.clear();
      for (const std::int32_t w : customers) {
        if (w != u && instance.Serves(type, w)) {
          scored.emplace_back(Proximity(instance, type, u, w), w);
        }
      }
      const std::size_t keep = std::min<std::size_t>(static_cast<std::size_t>(k_), scored.size());
      std::partial_sort(scored.begin(), scored.begin() + static_cast<std::ptrdiff_t>(keep),
                        scored.end());
      for (std::size_t i = 0; i < keep; ++i) {
        lists_.push_back(scored[i].second);
      }
    }
  }
  begin_[types * n] = lists_.size();
}

}  // namespace plenro
