#include "plenro/improve/improvement_engine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <sstream>
#include <utility>

#include "plenro/improve/adaptive_choice.h"
#include "plenro/improve/candidate_lists.h"
#include "plenro/improve/construction.h"
#include "plenro/improve/cost_evaluator.h"
#include "plenro/improve/insertion.h"
#include "plenro/improve/local_search.h"
#include "plenro/improve/random_source.h"
#include "plenro/improve/routing_instance.h"
#include "plenro/improve/ruin_recreate.h"
#include "plenro/improve/solution.h"
#include "plenro/instance/route_evaluation.h"
#include "plenro/model/objective.h"

namespace plenro {

namespace {

// Granularity: candidates per point, fewer on large instances, and fewer with loads but
// without windows or route limits (capacitated routing), where SWAP* (LocalSearch) finds what
// the longer lists would and the descents' time is better spent on more iterations (hybrid
// genetic search uses 20 too).
constexpr std::int32_t kCandidates = 40;
constexpr std::int32_t kCandidatesLarge = 25;
constexpr std::int32_t kCandidatesCapacitated = 20;
constexpr std::int32_t kLargeInstance = 500;

std::int32_t CandidatesFor(const RoutingInstance& instance) {
  const auto points = static_cast<std::int32_t>(instance.customers().size());
  const std::int32_t k = points > kLargeInstance ? kCandidatesLarge : kCandidates;
  return instance.loaded() && !instance.timed() ? std::min(k, kCandidatesCapacitated) : k;
}
// Insertion tries only the places near a point's candidates above this many points.
constexpr std::int32_t kGranularInsertionAbove = 300;
// Ruin: average points removed, longest string, blink rate.
constexpr double kAverageRemoved = 10.0;
constexpr std::int32_t kMaxString = 10;
constexpr double kBlinkRate = 0.01;
// The ruins the engine chooses from, adaptively: string removals of half, once and twice the
// average size, random removals of up to twice the average, and (MinMax only, as the last
// option) string removals around a point of the longest route, which only moves that shorten it
// can improve.
enum Ruin : std::int32_t {
  kSmallStrings,
  kStrings,
  kLargeStrings,
  kRandomPoints,
  kLongestRoute,
  kRuins
};
constexpr double kRuinScale[kRuins] = {0.5, 1.0, 2.0, 1.0, 1.0};
// The adaptive choice's segment (uses between weight updates), reaction factor and floor.
constexpr std::int32_t kRuinSegment = 100;
constexpr double kRuinReaction = 0.1;
constexpr double kRuinFloor = 0.1;
// The current solution goes back to the best one after this many iterations per point to
// serve without a new best (at least the floor), and, while the best is feasible, after this
// many adaptation windows in a row with an infeasible current solution.
constexpr std::int64_t kRestartPerPoint = 20;
constexpr std::int64_t kRestartFloor = 2000;
constexpr std::int64_t kInfeasibleWindows = 10;
// Annealing temperatures, in units of the average leg of the first solution.
constexpr double kStartTemperature = 10.0;
constexpr double kEndTemperature = 0.03;
// Penalties: the weights at the start and during construction, their adaptation window and
// factors, the share of candidates without violations they aim at, and their range.
constexpr double kStartWeight = 100.0;
constexpr double kConstructionWeight = 100.0;
// The adaptation window: 100 iterations, fewer on large instances (whose iterations are slower),
// at least 10.
constexpr std::int64_t kAdaptEvery = 100;
constexpr std::int64_t kAdaptPoints = 20000;
constexpr std::int64_t kAdaptAtLeast = 10;
constexpr double kRaise = 1.25;
constexpr double kLower = 0.85;
constexpr double kTargetFeasible = 0.3;
constexpr double kMinWeight = 0.1;
constexpr double kMaxWeight = 1e6;
// Share of infeasible candidates that get a repair: a descent with the weights raised tenfold.
constexpr double kRepairShare = 0.5;
constexpr double kRepairFactor = 10.0;
// Share of string removals that start at a point where the current solution breaks a window or a
// limit, while it does.
constexpr double kTargetedRuinShare = 0.5;
// Without an iteration limit, a run ends when its best solution has not improved for this many
// iterations per point to serve, and at least the floor.
constexpr std::int64_t kStagnationPerPoint = 500;
constexpr std::int64_t kStagnationFloor = 20000;
// A shortfall names this many offenders of each kind and counts the rest.
constexpr std::size_t kNamedOffenders = 3;
// The local search reads the clock once per this many points.
constexpr std::int64_t kPollStride = 16;

// How late the route reaches its p-th point (the time warp that point adds), the route leaving
// its start at time 0.
double LateBy(const PlannedRoute& route, std::int32_t p) {
  double before = 0.0;
  double after = 0.0;
  route.prefix[static_cast<std::size_t>(p - 1)].time.ArrivalFrom(0.0, before);
  route.prefix[static_cast<std::size_t>(p)].time.ArrivalFrom(0.0, after);
  return after - before;
}

}  // namespace

class ImprovementEngine::Impl {
 public:
  Impl(const InstanceView& view, ObjectiveType objective)
      : instance_(view),
        objective_(objective),
        evaluator_(instance_, objective),
        candidates_(instance_, CandidatesFor(instance_)),
        inserter_(instance_, candidates_, kGranularInsertionAbove),
        search_(instance_, candidates_),
        ruin_(instance_, candidates_, inserter_),
        construction_(instance_, candidates_, inserter_),
        route_evaluation_(view),
        ruins_(objective == MinMax ? kRuins : kRuins - 1, kRuinSegment, kRuinReaction, kRuinFloor),
        current_(instance_, evaluator_),
        candidate_(instance_, evaluator_),
        best_(instance_, evaluator_),
        mend_(instance_, evaluator_) {
    const std::vector<OrderLink>& orders = view.orders();
    for (std::size_t k = 0; k < orders.size(); ++k) {
      if (orders[k].kind == LinkKind::kPrecedence) {
        precedences_.push_back(k);
      }
    }
  }

