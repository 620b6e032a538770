#pragma once

#include <cstdint>
#include <vector>

#include "plenro/improve/random_source.h"

namespace plenro {

// A roulette-wheel choice among a fixed number of options whose weights follow their recent
// success (the adaptive weights of adaptive large neighbourhood search, Ropke and Pisinger).
// Each use of an option earns a score by what it led to; after every `segment` uses the
// weight of each option used moves towards its average score by the reaction factor. A floor
// keeps every option in play, so a choice that was poor in one phase of a run is still tried
// in the next. Its state follows the picks and outcomes alone, so a seed fixes it.
class AdaptiveChoice {
 public:
  // What one use of an option led to.
  enum class Outcome { kRejected, kAccepted, kImproved, kNewBest };

  // `options` >= 1; `reaction` in (0, 1]; `floor` in (0, 1]: no weight falls below this share of
  // the largest.
  explicit AdaptiveChoice(std::int32_t options, std::int32_t segment = 100, double reaction = 0.1,
                          double floor = 0.1);

  std::int32_t size() const { return static_cast<std::int32_t>(weights_.size()); }
  double weight(std::int32_t option) const { return weights_[static_cast<std::size_t>(option)]; }

  // An option in [0, size()), drawn in proportion to the weights.
  std::int32_t Pick(RandomSource& random) const;
  // Scores one use of `option`; every `segment` uses the weights are updated.
  void Record(std::int32_t option, Outcome outcome);
  // All weights back to 1, the scores of the current segment dropped.
  void Reset();

  // Scores per outcome (Ropke and Pisinger's sigma 1 to 3; a rejection scores nothing).
  static constexpr double kNewBestScore = 33.0;
  static constexpr double kImprovedScore = 9.0;
  static constexpr double kAcceptedScore = 13.0;
  // Weights start at 1; once the largest falls below this, all are scaled back up.
  static constexpr double kRescaleBelow = 1e-6;

 private:
  void Update();

  std::int32_t segment_;
  double reaction_;
  double floor_;
  std::vector<double> weights_;
  std::vector<double> scores_;
  std::vector<std::int32_t> uses_;
  std::int32_t recorded_ = 0;
};

}  // namespace plenro
