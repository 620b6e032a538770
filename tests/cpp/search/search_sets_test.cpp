#include "plenro/search/search_sets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "plenro/plugins/default_focal_comparator.h"

namespace plenro {
namespace {

std::vector<OpenEntry> OpenEntries(const OpenSet& open) {
  return {open.begin(), open.end()};
}

std::vector<std::int64_t> FocalIds(const FocalSet& focal) {
  std::vector<std::int64_t> ids;
  for (const FocalKey& key : focal.Keys()) {
    ids.push_back(key.id);
  }
  return ids;
}

class SearchSetsTest : public ::testing::Test {
 protected:
  // A key as the search would make it when the bound grows: visited count from a table, total 0.
  FocalKey GrownKey(std::int64_t id, double f) {
    return FocalKey{id, visited_by_id[id], 1, f, 0.0};
  }

  DefaultFocalComparator comparator;
  SearchSets sets{&comparator};
  std::map<std::int64_t, std::int64_t> visited_by_id;
};

TEST_F(SearchSetsTest, OpenSetOrdersByFThenId) {
  sets.open.Insert(5.0, 3);
  sets.open.Insert(2.0, 9);
  sets.open.Insert(5.0, 1);
  sets.open.Insert(7.0, 0);
  EXPECT_EQ(OpenEntries(sets.open),
            (std::vector<OpenEntry>{{2.0, 9}, {5.0, 1}, {5.0, 3}, {7.0, 0}}));
  EXPECT_EQ(sets.open.MinF(), 2.0);
  EXPECT_TRUE(sets.open.Erase(5.0, 1));
  EXPECT_FALSE(sets.open.Erase(5.0, 1));
  sets.open.EraseAbove(5.0);
  EXPECT_EQ(OpenEntries(sets.open), (std::vector<OpenEntry>{{2.0, 9}, {5.0, 3}}));
}

TEST_F(SearchSetsTest, EquivalentFocalKeysOccupyOnePlace) {
  EXPECT_TRUE(sets.focal.Insert(FocalKey{1, 4, 2, 10.0, 6.0}));
  // Same visited count, f and total: not inserted, whatever its id and unfinished count.
  EXPECT_FALSE(sets.focal.Insert(FocalKey{2, 4, 1, 10.0, 6.0}));
  EXPECT_TRUE(sets.focal.Insert(FocalKey{3, 4, 2, 10.0, 5.0}));
  EXPECT_TRUE(sets.focal.Insert(FocalKey{4, 5, 2, 11.0, 9.0}));
  EXPECT_TRUE(sets.focal.Insert(FocalKey{5, 4, 2, 9.0, 9.0}));
  // More visited first, then smaller f, then smaller total.
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{4, 5, 3, 1}));
  EXPECT_EQ(sets.focal.Front().id, 4);
  sets.focal.PopFront();
  EXPECT_EQ(sets.focal.Front().id, 5);
  EXPECT_EQ(sets.focal.Size(), 3u);
}

TEST_F(SearchSetsTest, GrowingTheBoundAddsOpenEntriesWithTotalZero) {
  const std::vector<OpenEntry> open = {{9.0, 0}, {10.0, 1}, {10.5, 2}, {12.0, 3}, {12.5, 4}};
  for (const auto& [f, id] : open) {
    sets.open.Insert(f, id);
    visited_by_id[id] = 3;
  }
  visited_by_id[3] = 4;
  sets.focal.Insert(FocalKey{0, 3, 1, 9.0, 7.0});
  sets.focal.Insert(FocalKey{1, 3, 1, 10.0, 7.0});
  sets.focal_bound = 10.0;

  sets.UpdateFocalBound(10.0, 12.0, [&](std::int64_t id, double f) { return GrownKey(id, f); });
  EXPECT_EQ(sets.focal_bound, 12.0);
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{3, 0, 1, 2}));
  for (const FocalKey& key : sets.focal.Keys()) {
    if (key.id == 2 || key.id == 3) {
      EXPECT_EQ(key.total, 0.0) << key.id;
    }
  }

  sets.UpdateFocalBound(12.0, 10.0, [&](std::int64_t id, double f) { return GrownKey(id, f); });
  EXPECT_EQ(sets.focal_bound, 10.0);
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(sets.open.Size(), 5u);  // the open set is never touched
}

TEST_F(SearchSetsTest, GrownKeyEquivalentToAPresentOneIsDropped) {
  sets.open.Insert(10.0, 1);
  sets.open.Insert(11.0, 2);
  sets.open.Insert(11.0, 3);
  visited_by_id = {{1, 2}, {2, 2}, {3, 2}};
  sets.focal.Insert(FocalKey{1, 2, 1, 10.0, 0.0});
  sets.UpdateFocalBound(10.0, 11.0, [&](std::int64_t id, double f) { return GrownKey(id, f); });
  // 2 and 3 are equivalent keys (same visited, f and total 0.0): the first in (f, id) wins.
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{1, 2}));
}

