#pragma once

#include <cstdint>

#include "plenro/improve/load_segment.h"
#include "plenro/improve/time_segment.h"

namespace plenro {

// Summary of a stretch of consecutive route points, everything the engine prices on a route:
// the stretch's first and last point (the legs that join it to other stretches run from and to
// them), the legs inside it that have no connection, and one summary per route resource. Two
// summaries join in O(1), so a route changed in a few places is priced from the cached summaries
// of its unchanged parts.
//
// A resource is a summary type of its own (like TimeSegment: its value at a single point, and
// how two stretches join across a leg), a member here with its line in Join below, its value at
// each point (RoutingInstance), and what it costs or violates in the cost evaluator: time (with
// service durations) and load.
struct RouteSummary {
  std::int32_t first = -1;  // first and last point; -1 for the empty stretch
  std::int32_t last = -1;
  std::int32_t broken = 0;  // legs inside the stretch that have no connection
  TimeSegment time;
  LoadSegment load;

  bool empty() const { return first < 0; }

  // The single point v, with its resources.
  static RouteSummary Point(std::int32_t v, const TimeSegment& time,
                            const LoadSegment& load = LoadSegment{}) {
    RouteSummary s;
    s.first = v;
    s.last = v;
    s.time = time;
    s.load = load;
    return s;
  }
};

// `a` followed by `b`, with a leg of cost `leg` from a's last point to b's first;
// `no_connection` marks that leg as one the agent may not travel. Either side may be empty.
inline RouteSummary Join(const RouteSummary& a, const RouteSummary& b, double leg,
                         bool no_connection) {
  if (a.empty()) {
    return b;
  }
  if (b.empty()) {
    return a;
  }
  // Built in place: a summary without loads pays for its (zero) load only in stores.
  return RouteSummary{a.first, b.last, a.broken + b.broken + (no_connection ? 1 : 0),
                      Join(a.time, b.time, leg),
                      (a.load.dims | b.load.dims) != 0 ? Join(a.load, b.load) : LoadSegment{}};
}

}  // namespace plenro