  ImproveOutcome Run(const RoutePlan* initial, const ImproveSettings& settings,
                     const Stopwatch& clock, const RunControl& control, const Listener& listener);

 private:
  bool Stop();
  bool StopSometimes() { return (++polls_ % kPollStride) == 0 ? Stop() : stopped_; }
  // The weight of the key's second figure where the search needs one number (see
  // CostEvaluator::Scalar): under MinMax the sum counts as the average route, under MinSum the
  // longest route does not count.
  double TieWeight(ObjectiveType objective) const {
    return objective == MinMax ? 1.0 / std::max(1, instance_.num_agents()) : 0.0;
  }
  // The best objective value so far, NaN before the first solution.
  double BestValue() const;
  // The best solution so far, null before the first.
  const RoutePlan* BestPlan() const { return outcome_.found ? &outcome_.best : nullptr; }
  void Load(const RoutePlan& plan);
  RoutePlan Export(const Solution& s) const;
  bool OfferPlan(RoutePlan plan, bool announce);
  // Offers s as a new best solution; true when it is one (best_ then holds it).
  bool Offer(const Solution& s);
  // Where s keeps every rule but an order across two routes: moves the points of the orders it
  // breaks onto one route and offers the result.
  bool MendOrdersAcross(const Solution& s);
  // From now on the search climbs the instance's own objective (see Run).
  void EndBalancing();
  // The current solution back to the best one.
  void Restart();
  // Raises the weight of each kind of violation that fewer than the target share of the `seen`
  // candidates were free of (met[kind]), and lowers the others.
  void AdaptWeights(const std::array<std::int64_t, kViolationKinds>& met, std::int64_t seen);
  void Anneal();
  void Repair(Solution& s);
  // The points where s breaks a window, a limit or a connection.
  void CollectViolations(const Solution& s, std::vector<std::int32_t>& out) const;
  // How much later than allowed s starts service at the firsts of the precedences it splits over
  // two routes, summed over them (0 when it keeps them all); the points of those it breaks go
  // to `out` when given.
  double OrderLateness(const Solution& s, std::vector<std::int32_t>* out);
  // What keeps s from being a solution, in words.
  std::string DescribeShortfall(const Solution& s) const;
  // A descent after the points `moved` changed place: from them and what they touch, so that
  // it costs in proportion to the change.
  void Descend(Solution& s, const std::vector<std::int32_t>& moved);

