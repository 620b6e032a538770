#include "plenro/plugins/default_focal_comparator.h"

namespace plenro {

bool DefaultFocalComparator::Compare(const FocalKey& a, const FocalKey& b) const {
  if (a.visited != b.visited) {
    return a.visited > b.visited;
  }
  if (a.f != b.f) {
    return a.f < b.f;
  }
  return a.total < b.total;
}

}  // namespace plenro
