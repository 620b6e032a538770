#include "plenro/model/log_sink.h"

#include <iostream>
#include <utility>

namespace plenro {

namespace {

thread_local const LogSink* installed_sink = nullptr;

}  // namespace

void WriteLog(LogStream stream, const std::string& text, bool flush) {
  if (installed_sink != nullptr && *installed_sink) {
    (*installed_sink)(stream, text);
    return;
  }
  std::ostream& out = stream == LogStream::kOut ? std::cout : std::cerr;
  out << text;
  if (flush) {
    out.flush();
  }
}

ScopedLogSink::ScopedLogSink(LogSink sink) : sink_(std::move(sink)), previous_(installed_sink) {
  installed_sink = &sink_;
}

ScopedLogSink::~ScopedLogSink() {
  installed_sink = previous_;
}

}  // namespace plenro