  RoutingInstance instance_;
  ObjectiveType objective_;  // the instance's; the evaluator's may differ for a while
  CostEvaluator evaluator_;
  CandidateLists candidates_;
  Inserter inserter_;
  LocalSearch search_;
  RuinRecreate ruin_;
  RegretConstruction construction_;
  // The shared route evaluation: every route the engine returns passes it, at its cost.
  RouteEvaluator route_evaluation_;
  RandomSource random_;
  AdaptiveChoice ruins_;
  Solution current_;
  Solution candidate_;
  Solution best_;            // the best solution found, as the engine holds it
  Solution mend_;            // scratch of MendOrdersAcross
  std::string order_break_;  // the last order across routes that kept a solution out
  // The precedences (indices into the orders), which only a whole schedule can judge across
  // routes; the search prices their lateness with a weight of its own.
  std::vector<std::size_t> precedences_;
  double order_weight_ = kStartWeight;
  std::vector<double> starts_;             // scratch of OrderLateness: service start per point
  std::vector<Route> routes_;              // scratch of OrderLateness
  std::vector<std::int32_t> mend_points_;  // scratch of MendOrdersAcross
  bool has_best_ = false;                  // best_ holds one
  bool balancing_ = false;                 // climbing the balanced key until a first solution

  ImproveSettings settings_;
  const Stopwatch* clock_ = nullptr;
  const RunControl* control_ = nullptr;
  Listener listener_;
  ProgressPacer pacer_;
  double start_ = 0.0;
  std::int64_t polls_ = 0;
  bool stopped_ = false;
  ImproveOutcome outcome_;
  ObjectiveKey best_key_;
  std::int64_t best_iteration_ = 0;  // the iteration that found the best solution
  std::int64_t restarted_at_ = 0;    // the iteration of the last restart
  std::vector<std::int32_t> visits_;
  std::vector<std::int32_t> repair_seeds_;
};

bool ImprovementEngine::Impl::Stop() {
  if (stopped_) {
    return true;
  }
  const double now = clock_->Elapsed();
  if (now >= settings_.time_limit) {
    stopped_ = true;
    outcome_.out_of_time = true;
    return true;
  }
  if (control_->StopRequested()) {
    stopped_ = true;
    outcome_.interrupted = true;
    return true;
  }
  pacer_.Tick(now, outcome_.iterations, BestValue(), BestPlan());
  return false;
}

double ImprovementEngine::Impl::BestValue() const {
  return outcome_.found ? ObjectiveValue(objective_, TotalsOf(outcome_.best.costs))
                        : std::numeric_limits<double>::quiet_NaN();
}

void ImprovementEngine::Impl::Load(const RoutePlan& plan) {
  std::vector<char> seen(static_cast<std::size_t>(instance_.num_vertices()), 0);
  for (std::int32_t r = 0; r < current_.num_routes(); ++r) {
    visits_.clear();
    if (static_cast<std::size_t>(r) < plan.routes.size()) {
      const std::vector<std::int64_t>& route = plan.routes[static_cast<std::size_t>(r)];
      for (std::size_t i = 1; i + 1 < route.size(); ++i) {
        const std::int64_t v = route[i];
        if (v >= 0 && v < instance_.num_vertices() &&
            instance_.IsCustomer(static_cast<std::int32_t>(v)) &&
            seen[static_cast<std::size_t>(v)] == 0 &&
            instance_.Serves(current_.route(r).type, static_cast<std::int32_t>(v))) {
          seen[static_cast<std::size_t>(v)] = 1;
          visits_.push_back(static_cast<std::int32_t>(v));
        }
      }
    }
    current_.SetVisits(r, visits_);
  }
}

RoutePlan ImprovementEngine::Impl::Export(const Solution& s) const {
  RoutePlan plan;
  plan.routes.resize(static_cast<std::size_t>(s.num_routes()));
  plan.costs.resize(static_cast<std::size_t>(s.num_routes()));
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& route = s.route(r);
    const PlannedAgent& agent = instance_.agent(r);
    std::vector<std::int64_t>& out = plan.routes[static_cast<std::size_t>(r)];
    out.reserve(static_cast<std::size_t>(route.size()) + 2);
    out.push_back(agent.start);
    out.insert(out.end(), route.visits.begin(), route.visits.end());
    out.push_back(route.cost.ends_at_start ? agent.start : agent.goal);
    plan.costs[static_cast<std::size_t>(r)] = route.cost.cost;
  }
  return plan;
}

