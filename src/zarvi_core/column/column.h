// Typed columns in Arrow layout: a validity bitmap (LSB first) and the values
// in Arrow's widths (binary: int32 offsets and bytes; int64; decimal128 as
// 128-bit integers; date32 days since 1970-01-01; time32 seconds). Each buffer
// is one 64-byte-aligned heap block owned by its column, or a packed column's
// part of its table's block: moving a column never moves its memory, and only
// the push operations reallocate, so a column reached through a const
// (frozen, shared) table can hand its buffers to Arrow consumers. A Cell
// borrows its bytes from the caller (push) or from the column (get); the
// column must outlive and not grow under a read Cell.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zarvi_core/column/buffer.h"
#include "zarvi_core/int128.h"
#include "zarvi_core/result.h"

namespace zarvi_core::column {

// The largest byte total of a binary column (int32 offsets).
inline constexpr uint64_t kMaxBinaryBytes = 2147483647;

struct ColumnType {
  enum class Kind : uint8_t { Binary, Int64, Decimal128, Date32, Time32 };

  Kind kind = Kind::Binary;
  uint8_t precision = 0;  // decimal128 only
  uint8_t scale = 0;      // int64 (implied decimals, a label only) and decimal128

  static constexpr ColumnType binary() { return {Kind::Binary, 0, 0}; }
  static constexpr ColumnType int64(uint8_t scale = 0) { return {Kind::Int64, 0, scale}; }
  static constexpr ColumnType decimal128(uint8_t precision, uint8_t scale) {
    return {Kind::Decimal128, precision, scale};
  }
  static constexpr ColumnType date32() { return {Kind::Date32, 0, 0}; }
  static constexpr ColumnType time32() { return {Kind::Time32, 0, 0}; }

  friend bool operator==(const ColumnType&, const ColumnType&) = default;
};

// "binary", "int64", "int64 (scale 2)", "decimal128(18, 2)", "date32",
// "time32 (seconds)".
std::string to_string(const ColumnType& type);

// One value offered to or read from a column. Binary cells borrow their bytes.
class Cell {
 public:
  enum class Kind : uint8_t { Null, Binary, Int64, Decimal128, Date32, Time32 };

  constexpr Cell() = default;
  static constexpr Cell null() { return Cell(); }
  static constexpr Cell binary(std::string_view bytes) { return Cell(Kind::Binary, bytes, 0); }
  static constexpr Cell int64(int64_t v) { return Cell(Kind::Int64, {}, v); }
  static constexpr Cell decimal128(i128 unscaled) { return Cell(Kind::Decimal128, {}, unscaled); }
  static constexpr Cell date32(int32_t days) { return Cell(Kind::Date32, {}, days); }
  static constexpr Cell time32(int32_t seconds) { return Cell(Kind::Time32, {}, seconds); }

  constexpr Kind kind() const { return kind_; }
  constexpr bool is_null() const { return kind_ == Kind::Null; }
  // Each accessor is meaningful for its own kind only.
  constexpr std::string_view bytes() const { return bytes_; }
  constexpr int64_t int64() const { return static_cast<int64_t>(number_); }
  constexpr i128 decimal128() const { return number_; }
  constexpr int32_t date32() const { return static_cast<int32_t>(number_); }
  constexpr int32_t time32() const { return static_cast<int32_t>(number_); }

  friend constexpr bool operator==(const Cell& a, const Cell& b) {
    return a.kind_ == b.kind_ && a.number_ == b.number_ && a.bytes_ == b.bytes_;
  }

 private:
  constexpr Cell(Kind kind, std::string_view bytes, i128 number)
      : kind_(kind), bytes_(bytes), number_(number) {}

  Kind kind_ = Kind::Null;
  std::string_view bytes_;
  i128 number_ = 0;
};

// "binary", "int64", "decimal128", "date32", "time32" ("null" for null).
std::string_view kind_name(Cell::Kind kind);

// The kind of cell a column of this type holds: the kinds after Null follow
// the column kinds in order.
constexpr Cell::Kind cell_kind(ColumnType::Kind kind) {
  return static_cast<Cell::Kind>(static_cast<uint8_t>(kind) + 1);
}
static_assert(cell_kind(ColumnType::Kind::Binary) == Cell::Kind::Binary &&
              cell_kind(ColumnType::Kind::Int64) == Cell::Kind::Int64 &&
              cell_kind(ColumnType::Kind::Decimal128) == Cell::Kind::Decimal128 &&
              cell_kind(ColumnType::Kind::Date32) == Cell::Kind::Date32 &&
              cell_kind(ColumnType::Kind::Time32) == Cell::Kind::Time32);

// Why a cell does not fit a column.
struct CellError {
  enum class Kind : uint8_t { Mismatch, Overflow };

