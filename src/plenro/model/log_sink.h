#pragma once

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

namespace plenro {

// The standard stream a message of the core belongs on: progress lines on standard output,
// warnings and notes on standard error.
enum class LogStream : std::int32_t { kOut = 0, kErr = 1 };

// Receives every message the core writes on the calling thread while it is installed: the
// stream the message belongs on and its text, closing newline included.
using LogSink = std::function<void(LogStream stream, const std::string& text)>;

// Writes one message of the core: to the calling thread's sink when one is installed, else to
// std::cout or std::cerr, flushing the stream when `flush` is set.
void WriteLog(LogStream stream, const std::string& text, bool flush = false);

// Writes the parts, formatted as a standard stream formats them, as one message.
template <class... Parts>
void Log(LogStream stream, const Parts&... parts) {
  std::ostringstream text;
  (text << ... << parts);
  WriteLog(stream, text.str());
}

// Sends the messages the core writes on the calling thread to `sink` for the lifetime of this
// object; the sink installed before (or the standard streams) takes over again afterwards.
// Other threads keep their own sinks.
class ScopedLogSink {
 public:
  explicit ScopedLogSink(LogSink sink);
  ~ScopedLogSink();
  ScopedLogSink(const ScopedLogSink&) = delete;
  ScopedLogSink& operator=(const ScopedLogSink&) = delete;

 private:
  LogSink sink_;
  const LogSink* previous_;
};

}  // namespace plenro
