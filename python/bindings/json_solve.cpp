#include "json_solve.h"

#include <chrono>
#include <cstdint>
#include <utility>

#include "plenro/model/json_loader.h"
#include "plenro/model/objective.h"

namespace orvik_bindings {

namespace {

py::list route_path(const plenro::Result& result, std::uint64_t agent_index) {
  py::list path;
  const auto it = result.paths.find(agent_index);
  if (it != result.paths.end()) {
    for (const std::int64_t vertex : it->second) {
      path.append(py::int_(vertex));
    }
  }
  return path;
}

double route_cost(const plenro::Result& result, std::uint64_t agent_index) {
  const auto it = result.times.find(agent_index);
  return it == result.times.end() ? 0.0 : it->second;
}

// Status, time-out flag, one route per agent of the problem (looked up by agent position)
// and the statistics of the run.
py::dict make_result_dict(const plenro::Result& result, const plenro::Problem& problem,
                          double solve_time) {
  py::dict out;
  out["status"] = py::str(result.paths.empty() ? "failed" : "success");
  out["timeout"] = py::bool_(result.timeout);

  plenro::RouteTotals totals;
  py::list routes;
  std::uint64_t position = 0;
  for (const plenro::Agent& agent : problem.agents_ordered()) {
    const double cost = route_cost(result, position);
    py::dict route;
    route["agent_id"] = py::int_(agent.id);
    route["path"] = route_path(result, position);
    route["cost"] = py::float_(cost);
    routes.append(std::move(route));
    totals.Add(cost);
    ++position;
  }
  out["routes"] = std::move(routes);

  py::dict statistics;
  statistics["solve_time"] = py::float_(solve_time);
  statistics["max_cost"] = py::float_(totals.max);
  statistics["sum_cost"] = py::float_(totals.sum);
  statistics["n_generated"] = py::int_(result.n_generated);
  statistics["n_expanded"] = py::int_(result.n_expanded);
  statistics["last_update_time"] = py::float_(result.last_update_time);
  out["statistics"] = std::move(statistics);
  return out;
}

// The improvement history: the recorded snapshots whose objective value improves on the last
// kept one.
py::list make_anytime_list(const std::vector<plenro::AnytimeEntry>& entries,
                           plenro::ObjectiveType objective) {
  py::list history;
  double best = 1e18;
  for (const plenro::AnytimeEntry& entry : entries) {
    plenro::RouteTotals totals;
    for (const auto& [agent, cost] : entry.result.times) {
      totals.Add(cost);
    }
    const double value = plenro::ObjectiveValue(objective, totals);
    if (plenro::Improves(value, best)) {
      py::dict item;
      item["time"] = py::float_(entry.time);
      item["max_cost"] = py::float_(totals.max);
      item["sum_cost"] = py::float_(totals.sum);
      history.append(std::move(item));
      best = value;
    }
  }
  return history;
}

}  // namespace

SolveOutcome SolveInstance(const nlohmann::json& document, const OptionOverrides& overrides,
                           const plenro::RunControl& control) {
  SolveOutcome outcome;
  plenro::load_problem(document, outcome.problem);
  plenro::Options& options = outcome.problem.options();
  if (overrides.time_limit > 0) {
    options.time_limit = overrides.time_limit;
  }
  if (overrides.improve) {
    options.improve = *overrides.improve;
  }
  if (overrides.seed) {
    options.seed = *overrides.seed;
  }
  if (overrides.iterations) {
    options.improve_iterations = *overrides.iterations;
  }
  outcome.options = options;

  const auto t0 = std::chrono::steady_clock::now();
  // The solver copies what it needs, so the loaded problem stays as it is for the routes.
  plenro::Solver solver(outcome.problem, outcome.options);
  solver.SetRunControl(control);
  solver.Search();
  const auto t1 = std::chrono::steady_clock::now();
  outcome.solve_time =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count()) /
      1e9;
  outcome.search_time = solver.search_time();
  outcome.stopped = solver.stopped();
  outcome.result = solver.GetResult();
  outcome.anytime = solver.GetAnytimeResults();
  if (options.enforce_constraints) {
    const plenro::RouteEvaluator evaluator(solver.view());
    for (std::size_t a = 0; a < outcome.problem.agents_ordered().size(); ++a) {
      const auto path = outcome.result.paths.find(a);
      outcome.schedules.push_back(path == outcome.result.paths.end()
                                      ? std::vector<plenro::Stop>{}
                                      : evaluator.Schedule(path->second, a));
    }
    outcome.reason = solver.no_solution_reason();
  }
  return outcome;
}

py::dict MakeResultDict(const SolveOutcome& outcome) {
  py::dict out = make_result_dict(outcome.result, outcome.problem, outcome.solve_time);
  out["anytime"] = make_anytime_list(outcome.anytime, outcome.options.objective);
  if (outcome.options.enforce_constraints) {
    py::list routes = out["routes"];
    for (std::size_t a = 0; a < outcome.schedules.size(); ++a) {
      py::list schedule;
      for (const plenro::Stop& stop : outcome.schedules[a]) {
        py::dict entry;
        entry["arrival"] = py::float_(stop.arrival);
        entry["start"] = py::float_(stop.start);
        entry["departure"] = py::float_(stop.departure);
        entry["load"] = py::cast(stop.load);
        schedule.append(std::move(entry));
      }
      py::dict route = routes[a];
      route["schedule"] = std::move(schedule);
    }
    if (outcome.result.paths.empty() && !outcome.reason.empty()) {
      out["reason"] = py::str(outcome.reason);
    }
  }
  return out;
}

}  // namespace orvik_bindings
