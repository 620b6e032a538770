// The solver's operations on its search containers: state ids, dominance, the goal and cost
// queries, the focal bound, the incumbent prune and the extraction of a solution's routes.

#include <algorithm>
#include <utility>
#include <vector>

#include "plenro/search/solver.h"
#include "plenro/search/state_queries.h"

namespace plenro {

std::int64_t Solver::NewStateId() {
  return store_.NewStateId();
}

bool Solver::IsDominated(const SearchState& state) {
  return dominance_.IsDominated(state);
}

void Solver::AddToFrontier(const SearchState& state) {
  dominance_.AddToFrontier(state);
}

bool Solver::IsGoal(const SearchState& state) const {
  return IsGoalState(state);
}

double Solver::TotalCost(const SearchState& state) const {
  return TotalRouteCost(state, static_cast<std::size_t>(num_agents_));
}

void Solver::ResetFrontierCounter() {
  dominance_.ResetFrontierCounter();
}

std::int64_t Solver::CountVisited(const SearchState& state) const {
  return CountVisitedPoints(state);
}

FocalKey Solver::GrownFocalKey(std::int64_t id, double f) {
  // The key counts visited points and unfinished routes: only those are loaded.
  store_.LoadVisited(id, scratch_);
  return FocalKey{id, CountVisited(scratch_), scratch_.unfinished, f, 0.0};
}

void Solver::UpdateFocalBound(double old_bound, double new_bound) {
  sets_.UpdateFocalBound(old_bound, new_bound,
                         [this](std::int64_t id, double f) { return GrownFocalKey(id, f); });
}

void Solver::ApplyIncumbent(double cost) {
  sets_.ApplyIncumbent(cost);
  incumbent_ = cost;
}

void Solver::ExtractSolution(std::int64_t goal_id) {
  const auto m = static_cast<std::uint64_t>(num_agents_);
  // (agent, point) from the goal back to the root's children, then every start point.
  std::vector<std::pair<std::uint64_t, std::int64_t>> moves;
  for (std::int64_t id = goal_id; id >= 1; id = store_.Parent(id)) {
    const std::uint64_t agent = store_.LastAgent(id);
    moves.emplace_back(agent, store_.Position(id, agent));
  }
  for (std::uint64_t i = 0; i < m; ++i) {
    moves.emplace_back(i, static_cast<std::int64_t>(starts_[i]));
  }
  std::reverse(moves.begin(), moves.end());
  for (std::uint64_t i = 0; i < m; ++i) {
    result_.paths[i].clear();
  }
  for (const auto& [agent, point] : moves) {
    result_.paths[agent].push_back(point);
  }
  for (std::uint64_t i = 0; i < m; ++i) {
    result_.times[i] = store_.Cost(goal_id, i);
  }
}

}  // namespace plenro
