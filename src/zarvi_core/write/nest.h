// Nesting: which rows of which tables go under which parent rows, decided
// from the reference columns of the bound tables. Rows that cannot be
// placed, contradicting references and ambiguous row numbers become
// findings; placed rows keep their input order. A Nest owns its data
// (row indices only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/data.h"
#include "zarvi_core/write/finding.h"
#include "zarvi_core/write/plan.h"

namespace zarvi_core::write::nest {

using spec::LoopId;

class Nest {
 public:
  // Groups of table `table`: none for a segment table; one holding every row
  // for a row table without a parent table; one per parent row otherwise.
  size_t group_count(size_t table) const;
  // The rows of group `group`, ascending; empty when out of range.
  std::span<const size_t> group(size_t table, size_t group) const;

  // The rows of segment table `table` placed under row `row` of the table
  // anchored on `loop`, ascending; empty when there are none.
  std::span<const size_t> repeat_rows(size_t table, LoopId loop, size_t row) const;

  // The table under which a row of a segment table was placed; none when it
  // was not placed, and for the rows of other tables.
  std::optional<size_t> placement(size_t table, size_t row) const;

 private:
  friend Nest nest(const spec::Spec&, const plan::WritePlan&, const std::vector<data::Data>&,
                   std::vector<finding::Finding>&);

  static constexpr size_t kNotPlaced = static_cast<size_t>(-1);

  struct Table {
    // Group g holds rows[starts[g], starts[g + 1]).
    std::vector<size_t> starts;
    std::vector<size_t> rows;
    // Segment tables: (loop, parent row) keys sorted, each with its row in
    // the parallel list, rows ascending within a key.
    std::vector<std::pair<LoopId, size_t>> repeat_keys;
    std::vector<size_t> repeat_rows;
    // Segment tables: per row, the table it went under, or kNotPlaced.
    std::vector<size_t> placements;
  };
  std::vector<Table> tables_;
};

// Places every row of every bound table; appends DuplicateRowNumber,
// MismatchedReference and MissingParent findings. Never fails.
Nest nest(const spec::Spec& spec, const plan::WritePlan& plan, const std::vector<data::Data>& data,
          std::vector<finding::Finding>& findings);

// The cross-check of row `row` of table `child`, placed under row
// `parent_row` of table `parent`: one MismatchedReference per table of the
// parent's chain to which both rows refer with different values.
void contradictions(const spec::Spec& spec, const std::vector<data::Data>& data, size_t child,
                    size_t row, size_t parent, size_t parent_row,
                    std::vector<finding::Finding>& findings);

}  // namespace zarvi_core::write::nest
