#include "zarvi_core/project/rows.h"

namespace zarvi_core::project::rows {

bool push_dropping(column::Table& table, std::span<column::Cell> cells,
                   std::vector<Dropped>& dropped) {
  const auto& columns = table.columns();
  for (;;) {
    auto pushed = table.push_row(cells);
    if (pushed.ok()) return true;
    const column::RowError& error = pushed.error();
    if (error.kind != column::RowError::Kind::Cell ||
        error.cell.kind != column::CellError::Kind::Overflow)
      return false;
    // The refusal names its column; the first binary cell under that name is
    // the one checked (names of projected tables are unique).
    size_t i = 0;
    while (i < columns.size() && i < cells.size() &&
           (columns[i].name != error.column || cells[i].kind() != column::Cell::Kind::Binary))
      ++i;
    if (i == columns.size() || i == cells.size()) return false;
    dropped.push_back(Dropped{i, error.cell.total, cells[i]});
    cells[i] = column::Cell::null();
  }
}

bool count_dropping(const column::Table& table, std::vector<uint64_t>& totals,
                    std::span<column::Cell> cells, std::vector<Dropped>& dropped,
                    uint64_t limit) {
  const auto& columns = table.columns();
  if (cells.size() != columns.size()) return false;
  totals.resize(columns.size(), 0);
  // As Table::push_row checks: the first cell refused decides; one that
  // overflows its column is dropped and the row tried again.
  for (size_t i = 0; i < cells.size(); ++i) {
    const column::Cell::Kind kind = cells[i].kind();
    if (kind == column::Cell::Kind::Null) continue;
    if (kind != column::cell_kind(columns[i].data.type().kind)) return false;
    if (kind != column::Cell::Kind::Binary) continue;
    const uint64_t len = cells[i].bytes().size();
    if (totals[i] <= limit && len <= limit - totals[i]) continue;
    const uint64_t total = len > UINT64_MAX - totals[i] ? UINT64_MAX : totals[i] + len;
    dropped.push_back(Dropped{i, total, cells[i]});
    cells[i] = column::Cell::null();
  }
  for (size_t i = 0; i < cells.size(); ++i)
    if (cells[i].kind() == column::Cell::Kind::Binary) totals[i] += cells[i].bytes().size();
  return true;
}

}  // namespace zarvi_core::project::rows
