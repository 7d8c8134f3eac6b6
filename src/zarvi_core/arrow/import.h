// Reading an Arrow C stream from another library into one typed table. Every
// struct and buffer handed in is untrusted: the schema is parsed with a depth
// bound, each batch is checked against it (buffer counts, null pointers,
// lengths, offsets, string views, children) before a value is read, and
// values are loaded with memcpy, never through a possibly unaligned pointer.
// The stream, its schema and every batch are released exactly once on every
// path. The returned table owns copies of all its data.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "zarvi_core/arrow/abi.h"
#include "zarvi_core/column/column.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/result.h"

namespace zarvi_core::arrow {

// Why a stream was not imported.
struct ImportError {
  enum class Kind : uint8_t {
    Open,     // the stream or its schema is unusable: message is the reason
    Refused,  // the data does not fit the columns: message is the whole sentence
  };

  Kind kind = Kind::Open;
  std::string message;

  friend bool operator==(const ImportError&, const ImportError&) = default;
};

// The spec's columns of one table: name and type, in the spec's order.
using ColumnList = std::span<const std::pair<std::string, column::ColumnType>>;

// Reads every batch of *stream into a table called `name` with one column per
// field of the stream's schema, in the schema's order, typed by the column of
// `columns` of the same name. The stream is taken over: *stream is marked
// released at once and the stream is released before this returns.
// Refusals, in the order they are found:
//   table "x" has no column "y" in the spec; its columns are "a", "b"
//   table "x" could not be read: {why}              (a batch, or a duplicate field)
//   table "x" column "y" row 7: {why a value does not fit}   (first in row-major order)
//   the table's own refusal of a row (a binary column past its byte limit)
Result<column::table::Table, ImportError> import_table(ArrowArrayStream* stream, std::string_view name,
                                                ColumnList columns);

}  // namespace zarvi_core::arrow
