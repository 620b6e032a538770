#include "plenro/search/point_limit.h"

#include <sstream>
#include <stdexcept>

#include "plenro/plugins/search_state.h"

namespace plenro {

void CheckPointLimit(std::uint64_t num_points) {
  if (num_points > static_cast<std::uint64_t>(kMaxPoints)) {
    std::ostringstream message;
    message << "the instance has " << num_points << " points, but the search handles at most "
            << kMaxPoints << " points";
    throw std::runtime_error(message.str());
  }
}

}  // namespace plenro
