#include "plenro/improve/swap_star.h"

#include <algorithm>
#include <limits>

namespace plenro {

namespace {

constexpr double kNone = std::numeric_limits<double>::infinity();
// A scored exchange must gain more than this to be priced.
constexpr double kLeast = 1e-9;

// The point at position p of route R (0: its start, size() + 1: its end).
std::int32_t PointAt(const PlannedRoute& R, const PlannedAgent& agent, std::int32_t p) {
  if (p == 0) {
    return agent.start;
  }
  return p > R.size() ? agent.goal : R.At(p);
}

}  // namespace

void SwapStar::Places::Reset() {
  cost.fill(kNone);
  after.fill(-1);
}

void SwapStar::Places::Offer(double c, std::int32_t p) {
  if (c >= cost[2]) {
    return;
  }
  std::size_t k = 2;
  while (k > 0 && c < cost[k - 1]) {
    cost[k] = cost[k - 1];
    after[k] = after[k - 1];
    --k;
  }
  cost[k] = c;
  after[k] = p;
}

SwapStar::SwapStar(const RoutingInstance& instance) : instance_(&instance) {}

bool SwapStar::Applies(const RoutingInstance& instance, ObjectiveType objective) {
  return objective == MinSum && instance.loaded() && !instance.timed() && !instance.linked();
}

void SwapStar::Prepare(const Solution& s, std::int32_t from, std::int32_t into,
                       std::vector<double>& gain, std::vector<Places>& places) const {
  const RoutingInstance& in = *instance_;
  const PlannedRoute& F = s.route(from);
  const PlannedRoute& I = s.route(into);
  const PlannedAgent& fa = in.agent(F.agent);
  const PlannedAgent& ia = in.agent(I.agent);
  gain.resize(static_cast<std::size_t>(F.size()));
  places.resize(static_cast<std::size_t>(F.size()));
  for (std::int32_t p = 1; p <= F.size(); ++p) {
    const std::int32_t u = F.At(p);
    const std::int32_t before = PointAt(F, fa, p - 1);
    const std::int32_t after = PointAt(F, fa, p + 1);
    gain[static_cast<std::size_t>(p - 1)] =
        in.Leg(before, u, F.agent) + in.Leg(u, after, F.agent) - in.Leg(before, after, F.agent);
    Places& here = places[static_cast<std::size_t>(p - 1)];
    here.Reset();
    if (!in.Serves(I.type, u)) {
      continue;
    }
    for (std::int32_t q = 0; q <= I.size(); ++q) {
      const std::int32_t x = PointAt(I, ia, q);
      const std::int32_t y = PointAt(I, ia, q + 1);
      here.Offer(in.Leg(x, u, I.agent) + in.Leg(u, y, I.agent) - in.Leg(x, y, I.agent), q);
    }
  }
}

double SwapStar::InsertWithout(const Solution& s, std::int32_t from, std::int32_t p,
                               std::int32_t into, std::int32_t q, const Places& places,
                               std::int32_t& after) const {
  const RoutingInstance& in = *instance_;
  const PlannedRoute& I = s.route(into);
  const PlannedAgent& ia = in.agent(I.agent);
  const std::int32_t u = s.route(from).At(p);
  const std::int32_t x = PointAt(I, ia, q - 1);
  const std::int32_t y = PointAt(I, ia, q + 1);
  double best = in.Leg(x, u, I.agent) + in.Leg(u, y, I.agent) - in.Leg(x, y, I.agent);
  after = -1;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::int32_t place = places.after[k];
    if (place < 0) {
      break;
    }
    if (place != q - 1 && place != q) {
      if (places.cost[k] < best) {
        best = places.cost[k];
        after = place;
      }
      break;
    }
  }
  return best;
}

double SwapStar::OverWith(const Solution& s, std::int32_t r, std::int32_t out,
                          std::int32_t in) const {
  const RoutingInstance& instance = *instance_;
  const PlannedRoute& R = s.route(r);
  const LoadSegment& route = R.prefix[static_cast<std::size_t>(R.size())].load;
  const LoadSegment& leaving = instance.Single(out).load;
  const LoadSegment& joining = instance.Single(in).load;
  const PlannedAgent& agent = instance.agent(R.agent);
  double over = 0.0;
  const std::size_t dims = std::max({route.dims, leaving.dims, joining.dims});
  for (std::size_t d = 0; d < dims; ++d) {
    const double load = static_cast<double>(route.delivery[d]) -
                        static_cast<double>(leaving.delivery[d]) +
                        static_cast<double>(joining.delivery[d]);
    over += std::max(load - agent.capacity[d], 0.0);
  }
  return over;
}

