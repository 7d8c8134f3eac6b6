#include "zarvi_core/write/refusal.h"

#include <utility>

#include "zarvi_core/spec/render.h"
#include "zarvi_core/text.h"

namespace zarvi_core::write::refusal {

using K = Refusal::Kind;

// Each factory lists its fields in declaration order.
Refusal Refusal::required_loop_unsourced(std::string loop, std::string trigger,
                                         std::string parent) {
  return {.kind = K::RequiredLoopUnsourced, .loop = std::move(loop), .detail = std::move(trigger),
          .other = std::move(parent)};
}

Refusal Refusal::required_occurrence_unwritten(std::string occurrence, std::string selector,
                                               std::string loop) {
  return {.kind = K::RequiredOccurrenceUnwritten, .loop = std::move(loop),
          .occurrence = std::move(occurrence), .detail = std::move(selector)};
}

Refusal Refusal::required_element_unwritten(std::string place, std::string element,
                                            std::string occurrence, std::string loop,
                                            std::optional<std::string> table) {
  return {.kind = K::RequiredElementUnwritten, .table = std::move(table), .loop = std::move(loop),
          .occurrence = std::move(occurrence), .place = std::move(place),
          .detail = std::move(element)};
}

Refusal Refusal::unmatched_source(std::string table, std::optional<std::string> column,
                                  std::string source, std::string loop,
                                  std::vector<std::string> names) {
  return {.kind = K::UnmatchedSource, .table = std::move(table), .column = std::move(column),
          .loop = std::move(loop), .detail = std::move(source), .names = std::move(names)};
}

Refusal Refusal::picks_out_of_series(std::string table, std::string column,
                                     std::string occurrence, std::string loop,
                                     std::vector<std::string> picks) {
  return {.kind = K::PicksOutOfSeries, .table = std::move(table), .column = std::move(column),
          .loop = std::move(loop), .occurrence = std::move(occurrence),
          .names = std::move(picks)};
}

Refusal Refusal::loop_read_twice(std::string table, std::string column, std::string loop,
                                 std::string writer) {
  return {.kind = K::LoopReadTwice, .table = std::move(table), .column = std::move(column),
          .loop = std::move(loop), .detail = std::move(writer)};
}

Refusal Refusal::element_written_twice(std::string table, std::string column,
                                       std::string place, std::string occurrence,
                                       std::string loop, std::string other_column) {
  return {.kind = K::ElementWrittenTwice, .table = std::move(table), .column = std::move(column),
          .loop = std::move(loop), .occurrence = std::move(occurrence), .place = std::move(place),
          .other = std::move(other_column)};
}

Refusal Refusal::envelope_occurrence_read(std::string table, std::string column,
                                          std::string occurrence, std::string loop) {
  return {.kind = K::EnvelopeOccurrenceRead, .table = std::move(table),
          .column = std::move(column), .loop = std::move(loop),
          .occurrence = std::move(occurrence)};
}

Refusal Refusal::loop_anchored_twice(std::string table, std::string loop,
                                     std::string other_table) {
  return {.kind = K::LoopAnchoredTwice, .table = std::move(table), .loop = std::move(loop),
          .other = std::move(other_table)};
}

Refusal Refusal::many_anchor_loops(std::string table, std::vector<std::string> loops) {
  return {.kind = K::ManyAnchorLoops, .table = std::move(table), .names = std::move(loops)};
}

Refusal Refusal::repeat_without_instances(std::string table, std::string segment,
                                          std::string loop) {
  return {.kind = K::RepeatWithoutInstances, .table = std::move(table), .loop = std::move(loop),
          .detail = std::move(segment)};
}

Refusal Refusal::code_not_allowed(std::string table, std::optional<std::string> column,
                                  std::string occurrence, std::string loop, std::string code,
                                  std::string place, std::vector<std::string> codes) {
  return {.kind = K::CodeNotAllowed, .table = std::move(table), .column = std::move(column),
          .loop = std::move(loop), .occurrence = std::move(occurrence), .place = std::move(place),
          .detail = std::move(code), .names = std::move(codes)};
}

std::string Refusal::text() const {
  using spec::quote_name;
  using spec::render_names;
  const std::string t = quote_name(table.value_or(""));
  // "table "t" column "c"", or "table "t" anchor segment" without a column.
  auto reader = [&] {
    return "table " + t + (column ? " column " + quote_name(*column) : " anchor segment");
  };
  switch (kind) {
    case K::RequiredLoopUnsourced:
      return "loop " + quote_name(loop) + " (trigger " + detail + ") is required in every " +
             quote_name(other) + ", but no table is anchored on it and no column reads it";
    case K::RequiredOccurrenceUnwritten:
      return "occurrence " + quote_name(occurrence) + " (" + detail +
             ") is required in every loop " + quote_name(loop) + ", but no column writes it";
    case K::RequiredElementUnwritten:
      return "required element " + place + " (" + detail + ") of occurrence " +
             quote_name(occurrence) + " in loop " + quote_name(loop) +
             (table ? ", written by table " + t + "," : std::string(", which no table writes,")) +
             " has no column and no single code to write";
    case K::UnmatchedSource:
      return reader() + " reads " + detail + " in loop " + quote_name(loop) + ", which " +
             (names.empty() ? std::string("matches none of its occurrences")
                            : "matches " + std::to_string(names.size()) +
                                  " of its occurrences (" + render_names(names) +
                                  "); name one with \"occurrence\"");
    case K::PicksOutOfSeries: {
      std::string picks;
      for (const std::string& p : names) picks += (picks.empty() ? "" : ", ") + p;
      return reader() + " picks occurrence " + quote_name(occurrence) + " of loop " +
             quote_name(loop) + " out of series (picks " + picks +
             "); the picks of one occurrence must run from 1 with none missing, or be a lone "
             "\"last\"";
    }
    case K::LoopReadTwice:
      return reader() + " reads loop " + quote_name(loop) + ", whose instances " + detail +
             " writes";
    case K::ElementWrittenTwice:
      return reader() + " writes " + place + " of occurrence " + quote_name(occurrence) +
             " in loop " + quote_name(loop) + ", which column " + quote_name(other) +
             " already writes";
    case K::EnvelopeOccurrenceRead:
      return reader() + " reads the envelope occurrence " + quote_name(occurrence) +
             " of loop " + quote_name(loop) +
             ", which the envelope and the writer's counts give";
    case K::LoopAnchoredTwice:
      return "table " + t + " is anchored on loop " + quote_name(loop) + ", whose rows table " +
             quote_name(other) + " already gives; a loop takes its rows from one table";
    case K::ManyAnchorLoops:
      return "table " + t + " is anchored on " + std::to_string(names.size()) + " loops (" +
             render_names(names) +
             "); a written row opens one loop instance and nothing in the row says which";
    case K::RepeatWithoutInstances:
      return "table " + t + " writes one " + quote_name(detail) + " per row in loop " +
             quote_name(loop) +
             ", but no table is anchored on that loop and no column reads it, so the "
             "segments have no instance to go in";
    case K::CodeNotAllowed:
      return reader() + " writes occurrence " + quote_name(occurrence) + " in loop " +
             quote_name(loop) + " with the fixed code " + quote_name(detail) + " in " + place +
             ", which its code list (" + render_names(names) + ") does not allow";
  }
  return {};
}

std::string PlanError::text() const {
  const size_t n = refusals.size();
  std::string out = "spec " + spec::quote_name(spec) + " cannot be written (" +
                    std::to_string(n) + (n == 1 ? " reason)" : " reasons)");
  for (size_t i = 0; i < n; ++i) {
    out += "\n" + std::to_string(i + 1) + ". " + refusals[i].text();
  }
  return out;
}

std::string place(std::string_view segment, uint64_t element,
                  std::optional<uint64_t> component) {
  return element_place(segment, element, component);
}

std::string render_source(std::string_view segment,
                          std::span<const spec::Condition> conditions) {
  if (conditions.empty()) return spec::quote_name(lossy_utf8(segment));
  spec::Trigger read{std::string(segment), {conditions.begin(), conditions.end()}};
  return spec::render_trigger(read);
}

}  // namespace zarvi_core::write::refusal
