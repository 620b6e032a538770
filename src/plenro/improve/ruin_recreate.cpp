#include "plenro/improve/ruin_recreate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plenro {

RuinRecreate::RuinRecreate(const RoutingInstance& instance, const CandidateLists& candidates,
                           Inserter& inserter)
    : instance_(&instance), candidates_(&candidates), inserter_(&inserter) {
  const auto n = static_cast<std::size_t>(instance.num_vertices());
  is_removed_.assign(n, 0);
  route_ruined_.assign(static_cast<std::size_t>(instance.num_agents()), 0);
  depot_distance_.assign(n, std::numeric_limits<double>::infinity());
  for (const std::int32_t v : instance.customers()) {
    for (std::int32_t a = 0; a < instance.num_agents(); ++a) {
      const PlannedAgent& agent = instance.agent(a);
      if (instance.Serves(agent.type, v)) {
        depot_distance_[static_cast<std::size_t>(v)] =
            std::min(depot_distance_[static_cast<std::size_t>(v)], instance.Leg(agent.start, v, a));
      }
    }
  }
}

void RuinRecreate::RuinStrings(Solution& s, RandomSource& random, double average,
                               std::int32_t max_string, std::int32_t seed) {
  removed_.clear();
  const auto& customers = instance_->customers();
  const std::int32_t assigned = static_cast<std::int32_t>(customers.size()) - s.num_unassigned();
  std::int32_t used_routes = 0;
  for (std::int32_t r = 0; r < s.num_routes(); ++r) {
    used_routes += s.route(r).empty() ? 0 : 1;
  }
  if (assigned <= 0 || used_routes == 0) {
    return;
  }
  const double cardinality = static_cast<double>(assigned) / used_routes;
  const double longest = std::min<double>(max_string, cardinality);
  const double most_strings = std::max(4.0 * average / (1.0 + longest) - 1.0, 1.0);
  const auto strings = static_cast<std::int32_t>(1.0 + std::floor(random.Uniform() * most_strings));

  if (seed >= 0 && s.RouteOf(seed) < 0) {
    seed = -1;
  }
  while (seed < 0) {
    const std::int32_t v = customers[random.Below(customers.size())];
    seed = s.RouteOf(v) >= 0 ? v : -1;
  }
  std::fill(route_ruined_.begin(), route_ruined_.end(), 0);
  const auto near = candidates_->Near(s.route(s.RouteOf(seed)).type, seed);
  std::int32_t done = 0;
  for (std::size_t i = 0; i <= near.size() && done < strings; ++i) {
    const std::int32_t v = i == 0 ? seed : near[i - 1];
    const std::int32_t r = s.RouteOf(v);
    if (r < 0 || route_ruined_[static_cast<std::size_t>(r)] != 0 ||
        is_removed_[static_cast<std::size_t>(v)] != 0) {
      continue;
    }
    const double here = std::min<double>(s.route(r).size(), longest);
    const auto length = static_cast<std::int32_t>(1.0 + std::floor(random.Uniform() * here));
    RemoveString(s, random, r, v, length);
    route_ruined_[static_cast<std::size_t>(r)] = 1;
    ++done;
  }
  AddPartners(s);
  for (const std::int32_t v : removed_) {
    is_removed_[static_cast<std::size_t>(v)] = 0;
  }
  s.Remove(removed_);
}

void RuinRecreate::RemoveString(const Solution& s, RandomSource& random, std::int32_t r,
                                std::int32_t v, std::int32_t length) {
  const PlannedRoute& route = s.route(r);
  const std::int32_t size = route.size();
  const std::int32_t pos = s.PositionOf(v);
  // Half of the time a longer window keeps a block of points in its middle ("split string").
  std::int32_t kept = 0;
  if (length < size && random.Chance(0.5)) {
    kept = static_cast<std::int32_t>(random.Between(1, std::min(size - length, length)));
  }
  const std::int32_t window = length + kept;
  const std::int32_t first = static_cast<std::int32_t>(
      random.Between(std::max(1, pos - window + 1), std::min(pos, size - window + 1)));
  const std::int32_t kept_from = first + static_cast<std::int32_t>(random.Between(0, length));
  for (std::int32_t p = first; p < first + window; ++p) {
    if (kept > 0 && p >= kept_from && p < kept_from + kept) {
      continue;
    }
    const std::int32_t w = route.At(p);
    if (is_removed_[static_cast<std::size_t>(w)] == 0) {
      is_removed_[static_cast<std::size_t>(w)] = 1;
      removed_.push_back(w);
    }
  }
}

