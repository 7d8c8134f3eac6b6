// Table definitions: the output tables of a spec and where each column's
// value comes from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/spec/loops.h"
#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::spec {

// Which repeat of a named occurrence a column reads.
struct Pick {
  enum class Kind : uint8_t { First, Last, Nth };
  Kind kind = Kind::First;
  uint64_t n = 0;  // for Nth, at least 1

  friend bool operator==(const Pick&, const Pick&) = default;
};

// Each group of `step` elements from element `from` on gives one row.
struct Repeat {
  uint64_t from = 1;
  uint64_t step = 1;
};

// One element (or component) of one segment read in a loop instance.
struct ElementSource {
  std::optional<LoopId> loop;  // only when the column names a non-anchor loop
  std::string segment;
  std::vector<Condition> where;  // sorted by position, then value
  std::optional<std::string> occurrence;
  Pick pick;
  uint64_t element = 0;
  std::optional<uint64_t> component;
};

// The 0-based index of the segment read.
struct SegmentIndexSource {
  std::optional<LoopId> loop;
  std::string segment;
  std::vector<Condition> where;
  std::optional<std::string> occurrence;
  Pick pick;
};

// An element of the current repeat group of a segment table's own segment.
struct GroupElementSource {
  uint64_t offset = 0;  // below the repeat's step
  std::optional<uint64_t> component;
};

using ColumnSource = std::variant<ElementSource, SegmentIndexSource, GroupElementSource>;

struct TableDef {
  std::string name;
  std::string ref;              // key column name of nested tables
  std::vector<LoopId> loops;    // anchor loops, in the order written
  std::optional<std::string> segment;
  std::optional<Repeat> repeat;
  std::vector<std::pair<std::string, ColumnSource>> columns;  // by name
  std::optional<std::size_t> parent;  // table index: the last of `chain`
  std::vector<std::size_t> chain;     // enclosing tables, outermost first
};

}  // namespace zarvi_core::spec