bool ImprovementEngine::Impl::OfferPlan(RoutePlan plan, bool announce) {
  // Every point served exactly once, and every route accepted by the shared evaluation, whose
  // costs are the ones reported.
  std::vector<std::int32_t> served(static_cast<std::size_t>(instance_.num_vertices()), 0);
  for (std::size_t r = 0; r < plan.routes.size(); ++r) {
    const std::vector<std::int64_t>& route = plan.routes[r];
    for (std::size_t i = 1; i + 1 < route.size(); ++i) {
      if (route[i] >= 0 && route[i] < instance_.num_vertices()) {
        ++served[static_cast<std::size_t>(route[i])];
      }
    }
    const RouteEvaluation check = route_evaluation_.Evaluate(route, r);
    if (!check.valid) {
      return false;
    }
    plan.costs[r] = check.cost;
  }
  for (const std::int32_t v : instance_.customers()) {
    if (served[static_cast<std::size_t>(v)] != 1) {
      return false;
    }
  }
  // Orders across routes, judged on the routes' schedules.
  if (instance_.linked() && route_evaluation_.BrokenAcross(plan.routes) >= 0) {
    order_break_ = route_evaluation_.OrdersAcross(plan.routes);
    return false;
  }
  const ObjectiveKey key = KeyOf(objective_, TotalsOf(plan.costs));
  if (outcome_.found && !Better(key, best_key_)) {
    return false;
  }
  best_key_ = key;
  best_iteration_ = outcome_.iterations;
  outcome_.found = true;
  outcome_.best = std::move(plan);
  outcome_.best_time = clock_->Elapsed();
  if (announce) {
    if (listener_) {
      listener_(outcome_.best, outcome_.best_time);
    }
    pacer_.Improved(outcome_.best_time, outcome_.iterations, BestValue(), &outcome_.best);
  }
  return true;
}

bool ImprovementEngine::Impl::Offer(const Solution& s) {
  if (!s.Feasible()) {
    return false;
  }
  if (outcome_.found && !Better(KeyOf(objective_, s.CostTotals()), best_key_)) {
    return false;
  }
  if (!OfferPlan(Export(s), true)) {
    return instance_.linked() && MendOrdersAcross(s);
  }
  best_ = s;
  has_best_ = true;
  return true;
}

bool ImprovementEngine::Impl::MendOrdersAcross(const Solution& s) {
  // A precedence whose two points are on different routes and served in the wrong order: one of
  // its points moves to every place on either of the two routes (its second later on its own
  // route or behind the first on the first's, its first earlier on its own route or ahead of
  // the second on the second's), and the move that keeps every route's rules with the least
  // lateness left (then the best key) is taken; a few rounds, until none is left.
  constexpr int kMends = 4;
  if (precedences_.empty()) {
    return false;
  }
  mend_ = s;
  std::vector<std::int32_t> one(1);  // the point that moves, as Remove takes it
  double late = OrderLateness(mend_, &mend_points_);
  if (late <= 0.0) {
    return false;  // something else refused it
  }
  for (int round = 0; round < kMends && late > 0.0; ++round) {
    const std::vector<std::int32_t> broken = mend_points_;
    double best_late = late;
    ObjectiveKey best_key;
    std::int32_t best_point = -1;
    std::int32_t best_route = -1;
    std::int32_t best_after = 0;
    for (std::size_t i = 0; i < broken.size(); i += 2) {
      const std::array<std::int32_t, 2> routes = {mend_.RouteOf(broken[i]),
                                                  mend_.RouteOf(broken[i + 1])};
      for (const std::int32_t mover : {broken[i], broken[i + 1]}) {
        const std::int32_t home = mend_.RouteOf(mover);
        const std::int32_t home_after = mend_.PositionOf(mover) - 1;
        one[0] = mover;
        mend_.Remove(one);
        for (const std::int32_t r : routes) {
          if (!instance_.Serves(mend_.route(r).type, mover)) {
            continue;
          }
          for (std::int32_t after = 0; after <= mend_.route(r).size(); ++after) {
            if (r == home && after == home_after) {
              continue;  // where it was
            }
            mend_.Insert(mover, r, after);
            if (mend_.Feasible()) {
              const double left = OrderLateness(mend_, nullptr);
              const ObjectiveKey key = mend_.Key();
              if (left < best_late - RouteCost::kTolerance ||
                  (best_point >= 0 && left <= best_late + RouteCost::kTolerance &&
                   Better(key, best_key))) {
                best_late = left;
                best_key = key;
                best_point = mover;
                best_route = r;
                best_after = after;
              }
            }
            mend_.Remove(one);
          }
        }
        mend_.Insert(mover, home, home_after);
      }
    }
    if (best_point < 0) {
      return false;
    }
    one[0] = best_point;
    mend_.Remove(one);
    mend_.Insert(best_point, best_route, best_after);
    late = OrderLateness(mend_, &mend_points_);
  }
  if (late > 0.0) {
    return false;
  }
  if (outcome_.found && !Better(KeyOf(objective_, mend_.CostTotals()), best_key_)) {
    return false;
  }
  if (OfferPlan(Export(mend_), true)) {
    best_ = mend_;
    has_best_ = true;
    return true;
  }
  return false;
}

