#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plenro/instance/instance_view.h"
#include "plenro/model/route_plan.h"
#include "plenro/model/run_control.h"
#include "plenro/model/types.h"

namespace plenro {

// How long and how the engine runs.
struct ImproveSettings {
  std::uint64_t seed = 0;
  // Ruin-and-recreate iterations; 0: no limit, but the run also ends once the best solution
  // has not improved for many iterations (a number that grows with the instance). With a limit
  // (and no time-out), a seed fixes the outcome, because the engine's schedule then follows the
  // iterations, not the clock.
  std::int64_t iteration_limit = 0;
  // Seconds on the caller's clock (counted from its start) at which the engine stops.
  double time_limit = 0.0;
  // Build the first routes and descend from them (with one repair where they break a rule),
  // without ruin and recreate.
  bool construct_only = false;
};

// What a run found and did.
struct ImproveOutcome {
  bool found = false;  // a feasible solution exists; `best` holds it
  RoutePlan best;
  double best_time = 0.0;  // clock reading when `best` was found
  std::int64_t iterations = 0;
  std::int64_t moves_evaluated = 0;  // local-search moves and insertion places scored
  bool out_of_time = false;          // stopped by the time limit
  bool interrupted = false;          // stopped by the run control's stop flag
  // Why no solution can exist (a point no agent can serve or carry at all, orders that cannot
  // be kept); empty otherwise.
  std::string unservable;
  // Why a run that ended without a solution found none: the windows, route limits and
  // connections its closest routes break. Empty when it found one or `unservable` is set.
  std::string shortfall;
};

// The improvement engine: local search and ruin-and-recreate over all agents' routes at once,
// on the true objective with every constraint of the instance. It starts from a given solution
// or builds one by regret insertion, then repeats ruin, recreate and a granular descent,
// accepting candidates by simulated annealing on the whole-solution key. Time warp and route
// length over a limit are allowed during the search at an adaptive price; only solutions free
// of them, and accepted by the shared route evaluation, are kept and returned.
class ImprovementEngine {
 public:
  // The view must outlive the engine.
  ImprovementEngine(const InstanceView& view, ObjectiveType objective);
  ~ImprovementEngine();
  ImprovementEngine(const ImprovementEngine&) = delete;
  ImprovementEngine& operator=(const ImprovementEngine&) = delete;

  // Called with every new best solution and the clock reading at that moment.
  using Listener = std::function<void(const RoutePlan&, double)>;

  // Improves `initial` (one route per agent, as RoutePlan holds them; null: build one) until
  // the settings or the run control stop it. The outcome is never worse than a valid
  // `initial`. When a point cannot be served at all, the run ends at once without a solution
  // and `unservable` says which point and why.
  ImproveOutcome Run(const RoutePlan* initial, const ImproveSettings& settings,
                     const Stopwatch& clock, const RunControl& control,
                     const Listener& on_improvement = nullptr);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plenro
