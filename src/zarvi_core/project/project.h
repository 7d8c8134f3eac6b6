// Projector: the second stage of every segment step. It follows the loop
// engine's events with its own stack of open instances, chooses the
// occurrence of each placed segment, checks every defined element value
// against the spec and fills the spec's tables: one row per instance of an
// anchor loop, or per segment (or repeat group) of a segment table. It refers
// to the Spec, which must outlive it; returned diagnostics stay valid until
// its next call. Rows in progress own copies of their text values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "zarvi_core/amounts.h"
#include "zarvi_core/column/parse.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/delimiters.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/project/plan.h"
#include "zarvi_core/project/rows.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::project {

using spec::LoopId;

// Whether a run keeps the rows it projects, or only reports what projecting
// them finds (the same diagnostics, without the tables' memory).
enum class Rows : uint8_t { Keep, Drop };

class Projector {
 public:
  Projector(const spec::Spec& spec, const Delimiters& delimiters, Rows rows = Rows::Keep);

  // Processes one segment's events in order; returns this step's diagnostics.
  const std::vector<Diagnostic>& on(std::span<const engine::Event> events,
                                    const Segment& segment);

  // The occurrence chosen for the segment of the last `on`: an index into the
  // occurrences of the loop it was placed in, or none.
  std::optional<size_t> matched() const { return matched_; }
  // The amounts the check of the last `on`'s segment parsed.
  const Amounts& amounts() const { return amounts_; }

  // Closes every open instance and resets for a new input.
  const std::vector<Diagnostic>& finish();

  // Appends the rows gathered so far, one table per spec table in table
  // order; row counters and rows in progress are kept.
  void take_rows(std::vector<column::table::Table>& out);

 private:
  struct OpenLoop {
    LoopId loop = 0;
    uint64_t ordinal = 0;
  };

  // Where a declared column of a segment table reads its value, resolved
  // once from the spec's column source.
  struct ColumnWriter {
    enum class Source : uint8_t { Index, Element, Group, None };
    Source source = Source::None;
    column::ColumnType type;
    uint64_t element = 0;  // Element: the position; Group: the offset
    std::optional<uint64_t> component;
  };

  struct TableState {
    explicit TableState(column::table::Table t) : table(std::move(t)) {}
    column::table::Table table;
    std::vector<column::ColumnType> types;  // of the declared columns
    std::vector<ColumnWriter> writers;      // per declared column
    // The row in progress.
    uint64_t number = 0;
    uint64_t segment = 0;
    std::vector<std::optional<int64_t>> keys;  // per chain table
    std::vector<carry::Held> slots;           // per declared column
    // Per declared column of a segment table: the joined text of a
    // composite read as a whole.
    std::vector<std::string> joined;
    bool pending = false;
    uint64_t counter = 0;  // the next row number
    // Rows::Drop: per column, the bytes the binary values would hold.
    std::vector<uint64_t> totals;
    std::vector<carry::Carried> carried;
    // The table's and its columns' names, made when a value is first dropped.
    SharedText shared_name;
    std::vector<SharedText> shared_columns;
  };

  struct LoopTables {
    std::optional<size_t> anchored;
    // Of segments without a plan (the plans list the others).
    std::vector<size_t> segment_tables;
    std::vector<std::pair<size_t, size_t>> carries;  // (table, carried index)
  };

