// Speed of the improvement engine: solves each instance file given with improvement for a fixed
// processor-time budget and prints the iterations and the moves (local-search moves and
// insertion places) it scored per second, with the objective it reached. Also the target to
// profile (perf record, valgrind --tool=callgrind).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
//     -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_TESTS=OFF -DPython_EXECUTABLE=.venv/bin/python
//   cmake --build build/bench --target engine_speed
//   build/bench/benchmarks/engine_speed 10 instance.json ...     # seconds, then files

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
#include "plenro/search/solver.h"

namespace {

int Run(const std::string& path, double seconds) {
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
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: engine_speed SECONDS INSTANCE.json ...\n";
    return 2;
  }
  const double seconds = std::atof(argv[1]);
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    try {
      status |= Run(argv[i], seconds);
    } catch (const std::exception& error) {
      std::cerr << "engine_speed: " << argv[i] << ": " << error.what() << "\n";
      status = 1;
    }
  }
  return status;
}
