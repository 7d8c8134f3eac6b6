// TableDefError: why a table or one of its columns is refused; the reason
// inside a spec error that names the table (and the column). Owns its texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zarvi_core::spec {

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

}  // namespace zarvi_core::spec
