// The product's entry point: solve an instance document without holding the interpreter lock,
// with a choice of clock, improvement settings, progress and log callbacks and a stop event;
// Ctrl-C ends the search with its best solution so far.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "bindings.h"
#include "json_solve.h"
#include "plenro/model/log_sink.h"
#include "run_watch.h"

namespace orvik_bindings {

namespace {

constexpr const char* kSolveDocumentDoc =
    "Solve an MTSP instance given as JSON text, releasing the interpreter lock while it "
    "solves.\n"
    "\n"
    "time_limit: seconds; above 0 it replaces the instance's own limit (60 when it gives "
    "none).\n"
    "clock: the clock the limit counts: \"wall\" (wall-clock time, the default) or \"cpu\" (the\n"
    "processor time of the calling thread).\n"
    "improve, seed, iterations: the improvement settings; they replace the instance's options\n"
    "\"improve\", \"seed\" and \"improve_iterations\" (the last two only when given).\n"
    "progress: called as progress(report) on every improvement and every half second, report\n"
    "being a dict with phase, elapsed (seconds on the clock), work (states generated or\n"
    "iterations), best (objective value, None before a solution) and improved; a report may\n"
    "also carry routes, the best solution's routes (a dict with path and cost per agent, in the\n"
    "order of the result's routes), at most four times a second and with the last improvement.\n"
    "log: called as log(stream, line) for every line the solver writes (\"stdout\": progress,\n"
    "\"stderr\": warnings); the process's own streams receive none of them.\n"
    "stop: an object with is_set(), such as a threading.Event; once it is set the search stops.\n"
    "\n"
    "Ctrl-C, or the stop event, ends the search with the best solution found so far. Returns\n"
    "the dict of solve_json_str (status, timeout, routes, statistics, anytime) followed by\n"
    "interrupted, clock and messages (every line the solver wrote, as (stream, line) pairs);\n"
    "statistics end with search_time, the seconds the search took on the clock.";

plenro::BudgetClock clock_from_name(const std::string& name) {
  if (name == "wall") {
    return plenro::BudgetClock::kWall;
  }
  if (name == "cpu") {
    return plenro::BudgetClock::kThreadCpu;
  }
  throw std::invalid_argument("clock must be \"wall\" or \"cpu\", got \"" + name + "\"");
}

py::dict solve_document(const std::string& text, double time_limit, const std::string& clock,
                        bool improve, std::optional<std::uint64_t> seed,
                        std::optional<std::int64_t> iterations, py::object progress, py::object log,
                        py::object stop) {
  const plenro::BudgetClock budget_clock = clock_from_name(clock);
  if (iterations && *iterations < 0) {
    throw std::invalid_argument("iterations must be 0 (no limit) or more, got " +
                                std::to_string(*iterations));
  }
  RunWatch watch(OnInterrupt::kKeepResults,
                 RunCallbacks{std::move(progress), std::move(log), std::move(stop)});
  const plenro::RunControl control = watch.Control(budget_clock);
  std::optional<SolveOutcome> outcome;
  try {
    const plenro::ScopedLogSink sink(watch.Sink());
    const py::gil_scoped_release unlocked;
    const nlohmann::json document = nlohmann::json::parse(text);
    outcome.emplace(
        SolveInstance(document, OptionOverrides{time_limit, improve, seed, iterations}, control));
  } catch (...) {
    watch.HandOnLines();  // the lines that explain the failure come first
    throw;
  }
  watch.Finish();

  py::dict out = MakeResultDict(*outcome);
  py::dict statistics = out["statistics"];
  statistics["search_time"] = py::float_(outcome->search_time);
  out["interrupted"] = py::bool_(watch.interrupted());
  out["clock"] = py::str(clock);
  out["messages"] = watch.messages();
  return out;
}

}  // namespace

void bind_solve_document(py::module_& m) {
  m.def("solve_document", &solve_document, py::arg("text"), py::kw_only(),
        py::arg("time_limit") = -1, py::arg("clock") = "wall", py::arg("improve") = true,
        py::arg("seed") = py::none(), py::arg("iterations") = py::none(),
        py::arg("progress") = py::none(), py::arg("log") = py::none(), py::arg("stop") = py::none(),
        kSolveDocumentDoc);
}

}  // namespace orvik_bindings
