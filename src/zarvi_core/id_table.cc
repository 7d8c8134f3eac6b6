#include "zarvi_core/id_table.h"

#include <random>

namespace zarvi_core::id_table {

uint64_t process_seed() {
  static const uint64_t seed = [] {
    std::random_device rd;
    return (uint64_t{rd()} << 32) ^ rd();
  }();
  return seed;
}

std::size_t IdHash::operator()(std::string_view s) const noexcept {
  // FNV-1a from the seed: ids are short.
  uint64_t h = 0xcbf29ce484222325ULL ^ process_seed();
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ULL;
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

std::size_t KeyHash::operator()(uint64_t key) const noexcept {
  // A bijective mix of the seeded key: each bit of the key moves every bit
  // of the hash, so no pattern of keys survives a bucket count's modulus.
  uint64_t h = key ^ process_seed();
  h = (h ^ (h >> 33)) * 0xff51afd7ed558ccdULL;
  h = (h ^ (h >> 33)) * 0xc4ceb9fe1a85ec53ULL;
  return static_cast<std::size_t>(h ^ (h >> 33));
}

HomeSet::HomeSet(std::span<const uint64_t> keys) : seed_(process_seed()) {
  std::size_t slots = 2;
  while (slots < 2 * keys.size() && slots < kMaxSlots) slots *= 2;
  for (;; slots *= 2) {
    // A few seeds at each size before doubling: some pair of keys shares a
    // home under one seed as often as not, even in a large table.
    for (uint64_t attempt = 0; attempt < kSeeds; ++attempt) {
      seed_ = process_seed() + attempt * 0x9E3779B97F4A7C15ULL;
      if (place(keys, slots)) return;
    }
    if (slots >= kMaxSlots) return;
  }
}

bool HomeSet::place(std::span<const uint64_t> keys, std::size_t slots) {
  slots_.assign(slots, kEmpty);
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots));
  bool shared = false;
  for (const uint64_t key : keys) {
    uint64_t& slot = slots_[home(key)];
    if (slot == kEmpty || slot == key)
      slot = key;
    else
      shared = true;
  }
  return !shared;
}

}  // namespace zarvi_core::id_table