void ImprovementEngine::Impl::EndBalancing() {
  balancing_ = false;
  evaluator_.SetObjective(objective_);
  evaluator_.SetTieWeight(TieWeight(objective_));
  current_.Refresh();
}

void ImprovementEngine::Impl::Restart() {
  current_ = best_;
  current_.Refresh();
  restarted_at_ = outcome_.iterations;
}

void ImprovementEngine::Impl::Descend(Solution& s, const std::vector<std::int32_t>& moved) {
  search_.Run(s, moved, random_, [this] { return StopSometimes(); });
}

void ImprovementEngine::Impl::CollectViolations(const Solution& s,
                                                std::vector<std::int32_t>& out) const {
  // The points where a route comes too late (its time warp grows), and the whole of routes
  // over their limit or with a leg without a connection.
  out.clear();
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& route = s.route(r);
    if (route.cost.feasible()) {
      continue;
    }
    const bool whole =
        !route.cost.Meets(kOverLength) || !route.cost.Meets(kOverCapacity) || route.cost.broken > 0;
    for (std::int32_t p = 1; p <= route.size(); ++p) {
      if (whole || LateBy(route, p) > RouteCost::kTolerance) {
        out.push_back(route.At(p));
      }
    }
  }
}

double ImprovementEngine::Impl::OrderLateness(const Solution& s, std::vector<std::int32_t>* out) {
  if (out != nullptr) {
    out->clear();
  }
  if (precedences_.empty()) {
    return 0.0;
  }
  starts_.assign(static_cast<std::size_t>(instance_.num_vertices()), 0.0);
  routes_.resize(static_cast<std::size_t>(s.num_routes()));
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& route = s.route(r);
    if (route.empty()) {
      continue;
    }
    Route& path = routes_[static_cast<std::size_t>(r)];
    const PlannedAgent& agent = instance_.agent(r);
    path.clear();
    path.push_back(agent.start);
    path.insert(path.end(), route.visits.begin(), route.visits.end());
    path.push_back(route.cost.ends_at_start ? agent.start : agent.goal);
    const std::vector<plenro::Stop> stops =
        route_evaluation_.Schedule(path, static_cast<std::uint64_t>(r));
    for (std::size_t i = 1; i + 1 < path.size(); ++i) {
      starts_[static_cast<std::size_t>(path[i])] = stops[i].start;
    }
  }
  double late = 0.0;
  for (const std::size_t k : precedences_) {
    const OrderLink& link = instance_.view().orders()[k];
    const auto first = static_cast<std::int32_t>(link.first);
    const auto second = static_cast<std::int32_t>(link.second);
    const std::int32_t a = s.RouteOf(first);
    const std::int32_t b = s.RouteOf(second);
    if (a < 0 || b < 0 || a == b) {
      continue;  // one route's own rules judge it
    }
    const double by =
        starts_[static_cast<std::size_t>(first)] - starts_[static_cast<std::size_t>(second)];
    if (by > RouteCost::kTolerance) {
      late += by;
      if (out != nullptr) {
        out->push_back(first);
        out->push_back(second);
      }
    }
  }
  return late;
}

