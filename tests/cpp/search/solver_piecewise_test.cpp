#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plenro/graph/sparse_graph.h"
#include "plenro/search/route_export.h"
#include "plenro/search/solver.h"
#include "solver_test_support.h"

namespace plenro {
namespace {

using testing_support::CaptureOutput;
using testing_support::ScopedWorkingDirectory;

std::string ReadFile(const std::string& name) {
  std::ifstream file(name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<Point> TypeZeroPoints(std::size_t n) {
  std::vector<Point> points(n);
  for (std::size_t j = 0; j < n; ++j) {
    points[j].id = 100 + j;
    points[j].types = {0};
  }
  return points;
}

std::vector<AgentInfo> TypeZeroAgents(std::size_t m) {
  std::vector<AgentInfo> agents(m);
  for (std::size_t i = 0; i < m; ++i) {
    agents[i].id = i;
    agents[i].type = 0;
  }
  return agents;
}

// Depot 0 and two targets: 0-1 costs 1, 0-2 costs 2, 1-2 costs 5, both ways.
SparseGraph DepotAndTwoTargets() {
  SparseGraph graph;
  graph.ChangeCostDim(1, 9999.0);
  const double cost[3][3] = {{0, 1, 2}, {1, 0, 5}, {2, 5, 0}};
  for (std::uint64_t u = 0; u < 3; ++u) {
    for (std::uint64_t v = 0; v < 3; ++v) {
      if (u != v) {
        graph.AddArc(u, v, {cost[u][v]});
      }
    }
  }
  return graph;
}

TEST(SolverPiecewiseTest, SolveSearchesTheGivenGraphAndWritesTheExport) {
  const ScopedWorkingDirectory cwd("export");
  SparseGraph graph = DepotAndTwoTargets();
  Solver solver;
  bool found = false;
  const auto captured = CaptureOutput([&] {
    found =
        solver.Solve(&graph, TypeZeroPoints(3), TypeZeroAgents(2), {0, 0}, {0, 0}, "demo", 10.0);
  });
  ASSERT_TRUE(found);
  EXPECT_FALSE(solver.return_to_end());
  EXPECT_EQ(solver.graph(), &graph);
  // Routes may end back at the depot for free: one target each, longest route 2.
  const Result result = solver.GetResult();
  EXPECT_EQ(result.paths.at(0), (std::vector<std::int64_t>{0, 1, 0}));
  EXPECT_EQ(result.paths.at(1), (std::vector<std::int64_t>{0, 2, 0}));
  EXPECT_NE(captured.out.find("Saved to paths/paths_astar/demo_astar.json\n"), std::string::npos);
  EXPECT_EQ(ReadFile("paths/paths_astar/demo_astar.json"),
            R"({
  "goals": [
    0,
    0
  ],
  "max_path_length": 2.0,
  "num_agents": 2,
  "paths": {
    "0": [
      0,
      1
    ],
    "1": [
      0,
      2
    ]
  },
  "starts": [
    0,
    0
  ],
  "total_costs": [
    1.0,
    2.0
  ]
}
)");
}

TEST(SolverPiecewiseTest, ProblemSolversWriteNoExport) {
  const ScopedWorkingDirectory cwd("no_export");
  SparseGraph graph = DepotAndTwoTargets();
  Solver solver;
  CaptureOutput([&] {
    solver.Solve(&graph, TypeZeroPoints(3), TypeZeroAgents(2), {0, 0}, {0, 0}, "", 10.0);
  });
  EXPECT_FALSE(std::filesystem::exists("paths"));
}

TEST(SolverPiecewiseTest, ExportDirectoryThatCannotBeMadeIsReported) {
  const ScopedWorkingDirectory cwd("blocked_export");
  std::ofstream("paths") << "a file where the folder should go\n";
  SparseGraph graph = DepotAndTwoTargets();
  Solver solver;
  bool found = false;
  const auto captured = CaptureOutput([&] {
    found =
        solver.Solve(&graph, TypeZeroPoints(3), TypeZeroAgents(2), {0, 0}, {0, 0}, "demo", 10.0);
  });
  EXPECT_TRUE(found);
  EXPECT_NE(captured.err.find("paths/paths_astar"), std::string::npos) << captured.err;
  EXPECT_EQ(captured.out.find("Saved to"), std::string::npos);
  EXPECT_FALSE(solver.GetResult().paths.empty());
}

TEST(SolverPiecewiseTest, MissingArcsCostNoConnection) {
  // Only the cycle 0 -> 1 -> 2 -> 0 exists; going the other way round takes missing arcs.
  SparseGraph graph;
  graph.ChangeCostDim(1, 9999.0);
  graph.AddArc(0, 1, {1.0});
  graph.AddArc(1, 2, {1.0});
  graph.AddArc(2, 0, {1.0});
  Solver solver;
  bool found = false;
  CaptureOutput([&] {
    found = solver.Solve(&graph, TypeZeroPoints(3), TypeZeroAgents(1), {0}, {0}, "", 10.0);
  });
  ASSERT_TRUE(found);
  // The search's own solution, before post-optimisation (which reads missing arcs differently).
  const std::vector<AnytimeEntry> anytime = solver.GetAnytimeResults();
  ASSERT_GE(anytime.size(), 2u);
  EXPECT_EQ(anytime[0].result.paths.at(0), (std::vector<std::int64_t>{0, 1, 2, 0}));
  EXPECT_DOUBLE_EQ(anytime[0].result.times.at(0), 2.0);  // the leg home is free
  // 1-0 and 2-1 are joined one way; 2-0 too.
  EXPECT_EQ(solver.edge_list().size(), 3u);
}

TEST(SolverPiecewiseTest, RejectsInputTheSearchCannotIndex) {
  SparseGraph graph = DepotAndTwoTargets();
  struct Case {
    const char* name;
    std::vector<Point> points;
    std::vector<AgentInfo> agents;
    std::vector<std::uint64_t> starts;
    std::vector<std::uint64_t> goals;
  };
  std::vector<AgentInfo> untyped = TypeZeroAgents(1);
  untyped[0].type = -1;
  std::vector<AgentInfo> unknown_type = TypeZeroAgents(1);
  unknown_type[0].type = 1;
  const std::vector<Case> cases = {
      {"too few points", TypeZeroPoints(2), TypeZeroAgents(1), {0}, {0}},
      {"start outside", TypeZeroPoints(3), TypeZeroAgents(1), {3}, {0}},
      {"goal outside", TypeZeroPoints(3), TypeZeroAgents(1), {0}, {7}},
      {"fewer goals", TypeZeroPoints(3), TypeZeroAgents(2), {0, 0}, {0}},
      {"fewer agents", TypeZeroPoints(3), TypeZeroAgents(1), {0, 0}, {0, 0}},
      // Every plug-in counts the agents by their records, the search by the start points.
      {"more agents", TypeZeroPoints(3), TypeZeroAgents(2), {0}, {0}},
      {"type -1", TypeZeroPoints(3), untyped, {0}, {0}},
      {"type beyond the graph", TypeZeroPoints(3), unknown_type, {0}, {0}},
  };
  for (const Case& c : cases) {
    Solver solver;
    EXPECT_THROW(CaptureOutput(
                     [&] { solver.Solve(&graph, c.points, c.agents, c.starts, c.goals, "", 1.0); }),
                 std::invalid_argument)
        << c.name;
  }
}

TEST(SolverPiecewiseTest, RefusesANaNTimeLimit) {
  SparseGraph graph = DepotAndTwoTargets();
  Solver solver;
  try {
    CaptureOutput([&] {
      solver.Solve(&graph, TypeZeroPoints(3), TypeZeroAgents(1), {0}, {0}, "", std::nan(""));
    });
    ADD_FAILURE() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("NaN"), std::string::npos) << error.what();
  }
}

TEST(RouteExportTest, RoutesLoseTheirLastPointAndKeysSortAsText) {
  Result result;
  for (std::uint64_t i = 0; i < 12; ++i) {
    result.paths[i] = {static_cast<std::int64_t>(i), 40, static_cast<std::int64_t>(i)};
    result.times[i] = 0.5 * static_cast<double>(i);
  }
  result.paths[3] = {5};  // one point
  result.paths[4] = {};   // empty
  RouteExport data;
  data.num_agents = 12;
  data.starts.assign(12, 1);
  data.goals.assign(12, 2);
  data.max_path_length = 5.5;
  data.result = &result;
  const std::string text = RouteExportText(data);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> keys;
  for (std::size_t pos = text.find("\n    \""); pos != std::string::npos;
       pos = text.find("\n    \"", pos + 1)) {
    keys.push_back(text.substr(pos + 6, text.find('"', pos + 6) - pos - 6));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"0", "1", "10", "11", "2", "3", "4", "5", "6", "7", "8",
                                            "9"}));
  EXPECT_NE(text.find("\"3\": [],"), std::string::npos);
  EXPECT_NE(text.find("\"4\": [],"), std::string::npos);
  EXPECT_NE(text.find("\"10\": [\n      10,\n      40\n    ],"), std::string::npos);
  EXPECT_NE(text.find("\"max_path_length\": 5.5,"), std::string::npos);
  EXPECT_NE(text.find("\"total_costs\": [\n    0.0,\n    0.5,"), std::string::npos);
}

TEST(RouteExportTest, ASecondExportReplacesTheFile) {
  const ScopedWorkingDirectory cwd("replace");
  Result result;
  result.paths[0] = {0, 3, 0};
  result.times[0] = 7.25;
  RouteExport data{1, {0}, {0}, 7.25, &result};
  CaptureOutput([&] { WriteRouteExport("twice", data); });
  result.paths[0] = {0, 0};
  data.max_path_length = 0.0;
  const auto captured = CaptureOutput([&] { WriteRouteExport("twice", data); });
  EXPECT_EQ(captured.out, "Saved to paths/paths_astar/twice_astar.json\n");
  EXPECT_EQ(ReadFile(RouteExportPath("twice")), RouteExportText(data));
  EXPECT_EQ(ReadFile(RouteExportPath("twice")).find("3"), std::string::npos);
}

}  // namespace
}  // namespace plenro
