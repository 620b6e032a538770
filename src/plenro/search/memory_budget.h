#pragma once

#include <cstdint>

namespace plenro {

// Bytes the search may spend on its states: the value of the environment variable
// ORVIK_MEMORY_LIMIT_MB (in MiB) when it holds a positive number, otherwise half of the
// machine's physical memory (no limit when that cannot be read). An unusable value of the
// variable is reported on standard error and ignored.
std::uint64_t SearchMemoryBudgetBytes();

}  // namespace plenro
