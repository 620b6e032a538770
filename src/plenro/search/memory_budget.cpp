#include "plenro/search/memory_budget.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "plenro/model/log_sink.h"

namespace plenro {

namespace {

constexpr double kBytesPerMiB = 1024.0 * 1024.0;

std::uint64_t HalfPhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) / 2;
}

}  // namespace

std::uint64_t SearchMemoryBudgetBytes() {
  const char* text = std::getenv("ORVIK_MEMORY_LIMIT_MB");
  if (text == nullptr || *text == '\0') {
    return HalfPhysicalMemory();
  }
  char* end = nullptr;
  errno = 0;
  const double mib = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(mib) || mib <= 0.0) {
    Log(LogStream::kErr, "[warning] ignoring ORVIK_MEMORY_LIMIT_MB=", text,
        ": expected a positive number of MiB\n");
    return HalfPhysicalMemory();
  }
  const double bytes = mib * kBytesPerMiB;
  if (bytes >= static_cast<double>(std::numeric_limits<std::uint64_t>::max())) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(bytes);
}

}  // namespace plenro
