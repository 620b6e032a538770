#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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
// Every state has one compact record of 16 bytes: the parent as a 32-bit index, the last agent
// as a 16-bit number, and either the last agent's new position and route cost with a flag that
// says whether the move ended its route (a state stored as its parent's change, StoreChild) or
// the number of a whole record (Store): the visited set, num_bits, the unfinished count, g, h,
// then per agent the route cost, the position (one byte: a search has at most 256 points) and
// the finished flag. A change is all a child adds to its parent; a whole record is written
// instead once a state lies kMaxHops changes below the last whole one, or when its unfinished
// count is neither its parent's nor one less, so that a load reads at most kMaxHops records. f
// is not kept: the search's open and focal sets hold it, and the owner sets it after a load. A
// change keeps neither g nor h: the search never reads h again, and g is its objective's value
// of the costs, which the owner computes again after a load. The auxiliary vector is not kept;
// the search never fills it, so it loads empty.
class StateStore {
 public:
  static constexpr std::int64_t kFirstGrowthStep = 1024;
  static constexpr std::int64_t kGrowthCap = 4096;
  // Largest number of changes between a state and the whole record it is rebuilt from.
  static constexpr std::uint8_t kMaxHops = 64;
  // Most agents a state may have (its counts are 16-bit), and most states a store holds.
  static constexpr std::size_t kMaxAgents = 65535;
  static constexpr std::int64_t kMaxStates = 0x7fffffff;

  StateStore() = default;
  explicit StateStore(std::size_t num_agents) { Reset(num_agents); }

  // Drops every state and sets the number of agents of the states to come (at most
  // kMaxAgents, else std::invalid_argument).
  void Reset(std::size_t num_agents);

  // Reserves the next id, growing the store when it is full; std::length_error past
  // kMaxStates states.
  std::int64_t NewStateId();

  // True when the next NewStateId has to grow the store.
  bool NextIdGrows() const { return count_ >= capacity_; }
  // Number of states the next growth adds.
  std::int64_t GrowthStep() const { return growth_step_; }
  std::int64_t Count() const { return count_; }
  std::int64_t Capacity() const { return capacity_; }
  std::size_t NumAgents() const { return num_agents_; }
  // Bytes one reserved slot takes, parent link included, with its share of whole records
  // counted as if every kMaxHops-th state needed one.
  std::size_t BytesPerState() const;

  // Files a copy of the whole state under a reserved id. Its positions must lie in 0..255 and
  // it must have one position, cost and finished flag per agent.
  void Store(std::int64_t id, const SearchState& state);
  // Files under a reserved id a state that differs from the stored state `parent` only by the
  // move of its last agent: that agent's position (which becomes visited), route cost and, when
  // the unfinished count dropped by one, finished flag; the counts are its own. Sets the parent
  // link. Unless it is stored whole (every kMaxHops-th generation), it loads with g and h NaN.
  // `parent_unfinished` is the parent's unfinished count when the caller has it at hand (-1:
  // read from the store).
  void StoreChild(std::int64_t id, std::int64_t parent, const SearchState& state,
                  std::int64_t parent_unfinished = -1);
  // Copies the state stored under id into `out`, reusing out's vectors; f loads as NaN.
  void Load(std::int64_t id, SearchState& out) const;
  // Copies only the visited set, num_bits and unfinished count of the state stored under id into
  // `out` (what counts its points), leaving the rest of `out` as it was.
  void LoadVisited(std::int64_t id, SearchState& out) const;

  std::int64_t Parent(std::int64_t id) const { return Header(id).parent(); }
  // Sets the parent link of a state stored whole (StoreChild sets its own).
  void SetParent(std::int64_t id, std::int64_t parent) {
    Header(id).set_parent(static_cast<std::int32_t>(parent));
  }

  // Reads of single fields of a stored state.
  std::int64_t Unfinished(std::int64_t id) const;
  std::uint64_t LastAgent(std::int64_t id) const { return Header(id).last_agent; }
  std::int64_t Position(std::int64_t id, std::size_t agent) const;
  double Cost(std::int64_t id, std::size_t agent) const;

