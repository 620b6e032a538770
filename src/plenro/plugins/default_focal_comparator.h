#pragma once

#include <string>

#include "plenro/plugins/focal_comparator_plugin.h"

namespace plenro {

// More visited points first; then smaller f; then smaller total cost. Ids take no part.
class DefaultFocalComparator : public FocalComparatorPlugin {
 public:
  std::string Name() const override { return "DefaultFocalComparator"; }
  bool Compare(const FocalKey& a, const FocalKey& b) const override;
};

}  // namespace plenro
