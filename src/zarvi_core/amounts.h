// The amounts of the segment being stepped, parsed once: the element check
// parses each amount it meets that something else reads, and the columns and
// balancing sums reading the same simple element at the same scale take the
// value from here. Holds values only; cleared before each segment.
#pragma once

#include <cstdint>

#include "zarvi_core/int128.h"

namespace zarvi_core {

class Amounts {
 public:
  // Positions kept: 1 to kPositions - 1, the bits of set_.
  static constexpr uint64_t kPositions = 64;

  void clear() { set_ = 0; }
  // Keeps `value`, the text of the present simple element at `position`
  // (below kPositions) read at `scale`: the text any reader of the position,
  // or of its first component, reads.
  void keep(uint64_t position, uint8_t scale, const i128& value) {
    values_[position].value = value;
    values_[position].scale = scale;
    set_ |= uint64_t{1} << position;
  }
  // The value kept for the element at `position` read at `scale`, or null.
  const i128* find(uint64_t position, uint8_t scale) const {
    if (position >= kPositions || (set_ >> position & 1) == 0) return nullptr;
    const Amount& a = values_[position];
    return a.scale == scale ? &a.value : nullptr;
  }

 private:
  struct Amount {
    i128 value = 0;
    uint8_t scale = 0;
  };
  uint64_t set_ = 0;
  Amount values_[kPositions];
};

}  // namespace zarvi_core
