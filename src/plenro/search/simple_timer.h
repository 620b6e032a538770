#pragma once

#include <cstdint>

namespace plenro {

// Measures the process's processor time (std::clock), in seconds.
class SimpleTimer {
 public:
  virtual ~SimpleTimer() = default;
  // Remembers the current clock reading and returns it.
  virtual std::int64_t Start();
  // Processor seconds since the last Start.
  virtual double Elapsed() const;
  // Writes " System Clock Duration: " and Elapsed() on standard output, then flushes.
  virtual void Print() const;

 private:
  std::int64_t start_ticks_ = 0;
};

}  // namespace plenro
