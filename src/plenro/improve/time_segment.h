#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace plenro {

// Summary of a stretch of consecutive route points for the timing of a route, after the
// concatenation rules of Vidal et al. (timing problems) with the time-warp relaxation of
// Nagata et al.: an agent that arrives after a window closes "warps" back to the close and the
// amount is counted as time warp instead of making the stretch unusable.
//
// Entering the first point at time t, the agent reaches the last point at
// max(earliest, min(t, latest)) + duration - time_warp, with a time warp of
// time_warp + max(t - latest, 0). Two summaries join in O(1), so a route changed in a few
// places is timed from the cached summaries of its unchanged parts.
//
// A point without a window has earliest -infinity and latest +infinity; the rules never
// subtract two infinities of the same sign, so no NaN arises.
struct TimeSegment {
  static constexpr double kUnbounded = std::numeric_limits<double>::infinity();

  std::int32_t first = -1;  // first and last vertex; -1 for the empty segment
  std::int32_t last = -1;
  double duration = 0.0;  // travel and waiting inside the stretch
  double time_warp = 0.0;
  double earliest = -kUnbounded;  // the stretch is best entered between these two times
  double latest = kUnbounded;
  std::int32_t broken = 0;  // legs inside the stretch that have no connection

  bool empty() const { return first < 0; }

  // One point with the window [open, close].
  static TimeSegment Point(std::int32_t v, double open, double close) {
    TimeSegment s;
    s.first = v;
    s.last = v;
    s.earliest = open;
    s.latest = close;
    return s;
  }
  static TimeSegment UnboundedPoint(std::int32_t v) {
    TimeSegment s;
    s.first = v;
    s.last = v;
    return s;
  }

  // Arrival at the last point when the first is entered at `start`; `warp` receives the time
  // warp of the whole stretch.
  double ArrivalFrom(double start, double& warp) const {
    warp = time_warp + std::max(start - latest, 0.0);
    return std::max(earliest, std::min(start, latest)) + duration - time_warp;
  }
};

// `a` followed by `b`, with a leg of cost `leg` from a's last point to b's first; `no_connection`
// marks that leg as one the agent may not travel. Either side may be empty.
inline TimeSegment Join(const TimeSegment& a, const TimeSegment& b, double leg,
                        bool no_connection) {
  if (a.empty()) {
    return b;
  }
  if (b.empty()) {
    return a;
  }
  const double delta = a.duration - a.time_warp + leg;
  const double wait = std::max(b.earliest - delta - a.latest, 0.0);
  const double warp = std::max(a.earliest + delta - b.latest, 0.0);
  TimeSegment out;
  out.first = a.first;
  out.last = b.last;
  out.duration = a.duration + b.duration + leg + wait;
  out.time_warp = a.time_warp + b.time_warp + warp;
  out.earliest = std::max(b.earliest - delta, a.earliest) - wait;
  out.latest = std::min(b.latest - delta, a.latest) + warp;
  out.broken = a.broken + b.broken + (no_connection ? 1 : 0);
  return out;
}

}  // namespace plenro