void SwapStar::Rebuilt(const Solution& s, std::int32_t r, std::int32_t p, std::int32_t in,
                       std::int32_t after, std::vector<std::int32_t>& out) const {
  const PlannedRoute& R = s.route(r);
  out.assign(R.visits.begin(), R.visits.end());
  if (after < 0) {
    out[static_cast<std::size_t>(p - 1)] = in;
    return;
  }
  out.erase(out.begin() + (p - 1));
  // Positions after p moved one down.
  const std::int32_t at = after > p ? after - 1 : after;
  out.insert(out.begin() + at, in);
}

RouteCost SwapStar::Price(const Solution& s, std::int32_t r,
                          const std::vector<std::int32_t>& visits) const {
  const RoutingInstance& in = *instance_;
  const std::int32_t agent = s.route(r).agent;
  RouteSummary body = in.Single(in.agent(agent).start);
  for (const std::int32_t w : visits) {
    body = in.Join(body, in.Single(w), agent);
  }
  return s.evaluator().Close(r, body);
}

bool SwapStar::Best(const Solution& s, std::int32_t a, std::int32_t b,
                    std::vector<std::int32_t>& first, std::vector<std::int32_t>& second,
                    RouteCost& ca, RouteCost& cb) {
  const PlannedRoute& A = s.route(a);
  const PlannedRoute& B = s.route(b);
  if (A.empty() || B.empty()) {
    return false;
  }
  Prepare(s, a, b, gain_a_, places_a_);
  Prepare(s, b, a, gain_b_, places_b_);
  const double weight = s.evaluator().weights()[kOverCapacity];
  const double over_a = A.cost.violation[kOverCapacity];
  const double over_b = B.cost.violation[kOverCapacity];
  const bool loaded = instance_->loaded();
  double best = -kLeast;
  std::int32_t best_p = -1;
  std::int32_t best_q = -1;
  std::int32_t u_after = -1;
  std::int32_t v_after = -1;
  for (std::int32_t p = 1; p <= A.size(); ++p) {
    const Places& u_places = places_a_[static_cast<std::size_t>(p - 1)];
    if (u_places.after[0] < 0) {
      continue;  // b's type may not serve u
    }
    const double u_gain = gain_a_[static_cast<std::size_t>(p - 1)];
    for (std::int32_t q = 1; q <= B.size(); ++q) {
      const Places& v_places = places_b_[static_cast<std::size_t>(q - 1)];
      if (v_places.after[0] < 0) {
        continue;
      }
      double delta = -u_gain - gain_b_[static_cast<std::size_t>(q - 1)];
      if (loaded) {
        delta += weight * (OverWith(s, a, A.At(p), B.At(q)) - over_a +
                           OverWith(s, b, B.At(q), A.At(p)) - over_b);
      }
      // Insertions cost at least nothing where the legs keep the triangle inequality.
      if (delta >= best) {
        continue;
      }
      std::int32_t into_b = -1;
      std::int32_t into_a = -1;
      delta += InsertWithout(s, a, p, b, q, u_places, into_b);
      if (delta >= best) {
        continue;
      }
      delta += InsertWithout(s, b, q, a, p, v_places, into_a);
      if (delta < best) {
        best = delta;
        best_p = p;
        best_q = q;
        u_after = into_b;
        v_after = into_a;
      }
    }
  }
  if (best_p < 0) {
    return false;
  }
  const std::int32_t u = A.At(best_p);
  const std::int32_t v = B.At(best_q);
  moved_ = {u, v};
  Rebuilt(s, a, best_p, v, v_after, first);
  Rebuilt(s, b, best_q, u, u_after, second);
  ca = Price(s, a, first);
  cb = Price(s, b, second);
  return true;
}

}  // namespace plenro
