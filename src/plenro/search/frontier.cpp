#include "plenro/search/frontier.h"

#include <algorithm>
#include <cstring>

namespace plenro {

namespace {

// True when every bit of the first `words` visited words `sub` is set in those of `super`.
bool Covers(const std::uint64_t* super, const std::uint64_t* sub, std::size_t words) {
  std::uint64_t missing = 0;
  for (std::size_t w = 0; w < words; ++w) {
    missing |= sub[w] & ~super[w];
  }
  return missing == 0;
}

// True when each of the n entries of `lower` is at most the matching entry of `upper`.
bool NoLarger(const double* lower, const double* upper, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!(lower[i] <= upper[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::size_t Frontier::CountNotBelow(double g) const {
  std::size_t lo = 0;
  std::size_t hi = ordered_size_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (G(mid) >= g) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

template <std::size_t kWords>
bool Frontier::ScanDominated(const SearchState& s) const {
  const double* s_costs = s.costs.data();
  const std::uint64_t* s_visited = s.visited.words.data();
  const double g = s.g;
  // Records with a NaN g (at the back) dominate nothing; the others are sorted by descending g.
  for (std::size_t i = ordered_size_; i-- > 0;) {
    const std::uint64_t* head = Head(i);
    if (!(std::bit_cast<double>(head[0]) <= g)) {
      break;
    }
    std::uint64_t missing = 0;
    for (std::size_t w = 0; w < kWords; ++w) {
      missing |= s_visited[w] & ~head[1 + w];
    }
    if (missing == 0 && NoLarger(Costs(i), s_costs, num_costs_)) {
      return true;
    }
  }
  return false;
}

bool Frontier::IsDominated(const SearchState& s) const {
  if (!Covers(seen_.words.data(), s.visited.words.data(), words_)) {
    return false;
  }
  switch (words_) {
    case 1:
      return ScanDominated<1>(s);
    case 2:
      return ScanDominated<2>(s);
    case 3:
      return ScanDominated<3>(s);
    default:
      return ScanDominated<4>(s);
  }
}

void Frontier::MoveRecord(std::size_t from, std::size_t to) {
  std::copy_n(Head(from), head_slots_, Head(to));
  std::copy_n(Costs(from), num_costs_, costs_.data() + to * num_costs_);
}

std::int64_t Frontier::Insert(const SearchState& s) {
  const double* s_costs = s.costs.data();
  const std::uint64_t* s_visited = s.visited.words.data();
  const bool ordered = s.g == s.g;  // false for NaN, which dominates nothing
  // Only records with g >= s.g (the first `count`) can be dominated; keep the others in order.
  const std::size_t count = ordered ? CountNotBelow(s.g) : 0;
  std::size_t write = 0;
  for (std::size_t read = 0; read < count; ++read) {
    const bool dominated =
        Covers(s_visited, Head(read) + 1, words_) && NoLarger(s_costs, Costs(read), num_costs_);
    if (dominated) {
      continue;
    }
    if (write != read) {
      MoveRecord(read, write);
    }
    ++write;
  }
  const std::size_t removed = count - write;  // all of them ordered records

  // File s after the records with g >= s.g, or at the back when its g is NaN; the records after
  // them move up or down to meet it.
  const std::size_t at = ordered ? write : size_;
  const std::size_t rest = ordered ? size_ - count : 0;
  const std::size_t new_size = size_ - removed + 1;
  if (new_size * head_slots_ > heads_.capacity()) {
    const std::size_t grown = new_size + heads_.capacity() / head_slots_ / 8;
    heads_.reserve(grown * head_slots_);
    costs_.reserve(grown * num_costs_);
  }
  if (new_size > size_) {
    heads_.resize(new_size * head_slots_);
    costs_.resize(new_size * num_costs_);
  }
  std::uint64_t* heads = heads_.data();
  std::memmove(heads + (at + 1) * head_slots_, heads + count * head_slots_,
               rest * head_slots_ * sizeof(std::uint64_t));
  std::uint64_t* head = Head(at);
  head[0] = std::bit_cast<std::uint64_t>(s.g);
  std::copy_n(s_visited, words_, head + 1);
  if (num_costs_ > 0) {  // with no agents s_costs may be null, which memmove must not see
    double* costs = costs_.data();
    std::memmove(costs + (at + 1) * num_costs_, costs + count * num_costs_,
                 rest * num_costs_ * sizeof(double));
    std::copy_n(s_costs, num_costs_, costs + at * num_costs_);
  }
  heads_.resize(new_size * head_slots_);
  costs_.resize(new_size * num_costs_);
  size_ = new_size;
  ordered_size_ = ordered_size_ - removed + (ordered ? 1 : 0);
  for (std::size_t w = 0; w < words_; ++w) {
    seen_.words[w] |= s_visited[w];
  }
  return static_cast<std::int64_t>(removed);
}

}  // namespace plenro
