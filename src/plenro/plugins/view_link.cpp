#include "plenro/plugins/view_link.h"

namespace plenro {

const InstanceView& ViewLink::Unlinked() {
  static const InstanceView empty;
  return empty;
}

}  // namespace plenro
