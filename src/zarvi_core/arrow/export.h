// Zero-copy export of one table of a frozen Tables value through the Arrow C
// Data and C Stream Interfaces. Every exported buffer is a column's own
// memory; each exported node (root and child alike) keeps its own shared
// reference to the Tables, so the data lives until the last consumer calls
// release, in any order, on any thread, and a child moved out stays valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zarvi_core/arrow/abi.h"
#include "zarvi_core/column/column.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/result.h"

namespace zarvi_core::arrow {

using column::table::SharedTables;

struct ExportError {
  enum class Kind : uint8_t { Gone, Arrow };

  Kind kind = Kind::Gone;
  size_t table = 0;        // the index asked for
  std::string name;        // Arrow: the table's name
  std::string detail;      // Arrow: why its data cannot be described to Arrow

  friend bool operator==(const ExportError&, const ExportError&) = default;
};

// "table #3 is gone" or "table "claims" could not be exported to Arrow: ...".
std::string to_string(const ExportError& error);

// The Arrow format string of a column type ("z", "l", "d:38,2", "tdD", "tts");
// the detail text of an export error when Arrow cannot hold the type.
Result<std::string, std::string> format_of(const column::ColumnType& type);

// The binary-encoded Arrow field metadata of a column type: {"scale": s} for
// an int64 column of scale s > 0, empty (no metadata) otherwise.
std::string metadata_of(const column::ColumnType& type);

// The schema of table #index: a struct whose children are its columns, each
// nullable, in column order. On success *out is filled and owned by the
// caller, who must call its release; on failure *out is untouched.
Result<Unit, ExportError> export_schema(const SharedTables& tables, size_t index,
                                        ArrowSchema* out);

// Table #index as one struct array over the columns' buffers, with its schema.
Result<Unit, ExportError> export_array(const SharedTables& tables, size_t index,
                                       ArrowArray* out_array, ArrowSchema* out_schema);

// A stream of one record batch (table #index) with the table's schema. Every
// export the stream makes later is checked here first, so its callbacks only
// fail when memory runs out.
Result<Unit, ExportError> export_stream(const SharedTables& tables, size_t index,
                                        ArrowArrayStream* out);

}  // namespace zarvi_core::arrow
