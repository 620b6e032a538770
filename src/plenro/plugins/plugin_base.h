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
  // The one way the instance reaches a plug-in. The solver fills its view and then binds every
  // plug-in to it, before the search and again whenever it fills the view anew. A plug-in that
  // reads the instance reads `view` from then on (not owned; it must outlive the use) and builds
  // here whatever it derives from it; the others ignore it. Until it is bound, a plug-in reads
  // an empty instance.
  virtual void Bind(const InstanceView& /*view*/) {}
};

}  // namespace plenro
