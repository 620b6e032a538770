// Solver set-up: the tables built from a problem, the planner graph, the choice of plug-ins,
// their initialisation, the depot check and the statistics.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <deque>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "plenro/model/log_sink.h"
#include "plenro/model/objective.h"
#include "plenro/plugins/composite_constraint_checker.h"
#include "plenro/plugins/composite_post_optimizer.h"
#include "plenro/plugins/default_constraint_checker.h"
#include "plenro/plugins/default_expansion.h"
#include "plenro/plugins/default_focal_comparator.h"
#include "plenro/plugins/default_heuristic.h"
#include "plenro/plugins/default_objective.h"
#include "plenro/plugins/default_post_optimizer.h"
#include "plenro/plugins/min_sum_objective.h"
#include "plenro/plugins/route_merging_post_optimizer.h"
#include "plenro/plugins/time_limit_constraint_checker.h"
#include "plenro/plugins/time_window_constraint_checker.h"
#include "plenro/search/point_limit.h"
#include "plenro/search/solver.h"

namespace plenro {

namespace {

// The checkers a hand-over reaches: the members of a composite (recursively), else the checker.
void CollectCheckers(ConstraintCheckerPlugin* checker, std::vector<ConstraintCheckerPlugin*>& out) {
  if (auto* composite = dynamic_cast<CompositeConstraintChecker*>(checker)) {
    for (const auto& member : composite->Members()) {
      CollectCheckers(member.get(), out);
    }
    return;
  }
  out.push_back(checker);
}

std::string FormatTypes(const std::vector<std::uint64_t>& types) {
  std::ostringstream text;
  text << "[";
  for (std::size_t i = 0; i < types.size(); ++i) {
    text << (i > 0 ? ", " : "") << types[i];
  }
  text << "]";
  return text.str();
}

// Strict look-up of an id: an absent key throws std::out_of_range with the text that callers
// (and the Python layer's IndexError) know from the standard hash map, whatever this standard
// library's own at() reports.
template <class Map>
const typename Map::mapped_type& LookUp(const Map& map, const typename Map::key_type& key) {
  const auto it = map.find(key);
  if (it == map.end()) {
    throw std::out_of_range("_Map_base::at");
  }
  return it->second;
}

bool TypesAre(const std::vector<std::uint64_t>& types, std::initializer_list<std::uint64_t> want) {
  return types.size() == want.size() && std::equal(types.begin(), types.end(), want.begin());
}

// A time limit that is not a number would never be reached.
void CheckTimeLimit(double seconds) {
  if (std::isnan(seconds)) {
    throw std::invalid_argument(
        "the time limit is NaN; give a number of seconds (a large one for no practical limit)");
  }
}

// The type tables are keyed by agent id, so two agents of different types under one id would
// both drive with one of the types.
void CheckSameTypeUnderId(const Agent& agent, std::size_t position, const Agent& earlier,
                          std::size_t earlier_position) {
  if (agent.type != earlier.type) {
    std::ostringstream message;
    message << "agents at positions " << earlier_position << " and " << position << " share id "
            << agent.id << " but have different types '" << earlier.type << "' and '" << agent.type
            << "'; give agents of different types their own ids";
    throw std::invalid_argument(message.str());
  }
}

}  // namespace

Solver::Solver()
    : focal_comparator_(std::make_unique<DefaultFocalComparator>()),
      heuristic_(std::make_unique<DefaultHeuristic>()),
      post_optimizer_(std::make_unique<DefaultPostOptimizer>()),
      constraint_checker_(std::make_unique<DefaultConstraintChecker>()),
      expansion_(std::make_unique<DefaultExpansion>()),
      objective_(std::make_unique<DefaultObjective>()),
      sets_(focal_comparator_.get()) {}

Solver::Solver(const Problem& problem, const Options& options) : Solver() {
  BuildFromProblem(problem, options);
}

Solver::~Solver() = default;

void Solver::BuildFromProblem(const Problem& problem, const Options& options) {
  CheckTimeLimit(options.time_limit);
  // The graph below grows with the square of the point count: refuse before building it. With
  // improvement on, a larger instance is solved without a graph.
  if (!options.improve) {
    CheckPointLimit(problem.nodes().size());
  }

  // Type numbers and their names.
  type_index_ = problem.type_index;
  for (const auto& [name, number] : type_index_) {
    type_names_[number] = name;
  }
  num_types_ = type_index_.size();

  // Points, in node order.
  const std::deque<Node>& nodes = problem.nodes();
  points_.reserve(nodes.size());
  for (std::size_t j = 0; j < nodes.size(); ++j) {
    const Node& node = nodes[j];
    point_index_[node.id] = j;
    points_.push_back(Point{node.position.x, node.position.y, node.position.z, node.id, {}});
  }

  // Agents, in list order; start and end nodes are looked up strictly.
  const std::deque<Agent>& agents = problem.agents_ordered();
  agents_.reserve(agents.size());
  for (std::size_t j = 0; j < agents.size(); ++j) {
    const Agent& agent = agents[j];
    if (const auto earlier = agent_index_.find(agent.id); earlier != agent_index_.end()) {
      CheckSameTypeUnderId(agent, j, agents[earlier->second], earlier->second);
    }
    agent_index_[agent.id] = j;
    const auto type = problem.agent_type_index.find(agent.id);
    const std::int64_t type_number =
        type == problem.agent_type_index.end() ? -1 : static_cast<std::int64_t>(type->second);
    agent_type_[agent.id] = type_number;
    agents_.push_back(AgentInfo{agent.id, type_number, agent.capacity_limit, agent.time_limit});
    starts_.push_back(LookUp(point_index_, agent.start_node));
    goals_.push_back(LookUp(point_index_, agent.end_node));
    if (type_number < 0) {
      // The type is filed under the id add_agent was given; it differed from the agent's own.
      std::ostringstream message;
      message << "agent at position " << j << " (id " << agent.id
              << ") has no agent type filed under its id; add agents under their own id";
      throw std::invalid_argument(message.str());
    }
  }
  num_agents_ = static_cast<std::int32_t>(agents_.size());
  start_set_.insert(starts_.begin(), starts_.end());
  goal_set_.insert(goals_.begin(), goals_.end());

  // Allowed types per point (warns about nodes without an assignment entry).
  for (Point& point : points_) {
    point.types = problem.allowed_type_indices(point.id);
  }

  // Time windows by vertex.
  for (const auto& [node_id, window] : problem.timewindow_constraint.windows) {
    const auto vertex = point_index_.find(node_id);
    if (vertex == point_index_.end()) {
      Log(LogStream::kErr, "[warning] time window node id ", node_id, " not found in nodes\n");
      continue;
    }
    time_windows_[vertex->second] = window;
  }

  if (options.improve_iterations < 0) {
    std::ostringstream message;
    message << "improve_iterations must be 0 (no limit) or more, got "
            << options.improve_iterations;
    throw std::invalid_argument(message.str());
  }
  improve_ = options.improve;
  seed_ = options.seed;
  improve_iteration_limit_ = options.improve_iterations;
  return_to_end_ = options.return_to_end;
  time_limit_ = options.time_limit;
  if (improve_ && points_.size() > static_cast<std::uint64_t>(kMaxPoints)) {
    // Beyond the search's reach the improvement engine works alone: a dense cost table is all
    // it needs, the planner graph and the plug-ins' tables are not built.
    CostTable table = BuildCostTable(problem);
    ChoosePlugins(options);
    FillView();
    view_.SetCosts(std::move(table));
    return;
  }

  BuildGraph(problem);
  ChoosePlugins(options);
  graph_ = owned_graph_.get();
  Initialize();
}

template <class Set>
void Solver::ForEachMatrixEntry(const Problem& problem, Set set) const {
  const std::uint64_t n = points_.size();
  for (const auto& [type_name, matrix] : problem.cost_matrices) {
    const std::uint64_t type = LookUp(type_index_, type_name);
    if (matrix.size() > n) {
      std::ostringstream message;
      message << "cost matrix for agent type '" << type_name << "' has " << matrix.size()
              << " rows, but the instance has only " << n << " nodes";
      throw std::invalid_argument(message.str());
    }
    for (std::size_t r = 0; r < matrix.size(); ++r) {
      if (matrix[r].size() > n) {
        std::ostringstream message;
        message << "row " << r << " of the cost matrix for agent type '" << type_name << "' has "
                << matrix[r].size() << " entries, but the instance has only " << n << " nodes";
        throw std::invalid_argument(message.str());
      }
      for (std::size_t k = 0; k < matrix[r].size(); ++k) {
        set(r, k, type, matrix[r][k]);
      }
    }
  }
}

void Solver::BuildGraph(const Problem& problem) {
  const std::uint64_t n = points_.size();
  owned_graph_ = std::make_unique<SparseGraph>();
  owned_graph_->ChangeCostDim(num_types_, kNoConnection);
  for (std::uint64_t v = 0; v < n; ++v) {
    owned_graph_->AddVertex(v);
  }

  // Every (from, to, type) cost, "no connection" unless a matrix gives it.
  std::vector<double> cells(n * n * num_types_, kNoConnection);
  ForEachMatrixEntry(problem, [&](std::size_t r, std::size_t k, std::uint64_t type, double cost) {
    cells[(r * n + k) * num_types_ + type] = cost;
  });

  CostVector cost(num_types_);
  for (std::uint64_t u = 0; u < n; ++u) {
    for (std::uint64_t v = 0; v < n; ++v) {
      if (u == v) {
        continue;
      }
      // Iterators, not &cells[...]: with no agent types the table is empty.
      const auto cell = cells.begin() + static_cast<std::ptrdiff_t>((u * n + v) * num_types_);
      cost.assign(cell, cell + static_cast<std::ptrdiff_t>(num_types_));
      owned_graph_->AddArc(u, v, cost);
    }
  }
}

CostTable Solver::BuildCostTable(const Problem& problem) const {
  CostTable table(points_.size(), num_types_);
  ForEachMatrixEntry(problem,
                     [&table](std::size_t r, std::size_t k, std::uint64_t type, double cost) {
                       if (r != k) {
                         table.Set(r, k, type, cost);
                       }
                     });
  return table;
}

void Solver::ChoosePlugins(const Options& options) {
  objective_type_ = options.objective;
  if (ScoresLongestRoute(options.objective)) {
    objective_ = std::make_unique<DefaultObjective>();
  } else {
    objective_ = std::make_unique<MinSumObjective>();
  }

  const bool has_windows = !time_windows_.empty();
  bool has_limits = false;
  for (const AgentInfo& agent : agents_) {
    has_limits = has_limits || agent.max_length > 0;
  }
  if (has_windows || has_limits) {
    auto composite = std::make_unique<CompositeConstraintChecker>();
    composite->AddChecker(std::make_unique<DefaultConstraintChecker>());
    if (has_windows) {
      composite->AddChecker(std::make_unique<TimeWindowConstraintChecker>());
    }
    if (has_limits) {
      composite->AddChecker(std::make_unique<TimeLimitConstraintChecker>());
    }
    constraint_checker_ = std::move(composite);
  }

  auto post = std::make_unique<CompositePostOptimizer>();
  post->AddOptimizer(std::make_unique<DefaultPostOptimizer>());
  post->AddOptimizer(std::make_unique<RouteMergingPostOptimizer>());
  post_optimizer_ = std::move(post);
}

void Solver::SetPoints(const std::vector<Point>& points) {
  for (std::size_t j = 0; j < points.size(); ++j) {
    if (!TypesAre(points[j].types, {0}) && !TypesAre(points[j].types, {0, 1})) {
      std::ostringstream message;
      message << "Wrong Point type: point " << j << " (id " << points[j].id << ") has types "
              << FormatTypes(points[j].types) << "; every point needs [0] or [0, 1]";
      throw std::runtime_error(message.str());
    }
  }
  points_ = points;
}

void Solver::SetAgents(const std::vector<AgentInfo>& agents) {
  agents_ = agents;
}

void Solver::SetGraph(PlannerGraph* graph) {
  graph_ = graph;
}

bool Solver::Solve(PlannerGraph* graph, const std::vector<Point>& points,
                   const std::vector<AgentInfo>& agents, const std::vector<std::uint64_t>& starts,
                   const std::vector<std::uint64_t>& goals, const std::string& name,
                   double time_limit) {
  if (graph == nullptr) {
    throw std::invalid_argument("Solver::Solve needs a graph");
  }
  CheckTimeLimit(time_limit);
  name_ = name;
  SetGraph(graph);
  SetPoints(points);
  SetAgents(agents);
  num_types_ = graph_->GetCostDim();
  starts_ = starts;
  start_set_ = std::unordered_set<std::uint64_t>(starts_.begin(), starts_.end());
  num_agents_ = static_cast<std::int32_t>(starts_.size());
  goals_ = goals;
  goal_set_ = std::unordered_set<std::uint64_t>(goals_.begin(), goals_.end());
  return_to_end_ = false;
  Initialize();
  time_limit_ = time_limit;
  return Search();
}

Result Solver::GetResult() const {
  Result copy = result_;
  copy.last_update_time = last_solution_time_;
  return copy;
}

SolverStatistics Solver::GetStatistics() const {
  return statistics_;
}

std::vector<AnytimeEntry> Solver::GetAnytimeResults() const {
  return anytime_;
}

bool Solver::Initialize() {
  FillView();
  LinkPlugins();
  BuildEdgeList();
  MarkUnreachableDepots();

  heuristic_->Initialize(graph_, points_, agents_);
  if (auto* heuristic = dynamic_cast<DefaultHeuristic*>(heuristic_.get())) {
    heuristic->SetGoals(goals_);
    heuristic->SetEdgeList(edge_list_);
  }
  constraint_checker_->Initialize(graph_, points_, agents_);
  HandOverToCheckers();
  expansion_->Initialize(goals_);
  objective_->Initialize(goals_);
  post_optimizer_->SetReturnToEnd(return_to_end_);
  post_optimizer_->SetStarts(starts_);
  post_optimizer_->SetGoals(goals_);
  post_optimizer_->SetTimeWindows(time_windows_);
  return true;
}

void Solver::FillView() {
  view_.SetPoints(points_);
  view_.SetAgents(agents_);
  view_.SetStarts(starts_);
  view_.SetGoals(goals_);
  view_.SetTimeWindows(time_windows_);
  view_.SetReturnToEnd(return_to_end_);
  RefreshViewCosts();
}

void Solver::RefreshViewCosts() {
  view_.SetCosts(graph_);
  view_graph_ = graph_;
}

// The hand-overs of Initialize below still reach the plug-ins; linked, they read the view only.
void Solver::LinkPlugins() {
  for (PluginBase* plugin : std::initializer_list<PluginBase*>{
           focal_comparator_.get(), heuristic_.get(), post_optimizer_.get(),
           constraint_checker_.get(), expansion_.get(), objective_.get()}) {
    plugin->UseView(&view_);
  }
}

void Solver::HandOverToCheckers() {
  std::vector<ConstraintCheckerPlugin*> checkers;
  CollectCheckers(constraint_checker_.get(), checkers);
  // Four passes over the members: end points, windows, start points, the return flag.
  for (ConstraintCheckerPlugin* checker : checkers) {
    if (auto* plain = dynamic_cast<DefaultConstraintChecker*>(checker)) {
      plain->SetGoals(goals_);
    } else if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
      windows->SetGoals(goals_);
    } else if (auto* limits = dynamic_cast<TimeLimitConstraintChecker*>(checker)) {
      limits->SetGoals(goals_);
    }
  }
  for (ConstraintCheckerPlugin* checker : checkers) {
    if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
      windows->SetTimeWindows(time_windows_);
    }
  }
  for (ConstraintCheckerPlugin* checker : checkers) {
    if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
      windows->SetStarts(starts_);
    }
  }
  for (ConstraintCheckerPlugin* checker : checkers) {
    if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
      windows->SetReturnToEnd(return_to_end_);
    }
  }
}

