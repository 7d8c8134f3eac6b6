#include "zarvi_core/id_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace zarvi_core::id_table {
namespace {

// Distinct short texts must never share a key, whatever their length: the
// key is built from overlapping reads, so every length takes its own path.
TEST(ShortKey, DistinctTextsHaveDistinctNonZeroKeys) {
  std::mt19937 rng(7);
  const char alphabet[] = {'A', 'B', '\0', '\xff', '1'};
  std::map<uint64_t, std::string> seen;
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % (kShortBytes + 1), '\0');
    for (char& c : text) c = alphabet[rng() % sizeof alphabet];
    const uint64_t key = short_key(text);
    ASSERT_NE(key, 0u) << text.size();
    const auto [at, fresh] = seen.emplace(key, text);
    ASSERT_TRUE(fresh || at->second == text) << "collision at length " << text.size();
  }
}

TEST(Table, FindsWhatWasInsertedAndNothingElse) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{3}, size_t{200}}) {
    SCOPED_TRACE(count);
    Table<uint32_t> table(count);
    for (uint32_t i = 0; i < count; ++i) table.insert(short_key(std::to_string(i)), i * 3);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t* v = table.find(short_key(std::to_string(i)));
      ASSERT_NE(v, nullptr) << i;
      EXPECT_EQ(*v, i * 3);
    }
    EXPECT_EQ(table.find(short_key("X")), nullptr);
    EXPECT_FALSE(table.contains(short_key(std::to_string(count))));
  }
}

// Every key given has its own home slot up to the bound, and nothing else is
// held: not 0 (a long id), not the empty text's key, not a neighbour.
TEST(HomeSet, HoldsItsKeysAndNothingElse) {
  for (const size_t count : {size_t{0}, size_t{1}, size_t{5}, size_t{60}}) {
    SCOPED_TRACE(count);
    std::vector<uint64_t> keys;
    for (size_t i = 0; i < count; ++i) keys.push_back(short_key("S" + std::to_string(i)));
    const HomeSet set(keys);
    for (size_t i = 0; i < count; ++i) EXPECT_TRUE(set.contains(keys[i])) << i;
    for (size_t i = count; i < count + 200; ++i)
      EXPECT_FALSE(set.contains(short_key("S" + std::to_string(i)))) << i;
    EXPECT_FALSE(set.contains(0));
    EXPECT_FALSE(set.contains(short_key("")));
  }
}

// Keys spread over a standard map's buckets whatever their pattern: with an
// integer's own value as its hash, multiples of the bucket count would all
// share one bucket.
TEST(KeyHash, SpreadsKeysOfAnyPattern) {
  constexpr uint64_t kKeys = 20000;
  std::unordered_map<uint64_t, char> plain;
  for (uint64_t k = 0; k < kKeys; ++k) plain[k];
  const uint64_t buckets = plain.bucket_count();
  const struct {
    const char* name;
    uint64_t (*key)(uint64_t i, uint64_t buckets);
  } cases[] = {
      {"multiples of the bucket count", [](uint64_t i, uint64_t b) { return i * b; }},
      {"consecutive", [](uint64_t i, uint64_t) { return i; }},
      {"high bits only", [](uint64_t i, uint64_t) { return i << 40; }},
      {"short keys", [](uint64_t i, uint64_t) { return short_key(std::to_string(i)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unordered_map<uint64_t, char, KeyHash> map;
    for (uint64_t i = 0; i < kKeys; ++i) map[c.key(i, buckets)];
    ASSERT_EQ(map.bucket_count(), buckets);
    size_t largest = 0;
    for (size_t b = 0; b < map.bucket_count(); ++b) largest = std::max(largest, map.bucket_size(b));
    // About ten at the most in a random spread; 20000 in one without a seed.
    EXPECT_LE(largest, 16u);
  }
}

}  // namespace
}  // namespace zarvi_core::id_table
