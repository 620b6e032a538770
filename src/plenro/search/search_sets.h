#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "plenro/plugins/focal_comparator_plugin.h"
#include "plenro/plugins/search_state.h"
#include "plenro/search/node_arena.h"
#include "plenro/search/open_set.h"

namespace plenro {

// The focal set: focal keys ordered by the installed comparator. Keys that compare equivalent
// occupy one place, so a key equivalent to one present is not inserted. A second index by
// (f, id) lets the bound and incumbent prunes find the keys above a value without a full scan.
class FocalSet {
 public:
  FocalSet(NodeArena* arena, const FocalComparatorPlugin* comparator);

  // Installs the comparator and empties the set.
  void SetComparator(const FocalComparatorPlugin* comparator);

  // False (and nothing changes) when an equivalent key is present.
  bool Insert(const FocalKey& key);
  bool Empty() const { return keys_.empty(); }
  std::size_t Size() const { return keys_.size(); }
  // The first key in focal order; the set must not be empty.
  const FocalKey& Front() const { return *keys_.begin(); }
  void PopFront();
  // Removes every key with f > x.
  void EraseAbove(double x);
  void Clear();

  // The keys in focal order.
  std::vector<FocalKey> Keys() const { return {keys_.begin(), keys_.end()}; }

 private:
  struct Less {
    const FocalComparatorPlugin* comparator;
    bool operator()(const FocalKey& a, const FocalKey& b) const {
      return comparator->Compare(a, b);
    }
  };
  using KeySet = std::set<FocalKey, Less, ArenaAllocator<FocalKey>>;
  using ByF = std::multimap<OpenEntry, KeySet::iterator, std::less<OpenEntry>,
                            ArenaAllocator<std::pair<const OpenEntry, KeySet::iterator>>>;

  KeySet keys_;
  ByF by_f_;
};

// The open and focal sets of one search with the focal bound, and the operations that move
// entries between them. Owns the arena the focal set's nodes come from.
class SearchSets {
 public:
  explicit SearchSets(const FocalComparatorPlugin* comparator)
      : arena_(std::make_unique<NodeArena>()), focal(arena_.get(), comparator) {}

  // Empties both sets; the bound is left to the caller.
  void Clear() {
    focal.Clear();
    open.Clear();
  }

  // Moves the focal bound from a to b. Growing (a < b): every open entry with a < f <= b, in
  // ascending (f, id) order, is offered to the focal set as make_key(id, f), whose total must
  // be 0.0. Otherwise the focal keys with f > b are removed. The bound becomes b.
  template <class MakeKey>
  void UpdateFocalBound(double a, double b, MakeKey&& make_key) {
    if (a < b) {
      for (auto it = open.FirstAbove(a); it != open.end() && it->first <= b; ++it) {
        focal.Insert(make_key(it->second, it->first));
      }
    } else {
      focal.EraseAbove(b);
    }
    focal_bound = b;
  }

  // Sets the bound to `bound` and offers every open entry with f <= bound to the focal set, in
  // ascending (f, id) order; used to restart a search whose focal set ran dry.
  template <class MakeKey>
  void RefillFocal(double bound, MakeKey&& make_key) {
    focal_bound = bound;
    for (auto it = open.begin(); it != open.end() && it->first <= bound; ++it) {
      focal.Insert(make_key(it->second, it->first));
    }
  }

  // Prunes with a new incumbent x: focal keys with f > x go, open entries with f > x + 0.2 go.
  void ApplyIncumbent(double x) {
    focal.EraseAbove(x);
    open.EraseAbove(x + 0.2);
  }

 private:
  std::unique_ptr<NodeArena> arena_;  // declared first: destroyed after the sets

 public:
  OpenSet open;
  FocalSet focal;
  double focal_bound = 0.0;
};

}  // namespace plenro
