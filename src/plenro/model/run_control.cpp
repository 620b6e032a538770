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
    next_due_ = Stopwatch::Now(BudgetClock::kWall) + control_->progress_interval;
  }
}

void ProgressPacer::Tick(double elapsed, std::int64_t work, double best) {
  if (active() && Stopwatch::Now(BudgetClock::kWall) >= next_due_) {
    Report(elapsed, work, best, false);
  }
}

void ProgressPacer::Improved(double elapsed, std::int64_t work, double best) {
  if (active()) {
    Report(elapsed, work, best, true);
  }
}

void ProgressPacer::Report(double elapsed, std::int64_t work, double best, bool improved) {
  control_->progress(ProgressReport{phase_, elapsed, work, best, improved});
  // The interval counts from the end of the report, so a slow hook never runs back to back.
  next_due_ = Stopwatch::Now(BudgetClock::kWall) + control_->progress_interval;
}

}  // namespace plenro
