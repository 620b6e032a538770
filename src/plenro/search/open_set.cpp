#include "plenro/search/open_set.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace plenro {

namespace {

using Block = std::vector<OpenEntry>;

// The largest entry with f = x: every entry above it has f > x.
OpenEntry TopOf(double x) {
  return OpenEntry{x, std::numeric_limits<std::int64_t>::max()};
}

Block NewBlock() {
  Block block;
  block.reserve(OpenSet::kMaxBlock + 1);
  return block;
}

}  // namespace

std::size_t OpenSet::BlockNotBelow(const OpenEntry& e) const {
  return static_cast<std::size_t>(std::lower_bound(lasts_.begin(), lasts_.end(), e) -
                                  lasts_.begin());
}

void OpenSet::Insert(double f, std::int64_t id) {
  const OpenEntry e{f, id};
  if (blocks_.empty()) {
    blocks_.push_back(NewBlock());
    blocks_.back().push_back(e);
    lasts_.push_back(e);
    size_ = 1;
    return;
  }
  std::size_t b = BlockNotBelow(e);
  if (b == blocks_.size()) {
    b = blocks_.size() - 1;  // above everything: the last block takes it
  }
  Block& block = blocks_[b];
  const auto at = std::lower_bound(block.begin(), block.end(), e);
  if (at != block.end() && *at == e) {
    return;
  }
  block.insert(at, e);
  lasts_[b] = block.back();
  ++size_;
  if (block.size() > kMaxBlock) {
    Block upper = NewBlock();
    const auto middle = block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2);
    upper.assign(middle, block.end());
    block.erase(middle, block.end());
    lasts_[b] = block.back();
    lasts_.insert(lasts_.begin() + static_cast<std::ptrdiff_t>(b + 1), upper.back());
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(upper));
  }
}

bool OpenSet::Erase(double f, std::int64_t id) {
  const OpenEntry e{f, id};
  const std::size_t b = BlockNotBelow(e);
  if (b == blocks_.size()) {
    return false;
  }
  Block& block = blocks_[b];
  const auto at = std::lower_bound(block.begin(), block.end(), e);
  if (at == block.end() || *at != e) {
    return false;
  }
  block.erase(at);
  --size_;
  if (block.empty()) {
    RemoveBlock(b);
    return true;
  }
  lasts_[b] = block.back();
  // Fold a thin block into its successor so blocks stay reasonably full.
  if (block.size() < kMaxBlock / 4 && b + 1 < blocks_.size() &&
      block.size() + blocks_[b + 1].size() <= kMaxBlock) {
    Block& next = blocks_[b + 1];
    next.insert(next.begin(), block.begin(), block.end());
    RemoveBlock(b);
  }
  return true;
}

void OpenSet::RemoveBlock(std::size_t b) {
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
  lasts_.erase(lasts_.begin() + static_cast<std::ptrdiff_t>(b));
}

void OpenSet::EraseAbove(double x) {
  const OpenEntry top = TopOf(x);
  while (!blocks_.empty() && lasts_.back().first > x) {
    Block& block = blocks_.back();
    const auto from = std::upper_bound(block.begin(), block.end(), top);
    size_ -= static_cast<std::size_t>(block.end() - from);
    if (from == block.begin()) {
      RemoveBlock(blocks_.size() - 1);
      continue;
    }
    block.erase(from, block.end());
    lasts_.back() = block.back();
    break;
  }
}

void OpenSet::Clear() {
  blocks_.clear();
  lasts_.clear();
  size_ = 0;
}

OpenSet::const_iterator OpenSet::FirstAbove(double x) const {
  const OpenEntry top = TopOf(x);
  const auto b = static_cast<std::size_t>(std::upper_bound(lasts_.begin(), lasts_.end(), top) -
                                          lasts_.begin());
  if (b == blocks_.size()) {
    return end();
  }
  const Block& block = blocks_[b];
  const auto at = std::upper_bound(block.begin(), block.end(), top);
  return const_iterator(&blocks_, b, static_cast<std::size_t>(at - block.begin()));
}

}  // namespace plenro
