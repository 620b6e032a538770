#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "plenro/plugins/search_state.h"
#include "plenro/search/frontier.h"

namespace plenro {

// Files expanded states by the combination of agent positions and finished routes, one Frontier
// per combination, so that dominance is only tested between states whose agents stand on the
// same points and have ended their routes alike. (An agent that ends its route where it stands
// changes no position, cost or visited point; without the flags such a state would look equal
// to its parent and be dropped.)
//
// The key is binary: per agent, one byte for a position in 0..254, or the byte 255 followed by
// the eight bytes of any other value; then the finished flags, eight agents to a byte. The
// position part is prefix-free and fixes the agent count, hence the length of the flag part, so
// equal combinations give equal keys and different ones different keys. It is built into a
// reused buffer, so a look-up allocates nothing.
class DominanceTable {
 public:
  // True when a state filed under s's combination dominates s. A combination seen for the
  // first time is registered with an empty frontier (and s is not dominated). s is never filed
  // here.
  bool IsDominated(const SearchState& s);
  // Files a copy of s in the frontier of its combination, registering it first if needed.
  void AddToFrontier(const SearchState& s);
  // Sets the counter that numbers newly registered frontiers back to 0.
  void ResetFrontierCounter() { frontier_count_ = 0; }
  // Forgets every key and frontier.
  void Clear();

  std::size_t NumKeys() const { return index_.size(); }
  std::int64_t FrontierCount() const { return frontier_count_; }
  // The frontier filed under the positions and finished flags, or nullptr when they are not
  // registered. A flag missing from `finished` reads as 0 (the route goes on).
  const Frontier* FindFrontier(const std::vector<std::int64_t>& positions,
                               const std::vector<char>& finished = {});

  // The key of one agent per position; a flag missing from `finished` reads as 0.
  static void BuildKey(const std::vector<std::int64_t>& positions,
                       const std::vector<char>& finished, std::string& key);

 private:
  // Index of the frontier for the key in key_, registering it when absent.
  std::int64_t Register(std::size_t num_costs);

  std::unordered_map<std::string, std::int64_t> index_;
  std::int64_t frontier_count_ = 0;
  std::vector<std::unique_ptr<Frontier>> frontiers_;
  std::string key_;
};

}  // namespace plenro
