#include "plenro/search/frontier.h"

#include <algorithm>
#include <cstring>

namespace plenro {

namespace {

double ReadDouble(const std::byte* p) {
  double value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

std::uint64_t ReadWord(const std::byte* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof(value));
  return value;
}

// True when every bit of the first `words` visited words `sub` is set in the words at `super`.
bool Covers(const std::byte* super, const std::uint64_t* sub, std::size_t words) {
  std::uint64_t missing = 0;
  for (std::size_t w = 0; w < words; ++w) {
    missing |= sub[w] & ~ReadWord(super + w * 8);
  }
  return missing == 0;
}

// True when every bit of the `words` visited words at `sub` is set in `super`.
bool CoveredBy(const std::byte* sub, const std::uint64_t* super, std::size_t words) {
  std::uint64_t missing = 0;
  for (std::size_t w = 0; w < words; ++w) {
    missing |= ReadWord(sub + w * 8) & ~super[w];
  }
  return missing == 0;
}

// True when each of the n filed costs at `filed` is at most the matching entry of `costs`.
bool FiledCostsNoLarger(const std::byte* filed, const double* costs, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!(ReadDouble(filed + i * 8) <= costs[i])) {
      return false;
    }
  }
  return true;
}

// True when each entry of `costs` is at most the matching one of the n filed costs.
bool CostsNoLargerThanFiled(const double* costs, const std::byte* filed, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!(costs[i] <= ReadDouble(filed + i * 8))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::size_t Frontier::FirstNotBelow(double g) const {
  std::size_t lo = 0;
  std::size_t hi = ordered_size_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (heads_[mid].g < g) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

bool Frontier::TailDominates(std::size_t i, const std::uint64_t* visited,
                             const double* costs) const {
  const std::byte* t = Tail(i);
  return Covers(t, visited + 1, words_ - 1) &&
         FiledCostsNoLarger(t + CostsOffset(), costs, num_costs_);
}

bool Frontier::IsDominated(const SearchState& s) const {
  const double* s_costs = s.costs.data();
  const std::uint64_t* s_visited = s.visited.words.data();
  std::uint64_t unseen = 0;
  for (std::size_t w = 0; w < words_; ++w) {
    unseen |= s_visited[w] & ~seen_.words[w];
  }
  if (unseen != 0) {
    return false;
  }
  const std::uint64_t first = s_visited[0];
  const Head* heads = heads_.data();
  // Records with a NaN g (at the back) dominate nothing; the others are sorted by g.
  for (std::size_t i = 0; i < ordered_size_; ++i) {
    if (!(heads[i].g <= s.g)) {
      break;
    }
    if ((first & ~heads[i].word) == 0 && TailDominates(i, s_visited, s_costs)) {
      return true;
    }
  }
  return false;
}

void Frontier::MoveRecord(std::size_t from, std::size_t to) {
  heads_[to] = heads_[from];
  if (stride_ > 0) {
    std::memcpy(tails_.data() + to * stride_, tails_.data() + from * stride_, stride_);
  }
}

std::int64_t Frontier::Insert(const SearchState& s) {
  const double* s_costs = s.costs.data();
  const std::uint64_t* s_visited = s.visited.words.data();
  const bool ordered = s.g == s.g;  // false for NaN, which dominates nothing
  const std::size_t first = ordered ? FirstNotBelow(s.g) : size_;
  // Only records with g >= s.g can be dominated; keep the others in order, close the gaps.
  std::size_t write = first;
  for (std::size_t read = first; read < size_; ++read) {
    const std::byte* t = Tail(read);
    const bool dominated = read < ordered_size_ && (heads_[read].word & ~s_visited[0]) == 0 &&
                           CoveredBy(t, s_visited + 1, words_ - 1) &&
                           CostsNoLargerThanFiled(s_costs, t + CostsOffset(), num_costs_);
    if (dominated) {
      continue;
    }
    if (write != read) {
      MoveRecord(read, write);
    }
    ++write;
  }
  const std::size_t removed = size_ - write;  // all of them ordered records
  ordered_size_ -= removed;
  size_ = write;
  heads_.resize(size_);

  // File s: at `first` among the ordered records, or at the back when its g is NaN.
  const std::size_t at = ordered ? first : size_;
  if (size_ + 1 > heads_.capacity()) {
    const std::size_t grown = size_ + 1 + heads_.capacity() / 8;
    heads_.reserve(grown);
    tails_.reserve(grown * stride_);
  }
  heads_.insert(heads_.begin() + static_cast<std::ptrdiff_t>(at), Head{s.g, s_visited[0]});
  for (std::size_t w = 0; w < words_; ++w) {
    seen_.words[w] |= s_visited[w];
  }
  tails_.resize((size_ + 1) * stride_);
  if (stride_ > 0) {
    std::byte* base = tails_.data();
    std::memmove(base + (at + 1) * stride_, base + at * stride_, (size_ - at) * stride_);
    std::byte* tail = base + at * stride_;
    std::memcpy(tail, s_visited + 1, (words_ - 1) * kSlotBytes);
    if (num_costs_ > 0) {  // with no agents s_costs may be null, which memcpy must not see
      std::memcpy(tail + CostsOffset(), s_costs, num_costs_ * kSlotBytes);
    }
  }
  ++size_;
  if (ordered) {
    ++ordered_size_;
  }
  return static_cast<std::int64_t>(removed);
}

}  // namespace plenro
