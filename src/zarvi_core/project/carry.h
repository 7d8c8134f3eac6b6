// Values held between segments for a row in progress or a carried column:
// unset, null, or a cell whose bytes the holder owns (so rows survive the
// segment they were read from). Storage is reused when a value is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zarvi_core/column.h"

namespace zarvi_core::project::carry {

class Held {
 public:
  bool is_set() const { return state_ != State::Unset; }
  // Unset, with a zero pick counter.
  void clear() {
    state_ = State::Unset;
    picks_ = 0;
  }
  // Copies the cell, and a binary cell's bytes.
  void set(const column::Cell& cell);
  // The value as a cell (null when unset or null); binary bytes are borrowed
  // from this holder.
  column::Cell cell() const;
  // Counts one more repeat for an n-th pick; saturates.
  uint64_t count_pick();

 private:
  enum class State : uint8_t { Unset, Null, Value };
  State state_ = State::Unset;
  column::Cell cell_;
  std::string bytes_;
  uint64_t picks_ = 0;
};

// A carried column of a table: its declared column index and its value.
struct Carried {
  size_t column = 0;
  Held value;
};

}  // namespace zarvi_core::project::carry
