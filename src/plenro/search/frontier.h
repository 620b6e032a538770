#pragma once

#include <bit>
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
// are kept sorted by descending g, so a test only reads the records with g <= s.g (from the back)
// and a new state only competes with the records whose g is at least its own (at the front); the
// answers are those of a scan in filing order, which the order of the records does not change.
// States filed later tend to have a smaller g than those filed before, so the descending order
// makes room for them near the back.
class Frontier {
 public:
  // `num_costs`: the number of route costs every state filed here carries (the agent count).
  // `visited_words`: how many of the visited set's four words are kept and compared, from the
  // first (clamped to 1..4); the words after them must be alike in every state filed or tested
  // here, as in a search, where every bit above the point count is set.
  explicit Frontier(std::size_t num_costs, std::size_t visited_words = 4)
      : num_costs_(num_costs),
        words_(visited_words < 1 ? 1 : (visited_words > 4 ? 4 : visited_words)),
        head_slots_(1 + words_) {}
  virtual ~Frontier() = default;

  // True when some stored state dominates s. s must carry at least num_costs costs.
  virtual bool IsDominated(const SearchState& s) const;
  // Removes the stored states that s dominates, then files s. Returns the number removed.
  virtual std::int64_t Insert(const SearchState& s);

  std::size_t Size() const { return size_; }
  std::size_t NumCosts() const { return num_costs_; }

 private:
  // Each filed state is a head of 8-byte slots, g and the kept visited words, and a tail, its
  // costs. Heads lie back to back in one array and tails in another, in the same order: a scan
  // reads 8 + 8 * words bytes a record until a head covers the state's visited set, which few
  // do. Every point visited in some filed state is in `seen_`, so a state with a point outside
  // it is not dominated, whatever the records. The storage grows by an eighth at a time, since
  // the frontiers hold most of a search's memory.
  const std::uint64_t* Head(std::size_t i) const { return heads_.data() + i * head_slots_; }
  std::uint64_t* Head(std::size_t i) { return heads_.data() + i * head_slots_; }
  double G(std::size_t i) const { return std::bit_cast<double>(Head(i)[0]); }
  const double* Costs(std::size_t i) const { return costs_.data() + i * num_costs_; }
  // IsDominated past the first test, for kWords kept visited words (words_).
  template <std::size_t kWords>
  bool ScanDominated(const SearchState& s) const;
  // Number of the records with a comparable g whose g is not below `g` (they come first).
  std::size_t CountNotBelow(double g) const;
  // Moves record `from` to `to` (to < from) while the records are compacted.
  void MoveRecord(std::size_t from, std::size_t to);

  std::size_t num_costs_;
  std::size_t words_;       // visited words kept
  std::size_t head_slots_;  // 8-byte slots per head
  std::size_t size_ = 0;
  // Records [0, ordered_size_) have a non-NaN g, sorted by it in descending order.
  std::size_t ordered_size_ = 0;
  std::vector<std::uint64_t> heads_;
  std::vector<double> costs_;
  VisitedSet seen_;  // every point visited in some state ever filed here
};

}  // namespace plenro
