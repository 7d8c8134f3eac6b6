// Values held between segments for a row in progress or a carried column:
// unset, null, or a cell whose bytes the holder owns (so rows survive the
// segment they were read from). Storage is reused when a value is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zarvi_core/column/column.h"
#include "zarvi_core/int128.h"

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
    using K = column::Cell::Kind;
    kind_ = cell.kind();
    if (kind_ == K::Null) {
      state_ = State::Null;
      return;
    }
    state_ = State::Value;
    switch (kind_) {
      case K::Binary: bytes_.assign(cell.bytes()); break;
      case K::Int64: number_ = cell.int64(); break;
      case K::Decimal128: number_ = cell.decimal128(); break;
      case K::Date32: number_ = cell.date32(); break;
      case K::Time32: number_ = cell.time32(); break;
      case K::Null: break;
    }
  }
  // The value as a cell (null when unset or null); binary bytes are borrowed
  // from this holder.
  column::Cell cell() const {
    using K = column::Cell::Kind;
    if (state_ != State::Value) return column::Cell::null();
    switch (kind_) {
      case K::Binary: return column::Cell::binary(bytes_);
      case K::Int64: return column::Cell::int64(static_cast<int64_t>(number_));
      case K::Decimal128: return column::Cell::decimal128(number_);
      case K::Date32: return column::Cell::date32(static_cast<int32_t>(number_));
      case K::Time32: return column::Cell::time32(static_cast<int32_t>(number_));
      case K::Null: break;
    }
    return column::Cell::null();
  }
  // Counts one more repeat for an n-th pick; saturates.
  uint64_t count_pick();

 private:
  enum class State : uint8_t { Unset, Null, Value };
  // What every watcher tests first leads; the whole holder is 64 bytes, so
  // that a table's slots take few cache lines.
  State state_ = State::Unset;
  column::Cell::Kind kind_ = column::Cell::Kind::Null;
  uint64_t picks_ = 0;
  i128 number_ = 0;  // a fixed-width value
  std::string bytes_;
};

// A carried column of a table: its declared column index and its value.
struct Carried {
  size_t column = 0;
  Held value;
};

}  // namespace zarvi_core::project::carry
