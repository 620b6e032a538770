#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace plenro {

// Which clock a time budget counts.
enum class BudgetClock : std::int32_t {
  // Processor time of the thread that reads the clock: a solve's budget does not shrink while
  // other threads of the process work.
  kThreadCpu = 0,
  // Wall-clock (monotonic) time.
  kWall = 1,
};

// Seconds on the chosen clock since Start().
class Stopwatch {
 public:
  explicit Stopwatch(BudgetClock clock = BudgetClock::kThreadCpu) : clock_(clock) {}

  void Start() { start_ = Now(clock_); }
  double Elapsed() const { return Now(clock_) - start_; }
  BudgetClock clock() const { return clock_; }
  void set_clock(BudgetClock clock) { clock_ = clock; }

  // The clock's reading in seconds, from an arbitrary origin.
  static double Now(BudgetClock clock);

 private:
  BudgetClock clock_;
  double start_ = 0.0;
};

// What a solve is doing when it reports progress.
enum class SolvePhase : std::int32_t { kSearch = 0, kConstruction = 1, kImprovement = 2 };

// One progress report: the elapsed time on the budget's clock, the work done so far (search
// states generated, or improvement iterations), the best objective value found (NaN before the
// first solution), and whether this report announces an improvement.
struct ProgressReport {
  SolvePhase phase = SolvePhase::kSearch;
  double elapsed = 0.0;
  std::int64_t work = 0;
  double best = 0.0;
  bool improved = false;
};

// What a caller hands a running solve besides its options: a flag that asks it to stop (polled
// every few milliseconds; the solve then ends as at a time-out and keeps its best solution) and
// a progress hook. Both are optional, and neither changes the search when unused.
struct RunControl {
  const std::atomic<bool>* stop = nullptr;
  std::function<void(const ProgressReport&)> progress;

  bool StopRequested() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

}  // namespace plenro
