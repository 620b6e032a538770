#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "plenro/model/types.h"

namespace plenro {

// The load resource of a stretch of consecutive route points (see RouteSummary), for deliveries
// (loaded at the route's start, dropped at their point), pickups (taken at their point, carried
// to the route's end) and shipments (taken at one point, dropped at a later one), after the
// concatenation rule for simultaneous pickups and deliveries (Vidal et al.):
//
// The agent leaves its start with every delivery of its route on board. Entering a stretch with
// load x, the load after its k-th point is x plus the changes of its first k points, and the
// highest load inside the stretch is x + peak. Two summaries join in O(1) per dimension:
// the deliveries and the changes add up, and the peak of the joined stretch is the larger of
// the first's peak and the first's change plus the second's peak. The highest load on a whole
// route is its deliveries plus its peak.
//
// Only the first `dims` dimensions are used; a summary without loads (dims 0) joins in O(1)
// without touching them. The amounts are held in single precision, which keeps the route
// summaries small (every move copies and joins them); whole amounts up to 2^24 are exact, and
// the route evaluation, in double precision, has the last word on every returned route.
struct LoadSegment {
  static constexpr std::size_t kDims = kMaxLoadDimensions;

  using Amount = float;

  std::array<Amount, kDims> delivery{};  // loaded at the route's start for this stretch
  std::array<Amount, kDims> change{};    // the load after the stretch less the load before it
  std::array<Amount, kDims> peak{};      // the highest load inside less the load before, >= 0
  std::uint8_t dims = 0;

  // One point with delivery `delivery` and load change `change` (each `dims` entries).
  static LoadSegment Point(std::size_t dims, const double* delivery, const double* change) {
    LoadSegment s;
    s.dims = static_cast<std::uint8_t>(dims);
    for (std::size_t d = 0; d < dims; ++d) {
      s.delivery[d] = static_cast<Amount>(delivery[d]);
      s.change[d] = static_cast<Amount>(change[d]);
      s.peak[d] = std::max(s.change[d], Amount{0});
    }
    return s;
  }

  // The highest load of a route made of this stretch alone, in dimension d.
  double HighestLoad(std::size_t d) const {
    return static_cast<double>(delivery[d]) + static_cast<double>(peak[d]);
  }
};

// `a` followed by `b`.
inline LoadSegment Join(const LoadSegment& a, const LoadSegment& b) {
  LoadSegment out;
  out.dims = std::max(a.dims, b.dims);
  for (std::size_t d = 0; d < out.dims; ++d) {
    out.delivery[d] = a.delivery[d] + b.delivery[d];
    out.change[d] = a.change[d] + b.change[d];
    out.peak[d] = std::max(a.peak[d], a.change[d] + b.peak[d]);
  }
  return out;
}

}  // namespace plenro
