#include "plenro/search/state_store.h"

#include <algorithm>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace plenro {

void StateStore::Reset(std::size_t num_agents) {
  if (num_agents > kMaxAgents) {
    std::ostringstream message;
    message << "the search handles at most " << kMaxAgents << " agents; got " << num_agents;
    throw std::invalid_argument(message.str());
  }
  num_agents_ = num_agents;
  const std::size_t raw = sizeof(VisitedSet) + 24 + num_agents * (sizeof(double) + 2);
  whole_stride_ = (raw + alignof(double) - 1) / alignof(double) * alignof(double);
  whole_count_ = 0;
  count_ = 0;
  capacity_ = 0;
  growth_step_ = kFirstGrowthStep;
  blocks_.clear();
  whole_blocks_.clear();
}

std::size_t StateStore::BytesPerState() const {
  const std::size_t raw = sizeof(Record) + (whole_stride_ + kMaxHops - 1) / kMaxHops;
  return (raw + alignof(double) - 1) / alignof(double) * alignof(double);
}

std::int64_t StateStore::NewStateId() {
  if (count_ >= kMaxStates) {
    throw std::length_error("the search's state store is full (2^31 - 1 states)");
  }
  const std::int64_t id = count_;
  ++count_;
  if (capacity_ >= count_) {
    return id;
  }
  capacity_ += growth_step_;
  // Zeroed blocks: a reserved slot reads as "not stored" with parent 0.
  while (static_cast<std::int64_t>(blocks_.size()) * kBlockSlots < capacity_) {
    blocks_.push_back(std::make_unique<Record[]>(static_cast<std::size_t>(kBlockSlots)));
  }
  if (growth_step_ < kGrowthCap) {
    growth_step_ *= 2;
  }
  return id;
}

std::uint8_t StateStore::CheckedPosition(std::int64_t id, std::size_t agent, std::int64_t p) {
  if (p < 0 || p >= kMaxPoints) {
    std::ostringstream message;
    message << "state " << id << ": agent " << agent << " stands at " << p
            << ", outside the points 0.." << kMaxPoints - 1;
    throw std::invalid_argument(message.str());
  }
  return static_cast<std::uint8_t>(p);
}

void StateStore::WriteWhole(Record& header, std::int64_t id, const SearchState& state) {
  // Check every position before anything is written.
  for (std::size_t i = 0; i < num_agents_; ++i) {
    CheckedPosition(id, i, state.positions[i]);
  }
  const std::uint32_t k = whole_count_;
  if ((k >> kBlockShift) >= whole_blocks_.size()) {
    whole_blocks_.push_back(
        std::make_unique<std::byte[]>(static_cast<std::size_t>(kBlockSlots) * whole_stride_));
  }
  ++whole_count_;
  VisitedOf(k) = state.visited;
  NumBitsOf(k) = state.num_bits;
  UnfinishedOf(k) = static_cast<std::int32_t>(state.unfinished);
  GhOf(k)[0] = state.g;
  GhOf(k)[1] = state.h;
  std::copy(state.costs.begin(), state.costs.end(), CostsOf(k));
  std::uint8_t* to = PositionsOf(k);
  for (std::size_t i = 0; i < num_agents_; ++i) {
    to[i] = static_cast<std::uint8_t>(state.positions[i]);
  }
  std::copy(state.finished.begin(), state.finished.end(), FinishedOf(k));
  header.set_whole(k);
  header.hops_and_flag = 1;
}

void StateStore::Store(std::int64_t id, const SearchState& state) {
  if (state.positions.size() != num_agents_ || state.costs.size() != num_agents_ ||
      state.finished.size() != num_agents_) {
    std::ostringstream message;
    message << "state store holds states of " << num_agents_ << " agents; state " << id << " has "
            << state.positions.size() << " positions, " << state.costs.size() << " costs and "
            << state.finished.size() << " finished flags";
    throw std::invalid_argument(message.str());
  }
  if (state.unfinished < 0 || state.unfinished > static_cast<std::int64_t>(kMaxAgents) ||
      state.last_agent > kMaxAgents) {
    std::ostringstream message;
    message << "state " << id << ": unfinished count " << state.unfinished << " or last agent "
            << state.last_agent << " outside 0.." << kMaxAgents;
    throw std::invalid_argument(message.str());
  }
  Record& header = Header(id);
  WriteWhole(header, id, state);
  header.position = 0;
  header.last_agent = static_cast<std::uint16_t>(state.last_agent);
}

