#include "plenro/search/frontier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "plenro/search/dominance_table.h"

namespace plenro {
namespace {

SearchState MakeState(std::vector<std::int64_t> positions, std::vector<double> costs, double g,
                      std::vector<std::uint64_t> visited_points) {
  SearchState s;
  s.positions = std::move(positions);
  s.costs = std::move(costs);
  s.finished.assign(s.positions.size(), 0);
  s.g = g;
  s.num_bits = 10;
  s.visited = VisitedSet::Sized(10);
  for (const std::uint64_t p : visited_points) {
    s.visited.Set(p);
  }
  return s;
}

struct DominanceCase {
  const char* name;
  SearchState filed;
  SearchState tested;
  bool dominated;
};

TEST(FrontierTest, DominanceRule) {
  const std::vector<DominanceCase> cases = {
      {"equal state (tie)", MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), true},
      {"more visited, no larger costs", MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2, 5}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), true},
      {"fewer visited", MakeState({1, 2}, {3.0, 4.0}, 4.0, {1}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), false},
      {"one larger cost", MakeState({1, 2}, {3.0, 4.5}, 4.0, {1, 2}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), false},
      {"larger g", MakeState({1, 2}, {3.0, 4.0}, 4.5, {1, 2}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), false},
      {"strictly better everywhere", MakeState({1, 2}, {1.0, 2.0}, 2.0, {1, 2, 3}),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), true},
      // Inside one frontier finished, unfinished, h and f take no part (the table's key
      // separates finished flags).
      {"h and f differ",
       [] {
         SearchState s = MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2});
         s.h = 100.0;
         s.f = 100.0;
         s.unfinished = 0;
         s.finished = {1, 1};
         return s;
       }(),
       MakeState({1, 2}, {3.0, 4.0}, 4.0, {1, 2}), true},
  };
  for (const DominanceCase& c : cases) {
    Frontier frontier(2);
    EXPECT_FALSE(frontier.IsDominated(c.tested)) << c.name;
    EXPECT_EQ(frontier.Insert(c.filed), 0) << c.name;
    EXPECT_EQ(frontier.IsDominated(c.tested), c.dominated) << c.name;
  }
}

