// The output tables of a spec: TableDef and where each column's value comes
// from (ColumnSource), compiled from the "tables" section and linked into
// chains of enclosing tables. Everything here owns its data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/loops.h"
#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::spec {

struct SpecError;
struct Spec;

// Which repeat of a named occurrence a column reads.
struct Pick {
  enum class Kind : uint8_t { First, Last, Nth };
  Kind kind = Kind::First;
  uint64_t n = 0;  // Nth: 1-based

  friend bool operator==(const Pick&, const Pick&) = default;
};
// "\"first\"", "\"last\"" or the number.
std::string to_string(const Pick& pick);

struct ColumnSource {
  enum class Kind : uint8_t { Element, SegmentIndex, GroupElement };
  Kind kind = Kind::Element;

  // Element and SegmentIndex: what is read. `loop` is set only when the
  // column names a loop that is not one of the table's anchor loops.
  std::optional<LoopId> loop;
  std::string segment;
  std::vector<Condition> where;  // sorted by position, then value
  std::optional<std::string> occurrence;
  Pick pick;

  uint64_t element = 0;  // Element: 1-based
  uint64_t offset = 0;   // GroupElement: 0-based within the group
  std::optional<uint64_t> component;  // Element and GroupElement

  friend bool operator==(const ColumnSource&, const ColumnSource&) = default;
};

struct Repeat {
  uint64_t from = 1;  // 1-based position of the first group's first element
  uint64_t step = 1;  // elements per group
  friend bool operator==(const Repeat&, const Repeat&) = default;
};

struct TableDef {
  std::string name;
  std::string ref;            // key column name that nested tables carry
  std::vector<LoopId> loops;  // anchor loops, as written
  std::optional<std::string> segment;  // a segment table: one row per segment
  std::optional<Repeat> repeat;        // segment tables only
  std::vector<std::pair<std::string, ColumnSource>> columns;  // by name
  std::vector<std::size_t> chain;      // enclosing tables, outermost first
  std::optional<std::size_t> parent;   // chain.back()

  friend bool operator==(const TableDef&, const TableDef&) = default;
};

struct TableDefError {
  enum class Kind : uint8_t {
    EmptyName,             // text[0]: "table name", "ref" or "column name"
    NoLoops,               //
    DuplicateLoop,         // text[0] loop
    UnknownLoop,           // text[0] loop
    ReservedName,          // text[0] name
    RefTaken,              // text[0] ref, text[1] earlier table
    RepeatWithoutSegment,  //
    ZeroStep,              //
    ZeroPosition,          // text[0] key
    BadPosition,           // text[0] key as written
    OffsetBeyondStep,      // number[0] offset, number[1] step
    NestedAnchors,         // text[0] outer loop, text[1] inner loop
    SharedAnchor,          // text[0] loop, text[1] table holding it
    UnrelatedAnchors,      // text[0..1] loops, text[2..3] their rendered chains
    UnrelatedLoop,         // text[0] loop, text[1] anchor loop
    UnknownOccurrence,     // text[0] loop, text[1] occurrence, names: declared
    OccurrenceAndSegment,  // text[0] key, text[1] value as JSON
    OccurrenceSegments,    // text[0] occurrence, text[1] segment, text[2] loop,
                           // text[3] other segment, text[4] other loop
    AfterAnchor,           // text[0] occurrence, number[0] its pos, text[1] loop,
                           // text[2] anchor loop, number[1] anchor's trigger pos
    PickNeedsOccurrence,   // text[0] pick as written
    BadPick,               // text[0] pick as written
    PickOnSingle,          // text[0] occurrence, text[1] loop, text[2] pick text
    PickBeyondMax,         // number[0] n, text[0] occurrence, text[1] loop, number[1] max
    SegmentNotHeld,        // text[0] segment (lossy), text[1] loop
    AnchorSegmentOnly,     // text[0] key, text[1] value as JSON, text[2] segment
    NeedsSegment,          //
    GroupWithoutRepeat,    //
    SourceCount,           // number[0] count
    ComponentOnIndex,      //
  };
  Kind kind = Kind::EmptyName;
  std::array<std::string, 5> text;
  std::array<uint64_t, 2> number{};
  std::vector<std::string> names;

  friend bool operator==(const TableDefError&, const TableDefError&) = default;
};
std::string to_string(const TableDefError& error);

// Succeeds when every loop listed holds the segment: as its trigger, one of
// its held segments or its "end".
Result<Unit, TableDefError> check_held(const std::vector<LoopDef>& loops,
                                       const std::vector<LoopId>& read, std::string_view segment);

// Compiles the "tables" object (null or absent: no tables) against the loops
// and occurrences of `spec`, then links the tables into chains.
Result<std::vector<TableDef>, SpecError> compile_tables(const Spec& spec,
                                                        const nlohmann::json* tables);

// Claims, refs, chains and parents of compiled tables.
Result<Unit, SpecError> link_tables(const Spec& spec, std::vector<TableDef>& tables);

}  // namespace zarvi_core::spec
