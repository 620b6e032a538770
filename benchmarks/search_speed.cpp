// The anytime search alone, for speed and for outcome comparisons between builds; driven by
// search_speed.py and search_outcomes.py, and the target to profile (perf record).
//
//   search_speed run SECONDS INSTANCE.json
//     Searches (improvement off) for SECONDS of processor time and prints one JSON object: states
//     generated and expanded, the search's processor seconds, states generated per processor
//     second, the process's peak resident memory and the objective reached.
//   search_speed outcomes STATES INSTANCES.jsonl
//     Searches every instance of the file (one JSON document a line, improvement off) until
//     STATES states are generated or the search ends, whichever comes first, and prints one
//     JSON line each: routes, costs, counters, statistics and every recorded solution. The
//     state budget replaces the clock, so a build gives the same lines on every run.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
//     -DORVIK_BUILD_BENCHMARKS=ON -DORVIK_BUILD_TESTS=OFF -DORVIK_BUILD_PYTHON=OFF
//   cmake --build build/bench --target search_speed

#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "plenro/model/json_loader.h"
#include "plenro/model/objective.h"
#include "plenro/model/problem.h"
#include "plenro/model/run_control.h"
#include "plenro/search/solver.h"

namespace {

using nlohmann::json;

// Routes and costs by agent index, in index order.
json ResultJson(const plenro::Result& result) {
  std::map<std::uint64_t, std::vector<std::int64_t>> paths(result.paths.begin(),
                                                           result.paths.end());
  std::map<std::uint64_t, double> times(result.times.begin(), result.times.end());
  json routes = json::array();
  for (const auto& [agent, path] : paths) {
    const auto cost = times.find(agent);
    routes.push_back(json{{"agent", agent},
                          {"path", path},
                          {"cost", cost == times.end() ? json(nullptr) : json(cost->second)}});
  }
  return json{{"routes", routes},
              {"n_generated", result.n_generated},
              {"n_expanded", result.n_expanded},
              {"timeout", result.timeout}};
}

plenro::Problem LoadProblem(const std::string& text) {
  plenro::Problem problem;
  plenro::load_problem(json::parse(text), problem);
  return problem;
}

double Objective(const plenro::Options& options, const plenro::Result& result) {
  plenro::RouteTotals totals;
  for (const auto& [agent, cost] : result.times) {
    totals.Add(cost);
  }
  return plenro::ObjectiveValue(options.objective, totals);
}

int Run(double seconds, const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "search_speed: cannot open " << path << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  const plenro::Problem problem = LoadProblem(text.str());
  plenro::Options options = problem.options();
  options.time_limit = seconds;
  options.improve = false;
  plenro::Solver solver(problem, options);
  std::cout.setstate(std::ios::failbit);  // the search's progress lines
  const bool found = solver.Search();
  std::cout.clear();
  const plenro::Result result = solver.GetResult();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = solver.search_time();
  json out{{"instance", path},
           {"n_generated", result.n_generated},
           {"n_expanded", result.n_expanded},
           {"cpu_seconds", cpu},
           {"states_per_cpu_second", cpu > 0 ? static_cast<double>(result.n_generated) / cpu : 0.0},
           {"peak_rss_kib", usage.ru_maxrss},
           {"found", found},
           {"objective", found ? json(Objective(options, result)) : json(nullptr)}};
  std::printf("%s\n", out.dump().c_str());
  return 0;
}

json Outcome(const std::string& line, std::int64_t state_limit) {
  const plenro::Problem problem = LoadProblem(line);
  plenro::Options options = problem.options();
  options.time_limit = 1e9;  // the state budget ends the search, never the clock
  options.improve = false;
  plenro::Solver solver(problem, options);
  std::atomic<bool> stop{false};
  plenro::RunControl control;
  control.stop = &stop;
  control.progress_interval = 0.0;  // the hook sees every step's count
  control.progress = [&](const plenro::ProgressReport& report) {
    if (report.work >= state_limit) {
      stop = true;
    }
  };
  solver.SetRunControl(control);
  const bool found = solver.Search();
  json out = ResultJson(solver.GetResult());
  out["found"] = found;
  out["stopped"] = solver.stopped();
  const plenro::SolverStatistics statistics = solver.GetStatistics();
  out["statistics"] = json{{"found", statistics.found},
                           {"sum_cost", statistics.sum_cost},
                           {"max_cost", statistics.max_cost},
                           {"bound", statistics.bound}};
  json history = json::array();
  for (const plenro::AnytimeEntry& entry : solver.GetAnytimeResults()) {
    history.push_back(ResultJson(entry.result));  // the entry's time is the clock's, left out
  }
  out["history"] = history;
  return out;
}

int Outcomes(std::int64_t state_limit, const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "search_speed: cannot open " << path << "\n";
    return 1;
  }
  std::string line;
  std::int64_t index = 0;
  while (std::getline(in, line)) {
    json out;
    std::cout.setstate(std::ios::failbit);
    try {
      out = Outcome(line, state_limit);
    } catch (const std::exception& error) {
      out = json{{"error", error.what()}};
    }
    std::cout.clear();
    out["index"] = index++;
    std::printf("%s\n", out.dump().c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: search_speed run SECONDS INSTANCE.json\n"
                 "       search_speed outcomes STATES INSTANCES.jsonl\n";
    return 2;
  }
  const std::string mode = argv[1];
  try {
    if (mode == "run") {
      return Run(std::atof(argv[2]), argv[3]);
    }
    if (mode == "outcomes") {
      return Outcomes(std::atoll(argv[2]), argv[3]);
    }
  } catch (const std::exception& error) {
    std::cerr << "search_speed: " << argv[3] << ": " << error.what() << "\n";
    return 1;
  }
  std::cerr << "search_speed: unknown mode " << mode << "\n";
  return 2;
}