  void on_open(LoopId loop, uint64_t segment);
  void on_close();
  void on_placed(LoopId loop, const Segment& segment);
  void choose_occurrence(const plan::Chooser& chooser, const Segment& segment);
  // `in`: what the plan holds for the loop the segment is placed in, if any.
  void feed_watchers(const plan::SegmentPlan& plan, const plan::InLoop* in,
                     const Segment& segment);
  void feed(const plan::Watcher& w, const Segment& segment);
  // The rows of `tables` that the segment makes; unless `planned` (the
  // segment's plan listed them), only tables of the segment's id.
  void segment_rows(std::span<const size_t> tables, const Segment& segment, bool planned);
  void segment_row(size_t t, const Segment& segment, std::optional<uint64_t> group);
  // The text of element `element` (and `component`), none when absent; a
  // composite read whole is joined into `buffer`, which the text borrows.
  std::optional<std::string_view> text_of(const Segment& segment, uint64_t element,
                                          const std::optional<uint64_t>& component,
                                          std::string& buffer) {
    if (!component) return segment.text(element, component_, buffer);
    return component_text(segment, element, component);
  }
  uint64_t next_row(TableState& state);
  void fill_keys(const spec::TableDef& def, TableState& state);
  // A writer of the next row of the table.
  rows::RowWriter row_writer(TableState& state) {
    if (rows_ == Rows::Keep) return rows::RowWriter(state.table, dropped_);
    return rows::RowWriter(state.table.columns().size(), state.totals, dropped_);
  }
  // Writes the row number, segment and chain keys of the row in progress.
  void start_row(rows::RowWriter& row, const TableState& state);
  // The row in progress from its slots.
  void append_row(size_t t);
  // Ends the row in progress, reporting values dropped.
  void end_row(rows::RowWriter& row, TableState& state) {
    row.end();
    if (!dropped_.empty()) [[unlikely]] report_dropped(state);
  }
  [[gnu::cold, gnu::noinline]] void report_dropped(TableState& state);
  void check_elements(const plan::SegmentPlan& plan, const Segment& segment);
  void check_composite(const plan::ElementPlan& plan, const Segment& segment);
  // The finding of check_composite about the whole: missing (none of its
  // components has a value) or past its declared components, whose first
  // extra one is `extra_text`.
  [[gnu::cold, gnu::noinline]] void report_composite(const plan::ElementPlan& plan,
                                                     const Segment& segment, bool any,
                                                     uint64_t present, std::string_view extra_text);
  // The component goes by reference: a copied optional costs a stalled
  // store-to-load forward on every call.
  void check_value(std::string_view text, const plan::ValuePlan& plan, const Segment& segment,
                   uint64_t element, const std::optional<uint64_t>& component);
  // Whether a non-empty value passes check_value without a finding, checked
  // without building its cell; false for any other value, and for the rare
  // int64 and time values, which check_value looks at itself. Not for a
  // composite read joined: the occurrence's qualifier did not read that text.
  // Inline in check_elements' loop, where most values end.
  // The amount of a simple element (`position` non-zero) that a column or
  // a balancing sum reads is parsed whole and kept in amounts_.
  [[gnu::always_inline]] bool valid_text(std::string_view text, const plan::ValuePlan& plan,
                                         uint64_t position = 0) {
    using K = column::ColumnType::Kind;
    if (text.empty()) return false;
    uint64_t length = text.size();
    const K kind = plan.type.kind;
    if (kind == K::Decimal128) {
      // Position 0 wraps past every kept one.
      if (plan.read && position - 1 < Amounts::kPositions - 1) {
        i128 value;
        size_t digits;
        if (!column::parse::parse_r_to(text, plan.type.scale, value, &digits)) return false;
        amounts_.keep(position, plan.type.scale, value);
        length = digits;
      } else {
        const std::optional<size_t> digits = column::parse::r_digits(text, plan.type.scale);
        if (!digits) return false;
        length = *digits;
      }
    } else if (kind != K::Binary && (kind != K::Date32 || !column::parse::civil_date(text))) {
      return false;
    }
    if (length < plan.min_length || length > plan.max_length) return false;
    if (!plan.listed) return true;
    const plan::CodeSet* codes = plan.codes_to_check(matched_slot_);
    return codes == nullptr || codes->admits(text);
  }
  // A finding of check_value, kept out of its path for valid values.
  enum class Finding : uint8_t { Missing, Type, Length, Code };
  [[gnu::cold, gnu::noinline]] void report_value(Finding finding, std::string_view text,
                                                 const plan::ValuePlan& plan, const Segment& segment,
                                                 uint64_t element,
                                                 const std::optional<uint64_t>& component,
                                                 uint64_t length, const plan::CodeSet* codes);
  // A place in a segment of this id, named by the spec's own id.
  ElementRef place(const Segment& segment, uint64_t element, Position component = {}) const;
  void report(Rule rule, const Segment& segment, uint64_t element,
              std::optional<uint64_t> component, std::string_view datum);
  void report_at(Rule rule, uint64_t segment, std::optional<uint64_t> element,
                 std::optional<uint64_t> component, std::string_view datum);

  // The amount the check kept for the text at `position` read as `type`,
  // or null. The check's word test costs about half a parse, a column's parse
  // a whole one; dates are not kept, as their check is nearly their parse.
  const i128* shared(uint64_t position, column::ColumnType type) const {
    if (type.kind != column::ColumnType::Kind::Decimal128) return nullptr;
    return amounts_.find(position, type.scale);
  }

  const spec::Spec* spec_;
  char component_;
  Rows rows_;
  plan::Plans plans_;
  std::optional<size_t> matched_;
  // The candidate slot of the matched occurrence (set with matched_).
  std::optional<size_t> matched_slot_;
  std::vector<uint64_t> ordinals_;
  std::vector<OpenLoop> open_;
  std::vector<Diagnostic> diagnostics_;
  Shares shares_;
  // The code-list rule of each place reported, keyed by the place's code
  // set, segment id (the spec's own), element and component.
  std::map<std::tuple<const plan::CodeSet*, const std::string*, uint64_t, uint64_t>,
           Shared<Rule::CodeNotInList>>
      code_rules_;
  std::string text_buffer_;
  std::vector<TableState> tables_;
  std::vector<LoopTables> loop_tables_;
  std::vector<rows::Dropped> dropped_;
  Amounts amounts_;
};

}  // namespace zarvi_core::project
