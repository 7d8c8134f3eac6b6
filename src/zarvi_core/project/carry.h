// Values held between segments for a row in progress or a carried column:
// unset, null, or a cell whose bytes the holder owns (so rows survive the
// segment they were read from). Storage is reused when a value is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "zarvi_core/column/buffer.h"
#include "zarvi_core/column/column.h"
#include "zarvi_core/column/parse.h"
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
    switch (cell.kind()) {
      case K::Null: return set_null();
      case K::Binary: return set_bytes(cell.bytes());
      case K::Int64: return set_number(K::Int64, cell.int64());
      case K::Decimal128: return set_number(K::Decimal128, cell.decimal128());
      case K::Date32: return set_number(K::Date32, cell.date32());
      case K::Time32: return set_number(K::Time32, cell.time32());
    }
  }
  // set() of the cell a column of `type` keeps for an element's text, read
  // straight into the holder: any text as binary; null for no text, and for
  // empty or invalid text of another type.
  void set_text(column::ColumnType type, const std::optional<std::string_view>& text) {
    using K = column::ColumnType::Kind;
    if (!text) return set_null();
    if (type.kind == K::Binary) return set_bytes(*text);
    if (text->empty()) return set_null();
    const column::Cell::Kind kind = column::cell_kind(type.kind);
    switch (type.kind) {
      case K::Decimal128: {
        i128 v;
        if (column::parse::parse_r_to(*text, type.scale, v)) return set_number(kind, v);
        break;
      }
      case K::Date32: {
        int32_t days;
        if (column::parse::parse_date32(*text, days)) return set_number(kind, days);
        break;
      }
      case K::Int64:
        if (const auto v = column::parse::parse_int64(*text)) return set_number(kind, *v);
        break;
      case K::Time32:
        if (const auto t = column::parse::parse_tm(*text))
          return set_number(kind, static_cast<int32_t>(*t));
        break;
      case K::Binary: break;
    }
    set_null();
  }
  // set_text() for a decimal128 column of a text already parsed to `value`.
  void set_amount(i128 value) { set_number(column::Cell::Kind::Decimal128, value); }
  // set() of an int64 cell.
  void set_int64(int64_t v) { set_number(column::Cell::Kind::Int64, v); }
  // Writes the value as `row.cell(cell())` does, without making the cell.
  template <class Row>
  void write_to(Row& row) const {
    using K = column::Cell::Kind;
    if (state_ != State::Value) return row.null();
    switch (kind_) {
      case K::Binary: return row.binary(bytes());
      case K::Int64: return row.value(static_cast<int64_t>(number()));
      case K::Decimal128: return row.value(number());
      case K::Date32:
      case K::Time32: return row.value(static_cast<int32_t>(number()));
      case K::Null: break;
    }
    row.null();
  }
  // The value as a cell (null when unset or null); binary bytes are borrowed
  // from this holder.
  column::Cell cell() const {
    using K = column::Cell::Kind;
    if (state_ != State::Value) return column::Cell::null();
    switch (kind_) {
      case K::Binary: return column::Cell::binary(bytes());
      case K::Int64: return column::Cell::int64(static_cast<int64_t>(number()));
      case K::Decimal128: return column::Cell::decimal128(number());
      case K::Date32: return column::Cell::date32(static_cast<int32_t>(number()));
      case K::Time32: return column::Cell::time32(static_cast<int32_t>(number()));
      case K::Null: break;
    }
    return column::Cell::null();
  }
  // Counts one more repeat for an n-th pick; saturates.
  uint64_t count_pick();

 private:
  enum class State : uint8_t { Unset, Null, Value };
  // Binary values up to this many bytes are kept in `word_`.
  static constexpr uint8_t kShort = 16;
  static constexpr uint8_t kLong = 0xFF;  // short_: the bytes are in long_

  void set_null() {
    state_ = State::Null;
    kind_ = column::Cell::Kind::Null;
  }
  // Stored as two words: a parsed amount is often still in memory as two
  // words, and one wide load of them would stall on their stores.
  void set_number(column::Cell::Kind kind, i128 v) {
    state_ = State::Value;
    kind_ = kind;
    const auto low = static_cast<uint64_t>(v);
    const auto high = static_cast<uint64_t>(static_cast<u128>(v) >> 64);
    std::memcpy(word_, &low, sizeof low);
    std::memcpy(word_ + sizeof low, &high, sizeof high);
  }
  // Most codes, ids and names are short: copied in two overlapping moves,
  // without a call.
  void set_bytes(std::string_view text) {
    state_ = State::Value;
    kind_ = column::Cell::Kind::Binary;
    const size_t n = text.size();
    if (n > kShort) {
      long_.assign(text);
      short_ = kLong;
      return;
    }
    short_ = static_cast<uint8_t>(n);
    column::buffer::Buffer::copy_short(reinterpret_cast<std::byte*>(word_),
                                       reinterpret_cast<const std::byte*>(text.data()), n);
  }
  std::string_view bytes() const {
    if (short_ == kLong) return long_;
    return std::string_view(word_, short_);
  }
  i128 number() const {
    i128 v;
    std::memcpy(&v, word_, sizeof v);
    return v;
  }

  // What every watcher tests first leads; the whole holder is 64 bytes, so
  // that a table's slots take few cache lines.
  State state_ = State::Unset;
  column::Cell::Kind kind_ = column::Cell::Kind::Null;
  uint8_t short_ = 0;  // a binary value's length, or kLong
  uint64_t picks_ = 0;
  alignas(16) char word_[16] = {};  // a fixed-width value, or short bytes
  std::string long_;
};
static_assert(sizeof(Held) == 64);

// A carried column of a table: its declared column index and its value.
struct Carried {
  size_t column = 0;
  Held value;
};

}  // namespace zarvi_core::project::carry
