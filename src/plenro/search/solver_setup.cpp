// Solver set-up: the tables built from a problem, the instance view with its cost table, the
// choice of plug-ins and their binding to the view, the depot check and the statistics.

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
  // The cost table grows with the square of the point count: refuse before building it. With
  // improvement on, a larger instance is solved by the improvement engine alone.
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

  enforce_constraints_ = options.enforce_constraints;
  if (enforce_constraints_) {
    ReadRouteRules(problem);
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
  // One dense table of the matrices' costs; no planner graph is built on the way.
  view_.SetCosts(BuildCostTable(problem));
  ChoosePlugins(options);
  if (improve_ && points_.size() > static_cast<std::uint64_t>(kMaxPoints)) {
    // Beyond the search's reach the improvement engine works alone: the view is all it needs,
    // the edge list and the plug-ins are not prepared.
    FillView();
    return;
  }
  Initialize();
}

CostTable Solver::BuildCostTable(const Problem& problem) const {
  const std::uint64_t n = points_.size();
  CostTable table(n, num_types_);
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
      // The diagonal is no arc: staying put costs nothing (InstanceView::Leg).
      for (std::size_t k = 0; k < matrix[r].size(); ++k) {
        if (r != k) {
          table.Set(r, k, type, matrix[r][k]);
        }
      }
    }
  }
  return table;
}

void Solver::ChoosePlugins(const Options& options) {
  objective_type_ = options.objective;
  if (ScoresLongestRoute(options.objective)) {
    objective_ = std::make_unique<MinMaxObjective>();
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
      composite->AddChecker(std::make_unique<RouteLengthChecker>());
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
  if (graph_ != nullptr) {
    RefreshViewCosts();
  }
  BindPlugins();
  BuildEdgeList();
  MarkUnreachableDepots();
  // The edge list is the search's own, derived from the view; the heuristic that reads it gets
  // it here.
  if (auto* heuristic = dynamic_cast<DefaultHeuristic*>(heuristic_.get())) {
    heuristic->SetEdgeList(edge_list_);
  }
  initialized_ = true;
  return true;
}

void Solver::ReadRouteRules(const Problem& problem) {
  const auto check = [](const std::vector<double>& amounts, const std::string& what) {
    if (amounts.size() > kMaxLoadDimensions) {
      throw std::invalid_argument(what + " has " + std::to_string(amounts.size()) +
                                  " dimensions; at most " + std::to_string(kMaxLoadDimensions) +
                                  " are allowed");
    }
    for (const double amount : amounts) {
      if (!std::isfinite(amount) || amount < 0.0) {
        std::ostringstream message;
        message << what << " has the amount " << amount << "; amounts are finite and not negative";
        throw std::invalid_argument(message.str());
      }
    }
  };
  const std::deque<Node>& nodes = problem.nodes();
  for (std::size_t j = 0; j < nodes.size(); ++j) {
    const Node& node = nodes[j];
    Point& point = points_[j];
    point.delivery = !node.delivery.empty() ? node.delivery
                     : node.demand != 0.0   ? std::vector<double>{node.demand}
                                            : std::vector<double>{};
    point.pickup = node.pickup;
    point.service = node.service;
    const std::string name = "node " + std::to_string(node.id);
    check(point.delivery, "the delivery of " + name);
    check(point.pickup, "the pickup of " + name);
    check({point.service}, "the service duration of " + name);
  }
  const std::deque<Agent>& agents = problem.agents_ordered();
  for (std::size_t j = 0; j < agents.size(); ++j) {
    const Agent& agent = agents[j];
    agents_[j].capacities = !agent.capacity.empty()      ? agent.capacity
                            : agent.capacity_limit > 0.0 ? std::vector<double>{agent.capacity_limit}
                                                         : std::vector<double>{};
    check(agents_[j].capacities, "the capacity of agent " + std::to_string(agent.id));
  }
  // Orders name nodes by id; a point that starts or ends a route serves nothing and can be in
  // no order.
  const auto vertex_of = [this](std::uint64_t id, const char* role) {
    const auto it = point_index_.find(id);
    if (it == point_index_.end()) {
      throw std::invalid_argument(std::string("the ") + role + " names node " + std::to_string(id) +
                                  ", which the instance does not have");
    }
    if (start_set_.count(it->second) != 0 || goal_set_.count(it->second) != 0) {
      throw std::invalid_argument(std::string("the ") + role + " names node " + std::to_string(id) +
                                  ", an agent's start or end point; orders bind sites only");
    }
    return it->second;
  };
  const auto add = [this, &vertex_of](LinkKind kind, std::uint64_t first, std::uint64_t second,
                                      const char* role, std::vector<double> amount) {
    OrderLink link{kind, vertex_of(first, role), vertex_of(second, role), std::move(amount)};
    if (link.first == link.second) {
      throw std::invalid_argument(std::string("the ") + role + " names node " +
                                  std::to_string(first) + " twice");
    }
    orders_.push_back(std::move(link));
  };
  orders_.clear();
  for (const Shipment& shipment : problem.shipments) {
    check(shipment.amount, "the amount of the shipment from node " +
                               std::to_string(shipment.pickup) + " to node " +
                               std::to_string(shipment.delivery));
    add(LinkKind::kShipment, shipment.pickup, shipment.delivery, "shipment", shipment.amount);
  }
  for (const auto& [before, after] : problem.same_agent_pairs) {
    add(LinkKind::kSameRoute, before, after, "sequence pair of type \"same\"", {});
  }
  for (const auto& [before, after] : problem.diff_agent_pairs) {
    add(LinkKind::kOtherRoute, before, after, "sequence pair of type \"diff\"", {});
  }
  for (const auto& [before, after] : problem.precedence_pairs) {
    add(LinkKind::kPrecedence, before, after, "precedence pair", {});
  }
}

void Solver::FillView() {
  view_.SetEnforced(enforce_constraints_);
  view_.SetOrders(orders_);
  view_.SetPoints(points_);
  view_.SetAgents(agents_);
  view_.SetStarts(starts_);
  view_.SetGoals(goals_);
  view_.SetTimeWindows(time_windows_);
  view_.SetReturnToEnd(return_to_end_);
}

void Solver::RefreshViewCosts() {
  view_.SetCosts(graph_);
  view_graph_ = graph_;
}

void Solver::BindPlugins() {
  for (PluginBase* plugin : std::initializer_list<PluginBase*>{
           focal_comparator_.get(), heuristic_.get(), post_optimizer_.get(),
           constraint_checker_.get(), expansion_.get(), objective_.get()}) {
    plugin->Bind(view_);
  }
}

bool Solver::MarkUnreachableDepots() {
  pre_visited_.clear();
  const std::uint64_t n = NumVertices();
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
