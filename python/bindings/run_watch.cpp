#include "run_watch.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace orvik_bindings {

namespace {

const char* phase_name(plenro::SolvePhase phase) {
  switch (phase) {
    case plenro::SolvePhase::kConstruction:
      return "construction";
    case plenro::SolvePhase::kImprovement:
      return "improvement";
    case plenro::SolvePhase::kSearch:
      break;
  }
  return "search";
}

const char* stream_name(plenro::LogStream stream) {
  return stream == plenro::LogStream::kOut ? "stdout" : "stderr";
}

}  // namespace

RunWatch::RunWatch(OnInterrupt on_interrupt, RunCallbacks callbacks)
    : on_interrupt_(on_interrupt), callbacks_(std::move(callbacks)) {}

plenro::RunControl RunWatch::Control(plenro::BudgetClock clock) {
  plenro::RunControl control;
  control.stop = &stop_;
  control.progress = [this](const plenro::ProgressReport& report) { Poll(report); };
  control.progress_interval = kPollInterval;
  // The routes cost a copy into Python: only a progress callback receives them.
  control.progress_routes = !callbacks_.progress.is_none();
  control.route_interval = kRouteInterval;
  control.clock = clock;
  next_callback_ = plenro::Stopwatch::Now(plenro::BudgetClock::kWall) + kCallbackInterval;
  return control;
}

plenro::LogSink RunWatch::Sink() {
  return [this](plenro::LogStream stream, const std::string& text) {
    std::string::size_type begin = 0;
    while (begin < text.size()) {
      std::string::size_type end = text.find('\n', begin);
      if (end == std::string::npos) {
        end = text.size();
      }
      pending_lines_.emplace_back(stream, text.substr(begin, end - begin));
      begin = end + 1;
    }
  };
}

void RunWatch::Poll(const plenro::ProgressReport& report) {
  py::gil_scoped_acquire lock;
  HandOnLines();
  if (stop_.load()) {
    return;
  }
  if (PyErr_CheckSignals() != 0) {
    KeepError();
    return;
  }
  try {
    if (!callbacks_.stop.is_none() && py::bool_(callbacks_.stop.attr("is_set")())) {
      interrupted_ = true;
      stop_ = true;
      return;
    }
    CallProgress(report);
  } catch (py::error_already_set& error) {
    error.restore();
    KeepError();
  }
}

void RunWatch::CallProgress(const plenro::ProgressReport& report) {
  if (callbacks_.progress.is_none()) {
    return;
  }
  const double now = plenro::Stopwatch::Now(plenro::BudgetClock::kWall);
  if (!report.improved && report.routes == nullptr && now < next_callback_) {
    return;
  }
  py::dict item;
  item["phase"] = py::str(phase_name(report.phase));
  item["elapsed"] = py::float_(report.elapsed);
  item["work"] = py::int_(report.work);
  item["best"] = std::isnan(report.best) ? py::object(py::none()) : py::float_(report.best);
  item["improved"] = py::bool_(report.improved);
  if (report.routes != nullptr) {
    // One per agent, in the order of the result's routes, as they give theirs.
    const plenro::RoutePlan& plan = *report.routes;
    py::list routes;
    for (std::size_t a = 0; a < plan.routes.size(); ++a) {
      py::dict route;
      route["path"] = py::cast(plan.routes[a]);
      route["cost"] = py::float_(a < plan.costs.size() ? plan.costs[a] : 0.0);
      routes.append(std::move(route));
    }
    item["routes"] = std::move(routes);
  }
  callbacks_.progress(item);
  next_callback_ = plenro::Stopwatch::Now(plenro::BudgetClock::kWall) + kCallbackInterval;
}

void RunWatch::HandOnLines() {
  // The lines are taken first: a log callback that fails leaves none behind to hand on twice.
  std::vector<std::pair<plenro::LogStream, std::string>> lines;
  lines.swap(pending_lines_);
  for (const auto& [stream, text] : lines) {
    messages_.append(py::make_tuple(stream_name(stream), text));
    if (!callbacks_.log.is_none() && !error_) {
      try {
        callbacks_.log(stream_name(stream), text);
      } catch (py::error_already_set& error) {
        error.restore();
        KeepError();
      }
    }
  }
}

void RunWatch::KeepError() {
  stop_ = true;
  py::error_already_set error;
  if (on_interrupt_ == OnInterrupt::kKeepResults && error.matches(PyExc_KeyboardInterrupt)) {
    interrupted_ = true;
    return;
  }
  if (!error_) {
    error_.emplace(std::move(error));
  }
}

void RunWatch::Finish() {
  HandOnLines();
  // A Ctrl-C after the last check, when the search ended before it was seen.
  if (!stop_.load() && PyErr_CheckSignals() != 0) {
    KeepError();
  }
  if (error_) {
    py::error_already_set error = std::move(*error_);
    error_.reset();
    throw error;
  }
}

}  // namespace orvik_bindings