void RuinRecreate::AddPartners(const Solution& s) {
  if (!instance_->linked()) {
    return;
  }
  const std::size_t count = removed_.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::int32_t partner = instance_->Partner(removed_[i]);
    if (partner >= 0 && s.RouteOf(partner) >= 0 &&
        is_removed_[static_cast<std::size_t>(partner)] == 0) {
      is_removed_[static_cast<std::size_t>(partner)] = 1;
      removed_.push_back(partner);
    }
  }
}

void RuinRecreate::RuinRandom(Solution& s, RandomSource& random, std::int32_t count) {
  removed_.clear();
  const auto& customers = instance_->customers();
  const std::int32_t assigned = static_cast<std::int32_t>(customers.size()) - s.num_unassigned();
  count = std::min(count, assigned);
  while (static_cast<std::int32_t>(removed_.size()) < count) {
    const std::int32_t v = customers[random.Below(customers.size())];
    if (s.RouteOf(v) >= 0 && is_removed_[static_cast<std::size_t>(v)] == 0) {
      is_removed_[static_cast<std::size_t>(v)] = 1;
      removed_.push_back(v);
    }
  }
  AddPartners(s);
  for (const std::int32_t v : removed_) {
    is_removed_[static_cast<std::size_t>(v)] = 0;
  }
  s.Remove(removed_);
}

void RuinRecreate::SortForRecreate(RandomSource& random) {
  // Random order most of the time; otherwise far points first, near points first, or (with
  // windows) the earliest closing window first.
  const std::uint64_t pick = random.Below(instance_->view().has_windows() ? 9 : 7);
  const auto& distance = depot_distance_;
  if (pick < 4) {
    random.Shuffle(removed_);
  } else if (pick < 6) {
    std::stable_sort(removed_.begin(), removed_.end(), [&distance](std::int32_t a, std::int32_t b) {
      return distance[static_cast<std::size_t>(a)] > distance[static_cast<std::size_t>(b)];
    });
  } else if (pick < 7) {
    std::stable_sort(removed_.begin(), removed_.end(), [&distance](std::int32_t a, std::int32_t b) {
      return distance[static_cast<std::size_t>(a)] < distance[static_cast<std::size_t>(b)];
    });
  } else {
    const RoutingInstance& in = *instance_;
    std::stable_sort(removed_.begin(), removed_.end(), [&in](std::int32_t a, std::int32_t b) {
      return in.Single(a).time.latest < in.Single(b).time.latest;
    });
  }
}

void RuinRecreate::Recreate(Solution& s, RandomSource& random, double blink) {
  // Points that found no place earlier (orders can leave one out) get another chance.
  if (static_cast<std::size_t>(s.num_unassigned()) > removed_.size()) {
    for (const std::int32_t v : removed_) {
      is_removed_[static_cast<std::size_t>(v)] = 1;
    }
    for (const std::int32_t v : instance_->customers()) {
      if (s.RouteOf(v) < 0 && is_removed_[static_cast<std::size_t>(v)] == 0) {
        removed_.push_back(v);
      }
    }
    for (const std::int32_t v : removed_) {
      is_removed_[static_cast<std::size_t>(v)] = 0;
    }
  }
  SortForRecreate(random);
  for (const std::int32_t v : removed_) {
    if (s.RouteOf(v) >= 0) {
      continue;  // placed with its partner
    }
    const std::int32_t partner = instance_->Partner(v);
    if (partner >= 0 && s.RouteOf(partner) < 0 && InsertPair(s, v, partner, &random, blink)) {
      continue;
    }
    Placement place = inserter_->Best(s, v, &random, blink);
    if (!place.found()) {
      place = inserter_->Best(s, v, nullptr, 0.0);
    }
    if (place.found()) {
      s.Insert(v, place.route, place.after);
    }
  }
}

bool RuinRecreate::InsertPair(Solution& s, std::int32_t v, std::int32_t partner,
                              RandomSource* random, double blink) {
  const bool v_first = instance_->PartnerFirst(v);
  const std::int32_t first = v_first ? v : partner;
  const std::int32_t second = v_first ? partner : v;
  std::int32_t second_after = 0;
  Placement place = inserter_->BestPair(s, first, second, second_after, random, blink);
  if (!place.found() && random != nullptr) {
    place = inserter_->BestPair(s, first, second, second_after, nullptr, 0.0);
  }
  if (!place.found()) {
    return false;
  }
  s.Insert(first, place.route, place.after);
  s.Insert(second, place.route, second_after + 1);
  return true;
}

}  // namespace plenro
