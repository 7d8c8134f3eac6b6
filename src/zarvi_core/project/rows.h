// Appending projected rows: a text too large for its binary column is
// replaced by null and the row tried again, so that the rest of the row is
// kept. Cells borrow their bytes from the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "zarvi_core/column.h"
#include "zarvi_core/column/table.h"

namespace zarvi_core::project::rows {

// A value left out of a row: its column index, the byte total the column
// would have reached, and the value itself (borrowed like the cells).
struct Dropped {
  size_t column = 0;
  uint64_t total = 0;
  column::Cell value;
};

// Pushes `cells` as one row of `table`; each binary cell that would overflow
// its column is made null in `cells` and appended to `dropped`. Any other
// refusal (width, type) leaves the table as it was and returns false.
bool push_dropping(column::Table& table, std::span<column::Cell> cells,
                   std::vector<Dropped>& dropped);

// push_dropping for a table that keeps no rows: the same values are dropped
// and reported, against `totals` (per column, the bytes its binary values
// would hold), which a row that is kept raises. `limit` is a column's
// largest byte total.
bool count_dropping(const column::Table& table, std::vector<uint64_t>& totals,
                    std::span<column::Cell> cells, std::vector<Dropped>& dropped,
                    uint64_t limit = column::kMaxBinaryBytes);

}  // namespace zarvi_core::project::rows
