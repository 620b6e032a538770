// One solve of an instance document, shared by the JSON entry points: load, build the solver,
// search under a run control, and the dictionary the entry points return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bindings.h"
#include "plenro/instance/route_evaluation.h"
#include "plenro/model/problem.h"
#include "plenro/model/result.h"
#include "plenro/model/run_control.h"
#include "plenro/model/types.h"
#include "plenro/search/solver.h"

namespace orvik_bindings {

// What a solve leaves: the loaded problem (for its agent list), the options it ran with, the
// solver's result and recorded solutions, wall-clock seconds from just before the solver's
// construction to the end of the search, seconds on the budget clock the search took, and
// whether the run control's stop flag ended it.
struct SolveOutcome {
  plenro::Problem problem;
  plenro::Options options;
  plenro::Result result;
  std::vector<plenro::AnytimeEntry> anytime;
  double solve_time = 0.0;
  double search_time = 0.0;
  bool stopped = false;
  // With the option "enforce_constraints": each route's stops by agent position (arrival,
  // service start, departure, load after the stop), and why no solution exists or was found.
  std::vector<std::vector<plenro::Stop>> schedules;
  std::string reason;
};

// What a caller gives besides the document. Each setting given replaces the document's own
// option once the document is loaded; the document itself is never rewritten.
struct OptionOverrides {
  double time_limit = -1.0;  // above 0: replaces the instance's limit
  std::optional<bool> improve;
  std::optional<std::uint64_t> seed;
  std::optional<std::int64_t> iterations;  // the improvement's iteration limit
};

// Loads the document and applies the overrides to its options. Then constructs a solver from a
// copy of the problem and searches under `control`. Needs no interpreter lock.
SolveOutcome SolveInstance(const nlohmann::json& document, const OptionOverrides& overrides,
                           const plenro::RunControl& control);

// The result dictionary: "status", "timeout", "routes", "statistics", "anytime", in this order.
// With the option "enforce_constraints", each route also has "schedule", and a result without
// routes has "reason" when the solver gave one.
py::dict MakeResultDict(const SolveOutcome& outcome);

}  // namespace orvik_bindings
