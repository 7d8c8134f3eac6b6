#include "zarvi_core/project/rows.h"

namespace zarvi_core::project::rows {

bool push_dropping(column::table::Table& table, std::span<column::Cell> cells,
                   std::vector<Dropped>& dropped) {
  const auto& columns = table.columns();
  for (;;) {
    auto pushed = table.push_row(cells);
    if (pushed.ok()) return true;
    const column::table::RowError& error = pushed.error();
    if (error.kind != column::table::RowError::Kind::Cell ||
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

}  // namespace zarvi_core::project::rows
