// Counters and byte totals that stop at their maximum instead of wrapping:
// a count past 2^64 - 1 reads as "at least that many".
#pragma once

#include <cstdint>
#include <limits>

namespace zarvi_core {

inline constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

inline void saturating_increment(uint64_t& counter) {
  if (counter != kSaturated) ++counter;
}

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
  return b > kSaturated - a ? kSaturated : a + b;
}

}  // namespace zarvi_core
