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
// Kept as a list of sorted blocks of at most kMaxBlock entries, with the last entry of every
// block in a separate array: finding a place is a binary search over that array and one within
// a block, and the entries lie in flat arrays rather than one tree node each.
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
    reference operator*() const { return (*blocks_)[block_][pos_]; }
    pointer operator->() const { return &(*blocks_)[block_][pos_]; }
    const_iterator& operator++() {
      if (++pos_ == (*blocks_)[block_].size()) {
        ++block_;
        pos_ = 0;
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
    const_iterator(const std::vector<std::vector<OpenEntry>>* blocks, std::size_t block,
                   std::size_t pos)
        : blocks_(blocks), block_(block), pos_(pos) {}

    const std::vector<std::vector<OpenEntry>>* blocks_ = nullptr;
    std::size_t block_ = 0;
    std::size_t pos_ = 0;
  };

  // Adds the entry unless it is present.
  void Insert(double f, std::int64_t id);
  // Removes the entry; false when it is absent.
  bool Erase(double f, std::int64_t id);
  bool Empty() const { return size_ == 0; }
  std::size_t Size() const { return size_; }
  // The smallest f; the set must not be empty.
  double MinF() const { return blocks_.front().front().first; }
  // Removes every entry with f > x (none when x is NaN).
  void EraseAbove(double x);
  void Clear();

  const_iterator begin() const { return const_iterator(&blocks_, 0, 0); }
  const_iterator end() const { return const_iterator(&blocks_, blocks_.size(), 0); }
  // First entry whose f is greater than x (x must not be NaN).
  const_iterator FirstAbove(double x) const;

 private:
  // Index of the first block whose last entry is not below e; blocks_.size() when none.
  std::size_t BlockNotBelow(const OpenEntry& e) const;
  void RemoveBlock(std::size_t b);

  std::vector<std::vector<OpenEntry>> blocks_;
  std::vector<OpenEntry> lasts_;  // lasts_[b] == blocks_[b].back()
  std::size_t size_ = 0;
};

}  // namespace plenro
