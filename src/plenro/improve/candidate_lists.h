#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "plenro/improve/routing_instance.h"

namespace plenro {

// Granular neighbourhoods (Toth and Vigo): for every agent type and every point to serve that
// the type may serve, its k closest such points, nearest first. Closeness is the cheaper
// direction's leg plus a price for the waiting and the time warp that the leg would force
// between the two windows (the correlation measure of hybrid genetic search), so that points
// whose windows do not fit together are not neighbours.
class CandidateLists {
 public:
  CandidateLists(const RoutingInstance& instance, std::int32_t k);

  std::int32_t k() const { return k_; }
  // Empty when the type may not serve v.
  std::span<const std::int32_t> Near(std::int32_t type, std::int32_t v) const {
    const std::size_t cell =
        static_cast<std::size_t>(type) * static_cast<std::size_t>(num_vertices_) +
        static_cast<std::size_t>(v);
    return {lists_.data() + begin_[cell], lists_.data() + begin_[cell + 1]};
  }
  // The proximity measure itself, for type `type` (lower is closer).
  static double Proximity(const RoutingInstance& instance, std::int32_t type, std::int32_t u,
                          std::int32_t v);

 private:
  std::int32_t k_ = 0;
  std::int32_t num_vertices_ = 0;
  std::vector<std::size_t> begin_;  // per (type, vertex), plus one
  std::vector<std::int32_t> lists_;
};

}  // namespace plenro
