#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plenro/search/search_records.h"

namespace plenro {

// The non-dominated states already expanded at one combination of agent positions. A stored
// state t dominates a state s (both at the same positions) when t.g <= s.g, t's cost of every
// agent is at most s's, and every point visited in s is visited in t. Ties count as dominance,
// so a state equal to a stored one is dominated.
//
// Only what the test reads is kept of a stored state: g, the visited set and the costs.
class Frontier {
 public:
  // `num_costs`: the number of route costs every state filed here carries (the agent count).
  explicit Frontier(std::size_t num_costs) : num_costs_(num_costs) {}
  virtual ~Frontier() = default;

  // True when some stored state dominates s. s must carry at least num_costs costs.
  virtual bool IsDominated(const SearchState& s) const;
  // Removes the stored states that s dominates, then files s. Returns the number removed.
  // Removed states are swapped behind the kept ones, so the kept states may change order.
  virtual std::int64_t Insert(const SearchState& s);

  std::size_t Size() const { return entries_.size(); }
  std::size_t NumCosts() const { return num_costs_; }

 private:
  struct Entry {
    double g;
    VisitedSet visited;
  };

  const double* CostsAt(std::size_t i) const { return costs_.data() + i * num_costs_; }
  void SwapEntries(std::size_t a, std::size_t b);

  std::size_t num_costs_;
  std::vector<Entry> entries_;
  std::vector<double> costs_;  // num_costs per entry, in entry order
};

}  // namespace plenro
