#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "plenro/graph/cost_table.h"
#include "plenro/graph/planner_graph.h"
#include "plenro/improve/improvement_engine.h"
#include "plenro/instance/instance_view.h"
#include "plenro/model/problem.h"
#include "plenro/model/result.h"
#include "plenro/model/run_control.h"
#include "plenro/model/types.h"
#include "plenro/plugins/constraint_checker_plugin.h"
#include "plenro/plugins/expansion_plugin.h"
#include "plenro/plugins/focal_comparator_plugin.h"
#include "plenro/plugins/heuristic_plugin.h"
#include "plenro/plugins/objective_plugin.h"
#include "plenro/plugins/post_optimizer_plugin.h"
#include "plenro/plugins/search_state.h"
#include "plenro/search/dominance_table.h"
#include "plenro/search/search_sets.h"
#include "plenro/search/simple_timer.h"
#include "plenro/search/state_store.h"

namespace plenro {

// Figures of the last solution found. Every field stays -1 (found 0) until a solution exists.
struct SolverStatistics {
  std::int32_t found = 0;
  std::int32_t num_points = -1;
  std::int32_t num_agents = -1;
  double sum_cost = -1.0;
  double max_cost = -1.0;
  double last_update_time = -1.0;  // budget-clock seconds from search start to the last solution
  double bound = -1.0;             // incumbent / smallest open f at the last weight change
};

// One recorded solution: seconds on the budget clock since the search started and the result
// then.
struct AnytimeEntry {
  double time = 0.0;
  Result result;
};

// The search engine: set-up from a problem (the instance view with its dense cost table, read by
// every plug-in), then an anytime focal search that builds the routes of all agents together,
// one move of one agent at a time. Every step is a virtual operation and the search calls them
// through the table, so a subclass can replace any of them.
//
// Points are the problem's nodes by position (point j is vertex j), agents its agent list by
// position (the agent index), types their type numbers. A move whose leg the agent pays has no
// connection (InstanceView::Leg) is never made.
//
// The instance reaches the plug-ins one way: the solver fills its view (view()) and binds every
// plug-in to it (PluginBase::Bind). A planner graph appears only where a caller hands one in
// (SetGraph, the piecewise Solve); its costs are then copied into the view's table.
//
// The time limit counts the processor time of the thread that runs the search, unless a run
// control chooses the wall clock; a run control also carries a stop flag, checked at every step,
// and a progress hook (SetRunControl).
//
// With the options' `improve` set, Search runs the search until its first solution (for at
// most a fifth of the time limit) and hands it to the improvement engine for the rest of the
// time limit, on the same clock and under the same run control; instances above the search's
// 256 points are then solved by the engine alone, from its own construction, without the
// search's edge list and plug-ins.
class Solver {
 public:
  // Installs the default plug-ins and nothing else; for the piecewise Solve.
  Solver();
  // Builds every table from the problem (which may be discarded afterwards), chooses the
  // plug-ins and initialises them. Throws std::out_of_range ("_Map_base::at") for an agent
  // start/end node id that no node has and for a cost matrix of a type name no agent has,
  // std::invalid_argument for a NaN time limit, a negative improve_iterations, two agents of
  // different types under one id, an agent whose type cannot be found or an oversized matrix,
  // and std::runtime_error for more points than a search handles (checked before the cost table
  // is built). With improvement on, more points are fine: the solver then builds only the
  // instance view with its dense cost table, no edge list and no plug-in data.
  Solver(const Problem& problem, const Options& options);
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  virtual ~Solver();

  // Replaces the points; every point's types must be exactly [0] or [0, 1] (else
  // std::runtime_error "Wrong Point type ...").
  virtual void SetPoints(const std::vector<Point>& points);
  virtual void SetAgents(const std::vector<AgentInfo>& agents);
  // The graph whose costs the search reads from now on (copied into the view's table when the
  // solver next initialises or searches); not owned, must outlive the solver's use of it.
  virtual void SetGraph(PlannerGraph* graph);
  // Piecewise entry: takes the graph (not owned), points, agents, start and end points and the
  // export name, initialises the plug-ins and searches. Routes may end at their start point.
  // A NaN time limit is refused (std::invalid_argument).
  virtual bool Solve(PlannerGraph* graph, const std::vector<Point>& points,
                     const std::vector<AgentInfo>& agents, const std::vector<std::uint64_t>& starts,
                     const std::vector<std::uint64_t>& goals, const std::string& name,
                     double time_limit);
  // A copy of the result whose last_update_time is the time of the last solution.
  virtual Result GetResult() const;
  virtual SolverStatistics GetStatistics() const;
  // Every recorded solution, two per solution found (before and after post-optimisation).
  virtual std::vector<AnytimeEntry> GetAnytimeResults() const;
  // Runs the search (and the improvement, when the options ask for it); true when at least one
  // solution was found. A second call starts over from empty containers and repeats the first
  // search.
  virtual bool Search();
  // Fills the instance view from the prepared data (the costs from the graph, when one was
  // handed in), builds the edge list, marks unreachable depots and binds every plug-in to the
  // view. Always true.
  virtual bool Initialize();
  // Marks every start or end point without a type-0 arc cheaper than 9999.0 as visited from
  // the start, with a message on standard error. Always true.
  virtual bool MarkUnreachableDepots();
  // Builds the sorted edge list of the time-window spanning-tree bound. Always true.
  virtual bool BuildEdgeList();
  virtual std::int64_t NewStateId();
  virtual bool IsDominated(const SearchState& state);
  virtual void AddToFrontier(const SearchState& state);
  virtual void ExtractSolution(std::int64_t goal_id);
  virtual bool IsGoal(const SearchState& state) const;
  virtual double TotalCost(const SearchState& state) const;
  virtual void ResetFrontierCounter();
  virtual std::int64_t CountVisited(const SearchState& state) const;
  virtual void UpdateFocalBound(double old_bound, double new_bound);
  virtual void ComputeStatistics();
  virtual void ApplyIncumbent(double cost);

