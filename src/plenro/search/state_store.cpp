#include "plenro/search/state_store.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace plenro {

void StateStore::Reset(std::size_t num_agents) {
  num_agents_ = num_agents;
  const std::size_t raw = sizeof(SlotHeader) + num_agents * (sizeof(double) + 2);
  stride_bytes_ = (raw + alignof(double) - 1) / alignof(double) * alignof(double);
  count_ = 0;
  capacity_ = 0;
  growth_step_ = kFirstGrowthStep;
  blocks_.clear();
}

std::int64_t StateStore::NewStateId() {
  const std::int64_t id = count_;
  ++count_;
  if (capacity_ >= count_) {
    return id;
  }
  capacity_ += growth_step_;
  // Zeroed blocks: a reserved slot reads as "not stored" with parent 0.
  while (static_cast<std::int64_t>(blocks_.size()) * kBlockSlots < capacity_) {
    blocks_.push_back(
        std::make_unique<std::byte[]>(static_cast<std::size_t>(kBlockSlots) * stride_bytes_));
  }
  if (growth_step_ < kGrowthCap) {
    growth_step_ *= 2;
  }
  return id;
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
  SlotHeader& header = Header(id);
  header.visited = state.visited;
  header.h = state.h;
  header.g = state.g;
  header.f = state.f;
  header.unfinished = state.unfinished;
  header.last_agent = state.last_agent;
  header.num_bits = state.num_bits;
  header.stored = 1;
  std::copy(state.costs.begin(), state.costs.end(), CostsOf(id));
  std::uint8_t* positions = PositionsOf(id);
  for (std::size_t i = 0; i < num_agents_; ++i) {
    const std::int64_t p = state.positions[i];
    if (p < 0 || p >= kMaxPoints) {
      std::ostringstream message;
      message << "state " << id << ": agent " << i << " stands at " << p
              << ", outside the points 0.." << kMaxPoints - 1;
      throw std::invalid_argument(message.str());
    }
    positions[i] = static_cast<std::uint8_t>(p);
  }
  std::copy(state.finished.begin(), state.finished.end(), FinishedOf(id));
}

void StateStore::Load(std::int64_t id, SearchState& out) const {
  const SlotHeader& header = Header(id);
  out.id = id;
  if (header.stored == 0) {
    out.positions.clear();
    out.costs.clear();
    out.finished.clear();
    out.visited = VisitedSet{};
    out.num_bits = 0;
    out.h = out.g = out.f = 0.0;
    out.unfinished = 0;
    out.last_agent = 0;
    return;
  }
  out.visited = header.visited;
  out.num_bits = header.num_bits;
  out.h = header.h;
  out.g = header.g;
  out.f = header.f;
  out.unfinished = header.unfinished;
  out.last_agent = header.last_agent;
  const double* costs = CostsOf(id);
  out.costs.assign(costs, costs + num_agents_);
  const std::uint8_t* positions = PositionsOf(id);
  out.positions.assign(positions, positions + num_agents_);
  const char* finished = FinishedOf(id);
  out.finished.assign(finished, finished + num_agents_);
}

}  // namespace plenro
