// Time and memory of the solver's set-up: for each instance file, loads the problem, then
// constructs a Solver from it (tables, costs, plug-ins, edge list) and prints the wall-clock
// seconds the constructor took, the resident memory before it, the peak resident memory while it
// ran and what it keeps afterwards. The peak is the kernel's high-water mark, reset after the
// problem is loaded (so that parsing the document does not hide it); where the kernel refuses
// the reset, the line says so and the peak includes the loading.
//
//   setup_cost [--improve] instance.json ...
//
// --improve sets up for the improvement (the only set-up above the search's 256 points).
// Run by benchmarks/setup_cost.py, which builds it for several revisions.

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "plenro/model/json_loader.h"
#include "plenro/model/problem.h"
#include "plenro/search/solver.h"

namespace {

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
long StatusKiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      return std::stol(line.substr(field.size() + 1));
    }
  }
  return -1;
}

// Resets the peak resident memory to the current one; false when the kernel refuses.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

int Run(const std::string& path, bool improve) {
  plenro::Problem problem;
  {
    std::ifstream in(path);
    if (!in) {
      std::cerr << "setup_cost: cannot open " << path << "\n";
      return 1;
    }
    std::stringstream text;
    text << in.rdbuf();
    plenro::load_problem(nlohmann::json::parse(text.str()), problem);
  }
  malloc_trim(0);
  const bool reset = ResetPeak();
  plenro::Options options = problem.options();
  options.improve = improve;

  const long before = StatusKiB("VmRSS");
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<plenro::Solver> solver;
  std::cout.setstate(std::ios::failbit);  // the set-up's progress lines
  solver = std::make_unique<plenro::Solver>(problem, options);
  std::cout.clear();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long peak = StatusKiB("VmHWM");
  const long after = StatusKiB("VmRSS");
  std::printf(
      "%s: %zu points, %s, set-up %.4f s, RSS before %.1f MiB, peak %.1f MiB "
      "(+%.1f), kept +%.1f MiB%s\n",
      path.c_str(), problem.nodes().size(), improve ? "improve" : "search", seconds,
      before / 1024.0, peak / 1024.0, (peak - before) / 1024.0, (after - before) / 1024.0,
      reset ? "" : " (peak not reset: includes loading)");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool improve = false;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--improve") {
      improve = true;
      continue;
    }
    try {
      status |= Run(arg, improve);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "setup_cost: %s: %s\n", arg.c_str(), error.what());
      status = 1;
    }
  }
  return status;
}
