// Lookup by segment id or code: short texts (every X12 id and nearly every
// code) packed into one integer and kept in an open-addressing table, so a
// lookup costs one multiply and a probe or two; longer texts go through a
// string map with IdHash. Tables own their values and borrow nothing.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace zarvi_core::id_table {

// Texts of at most this many bytes have a short key.
inline constexpr std::size_t kShortBytes = 7;

// A per-process seed, so that table layouts are not predictable from input.
uint64_t process_seed();

// A transparent string hash with the per-process seed, for maps keyed by ids.
struct IdHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept;
};

// An integer hash with the per-process seed, for standard maps keyed by short
// keys or other integers from outside: std::hash of an integer is the integer
// itself, so keys that are multiples of the bucket count would share one.
struct KeyHash {
  std::size_t operator()(uint64_t key) const noexcept;
};

// A text of at most kShortBytes as one integer: its bytes under a leading 1
// bit, so that distinct texts (the empty one too) differ and none is 0, the
// empty slot. Inline: every segment asks.
inline uint64_t short_key(std::string_view text) {
  const std::size_t n = text.size();
  const char* const p = text.data();
  auto byte = [&](std::size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
  // Overlapping reads of the text's own bytes: a call to memcpy would cost
  // more than the lookup.
  uint64_t key = 0;
  if (n >= 4) {
    auto four = [&](std::size_t i) {
      return byte(i) | byte(i + 1) << 8 | byte(i + 2) << 16 | byte(i + 3) << 24;
    };
    key = four(0) | four(n - 4) << (8 * (n - 4));
  } else if (n >= 2) {
    key = (byte(0) | byte(1) << 8) | (byte(n - 2) | byte(n - 1) << 8) << (8 * (n - 2));
  } else if (n == 1) {
    key = byte(0);
  }
  return key | uint64_t{1} << (8 * n);
}

// Short keys to values, built once for a known number of keys; at most half
// full, with linear probing.
template <class V>
class Table {
 public:
  Table() : Table(0) {}
  explicit Table(std::size_t keys) : seed_(process_seed()) {
    std::size_t slots = 2;
    while (slots < 2 * keys) slots *= 2;
    keys_.assign(slots, 0);
    values_.assign(slots, V{});
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots));
  }

  bool contains(uint64_t key) const { return find(key) != nullptr; }
  // Null when the key is absent.
  const V* find(uint64_t key) const {
    for (std::size_t i = home(key);; i = (i + 1) & (keys_.size() - 1)) {
      if (keys_[i] == key) return &values_[i];
      if (keys_[i] == 0) return nullptr;
    }
  }
  // Adds a key the table does not hold yet; at most the number of keys the
  // table was built for.
  void insert(uint64_t key, V value) {
    std::size_t i = home(key);
    while (keys_[i] != 0) i = (i + 1) & (keys_.size() - 1);
    keys_[i] = key;
    values_[i] = std::move(value);
  }

 private:
  std::size_t home(uint64_t key) const {
    return static_cast<std::size_t>(((key ^ seed_) * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  std::vector<uint64_t> keys_;  // 0: an empty slot (no short key is 0)
  std::vector<V> values_;
  uint64_t seed_;
  unsigned shift_;
};

// A set of short keys.
struct Member {};
using KeySet = Table<Member>;

// Short keys each in its own home slot, so that asking costs one probe: the
// slots double until no two keys share one. Past kMaxSlots the keys that
// still collide are left out and `contains` says false for them, so it serves
// only as a shortcut in front of a complete lookup. Each size tries a few
// seeds before doubling.
class HomeSet {
 public:
  static constexpr std::size_t kMaxSlots = 4096;

  HomeSet() : HomeSet(std::span<const uint64_t>{}) {}
  explicit HomeSet(std::span<const uint64_t> keys);

  // Never true for a key not given; 0 (no short key) is never held.
  bool contains(uint64_t key) const { return slots_[home(key)] == key; }

 private:
  // Neither a short key nor 0.
  static constexpr uint64_t kEmpty = ~uint64_t{0};
  static constexpr uint64_t kSeeds = 8;

  // Puts each key in its home among `slots`; false when two keys share one
  // (the later is left out).
  bool place(std::span<const uint64_t> keys, std::size_t slots);

  std::size_t home(uint64_t key) const {
    return static_cast<std::size_t>(((key ^ seed_) * 0x9E3779B97F4A7C15ULL) >> shift_);
  }

  std::vector<uint64_t> slots_;
  uint64_t seed_;
  unsigned shift_;
};

}  // namespace zarvi_core::id_table
