#include "plenro/plugins/route_merging_post_optimizer.h"

#include <algorithm>
#include <cmath>

#include "plenro/model/objective.h"

namespace plenro {

namespace {

std::ptrdiff_t Offset(std::int64_t pos) {
  return static_cast<std::ptrdiff_t>(pos);
}

}  // namespace

void RouteMergingPostOptimizer::Optimize(Result& result) {
  const std::uint64_t m = view().num_agents();
  routes_.assign(m, Route{});
  costs_.assign(m, 0.0);
  kept_invalid_.assign(m, 0);
  incoming_cost_.assign(m, 0.0);
  for (std::uint64_t i = 0; i < m; ++i) {
    const auto path = result.paths.find(i);
    if (path != result.paths.end()) {
      routes_[i] = path->second;
    }
    const auto time = result.times.find(i);
    incoming_cost_[i] = time != result.times.end() ? time->second : 0.0;
    const RouteEvaluation evaluation = evaluator().Evaluate(routes_[i], i);
    if (evaluation.valid) {
      costs_[i] = evaluation.cost;
    } else {
      kept_invalid_[i] = 1;
    }
  }

  double longest = 0.0;
  for (const double cost : costs_) {
    longest = std::max(longest, cost);
  }
  if (longest <= 0.0 || m == 0) {
    return;
  }

  Merge(longest);

  for (std::uint64_t j = 0; j < m; ++j) {
    if (costs_[j] > 0.0) {
      two_opt_.Improve(evaluator(), routes_[j], costs_[j], j);
    }
  }

  for (std::uint64_t k = 0; k < m; ++k) {
    result.paths[k] = routes_[k];
    result.times[k] = kept_invalid_[k] != 0 ? incoming_cost_[k] : costs_[k];
  }
}

void RouteMergingPostOptimizer::Merge(double longest) {
  const std::size_t m = routes_.size();
  order_.clear();
  for (std::size_t i = 0; i < m; ++i) {
    order_.emplace_back(costs_[i], static_cast<std::int64_t>(i));
  }
  std::sort(order_.begin(), order_.end());

  // The costs in order_ and the bound stay as they were before the first dissolution.
  for (const auto& entry : order_) {
    // Plain names, not a structured binding: the lambda below captures w (older clang cannot
    // capture a binding).
    const double cost = entry.first;
    const std::int64_t w = entry.second;
    if (!(cost > 0.0 && cost < longest - kImprovementTolerance && routes_[w].size() >= 3)) {
      continue;
    }
    // What is left once every interior point has moved must be a route the agent may drive.
    endpoints_.assign({routes_[w].front(), routes_[w].back()});
    const RouteEvaluation left = evaluator().Evaluate(endpoints_, static_cast<std::uint64_t>(w));
    if (!left.valid) {
      continue;
    }
    interior_.assign(routes_[w].begin() + 1, routes_[w].end() - 1);

    // Every point must have a place, each judged against the routes as they are now.
    const bool all_fit = std::all_of(interior_.begin(), interior_.end(), [&](std::int64_t p) {
      return FindInsertion(p, w, longest).found;
    });
    if (!all_fit) {
      continue;
    }

    if (MoveAll(w, longest)) {
      // The agent only goes from its start to its end point: nothing when they coincide or when
      // routes need not return, else that leg.
      costs_[w] = left.cost;
    }
  }
}

bool RouteMergingPostOptimizer::MoveAll(std::int64_t w, double longest) {
  moves_.clear();
  for (const std::int64_t p : interior_) {
    const Insertion place = FindInsertion(p, w, longest);
    if (!place.found) {
      // Earlier moves changed the other routes and this point has no place left: the route
      // cannot be dissolved, so every route gets back what it had before the attempt.
      UndoMoves();
      return false;
    }
    const auto agent = static_cast<std::size_t>(place.agent);
    moves_.push_back(Move{place.agent, place.pos, costs_[agent], kept_invalid_[agent]});
    Route& receiving = routes_[agent];
    receiving.insert(receiving.begin() + Offset(place.pos), p);
    // FindInsertion judged exactly this route valid at this cost.
    costs_[agent] = place.cost;
    kept_invalid_[agent] = 0;
  }
  // Every point has moved; what is left are the two endpoints.
  routes_[w] = endpoints_;
  return true;
}

void RouteMergingPostOptimizer::UndoMoves() {
  for (auto move = moves_.rbegin(); move != moves_.rend(); ++move) {
    const auto agent = static_cast<std::size_t>(move->agent);
    Route& receiving = routes_[agent];
    receiving.erase(receiving.begin() + Offset(move->pos));
    costs_[agent] = move->cost_before;
    kept_invalid_[agent] = move->kept_invalid_before;
  }
  moves_.clear();
}

bool RouteMergingPostOptimizer::CanServe(std::uint64_t agent, std::int64_t point) const {
  return point >= 0 && view().MayServe(agent, static_cast<std::uint64_t>(point));
}

RouteMergingPostOptimizer::Insertion RouteMergingPostOptimizer::FindInsertion(std::int64_t point,
                                                                              std::int64_t excluded,
                                                                              double bound) {
  Insertion best;
  const std::size_t m = routes_.size();
  for (std::size_t i = 0; i < m; ++i) {
    const auto agent = static_cast<std::int64_t>(i);
    if (agent == excluded || !CanServe(i, point)) {
      continue;
    }
    const Route& q = routes_[i];
    if (q.size() < 2) {
      continue;
    }
    probe_.Load(evaluator(), q, i);
    for (std::size_t j = 1; j < q.size(); ++j) {
      const RouteEvaluation grown = probe_.WithInserted(j, point);
      if (!grown.valid || !(grown.cost <= bound + kImprovementTolerance)) {
        continue;
      }
      const double y = grown.cost;
      const bool cheaper = y < best.cost;
      const bool same_cost_less_growth =
          best.found && std::abs(y - best.cost) < kImprovementTolerance &&
          y - costs_[i] < best.cost - costs_[static_cast<std::size_t>(best.agent)];
      if (cheaper || same_cost_less_growth) {
        best = Insertion{true, agent, static_cast<std::int64_t>(j), y};
      }
    }
  }
  return best;
}

}  // namespace plenro
