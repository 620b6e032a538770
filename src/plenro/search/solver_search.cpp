// The anytime focal search: passes with decreasing focal weights, each step popping the first
// focal entry, pruning it, expanding one agent's route by one point, and recording solutions.

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "plenro/model/log_sink.h"
#include "plenro/model/objective.h"
#include "plenro/search/memory_budget.h"
#include "plenro/search/point_limit.h"
#include "plenro/search/route_export.h"
#include "plenro/search/solver.h"
#include "plenro/search/state_queries.h"

namespace plenro {

namespace {

constexpr std::size_t kPassLimit = 100;
constexpr double kFirstWeight = 100.0;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
// Rough per-state cost, besides the store's slot and one cost per agent, of what grows with the
// states: the open-set entry, the frontier record of expanded states, the focal set and the
// dominance keys. Measured runs stay below the estimate.
constexpr std::size_t kStateOverheadBytes = 64;

}  // namespace

void Solver::ResetSearch() {
  store_.Reset(static_cast<std::size_t>(num_agents_));
  sets_.Clear();
  sets_.focal.SetComparator(focal_comparator_.get());
  sets_.focal_bound = 0.0;
  dominance_.Clear();
  weights_.assign(1, kFirstWeight);
  incumbent_ = -1.0;
  max_path_length_ = -1.0;
  last_solution_time_ = 0.0;
  found_ = false;
  expansion_cap_ = -1;
  goal_id_ = -1;
  result_ = Result{};
  statistics_ = SolverStatistics{};
  best_value_ = std::numeric_limits<double>::quiet_NaN();
  reported_routes_ = RoutePlan{};
  stopped_ = false;
  search_time_ = 0.0;
}

void Solver::SetRunControl(RunControl control) {
  run_control_ = std::move(control);
  timer_.set_clock(run_control_.clock);
}

void Solver::CheckSearchInput(std::uint64_t n) const {
  CheckPointLimit(n);
  const auto m = static_cast<std::size_t>(num_agents_);
  std::ostringstream message;
  if (points_.size() < n) {
    message << "the graph has " << n << " vertices but only " << points_.size()
            << " points were given";
  } else if (starts_.size() != m || goals_.size() != m || agents_.size() != m) {
    message << "the search needs one start point, one end point and one agent record per agent; "
            << "got " << starts_.size() << " start points, " << goals_.size() << " end points and "
            << agents_.size() << " agent records";
  } else {
    for (std::size_t i = 0; i < m && message.tellp() == 0; ++i) {
      if (starts_[i] >= n || goals_[i] >= n) {
        message << "agent " << i << " starts at " << starts_[i] << " and ends at " << goals_[i]
                << ", but the graph has only " << n << " vertices";
      } else if (agents_[i].type < 0 || static_cast<std::uint64_t>(agents_[i].type) >= num_types_) {
        message << "agent " << i << " (id " << agents_[i].id << ") has type " << agents_[i].type
                << ", but there are " << num_types_ << " agent types";
      }
    }
  }
  if (message.tellp() != 0) {
    throw std::invalid_argument(message.str());
  }
}

bool Solver::RoomForNextState() {
  if (!store_.NextIdGrows()) {
    return true;
  }
  const auto per_state = static_cast<std::uint64_t>(store_.BytesPerState() + kStateOverheadBytes +
                                                    sizeof(double) * store_.NumAgents());
  const auto after =
      static_cast<std::uint64_t>(store_.Capacity() + store_.GrowthStep()) * per_state;
  if (after <= memory_budget_bytes_) {
    return true;
  }
  result_.timeout = true;
  Log(LogStream::kErr, "[warning] search stopped: memory budget of ",
      static_cast<std::uint64_t>(static_cast<double>(memory_budget_bytes_) / kBytesPerMiB),
      " MiB reached\n");
  return false;
}

bool Solver::StartSearch(std::uint64_t n) {
  const auto m = static_cast<std::size_t>(num_agents_);
  num_points_ = n;
  // Every state sets the bits from n up, so the frontiers compare only the words below.
  dominance_.SetVisitedWords((n + 63) / 64);

  SearchState& root = cur_;
  root.positions.assign(starts_.begin(), starts_.end());
  root.costs.assign(m, 0.0);
  root.finished.assign(m, 0);
  root.unfinished = num_agents_;
  root.last_agent = 0;
  root.num_bits = static_cast<std::int32_t>(n);
  root.visited = VisitedSet::Sized(static_cast<std::int64_t>(n));
  for (const std::uint64_t v : pre_visited_) {
    if (v < n) {
      root.visited.Set(v);
    }
  }
  // A route that leaves its start point never comes back to serve it: count it as visited.
  for (std::size_t i = 0; i < m; ++i) {
    if (starts_[i] != goals_[i]) {
      root.visited.Set(starts_[i]);
    }
  }

  if (!RoomForNextState()) {
    return false;
  }
  const std::int64_t id = NewStateId();
  root.id = id;
  root.g = objective_->Evaluate(root.costs);
  root.h = heuristic_->Estimate(root);
  root.f = objective_->Combine(root, num_agents_, root.h);
  store_.Store(id, root);
  store_.SetParent(id, -1);
  result_.n_generated += 1;

  sets_.focal_bound = weights_[0] * root.f;
  sets_.open.Insert(root.f, id);
  const std::int64_t visited = CountVisited(root);
  const double total = TotalCost(root);
  if (total != 0) {
    std::ostringstream message;
    message << "Initial length is not 0 ! (the root's route costs add up to " << total << ")";
    throw std::runtime_error(message.str());
  }
  sets_.focal.Insert(FocalKey{id, visited, num_agents_, root.f, total});
  return true;
}

bool Solver::Search() {
  // The search honours none of the loads, service durations and orders: where they apply, the
  // improvement engine solves alone (with improvement off, its construction and descent).
  return improve_ || RouteRulesApply() ? SearchThenImprove() : RunSearch();
}

bool Solver::RunSearch() {
  ResetSearch();
  anytime_.clear();
  timer_.Start();
  pacer_ = ProgressPacer(&run_control_, SolvePhase::kSearch);
  ResetFrontierCounter();
  // A graph handed in since the last Initialize, or changed in size: the view reads its costs.
  if (graph_ != nullptr && (view_graph_ != graph_ || NumVertices() != graph_->NumVertex())) {
    RefreshViewCosts();
  }
  const std::uint64_t n = NumVertices();
  CheckSearchInput(n);
  memory_budget_bytes_ = SearchMemoryBudgetBytes();

  if (StartSearch(n)) {
    std::size_t pass = 0;
    while (!Ended()) {
      RestartDryFocal(pass);
      if (!sets_.focal.Empty()) {
        RunPass(pass);
      }
      if (Ended() || sets_.open.Empty()) {
        break;
      }
      UpdateWeights();
      ++pass;
      // Before an improvement, the search ends with the pass that found its first solution,
      // or, on a small instance, after its follow-up expansions (Ended).
      if (pass >= kPassLimit || (stop_at_first_solution_ && found_ && follow_up_expansions_ == 0)) {
        break;
      }
    }
  }
  search_time_ = timer_.Elapsed();
  pacer_.Flush(search_time_, result_.n_generated, best_value_, &reported_routes_);

  if (!found_) {
    return false;
  }
  if (!name_.empty()) {
    WriteRouteExport(name_, RouteExport{num_agents_, starts_, goals_, max_path_length_, &result_});
  }
  return true;
}

void Solver::RestartDryFocal(std::size_t pass) {
  if (!sets_.focal.Empty() || sets_.open.Empty()) {
    return;
  }
  sets_.RefillFocal(weights_[pass] * sets_.open.MinF(),
                    [this](std::int64_t id, double f) { return GrownFocalKey(id, f); });
}

void Solver::UpdateWeights() {
  const double fmin = sets_.open.MinF();
  const double z = incumbent_ / fmin;
  const double d = (z - 1.0) / 5.0;
  if (d < 0.001) {
    weights_.push_back(1.0);
    Log(LogStream::kOut, "w = 1\n");
  } else {
    weights_.push_back(z - d);
    statistics_.bound = incumbent_ / fmin;
  }
}

void Solver::RunPass(std::size_t pass) {
  while (Step(pass) == StepEnd::kNextStep) {
  }
}

void Solver::RefreshFocalBound(std::size_t pass) {
  if (sets_.open.Empty()) {
    return;
  }
  const double bound = weights_[pass] * sets_.open.MinF();
  if (bound != sets_.focal_bound) {
    UpdateFocalBound(sets_.focal_bound, bound);
  }
}

Solver::StepEnd Solver::Step(std::size_t pass) {
  const double elapsed = timer_.Elapsed();
  if (elapsed > time_limit_) {
    result_.timeout = true;
    return StepEnd::kPassEnds;
  }
  if (run_control_.StopRequested()) {
    stopped_ = true;
    return StepEnd::kPassEnds;
  }
  if (Ended()) {
    return StepEnd::kPassEnds;  // its follow-up expansions are spent
  }
  pacer_.Tick(elapsed, result_.n_generated, best_value_, &reported_routes_);

  const std::int64_t id = sets_.focal.Front().id;
  const double f = sets_.focal.Front().f;
  store_.Load(id, cur_);
  // The store keeps no f (the focal key holds it) and no g for a state stored as a change: g is
  // the objective of the costs.
  cur_.f = f;
  cur_.g = objective_->Evaluate(cur_.costs);
  sets_.focal.PopFront();
  sets_.open.Erase(cur_.f, cur_.id);

  const bool pruned = IsDominated(cur_) || (incumbent_ != -1.0 && incumbent_ <= cur_.f);
  if (!pruned) {
    RefreshFocalBound(pass);
    AddToFrontier(cur_);
    if (IsGoal(cur_)) {
      HandleSolution();
      return StepEnd::kPassEnds;
    }
    if (!Expand()) {
      if (!result_.timeout) {
        Log(LogStream::kErr, "can't find next expanded agent\n");
      }
      return StepEnd::kPassEnds;
    }
    RefreshFocalBound(pass);
  }
  return sets_.focal.Empty() ? StepEnd::kPassEnds : StepEnd::kNextStep;
}

bool Solver::Expand() {
  result_.n_expanded += 1;
  const std::int64_t selected = expansion_->SelectAgent(cur_);
  if (selected < 0 || selected >= num_agents_) {
    return false;
  }
  const auto agent = static_cast<std::uint64_t>(selected);
  for (std::uint64_t point = 0; point < num_points_; ++point) {
    TryMove(agent, point);
    if (result_.timeout) {
      return false;  // out of memory for states: the search ends here
    }
  }
  return true;
}

void Solver::TryMove(std::uint64_t a, std::uint64_t j) {
  const std::uint64_t start = starts_[a];
  const std::uint64_t goal = goals_[a];
  const bool own_start = j == start;
  const bool own_goal = j == goal;

  if (cur_.visited.Test(j) && !own_start && !own_goal) {
    return;
  }
  if (constraint_checker_->IsForbidden(a, j)) {
    return;
  }
  // Depots: never another agent's end point; another agent's start point only when routes must
  // end at their end points; the own end point always, and the own start point only when routes
  // may end there. The agent's own start and end points are never refused because another agent
  // starts or ends there too.
  if (return_to_end_) {
    if ((own_start && !own_goal) || (!own_goal && view_.IsGoal(j))) {
      return;
    }
  } else if (!own_start && !own_goal && (view_.IsStart(j) || view_.IsGoal(j))) {
    return;
  }
  // Staying put and, without the return rule, ending at the own start or end point are free;
  // a leg the agent pays that has no connection is never travelled.
  const double leg = view_.Leg(static_cast<std::uint64_t>(cur_.positions[a]), j, a);
  if (IsNoConnection(leg)) {
    return;
  }

  SearchState& child = child_;
  child = cur_;
  child.visited.Set(j);
  child.last_agent = a;

  if (own_goal || (!return_to_end_ && own_start)) {
    if (child.finished[a] == 0) {
      child.finished[a] = 1;
      child.unfinished -= 1;
    }
    if (child.unfinished == 0 && !AllPointsVisited(child)) {
      return;
    }
    if (constraint_checker_->IsRejectedOnFinish(child)) {
      return;
    }
  }

  child.costs[a] += leg;

  const MoveCheck check = constraint_checker_->OnMove(child, a, j);
  if (!check.accepted) {
    return;
  }
  if (check.has_value) {
    child.costs[a] = check.value;
  }
  if (!constraint_checker_->IsFeasible(child, a)) {
    return;
  }
  child.positions[a] = static_cast<std::int64_t>(j);

  // Dominance is tested before g is recomputed, so it compares the g copied from the parent.
  if (IsDominated(child)) {
    return;
  }
  child.g = objective_->Evaluate(child.costs);
  if (child.unfinished < 1) {
    child.h = 0.0;
    child.f = child.g;
  } else {
    child.h = heuristic_->Estimate(child);
    child.f = objective_->Combine(child, child.unfinished, child.h);
  }
  if (incumbent_ != -1.0 && child.f >= incumbent_) {
    return;
  }

  if (!RoomForNextState()) {
    return;
  }
  const std::int64_t id = NewStateId();
  child.id = id;
  store_.StoreChild(id, cur_.id, child, cur_.unfinished);
  sets_.open.Insert(child.f, id);
  result_.n_generated += 1;
  if (child.f <= sets_.focal_bound) {
    sets_.focal.Insert(
        FocalKey{id, CountVisited(child), child.unfinished, child.f, TotalCost(child)});
  }
}

void Solver::HandleSolution() {
  if (stop_at_first_solution_ && follow_up_expansions_ > 0 && !found_) {
    expansion_cap_ = result_.n_expanded + follow_up_expansions_;
  }
  found_ = true;
  goal_id_ = cur_.id;
  ExtractSolution(cur_.id);
  const double before = timer_.Elapsed();
  anytime_.push_back(AnytimeEntry{before, result_});
  last_solution_time_ = before;

  post_optimizer_->Optimize(result_);
  const double after = timer_.Elapsed();
  anytime_.push_back(AnytimeEntry{after, result_});
  last_solution_time_ = after;

  max_path_length_ = 0.0;
  for (const auto& [agent, cost] : result_.times) {
    if (cost > max_path_length_) {
      max_path_length_ = cost;
    }
  }
  ComputeStatistics();
  ApplyIncumbent(max_path_length_);
  ReportSolution(after);
}

void Solver::ReportSolution(double elapsed) {
  RouteTotals totals;
  for (const auto& [agent, cost] : result_.times) {
    totals.Add(cost);
  }
  const double value = ObjectiveValue(objective_type_, totals);
  if (std::isnan(best_value_) || Improves(value, best_value_)) {
    best_value_ = value;
    if (pacer_.wants_routes()) {
      reported_routes_ = PlanOfResult();
    }
    pacer_.Improved(elapsed, result_.n_generated, value, &reported_routes_);
  }
}

RoutePlan Solver::PlanOfResult() const {
  RoutePlan plan;
  for (std::size_t a = 0; a < agents_.size(); ++a) {
    const auto path = result_.paths.find(a);
    const auto cost = result_.times.find(a);
    plan.routes.push_back(path != result_.paths.end() ? path->second : std::vector<std::int64_t>{});
    plan.costs.push_back(cost != result_.times.end() ? cost->second : 0.0);
  }
  return plan;
}

}  // namespace plenro
