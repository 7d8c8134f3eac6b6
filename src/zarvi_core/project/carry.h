// Values held between segments for a row in progress or a carried column:
// unset, null, or a cell whose bytes the holder owns (so rows survive the
// segment they were read from). Storage is reused when a value is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zarvi_core/column/column.h"

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
  void set(const column::Cell& cell) {
    if (cell.is_null()) {
      state_ = State::Null;
      return;
    }
    state_ = State::Value;
    if (cell.kind() == column::Cell::Kind::Binary) {
      bytes_.assign(cell.bytes());
      cell_ = column::Cell::binary({});
    } else {
      cell_ = cell;
    }
  }
  // The value as a cell (null when unset or null); binary bytes are borrowed
  // from this holder.
  column::Cell cell() const {
    if (state_ != State::Value) return column::Cell::null();
    if (cell_.kind() == column::Cell::Kind::Binary) return column::Cell::binary(bytes_);
    return cell_;
  }
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
