#include "tolva_ast/ast_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/fatal_error.h"

namespace tolva_ast {
namespace {

// The default traits, counting their calls.
struct CountingKeys {
  static inline std::size_t hashes = 0;
  static inline std::size_t comparisons = 0;
  static std::uint64_t hash(std::string_view key) noexcept {
    ++hashes;
    return TextKeyTraits::hash(key);
  }
  static bool equal(std::string_view a, std::string_view b) noexcept {
    ++comparisons;
    return a == b;
  }
  static void reset() { hashes = comparisons = 0; }
};

// A hash that puts every key of one length into the same slot: the index
// then probes long runs, wrapping around the end of its table.
struct CrowdedKeys {
  static std::uint64_t hash(std::string_view key) noexcept { return 0xFFFFFFF0u + key.size(); }
  static bool equal(std::string_view a, std::string_view b) noexcept { return a == b; }
};

constexpr std::size_t kScanLimit = TextMap<int>::kScanLimit;

std::string key_of(std::size_t i) { return "key_" + std::to_string(i); }

// The map as it was before it had an index: a list scanned for each key, a
// later insertion replacing the value in place.
class ListModel {
 public:
  void insert_or_assign(const std::string& key, int value) {
    for (auto& entry : entries_) {
      if (entry.first == key) {
        entry.second = value;
        return;
      }
    }
    entries_.emplace_back(key, value);
  }
  const int* find(std::string_view key) const {
    for (const auto& entry : entries_) {
      if (entry.first == key) return &entry.second;
    }
    return nullptr;
  }
  const std::vector<std::pair<std::string, int>>& entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, int>> entries_;
};

template <class Keys>
std::vector<std::pair<std::string, int>> entries_of(const TextMap<int, Keys>& map) {
  return {map.begin(), map.end()};
}

// Inserting n new keys, inserting them all again and finding each, present
// or absent, each cost O(n) hashes and key comparisons in all: a scan of
// the entries for each key would compare n * n / 2 times.
TEST(TextMap, InsertsAndLookupsCostAConstantNumberOfHashesAndComparisonsPerKey) {
  for (const std::size_t n : {std::size_t{1000}, std::size_t{20000}}) {
    TextMap<int, CountingKeys> map;
    // The scan of a small map, and the hashing of its keys once it gets an
    // index, are paid once per map.
    const std::size_t once = kScanLimit * kScanLimit + kScanLimit + 1;
    const auto expect_at_most = [&](const char* phase, std::size_t per_key) {
      EXPECT_LE(CountingKeys::comparisons, per_key * n + once) << phase << ", " << n << " keys";
      EXPECT_LE(CountingKeys::hashes, per_key * n + once) << phase << ", " << n << " keys";
      CountingKeys::reset();
    };
    CountingKeys::reset();
    for (std::size_t i = 0; i < n; ++i) map.insert_or_assign(key_of(i), static_cast<int>(i));
    expect_at_most("new keys", 1);
    for (std::size_t i = 0; i < n; ++i) map.insert_or_assign(key_of(i), -static_cast<int>(i));
    expect_at_most("repeated keys", 2);
    for (std::size_t i = 0; i < n; ++i) ASSERT_NE(map.find(key_of(i)), nullptr);
    expect_at_most("present keys", 2);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(map.find(key_of(n + i)), nullptr);
    expect_at_most("absent keys", 1);
    const TextMap<int, CountingKeys> copy = map;
    EXPECT_TRUE(copy == map);
    expect_at_most("equality", 2);
    EXPECT_EQ(map.size(), n);
  }
}

// Insert k new keys, replace some of them, then more new keys and more
// replacements, for k on both sides of the scan limit and of the index's
// growth: the order of first insertion and the last value of each key, as
// the list gives them.
template <class Keys>
void check_replacements_keep_first_positions() {
  const std::size_t sizes[] = {1,  2,  kScanLimit - 1, kScanLimit, kScanLimit + 1, kScanLimit + 2, 15, 16,
                               17, 31, 32,             33,         63,             64,             65, 200};
  for (const std::size_t k : sizes) {
    TextMap<int, Keys> map;
    ListModel model;
    const auto both = [&](const std::string& key, int value) {
      map.insert_or_assign(key, value);
      model.insert_or_assign(key, value);
    };
    for (std::size_t i = 0; i < k; ++i) both(key_of(i), static_cast<int>(i));
    for (std::size_t i = 0; i < k; i += 3) both(key_of(i), 1000 + static_cast<int>(i));
    both(key_of(k - 1), 2000);
    for (std::size_t i = k; i < 2 * k + 1; ++i) both(key_of(i), static_cast<int>(i));
    for (std::size_t i = 1; i < 2 * k + 1; i += 2) both(key_of(i), 3000 + static_cast<int>(i));
    both(key_of(0), 4000);
    ASSERT_EQ(entries_of(map), model.entries()) << k << " keys first";
    EXPECT_EQ(entries_of(map).front(), std::make_pair(key_of(0), 4000)) << k;
    for (std::size_t i = 0; i < 2 * k + 3; ++i) {
      const int* expected = model.find(key_of(i));
      const int* found = map.find(key_of(i));
      ASSERT_EQ(found == nullptr, expected == nullptr) << key_of(i) << " of " << k;
      if (found != nullptr) {
        EXPECT_EQ(*found, *expected) << key_of(i) << " of " << k;
      }
    }
  }
}

TEST(TextMap, AReplacedEntryKeepsItsFirstPositionAndTakesTheLastValue) {
  check_replacements_keep_first_positions<TextKeyTraits>();
  check_replacements_keep_first_positions<CrowdedKeys>();
}

// Random insertions from pools of keys of several sizes, checked against
// the list after every step.
template <class Keys>
void check_random_insertions_against_the_list(std::size_t steps) {
  std::mt19937 random(20261211);
  for (const std::size_t pool : {std::size_t{3}, kScanLimit, kScanLimit + 1, std::size_t{20}, std::size_t{70},
                                 std::size_t{400}}) {
    std::vector<std::string> keys = {"", std::string("\0x", 2), "a", "ab", "same_prefix_1", "same_prefix_2"};
    for (std::size_t i = keys.size(); i < pool; ++i) keys.push_back(key_of(i));
    keys.resize(pool);
    TextMap<int, Keys> map;
    ListModel model;
    for (std::size_t step = 0; step < steps; ++step) {
      const std::string& key = keys[random() % keys.size()];
      map.insert_or_assign(key, static_cast<int>(step));
      model.insert_or_assign(key, static_cast<int>(step));
      ASSERT_EQ(map.size(), model.entries().size()) << "pool " << pool << ", step " << step;
      const std::string& probe = keys[random() % keys.size()];
      const int* found = map.find(probe);
      const int* expected = model.find(probe);
      ASSERT_EQ(found == nullptr, expected == nullptr) << "pool " << pool << ", step " << step;
      if (found != nullptr) {
        ASSERT_EQ(*found, *expected) << "pool " << pool << ", step " << step;
      }
    }
    ASSERT_EQ(entries_of(map), model.entries()) << "pool " << pool;
  }
}

TEST(TextMap, RandomInsertionsGiveTheEntriesOfAScannedList) {
  check_random_insertions_against_the_list<TextKeyTraits>(3000);
  check_random_insertions_against_the_list<CrowdedKeys>(1000);
}

TEST(TextMap, EqualityIgnoresOrderOnBothSidesOfTheScanLimit) {
  for (const std::size_t n : {std::size_t{1}, kScanLimit, kScanLimit + 1, std::size_t{50}}) {
    TextMap<int> forward;
    TextMap<int> backward;
    for (std::size_t i = 0; i < n; ++i) forward.insert_or_assign(key_of(i), static_cast<int>(i));
    for (std::size_t i = n; i-- > 0;) backward.insert_or_assign(key_of(i), static_cast<int>(i));
    EXPECT_TRUE(forward == backward) << n;
    EXPECT_TRUE(backward == forward) << n;

    TextMap<int> other_value = backward;
    other_value.insert_or_assign(key_of(n / 2), -1);
    EXPECT_FALSE(forward == other_value) << n;
    EXPECT_FALSE(other_value == forward) << n;

    // The same size, one key different.
    TextMap<int> other_key;
    for (std::size_t i = 1; i <= n; ++i) other_key.insert_or_assign(key_of(i), static_cast<int>(i % n));
    EXPECT_FALSE(forward == other_key) << n;
    EXPECT_FALSE(other_key == forward) << n;

    TextMap<int> longer = forward;
    longer.insert_or_assign("extra", 0);
    EXPECT_FALSE(forward == longer) << n;
    EXPECT_FALSE(longer == forward) << n;
  }
}

TEST(TextMap, CopiesMovesAndClearingKeepTheIndexRight) {
  for (const std::size_t n : {kScanLimit, kScanLimit + 1, std::size_t{100}}) {
    TextMap<int> map;
    for (std::size_t i = 0; i < n; ++i) map.insert_or_assign(key_of(i), static_cast<int>(i));

    // A copy is equal and independent of its original.
    TextMap<int> copy(map);
    copy.insert_or_assign(key_of(0), -1);
    copy.insert_or_assign(key_of(n), -2);
    EXPECT_EQ(*map.find(key_of(0)), 0) << n;
    EXPECT_EQ(map.find(key_of(n)), nullptr) << n;
    EXPECT_EQ(*copy.find(key_of(0)), -1) << n;
    EXPECT_EQ(*copy.find(key_of(n)), -2) << n;
    TextMap<int> assigned;
    assigned.insert_or_assign("old", 1);
    assigned = map;
    EXPECT_TRUE(assigned == map) << n;
    EXPECT_EQ(assigned.find("old"), nullptr) << n;
    assigned = static_cast<const TextMap<int>&>(assigned);
    EXPECT_TRUE(assigned == map) << n;

    // A moved-from map is empty and takes new entries past the limit again.
    TextMap<int> moved(std::move(copy));
    EXPECT_EQ(moved.size(), n + 1) << n;
    EXPECT_TRUE(copy.empty()) << n;
    TextMap<int> target;
    target = std::move(moved);
    EXPECT_EQ(*target.find(key_of(n)), -2) << n;
    EXPECT_TRUE(moved.empty()) << n;
    for (TextMap<int>* reused : {&copy, &moved, &target}) {
      reused->clear();
      for (std::size_t i = 0; i < n + 5; ++i) reused->insert_or_assign(key_of(i + 7), static_cast<int>(i));
      ASSERT_EQ(reused->size(), n + 5) << n;
      EXPECT_EQ(*reused->find(key_of(7)), 0) << n;
      EXPECT_EQ(*reused->find(key_of(n + 11)), static_cast<int>(n + 4)) << n;
      EXPECT_EQ(reused->find(key_of(0)), nullptr) << n;
      EXPECT_EQ(reused->begin()->first, key_of(7)) << n;
    }
  }
}

// A value that counts the live ones; its copy throws once `copies_left`
// runs out.
struct Tracked {
  static inline int live = 0;
  static inline int copies_left = 1 << 30;
  int value;
  explicit Tracked(int v) : value(v) { ++live; }
  Tracked(const Tracked& other) : value(other.value) {
    if (copies_left-- == 0) throw std::runtime_error("copy refused");
    ++live;
  }
  Tracked(Tracked&& other) noexcept : value(other.value) { ++live; }
  Tracked& operator=(const Tracked&) = default;
  ~Tracked() { --live; }
};

TEST(CompactList, GrowsCopiesMovesAndDestroysEveryValueOnce) {
  {
    CompactList<Tracked> list;
    for (int i = 0; i < 100; ++i) list.emplace_back(i);
    EXPECT_EQ(Tracked::live, 100);
    CompactList<Tracked> copy(list);
    EXPECT_EQ(Tracked::live, 200);
    CompactList<Tracked> moved(std::move(copy));
    EXPECT_EQ(Tracked::live, 200);
    EXPECT_TRUE(copy.empty());
    moved = list;
    EXPECT_EQ(Tracked::live, 200);
    list.reserve(1000);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(list[i].value, i);
    ASSERT_EQ(moved.size(), 100u);
    EXPECT_EQ((moved.end() - 1)->value, 99);

    // A copy that fails part way leaves nothing behind and the source whole.
    Tracked::copies_left = 40;
    EXPECT_THROW(CompactList<Tracked>{list}, std::runtime_error);
    Tracked::copies_left = 1 << 30;
    EXPECT_EQ(Tracked::live, 200);
    list.clear();
    EXPECT_EQ(Tracked::live, 100);
    list.emplace_back(7);
    EXPECT_EQ(list[0].value, 7);
  }
  EXPECT_EQ(Tracked::live, 0);
}

TEST(TextMap, TakesTheRoomOfAVectorInARecord) {
  EXPECT_EQ(sizeof(LocationMap), sizeof(std::vector<int>));
  EXPECT_EQ(sizeof(TextMap<FeatureFieldAST>), sizeof(std::vector<int>));
}

TEST(TextMap, AppendingAPresentKeyIsABrokenInvariant) {
  for (const std::size_t n : {std::size_t{1}, kScanLimit, kScanLimit + 1, std::size_t{40}}) {
    TextMap<int> map;
    for (std::size_t i = 0; i < n; ++i) map.append_new(key_of(i), static_cast<int>(i));
    EXPECT_THROW(map.append_new(key_of(n - 1), 0), tolva::FatalError) << n;
    EXPECT_THROW(map.append_new(key_of(0), 0), tolva::FatalError) << n;
    EXPECT_EQ(map.size(), n);
    EXPECT_EQ(*map.find(key_of(0)), 0);
  }
}

// Slices of one shared list read as lists of their own: equal when their
// locations are, however they are shared; a slice beyond its list is a
// broken invariant.
TEST(LocationSlice, ReadsItsRunOfTheSharedList) {
  const SharedUri uri = std::make_shared<const std::string>("file:///p/a.py");
  auto shared = std::make_shared<const LocationSlice::Shared>(
      LocationSlice::Shared{uri, {Range{{0, 0}, {0, 1}}, Range{{1, 0}, {1, 2}}, Range{{2, 0}, {2, 3}}}});
  const LocationSlice inner(shared, 1, 3);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner.front(), (Location{uri, Range{{1, 0}, {1, 2}}}));
  EXPECT_EQ(inner.back().range, (Range{{2, 0}, {2, 3}}));
  std::vector<Range> read;
  for (const Location& location : inner) read.push_back(location.range);
  EXPECT_EQ(read, (std::vector<Range>{Range{{1, 0}, {1, 2}}, Range{{2, 0}, {2, 3}}}));

