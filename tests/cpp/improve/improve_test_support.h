#pragma once

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/graph/no_connection.h"
#include "plenro/improve/random_source.h"
#include "plenro/instance/instance_view.h"
#include "plenro/instance/route_evaluation.h"

namespace plenro::improve_testing {

// What a random instance has. Points 0 .. agents-1 are the agents' start points; with
// separate ends, the next `agents` points are their end points; the rest are to be served.
struct InstanceShape {
  const char* name = "plain";
  std::int32_t customers = 10;
  std::int32_t agents = 3;
  std::int32_t types = 1;
  bool windows = false;        // windows on about half of the points to serve
  bool limits = false;         // a route limit on every agent
  bool open_routes = false;    // return_to_end false
  bool separate_ends = false;  // end points other than the start points
  bool asymmetric = false;
  double missing = 0.0;        // share of legs without a connection
  bool partial_types = false;  // with two types, some points open to one type only
  // Deliveries and pickups in two dimensions on the points to serve and a capacity on every
  // agent (the rules enforced), and service durations.
  bool loads = false;
  bool service = false;
};

inline void PrintTo(const InstanceShape& shape, std::ostream* os) {
  *os << shape.name;
}

// A random instance of the given shape, as the shared instance view holds it.
inline InstanceView MakeView(const InstanceShape& shape, std::uint64_t seed) {
  RandomSource random(seed);
  const std::int32_t depots = shape.separate_ends ? 2 * shape.agents : shape.agents;
  const std::int32_t n = depots + shape.customers;
  std::vector<double> x(static_cast<std::size_t>(n));
  std::vector<double> y(static_cast<std::size_t>(n));
  for (std::int32_t v = 0; v < n; ++v) {
    x[static_cast<std::size_t>(v)] = random.Uniform() * 100.0;
    y[static_cast<std::size_t>(v)] = random.Uniform() * 100.0;
  }
  std::vector<Point> points(static_cast<std::size_t>(n));
  for (std::int32_t v = 0; v < n; ++v) {
    Point& point = points[static_cast<std::size_t>(v)];
    point.id = static_cast<std::uint64_t>(100 + v);
    for (std::int32_t t = 0; t < shape.types; ++t) {
      const bool open = !shape.partial_types || v < depots || random.Chance(0.6) || t == v % 2;
      if (open) {
        point.types.push_back(static_cast<std::uint64_t>(t));
      }
    }
  }
  for (std::int32_t v = depots; v < n && (shape.loads || shape.service); ++v) {
    Point& point = points[static_cast<std::size_t>(v)];
    if (shape.loads) {
      point.delivery = {std::floor(random.Uniform() * 10.0), std::floor(random.Uniform() * 4.0)};
      if (random.Chance(0.4)) {
        point.pickup = {std::floor(random.Uniform() * 8.0)};
      }
    }
    point.service = shape.service ? std::floor(random.Uniform() * 10.0) : 0.0;
  }
  std::vector<AgentInfo> agents(static_cast<std::size_t>(shape.agents));
  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> goals;
  for (std::int32_t a = 0; a < shape.agents; ++a) {
    AgentInfo& agent = agents[static_cast<std::size_t>(a)];
    agent.id = static_cast<std::uint64_t>(a);
    agent.type = a % shape.types;
    agent.max_length = shape.limits ? 150.0 + random.Uniform() * 150.0 : 0.0;
    if (shape.loads) {
      // Tight enough that random routes break it; 0 in the second dimension on every other
      // agent: no limit there.
      agent.capacities = {6.0 * shape.customers / shape.agents, a % 2 == 0 ? 0.0 : 12.0};
    }
    starts.push_back(static_cast<std::uint64_t>(a));
    goals.push_back(static_cast<std::uint64_t>(shape.separate_ends ? shape.agents + a : a));
  }
  CostTable table(static_cast<std::uint64_t>(n), static_cast<std::uint64_t>(shape.types));
  for (std::int32_t u = 0; u < n; ++u) {
    for (std::int32_t v = 0; v < n; ++v) {
      if (u == v) {
        continue;
      }
      const double d = std::hypot(x[static_cast<std::size_t>(u)] - x[static_cast<std::size_t>(v)],
                                  y[static_cast<std::size_t>(u)] - y[static_cast<std::size_t>(v)]);
      for (std::int32_t t = 0; t < shape.types; ++t) {
        double cost = d * (1.0 + 0.25 * t);
        if (shape.asymmetric) {
          cost *= 0.7 + 0.6 * random.Uniform();
        }
        if (random.Uniform() < shape.missing) {
          cost = kNoConnection;
        }
        table.Set(static_cast<std::uint64_t>(u), static_cast<std::uint64_t>(v),
                  static_cast<std::uint64_t>(t), cost);
      }
    }
  }
  TimeWindowMap windows;
  if (shape.windows) {
    for (std::int32_t v = depots; v < n; ++v) {
      if (random.Chance(0.5)) {
        const double open = random.Uniform() * 150.0;
        windows[static_cast<std::uint64_t>(v)] = {open, open + 20.0 + random.Uniform() * 80.0};
      }
    }
    windows[0] = {0.0, 400.0};  // a window on a start point, too
  }
  InstanceView view;
  view.SetEnforced(shape.loads || shape.service);
  view.SetPoints(points);
  view.SetAgents(agents);
  view.SetStarts(starts);
  view.SetGoals(goals);
  view.SetTimeWindows(windows);
  view.SetReturnToEnd(!shape.open_routes);
  view.SetCosts(std::move(table));
  return view;
}

// The instance families the tests run over.
inline std::vector<InstanceShape> Families() {
  std::vector<InstanceShape> shapes;
  shapes.push_back({.name = "plain"});
  shapes.push_back({.name = "windows", .windows = true});
  shapes.push_back({.name = "limits", .limits = true});
  shapes.push_back({.name = "windows_and_limits", .windows = true, .limits = true});
  shapes.push_back(
      {.name = "open_routes", .windows = true, .open_routes = true, .separate_ends = true});
  shapes.push_back({.name = "separate_ends", .limits = true, .separate_ends = true});
  shapes.push_back({.name = "asymmetric", .windows = true, .asymmetric = true});
  shapes.push_back({.name = "two_types",
                    .types = 2,
                    .windows = true,
                    .asymmetric = true,
                    .partial_types = true});
  shapes.push_back({.name = "missing_legs", .limits = true, .missing = 0.15});
  shapes.push_back({.name = "loads", .loads = true});
  shapes.push_back({.name = "loads_service_windows",
                    .windows = true,
                    .open_routes = true,
                    .separate_ends = true,
                    .loads = true,
                    .service = true});
  // Routes longer than the blocks of their cached summaries.
  shapes.push_back({.name = "long_routes", .customers = 90, .agents = 2});
  shapes.push_back({.name = "long_routes_windows", .customers = 90, .agents = 2, .windows = true});
  return shapes;
}

}  // namespace plenro::improve_testing
