#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plenro/model/result.h"

namespace plenro {

// What the route export file records about a finished search.
struct RouteExport {
  std::int64_t num_agents = 0;
  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> goals;
  double max_path_length = 0.0;
  const Result* result = nullptr;  // paths and times after post-optimisation
};

// The file a search named `name` writes: "paths/paths_astar/<name>_astar.json".
std::string RouteExportPath(const std::string& name);

// The file's text: a JSON object with num_agents, starts, goals, max_path_length, paths (per
// agent index, the route without its last point) and total_costs, keys sorted, indented by 2,
// followed by a newline.
std::string RouteExportText(const RouteExport& data);

// Creates "paths/paths_astar" under the working directory if needed and writes the file,
// then prints "Saved to <file>" on standard output. A directory or file that cannot be made is
// reported on standard error; nothing is thrown.
void WriteRouteExport(const std::string& name, const RouteExport& data);

}  // namespace plenro