  // The stop flag, progress hook and budget clock of the next searches; the default control has
  // none and counts the thread's processor time.
  void SetRunControl(RunControl control);
  const RunControl& run_control() const { return run_control_; }
  // Whether the last search ended because the stop flag was raised.
  bool stopped() const { return stopped_; }
  // Seconds on the budget clock the last search took.
  double search_time() const { return search_time_; }
  // Why the last search returned no solution where one cannot exist or none was found, when
  // the improvement engine ran (naming the point, pair or agent); empty otherwise.
  const std::string& no_solution_reason() const { return no_solution_reason_; }
  // Whether loads, service durations or orders are enforced and present: then the improvement
  // engine solves the instance alone, from its own construction.
  bool RouteRulesApply() const { return enforce_constraints_ && view_.has_route_rules(); }

  // Read access to the prepared tables and the search's state, for callers and tests.
  // The instance as every plug-in of this solver reads it; filled by set-up and Initialize.
  const InstanceView& view() const { return view_; }
  const std::vector<Point>& points() const { return points_; }
  const std::vector<AgentInfo>& agents() const { return agents_; }
  const std::vector<std::uint64_t>& starts() const { return starts_; }
  const std::vector<std::uint64_t>& goals() const { return goals_; }
  const std::unordered_set<std::uint64_t>& start_set() const { return start_set_; }
  const std::unordered_set<std::uint64_t>& goal_set() const { return goal_set_; }
  const TimeWindowMap& time_windows() const { return time_windows_; }
  const std::vector<std::uint64_t>& pre_visited() const { return pre_visited_; }
  const std::vector<WeightedEdge>& edge_list() const { return edge_list_; }
  const std::vector<double>& weights() const { return weights_; }
  std::uint64_t num_types() const { return num_types_; }
  std::int32_t num_agents() const { return num_agents_; }
  bool return_to_end() const { return return_to_end_; }
  double time_limit() const { return time_limit_; }
  double incumbent() const { return incumbent_; }
  // The graph handed to SetGraph or Solve; null for a solver set up from a problem, whose costs
  // are the view's table alone.
  const PlannerGraph* graph() const { return graph_; }
  const ConstraintCheckerPlugin& constraint_checker() const { return *constraint_checker_; }
  const HeuristicPlugin& heuristic() const { return *heuristic_; }
  const ExpansionPlugin& expansion() const { return *expansion_; }
  const ObjectivePlugin& objective() const { return *objective_; }
  const FocalComparatorPlugin& focal_comparator() const { return *focal_comparator_; }
  const PostOptimizerPlugin& post_optimizer() const { return *post_optimizer_; }

  // The clock an improving search counts its budget on (the run control's, started by Search).
  const Stopwatch& clock() const { return clock_; }
  // Local-search moves and insertion places the improvement scored, and its iterations.
  std::int64_t improve_moves() const { return improve_moves_; }
  std::int64_t improve_iterations() const { return improve_iterations_done_; }

 private:
  enum class StepEnd { kNextStep, kPassEnds };

  void BuildFromProblem(const Problem& problem, const Options& options);
  // The complete cost table of the problem's matrices ("no connection" where none gives a
  // cost), after checking that no matrix is larger than the instance.
  CostTable BuildCostTable(const Problem& problem) const;
  void ChoosePlugins(const Options& options);
  // With the rules enforced: the loads and service of every point, the capacities of every
  // agent and the orders, checked (std::invalid_argument for an unknown or endpoint node, a
  // node paired with itself, a negative or non-finite amount, too many dimensions).
  void ReadRouteRules(const Problem& problem);
  // Everything but the costs; those come from the problem's table, or from a graph handed in.
  void FillView();
  void RefreshViewCosts();
  void BindPlugins();
  // Vertices of the view's cost table: the points a search and its edge list cover.
  std::uint64_t NumVertices() const { return view_.costs().NumVertex(); }
  double PairWeight(std::uint64_t a, std::uint64_t b) const;

