#include "plenro/model/run_control.h"

#include <ctime>

namespace plenro {

double Stopwatch::Now(BudgetClock clock) {
  timespec ts{};
  clock_gettime(clock == BudgetClock::kWall ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

ProgressPacer::ProgressPacer(const RunControl* control, SolvePhase phase)
    : control_(control), phase_(phase) {
  if (active()) {
    const double now = Stopwatch::Now(BudgetClock::kWall);
    next_due_ = now + control_->progress_interval;
    routes_due_ = now;
  }
}

void ProgressPacer::Tick(double elapsed, std::int64_t work, double best, const RoutePlan* routes) {
  if (!active()) {
    return;
  }
  const double now = Stopwatch::Now(BudgetClock::kWall);
  const bool owed = routes_owed_ && routes != nullptr;
  if (now >= next_due_ || (owed && now >= routes_due_)) {
    Report(elapsed, work, best, false, owed ? RoutesDue(now, routes) : nullptr);
  }
}

void ProgressPacer::Improved(double elapsed, std::int64_t work, double best,
                             const RoutePlan* routes) {
  if (!active()) {
    return;
  }
  const RoutePlan* attached = nullptr;
  if (wants_routes() && routes != nullptr) {
    attached = RoutesDue(Stopwatch::Now(BudgetClock::kWall), routes);
    routes_owed_ = attached == nullptr;
  }
  Report(elapsed, work, best, true, attached);
}

void ProgressPacer::Flush(double elapsed, std::int64_t work, double best, const RoutePlan* routes) {
  if (active() && routes_owed_ && routes != nullptr) {
    routes_owed_ = false;
    routes_due_ = Stopwatch::Now(BudgetClock::kWall) + control_->route_interval;
    Report(elapsed, work, best, false, routes);
  }
}

const RoutePlan* ProgressPacer::RoutesDue(double now, const RoutePlan* routes) {
  if (!wants_routes() || routes == nullptr || now < routes_due_) {
    return nullptr;
  }
  routes_due_ = now + control_->route_interval;
  routes_owed_ = false;
  return routes;
}

void ProgressPacer::Report(double elapsed, std::int64_t work, double best, bool improved,
                           const RoutePlan* routes) {
  control_->progress(ProgressReport{phase_, elapsed, work, best, improved, routes});
  // The interval counts from the end of the report, so a slow hook never runs back to back.
  next_due_ = Stopwatch::Now(BudgetClock::kWall) + control_->progress_interval;
}

}  // namespace plenro