  Kind kind = Kind::Mismatch;
  ColumnType column;           // mismatch
  Cell::Kind cell = Cell::Kind::Null;  // mismatch
  std::string value;           // mismatch: the value as text
  uint64_t total = 0;          // overflow: the byte total the column would reach

  friend bool operator==(const CellError&, const CellError&) = default;
};

std::string to_string(const CellError& error);

namespace table {
class Table;
}

// A read-only look at a column's rows: a ColumnData's, or those a taken
// table packed into its block. A few words, copied freely; it borrows the
// rows, which must outlive it and not grow under a span or Cell it handed out.
class ColumnView {
 public:
  // No rows.
  explicit ColumnView(ColumnType type);

  ColumnType type() const { return type_; }
  size_t rows() const { return form_ != Form::Own ? packed_rows_ : storage_->rows; }

  // Whether ColumnData::push_checked may append this cell; changes nothing.
  // `accepts` answers the same without building the error.
  Result<Unit, CellError> check(const Cell& cell) const;
  bool accepts(const Cell& cell) const {
    if (cell.is_null()) return true;
    if (cell.kind() != cell_kind(type_.kind)) return false;
    return cell.kind() != Cell::Kind::Binary || fits(cell.bytes().size());
  }
  // Whether n more bytes fit a binary column.
  bool fits(size_t n) const {
    return n <= kMaxBinaryBytes - (form_ != Form::Own ? bytes().size() : storage_->values.size());
  }

  // The cell at row (null when its validity bit is 0), borrowing the
  // column's bytes; none past the end or where the storage does not cover it.
  std::optional<Cell> get(size_t row) const;
  // The display text of one cell; none past the end.
  std::optional<std::string> render(size_t row) const;
  // Appends the display text; false (nothing written) past the end.
  bool render_to(std::string& out, size_t row) const;

  // Kept as rows are appended, so that an export costs the same at any size
  // (a packed column, small by making, counts its bitmap).
  size_t null_count() const;

  // The Arrow buffers. validity: ceil(rows / 8) bytes, bits past rows 0.
  // Which value buffer is filled depends on the type; the others are empty.
  // Each is aligned to its values' width.
  std::span<const uint8_t> validity() const;
  std::span<const int32_t> offsets() const;  // rows + 1
  std::string_view bytes() const;
  std::span<const int64_t> int64_values() const { return values_as<int64_t>(); }
  std::span<const i128> decimal128_values() const { return values_as<i128>(); }
  std::span<const int32_t> int32_values() const { return values_as<int32_t>(); }  // date32, time32

  // A packed copy is placed at an offset of `packed_align()` within a block
  // of that alignment, and takes packed_size() bytes there: few rows that
  // are all null take none, and few that are all valid keep no bitmap.
  size_t packed_align() const;
  size_t packed_size() const;

  // The same rows in the same place.
  friend bool operator==(const ColumnView& a, const ColumnView& b);

 protected:
  // A growable column's rows. An append of a fixed-width value reads and
  // writes the first cache line only (the validity's capacity is read when a
  // bitmap byte starts).
  struct alignas(64) Storage {
    size_t rows = 0;
    size_t nulls = 0;
    buffer::Buffer values;   // binary bytes, or the fixed-width values
    buffer::Buffer validity;
    buffer::Buffer offsets;  // binary only
  };

  // How the column holds its rows.
  enum class Form : uint8_t {
    Own,     // in growable buffers of a ColumnData (storage_)
    Packed,  // validity, then the values, at packed_at_
    Valid,   // the values alone at packed_at_: every row is valid
  };

  // The packed copy at `at`, which must have packed_size() bytes at
  // packed_align(); the view of it borrows the block. At most 2^32 - 1 rows.
  ColumnView pack_to(std::byte* at) const;

