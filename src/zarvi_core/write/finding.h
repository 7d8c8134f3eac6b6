// Write findings and refusals: Finding (one reason the tables do not make a
// valid file, a plain value collected in order), Origin (the row, cell or
// envelope field a finding points at) and WriteError (a refused write).
// Everything here owns its data or shares it (names, places and code lists
// of the spec: Shared); names are kept unquoted and quoted by the texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/write/refusal.h"

namespace zarvi_core::write::finding {

// Where a finding points.
struct Origin {
  struct Row {
    SharedText table;
    uint64_t row = 0;
    friend bool operator==(const Row&, const Row&) = default;
  };
  struct Cell {
    SharedText table;
    uint64_t row = 0;
    SharedText column;
    friend bool operator==(const Cell&, const Cell&) = default;
  };
  struct Envelope {
    std::string field;  // an envelope field name
    friend bool operator==(const Envelope&, const Envelope&) = default;
  };

  std::variant<Row, Cell, Envelope> data;

  static Origin row(SharedText table, uint64_t row) { return {Row{std::move(table), row}}; }
  static Origin cell(SharedText table, uint64_t row, SharedText column) {
    return {Cell{std::move(table), row, std::move(column)}};
  }
  static Origin envelope(std::string field) { return {Envelope{std::move(field)}}; }

  friend bool operator==(const Origin&, const Origin&) = default;
};

// "table \"claims\" row 3", "table \"claims\" row 3 column \"amount\"",
// "envelope field \"date\"".
std::string to_string(const Origin& origin);
void append_origin(std::string& out, const Origin& origin);

// Finding kinds, numbered 0 to 7 in this order.
enum class Kind : uint8_t {
  DelimiterInValue,
  UnwrittenValue,
  MissingParent,
  MismatchedReference,
  DuplicateRowNumber,
  OutOfOrder,
  NotWritable,
  ReadBack,
};

inline constexpr size_t kKinds = 8;

// "DelimiterInValue" ... "ReadBack".
std::string_view kind_name(Kind kind);

struct Finding {
  // A value holds a delimiter; it is written unchanged. No origin: a code
  // of the spec itself.
  struct DelimiterInValue {
    std::optional<Origin> origin;
    SharedText place;       // CLP01, SVC01-2
    std::string value;      // bytes as written
    std::string delimiter;  // "element separator" ...
    char byte = 0;
    friend bool operator==(const DelimiterInValue&, const DelimiterInValue&) = default;
  };
  // A column whose values no valid file holds, per non-null cell.
  struct UnwrittenValue {
    Origin origin;  // a cell
    std::string value;  // display text, already quoted where it is bytes
    SharedText place;
    SharedText code;
    SharedTexts codes;
    friend bool operator==(const UnwrittenValue&, const UnwrittenValue&) = default;
  };
  // A row whose reference finds no parent row; value: none when the
  // reference is null or missing.
  struct MissingParent {
    SharedText table;
    uint64_t row = 0;
    SharedText column;
    std::optional<int64_t> value;
    SharedText parent;
    friend bool operator==(const MissingParent&, const MissingParent&) = default;
  };
  // A row's reference to an enclosing table differs from its parent row's.
  struct MismatchedReference {
    SharedText table;
    uint64_t row = 0;
    SharedText column;
    int64_t value = 0;
    SharedText parent_column;  // the column by which the row belongs to its parent
    uint64_t parent_row = 0;
    SharedText parent;
    int64_t parent_value = 0;
    friend bool operator==(const MismatchedReference&, const MismatchedReference&) = default;
  };
  // A row number carried twice; `first` keeps it.
  struct DuplicateRowNumber {
    SharedText table;
    uint64_t row = 0;
    int64_t number = 0;
    uint64_t first = 0;
    friend bool operator==(const DuplicateRowNumber&, const DuplicateRowNumber&) = default;
  };
  // A row written after a higher row of its table.
  struct OutOfOrder {
    SharedText table;
    uint64_t row = 0;
    SharedText column;  // the parent's ref column
    int64_t value = 0;   // the row's value in it
    uint64_t last = 0;   // the last row entered before
    friend bool operator==(const OutOfOrder&, const OutOfOrder&) = default;
  };
  // A value the element cannot hold; the element stays empty. No origin: a
  // code of the spec itself or a count of the writer's.
  struct NotWritable {
    std::optional<Origin> origin;
    std::string value;  // display text
    SharedText place;
    std::string reason;
    friend bool operator==(const NotWritable&, const NotWritable&) = default;
  };
  // A diagnostic of reading the written file back.
  struct ReadBack {
    Diagnostic diagnostic;
    std::optional<Origin> origin;
  };

  // Alternatives in Kind order: the index is the kind.
  using Data = std::variant<DelimiterInValue, UnwrittenValue, MissingParent, MismatchedReference,
                            DuplicateRowNumber, OutOfOrder, NotWritable, ReadBack>;
  Data data;

  Kind kind() const { return static_cast<Kind>(data.index()); }
};

// The finding's sentence.
std::string to_string(const Finding& finding);

// What a finding is about, as the Python layer shows it: table, row and
// column, or an envelope field. Views borrow from the finding.
struct Subject {
  std::optional<std::string_view> table;
  std::optional<uint64_t> row;
  std::optional<std::string_view> column;
  std::optional<std::string_view> field;
};
Subject subject(const Finding& finding);

// WriteError kinds, in this order.
enum class ErrorKind : uint8_t {
  Plan,
  UnknownTable,
  UnknownColumn,
  ColumnTypeMismatch,
  SharedDelimiter,
  DelimiterNotAllowed,
  RepetitionUnset,
  Unreadable,
  Findings,
};

// A refused write: nothing is written.
struct WriteError {
  struct Plan {
    refusal::PlanError error;
  };
  struct UnknownTable {
    std::string table;
    std::vector<std::string> tables;  // the spec's, in spec order
  };
  struct UnknownColumn {
    std::string table;
    std::string column;
    std::vector<std::string> columns;  // the spec table's column list
  };
  struct ColumnTypeMismatch {
    std::string table;
    std::string column;
    column::ColumnType found;
    column::ColumnType expected;
  };
  struct SharedDelimiter {
    std::string first;  // delimiter names, the earlier first
    std::string second;
    char byte = 0;
  };
  struct DelimiterNotAllowed {
    std::string delimiter;
    char byte = 0;
  };
  struct RepetitionUnset {};
  // The output could not be indexed as a document.
  struct Unreadable {
    std::string message;  // the document error's text
  };
  // Findings where none were allowed.
  struct Findings {
    std::vector<Finding> findings;
  };

  // Alternatives in ErrorKind order: the index is the kind.
  using Data = std::variant<Plan, UnknownTable, UnknownColumn, ColumnTypeMismatch,
                            SharedDelimiter, DelimiterNotAllowed, RepetitionUnset, Unreadable,
                            Findings>;
  Data data;

  ErrorKind kind() const { return static_cast<ErrorKind>(data.index()); }
};

// The refusal's sentence (for Findings, a heading and one numbered line per
// finding).
std::string to_string(const WriteError& error);

}  // namespace zarvi_core::write::finding
