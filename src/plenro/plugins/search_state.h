#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace plenro {

// The records the search and its plug-ins exchange: the visited set, the search state, the focal
// key and the edges of the spanning-tree bound. The instance's own records (points, agents,
// windows) are those of instance/instance_records.h.

// Largest number of points a search can handle: the capacity of the visited set.
inline constexpr std::int64_t kMaxPoints = 256;

// 256-bit set of points: bit k set = point k visited (or not to be visited).
struct VisitedSet {
  std::array<std::uint64_t, 4> words{};

  bool Test(std::uint64_t k) const { return (words[k >> 6] >> (k & 63)) & 1u; }
  void Set(std::uint64_t k) { words[k >> 6] |= std::uint64_t{1} << (k & 63); }
  void Clear(std::uint64_t k) { words[k >> 6] &= ~(std::uint64_t{1} << (k & 63)); }

  // A set sized to n points: bits 0..n-1 clear, every bit at or above n set.
  static VisitedSet Sized(std::int64_t n) {
    VisitedSet s;
    for (std::int64_t w = 0; w < 4; ++w) {
      const std::int64_t lo = w * 64;
      if (n <= lo) {
        s.words[w] = ~std::uint64_t{0};
      } else if (n < lo + 64) {
        s.words[w] = ~std::uint64_t{0} << (n - lo);
      }
    }
    return s;
  }

  // Number of set bits among bits 0..n-1.
  std::int64_t CountBelow(std::int64_t n) const {
    std::int64_t count = 0;
    for (std::int64_t w = 0; w < 4; ++w) {
      const std::int64_t lo = w * 64;
      if (n <= lo) {
        break;
      }
      std::uint64_t word = words[w];
      if (n < lo + 64) {
        word &= (std::uint64_t{1} << (n - lo)) - 1;
      }
      count += std::popcount(word);
    }
    return count;
  }

  // True when every bit set here is also set in `other`.
  bool IsSubsetOf(const VisitedSet& other) const {
    return (words[0] & ~other.words[0]) == 0 && (words[1] & ~other.words[1]) == 0 &&
           (words[2] & ~other.words[2]) == 0 && (words[3] & ~other.words[3]) == 0;
  }

  bool AllSet() const { return (words[0] & words[1] & words[2] & words[3]) == ~std::uint64_t{0}; }

  friend bool operator==(const VisitedSet&, const VisitedSet&) = default;
};

// A partial solution: where every agent stands, what its route has cost so far, which routes
// have ended, and which points are visited.
struct SearchState {
  std::int64_t id = 0;
  std::vector<std::int64_t> positions;
  // Route cost so far of each agent: the time it reached its current point, waiting included.
  std::vector<double> costs;
  VisitedSet visited;
  std::int32_t num_bits = 0;
  double h = 0.0;
  double g = 0.0;
  double f = 0.0;
  std::int64_t unfinished = 0;
  std::uint64_t last_agent = 0;
  std::vector<char> finished;
};

// Entry of the focal set.
struct FocalKey {
  std::int64_t id = 0;
  std::int64_t visited = 0;
  std::int64_t unfinished = 0;
  double f = 0.0;
  // Sum of the state's costs, or 0.0 for a key made when the focal bound grew.
  double total = 0.0;
};

// Undirected edge of the time-window spanning-tree bound, u > v.
struct WeightedEdge {
  std::int64_t u = 0;
  std::int64_t v = 0;
  double weight = 0.0;
};

}  // namespace plenro