  const LocationSlice copy = inner;
  EXPECT_EQ(copy, inner);
  const auto other_uri = std::make_shared<const std::string>("file:///p/a.py");
  EXPECT_EQ(inner, LocationSlice::whole(other_uri, {Range{{1, 0}, {1, 2}}, Range{{2, 0}, {2, 3}}}));
  EXPECT_NE(inner, LocationSlice(shared, 0, 2));
  EXPECT_NE(inner, LocationSlice(shared, 1, 2));
  EXPECT_EQ(LocationSlice(shared, 2, 2), LocationSlice());
  EXPECT_TRUE(LocationSlice(shared, 2, 2).empty());
  EXPECT_THROW(LocationSlice(shared, 2, 4), tolva::FatalError);
  EXPECT_THROW(LocationSlice(shared, 2, 1), tolva::FatalError);
  EXPECT_THROW(LocationSlice(nullptr, 0, 1), tolva::FatalError);
}

// A class source is its lines dedented, built when read; sources compare
// by that text.
TEST(ClassSource, DedentsItsLinesWhenRead) {
  const auto text = std::make_shared<const std::string>("def f():\r    @d\r    class C:\r        x = 1\r\r    y = 2\n");
  const ClassSource outer(text, 0, text->size());
  const ClassSource inner(text, 9, 44);
  EXPECT_EQ(inner.lines(), "    @d\r    class C:\r        x = 1\r\r");
  EXPECT_EQ(inner.text(), "@d\rclass C:\r    x = 1\r\r");
  EXPECT_EQ(outer.text(), *text);
  EXPECT_EQ(inner, ClassSource::whole("@d\rclass C:\r    x = 1\r\r"));
  EXPECT_EQ(inner, ClassSource::whole("  @d\r  class C:\r      x = 1\r  \r"));
  EXPECT_NE(inner, outer);
  const ClassSource copy = inner;
  EXPECT_EQ(copy.text(), inner.text());
  EXPECT_EQ(ClassSource().text(), "");
  EXPECT_EQ(ClassSource(text, 5, 5), ClassSource());
  EXPECT_THROW(ClassSource(text, 0, text->size() + 1), tolva::FatalError);
}

}  // namespace
}  // namespace tolva_ast
