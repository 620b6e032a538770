#pragma once

#include <cstdint>

namespace plenro {

// Refuses an instance of more points than a search can handle (the capacity of the visited
// set, kMaxPoints) with std::runtime_error naming both numbers.
void CheckPointLimit(std::uint64_t num_points);

}  // namespace plenro