  // Where a packed column's values (binary: offsets) start, from `packed_at_`.
  size_t packed_values() const;
  // The value bytes, the binary bytes or the fixed-width values.
  std::span<const std::byte> value_bytes() const;
  template <class T>
  std::span<const T> values_as() const {
    const std::span<const std::byte> v = value_bytes();
    return {reinterpret_cast<const T*>(v.data()), v.size() / sizeof(T)};
  }

  ColumnType type_;
  Form form_ = Form::Packed;
  uint32_t packed_rows_ = 0;
  union {
    Storage* storage_;             // growable: owned by the ColumnData
    const std::byte* packed_at_;  // packed: borrowed, never null
  };

 private:
  friend class table::Table;
  friend class ColumnData;
  // A taken table keeps, per column, the form and the offset of a packed
  // view in its block in 32 bits, and makes the view again from them.
  uint32_t place_in(const std::byte* block) const;
  static ColumnView placed(ColumnType type, size_t rows, const std::byte* block, uint32_t place);
};

// The storage of one column. Appends are amortised and allocate nothing per
// cell: values go straight into the buffers the Arrow export shares.
//
// A column is growable (its own buffers, made at the first append) or packed:
// its rows lie, sized to them, in a block that its table owns (copy_to), and
// the column is a few words. A new or moved-from column is packed and empty.
// Appending to a packed column first copies its rows into buffers of its own.
class ColumnData : public ColumnView {
 public:
  explicit ColumnData(ColumnType type) : ColumnView(type) {}
  // A growable column holding a copy of the view's rows.
  explicit ColumnData(const ColumnView& rows);
  ColumnData(ColumnData&& other) noexcept;
  ColumnData& operator=(ColumnData&& other) noexcept;
  ColumnData(const ColumnData&) = delete;
  ColumnData& operator=(const ColumnData&) = delete;
  ~ColumnData();

  // Appends a cell that check accepted. A null cell, one of another kind
  // than the column's, or bytes past the column's limit are appended as
  // push_null does.
  void push_checked(const Cell& cell) {
    if (cell.kind() != cell_kind(type_.kind)) return push_null();
    // A value that check would refuse is stored as null rather than cut, so
    // that the offsets always describe the bytes.
    if (cell.kind() == Cell::Kind::Binary && !fits(cell.bytes().size())) return push_null();
    push_accepted(cell);
  }
  // Appends a cell that is null, or of the column's kind and (bytes) fits.
  void push_accepted(const Cell& cell) {
    switch (cell.kind()) {
      case Cell::Kind::Null: return push_null();
      case Cell::Kind::Binary: return push_bytes(cell.bytes());
      case Cell::Kind::Int64: return push_value(cell.int64());
      case Cell::Kind::Decimal128: return push_value(cell.decimal128());
      case Cell::Kind::Date32: return push_value(cell.date32());
      case Cell::Kind::Time32: return push_value(cell.time32());
    }
  }
  // Typed appends for a caller that knows the column's type: a valid value
  // of the column's width (int64_t, i128, int32_t for date32 and time32), or
  // bytes that fit a binary column.
  template <class T>
  void push_value(T v) {
    Storage& s = own();
    s.values.push(v);
    push_validity(s, true);
  }
  void push_bytes(std::string_view bytes) {
    Storage& s = own();
    s.values.append(bytes.data(), bytes.size());
    push_offset(s);
    push_validity(s, true);
  }
  // push_bytes of bytes that fit a binary column, which then tests fits()
  // once on its own storage; false (nothing appended) when they do not.
  // Inline: most values of most rows are short texts.
  [[gnu::always_inline]] bool push_fitting(std::string_view bytes) {
    Storage& s = own();
    if (bytes.size() > kMaxBinaryBytes - s.values.size()) [[unlikely]]
      return false;
    s.values.append(bytes.data(), bytes.size());
    push_offset(s);
    push_validity(s, true);
    return true;
  }
  // Out of line: inlined at every row writer it crowds the callers' other
  // inlining out.
  [[gnu::noinline]] void push_null() {
    Storage& s = own();
    // The last offset is always the byte total.
    if (type_.kind == ColumnType::Kind::Binary)
      push_offset(s);
    else
      s.values.push_zeros(kValueWidth[static_cast<uint8_t>(type_.kind)]);
    push_validity(s, false);
  }
  // Bulk appends of n rows from foreign Arrow buffers, which may be
  // unaligned: `validity` is a bitmap (null: every row valid) read from bit
  // `from`, and the values are read from element `from` on. The caller has
  // checked the buffers cover the rows. Null rows store what push_null does.
  //
  // Room for `rows` more rows and, in a binary column, `bytes` more bytes.
  void reserve(size_t rows, size_t bytes = 0);
  // A fixed-width column: `values` holds elements of the column's own width.
  void append_values(const std::byte* values, const uint8_t* validity, int64_t from, size_t n);
  // A binary column from Arrow offsets (int32 or int64) into `data`; the
  // caller has checked the offsets and that the bytes of the rows fit.
  void append_offsets32(const std::byte* offsets, const std::byte* data, const uint8_t* validity,
                        int64_t from, size_t n);
  void append_offsets64(const std::byte* offsets, const std::byte* data, const uint8_t* validity,
                        int64_t from, size_t n);
  // A binary column whose valid row k holds bytes(k), exactly `total` bytes
  // in all, which the caller has checked fit.
  template <class Bytes>
  void append_binary(const uint8_t* validity, int64_t from, size_t n, size_t total,
                     Bytes&& bytes) {
    if (n == 0) return;
    Storage& s = own();
    if (s.offsets.size() == 0) s.offsets.push(int32_t{0});
    std::byte* out = s.offsets.extend(n * sizeof(int32_t));
    int32_t end = static_cast<int32_t>(s.values.size());
    std::byte* at = total > 0 ? s.values.extend(total) : nullptr;
    for (size_t k = 0; k < n; ++k) {
      if (bit(validity, from + static_cast<int64_t>(k))) {
        const std::string_view b = bytes(k);
        if (!b.empty()) std::memcpy(at, b.data(), b.size());
        at += b.size();
        end += static_cast<int32_t>(b.size());
      }
      std::memcpy(out + k * sizeof end, &end, sizeof end);
    }
    append_validity(validity, from, n);
  }

