#include "zarvi_core/column/table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "zarvi_core/text.h"

namespace zarvi_core::column::table {
namespace {

constexpr std::string_view kBar = " | ";
// The widest value (decimal128) sets the block's alignment.
constexpr size_t kBlockAlign = 16;
constexpr size_t kMaxPackedBytes = size_t{64} << 10;

size_t align_up(size_t n, size_t align) { return (n + align - 1) / align * align; }

// A column's place holds its offset in the block in 30 bits.
constexpr size_t kMaxPlace = size_t{1} << 30;

static_assert(alignof(ColumnData) <= kBlockAlign);

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

std::shared_ptr<const Table::Schema> Table::schema_of(std::string name,
                                                       std::vector<std::string> names,
                                                       std::vector<ColumnType> types) {
  auto schema = std::make_shared<Schema>();
  schema->name = std::move(name);
  schema->names = std::move(names);
  schema->kinds.reserve(types.size());
  for (const ColumnType& type : types) schema->kinds.push_back(cell_kind(type.kind));
  schema->types = std::move(types);
  return schema;
}

Table::Block Table::block_for(size_t bytes) {
  const size_t size = align_up(bytes, kBlockAlign);
  if (size == 0) return nullptr;
  Block block(static_cast<std::byte*>(::operator new(size, std::align_val_t{kBlockAlign})));
  // The gaps between packed columns, and the tail, are zero.
  std::memset(block.get(), 0, size);
  return block;
}

void Table::make_growable() {
  const size_t n = schema_->names.size();
  Block block = block_for(n * sizeof(ColumnData));
  auto* data = reinterpret_cast<ColumnData*>(block.get());
  size_t made = 0;
  try {
    for (; made < n; ++made) ::new (data + made) ColumnData(column_at(made));
  } catch (...) {
    while (made > 0) data[--made].~ColumnData();
    throw;
  }
  release();
  block_ = std::move(block);
  growable_ = true;
}

void Table::release() {
  if (!block_) return;
  if (growable_) {
    ColumnData* columns = data();
    for (size_t i = 0; i < schema_->names.size(); ++i) columns[i].~ColumnData();
  }
  block_.reset();
}

Table::~Table() { release(); }

Table& Table::operator=(Table&& other) noexcept {
  if (this != &other) {
    release();
    schema_ = std::move(other.schema_);
    block_ = std::move(other.block_);
    rows_ = std::exchange(other.rows_, 0);
    growable_ = other.growable_;
  }
  return *this;
}

Table::Table(std::string name, std::span<const std::pair<std::string, ColumnType>> columns) {
  std::vector<std::string> names;
  std::vector<ColumnType> types;
  names.reserve(columns.size());
  types.reserve(columns.size());
  for (const auto& [column, type] : columns) {
    names.push_back(column);
    types.push_back(type);
  }
  schema_ = schema_of(std::move(name), std::move(names), std::move(types));
  growable_ = false;
  make_growable();
}

std::optional<Table> Table::of_columns(std::string name, std::vector<Column> columns,
                                       size_t rows) {
  for (const Column& c : columns)
    if (c.data.rows() != rows) return std::nullopt;
  std::vector<std::string> names;
  std::vector<ColumnType> types;
  names.reserve(columns.size());
  types.reserve(columns.size());
  for (const Column& c : columns) {
    names.push_back(c.name);
    types.push_back(c.data.type());
  }
  Block block = block_for(columns.size() * sizeof(ColumnData));
  auto* data = reinterpret_cast<ColumnData*>(block.get());
  for (Column& c : columns) ::new (data++) ColumnData(std::move(c.data));
  return Table(schema_of(std::move(name), std::move(names), std::move(types)), std::move(block),
               rows, true);
}

RowError Table::refusal(std::span<const Cell> cells) const {
  RowError e;
  e.table = name();
  const Columns columns = this->columns();
  if (cells.size() != columns.size()) {
    e.kind = RowError::Kind::Width;
    e.columns = columns.size();
    e.cells = cells.size();
    return e;
  }
  e.kind = RowError::Kind::Cell;
  for (size_t i = 0; i < cells.size(); ++i) {
    auto checked = columns[i].data.check(cells[i]);
    if (!checked.ok()) {
      e.column = columns[i].name;
      e.cell = std::move(checked).error();
      break;
    }
  }
  return e;
}

Result<Unit, RowError> Table::push_row(std::span<const Cell> cells) {
  const std::vector<Cell::Kind>& kinds = schema_->kinds;
  bool accepted = cells.size() == kinds.size();
  if (accepted && !growable_) [[unlikely]] make_growable();
  ColumnData* columns = data();
  for (size_t i = 0; accepted && i < cells.size(); ++i) {
    const Cell::Kind kind = cells[i].kind();
    accepted = kind == Cell::Kind::Null ||
               (kind == kinds[i] &&
                (kind != Cell::Kind::Binary || columns[i].fits(cells[i].bytes().size())));
  }
  if (!accepted) return err(refusal(cells));
  for (size_t i = 0; i < cells.size(); ++i) columns[i].push_accepted(cells[i]);
  ++rows_;
  return Unit{};
}

void Table::BlockDelete::operator()(std::byte* block) const {
  ::operator delete(block, std::align_val_t{kBlockAlign});
}

Table Table::take_rows() {
  // A table of no rows holds nothing of its own per column.
  if (rows_ == 0) return Table(schema_, nullptr, 0, false);
  const size_t n = schema_->names.size();
  ColumnData* columns = data();
  // Columns go into the block widest values first, binary last, so that
  // hardly any padding lies between them.
  const auto order = [](const ColumnData& c) {
    return c.type().kind == ColumnType::Kind::Binary ? size_t{0} : c.packed_align();
  };
  constexpr size_t kOrders[] = {16, 8, 4, 0};
  size_t packed = 0;
  for (const size_t o : kOrders)
    for (size_t i = 0; i < n; ++i)
      if (order(columns[i]) == o)
        packed = align_up(packed, columns[i].packed_align()) + columns[i].packed_size();
  // Small rows (a batch of a stream) are packed after the columns' places
  // in one block, and this table keeps its buffers for the next: a batch
  // then costs one allocation and four bytes per column. Large ones move out
  // rather than be copied.
  const size_t head = align_up(n * sizeof(uint32_t), kBlockAlign);
  if (packed > kMaxPackedBytes || head + packed >= kMaxPlace) {
    Block block = block_for(n * sizeof(ColumnData));
    auto* taken = reinterpret_cast<ColumnData*>(block.get());
    for (size_t i = 0; i < n; ++i)
      ::new (taken + i) ColumnData(std::exchange(columns[i], ColumnData(columns[i].type())));
    return Table(schema_, std::move(block), std::exchange(rows_, 0), true);
  }
  Block block = block_for(head + packed);
  auto* places = reinterpret_cast<uint32_t*>(block.get());
  std::byte* rows = block.get() + head;
  size_t at = 0;
  for (const size_t o : kOrders) {
    for (size_t i = 0; i < n; ++i) {
      if (order(columns[i]) != o) continue;
      at = align_up(at, columns[i].packed_align());
      places[i] = columns[i].pack_to(rows + at).place_in(block.get());
      at += columns[i].packed_size();
    }
  }
  for (size_t i = 0; i < n; ++i) columns[i].clear();
  return Table(schema_, std::move(block), std::exchange(rows_, 0), false);
}

std::optional<ColumnView> Table::column(std::string_view name) const {
  for (const ColumnRef c : columns())
    if (c.name == name) return c.data;
  return std::nullopt;
}

std::string Table::header() const {
  std::string out;
  const Columns columns = this->columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) out += kBar;
    out += columns[i].name;
    out += ": ";
    out += to_string(columns[i].data.type());
  }
  return out;
}

bool Table::render_row_to(std::string& out, size_t row) const {
  if (row >= rows_) return false;
  const Columns columns = this->columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) out += kBar;
    columns[i].data.render_to(out, row);
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
  const size_t i = index(name);
  return i < tables_.size() ? &tables_[i] : nullptr;
}

size_t Tables::index(std::string_view name) const {
  // Sorted by name, the first of equal names first.
  const auto at = std::lower_bound(tables_.begin(), tables_.end(), name,
                                   [](const Table& t, std::string_view n) { return t.name() < n; });
  return at != tables_.end() && at->name() == name ? static_cast<size_t>(at - tables_.begin())
                                                   : tables_.size();
}

std::string to_string(const Tables& tables) {
  std::string out;
  for (const Table& t : tables) append_table(out, t);
  return out;
}

}  // namespace zarvi_core::column::table
