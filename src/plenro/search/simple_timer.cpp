#include "plenro/search/simple_timer.h"

#include <ctime>
#include <iostream>

namespace plenro {

namespace {

// Processor-clock reading in microseconds, whatever CLOCKS_PER_SEC the platform uses.
std::int64_t ReadClock() {
  return static_cast<std::int64_t>(std::clock()) * 1000000 / CLOCKS_PER_SEC;
}

}  // namespace

std::int64_t SimpleTimer::Start() {
  start_ticks_ = ReadClock();
  return start_ticks_;
}

double SimpleTimer::Elapsed() const {
  return static_cast<double>(ReadClock() - start_ticks_) / 1000000.0;
}

void SimpleTimer::Print() const {
  std::cout << " System Clock Duration: " << Elapsed() << std::endl;
}

}  // namespace plenro
