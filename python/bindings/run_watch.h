// Watching a search from Python: the interpreter's signal handlers run every tenth of a second
// (so Ctrl-C stops a solve at once), the caller's progress callback and stop event are served,
// and the core's messages are handed to a Python log callback.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "plenro/model/log_sink.h"
#include "plenro/model/run_control.h"

namespace orvik_bindings {

// The Python side of a run: optional callables and a stop event (anything with is_set()).
struct RunCallbacks {
  py::object progress = py::none();  // progress(report: dict)
  py::object log = py::none();       // log(stream: str, line: str)
  py::object stop = py::none();      // stop.is_set() -> bool
};

// What Ctrl-C (a KeyboardInterrupt raised by the signal handlers or by a callback) does.
enum class OnInterrupt {
  kRaise,        // stop the search and raise KeyboardInterrupt afterwards
  kKeepResults,  // stop the search and return its best solution, marked interrupted
};

// One watch per solve. The search calls the hook of Control() on its own thread, with or
// without the interpreter lock; the hook takes the lock for what it does in Python. Any other
// exception raised there (by a callback or a signal handler) stops the search as well, and
// Finish raises it.
class RunWatch {
 public:
  // Seconds of wall time between two checks of the signal handlers and the stop event.
  static constexpr double kPollInterval = 0.1;
  // Seconds of wall time between two calls of the progress callback without an improvement.
  static constexpr double kCallbackInterval = 0.5;
  // Seconds of wall time between two reports that carry the best routes.
  static constexpr double kRouteInterval = 0.25;

  explicit RunWatch(OnInterrupt on_interrupt, RunCallbacks callbacks = {});
  RunWatch(const RunWatch&) = delete;
  RunWatch& operator=(const RunWatch&) = delete;

  // The run control to hand the solver; it refers to this watch.
  plenro::RunControl Control(plenro::BudgetClock clock);
  // A log sink that keeps the core's lines until the next check hands them on; needs no lock.
  plenro::LogSink Sink();
  // With the lock held, after the search: hands the last lines on, then raises what a check
  // kept, if anything.
  void Finish();
  // With the lock held: hands the lines written so far on to the log callback and the messages.
  void HandOnLines();

  bool interrupted() const { return interrupted_; }
  // Every line the core wrote through Sink(), as [stream, text] pairs.
  const py::list& messages() const { return messages_; }

 private:
  void Poll(const plenro::ProgressReport& report);
  void CallProgress(const plenro::ProgressReport& report);
  // Keeps the exception now set in the interpreter and stops the search.
  void KeepError();

  OnInterrupt on_interrupt_;
  RunCallbacks callbacks_;
  std::atomic<bool> stop_{false};
  bool interrupted_ = false;
  std::optional<py::error_already_set> error_;
  std::vector<std::pair<plenro::LogStream, std::string>> pending_lines_;
  py::list messages_;
  double next_callback_ = 0.0;  // wall-clock reading
};

}  // namespace orvik_bindings
