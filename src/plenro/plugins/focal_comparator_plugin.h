#pragma once

#include "plenro/plugins/plugin_base.h"
#include "plenro/plugins/search_state.h"

namespace plenro {

// Orders the focal set. Compare must be a strict weak order: keys that compare equivalent
// occupy one place in the set.
class FocalComparatorPlugin : public PluginBase {
 public:
  // True when a orders strictly before b.
  virtual bool Compare(const FocalKey& a, const FocalKey& b) const = 0;
};

}  // namespace plenro
