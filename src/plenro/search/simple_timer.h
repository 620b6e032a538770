#pragma once

#include <cstdint>

#include "plenro/model/run_control.h"

namespace plenro {

// Measures the search's time, in seconds, on a budget clock: by default the processor time of
// the thread that reads it, so that a search's budget does not shrink while other threads of the
// process work; or the wall clock (set_clock). The clock is read at 1,000,000 ticks per second.
class SimpleTimer {
 public:
  explicit SimpleTimer(BudgetClock clock = BudgetClock::kThreadCpu) : clock_(clock) {}
  virtual ~SimpleTimer() = default;
  // Remembers the current clock reading and returns it.
  virtual std::int64_t Start();
  // Seconds on the clock since the last Start.
  virtual double Elapsed() const;
  // Writes " System Clock Duration: " and Elapsed() on standard output, then flushes.
  virtual void Print() const;

  BudgetClock clock() const { return clock_; }
  // Takes effect at the next Start.
  void set_clock(BudgetClock clock) { clock_ = clock; }

 private:
  BudgetClock clock_;
  BudgetClock started_clock_ = BudgetClock::kThreadCpu;
  std::int64_t start_ticks_ = 0;
};

}  // namespace plenro