 private:
  // 16 bytes, the most numerous record of a search: the cost and the parent are kept as bytes
  // and read with memcpy, so nothing in it needs more than two-byte alignment.
  struct Record {
    // A change: the last agent's new route cost; stored whole: the number of its whole record.
    unsigned char cost_bytes[8];
    unsigned char parent_bytes[4];
    std::uint16_t last_agent;
    std::uint8_t position;  // a change: the last agent's new position
    // Low bits: 0 nothing stored; 1 stored whole; k: k-1 changes below one. kEndsRoute: a change
    // whose move ended the last agent's route (the unfinished count dropped by one).
    std::uint8_t hops_and_flag;

    static constexpr std::uint8_t kEndsRoute = 0x80;

    std::uint8_t hops() const { return hops_and_flag & static_cast<std::uint8_t>(~kEndsRoute); }
    bool ends_route() const { return (hops_and_flag & kEndsRoute) != 0; }
    double cost() const { return Read<double>(cost_bytes); }
    void set_cost(double v) { Write(cost_bytes, v); }
    std::uint32_t whole() const { return Read<std::uint32_t>(cost_bytes); }
    void set_whole(std::uint32_t v) { Write(cost_bytes, v); }
    std::int32_t parent() const { return Read<std::int32_t>(parent_bytes); }
    void set_parent(std::int32_t v) { Write(parent_bytes, v); }

    template <class T>
    static T Read(const unsigned char* from) {
      T v;
      std::memcpy(&v, from, sizeof(T));
      return v;
    }
    template <class T>
    static void Write(unsigned char* to, T v) {
      std::memcpy(to, &v, sizeof(T));
    }
  };
  static constexpr std::int64_t kBlockShift = 10;  // records per block: 1024
  static constexpr std::int64_t kBlockSlots = std::int64_t{1} << kBlockShift;

  Record& Header(std::int64_t id) const {
    return blocks_[static_cast<std::size_t>(id >> kBlockShift)]
                  [static_cast<std::size_t>(id & (kBlockSlots - 1))];
  }
  // A whole record: the visited set, num_bits and the unfinished count (in an 8-byte slot), g, h,
  // then per agent the costs, the positions and the finished flags. Blocks are byte arrays, so
  // the arrays inside them are created implicitly; the stride is a multiple of 8, which keeps
  // every cost aligned.
  std::byte* Whole(std::uint32_t k) const {
    return whole_blocks_[k >> kBlockShift].get() + (k & (kBlockSlots - 1)) * whole_stride_;
  }
  VisitedSet& VisitedOf(std::uint32_t k) const { return *reinterpret_cast<VisitedSet*>(Whole(k)); }
  std::int32_t& NumBitsOf(std::uint32_t k) const {
    return *reinterpret_cast<std::int32_t*>(Whole(k) + sizeof(VisitedSet));
  }
  std::int32_t& UnfinishedOf(std::uint32_t k) const {
    return *reinterpret_cast<std::int32_t*>(Whole(k) + sizeof(VisitedSet) + 4);
  }
  double* GhOf(std::uint32_t k) const {
    return reinterpret_cast<double*>(Whole(k) + sizeof(VisitedSet) + 8);
  }
  double* CostsOf(std::uint32_t k) const { return GhOf(k) + 2; }
  std::uint8_t* PositionsOf(std::uint32_t k) const {
    return reinterpret_cast<std::uint8_t*>(CostsOf(k) + num_agents_);
  }
  char* FinishedOf(std::uint32_t k) const {
    return reinterpret_cast<char*>(PositionsOf(k) + num_agents_);
  }
  // Writes `state` as a new whole record of `header`.
  void WriteWhole(Record& header, std::int64_t id, const SearchState& state);
  static std::uint8_t CheckedPosition(std::int64_t id, std::size_t agent, std::int64_t p);

  static_assert(sizeof(VisitedSet) % alignof(double) == 0);
  static_assert(sizeof(Record) == 16);

  std::size_t num_agents_ = 0;
  std::size_t whole_stride_ = 0;
  std::uint32_t whole_count_ = 0;
  std::int64_t count_ = 0;
  std::int64_t capacity_ = 0;
  std::int64_t growth_step_ = kFirstGrowthStep;
  std::vector<std::unique_ptr<Record[]>> blocks_;
  std::vector<std::unique_ptr<std::byte[]>> whole_blocks_;
  // Reused by Load: the changes between a state and its whole record, nearest first.
  mutable std::vector<const Record*> chain_;
};

}  // namespace plenro
