// Binding: the input tables matched against the spec's tables, one Data per
// spec table in spec order (the index of a Data is the spec's table index).
// Binding copies nothing: a Data points at the input columns, so the input
// Tables must outlive it and stay unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/result.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/finding.h"

namespace zarvi_core::write::data {

// An input column bound to a slot; none where the input lacks it, which
// reads as null in every row.
using Bound = std::optional<column::ColumnView>;

// The key column that refers to a row of an enclosing table.
struct Reference {
  size_t table = 0;  // the enclosing table's spec index
  Bound column;
};

struct Data {
  SharedText name;  // the spec's
  std::vector<Reference> references;  // one per table of the chain, outermost first
  // For a deep chain, (table, index in references) by table, then index: a
  // row is checked against each table of its chain, each by a search. Empty
  // for a short chain, which a pass reads faster.
  std::vector<std::pair<size_t, size_t>> reference_order;
  std::vector<Bound> columns;         // one per declared column, in spec order
  size_t rows = 0;                    // 0 when no input table has this name
  Bound row;                          // "row"
  Bound segment;                      // "segment"

  // The row's reference to `parent`: none when there is no such reference,
  // its column is absent or shorter, or the cell is null or not an int64.
  std::optional<int64_t> reference(size_t parent, size_t row) const;
};

// One Data per spec table, or UnknownTable, UnknownColumn or
// ColumnTypeMismatch for the first input table or column that does not fit.
Result<std::vector<Data>, finding::WriteError> bind(const spec::Spec& spec,
                                                   const column::table::Tables& tables);

}  // namespace zarvi_core::write::data
