#pragma once

#include <algorithm>
#include <limits>

namespace plenro {

// The time resource of a stretch of consecutive route points (see RouteSummary), after the
// concatenation rules of Vidal et al. (timing problems) with the time-warp relaxation of
// Nagata et al.: an agent that arrives after a window closes "warps" back to the close and the
// amount is counted as time warp instead of making the stretch unusable.
//
// Entering the first point at time t, the agent reaches the last point at
// max(earliest, min(t, latest)) + duration - time_warp, with a time warp of
// time_warp + max(t - latest, 0). Two summaries join in O(1), so a route changed in a few
// places is timed from the cached summaries of its unchanged parts.
//
// A point without a window has earliest -infinity and latest +infinity (the default); the rules
// never subtract two infinities of the same sign, so no NaN arises.
struct TimeSegment {
  static constexpr double kUnbounded = std::numeric_limits<double>::infinity();

  double duration = 0.0;  // travel and waiting inside the stretch
  double time_warp = 0.0;
  double earliest = -kUnbounded;  // the stretch is best entered between these two times
  double latest = kUnbounded;

  // One point with the window [open, close].
  static TimeSegment Window(double open, double close) {
    TimeSegment s;
    s.earliest = open;
    s.latest = close;
    return s;
  }

  // Arrival at the last point when the first is entered at `start`; `warp` receives the time
  // warp of the whole stretch.
  double ArrivalFrom(double start, double& warp) const {
    warp = time_warp + std::max(start - latest, 0.0);
    return std::max(earliest, std::min(start, latest)) + duration - time_warp;
  }
};

// `a` followed by `b`, with a leg of cost `leg` from a's last point to b's first.
inline TimeSegment Join(const TimeSegment& a, const TimeSegment& b, double leg) {
  const double delta = a.duration - a.time_warp + leg;
  const double wait = std::max(b.earliest - delta - a.latest, 0.0);
  const double warp = std::max(a.earliest + delta - b.latest, 0.0);
  TimeSegment out;
  out.duration = a.duration + b.duration + leg + wait;
  out.time_warp = a.time_warp + b.time_warp + warp;
  out.earliest = std::max(b.earliest - delta, a.earliest) - wait;
  out.latest = std::min(b.latest - delta, a.latest) + warp;
  return out;
}

}  // namespace plenro
