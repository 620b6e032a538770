#pragma once

#include <string>

namespace plenro {

// Root of the six strategy interfaces the search delegates to. A plug-in has exactly one
// owner (the solver, or a composite) and is destroyed through this virtual destructor.
class PluginBase {
 public:
  virtual ~PluginBase() = default;
  // The plug-in's fixed name; nothing depends on it for behaviour.
  virtual std::string Name() const = 0;
};

}  // namespace plenro