TEST_F(SearchSetsTest, RefillOffersEveryOpenEntryUpToTheBound) {
  for (std::int64_t id = 0; id < 6; ++id) {
    sets.open.Insert(static_cast<double>(id), id);
    visited_by_id[id] = id;
  }
  sets.RefillFocal(3.0, [&](std::int64_t id, double f) { return GrownKey(id, f); });
  EXPECT_EQ(sets.focal_bound, 3.0);
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{3, 2, 1, 0}));
}

TEST_F(SearchSetsTest, IncumbentPrunesFocalAboveItAndOpenAboveItPlusTwoTenths) {
  const std::vector<OpenEntry> open = {{4.0, 0}, {5.0, 1}, {5.1, 2}, {5.2, 3}, {5.3, 4}};
  for (const auto& [f, id] : open) {
    sets.open.Insert(f, id);
    sets.focal.Insert(FocalKey{id, id, 1, f, 0.0});
  }
  sets.ApplyIncumbent(5.0);
  EXPECT_EQ(FocalIds(sets.focal), (std::vector<std::int64_t>{1, 0}));
  // 5.0 + 0.2 in floating point is 5.2, so 5.2 stays and 5.3 goes.
  EXPECT_EQ(OpenEntries(sets.open),
            (std::vector<OpenEntry>{{4.0, 0}, {5.0, 1}, {5.1, 2}, {5.2, 3}}));
}

TEST_F(SearchSetsTest, PoppedKeysLeaveThePruneIndexToo) {
  for (std::int64_t id = 0; id < 4; ++id) {
    sets.focal.Insert(FocalKey{id, 10 - id, 1, 1.0 + static_cast<double>(id), 0.0});
  }
  sets.focal.PopFront();  // id 0
  sets.focal.PopFront();  // id 1
  sets.focal.EraseAbove(2.5);
  EXPECT_EQ(FocalIds(sets.focal), std::vector<std::int64_t>{});
  sets.focal.Insert(FocalKey{7, 1, 1, 1.0, 0.0});
  sets.focal.EraseAbove(0.5);
  EXPECT_TRUE(sets.focal.Empty());
}

}  // namespace
}  // namespace plenro

namespace plenro {
namespace {

// The blocked open set must behave exactly like an ordered set of (f, id) under any mix of
// inserts, erases and prunes, across many block splits and merges.
TEST(OpenSetTest, MatchesAnOrderedSetUnderRandomOperations) {
  OpenSet open;
  std::set<OpenEntry> reference;
  std::uint64_t state = 12345;
  auto next = [&state] {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return state >> 33;
  };
  std::vector<OpenEntry> live;
  for (int step = 0; step < 60000; ++step) {
    const std::uint64_t op = next() % 100;
    if (op < 60 || live.empty()) {
      const OpenEntry e{static_cast<double>(next() % 500) / 4.0, static_cast<std::int64_t>(step)};
      open.Insert(e.first, e.second);
      reference.insert(e);
      live.push_back(e);
    } else if (op < 97) {
      const std::size_t k = next() % live.size();
      const OpenEntry e = live[k];
      live[k] = live.back();
      live.pop_back();
      EXPECT_EQ(open.Erase(e.first, e.second), reference.erase(e) > 0);
    } else if (op < 98) {
      const double x = static_cast<double>(next() % 500) / 4.0 + 20.0;
      open.EraseAbove(x);
      reference.erase(reference.upper_bound(OpenEntry{x, INT64_MAX}), reference.end());
      std::erase_if(live, [x](const OpenEntry& e) { return e.first > x; });
    } else {
      EXPECT_FALSE(open.Erase(-1.0, 0));
    }
    ASSERT_EQ(open.Size(), reference.size());
    if (!reference.empty()) {
      ASSERT_EQ(open.MinF(), reference.begin()->first);
    }
    if (step % 997 == 0) {
      ASSERT_TRUE(std::equal(open.begin(), open.end(), reference.begin(), reference.end()));
      const double x = static_cast<double>(next() % 500) / 4.0;
      const auto expected = reference.upper_bound(OpenEntry{x, INT64_MAX});
      const auto got = open.FirstAbove(x);
      ASSERT_EQ(got == open.end(), expected == reference.end());
      if (expected != reference.end()) {
        EXPECT_EQ(*got, *expected);
      }
    }
  }
  open.Clear();
  EXPECT_TRUE(open.Empty());
  EXPECT_EQ(open.begin(), open.end());
}

}  // namespace
}  // namespace plenro
