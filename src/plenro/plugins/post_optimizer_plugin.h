#pragma once

#include "plenro/model/result.h"
#include "plenro/plugins/plugin_base.h"

namespace plenro {

// Improves the routes of a solution. Bound to the instance view at set-up (PluginBase::Bind);
// then Optimize once per solution found.
class PostOptimizerPlugin : public PluginBase {
 public:
  // Edits the result in place: afterwards paths[i] and times[i] hold agent i's improved route
  // and its cost, for every agent of the bound view.
  virtual void Optimize(Result& result) = 0;
};

}  // namespace plenro
