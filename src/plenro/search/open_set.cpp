#include "plenro/search/open_set.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace plenro {

namespace {

// The largest entry with f = x: every entry above it has f > x.
OpenEntry TopOf(double x) {
  return OpenEntry{x, std::numeric_limits<std::int64_t>::max()};
}

std::vector<OpenEntry> NewBlock() {
  std::vector<OpenEntry> block;
  block.reserve(OpenSet::kMaxBlock + 1);
  return block;
}

}  // namespace

std::size_t OpenSet::BlockNotBelow(const OpenEntry& e) const {
  return static_cast<std::size_t>(std::lower_bound(bounds_.begin(), bounds_.end(), e) -
                                  bounds_.begin());
}

void OpenSet::SortBlock(std::size_t b) const {
  if (b < blocks_.size() && !blocks_[b].sorted) {
    std::sort(blocks_[b].entries.begin(), blocks_[b].entries.end());
    blocks_[b].sorted = true;
  }
}

void OpenSet::Insert(double f, std::int64_t id) {
  const OpenEntry e{f, id};
  if (blocks_.empty()) {
    blocks_.push_back(Block{NewBlock(), true});
    blocks_.back().entries.push_back(e);
    bounds_.push_back(e);
    size_ = 1;
    return;
  }
  std::size_t b = BlockNotBelow(e);
  if (b == blocks_.size()) {
    b = blocks_.size() - 1;  // above everything: the last block takes it
    bounds_[b] = e;
  }
  Block& block = blocks_[b];
  if (b == 0) {
    // The first block stays sorted: MinF reads its front.
    const auto at = std::lower_bound(block.entries.begin(), block.entries.end(), e);
    block.entries.insert(at, e);
  } else {
    if (block.sorted && !block.entries.empty() && e < block.entries.back()) {
      block.sorted = false;
    }
    block.entries.push_back(e);
  }
  ++size_;
  if (block.entries.size() > kMaxBlock) {
    Split(b);
  }
}

void OpenSet::Split(std::size_t b) {
  SortBlock(b);
  Block upper{NewBlock(), true};
  std::vector<OpenEntry>& lower = blocks_[b].entries;
  const auto middle = lower.begin() + static_cast<std::ptrdiff_t>(lower.size() / 2);
  upper.entries.assign(middle, lower.end());
  lower.erase(middle, lower.end());
  bounds_.insert(bounds_.begin() + static_cast<std::ptrdiff_t>(b), lower.back());
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(upper));
}

bool OpenSet::Erase(double f, std::int64_t id) {
  const OpenEntry e{f, id};
  const std::size_t b = BlockNotBelow(e);
  if (b == blocks_.size()) {
    return false;
  }
  Block& block = blocks_[b];
  std::vector<OpenEntry>& entries = block.entries;
  if (block.sorted) {
    const auto at = std::lower_bound(entries.begin(), entries.end(), e);
    if (at == entries.end() || *at != e) {
      return false;
    }
    entries.erase(at);
  } else {
    const auto at = std::find(entries.begin(), entries.end(), e);
    if (at == entries.end()) {
      return false;
    }
    *at = entries.back();  // the block is unsorted: any order will do
    entries.pop_back();
  }
  --size_;
  if (entries.empty()) {
    RemoveBlock(b);
    return true;
  }
  // Fold a thin block into its successor so blocks stay reasonably full.
  if (entries.size() < kMaxBlock / 4 && b + 1 < blocks_.size() &&
      entries.size() + blocks_[b + 1].entries.size() <= kMaxBlock) {
    Block& next = blocks_[b + 1];
    if (b == 0) {
      SortBlock(b + 1);
    }
    if (block.sorted && next.sorted) {
      next.entries.insert(next.entries.begin(), entries.begin(), entries.end());
    } else {
      next.entries.insert(next.entries.end(), entries.begin(), entries.end());
      next.sorted = false;
    }
    RemoveBlock(b);
  }
  return true;
}

void OpenSet::RemoveBlock(std::size_t b) {
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
  bounds_.erase(bounds_.begin() + static_cast<std::ptrdiff_t>(b));
  if (b == 0) {
    SortBlock(0);
  }
}

void OpenSet::EraseAbove(double x) {
  const auto above = [x](const OpenEntry& e) { return e.first > x; };
  while (!blocks_.empty()) {
    const std::size_t b = blocks_.size() - 1;
    std::vector<OpenEntry>& entries = blocks_[b].entries;
    // Every entry of the last block lies above the bound of the one before it.
    if (b > 0 && bounds_[b - 1].first > x) {
      size_ -= entries.size();
      RemoveBlock(b);
      continue;
    }
    const auto from = std::remove_if(entries.begin(), entries.end(), above);
    size_ -= static_cast<std::size_t>(entries.end() - from);
    entries.erase(from, entries.end());
    if (entries.empty()) {
      RemoveBlock(b);
    }
    break;
  }
}

void OpenSet::Clear() {
  blocks_.clear();
  bounds_.clear();
  size_ = 0;
}

OpenSet::const_iterator OpenSet::FirstAbove(double x) const {
  const OpenEntry top = TopOf(x);
  const auto b = static_cast<std::size_t>(std::upper_bound(bounds_.begin(), bounds_.end(), top) -
                                          bounds_.begin());
  if (b == blocks_.size()) {
    return end();
  }
  SortBlock(b);
  const std::vector<OpenEntry>& entries = blocks_[b].entries;
  const auto at = std::upper_bound(entries.begin(), entries.end(), top);
  if (at == entries.end()) {
    // The bound is above every entry of the block: the first entry above x opens the next.
    SortBlock(b + 1);
    return const_iterator(this, b + 1, 0);
  }
  return const_iterator(this, b, static_cast<std::size_t>(at - entries.begin()));
}

}  // namespace plenro