void StateStore::StoreChild(std::int64_t id, std::int64_t parent, const SearchState& state,
                            std::int64_t parent_unfinished) {
  const Record& above = Header(parent);
  if (above.hops() == 0 || state.last_agent >= num_agents_ ||
      state.positions.size() != num_agents_ || state.costs.size() != num_agents_) {
    std::ostringstream message;
    message << "state " << id << " cannot be stored as a change of state " << parent
            << (above.hops() == 0 ? ", which holds nothing" : ": its last agent or size is wrong");
    throw std::invalid_argument(message.str());
  }
  if (parent_unfinished < 0) {
    parent_unfinished = Unfinished(parent);
  }
  const bool same_count = state.unfinished == parent_unfinished;
  if (above.hops() >= kMaxHops || (!same_count && state.unfinished != parent_unfinished - 1)) {
    Store(id, state);
    SetParent(id, parent);
    return;
  }
  const std::size_t a = state.last_agent;
  Record& header = Header(id);
  header.position = CheckedPosition(id, a, state.positions[a]);
  header.set_cost(state.costs[a]);
  header.set_parent(static_cast<std::int32_t>(parent));
  header.last_agent = static_cast<std::uint16_t>(a);
  header.hops_and_flag =
      static_cast<std::uint8_t>((above.hops() + 1) | (same_count ? 0 : Record::kEndsRoute));
}

void StateStore::Load(std::int64_t id, SearchState& out) const {
  const Record& header = Header(id);
  out.id = id;
  out.f = std::numeric_limits<double>::quiet_NaN();
  if (header.hops() == 0) {
    out.positions.clear();
    out.costs.clear();
    out.finished.clear();
    out.visited = VisitedSet{};
    out.num_bits = 0;
    out.h = out.g = 0.0;
    out.unfinished = 0;
    out.last_agent = 0;
    return;
  }
  chain_.clear();
  const Record* r = &header;
  while (r->hops() > 1) {
    chain_.push_back(r);
    r = &Header(r->parent());
  }
  const std::uint32_t k = r->whole();
  out.visited = VisitedOf(k);
  out.num_bits = NumBitsOf(k);
  const double* costs = CostsOf(k);
  out.costs.assign(costs, costs + num_agents_);
  const std::uint8_t* positions = PositionsOf(k);
  out.positions.assign(positions, positions + num_agents_);
  const char* finished = FinishedOf(k);
  out.finished.assign(finished, finished + num_agents_);
  // Replay the changes from the whole record down to the state.
  std::int64_t unfinished = UnfinishedOf(k);
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    const Record& change = **it;
    const std::size_t a = change.last_agent;
    out.positions[a] = change.position;
    out.costs[a] = change.cost();
    out.visited.Set(change.position);
    if (change.ends_route()) {
      out.finished[a] = 1;
      --unfinished;
    }
  }
  if (chain_.empty()) {
    out.g = GhOf(k)[0];
    out.h = GhOf(k)[1];
  } else {
    out.g = out.h = std::numeric_limits<double>::quiet_NaN();
  }
  out.unfinished = unfinished;
  out.last_agent = header.last_agent;
}

void StateStore::LoadVisited(std::int64_t id, SearchState& out) const {
  const Record* r = &Header(id);
  if (r->hops() == 0) {
    out.visited = VisitedSet{};
    out.num_bits = 0;
    out.unfinished = 0;
    return;
  }
  // Setting bits commutes, so the changes may be read from the state up to its whole record.
  VisitedSet moved;
  std::int64_t ended = 0;
  while (r->hops() > 1) {
    moved.Set(r->position);
    ended += r->ends_route() ? 1 : 0;
    r = &Header(r->parent());
  }
  const std::uint32_t k = r->whole();
  const VisitedSet& whole = VisitedOf(k);
  for (std::size_t w = 0; w < moved.words.size(); ++w) {
    out.visited.words[w] = whole.words[w] | moved.words[w];
  }
  out.num_bits = NumBitsOf(k);
  out.unfinished = UnfinishedOf(k) - ended;
}

std::int64_t StateStore::Unfinished(std::int64_t id) const {
  const Record* r = &Header(id);
  if (r->hops() == 0) {
    return 0;
  }
  std::int64_t ended = 0;
  while (r->hops() > 1) {
    ended += r->ends_route() ? 1 : 0;
    r = &Header(r->parent());
  }
  return UnfinishedOf(r->whole()) - ended;
}

std::int64_t StateStore::Position(std::int64_t id, std::size_t agent) const {
  const Record* r = &Header(id);
  if (r->hops() == 0) {
    return 0;
  }
  while (r->hops() > 1) {
    if (r->last_agent == agent) {
      return r->position;
    }
    r = &Header(r->parent());
  }
  return PositionsOf(r->whole())[agent];
}

double StateStore::Cost(std::int64_t id, std::size_t agent) const {
  const Record* r = &Header(id);
  if (r->hops() == 0) {
    return 0.0;
  }
  while (r->hops() > 1) {
    if (r->last_agent == agent) {
      return r->cost();
    }
    r = &Header(r->parent());
  }
  return CostsOf(r->whole())[agent];
}

}  // namespace plenro
