#include "plenro/improve/adaptive_choice.h"

#include <algorithm>
#include <stdexcept>

namespace plenro {

AdaptiveChoice::AdaptiveChoice(std::int32_t options, std::int32_t segment, double reaction,
                               double floor)
    : segment_(segment), reaction_(reaction), floor_(floor) {
  if (options < 1 || segment < 1 || !(reaction > 0.0 && reaction <= 1.0) ||
      !(floor > 0.0 && floor <= 1.0)) {
    throw std::invalid_argument(
        "an adaptive choice needs at least one option, a segment of at least one use, and a "
        "reaction and a floor in (0, 1]");
  }
  weights_.assign(static_cast<std::size_t>(options), 1.0);
  scores_.assign(static_cast<std::size_t>(options), 0.0);
  uses_.assign(static_cast<std::size_t>(options), 0);
}

std::int32_t AdaptiveChoice::Pick(RandomSource& random) const {
  double total = 0.0;
  for (const double w : weights_) {
    total += w;
  }
  double draw = random.Uniform() * total;
  for (std::size_t i = 0; i + 1 < weights_.size(); ++i) {
    if (draw < weights_[i]) {
      return static_cast<std::int32_t>(i);
    }
    draw -= weights_[i];
  }
  return size() - 1;
}

void AdaptiveChoice::Record(std::int32_t option, Outcome outcome) {
  const auto i = static_cast<std::size_t>(option);
  switch (outcome) {
    case Outcome::kNewBest:
      scores_[i] += kNewBestScore;
      break;
    case Outcome::kImproved:
      scores_[i] += kImprovedScore;
      break;
    case Outcome::kAccepted:
      scores_[i] += kAcceptedScore;
      break;
    case Outcome::kRejected:
      break;
  }
  ++uses_[i];
  if (++recorded_ >= segment_) {
    Update();
  }
}

void AdaptiveChoice::Update() {
  for (std::size_t i = 0; i < weights_.size(); ++i) {
    if (uses_[i] > 0) {
      const double average = scores_[i] / static_cast<double>(uses_[i]);
      weights_[i] = (1.0 - reaction_) * weights_[i] + reaction_ * average;
    }
  }
  // No weight below the floor's share of the largest; a long run of rejections everywhere
  // (late in a run) shrinks all weights alike, so they are scaled back before they vanish.
  double largest = *std::max_element(weights_.begin(), weights_.end());
  if (largest < kRescaleBelow) {
    for (double& w : weights_) {
      w /= largest;
    }
    largest = 1.0;
  }
  for (double& w : weights_) {
    w = std::max(w, floor_ * largest);
  }
  std::fill(scores_.begin(), scores_.end(), 0.0);
  std::fill(uses_.begin(), uses_.end(), 0);
  recorded_ = 0;
}

void AdaptiveChoice::Reset() {
  std::fill(weights_.begin(), weights_.end(), 1.0);
  std::fill(scores_.begin(), scores_.end(), 0.0);
  std::fill(uses_.begin(), uses_.end(), 0);
  recorded_ = 0;
}

}  // namespace plenro
