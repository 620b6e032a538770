#include "plenro/plugins/two_opt.h"

#include <algorithm>
#include <cstddef>

#include "plenro/model/objective.h"

namespace plenro {

bool TwoOpt::Improve(const RouteEvaluator& evaluator, Route& route, double& cost,
                     std::uint64_t agent) {
  const std::size_t n = route.size();
  if (n <= 3) {
    return false;
  }
  bool changed = false;
  for (;;) {
    probe_.Load(evaluator, route, agent);
    bool accepted = false;
    for (std::size_t i = 1; i + 3 <= n && !accepted; ++i) {
      for (std::size_t j = i + 1; j + 2 <= n; ++j) {
        const RouteEvaluation candidate = probe_.Reversed(i, j);
        if (candidate.valid && candidate.cost + kImprovementTolerance < cost) {
          std::reverse(route.begin() + static_cast<std::ptrdiff_t>(i),
                       route.begin() + static_cast<std::ptrdiff_t>(j) + 1);
          cost = candidate.cost;
          accepted = true;
          break;
        }
      }
    }
    if (!accepted) {
      return changed;
    }
    changed = true;
  }
}

}  // namespace plenro