std::string ImprovementEngine::Impl::DescribeShortfall(const Solution& s) const {
  std::vector<std::string> late;
  std::vector<std::string> over;
  std::vector<std::string> overloaded;
  std::int32_t broken = 0;
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    const PlannedRoute& route = s.route(r);
    for (std::int32_t p = 1; p <= route.size(); ++p) {
      const double by = LateBy(route, p);
      if (by > RouteCost::kTolerance) {
        std::ostringstream text;
        text << instance_.DescribePoint(route.At(p)) << " by " << by;
        late.push_back(text.str());
      }
    }
    if (!route.cost.Meets(kOverLength)) {
      std::ostringstream text;
      text << instance_.DescribeAgent(r) << " by " << route.cost.violation[kOverLength];
      over.push_back(text.str());
    }
    if (!route.cost.Meets(kOverCapacity)) {
      std::ostringstream text;
      text << instance_.DescribeAgent(r) << " by " << route.cost.violation[kOverCapacity];
      overloaded.push_back(text.str());
    }
    broken += route.cost.broken;
  }
  const auto list = [](const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < std::min(items.size(), kNamedOffenders); ++i) {
      out += (i == 0 ? "" : ", ") + items[i];
    }
    if (items.size() > kNamedOffenders) {
      out += " and " + std::to_string(items.size() - kNamedOffenders) + " more";
    }
    return out;
  };
  std::vector<std::string> faults;
  if (s.num_unassigned() > 0) {
    faults.push_back("leave " + std::to_string(s.num_unassigned()) + " points unserved");
  }
  if (!late.empty()) {
    faults.push_back("arrive after the window closes at " + std::to_string(late.size()) +
                     (late.size() == 1 ? " point (" : " points (") + list(late) + ")");
  }
  if (!over.empty()) {
    faults.push_back("run over the route limit of " + std::to_string(over.size()) +
                     (over.size() == 1 ? " agent (" : " agents (") + list(over) + ")");
  }
  if (!overloaded.empty()) {
    faults.push_back("load over the capacity of " + std::to_string(overloaded.size()) +
                     (overloaded.size() == 1 ? " agent (" : " agents (") + list(overloaded) + ")");
  }
  if (faults.empty() && s.num_unassigned() == 0 && !order_break_.empty()) {
    faults.push_back("break an order across routes (" + order_break_ + ")");
  }
  if (broken > 0) {
    faults.push_back("travel " + std::to_string(broken) + (broken == 1 ? " leg" : " legs") +
                     " without a connection");
  }
  std::string text = "no solution found within the limit";
  for (std::size_t i = 0; i < faults.size(); ++i) {
    text += (i == 0                   ? ": the closest routes found "
             : i + 1 == faults.size() ? " and "
                                      : ", ") +
            faults[i];
  }
  return text;
}

void ImprovementEngine::Impl::Repair(Solution& s) {
  const PenaltyWeights weights = evaluator_.weights();
  PenaltyWeights raised = weights;
  for (double& weight : raised) {
    weight *= kRepairFactor;
  }
  evaluator_.SetWeights(raised);
  s.Refresh();
  CollectViolations(s, repair_seeds_);
  Descend(s, repair_seeds_);
  Offer(s);
  evaluator_.SetWeights(weights);
  s.Refresh();
}

void ImprovementEngine::Impl::AdaptWeights(const std::array<std::int64_t, kViolationKinds>& met,
                                           std::int64_t seen) {
  PenaltyWeights weights = evaluator_.weights();
  for (std::size_t k = 0; k < kViolationKinds; ++k) {
    const double share = static_cast<double>(met[k]) / static_cast<double>(seen);
    weights[k] *= share < kTargetFeasible ? kRaise : kLower;
    weights[k] = std::clamp(weights[k], kMinWeight, kMaxWeight);
  }
  evaluator_.SetWeights(weights);
  current_.Refresh();
}

ImproveOutcome ImprovementEngine::Impl::Run(const RoutePlan* initial,
                                            const ImproveSettings& settings, const Stopwatch& clock,
                                            const RunControl& control, const Listener& listener) {
  settings_ = settings;
  clock_ = &clock;
  control_ = &control;
  listener_ = listener;
  outcome_ = ImproveOutcome{};
  order_break_.clear();
  best_iteration_ = 0;
  restarted_at_ = 0;
  has_best_ = false;
  ruins_.Reset();
  stopped_ = false;
  polls_ = 0;
  random_.Seed(settings.seed);
  start_ = clock.Elapsed();
  pacer_ = ProgressPacer(&control, SolvePhase::kConstruction);

  outcome_.unservable = RegretConstruction::Unservable(instance_);
  if (!outcome_.unservable.empty()) {
    return std::move(outcome_);
  }
  const bool initial_kept = initial != nullptr && OfferPlan(*initial, false);

  // Under MinSum, windows and route limits are met far more easily by routes of even length
  // than by the few long ones the sum favours: until a first solution exists, the search climbs
  // the balanced key (the longest route, then the sum) and switches to the sum once it has one.
  balancing_ = objective_ == MinSum && instance_.timed() && !outcome_.found;
  evaluator_.SetObjective(balancing_ ? MinMax : objective_);
  evaluator_.SetTieWeight(TieWeight(evaluator_.objective()));
  evaluator_.SetWeights(UniformWeights(kConstructionWeight));
  current_ = Solution(instance_, evaluator_);
  if (initial != nullptr) {
    Load(*initial);
  }
  current_.Refresh();
  if (initial_kept && current_.num_unassigned() == 0) {
    best_ = current_;  // the solution handed over, for restarts
    has_best_ = true;
  }
  if (!construction_.Run(current_, [this] { return Stop(); })) {
    if (!outcome_.found) {
      outcome_.shortfall =
          "no solution found within the limit: it ended while the first "
          "routes were built, with " +
          std::to_string(current_.num_unassigned()) + " of " +
          std::to_string(instance_.customers().size()) + " points not placed";
    }
    return std::move(outcome_);
  }
  pacer_ = ProgressPacer(&control, SolvePhase::kImprovement);
  evaluator_.SetWeights(UniformWeights(kStartWeight));
  current_.Refresh();
  Descend(current_, instance_.customers());
  Offer(current_);
  if (settings.construct_only) {
    if (!outcome_.found && instance_.priced() && current_.num_unassigned() == 0) {
      Repair(current_);
    }
  } else {
    Anneal();
  }
  pacer_.Flush(clock_->Elapsed(), outcome_.iterations, BestValue(), BestPlan());
  if (!outcome_.found) {
    outcome_.shortfall = DescribeShortfall(current_);
  }
  outcome_.moves_evaluated = search_.moves_evaluated() + inserter_.evaluated();
  return std::move(outcome_);
}

