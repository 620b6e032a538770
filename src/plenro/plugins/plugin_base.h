#pragma once

#include <string>

namespace plenro {

class InstanceView;

// Root of the six strategy interfaces the search delegates to. A plug-in has exactly one
// owner (the solver, or a composite) and is destroyed through this virtual destructor.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  // The plug-in's fixed name; nothing depends on it for behaviour.
  virtual std::string Name() const = 0;
  // Plug-ins that read the instance read `view` from now on (not owned, must outlive the use;
  // null: their own tables again); the others ignore it. The solver links every plug-in to its
  // one view before it initialises them.
  virtual void UseView(const InstanceView* /*view*/) {}
};

}  // namespace plenro
