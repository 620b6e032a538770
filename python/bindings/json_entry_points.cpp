// The one-call entry points: solve an instance given as JSON text or as a file path and
// return the outcome as a dictionary.
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "bindings.h"
#include "json_solve.h"
#include "run_watch.h"

namespace orvik_bindings {

namespace {

constexpr const char* kSolveJsonStrDoc =
    "Solve an MTSP instance from a JSON string.\n"
    "Returns a dict with keys: status, routes, statistics, anytime, timeout.";
constexpr const char* kSolveJsonFileDoc =
    "Solve an MTSP instance from a JSON file path.\n"
    "Returns a dict with keys: status, routes, statistics, anytime, timeout.";

// Holds the interpreter lock throughout and counts the calling thread's processor time. The
// signal handlers run every tenth of a second: Ctrl-C stops the search at once and raises
// KeyboardInterrupt.
py::dict solve_json_str(const std::string& json_str, double time_limit) {
  const nlohmann::json document = nlohmann::json::parse(json_str);
  RunWatch watch(OnInterrupt::kRaise);
  const SolveOutcome outcome = SolveInstance(document, OptionOverrides{time_limit, {}, {}, {}},
                                             watch.Control(plenro::BudgetClock::kThreadCpu));
  watch.Finish();
  return MakeResultDict(outcome);
}

py::dict solve_json_file(const std::string& input_path, double time_limit) {
  std::ifstream in(input_path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("Cannot open file: " + input_path);
  }
  const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return solve_json_str(content, time_limit);
}

}  // namespace

void bind_json_entry_points(py::module_& m) {
  m.def("solve_json_file", &solve_json_file, py::arg("input_path"), py::arg("time_limit") = -1,
        kSolveJsonFileDoc);
  m.def("solve_json_str", &solve_json_str, py::arg("json_str"), py::arg("time_limit") = -1,
        kSolveJsonStrDoc);
}

}  // namespace orvik_bindings
