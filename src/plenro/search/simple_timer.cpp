#include "plenro/search/simple_timer.h"

#include <ctime>
#include <iostream>

namespace plenro {

namespace {

constexpr std::int64_t kTicksPerSecond = 1000000;

// Processor-clock reading in microseconds, whatever CLOCKS_PER_SEC the platform uses. Splitting
// off whole seconds keeps the scaling free of overflow on long runs.
std::int64_t ReadClock() {
  const auto ticks = static_cast<std::int64_t>(std::clock());
  if constexpr (CLOCKS_PER_SEC == kTicksPerSecond) {
    return ticks;
  } else {
    const std::int64_t per_second = CLOCKS_PER_SEC;
    return ticks / per_second * kTicksPerSecond + ticks % per_second * kTicksPerSecond / per_second;
  }
}

}  // namespace

std::int64_t SimpleTimer::Start() {
  start_ticks_ = ReadClock();
  return start_ticks_;
}

double SimpleTimer::Elapsed() const {
  return static_cast<double>(ReadClock() - start_ticks_) / static_cast<double>(kTicksPerSecond);
}

void SimpleTimer::Print() const {
  std::cout << " System Clock Duration: " << Elapsed() << std::endl;
}

}  // namespace plenro
