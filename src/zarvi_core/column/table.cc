#include "zarvi_core/column/table.h"

#include <algorithm>
#include <new>

#include "zarvi_core/text.h"

namespace zarvi_core::column::table {
namespace {

constexpr std::string_view kBar = " | ";
constexpr size_t kBlockAlign = 64;  // as every column buffer
constexpr size_t kMaxPackedBytes = size_t{64} << 10;

}  // namespace

std::string to_string(const RowError& error) {
  std::string out = "table ";
  append_quoted(out, error.table);
  if (error.kind == RowError::Kind::Width) {
    out += " has " + std::to_string(error.columns) + " columns; the row has " +
           std::to_string(error.cells) + " cells";
  } else {
    out += " column ";
    append_quoted(out, error.column);
    out += ": " + to_string(error.cell);
  }
  return out;
}

Table::Table(std::string name, std::span<const std::pair<std::string, ColumnType>> columns)
    : name_(std::move(name)) {
  columns_.reserve(columns.size());
  for (const auto& [column, type] : columns) {
    columns_.push_back(Column{column, ColumnData(type)});
    kinds_.push_back(cell_kind(type.kind));
  }
}

Table::Table(std::string name, std::vector<Column> columns, size_t rows)
    : name_(std::move(name)), columns_(std::move(columns)), rows_(rows) {
  for (const Column& c : columns_) kinds_.push_back(cell_kind(c.data.type().kind));
}

std::optional<Table> Table::of_columns(std::string name, std::vector<Column> columns,
                                       size_t rows) {
  for (const Column& c : columns)
    if (c.data.rows() != rows) return std::nullopt;
  return Table(std::move(name), std::move(columns), rows);
}

RowError Table::refusal(std::span<const Cell> cells) const {
  RowError e;
  e.table = name_;
  if (cells.size() != columns_.size()) {
    e.kind = RowError::Kind::Width;
    e.columns = columns_.size();
    e.cells = cells.size();
    return e;
  }
  e.kind = RowError::Kind::Cell;
  for (size_t i = 0; i < cells.size(); ++i) {
    auto checked = columns_[i].data.check(cells[i]);
    if (!checked.ok()) {
      e.column = columns_[i].name;
      e.cell = std::move(checked).error();
      break;
    }
  }
  return e;
}

Result<Unit, RowError> Table::push_row(std::span<const Cell> cells) {
  bool accepted = cells.size() == columns_.size();
  for (size_t i = 0; accepted && i < cells.size(); ++i) {
    const Cell::Kind kind = cells[i].kind();
    accepted = kind == Cell::Kind::Null ||
               (kind == kinds_[i] &&
                (kind != Cell::Kind::Binary || columns_[i].data.fits(cells[i].bytes().size())));
  }
  if (!accepted) return err(refusal(cells));
  for (size_t i = 0; i < cells.size(); ++i) columns_[i].data.push_accepted(cells[i]);
  ++rows_;
  return Unit{};
}

void Table::BlockDelete::operator()(std::byte* block) const {
  ::operator delete(block, std::align_val_t{kBlockAlign});
}

Table Table::take_rows() {
  size_t packed = 0;
  for (const Column& c : columns_) packed += c.data.packed_size();
  // Small rows (a batch of a stream) are copied into one block, and this
  // table keeps its buffers for the next: a batch then costs one allocation,
  // not several per column. Large ones move out rather than be copied.
  if (packed <= kMaxPackedBytes) {
    std::unique_ptr<std::byte, BlockDelete> block;
    if (packed > 0)
      block.reset(static_cast<std::byte*>(::operator new(packed, std::align_val_t{kBlockAlign})));
    std::vector<Column> copied;
    copied.reserve(columns_.size());
    std::byte* at = block.get();
    for (Column& c : columns_) {
      copied.push_back(Column{c.name, c.data.copy_to(at)});
      at += c.data.packed_size();
      c.data.clear();
    }
    Table out(name_, std::move(copied), std::exchange(rows_, 0));
    out.block_ = std::move(block);
    return out;
  }
  std::vector<Column> filled;
  filled.reserve(columns_.size());
  for (Column& c : columns_) {
    ColumnData empty(c.data.type());
    filled.push_back(Column{c.name, std::exchange(c.data, std::move(empty))});
  }
  return Table(name_, std::move(filled), std::exchange(rows_, 0));
}

const ColumnData* Table::column(std::string_view name) const {
  for (const Column& c : columns_)
    if (c.name == name) return &c.data;
  return nullptr;
}

std::string Table::header() const {
  std::string out;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) out += kBar;
    out += columns_[i].name;
    out += ": ";
    out += to_string(columns_[i].data.type());
  }
  return out;
}

bool Table::render_row_to(std::string& out, size_t row) const {
  if (row >= rows_) return false;
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) out += kBar;
    columns_[i].data.render_to(out, row);
  }
  return true;
}

std::optional<std::string> Table::render_row(size_t row) const {
  std::string out;
  if (!render_row_to(out, row)) return std::nullopt;
  return out;
}

void append_table(std::string& out, const Table& table) {
  out += "## ";
  out += table.name();
  out += " (rows: " + std::to_string(table.rows()) + ")\n";
  out += table.header();
  out += '\n';
  for (size_t row = 0; row < table.rows(); ++row) {
    table.render_row_to(out, row);
    out += '\n';
  }
  out += '\n';
}

std::string to_string(const Table& table) {
  std::string out;
  append_table(out, table);
  return out;
}

Tables::Tables(std::vector<Table> tables) : tables_(std::move(tables)) {
  std::stable_sort(tables_.begin(), tables_.end(),
                   [](const Table& a, const Table& b) { return a.name() < b.name(); });
}

const Table* Tables::get(std::string_view name) const {
  for (const Table& t : tables_)
    if (t.name() == name) return &t;
  return nullptr;
}

std::string to_string(const Tables& tables) {
  std::string out;
  for (const Table& t : tables) append_table(out, t);
  return out;
}

}  // namespace zarvi_core::column::table
