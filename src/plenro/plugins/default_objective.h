#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/plugins/objective_plugin.h"

namespace plenro {

// The MinMax objective; "DefaultObjective" is the name it has always had as a plug-in (and
// Name()), MinMaxObjective below names what it is.
//
// g is the longest route so far; f also bounds the longest route from below by the average load
// the unfinished agents would carry if the estimate h were shared evenly.
class DefaultObjective : public ObjectivePlugin {
 public:
  std::string Name() const override { return "DefaultObjective"; }
  // The largest entry; 0.0 for an empty vector.
  double Evaluate(const std::vector<double>& costs) const override;
  // max(g, (h + sum of the unfinished agents' costs) / unfinished), or g when nobody is
  // unfinished. g comes from this object's own Evaluate.
  double Combine(const SearchState& state, std::int64_t unfinished, double h) const override;
};

using MinMaxObjective = DefaultObjective;

}  // namespace plenro
