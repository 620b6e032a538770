#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
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
//
// Keys lie back to back in one byte pool and are found through an open-addressing table of key
// numbers, each slot with a tag: a key of at most 7 bytes (6 agents or fewer, on points below
// 255) is its own tag, its bytes and its length, so that a look-up reads one slot and nothing
// else; a longer key's tag is its hash, and a match is confirmed against the pool. A combination
// gets its Frontier object only when its first state is filed, so the many combinations that are
// only ever looked up cost a few bytes each.
class DominanceTable {
 public:
  // True when a state filed under s's combination dominates s. A combination seen for the
  // first time is registered with an empty frontier (and s is not dominated). s is never filed
  // here.
  bool IsDominated(const SearchState& s);
  // Files a copy of s in the frontier of its combination, registering it first if needed.
  void AddToFrontier(const SearchState& s);
  // How many words of the visited set the frontiers made from now on keep (see Frontier); a
  // search passes those that cover its points. Clear sets it back to all four.
  void SetVisitedWords(std::size_t words) { visited_words_ = words; }
  // Sets the counter that numbers newly registered frontiers back to 0.
  void ResetFrontierCounter() { frontier_count_ = 0; }
  // Forgets every key and frontier.
  void Clear();

  std::size_t NumKeys() const { return key_ends_.size(); }
  std::int64_t FrontierCount() const { return frontier_count_; }
  // The frontier filed under the positions and finished flags (an empty one when they are
  // registered but nothing was filed), or nullptr when they are not registered. A flag missing
  // from `finished` reads as 0 (the route goes on).
  const Frontier* FindFrontier(const std::vector<std::int64_t>& positions,
                               const std::vector<char>& finished = {});

  // The key of one agent per position; a flag missing from `finished` reads as 0.
  static void BuildKey(const std::vector<std::int64_t>& positions,
                       const std::vector<char>& finished, std::string& key);

 private:
  static constexpr std::uint32_t kNone = 0xffffffffu;

  // One slot of the table: the key's number (kNone for an empty slot), its tag and the index
  // of its frontier in frontiers_ (kNone until a state is filed under it).
  struct Slot {
    std::uint64_t tag = 0;
    std::uint32_t key = kNone;
    std::uint32_t frontier = kNone;
  };
  // Tags of long keys have their top byte all ones, which no short key's tag has (its top byte
  // is its length, at most 7).
  static constexpr std::uint64_t kLongTag = std::uint64_t{0xff} << 56;
  static constexpr std::size_t kShortKey = 7;

  // The tag of key_, and the table position where its search starts (from the tag alone).
  static std::uint64_t TagOf(const std::string& key);
  static std::uint64_t SlotHash(std::uint64_t tag);
  // Number of the key in key_ (tagged `tag`), or kNone; `slot` receives the table slot where
  // the search ended (the key's, or the empty one where it belongs).
  std::uint32_t Find(std::uint64_t tag, std::size_t& slot) const;
  // Registers key_ (absent, tagged `tag`, whose search ended at `slot`); its number.
  std::uint32_t Register(std::uint64_t tag, std::size_t slot);
  void Grow();
  std::string_view KeyOf(std::uint32_t k) const;

  std::int64_t frontier_count_ = 0;
  std::vector<char> pool_;               // every key, back to back
  std::vector<std::uint64_t> key_ends_;  // key k is pool_[key_ends_[k-1], key_ends_[k])
  std::vector<Slot> table_;              // open addressing, at most half full
  std::deque<Frontier> frontiers_;       // a deque keeps the frontiers where they are
  Frontier empty_{0};
  std::size_t visited_words_ = 4;
  std::string key_;
};

}  // namespace plenro
