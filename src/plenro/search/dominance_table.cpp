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

bool DominanceTable::IsDominated(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const auto it = index_.find(key_);
  if (it == index_.end()) {
    Register(s.costs.size());
    return false;
  }
  return frontiers_[static_cast<std::size_t>(it->second)]->IsDominated(s);
}

void DominanceTable::AddToFrontier(const SearchState& s) {
  BuildKey(s.positions, s.finished, key_);
  const auto it = index_.find(key_);
  const std::int64_t index = it != index_.end() ? it->second : Register(s.costs.size());
  frontiers_[static_cast<std::size_t>(index)]->Insert(s);
}

std::int64_t DominanceTable::Register(std::size_t num_costs) {
  const std::int64_t index = frontier_count_;
  ++frontier_count_;
  index_.emplace(key_, index);
  frontiers_.push_back(std::make_unique<Frontier>(num_costs));
  return index;
}

void DominanceTable::Clear() {
  index_.clear();
  frontiers_.clear();
  frontier_count_ = 0;
}

const Frontier* DominanceTable::FindFrontier(const std::vector<std::int64_t>& positions,
                                             const std::vector<char>& finished) {
  BuildKey(positions, finished, key_);
  const auto it = index_.find(key_);
  return it == index_.end() ? nullptr : frontiers_[static_cast<std::size_t>(it->second)].get();
}

}  // namespace plenro