void ImprovementEngine::Impl::Anneal() {
  // Penalty weights matter only where windows, route limits or capacities can be violated.
  const bool adapt = instance_.priced();

  const double legs = static_cast<double>(instance_.customers().size()) +
                      static_cast<double>(current_.num_routes());
  const double scale = std::max(current_.CostTotals().sum / std::max(legs, 1.0), 1e-9);
  const double hot = kStartTemperature * scale;
  const double cold = kEndTemperature * scale;
  const double budget = std::max(settings_.time_limit - start_, 1e-9);
  const auto customers = static_cast<double>(instance_.customers().size());
  const double average = std::min(kAverageRemoved, std::max(2.0, customers / 5.0));

  const auto points = static_cast<std::int64_t>(instance_.customers().size());
  const std::int64_t stagnation = std::max(kStagnationFloor, kStagnationPerPoint * points);
  const std::int64_t restart_after =
      std::max<std::int64_t>(kRestartFloor, kRestartPerPoint * points);
  const std::int64_t adapt_every = std::clamp<std::int64_t>(
      kAdaptPoints / std::max<std::int64_t>(1, static_cast<std::int64_t>(customers)), kAdaptAtLeast,
      kAdaptEvery);
  // Per adaptation window: candidates seen, and those free of each kind of violation.
  std::int64_t seen = 0;
  std::array<std::int64_t, kViolationKinds> met{};
  std::int64_t infeasible_since = -1;  // iteration since which the current is infeasible
  // Precedences split over two routes: their lateness, priced by a weight that adapts as the
  // others do, steers the acceptance.
  const bool ordered = !precedences_.empty();
  order_weight_ = kStartWeight;
  std::int64_t order_met = 0;
  double current_late = OrderLateness(current_, nullptr);
  while (!stopped_) {
    if (settings_.iteration_limit > 0 && outcome_.iterations >= settings_.iteration_limit) {
      break;
    }
    if (settings_.iteration_limit == 0 && outcome_.iterations - best_iteration_ >= stagnation) {
      break;
    }
    if (Stop()) {
      break;
    }
    const double progress = settings_.iteration_limit > 0
                                ? static_cast<double>(outcome_.iterations) /
                                      static_cast<double>(settings_.iteration_limit)
                                : std::min((clock_->Elapsed() - start_) / budget, 1.0);
    const double temperature = hot * std::pow(cold / hot, progress);
    if (balancing_ && outcome_.found) {
      EndBalancing();
    }
    // Back to the best solution after a long time without a new one, or (once a feasible one
    // exists) when the current one has stayed infeasible for long.
    if (has_best_ &&
        (outcome_.iterations - std::max(best_iteration_, restarted_at_) >= restart_after ||
         (infeasible_since >= 0 &&
          outcome_.iterations - infeasible_since >= kInfeasibleWindows * adapt_every))) {
      Restart();
      current_late = OrderLateness(current_, nullptr);
      infeasible_since = -1;
    }

    const std::int32_t ruin = ruins_.Pick(random_);
    const double size = average * kRuinScale[ruin];
    candidate_ = current_;
    if (ruin != kRandomPoints) {
      // While the current solution breaks a window or a limit, half the ruins start where.
      std::int32_t seed = -1;
      if (ruin == kLongestRoute) {
        // The longest route by its penalised value: under MinMax, the one the key scores.
        std::int32_t longest = 0;
        for (std::int32_t r = 1; r < current_.num_routes(); ++r) {
          if (current_.route(r).cost.penalised() > current_.route(longest).cost.penalised()) {
            longest = r;
          }
        }
        const PlannedRoute& route = current_.route(longest);
        if (!route.empty()) {
          seed = route.visits[random_.Below(route.visits.size())];
        }
      } else if (adapt && !current_.Feasible() && random_.Chance(kTargetedRuinShare)) {
        CollectViolations(current_, repair_seeds_);
        if (!repair_seeds_.empty()) {
          seed = repair_seeds_[random_.Below(repair_seeds_.size())];
        }
      } else if (current_late > 0.0 && random_.Chance(kTargetedRuinShare)) {
        OrderLateness(current_, &repair_seeds_);
        if (!repair_seeds_.empty()) {
          seed = repair_seeds_[random_.Below(repair_seeds_.size())];
        }
      }
      ruin_.RuinStrings(candidate_, random_, size, kMaxString, seed);
    } else {
      ruin_.RuinRandom(
          candidate_, random_,
          static_cast<std::int32_t>(random_.Between(1, static_cast<std::int64_t>(2 * size))));
    }
    ruin_.Recreate(candidate_, random_, kBlinkRate);
    Descend(candidate_, ruin_.removed());
    ++outcome_.iterations;
    bool new_best = Offer(candidate_);
    if (adapt && !candidate_.Feasible() && random_.Chance(kRepairShare)) {
      Repair(candidate_);
      new_best = new_best || best_iteration_ == outcome_.iterations;
    }

    if (adapt) {
      ++seen;
      for (std::size_t k = 0; k < kViolationKinds; ++k) {
        bool free = true;
        for (std::int32_t r = 0; r < candidate_.num_routes() && free; ++r) {
          free = candidate_.route(r).cost.Meets(static_cast<Violation>(k));
        }
        met[k] += free ? 1 : 0;
      }
    }

    const double candidate_late = ordered ? OrderLateness(candidate_, nullptr) : 0.0;
    if (ordered) {
      order_met += candidate_late > 0.0 ? 0 : 1;
    }
    const double before = evaluator_.Scalar(current_.Key()) + order_weight_ * current_late;
    const double after = evaluator_.Scalar(candidate_.Key()) + order_weight_ * candidate_late;
    const double threshold = before - temperature * std::log(1.0 - random_.Uniform());
    const bool accepted = after < threshold;
    if (accepted) {
      std::swap(current_, candidate_);
      current_late = candidate_late;
    }
    ruins_.Record(ruin, new_best         ? AdaptiveChoice::Outcome::kNewBest
                        : !accepted      ? AdaptiveChoice::Outcome::kRejected
                        : after < before ? AdaptiveChoice::Outcome::kImproved
                                         : AdaptiveChoice::Outcome::kAccepted);
    if (has_best_ && ((adapt && !current_.Feasible()) || current_late > 0.0)) {
      infeasible_since = infeasible_since < 0 ? outcome_.iterations : infeasible_since;
    } else {
      infeasible_since = -1;
    }
    if (adapt && seen == adapt_every) {
      AdaptWeights(met, seen);
      seen = 0;
      met.fill(0);
    }
    if (ordered && outcome_.iterations % adapt_every == 0) {
      const double share = static_cast<double>(order_met) / static_cast<double>(adapt_every);
      order_weight_ = std::clamp(order_weight_ * (share < kTargetFeasible ? kRaise : kLower),
                                 kMinWeight, kMaxWeight);
      order_met = 0;
    }
  }
}

ImprovementEngine::ImprovementEngine(const InstanceView& view, ObjectiveType objective)
    : impl_(std::make_unique<Impl>(view, objective)) {}

ImprovementEngine::~ImprovementEngine() = default;

ImproveOutcome ImprovementEngine::Run(const RoutePlan* initial, const ImproveSettings& settings,
                                      const Stopwatch& clock, const RunControl& control,
                                      const Listener& on_improvement) {
  return impl_->Run(initial, settings, clock, control, on_improvement);
}

}  // namespace plenro
