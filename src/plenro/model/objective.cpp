#include "plenro/model/objective.h"

namespace plenro {

ObjectiveType ObjectiveFromName(const std::string& name) {
  return name == "min_max" || name == "MIN_MAX" ? MinMax : MinSum;
}

const char* ObjectiveName(ObjectiveType objective) {
  return objective == MinMax ? "min_max" : "min_sum";
}

}  // namespace plenro
