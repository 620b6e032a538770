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

std::uint64_t DominanceTable::Hash(const std::string& key) {
  // FNV-1a over the key's bytes, then a final mix so that the low bits depend on every byte.
  std::uint64_t h = 1469598103934665603ull;
  for (const char c : key) {
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  h ^= h >> 29;
  h *= 0xbf58476d1ce4e5b9ull;
  h ^= h >> 32;
  return h;
}

std::string_view DominanceTable::KeyOf(std::uint32_t k) const {
  const std::uint64_t begin = k == 0 ? 0 : key_ends_[k - 1];
  return {pool_.data() + begin, static_cast<std::size_t>(key_ends_[k] - begin)};
}

std::uint32_t DominanceTable::Find(std::uint64_t hash, std::size_t& slot) const {
  if (table_.empty()) {
    slot = 0;
    return kNone;
  }
  const std::size_t mask = table_.size() - 1;
  const auto low = static_cast<std::uint32_t>(hash);
  for (slot = low & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t k = table_[slot];
    if (k == kNone) {
      return kNone;
    }
    if (hashes_[k] == low && KeyOf(k) == key_) {
      return k;
    }
  }
}

void DominanceTable::Grow() {
  const std::size_t size = table_.empty() ? 1024 : table_.size() * 2;
  table_.assign(size, kNone);
  const std::size_t mask = size - 1;
  for (std::uint32_t k = 0; k < hashes_.size(); ++k) {
    std::size_t slot = hashes_[k] & mask;
    while (table_[slot] != kNone) {
      slot = (slot + 1) & mask;
    }
    table_[slot] = k;
  }
}

std::uint32_t DominanceTable::Register(std::uint64_t hash, std::size_t slot) {
  const auto k = static_cast<std::uint32_t>(key_ends_.size());
  pool_.insert(pool_.end(), key_.begin(), key_.end());
  key_ends_.push_back(pool_.size());
  frontier_of_.push_back(kNone);
  hashes_.push_back(static_cast<std::uint32_t>(hash));
  ++frontier_count_;
  // At most half the table is in use.
  if (2 * key_ends_.size() > table_.size()) {
    Grow();
  } else {
    table_[slot] = k;
  }
  return k;
}

bool DominanceTable::IsDominated(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const std::uint64_t hash = Hash(key_);
  std::size_t slot = 0;
  const std::uint32_t k = Find(hash, slot);
  if (k == kNone) {
    Register(hash, slot);
    return false;
  }
  const std::uint32_t f = frontier_of_[k];
  return f != kNone && frontiers_[f].IsDominated(s);
}

void DominanceTable::AddToFrontier(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const std::uint64_t hash = Hash(key_);
  std::size_t slot = 0;
  std::uint32_t k = Find(hash, slot);
  if (k == kNone) {
    k = Register(hash, slot);
  }
  if (frontier_of_[k] == kNone) {
    frontier_of_[k] = static_cast<std::uint32_t>(frontiers_.size());
    frontiers_.emplace_back(s.costs.size(), visited_words_);
  }
  frontiers_[frontier_of_[k]].Insert(s);
}

void DominanceTable::Clear() {
  pool_.clear();
  key_ends_.clear();
  frontier_of_.clear();
  table_.clear();
  hashes_.clear();
  frontiers_.clear();
  frontier_count_ = 0;
  visited_words_ = 4;
}

const Frontier* DominanceTable::FindFrontier(const std::vector<std::int64_t>& positions,
                                             const std::vector<char>& finished) {
  BuildKey(positions, finished, key_);
  std::size_t slot = 0;
  const std::uint32_t k = Find(Hash(key_), slot);
  if (k == kNone) {
    return nullptr;
  }
  return frontier_of_[k] == kNone ? &empty_ : &frontiers_[frontier_of_[k]];
}

}  // namespace plenro
