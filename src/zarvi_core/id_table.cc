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

HomeSet::HomeSet(std::span<const uint64_t> keys) : seed_(process_seed()) {
  std::size_t slots = 2;
  while (slots < 2 * keys.size() && slots < kMaxSlots) slots *= 2;
  for (;; slots *= 2) {
    slots_.assign(slots, kEmpty);
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots));
    bool shared = false;
    for (const uint64_t key : keys) {
      uint64_t& slot = slots_[home(key)];
      if (slot == kEmpty || slot == key) {
        slot = key;
      } else {
        shared = true;
      }
    }
    if (!shared || slots >= kMaxSlots) return;
  }
}

}  // namespace zarvi_core::id_table
