#include "plenro/search/dominance_table.h"

#include <cstring>

namespace plenro {

namespace {

constexpr unsigned char kWideMarker = 255;

}  // namespace

void DominanceTable::BuildKey(const std::vector<std::int64_t>& positions,
                              const std::vector<char>& finished, std::string& key) {
  key.clear();
  for (const std::int64_t p : positions) {
    if (p >= 0 && p < kWideMarker) {
      key.push_back(static_cast<char>(static_cast<unsigned char>(p)));
    } else {
      key.push_back(static_cast<char>(kWideMarker));
      char bytes[sizeof(p)];
      std::memcpy(bytes, &p, sizeof(p));
      key.append(bytes, sizeof(p));
    }
  }
  unsigned char flags = 0;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    if (i < finished.size() && finished[i] != 0) {
      flags = static_cast<unsigned char>(flags | (1u << (i % 8)));
    }
    if (i % 8 == 7 || i + 1 == positions.size()) {
      key.push_back(static_cast<char>(flags));
      flags = 0;
    }
  }
}

std::uint64_t DominanceTable::TagOf(const std::string& key) {
  if (key.size() <= kShortKey) {
    std::uint64_t tag = 0;
    std::memcpy(&tag, key.data(), key.size());
    // Little or big endian, the bytes and the length name the key exactly.
    return tag | (static_cast<std::uint64_t>(key.size()) << 56);
  }
  // FNV-1a over the key's bytes.
  std::uint64_t h = 1469598103934665603ull;
  for (const char c : key) {
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return h | kLongTag;
}

std::uint64_t DominanceTable::SlotHash(std::uint64_t tag) {
  // A final mix, so that the low bits depend on every byte.
  std::uint64_t h = tag;
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ull;
  h ^= h >> 32;
  return h;
}

std::string_view DominanceTable::KeyOf(std::uint32_t k) const {
  const std::uint64_t begin = k == 0 ? 0 : key_ends_[k - 1];
  return {pool_.data() + begin, static_cast<std::size_t>(key_ends_[k] - begin)};
}

std::uint32_t DominanceTable::Find(std::uint64_t tag, std::size_t& slot) const {
  if (table_.empty()) {
    slot = 0;
    return kNone;
  }
  const std::size_t mask = table_.size() - 1;
  const bool short_key = (tag & kLongTag) != kLongTag;
  for (slot = SlotHash(tag) & mask;; slot = (slot + 1) & mask) {
    const Slot& entry = table_[slot];
    if (entry.key == kNone) {
      return kNone;
    }
    if (entry.tag == tag && (short_key || KeyOf(entry.key) == key_)) {
      return entry.key;
    }
  }
}

void DominanceTable::Grow() {
  const std::size_t size = table_.empty() ? 1024 : table_.size() * 2;
  std::vector<Slot> old(size);
  old.swap(table_);
  const std::size_t mask = size - 1;
  // Keys go back in the order of their numbers, as they were registered.
  std::vector<Slot> by_key(key_ends_.size());
  for (const Slot& entry : old) {
    if (entry.key != kNone) {
      by_key[entry.key] = entry;
    }
  }
  for (const Slot& entry : by_key) {
    if (entry.key == kNone) {
      continue;
    }
    std::size_t slot = SlotHash(entry.tag) & mask;
    while (table_[slot].key != kNone) {
      slot = (slot + 1) & mask;
    }
    table_[slot] = entry;
  }
}

std::uint32_t DominanceTable::Register(std::uint64_t tag, std::size_t slot) {
  const auto k = static_cast<std::uint32_t>(key_ends_.size());
  pool_.insert(pool_.end(), key_.begin(), key_.end());
  key_ends_.push_back(pool_.size());
  ++frontier_count_;
  if (table_.empty()) {
    Grow();
    Find(tag, slot);
  }
  table_[slot] = Slot{tag, k, kNone};
  // At most half the table is in use.
  if (2 * key_ends_.size() > table_.size()) {
    Grow();
  }
  return k;
}

bool DominanceTable::IsDominated(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const std::uint64_t tag = TagOf(key_);
  std::size_t slot = 0;
  const std::uint32_t k = Find(tag, slot);
  if (k == kNone) {
    Register(tag, slot);
    return false;
  }
  const std::uint32_t f = table_[slot].frontier;
  return f != kNone && frontiers_[f].IsDominated(s);
}

void DominanceTable::AddToFrontier(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const std::uint64_t tag = TagOf(key_);
  std::size_t slot = 0;
  if (Find(tag, slot) == kNone) {
    Register(tag, slot);
    Find(tag, slot);  // a growth may have moved it
  }
  Slot& entry = table_[slot];
  if (entry.frontier == kNone) {
    entry.frontier = static_cast<std::uint32_t>(frontiers_.size());
    frontiers_.emplace_back(s.costs.size(), visited_words_);
  }
  frontiers_[entry.frontier].Insert(s);
}

void DominanceTable::Clear() {
  pool_.clear();
  key_ends_.clear();
  table_.clear();
  frontiers_.clear();
  frontier_count_ = 0;
  visited_words_ = 4;
}

const Frontier* DominanceTable::FindFrontier(const std::vector<std::int64_t>& positions,
                                             const std::vector<char>& finished) {
  BuildKey(positions, finished, key_);
  std::size_t slot = 0;
  const std::uint32_t k = Find(TagOf(key_), slot);
  if (k == kNone) {
    return nullptr;
  }
  const std::uint32_t f = table_[slot].frontier;
  return f == kNone ? &empty_ : &frontiers_[f];
}

}  // namespace plenro