bool Solver::MarkUnreachableDepots() {
  pre_visited_.clear();
  const std::uint64_t n = graph_ != nullptr ? graph_->NumVertex() : 0;
  for (std::uint64_t i = 0; i < n; ++i) {
    if (!view_.IsStart(i) && !view_.IsGoal(i)) {
      continue;
    }
    double cheapest = std::numeric_limits<double>::max();
    for (std::uint64_t j = 0; j < n; ++j) {
      if (j == i) {
        continue;
      }
      const double cost = view_.Cost(i, j, 0);
      if (cost < cheapest) {
        cheapest = cost;
      }
    }
    // Exactly the no-connection cost: a depot whose cheapest arc costs more is still examined
    // by the search.
    if (cheapest == kNoConnection) {
      Log(LogStream::kErr, "point: ", i, " can't be reached\n");
      pre_visited_.push_back(i);
    }
  }
  return true;
}

void Solver::ComputeStatistics() {
  if (!found_) {
    return;
  }
  statistics_.found = 1;
  statistics_.num_agents = num_agents_;
  statistics_.max_cost = max_path_length_;
  statistics_.num_points = static_cast<std::int32_t>(points_.size());
  statistics_.num_type0_points = 0;
  statistics_.num_shared_points = 0;
  statistics_.num_type0_agents = 0;
  statistics_.num_type1_agents = 0;
  for (const Point& point : points_) {
    if (TypesAre(point.types, {0})) {
      ++statistics_.num_type0_points;
    } else if (TypesAre(point.types, {0, 1})) {
      ++statistics_.num_shared_points;
    }
  }
  for (const AgentInfo& agent : agents_) {
    if (agent.type == 0) {
      ++statistics_.num_type0_agents;
    } else if (agent.type == 1) {
      ++statistics_.num_type1_agents;
    }
  }
  double sum = 0.0;
  for (std::uint64_t i = 0; i < result_.times.size(); ++i) {
    const auto it = result_.times.find(i);
    if (it != result_.times.end()) {
      sum += it->second;
    }
  }
  statistics_.sum_cost = sum;
  statistics_.last_update_time = last_solution_time_;
}

}  // namespace plenro
