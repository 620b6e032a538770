#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "plenro/model/route_plan.h"

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
// first solution), whether this report announces an improvement, and, when the run control asks
// for them and this report carries them, the best solution's routes (null otherwise; they live
// as long as the call).
struct ProgressReport {
  SolvePhase phase = SolvePhase::kSearch;
  double elapsed = 0.0;
  std::int64_t work = 0;
  double best = 0.0;
  bool improved = false;
  const RoutePlan* routes = nullptr;
};

// What a caller hands a running solve besides its options: a flag that asks it to stop (polled
// every few milliseconds; the solve then ends as at a time-out and keeps its best solution), a
// progress hook, how often the hook is called besides on improvements, and the clock that counts
// the time budget. All are optional, and none changes the search when unused: the same instance
// gives the same states and routes with or without them, until a stop.
struct RunControl {
  const std::atomic<bool>* stop = nullptr;
  // Called on the solving thread with every improvement and, in between, once per
  // `progress_interval` seconds of wall time at least (as often as the solve checks its clock).
  std::function<void(const ProgressReport&)> progress;
  double progress_interval = 0.5;
  // Whether reports carry the best routes: an improvement carries them when `route_interval`
  // seconds of wall time have passed since routes last went out; the routes of one that came
  // sooner follow with the first report after that, or at the end of the run.
  bool progress_routes = false;
  double route_interval = 0.25;
  BudgetClock clock = BudgetClock::kThreadCpu;

  bool StopRequested() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

// Paces a run's progress reports: an improvement is reported at once, and otherwise at most one
// report goes out per interval of wall time. Routes, where the control asks for them, go out
// with an improvement at most once per route interval (see RunControl). Without a progress hook
// it does nothing and reads no clock. `routes` is the best solution so far (null before one).
class ProgressPacer {
 public:
  ProgressPacer() = default;
  // Reports for `control` (which must outlive the pacer's use, or be null) in `phase`; the
  // interval starts now.
  ProgressPacer(const RunControl* control, SolvePhase phase);

  bool active() const { return control_ != nullptr && static_cast<bool>(control_->progress); }
  // Whether the reports carry routes, so the run should hand its best ones over.
  bool wants_routes() const { return active() && control_->progress_routes; }
  // Reports when the interval has passed since the last report.
  void Tick(double elapsed, std::int64_t work, double best, const RoutePlan* routes = nullptr);
  // Reports an improvement at once.
  void Improved(double elapsed, std::int64_t work, double best, const RoutePlan* routes = nullptr);
  // At the end of a run: reports the routes of an improvement that went out without them.
  void Flush(double elapsed, std::int64_t work, double best, const RoutePlan* routes);

 private:
  // The routes to attach now, if any, and the next time routes may go out.
  const RoutePlan* RoutesDue(double now, const RoutePlan* routes);
  void Report(double elapsed, std::int64_t work, double best, bool improved,
              const RoutePlan* routes);

  const RunControl* control_ = nullptr;
  SolvePhase phase_ = SolvePhase::kSearch;
  double next_due_ = 0.0;     // wall-clock reading
  double routes_due_ = 0.0;   // wall-clock reading
  bool routes_owed_ = false;  // an improvement went out without its routes
};

}  // namespace plenro
