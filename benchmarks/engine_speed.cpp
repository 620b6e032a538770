// Speed of the improvement engine: solves each instance file given with improvement for a fixed
// processor-time budget and prints the iterations and the moves (local-search moves and
// insertion places) it scored per second, with the objective it reached. Also the target to
// profile (perf record, valgrind --tool=callgrind). With --progress, a progress hook listens as
// the Python binding does (a report every tenth of a second, the best routes copied out at most
// four times a second), to show what listening costs.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
//     -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_TESTS=OFF -DPython_EXECUTABLE=.venv/bin/python
//   cmake --build build/bench --target engine_speed
//   build/bench/benchmarks/engine_speed 10 instance.json ...     # seconds, then files
//   build/bench/benchmarks/engine_speed --progress 10 instance.json ...

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "plenro/model/json_loader.h"
#include "plenro/model/objective.h"
#include "plenro/model/problem.h"
#include "plenro/model/run_control.h"
#include "plenro/search/solver.h"

namespace {

int Run(const std::string& path, double seconds, bool progress) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "engine_speed: cannot open " << path << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  plenro::Problem problem;
  plenro::load_problem(nlohmann::json::parse(text.str()), problem);
  plenro::Options options = problem.options();
  options.time_limit = seconds;
  options.improve = true;
  plenro::Solver solver(problem, options);
  std::int64_t reports = 0;
  std::int64_t with_routes = 0;
  plenro::RoutePlan copied;
  if (progress) {
    plenro::RunControl control;
    control.progress = [&](const plenro::ProgressReport& report) {
      ++reports;
      if (report.routes != nullptr) {
        ++with_routes;
        copied = *report.routes;
      }
    };
    control.progress_interval = 0.1;
    control.progress_routes = true;
    control.route_interval = 0.25;
    solver.SetRunControl(control);
  }
  std::cout.setstate(std::ios::failbit);  // the search's progress lines
  solver.Search();
  std::cout.clear();
  const plenro::Result result = solver.GetResult();
  plenro::RouteTotals totals;
  for (const auto& [agent, cost] : result.times) {
    totals.Add(cost);
  }
  const double elapsed = solver.clock().Elapsed();
  std::printf("%s: %s %.4f, %.0f iterations/s, %.3g moves/s, %lld iterations in %.2f s%s\n",
              path.c_str(), plenro::ObjectiveName(options.objective),
              plenro::ObjectiveValue(options.objective, totals),
              static_cast<double>(solver.improve_iterations()) / elapsed,
              static_cast<double>(solver.improve_moves()) / elapsed,
              static_cast<long long>(solver.improve_iterations()), elapsed,
              result.paths.empty() ? " (no solution)" : "");
  if (progress) {
    std::printf("  %lld progress reports, %lld with routes\n", static_cast<long long>(reports),
                static_cast<long long>(with_routes));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool progress = argc > 1 && std::string(argv[1]) == "--progress";
  const int first = progress ? 2 : 1;
  if (argc < first + 2) {
    std::cerr << "usage: engine_speed [--progress] SECONDS INSTANCE.json ...\n";
    return 2;
  }
  const double seconds = std::atof(argv[first]);
  int status = 0;
  for (int i = first + 1; i < argc; ++i) {
    try {
      status |= Run(argv[i], seconds, progress);
    } catch (const std::exception& error) {
      std::cerr << "engine_speed: " << argv[i] << ": " << error.what() << "\n";
      status = 1;
    }
  }
  return status;
}
