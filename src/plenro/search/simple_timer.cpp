#include "plenro/search/simple_timer.h"

#include <cmath>
#include <sstream>

#include "plenro/model/log_sink.h"

namespace plenro {

namespace {

constexpr double kTicksPerSecond = 1e6;

// The clock's reading in whole microseconds.
std::int64_t ReadClock(BudgetClock clock) {
  return static_cast<std::int64_t>(std::llround(Stopwatch::Now(clock) * kTicksPerSecond));
}

}  // namespace

std::int64_t SimpleTimer::Start() {
  started_clock_ = clock_;
  start_ticks_ = ReadClock(started_clock_);
  return start_ticks_;
}

double SimpleTimer::Elapsed() const {
  return static_cast<double>(ReadClock(started_clock_) - start_ticks_) / kTicksPerSecond;
}

void SimpleTimer::Print() const {
  std::ostringstream text;
  text << " System Clock Duration: " << Elapsed() << '\n';
  WriteLog(LogStream::kOut, text.str(), /*flush=*/true);
}

}  // namespace plenro