// A frontier answers like a plain list of the states filed and not yet dominated, for one to four
// visited words, NaN values of g among the others, and many states filed at one g.
TEST(FrontierTest, MatchesAPlainListUnderRandomFilings) {
  std::uint64_t seed = 99;
  const auto next = [&seed] {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  const auto dominates = [](const SearchState& t, const SearchState& s, std::size_t words) {
    for (std::size_t w = 0; w < words; ++w) {
      if ((s.visited.words[w] & ~t.visited.words[w]) != 0) {
        return false;
      }
    }
    for (std::size_t i = 0; i < s.costs.size(); ++i) {
      if (!(t.costs[i] <= s.costs[i])) {
        return false;
      }
    }
    return t.g <= s.g;
  };
  for (std::size_t words = 1; words <= 4; ++words) {
    Frontier frontier(3, words);
    std::vector<SearchState> list;
    for (int step = 0; step < 3000; ++step) {
      SearchState s;
      s.positions = {0, 0, 0};
      s.costs = {static_cast<double>(next() % 6), static_cast<double>(next() % 6),
                 static_cast<double>(next() % 6)};
      s.g = next() % 50 == 0 ? std::nan("") : static_cast<double>(next() % 8);
      for (std::size_t w = 0; w < 4; ++w) {
        // Four free bits a word, so that covering sets are common; the words past those kept
        // are alike.
        s.visited.words[w] = w < words ? (~0ull << 4) | (next() & 15) : ~0ull;
      }
      bool expected = false;
      for (const SearchState& t : list) {
        expected = expected || dominates(t, s, words);
      }
      ASSERT_EQ(frontier.IsDominated(s), expected) << "words " << words << ", step " << step;
      if (next() % 2 == 0) {
        const std::size_t before = list.size();
        std::erase_if(list, [&](const SearchState& t) { return dominates(s, t, words); });
        list.push_back(s);
        ASSERT_EQ(frontier.Insert(s), static_cast<std::int64_t>(before + 1 - list.size()));
        ASSERT_EQ(frontier.Size(), list.size());
      }
    }
  }
}

TEST(FrontierTest, InsertRemovesEveryStateTheNewOneDominates) {
  Frontier frontier(2);
  const SearchState worse1 = MakeState({0, 0}, {5.0, 5.0}, 5.0, {1});
  const SearchState other = MakeState({0, 0}, {1.0, 9.0}, 9.0, {1});
  const SearchState worse2 = MakeState({0, 0}, {4.0, 6.0}, 6.0, {2});
  const SearchState best = MakeState({0, 0}, {4.0, 5.0}, 5.0, {1, 2});
  EXPECT_EQ(frontier.Insert(worse1), 0);
  EXPECT_EQ(frontier.Insert(other), 0);
  EXPECT_EQ(frontier.Insert(worse2), 0);
  ASSERT_EQ(frontier.Size(), 3u);
  EXPECT_EQ(frontier.Insert(best), 2);
  EXPECT_EQ(frontier.Size(), 2u);
  // The kept state and the new one still answer; the removed ones are gone.
  EXPECT_TRUE(frontier.IsDominated(other));
  EXPECT_TRUE(frontier.IsDominated(best));
  EXPECT_TRUE(frontier.IsDominated(worse1));  // dominated by best, not by itself
  const SearchState only_other_beats = MakeState({0, 0}, {1.0, 9.0}, 9.0, {});
  EXPECT_TRUE(frontier.IsDominated(only_other_beats));
  const SearchState nobody_beats = MakeState({0, 0}, {3.0, 6.0}, 6.0, {1});
  EXPECT_FALSE(frontier.IsDominated(nobody_beats));
}

TEST(DominanceTableTest, FirstSightRegistersAnEmptyFrontierWithoutFilingTheState) {
  DominanceTable table;
  const SearchState s = MakeState({3, 0, 7}, {1.0, 2.0, 3.0}, 3.0, {3, 7});
  EXPECT_FALSE(table.IsDominated(s));
  EXPECT_EQ(table.NumKeys(), 1u);
  EXPECT_EQ(table.FrontierCount(), 1);
  EXPECT_FALSE(table.IsDominated(s));  // still not filed
  EXPECT_EQ(table.NumKeys(), 1u);
  table.AddToFrontier(s);
  EXPECT_TRUE(table.IsDominated(s));  // the same state popped a second time
  ASSERT_NE(table.FindFrontier({3, 0, 7}), nullptr);
  EXPECT_EQ(table.FindFrontier({3, 0, 7})->Size(), 1u);
  EXPECT_EQ(table.FindFrontier({3, 7, 0}), nullptr);
  table.ResetFrontierCounter();
  EXPECT_EQ(table.FrontierCount(), 0);
  table.Clear();
  EXPECT_EQ(table.NumKeys(), 0u);
  EXPECT_FALSE(table.IsDominated(s));
}

// Kept words: a frontier that keeps fewer visited words answers as one that keeps all four,
// for states whose later words are alike (all set, as above the point count of a search).
TEST(FrontierTest, KeepingOnlyTheWordsOfThePointsChangesNoAnswer) {
  std::vector<SearchState> states;
  for (std::uint64_t k = 0; k < 40; ++k) {
    SearchState s = MakeState({0, 0}, {static_cast<double>(k % 5), static_cast<double>(k % 7)},
                              static_cast<double>(k % 9), {});
    s.num_bits = 100;
    s.visited = VisitedSet::Sized(100);
    for (std::uint64_t p = 0; p < 100; ++p) {
      if ((p * 7 + k * 13) % 11 < k % 6 || (p == 70 && k % 2 == 0)) {
        s.visited.Set(p);
      }
    }
    states.push_back(s);
  }
  Frontier all(2);
  Frontier two(2, 2);
  for (const SearchState& s : states) {
    ASSERT_EQ(two.IsDominated(s), all.IsDominated(s));
    ASSERT_EQ(two.Insert(s), all.Insert(s));
    ASSERT_EQ(two.Size(), all.Size());
  }
}

TEST(DominanceTableTest, LookedUpCombinationsHaveAnEmptyFrontierUntilAStateIsFiled) {
  DominanceTable table;
  const SearchState s = MakeState({2, 5}, {1.0, 2.0}, 2.0, {2});
  EXPECT_EQ(table.FindFrontier({2, 5}), nullptr);
  EXPECT_FALSE(table.IsDominated(s));
  ASSERT_NE(table.FindFrontier({2, 5}), nullptr);
  EXPECT_EQ(table.FindFrontier({2, 5})->Size(), 0u);
  table.AddToFrontier(s);
  EXPECT_EQ(table.FindFrontier({2, 5})->Size(), 1u);
  // Many combinations: the table grows and still finds every one, each with its own frontier.
  for (std::int64_t p = 0; p < 3000; ++p) {
    table.AddToFrontier(MakeState({p % 250, p / 250}, {1.0, 1.0}, 1.0, {}));
  }
  for (std::int64_t p = 0; p < 3000; ++p) {
    const Frontier* frontier = table.FindFrontier({p % 250, p / 250});
    ASSERT_NE(frontier, nullptr) << p;
    EXPECT_EQ(frontier->Size(), p == 5 * 250 + 2 ? 2u : 1u) << p;
  }
  EXPECT_EQ(table.NumKeys(), 3000u);
}

TEST(DominanceTableTest, StatesAtDifferentPositionsNeverMeet) {
  DominanceTable table;
  const SearchState a = MakeState({1, 23}, {1.0, 1.0}, 1.0, {1, 2, 3});
  const SearchState b = MakeState({12, 3}, {5.0, 5.0}, 5.0, {1});
  EXPECT_FALSE(table.IsDominated(a));
  table.AddToFrontier(a);
  EXPECT_FALSE(table.IsDominated(b));
  EXPECT_EQ(table.NumKeys(), 2u);
}

// An agent that ends its route where it stands changes no position, cost or visited point, so
// only the finished flags tell such a state from its parent.
TEST(DominanceTableTest, StatesMeetOnlyWhenTheirAgentsFinishedAlike) {
  struct Case {
    const char* name;
    std::vector<char> filed;
    std::vector<char> tested;
    bool dominated;
  };
  const std::vector<Case> cases = {
      {"none finished", {0, 0, 0}, {0, 0, 0}, true},
      {"the same agent finished", {0, 1, 0}, {0, 1, 0}, true},
      {"one more agent finished", {0, 0, 0}, {0, 1, 0}, false},
      {"one fewer agent finished", {1, 1, 0}, {1, 0, 0}, false},
      {"another agent finished", {1, 0, 0}, {0, 1, 0}, false},
  };
  for (const Case& c : cases) {
    DominanceTable table;
    SearchState filed = MakeState({4, 4, 4}, {2.0, 0.0, 0.0}, 2.0, {1, 4});
    filed.finished = c.filed;
    SearchState tested = filed;
    tested.finished = c.tested;
    EXPECT_FALSE(table.IsDominated(filed)) << c.name;
    table.AddToFrontier(filed);
    EXPECT_EQ(table.IsDominated(tested), c.dominated) << c.name;
    EXPECT_EQ(table.NumKeys(), c.dominated ? 1u : 2u) << c.name;
  }
}

TEST(DominanceTableTest, KeysAreDistinctForDistinctFinishedFlags) {
  const std::vector<std::int64_t> nine(9, 3);
  const std::vector<std::vector<char>> flags = {
      {},
      {0, 0, 0, 0, 0, 0, 0, 0, 1},
      {1, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0, 1, 0},
      {1, 1, 1, 1, 1, 1, 1, 1, 1},
  };
  std::vector<std::string> keys;
  for (const auto& finished : flags) {
    std::string key;
    DominanceTable::BuildKey(nine, finished, key);
    keys.push_back(key);
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = 0; j < keys.size(); ++j) {
      EXPECT_EQ(keys[i] == keys[j], i == j) << "flags " << i << " and " << j;
    }
  }
  // Missing flags read as unfinished.
  std::string all_unfinished;
  DominanceTable::BuildKey(nine, std::vector<char>(9, 0), all_unfinished);
  EXPECT_EQ(keys[0], all_unfinished);
}

TEST(DominanceTableTest, KeysAreDistinctForDistinctPositionLists) {
  const std::vector<std::vector<std::int64_t>> lists = {
      {},         {0},       {0, 0},      {1, 23},     {12, 3},   {123},   {1, 2, 3}, {12, 3, 0},
      {254},      {255},     {256},       {255, 0},    {-1},      {-1, 0}, {0, -1},   {254, 255},
      {255, 254}, {1 << 20}, {INT64_MAX}, {INT64_MIN}, {0, 0, 0}, {2, 55}, {25, 5},   {255, 255}};
  std::vector<std::string> keys;
  for (const auto& positions : lists) {
    std::string key;
    DominanceTable::BuildKey(positions, {}, key);
    keys.push_back(key);
  }
  for (std::size_t i = 0; i < keys.size(); ++i) {
    for (std::size_t j = 0; j < keys.size(); ++j) {
      EXPECT_EQ(keys[i] == keys[j], i == j) << "lists " << i << " and " << j;
    }
  }
}

}  // namespace
}  // namespace plenro
