#include "plenro/search/frontier.h"

#include <algorithm>
#include <utility>

namespace plenro {

namespace {

// True when every one of the first n costs of `better` is at most the matching one of `worse`.
bool CostsNoLarger(const double* better, const double* worse, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!(better[i] <= worse[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool Frontier::IsDominated(const SearchState& s) const {
  const double* s_costs = s.costs.data();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& t = entries_[i];
    if (t.g <= s.g && CostsNoLarger(CostsAt(i), s_costs, num_costs_) &&
        s.visited.IsSubsetOf(t.visited)) {
      return true;
    }
  }
  return false;
}

std::int64_t Frontier::Insert(const SearchState& s) {
  const double* s_costs = s.costs.data();
  std::size_t kept = entries_.size();
  // Scan from the back; a dominated entry is swapped to the tail, behind the kept ones.
  for (std::size_t i = entries_.size(); i-- > 0;) {
    const Entry& t = entries_[i];
    if (s.g <= t.g && CostsNoLarger(s_costs, CostsAt(i), num_costs_) &&
        t.visited.IsSubsetOf(s.visited)) {
      --kept;
      SwapEntries(i, kept);
    }
  }
  const auto removed = static_cast<std::int64_t>(entries_.size() - kept);
  entries_.resize(kept);
  costs_.resize(kept * num_costs_);
  entries_.push_back(Entry{s.g, s.visited});
  costs_.insert(costs_.end(), s_costs, s_costs + num_costs_);
  return removed;
}

void Frontier::SwapEntries(std::size_t a, std::size_t b) {
  if (a == b) {
    return;
  }
  std::swap(entries_[a], entries_[b]);
  std::swap_ranges(costs_.begin() + static_cast<std::ptrdiff_t>(a * num_costs_),
                   costs_.begin() + static_cast<std::ptrdiff_t>((a + 1) * num_costs_),
                   costs_.begin() + static_cast<std::ptrdiff_t>(b * num_costs_));
}

}  // namespace plenro
