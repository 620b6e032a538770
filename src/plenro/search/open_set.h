#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace plenro {

// (f, id) of a stored state that is neither popped nor pruned.
using OpenEntry = std::pair<double, std::int64_t>;

// The open set: every live state once, ascending by f, ties by ascending id.
//
// Kept as a list of blocks of at most kMaxBlock entries with a bound per block: every entry of
// block b is at most bounds_[b], every entry of a later block above it. Finding a block is a
// binary search over the bounds. A new entry is appended to its block, which is sorted only
// when it is read in order (iteration) or split; the first block, which gives the smallest f,
// is kept sorted. So an insertion writes at the tail of one block instead of searching and
// shifting inside it, and blocks far above the focal bound, which are mostly pruned or never
// read in order, are seldom sorted at all.
class OpenSet {
 public:
  static constexpr std::size_t kMaxBlock = 256;

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = OpenEntry;
    using difference_type = std::ptrdiff_t;
    using reference = const OpenEntry&;
    using pointer = const OpenEntry*;

    const_iterator() = default;
    reference operator*() const { return set_->blocks_[block_].entries[pos_]; }
    pointer operator->() const { return &set_->blocks_[block_].entries[pos_]; }
    const_iterator& operator++() {
      if (++pos_ == set_->blocks_[block_].entries.size()) {
        ++block_;
        pos_ = 0;
        set_->SortBlock(block_);
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const {
      return block_ == other.block_ && pos_ == other.pos_;
    }

   private:
    friend class OpenSet;
    const_iterator(const OpenSet* set, std::size_t block, std::size_t pos)
        : set_(set), block_(block), pos_(pos) {}

    const OpenSet* set_ = nullptr;
    std::size_t block_ = 0;
    std::size_t pos_ = 0;
  };

  // Adds the entry, which must not be present (the search files every state once).
  void Insert(double f, std::int64_t id);
  // Removes the entry; false when it is absent.
  bool Erase(double f, std::int64_t id);
  bool Empty() const { return size_ == 0; }
  std::size_t Size() const { return size_; }
  // The smallest f; the set must not be empty.
  double MinF() const { return blocks_.front().entries.front().first; }
  // Removes every entry with f > x (none when x is NaN).
  void EraseAbove(double x);
  void Clear();

  // Iteration sorts each block as it reaches it; no entry moves to another block.
  const_iterator begin() const { return const_iterator(this, 0, 0); }
  const_iterator end() const { return const_iterator(this, blocks_.size(), 0); }
  // First entry whose f is greater than x (x must not be NaN).
  const_iterator FirstAbove(double x) const;

 private:
  struct Block {
    std::vector<OpenEntry> entries;
    bool sorted = true;
  };

  // Index of the first block whose bound is not below e; blocks_.size() when none.
  std::size_t BlockNotBelow(const OpenEntry& e) const;
  // Sorts block b unless it is sorted or there is no such block.
  void SortBlock(std::size_t b) const;
  void RemoveBlock(std::size_t b);
  void Split(std::size_t b);

  // Sorting a block moves no entry across blocks, so the const readers may sort.
  mutable std::vector<Block> blocks_;
  std::vector<OpenEntry> bounds_;
  std::size_t size_ = 0;
};

}  // namespace plenro