  // Empties the column, keeping its buffers' blocks for the next rows.
  void clear();
  // A packed copy at `at` (see packed_size), which it borrows: the block
  // must outlive it. The column holds at most 2^32 - 1 rows.
  ColumnData copy_to(std::byte* at) const;

 private:
  // The storage appends go to, made (or filled from the packed rows) first.
  Storage& own() {
    if (form_ != Form::Own) [[unlikely]] unpack();
    return *storage_;
  }
  // Storage of the column's own, holding the rows of `from` (possibly this
  // column's packed rows); the column must hold none.
  void own_copy(const ColumnView& from);
  void unpack() { own_copy(*this); }
  // Leaves the column packed and empty.
  void reset() noexcept;
  // Takes over the rows of `other` (same type), which is left empty; this
  // column's own storage must already be released.
  void take(ColumnData& other) noexcept;

  // The width of a fixed-width kind's values, by ColumnType::Kind.
  static constexpr uint8_t kValueWidth[] = {0, sizeof(int64_t), sizeof(i128), sizeof(int32_t),
                                            sizeof(int32_t)};
  static_assert(static_cast<uint8_t>(ColumnType::Kind::Int64) == 1 &&
                static_cast<uint8_t>(ColumnType::Kind::Decimal128) == 2 &&
                static_cast<uint8_t>(ColumnType::Kind::Time32) == 4);
  // The first offset, 0, is stored with the first row: an empty column (most
  // tables of a small batch) holds no buffer at all.
  static void push_offset(Storage& s) {
    if (s.offsets.size() == 0) [[unlikely]] s.offsets.push(int32_t{0});
    s.offsets.push(static_cast<int32_t>(s.values.size()));
  }
  static bool bit(const uint8_t* validity, int64_t i) {
    return validity == nullptr || ((validity[i >> 3] >> (i & 7)) & 1);
  }
  // Appends n rows' validity bits and counts them; the values come first.
  void append_validity(const uint8_t* validity, int64_t from, size_t n);
  template <class O>
  void append_offsets(const std::byte* offsets, const std::byte* data, const uint8_t* validity,
                      int64_t from, size_t n);
  static void push_validity(Storage& s, bool valid) {
    const size_t row = s.rows;
    // A row that starts a bitmap byte writes the whole byte.
    if (row % 8 == 0)
      s.validity.push(uint8_t{valid});
    else if (valid)
      s.validity.at(row / 8) |= std::byte(1u << (row % 8));
    s.nulls += !valid;
    s.rows = row + 1;
  }
};

}  // namespace zarvi_core::column
