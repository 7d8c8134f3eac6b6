// Table definitions: the output tables of a spec, where each column's value
// comes from, and how tables nest. Compiled from the "tables" section (after
// loops, segments, occurrences and the version) and linked into chains of
// enclosing tables. Everything here owns its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>


#include "zarvi_core/result.h"
#include "zarvi_core/spec/loops.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/table_error.h"
#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::spec {

class LoopIndex;
class Spec;

// Which repeat of a named occurrence a column reads.
struct Pick {
  enum class Kind : uint8_t { First, Last, Nth };
  Kind kind = Kind::First;
  uint64_t n = 0;  // for Nth, at least 1

  friend bool operator==(const Pick&, const Pick&) = default;
};
// "\"first\"", "\"last\"" or the number.
std::string to_string(const Pick& pick);

// Each group of `step` elements from element `from` on gives one row.
struct Repeat {
  uint64_t from = 1;
  uint64_t step = 1;
  friend bool operator==(const Repeat&, const Repeat&) = default;
};

// One element (or component) of one segment read in a loop instance.
struct ElementSource {
  std::optional<LoopId> loop;  // only when the column names a non-anchor loop
  std::string segment;
  std::vector<Condition> where;  // sorted by position, then value
  std::optional<std::string> occurrence;
  Pick pick;  // First when the column gives none
  uint64_t element = 0;
  std::optional<uint64_t> component;
  friend bool operator==(const ElementSource&, const ElementSource&) = default;
};

// The 0-based index of the segment read.
struct SegmentIndexSource {
  std::optional<LoopId> loop;
  std::string segment;
  std::vector<Condition> where;
  std::optional<std::string> occurrence;
  Pick pick;
  friend bool operator==(const SegmentIndexSource&, const SegmentIndexSource&) = default;
};

// An element of the current repeat group of a segment table's own segment:
// element `from + offset` of the group.
struct GroupElementSource {
  uint64_t offset = 0;  // below the repeat's step
  std::optional<uint64_t> component;
  friend bool operator==(const GroupElementSource&, const GroupElementSource&) = default;
};

using ColumnSource = std::variant<ElementSource, SegmentIndexSource, GroupElementSource>;

struct TableDef {
  std::string name;
  std::string ref;              // key column name of nested tables
  std::vector<LoopId> loops;    // anchor loops, in the order written
  std::optional<std::string> segment;  // set: one row per such segment
  std::optional<Repeat> repeat;        // segment tables only
  std::vector<std::pair<std::string, ColumnSource>> columns;  // by name
  std::optional<std::size_t> parent;  // table index: the last of `chain`
  std::vector<std::size_t> chain;     // enclosing tables, outermost first
  friend bool operator==(const TableDef&, const TableDef&) = default;
};

// Succeeds when each loop of `read` holds the segment: as its trigger, one
// of its held segments or its "end"; else SegmentNotHeld for the first.
Result<Unit, TableDefError> check_held(const std::vector<LoopDef>& loops, const LoopIndex& index,
                                       const std::vector<LoopId>& read, std::string_view segment);

// Claims of anchor loops, unique refs, chains and parents.
Result<Unit, SpecError> link_tables(const Spec& spec, const LoopIndex& index,
                                    std::vector<TableDef>& tables);

}  // namespace zarvi_core::spec
