// Refusals: why a spec cannot be written. Each Refusal holds the texts it
// needs (names, rendered triggers, places), prepared when it is made, so
// showing it needs no spec; a PlanError gathers every refusal of one spec.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::write::refusal {

// One reason a spec cannot be written. The fields a kind uses are listed by
// its factory; the others stay empty. Names are kept unquoted: the text
// quotes them.
struct Refusal {
  enum class Kind : uint8_t {
    RequiredLoopUnsourced,
    RequiredOccurrenceUnwritten,
    RequiredElementUnwritten,
    UnmatchedSource,
    PicksOutOfSeries,
    LoopReadTwice,
    ElementWrittenTwice,
    EnvelopeOccurrenceRead,
    LoopAnchoredTwice,
    ManyAnchorLoops,
    RepeatWithoutInstances,
    CodeNotAllowed,
  };

  Kind kind = Kind::RequiredLoopUnsourced;
  std::optional<std::string> table{};
  std::optional<std::string> column{};
  std::string loop{};
  std::string occurrence{};
  std::string place{};
  // The kind's own bare or raw text: a rendered trigger, selector or source,
  // an element name, the writer of a loop, a segment id or a code.
  std::string detail{};
  // A second name: a parent loop, another column or another table.
  std::string other{};
  // Occurrence names, pick texts, loop names or codes.
  std::vector<std::string> names{};

  // detail: rendered trigger; other: parent loop.
  static Refusal required_loop_unsourced(std::string loop, std::string trigger,
                                         std::string parent);
  // detail: rendered selector.
  static Refusal required_occurrence_unwritten(std::string occurrence, std::string selector,
                                               std::string loop);
  // detail: element or component name; table: the segment's table, if any.
  static Refusal required_element_unwritten(std::string place, std::string element,
                                            std::string occurrence, std::string loop,
                                            std::optional<std::string> table);
  // No column: the table's anchor segment. detail: rendered source; names:
  // the matching occurrences (empty: none matched).
  static Refusal unmatched_source(std::string table, std::optional<std::string> column,
                                  std::string source, std::string loop,
                                  std::vector<std::string> names);
  // names: pick texts, sorted, without repeats.
  static Refusal picks_out_of_series(std::string table, std::string column,
                                     std::string occurrence, std::string loop,
                                     std::vector<std::string> picks);
  // detail: who writes the loop's instances ("table \"x\"" or "the envelope").
  static Refusal loop_read_twice(std::string table, std::string column, std::string loop,
                                 std::string writer);
  // other: the column already there.
  static Refusal element_written_twice(std::string table, std::string column,
                                       std::string place, std::string occurrence,
                                       std::string loop, std::string other_column);
  static Refusal envelope_occurrence_read(std::string table, std::string column,
                                          std::string occurrence, std::string loop);
  // other: the table already anchored there.
  static Refusal loop_anchored_twice(std::string table, std::string loop,
                                     std::string other_table);
  // names: the anchor loops.
  static Refusal many_anchor_loops(std::string table, std::vector<std::string> loops);
  // detail: the segment id as text.
  static Refusal repeat_without_instances(std::string table, std::string segment,
                                          std::string loop);
  // No column: the table's anchor segment. detail: the code; names: the list.
  static Refusal code_not_allowed(std::string table, std::optional<std::string> column,
                                  std::string occurrence, std::string loop, std::string code,
                                  std::string place, std::vector<std::string> codes);

  // The one sentence that states the refusal.
  std::string text() const;

  friend bool operator==(const Refusal&, const Refusal&) = default;
};

// Every reason one spec cannot be written, in the order planning found them;
// never empty.
struct PlanError {
  std::string spec;
  std::vector<Refusal> refusals;

  // A heading with the count, then each refusal numbered on its own line.
  std::string text() const;

  friend bool operator==(const PlanError&, const PlanError&) = default;
};

// An element place: CLP01, SVC01-2, CLP123.
std::string place(std::string_view segment, uint64_t element,
                  std::optional<uint64_t> component = std::nullopt);

// A read as messages show it: the quoted segment id, then with conditions
// " where {1: \"PR\", ...}" as a trigger shows them.
std::string render_source(std::string_view segment, std::span<const spec::Condition> conditions);

}  // namespace zarvi_core::write::refusal
