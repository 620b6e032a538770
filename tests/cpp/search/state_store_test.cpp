#include "plenro/search/state_store.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace plenro {
namespace {

SearchState MakeState(std::vector<std::int64_t> positions, std::vector<double> costs,
                      std::vector<char> finished) {
  SearchState s;
  s.positions = std::move(positions);
  s.costs = std::move(costs);
  s.finished = std::move(finished);
  s.num_bits = 70;
  s.visited = VisitedSet::Sized(70);
  s.visited.Set(3);
  s.visited.Set(69);
  s.h = 1.5;
  s.g = 2.5;
  s.f = 4.0;
  s.unfinished = 2;
  s.last_agent = 1;
  return s;
}

TEST(StateStoreTest, CapacityGrowsByDoublingStepsUpToTheCap) {
  StateStore store(2);
  std::vector<std::int64_t> capacities;
  for (std::int64_t i = 0; i < 20000; ++i) {
    const bool grows = store.NextIdGrows();
    const std::int64_t before = store.Capacity();
    ASSERT_EQ(store.NewStateId(), i);
    ASSERT_EQ(store.Count(), i + 1);
    EXPECT_EQ(store.Capacity() != before, grows) << "id " << i;
    if (grows) {
      capacities.push_back(store.Capacity());
    }
  }
  EXPECT_EQ(capacities, (std::vector<std::int64_t>{1024, 3072, 7168, 11264, 15360, 19456, 23552}));
  EXPECT_EQ(store.GrowthStep(), 4096);
}

TEST(StateStoreTest, ReservedSlotsHaveParentZeroUntilSet) {
  StateStore store(1);
  const std::int64_t root = store.NewStateId();
  store.SetParent(root, -1);
  const std::int64_t child = store.NewStateId();
  store.SetParent(child, root);
  EXPECT_EQ(store.Parent(root), -1);
  EXPECT_EQ(store.Parent(child), 0);
  // Slots reserved by the growth but not yet handed out.
  EXPECT_EQ(store.Parent(1023), 0);
  SearchState empty;
  store.Load(1023, empty);
  EXPECT_TRUE(empty.positions.empty());
  EXPECT_TRUE(empty.costs.empty());
  EXPECT_TRUE(empty.finished.empty());
}

TEST(StateStoreTest, LoadGivesBackWhatWasStoredIntoAReusedBuffer) {
  StateStore store(3);
  const SearchState a = MakeState({0, 255, 7}, {0.0, 1.25, 1e300}, {0, 1, 0});
  SearchState b = MakeState({4, 4, 4}, {3.0, 2.0, 1.0}, {1, 1, 1});
  b.visited = VisitedSet::Sized(256);
  b.num_bits = 256;
  b.unfinished = 0;
  const std::int64_t ia = store.NewStateId();
  const std::int64_t ib = store.NewStateId();
  store.Store(ia, a);
  store.Store(ib, b);

  SearchState out = MakeState({9, 9, 9, 9}, {9.0}, {1});
  using Case = std::pair<std::int64_t, const SearchState*>;
  for (const auto& [id, expected] : {Case{ia, &a}, Case{ib, &b}}) {
    store.Load(id, out);
    EXPECT_EQ(out.id, id);
    EXPECT_EQ(out.positions, expected->positions);
    EXPECT_EQ(out.costs, expected->costs);
    EXPECT_EQ(out.finished, expected->finished);
    EXPECT_EQ(out.visited, expected->visited);
    EXPECT_EQ(out.num_bits, expected->num_bits);
    EXPECT_EQ(out.h, expected->h);
    EXPECT_EQ(out.g, expected->g);
    EXPECT_TRUE(out.f != out.f);  // f is not kept: the search's sets hold it
    EXPECT_EQ(out.unfinished, expected->unfinished);
    EXPECT_EQ(out.last_agent, expected->last_agent);
    EXPECT_EQ(store.Unfinished(id), expected->unfinished);
    EXPECT_EQ(store.Position(id, 1), expected->positions[1]);
    EXPECT_EQ(store.Cost(id, 2), expected->costs[2]);
  }
}

TEST(StateStoreTest, StatesAcrossBlockBoundariesStayApart) {
  StateStore store(1);
  for (std::int64_t i = 0; i < 5000; ++i) {
    const std::int64_t id = store.NewStateId();
    store.Store(id, MakeState({id % 256}, {static_cast<double>(id)}, {0}));
    store.SetParent(id, id - 1);
  }
  for (const std::int64_t id : {0, 1023, 1024, 3071, 3072, 4999}) {
    EXPECT_EQ(store.Cost(id, 0), static_cast<double>(id));
    EXPECT_EQ(store.Position(id, 0), id % 256);
    EXPECT_EQ(store.Parent(id), id - 1);
  }
}

// A line of children, each stored as its parent's change: every one loads as it was filed,
// across the whole records written every kMaxHops generations, with g and h given back only
// for those stored whole.
TEST(StateStoreTest, ChildrenStoredAsChangesLoadAsTheyWereFiled) {
  const std::size_t agents = 3;
  StateStore store(agents);
  SearchState state = MakeState({0, 255, 7}, {0.0, 0.5, 1.0}, {0, 0, 0});
  state.unfinished = 3;
  state.last_agent = 0;
  std::vector<SearchState> filed;
  std::int64_t parent = store.NewStateId();
  store.Store(parent, state);
  store.SetParent(parent, -1);
  filed.push_back(state);
  for (std::int64_t step = 1; step < 3 * StateStore::kMaxHops + 5; ++step) {
    const auto a = static_cast<std::size_t>(step * 5 % agents);
    state.last_agent = a;
    state.positions[a] = (step * 37) % 70;
    state.visited.Set(static_cast<std::uint64_t>(state.positions[a]));
    state.costs[a] += 0.1 * static_cast<double>(step);
    if (step % 11 == 0 && state.finished[a] == 0) {
      state.finished[a] = 1;
      state.unfinished -= 1;
    }
    state.f = static_cast<double>(step) + 0.25;
    state.g = 2.0 * static_cast<double>(step);
    state.h = 0.5;
    const std::int64_t id = store.NewStateId();
    store.StoreChild(id, parent, state);
    EXPECT_EQ(store.Parent(id), parent);
    parent = id;
    filed.push_back(state);
  }
  SearchState out;
  std::size_t whole = 0;
  for (std::size_t id = 0; id < filed.size(); ++id) {
    const SearchState& expected = filed[id];
    store.Load(static_cast<std::int64_t>(id), out);
    EXPECT_EQ(out.positions, expected.positions) << id;
    EXPECT_EQ(out.costs, expected.costs) << id;
    EXPECT_EQ(out.finished, expected.finished) << id;
    EXPECT_EQ(out.visited, expected.visited) << id;
    EXPECT_EQ(out.num_bits, expected.num_bits) << id;
    EXPECT_EQ(out.unfinished, expected.unfinished) << id;
    EXPECT_EQ(store.Unfinished(static_cast<std::int64_t>(id)), expected.unfinished) << id;
    SearchState counts;
    store.LoadVisited(static_cast<std::int64_t>(id), counts);
    EXPECT_EQ(counts.visited, expected.visited) << id;
    EXPECT_EQ(counts.num_bits, expected.num_bits) << id;
    EXPECT_EQ(counts.unfinished, expected.unfinished) << id;
    EXPECT_EQ(out.last_agent, expected.last_agent) << id;
    if (out.g == out.g) {
      ++whole;
      EXPECT_EQ(out.g, expected.g) << id;
      EXPECT_EQ(out.h, expected.h) << id;
    }
    for (std::size_t a = 0; a < agents; ++a) {
      EXPECT_EQ(store.Position(static_cast<std::int64_t>(id), a), expected.positions[a]) << id;
      EXPECT_EQ(store.Cost(static_cast<std::int64_t>(id), a), expected.costs[a]) << id;
    }
  }
  // The root and one in every kMaxHops generations after it.
  EXPECT_EQ(whole, (filed.size() + StateStore::kMaxHops - 1) / StateStore::kMaxHops);
}

// A change records at most one route ended by the move; a child whose unfinished count is
// neither its parent's nor one less is filed whole, and every child loads as it was filed,
// whether the caller gives the parent's count or the store reads it.
TEST(StateStoreTest, ChildrenWhoseCountJumpsAreFiledWhole) {
  StateStore store(3);
  SearchState parent = MakeState({1, 2, 3}, {1.0, 2.0, 3.0}, {0, 0, 0});
  parent.unfinished = 3;
  const std::int64_t root = store.NewStateId();
  store.Store(root, parent);
  store.SetParent(root, -1);
  struct Case {
    std::int64_t unfinished;
    std::int64_t given;  // the parent's count as the caller gives it, -1 for none
    bool whole;
  };
  for (const Case& c : {Case{3, -1, false}, Case{2, 3, false}, Case{2, -1, false},
                        Case{1, -1, true}, Case{0, 3, true}}) {
    SearchState child = parent;
    child.last_agent = 2;
    child.positions[2] = 9;
    child.visited.Set(9);
    child.costs[2] = 7.5;
    child.unfinished = c.unfinished;
    for (std::int64_t a = 0; a < 3 - c.unfinished; ++a) {
      child.finished[static_cast<std::size_t>(2 - a)] = 1;
    }
    const std::int64_t id = store.NewStateId();
    store.StoreChild(id, root, child, c.given);
    SearchState out;
    store.Load(id, out);
    EXPECT_EQ(out.unfinished, c.unfinished);
    EXPECT_EQ(store.Unfinished(id), c.unfinished);
    EXPECT_EQ(out.positions, child.positions);
    EXPECT_EQ(out.costs, child.costs);
    EXPECT_EQ(out.visited, child.visited);
    EXPECT_EQ(out.finished, child.finished);
    EXPECT_EQ(store.Parent(id), root);
    EXPECT_EQ(out.g == out.g, c.whole) << c.unfinished;
  }
}

TEST(StateStoreTest, RefusesAChangeOfAStateThatHoldsNothing) {
  StateStore store(2);
  const std::int64_t parent = store.NewStateId();
  const std::int64_t child = store.NewStateId();
  SearchState s = MakeState({0, 1}, {0.0, 0.0}, {0, 0});
  EXPECT_THROW(store.StoreChild(child, parent, s), std::invalid_argument);
  store.Store(parent, s);
  s.last_agent = 2;  // no such agent
  EXPECT_THROW(store.StoreChild(child, parent, s), std::invalid_argument);
  s.last_agent = 1;
  s.positions[1] = 256;
  EXPECT_THROW(store.StoreChild(child, parent, s), std::invalid_argument);
  EXPECT_THROW(StateStore(StateStore::kMaxAgents + 1), std::invalid_argument);
}

TEST(StateStoreTest, RejectsStatesThatDoNotFitTheLayout) {
  StateStore store(2);
  const std::int64_t id = store.NewStateId();
  EXPECT_THROW(store.Store(id, MakeState({0}, {0.0}, {0})), std::invalid_argument);
  EXPECT_THROW(store.Store(id, MakeState({0, 256}, {0.0, 0.0}, {0, 0})), std::invalid_argument);
  EXPECT_THROW(store.Store(id, MakeState({-1, 0}, {0.0, 0.0}, {0, 0})), std::invalid_argument);
}

TEST(StateStoreTest, ResetStartsOverWithTheFirstStep) {
  StateStore store(1);
  for (int i = 0; i < 2000; ++i) {
    store.NewStateId();
  }
  store.Reset(4);
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.Capacity(), 0);
  EXPECT_EQ(store.GrowthStep(), 1024);
  EXPECT_TRUE(store.NextIdGrows());
  EXPECT_EQ(store.NewStateId(), 0);
  EXPECT_EQ(store.Capacity(), 1024);
  EXPECT_EQ(store.BytesPerState() % 8, 0u);
  // A slot holds at least the compact record: a route cost, the parent, the last agent, a
  // position and the hop count; the agents' costs lie in the whole records.
  EXPECT_GE(store.BytesPerState(), sizeof(double) + 4 + 2 + 2);
}

}  // namespace
}  // namespace plenro
