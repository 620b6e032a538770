#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plenro/plugins/search_state.h"

namespace plenro {

// The non-dominated states already expanded at one combination of agent positions and finished
// routes (DominanceTable files them). A stored state t dominates a state s (both of the same
// combination) when t.g <= s.g, t's cost of every agent is at most s's, and every point visited
// in s is visited in t. Ties count as dominance, so a state equal to a stored one is dominated.
//
// Only what the test reads is kept of a stored state: g, the visited set and the costs. Records
// are kept sorted by g, so a test only reads the records with g <= s.g and a new state only
// competes with the records whose g is at least its own; the answers are those of a scan in
// filing order, which the order of the records does not change.
class Frontier {
 public:
  // `num_costs`: the number of route costs every state filed here carries (the agent count).
  // `visited_words`: how many of the visited set's four words are kept and compared, from the
  // first (clamped to 1..4); the words after them must be alike in every state filed or tested
  // here, as in a search, where every bit above the point count is set.
  explicit Frontier(std::size_t num_costs, std::size_t visited_words = 4)
      : num_costs_(num_costs),
        words_(visited_words < 1 ? 1 : (visited_words > 4 ? 4 : visited_words)),
        stride_((1 + words_ + num_costs) * kSlotBytes) {}
  virtual ~Frontier() = default;

  // True when some stored state dominates s. s must carry at least num_costs costs.
  virtual bool IsDominated(const SearchState& s) const;
  // Removes the stored states that s dominates, then files s. Returns the number removed.
  virtual std::int64_t Insert(const SearchState& s);

  std::size_t Size() const { return size_; }
  std::size_t NumCosts() const { return num_costs_; }

 private:
  // Each filed state is one record of 8-byte slots: g, the kept visited words, then the costs.
  // Records lie back to back, so a scan reads memory in order; slots are read with memcpy. The
  // storage grows by an eighth at a time, since the frontiers hold most of a search's memory.
  static constexpr std::size_t kSlotBytes = 8;

  const std::byte* Record(std::size_t i) const { return bytes_.data() + i * stride_; }
  double G(std::size_t i) const;
  // Index of the first of the records with a comparable g whose g is not below `g`.
  std::size_t FirstNotBelow(double g) const;

  std::size_t CostsOffset() const { return (1 + words_) * kSlotBytes; }

  std::size_t num_costs_;
  std::size_t words_;   // visited words kept
  std::size_t stride_;  // bytes per record
  std::size_t size_ = 0;
  std::size_t ordered_size_ = 0;  // records [0, ordered_size_) have a non-NaN g, sorted by it
  std::vector<std::byte> bytes_;
};

}  // namespace plenro
