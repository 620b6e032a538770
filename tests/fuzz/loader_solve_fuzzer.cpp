// libFuzzer target: the bytes go to the JSON parser and the instance loader and, when they load,
// to two solves with a tiny time limit and a small memory budget, so that no input runs long:
// one with the instance's own options, one with the improvement engine on for a few iterations.
//
// The refusals the library documents (a parse or load error, a set-up refused with
// std::invalid_argument, std::out_of_range or std::runtime_error) end the input quietly. A
// crash, a sanitizer report, a leak, any other exception or a solution whose routes do not
// start at their agents' start points is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include <sanitizer/common_interface_defs.h>
#include <nlohmann/json.hpp>

#include "plenro/model/json_loader.h"
#include "plenro/model/problem.h"
#include "plenro/model/result.h"
#include "plenro/search/solver.h"

namespace {

// Processor seconds a search may take, and MiB its states may take.
constexpr double kTimeLimitSeconds = 0.02;
// Ruin-and-recreate iterations of the improving solve.
constexpr std::int64_t kImproveIterations = 20;
constexpr const char* kMemoryBudgetMiB = "16";

// Reports through the sanitizers' channel, which stays open when the run silences the
// target's own standard streams, and ends the input as a crash.
[[noreturn]] void Finding(const char* what) {
  __sanitizer_report_error_summary(what);
  std::abort();
}

// What every solution holds, whatever the instance: one route per agent, each starting at the
// agent's start point, on points of the instance only.
void CheckSolution(const plenro::Solver& solver) {
  const plenro::Result result = solver.GetResult();
  const auto n = static_cast<std::int64_t>(solver.points().size());
  const auto m = static_cast<std::size_t>(solver.num_agents());
  if (result.paths.size() != m || result.times.size() != m) {
    Finding("a solution without exactly one route and one cost per agent");
  }
  for (std::size_t k = 0; k < m; ++k) {
    const auto& route = result.paths.at(k);
    if (route.empty() || route.front() != static_cast<std::int64_t>(solver.starts()[k])) {
      Finding("a route that does not start at its agent's start point");
    }
    for (const std::int64_t vertex : route) {
      if (vertex < 0 || vertex >= n) {
        Finding("a route through a point the instance does not have");
      }
    }
  }
}

void Solve(const plenro::Problem& problem, bool improve) {
  plenro::Options options = problem.options();
  options.time_limit = kTimeLimitSeconds;
  if (improve) {
    options.improve = true;
    options.improve_iterations = kImproveIterations;
  }
  try {
    plenro::Solver solver(problem, options);
    if (solver.Search()) {
      CheckSolution(solver);
    }
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  } catch (const std::runtime_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  setenv("ORVIK_MEMORY_LIMIT_MB", kMemoryBudgetMiB, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json document =
      nlohmann::json::parse(data, data + size, /*cb=*/nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    return 0;
  }
  plenro::Problem problem;
  try {
    plenro::load_problem(document, problem);
  } catch (const nlohmann::json::exception&) {
    return 0;
  }
  Solve(problem, false);
  if (!problem.options().improve) {
    Solve(problem, true);
  }
  return 0;
}
