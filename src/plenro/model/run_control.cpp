#include "plenro/model/run_control.h"

#include <ctime>

namespace plenro {

double Stopwatch::Now(BudgetClock clock) {
  timespec ts{};
  clock_gettime(clock == BudgetClock::kWall ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace plenro