  bool RunSearch();
  bool SearchThenImprove();
  void RecordImprovement(const RoutePlan& plan, double elapsed);
  void ResetSearch();
  void CheckSearchInput(std::uint64_t n) const;
  bool RoomForNextState();
  bool StartSearch(std::uint64_t n);
  void RestartDryFocal(std::size_t pass);
  void RunPass(std::size_t pass);
  StepEnd Step(std::size_t pass);
  void RefreshFocalBound(std::size_t pass);
  bool Expand();
  void TryMove(std::uint64_t agent, std::uint64_t point);
  void HandleSolution();
  void ReportSolution(double elapsed);
  // The result's routes and costs by agent index (an agent without a route has an empty one).
  RoutePlan PlanOfResult() const;
  // The search ends at the next check: out of time or memory, asked to stop, or done with the
  // expansions it was allowed after its first solution.
  bool Ended() const {
    return result_.timeout || stopped_ ||
           (expansion_cap_ >= 0 && result_.n_expanded >= expansion_cap_);
  }
  void UpdateWeights();
  FocalKey GrownFocalKey(std::int64_t id, double f);

  // Plug-ins, each owned here.
  std::unique_ptr<FocalComparatorPlugin> focal_comparator_;
  std::unique_ptr<HeuristicPlugin> heuristic_;
  std::unique_ptr<PostOptimizerPlugin> post_optimizer_;
  std::unique_ptr<ConstraintCheckerPlugin> constraint_checker_;
  std::unique_ptr<ExpansionPlugin> expansion_;
  std::unique_ptr<ObjectivePlugin> objective_;

  // A graph handed in by the caller (not owned); null when set up from a problem.
  PlannerGraph* graph_ = nullptr;
  // The instance of this solve, read by the search and every plug-in. Its costs are the
  // problem's table, or a flat copy of those of view_graph_, taken again when the graph
  // changes.
  InstanceView view_;
  const PlannerGraph* view_graph_ = nullptr;
  // The plug-ins are bound to the view, and the edge list built: a search can run.
  bool initialized_ = false;

  std::vector<Point> points_;
  std::vector<AgentInfo> agents_;
  std::unordered_map<std::string, std::uint64_t> type_index_;
  std::unordered_map<std::uint64_t, std::string> type_names_;
  std::uint64_t num_types_ = 0;
  std::unordered_map<std::uint64_t, std::uint64_t> point_index_;
  std::unordered_map<std::uint64_t, std::uint64_t> agent_index_;
  std::unordered_map<std::uint64_t, std::int64_t> agent_type_;
  std::vector<std::uint64_t> starts_;
  std::vector<std::uint64_t> goals_;
  std::unordered_set<std::uint64_t> start_set_;
  std::unordered_set<std::uint64_t> goal_set_;
  std::int32_t num_agents_ = 0;
  TimeWindowMap time_windows_;
  bool return_to_end_ = true;
  // Loads, service durations and orders apply (Options::enforce_constraints).
  bool enforce_constraints_ = false;
  std::vector<OrderLink> orders_;
  double time_limit_ = Options{}.time_limit;
  std::vector<std::uint64_t> pre_visited_;
  std::vector<WeightedEdge> edge_list_;
  std::string name_;
  Result result_;
  SolverStatistics statistics_;

  // Search containers.
  StateStore store_;
  SearchSets sets_;
  DominanceTable dominance_;
  std::vector<double> weights_{100.0};
  double incumbent_ = -1.0;
  double max_path_length_ = -1.0;
  double last_solution_time_ = 0.0;
  bool found_ = false;
  std::int64_t goal_id_ = -1;
  std::vector<AnytimeEntry> anytime_;
  SimpleTimer timer_;
  std::uint64_t memory_budget_bytes_ = 0;

  // What the caller hands the search besides the options, and what the search reports.
  RunControl run_control_;
  ProgressPacer pacer_;
  ObjectiveType objective_type_ = MinMax;  // that of the default objective plug-in
  double best_value_ = 0.0;                // objective value last reported; NaN before any
  RoutePlan reported_routes_;  // its routes, kept only where the progress reports carry them
  bool stopped_ = false;
  double search_time_ = 0.0;
  std::string no_solution_reason_;

  // Improvement: its settings, its clock (the run control's budget clock, started with the
  // search) and its figures.
  bool improve_ = false;
  std::uint64_t seed_ = 0;
  std::int64_t improve_iteration_limit_ = 0;
  bool stop_at_first_solution_ = false;
  // Before an improvement on a small instance: how many more states the search may expand once it
  // has its first solution (0: it ends with the pass that found it), and the expansion count at
  // which it ends (-1: none set).
  std::int64_t follow_up_expansions_ = 0;
  std::int64_t expansion_cap_ = -1;
  Stopwatch clock_;
  std::int64_t improve_moves_ = 0;
  std::int64_t improve_iterations_done_ = 0;

  // Per-search working data: point count, reused state buffers.
  std::uint64_t num_points_ = 0;
  SearchState cur_;
  SearchState child_;
  SearchState scratch_;
};

}  // namespace plenro
