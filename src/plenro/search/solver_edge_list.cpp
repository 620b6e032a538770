// The edge list of the time-window spanning-tree bound: one undirected edge per pair of points,
// weighted with the cheapest travel between them that some agent type can make within the
// windows; pairs no type can travel are left out and counted.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "plenro/model/log_sink.h"
#include "plenro/search/solver.h"

namespace plenro {

namespace {

constexpr double kBlocked = std::numeric_limits<double>::max();

}  // namespace

double Solver::PairWeight(std::uint64_t a, std::uint64_t b) const {
  if (num_types_ == 0) {
    return kBlocked;
  }
  const bool a_has_window = view_.HasWindow(a);
  const double a_open = a_has_window ? view_.Open(a) : 0.0;
  const double a_close = a_has_window ? view_.Close(a) : std::numeric_limits<double>::infinity();
  const bool b_has_window = view_.HasWindow(b);

  double best = kBlocked;
  for (std::uint64_t t = 0; t < num_types_; ++t) {
    const double travel = view_.Cost(a, b, t);
    if (IsNoConnection(travel)) {
      continue;
    }
    double candidate = travel;
    if (b_has_window) {
      const double b_open = view_.Open(b);
      const double b_close = view_.Close(b);
      if (b_close < a_open + travel) {
        continue;  // too late even when leaving a as early as possible
      }
      // Waiting left over even when leaving a as late as its window allows.
      const double wait = std::isfinite(a_close) ? std::max(0.0, b_open - (a_close + travel)) : 0.0;
      candidate = travel + wait;
    }
    if (candidate < best) {
      best = candidate;
    }
  }
  return best;
}

bool Solver::BuildEdgeList() {
  edge_list_.clear();
  const std::uint64_t n = NumVertices();
  const bool debug = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
  std::uint64_t blocked = 0;
  for (std::uint64_t u = 1; u < n; ++u) {
    for (std::uint64_t v = 0; v < u; ++v) {
      const double weight = std::min(PairWeight(u, v), PairWeight(v, u));
      if (weight == kBlocked) {
        ++blocked;
        if (debug) {
          Log(LogStream::kOut, "edge: ", u, "->", v, " cost: ", weight, "\n");
        }
        continue;
      }
      edge_list_.push_back(
          WeightedEdge{static_cast<std::int64_t>(u), static_cast<std::int64_t>(v), weight});
    }
  }
  if (blocked > 0) {
    Log(LogStream::kOut, "[TW-MST] blocked edges: ", blocked, " / ", n * (n - 1) / 2,
        " (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
  }
  // Equal weights may come out in any order; on the same pair order and comparator the sort
  // gives the same order on every run.
  std::sort(edge_list_.begin(), edge_list_.end(),
            [](const WeightedEdge& x, const WeightedEdge& y) { return x.weight < y.weight; });
  return true;
}

}  // namespace plenro
