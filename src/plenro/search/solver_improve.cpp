// The solver's improvement mode: the search's first solution (or, where the search cannot run,
// the engine's own construction) improved by the improvement engine for the rest of the time
// limit, each better solution recorded as the search records its own. The result is never worse
// than the solution the search handed over.

#include <cstddef>

#include "plenro/improve/improvement_engine.h"
#include "plenro/model/log_sink.h"
#include "plenro/model/objective.h"
#include "plenro/search/solver.h"

namespace plenro {

namespace {

// Share of the time limit the search may spend looking for its first solution.
constexpr double kSearchShare = 0.2;
// On instances of at most this many points the search goes on after its first solution, within
// its share, for at most this many more expansions: there its later passes are quick and often
// end with routes no improvement finds, and the improvement then starts from the best of them.
// A count rather than a time keeps the outcome the same from run to run.
constexpr std::size_t kFollowUpPoints = 24;
constexpr std::int64_t kFollowUpExpansions = 20000;

}  // namespace

bool Solver::SearchThenImprove() {
  const double budget = time_limit_;
  clock_.set_clock(run_control_.clock);
  clock_.Start();
  no_solution_reason_.clear();
  const bool engine_alone = RouteRulesApply();
  if (initialized_ && points_.size() <= static_cast<std::size_t>(kMaxPoints) && !engine_alone) {
    time_limit_ = budget * kSearchShare;
    stop_at_first_solution_ = true;
    follow_up_expansions_ = points_.size() <= kFollowUpPoints ? kFollowUpExpansions : 0;
    RunSearch();
    stop_at_first_solution_ = false;
    follow_up_expansions_ = 0;
    expansion_cap_ = -1;
    time_limit_ = budget;
    // The search's share running out is not the end of the solve; a stop request is.
    result_.timeout = false;
    if (stopped_) {
      search_time_ = clock_.Elapsed();
      return found_;
    }
  } else {
    ResetSearch();
    anytime_.clear();
  }

  const RoutePlan first = found_ ? PlanOfResult() : RoutePlan{};
  // The search's solution stands unless the engine beats it: the engine starts from it, and
  // only a solution better than every one recorded so far replaces it and enters the history.
  bool have_best = found_;
  ObjectiveKey best_key = KeyOf(objective_type_, TotalsOf(first.costs));
  const auto on_improvement = [this, &have_best, &best_key](const RoutePlan& plan, double elapsed) {
    const ObjectiveKey key = KeyOf(objective_type_, TotalsOf(plan.costs));
    if (have_best && !Better(key, best_key)) {
      return;
    }
    have_best = true;
    best_key = key;
    RecordImprovement(plan, elapsed);
  };
  ImprovementEngine engine(view_, objective_type_);
  const ImproveSettings settings{seed_, improve_iteration_limit_, budget, !improve_};
  const ImproveOutcome outcome =
      engine.Run(found_ ? &first : nullptr, settings, clock_, run_control_, on_improvement);
  if (!outcome.unservable.empty()) {
    Log(LogStream::kErr, "[warning] ", outcome.unservable, "\n");
    no_solution_reason_ = outcome.unservable;
  } else if (!outcome.found && !found_) {
    Log(LogStream::kErr, "[warning] ", outcome.shortfall, "\n");
    no_solution_reason_ = outcome.shortfall;
  }
  improve_moves_ = outcome.moves_evaluated;
  improve_iterations_done_ = outcome.iterations;
  result_.timeout = outcome.out_of_time;
  stopped_ = outcome.interrupted;
  search_time_ = clock_.Elapsed();
  return found_;
}

void Solver::RecordImprovement(const RoutePlan& plan, double elapsed) {
  result_.paths.clear();
  result_.times.clear();
  for (std::size_t a = 0; a < plan.routes.size(); ++a) {
    result_.paths[a] = plan.routes[a];
    result_.times[a] = plan.costs[a];
  }
  max_path_length_ = TotalsOf(plan.costs).max;
  found_ = true;
  last_solution_time_ = elapsed;
  anytime_.push_back(AnytimeEntry{elapsed, result_});
  ComputeStatistics();
}

}  // namespace plenro
