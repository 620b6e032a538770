#include "plenro/search/search_sets.h"

#include <iterator>

namespace plenro {

FocalSet::FocalSet(NodeArena* arena, const FocalComparatorPlugin* comparator)
    : keys_(Less{comparator}, ArenaAllocator<FocalKey>(arena)),
      by_f_(ArenaAllocator<std::pair<const OpenEntry, KeySet::iterator>>(arena)) {}

bool FocalSet::Insert(const FocalKey& key) {
  const auto [it, inserted] = keys_.insert(key);
  if (inserted) {
    by_f_.emplace(OpenEntry{key.f, key.id}, it);
  }
  return inserted;
}

void FocalSet::SetComparator(const FocalComparatorPlugin* comparator) {
  Clear();
  keys_ = KeySet(Less{comparator}, keys_.get_allocator());
}

void FocalSet::PopFront() {
  const auto first = keys_.begin();
  auto [lo, hi] = by_f_.equal_range(OpenEntry{first->f, first->id});
  for (; lo != hi; ++lo) {
    if (lo->second == first) {
      by_f_.erase(lo);
      break;
    }
  }
  keys_.erase(first);
}

void FocalSet::EraseAbove(double x) {
  while (!by_f_.empty()) {
    auto last = std::prev(by_f_.end());
    if (!(last->first.first > x)) {
      break;
    }
    keys_.erase(last->second);
    by_f_.erase(last);
  }
}

void FocalSet::Clear() {
  by_f_.clear();
  keys_.clear();
}

}  // namespace plenro
