#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "plenro/plugins/search_state.h"

namespace plenro {

// Owns every state the search creates, by id, together with its parent link. Ids are handed
// out in order and never reused. Capacity grows by chunks: the growth step starts at 1024
// states and doubles after each growth while it is below 4096, so capacity reads 1024, 3072,
// 7168, then grows by 4096 at a time. A reserved slot that was never stored reads as an empty
// state with parent 0.
//
// States are kept in a flat layout, not as SearchState objects: a fixed header plus, per agent,
// the route cost, the position (one byte: a search has at most 256 points) and the finished
// flag. The auxiliary vector is not kept; the search never fills it, so it loads empty.
class StateStore {
 public:
  static constexpr std::int64_t kFirstGrowthStep = 1024;
  static constexpr std::int64_t kGrowthCap = 4096;

  StateStore() = default;
  explicit StateStore(std::size_t num_agents) { Reset(num_agents); }

  // Drops every state and sets the number of agents of the states to come.
  void Reset(std::size_t num_agents);

  // Reserves the next id, growing the store when it is full.
  std::int64_t NewStateId();

  // True when the next NewStateId has to grow the store.
  bool NextIdGrows() const { return count_ >= capacity_; }
  // Number of states the next growth adds.
  std::int64_t GrowthStep() const { return growth_step_; }
  std::int64_t Count() const { return count_; }
  std::int64_t Capacity() const { return capacity_; }
  std::size_t NumAgents() const { return num_agents_; }
  // Bytes one reserved slot takes, parent link included.
  std::size_t BytesPerState() const { return stride_bytes_; }

  // Files a copy of the state under a reserved id. Its positions must lie in 0..255 and it must
  // have one position, cost and finished flag per agent.
  void Store(std::int64_t id, const SearchState& state);
  // Copies the state stored under id into `out`, reusing out's vectors.
  void Load(std::int64_t id, SearchState& out) const;

  std::int64_t Parent(std::int64_t id) const { return Header(id).parent; }
  void SetParent(std::int64_t id, std::int64_t parent) { Header(id).parent = parent; }

  // Cheap reads of single fields of a stored state.
  double F(std::int64_t id) const { return Header(id).f; }
  std::int64_t Unfinished(std::int64_t id) const { return Header(id).unfinished; }
  std::uint64_t LastAgent(std::int64_t id) const { return Header(id).last_agent; }
  std::int64_t Position(std::int64_t id, std::size_t agent) const { return PositionsOf(id)[agent]; }
  double Cost(std::int64_t id, std::size_t agent) const { return CostsOf(id)[agent]; }

 private:
  struct SlotHeader {
    VisitedSet visited;
    double h;
    double g;
    double f;
    std::int64_t unfinished;
    std::uint64_t last_agent;
    std::int64_t parent;
    std::int32_t num_bits;
    std::int32_t stored;  // 0 for a reserved slot that holds no state yet
  };
  static constexpr std::int64_t kBlockShift = 10;  // slots per block: 1024
  static constexpr std::int64_t kBlockSlots = std::int64_t{1} << kBlockShift;

  // Blocks are byte arrays, so the headers and per-agent arrays inside them are created
  // implicitly; the stride is a multiple of 8, which keeps every header and cost aligned.
  std::byte* Slot(std::int64_t id) const {
    return blocks_[static_cast<std::size_t>(id >> kBlockShift)].get() +
           static_cast<std::size_t>(id & (kBlockSlots - 1)) * stride_bytes_;
  }
  SlotHeader& Header(std::int64_t id) const { return *reinterpret_cast<SlotHeader*>(Slot(id)); }
  double* CostsOf(std::int64_t id) const {
    return reinterpret_cast<double*>(Slot(id) + sizeof(SlotHeader));
  }
  std::uint8_t* PositionsOf(std::int64_t id) const {
    return reinterpret_cast<std::uint8_t*>(Slot(id) + sizeof(SlotHeader) +
                                           num_agents_ * sizeof(double));
  }
  char* FinishedOf(std::int64_t id) const {
    return reinterpret_cast<char*>(PositionsOf(id) + num_agents_);
  }

  static_assert(sizeof(SlotHeader) % alignof(double) == 0);

  std::size_t num_agents_ = 0;
  std::size_t stride_bytes_ = sizeof(SlotHeader);
  std::int64_t count_ = 0;
  std::int64_t capacity_ = 0;
  std::int64_t growth_step_ = kFirstGrowthStep;
  std::vector<std::unique_ptr<std::byte[]>> blocks_;
};

}  // namespace plenro
