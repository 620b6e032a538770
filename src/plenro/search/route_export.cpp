#include "plenro/search/route_export.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "plenro/model/log_sink.h"

namespace plenro {

namespace {

constexpr const char* kExportDirectory = "paths/paths_astar";

}  // namespace

std::string RouteExportPath(const std::string& name) {
  return std::string(kExportDirectory) + "/" + name + "_astar.json";
}

std::string RouteExportText(const RouteExport& data) {
  nlohmann::json document = nlohmann::json::object();
  document["num_agents"] = data.num_agents;
  document["starts"] = data.starts;
  document["goals"] = data.goals;
  document["max_path_length"] = data.max_path_length;

  nlohmann::json paths = nlohmann::json::object();
  nlohmann::json total_costs = nlohmann::json::array();
  if (data.result != nullptr) {
    const Result& result = *data.result;
    for (std::uint64_t i = 0; i < result.paths.size(); ++i) {
      nlohmann::json route = nlohmann::json::array();
      if (const auto it = result.paths.find(i); it != result.paths.end()) {
        const std::vector<std::int64_t>& points = it->second;
        for (std::size_t k = 0; k + 1 < points.size(); ++k) {
          route.push_back(points[k]);
        }
      }
      paths[std::to_string(i)] = std::move(route);
    }
    for (std::uint64_t k = 0; k < result.times.size(); ++k) {
      const auto it = result.times.find(k);
      total_costs.push_back(it != result.times.end() ? it->second : 0.0);
    }
  }
  document["paths"] = std::move(paths);
  document["total_costs"] = std::move(total_costs);
  return document.dump(2) + "\n";
}

void WriteRouteExport(const std::string& name, const RouteExport& data) {
  std::error_code error;
  std::filesystem::create_directories(kExportDirectory, error);
  if (error) {
    Log(LogStream::kErr, "Error: cannot create directory ", kExportDirectory, ": ", error.message(),
        "\n");
    return;
  }
  const std::string file_name = RouteExportPath(name);
  std::ofstream file(file_name, std::ios::out | std::ios::trunc);
  if (!file.is_open()) {
    Log(LogStream::kErr, "Error: cannot open ", file_name, " for writing.\n");
    return;
  }
  file << RouteExportText(data);
  file.close();
  Log(LogStream::kOut, "Saved to ", file_name, "\n");
}

}  // namespace plenro
