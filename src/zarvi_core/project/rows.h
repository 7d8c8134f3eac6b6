// Appending projected rows: a text too large for its binary column is
// replaced by null and the row tried again, so that the rest of the row is
// kept. Cells borrow their bytes from the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/saturating.h"

namespace zarvi_core::project::rows {

// A value left out of a row: its column index, the byte total the column
// would have reached, and the value itself (borrowed like the cells).
struct Dropped {
  size_t column = 0;
  uint64_t total = 0;
  column::Cell value;
};

// Writes one row, value by value in column order, straight into a table's
// columns (Keep), or only into the byte totals its binary columns would
// hold (Drop), with push_dropping's and count_dropping's outcome: each value
// is null or of its column's kind, so nothing but a binary value that would
// overflow its column can be refused, and that one is written as null and
// appended to `dropped`. Every column gets one value before `end`.
class RowWriter {
 public:
  // Keep: appends to `table`.
  RowWriter(column::table::Table& table, std::vector<Dropped>& dropped)
      : columns_(table.append_columns()), table_(&table), dropped_(&dropped) {}
  // Drop: `totals` per column, as count_dropping keeps them.
  RowWriter(size_t columns, std::vector<uint64_t>& totals, std::vector<Dropped>& dropped,
            uint64_t limit = column::kMaxBinaryBytes)
      : dropped_(&dropped), limit_(limit) {
    if (totals.size() < columns) totals.resize(columns, 0);
    totals_ = totals.data();
  }

  void null() {
    if (columns_ != nullptr) columns_[at_].push_null();
    ++at_;
  }
  // A valid value of a fixed-width column: int64_t, i128 or int32_t.
  template <class T>
  void value(T v) {
    if (columns_ != nullptr) columns_[at_].push_value(v);
    ++at_;
  }
  // Inline: most values of most rows are short texts.
  [[gnu::always_inline]] void binary(std::string_view bytes) {
    if (columns_ != nullptr) {
      column::ColumnData& c = columns_[at_];
      if (!c.push_fitting(bytes)) [[unlikely]] {
        drop(saturating_add(uint64_t{c.bytes().size()}, uint64_t{bytes.size()}), bytes);
        c.push_null();
      }
    } else {
      uint64_t& total = totals_[at_];
      if (total <= limit_ && bytes.size() <= limit_ - total) [[likely]]
        total += bytes.size();
      else
        drop(saturating_add(total, uint64_t{bytes.size()}), bytes);
    }
    ++at_;
  }
  // A cell that is null or of its column's kind.
  void cell(const column::Cell& cell) {
    using K = column::Cell::Kind;
    switch (cell.kind()) {
      case K::Null: return null();
      case K::Binary: return binary(cell.bytes());
      case K::Int64: return value(cell.int64());
      case K::Decimal128: return value(cell.decimal128());
      case K::Date32: return value(cell.date32());
      case K::Time32: return value(cell.time32());
    }
  }
  // Ends the row.
  void end() {
    if (table_ != nullptr) table_->end_row();
  }

 private:
  [[gnu::cold, gnu::noinline]] void drop(uint64_t total, std::string_view bytes) {
    dropped_->push_back(Dropped{at_, total, column::Cell::binary(bytes)});
  }

  column::ColumnData* columns_ = nullptr;
  column::table::Table* table_ = nullptr;
  uint64_t* totals_ = nullptr;
  std::vector<Dropped>* dropped_;
  uint64_t limit_ = column::kMaxBinaryBytes;
  size_t at_ = 0;
};

// Pushes `cells` as one row of `table`; each binary cell that would overflow
// its column is made null in `cells` and appended to `dropped`. Any other
// refusal (width, type) leaves the table as it was and returns false.
bool push_dropping(column::table::Table& table, std::span<column::Cell> cells,
                   std::vector<Dropped>& dropped);

// push_dropping for a table that keeps no rows: the same values are dropped
// and reported, against `totals` (per column, the bytes its binary values
// would hold), which a row that is kept raises. `limit` is a column's
// largest byte total.
bool count_dropping(const column::table::Table& table, std::vector<uint64_t>& totals,
                    std::span<column::Cell> cells, std::vector<Dropped>& dropped,
                    uint64_t limit = column::kMaxBinaryBytes);

}  // namespace zarvi_core::project::rows
