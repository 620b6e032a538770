#pragma once

#include "plenro/instance/instance_view.h"

namespace plenro {

// Where a plug-in reads the instance: the view the solver bound it to (PluginBase::Bind), or an
// empty instance (no points, agents or costs) until then. A copy reads the same view.
class ViewLink {
 public:
  const InstanceView& view() const { return *view_; }
  bool linked() const { return view_ != &Unlinked(); }
  // Reads `view` from now on (not owned; it must outlive the use).
  void Link(const InstanceView& view) { view_ = &view; }

 private:
  static const InstanceView& Unlinked();

  const InstanceView* view_ = &Unlinked();
};

}  // namespace plenro
