// Tables: named lists of named typed columns with one row count, filled a
// whole row at a time, and the sorted Tables of one parse, batch or import.
// A Table owns all its data; its name, column names and types are one
// immutable schema that every table taken from it shares. Once filled, a
// Tables value is frozen behind a SharedTables (shared_ptr to const):
// nothing can push to it any more, so its column buffers stay where they are
// for every Arrow consumer.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/result.h"

namespace zarvi_core::column::table {

// A column handed to Table::of_columns.
struct Column {
  std::string name;
  ColumnData data;
};

class Table;

// One column of a table as read; both parts borrow from the table.
struct ColumnRef {
  const std::string& name;
  ColumnView data;
};

// A table's columns in order, read in place.
class Columns {
 public:
  class iterator {
   public:
    using value_type = ColumnRef;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    iterator(const Table* table, size_t index) : table_(table), index_(index) {}
    ColumnRef operator*() const { return Columns(*table_)[index_]; }
    iterator& operator++() {
      ++index_;
      return *this;
    }
    iterator operator++(int) {
      iterator was = *this;
      ++*this;
      return was;
    }
    friend bool operator==(const iterator& a, const iterator& b) { return a.index_ == b.index_; }

   private:
    const Table* table_ = nullptr;
    size_t index_ = 0;
  };

  explicit Columns(const Table& table) : table_(&table) {}
  size_t size() const;
  bool empty() const { return size() == 0; }
  ColumnRef operator[](size_t i) const;
  iterator begin() const { return {table_, 0}; }
  iterator end() const { return {table_, size()}; }

 private:
  const Table* table_;
};

// Why a row was refused.
struct RowError {
  enum class Kind : uint8_t { Width, Cell };

  Kind kind = Kind::Width;
  std::string table;
  size_t columns = 0;  // width: the table's column count
  size_t cells = 0;    // width: the row's cell count
  std::string column;  // cell: the column that refused its cell
  CellError cell;      // cell

  friend bool operator==(const RowError&, const RowError&) = default;
};

std::string to_string(const RowError& error);

class Table {
 public:
  Table(std::string name, std::span<const std::pair<std::string, ColumnType>> columns);
  Table(std::string name, std::initializer_list<std::pair<std::string, ColumnType>> columns)
      : Table(std::move(name), std::span(columns.begin(), columns.size())) {}

  // A table over columns filled elsewhere; none unless each holds `rows`.
  static std::optional<Table> of_columns(std::string name, std::vector<Column> columns,
                                         size_t rows);

  Table(Table&& other) noexcept = default;
  Table& operator=(Table&& other) noexcept;
  ~Table();

  const std::string& name() const { return schema_->name; }
  size_t rows() const { return rows_; }
  Columns columns() const { return Columns(*this); }

  // Appends one cell per column, in column order, or nothing at all: every
  // cell is checked before any column changes.
  Result<Unit, RowError> push_row(std::span<const Cell> cells);

  // The typed append path beside push_row, for a writer that built the row
  // to the columns' types: it appends exactly one value to each column, null
  // or of the column's kind (binary: bytes that fit), then calls end_row.
  // Nothing can be refused then, so rows are still appended whole.
  ColumnData* append_columns() {
    if (!growable_) [[unlikely]] make_growable();
    return data();
  }
  void end_row() { ++rows_; }

  // Moves the filled rows out into a new table of the same schema; this table
  // keeps its columns and types, empty, with 0 rows. Few rows are copied into
  // one block, sized to them, and the table keeps its buffers for the next.
  Table take_rows();

  // The first column of that name, read in place.
  std::optional<ColumnView> column(std::string_view name) const;

  // "{name}: {type}" per column joined by " | ".
  std::string header() const;
  // Every column's cell text joined by " | "; none past the end.
  std::optional<std::string> render_row(size_t row) const;
  // Appends the row's line; false (nothing written) past the end.
  bool render_row_to(std::string& out, size_t row) const;

 private:
  // The table's name and its columns' names and types.
  struct Schema {
    std::string name;
    std::vector<std::string> names;
    std::vector<ColumnType> types;
    // Per column, the kind of cell it takes: checked without touching the
    // columns themselves.
    std::vector<Cell::Kind> kinds;
  };

  struct BlockDelete {
    void operator()(std::byte* block) const;
  };
  using Block = std::unique_ptr<std::byte, BlockDelete>;

  Table(std::shared_ptr<const Schema> schema, Block block, size_t rows, bool growable)
      : schema_(std::move(schema)), block_(std::move(block)), rows_(rows), growable_(growable) {}
  static std::shared_ptr<const Schema> schema_of(std::string name,
                                                 std::vector<std::string> names,
                                                 std::vector<ColumnType> types);
  // A block of `bytes` bytes, zeroed; none for 0.
  static Block block_for(size_t bytes);
  // The columns at the head of a growable table's block.
  ColumnData* data() const { return std::launder(reinterpret_cast<ColumnData*>(block_.get())); }
  // The places of a packed table's columns at the head of its block.
  const uint32_t* places() const { return reinterpret_cast<const uint32_t*>(block_.get()); }
  // Column i as read: a growable table's own, a packed one made from its
  // place, or an empty one of a table that took no rows.
  ColumnView column_at(size_t i) const;
  // Makes the columns growable: empty ones, or copies of the packed rows.
  void make_growable();
  // Ends the columns' lifetimes and frees the block.
  void release();

  friend class Columns;

  // The error for the first cell of a row that a column refuses.
  RowError refusal(std::span<const Cell> cells) const;

  std::shared_ptr<const Schema> schema_;
  // A growable table's columns, one per name (none for no columns). A
  // small taken table's is packed: per column its place (4 bytes), then the
  // packed rows the places point into; none when it took no rows, until its
  // first push_row makes it growable.
  Block block_;
  size_t rows_ = 0;
  bool growable_ = true;
};

inline ColumnView Table::column_at(size_t i) const {
  const ColumnType type = schema_->types[i];
  if (!block_) return ColumnView(type);
  if (growable_) return data()[i];
  return ColumnView::placed(type, rows_, block_.get(), places()[i]);
}

inline size_t Columns::size() const { return table_->schema_->names.size(); }
inline ColumnRef Columns::operator[](size_t i) const {
  return {table_->schema_->names[i], table_->column_at(i)};
}

// "## {name} (rows: {n})", the header, one line per row, and an empty line.
std::string to_string(const Table& table);
void append_table(std::string& out, const Table& table);

// Tables sorted by name, byte by byte; equal names keep their given order.
class Tables {
 public:
  Tables() = default;
  explicit Tables(std::vector<Table> tables);

  size_t size() const { return tables_.size(); }
  bool empty() const { return tables_.empty(); }
  const Table& operator[](size_t i) const { return tables_[i]; }
  auto begin() const { return tables_.begin(); }
  auto end() const { return tables_.end(); }

  // The first table of that name.
  const Table* get(std::string_view name) const;
  // Its index; size() when there is none.
  size_t index(std::string_view name) const;

 private:
  std::vector<Table> tables_;
};

// Every table's text, in order; empty for no tables.
std::string to_string(const Tables& tables);

// A finished Tables value, shared read-only by Python objects and every
// exported Arrow buffer.
using SharedTables = std::shared_ptr<const Tables>;
inline SharedTables freeze(Tables tables) {
  return std::make_shared<const Tables>(std::move(tables));
}

}  // namespace zarvi_core::column::table
