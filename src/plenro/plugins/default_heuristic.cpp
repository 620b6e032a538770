#include "plenro/plugins/default_heuristic.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>

namespace plenro {

namespace {

constexpr std::int32_t kNoRank = std::numeric_limits<std::int32_t>::max();

static_assert(DefaultHeuristic::kUnreachable == std::numeric_limits<double>::max() / 16.0);

// Calls fn(k) for every k < limit whose bit is set in `bits`, ascending.
template <typename Fn>
void ForEachBitBelow(const VisitedSet& bits, std::uint32_t limit, Fn fn) {
  for (std::uint32_t w = 0; w < 4 && w * 64 < limit; ++w) {
    std::uint64_t word = bits.words[w];
    while (word != 0) {
      const std::uint32_t k = w * 64 + static_cast<std::uint32_t>(std::countr_zero(word));
      if (k >= limit) {
        return;
      }
      fn(k);
      word &= word - 1;
    }
  }
}

VisitedSet AndNot(const VisitedSet& a, const VisitedSet& b) {
  VisitedSet out;
  for (std::size_t w = 0; w < 4; ++w) {
    out.words[w] = a.words[w] & ~b.words[w];
  }
  return out;
}

}  // namespace

void DefaultHeuristic::SetEdgeList(const std::vector<WeightedEdge>& edges) {
  edges_ = edges;
  const auto in_range = [](std::int64_t v) { return v >= 0 && v < kMaxPoints; };
  const auto usable = [&](const WeightedEdge& e) {
    // Written as `weight < kNoConnection` so that a NaN weight is never usable either.
    return in_range(e.u) && in_range(e.v) && e.u != e.v && e.weight < kNoConnection;
  };
  dim_ = 0;
  for (const WeightedEdge& e : edges_) {
    if (usable(e)) {
      dim_ = std::max<std::uint32_t>(dim_, static_cast<std::uint32_t>(std::max(e.u, e.v) + 1));
    }
  }
  rank_.assign(static_cast<std::size_t>(dim_) * dim_, kNoRank);
  // Walking the list forwards, the first usable copy of a pair holds its smallest rank.
  for (std::size_t r = 0; r < edges_.size(); ++r) {
    const WeightedEdge& e = edges_[r];
    if (!usable(e)) {
      continue;
    }
    const auto u = static_cast<std::size_t>(e.u);
    const auto v = static_cast<std::size_t>(e.v);
    std::int32_t& cell = rank_[u * dim_ + v];
    if (cell == kNoRank) {
      cell = static_cast<std::int32_t>(r);
      rank_[v * dim_ + u] = cell;
    }
  }
}

double DefaultHeuristic::Estimate(const SearchState& state) const {
  const std::uint64_t agents = link_.view().num_agents();
  VisitedSet in_tree = state.visited;
  VisitedSet closed = state.visited;
  for (std::uint64_t i = 0; i < agents; ++i) {
    in_tree.Set(static_cast<std::uint64_t>(state.positions[i]));
  }
  for (std::uint64_t i = 0; i < agents; ++i) {
    if (state.finished[i] == 0) {
      closed.Clear(static_cast<std::uint64_t>(state.positions[i]));
    }
  }
  const std::int64_t n = std::min<std::int64_t>(state.num_bits, kMaxPoints);
  if (n <= 0) {
    return 0.0;
  }
  std::int64_t missing = n - in_tree.CountBelow(n);
  if (missing == 0) {
    return 0.0;
  }

  // Open points that some usable edge touches, with the best rank joining each to the tree.
  VisitedSet outside;
  for (std::size_t w = 0; w < 4; ++w) {
    outside.words[w] = ~(in_tree.words[w] | closed.words[w]);
  }
  // The open points in a compact list, each with its best rank so far at the same place.
  std::array<std::uint16_t, kMaxPoints> open{};
  std::array<std::int32_t, kMaxPoints> key;
  std::uint32_t num_open = 0;
  ForEachBitBelow(outside, dim_, [&](std::uint32_t x) {
    open[num_open] = static_cast<std::uint16_t>(x);
    key[num_open++] = kNoRank;
  });
  const auto relax_from = [&](std::uint32_t t) {
    const std::int32_t* row = &rank_[static_cast<std::size_t>(t) * dim_];
    for (std::uint32_t c = 0; c < num_open; ++c) {
      key[c] = std::min(key[c], row[open[c]]);
    }
  };
  ForEachBitBelow(AndNot(in_tree, closed), dim_, relax_from);
  // Ranks are distinct across pairs, and an open point's rank names an edge to the tree, so no
  // two open points share a rank: the smallest key names exactly the edge the list scan would
  // take next, whatever the order of the open list.
  std::uint32_t best = 0;
  std::int32_t best_key = kNoRank;
  for (std::uint32_t c = 0; c < num_open; ++c) {
    if (key[c] < best_key) {
      best_key = key[c];
      best = c;
    }
  }

  double sum = 0.0;
  while (missing > 0) {
    if (best_key == kNoRank) {
      return kUnreachable;
    }
    const std::uint16_t x = open[best];
    sum += edges_[static_cast<std::size_t>(best_key)].weight;
    if (x < n) {
      --missing;
    }
    --num_open;
    open[best] = open[num_open];
    key[best] = key[num_open];
    // Join x to the tree and find the next edge in one pass.
    const std::int32_t* row = &rank_[static_cast<std::size_t>(x) * dim_];
    best_key = kNoRank;
    for (std::uint32_t c = 0; c < num_open; ++c) {
      const std::int32_t k = std::min(key[c], row[open[c]]);
      key[c] = k;
      if (k < best_key) {
        best_key = k;
        best = c;
      }
    }
  }
  return sum;
}

}  // namespace plenro
