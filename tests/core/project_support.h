// Helpers of the projector tests: a spec with one table of each kind (rows
// per loop instance with keys, picks and a carried column; rows per segment
// with repeat groups; rows per end segment), and a run of the engine and the
// projector alone over inline X12 text, so that the checker's findings stay
// out of the expectations.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process_support.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/document.h"
#include "zarvi_core/project.h"

namespace zarvi_test {

inline constexpr std::string_view kProjectionSpecJson = R"json({"name": "projection",
  "loops": {
    "tx": {"trigger": {"segment": "ST"}, "end": "SE", "occurrences": {
      "st": {"segment": "ST", "pos": 100}, "bpr": {"segment": "BPR", "pos": 200},
      "ref_ev": {"segment": "REF", "pos": 300, "qualifier": {"element": 1, "codes": ["EV"]}},
      "ref_f2": {"segment": "REF", "pos": 310, "qualifier": {"element": 1, "codes": ["F2"]}}}},
    "payer": {"parent": "tx", "trigger": {"segment": "N1", "where": {"1": "PR"}}, "occurrences": {
      "n1": {"segment": "N1", "pos": 500, "qualifier": {"element": 1, "codes": ["PR"]}}}},
    "claim": {"parent": "tx", "trigger": {"segment": "CLP"}, "occurrences": {
      "clp": {"segment": "CLP", "pos": 1000}, "cas": {"segment": "CAS", "pos": 1100, "max": 3}}},
    "svc": {"parent": "claim", "trigger": {"segment": "SVC"}, "occurrences": {
      "svc": {"segment": "SVC", "pos": 2000},
      "dtm": {"segment": "DTM", "pos": 2100, "max": 2, "codes": {"1": ["472"]}}}}},
  "segments": {
    "ST": {"elements": {"1": {"name": "code", "type": "ID", "required": true, "codes": ["835"]},
      "2": {"name": "control", "type": "AN", "required": true, "min": 4, "max": 9}}},
    "BPR": {"elements": {"2": {"name": "amount", "type": "R", "required": true, "max": 4},
      "16": {"name": "date", "type": "DT"}}},
    "REF": {"elements": {"1": {"name": "qualifier", "type": "ID", "required": true},
      "2": {"name": "value", "type": "AN", "required": true}}},
    "N1": {"elements": {"1": {"name": "entity", "type": "ID", "required": true},
      "2": {"name": "name", "type": "AN"}}},
    "CLP": {"elements": {"1": {"name": "claim_id", "type": "AN", "required": true},
      "2": {"name": "status", "type": "ID", "codes": ["1", "2", "22"]},
      "3": {"name": "charge", "type": "R", "required": true},
      "5": {"name": "units", "type": "N2"}}},
    "CAS": {"elements": {
      "1": {"name": "group", "type": "ID", "required": true, "codes": ["CO", "OA", "PR"]},
      "3": {"name": "amount", "type": "R"}, "4": {"name": "quantity", "type": "R", "scale": 0}}},
    "SVC": {"elements": {
      "1": {"name": "procedure", "type": "AN", "required": true, "composite": {
        "1": {"name": "qualifier", "type": "ID", "required": true, "codes": ["AD", "HC"]},
        "2": {"name": "code", "type": "AN", "required": true, "max": 5}}},
      "2": {"name": "charge", "type": "R", "required": true}}},
    "DTM": {"elements": {
      "1": {"name": "qualifier", "type": "ID", "required": true, "codes": ["150", "472"]},
      "2": {"name": "date", "type": "DT", "required": true}, "3": {"name": "time", "type": "TM"}}}},
  "tables": {
    "payments": {"loops": ["tx"], "ref": "payment", "columns": {
      "amount": {"occurrence": "bpr", "element": 2}, "date": {"segment": "BPR", "element": 16},
      "trace": {"segment": "REF", "where": {"1": "EV"}, "element": 2},
      "other_ref": {"occurrence": "ref_f2", "element": 2},
      "payer_name": {"loop": "payer", "occurrence": "n1", "element": 2},
      "st_at": {"occurrence": "st", "segment_index": true}}},
    "claims": {"loops": ["claim"], "ref": "claim", "columns": {
      "claim_id": {"occurrence": "clp", "element": 1}, "charge": {"segment": "CLP", "element": 3},
      "units": {"segment": "CLP", "element": 5}, "cas_first": {"occurrence": "cas", "element": 3},
      "cas_last": {"occurrence": "cas", "pick": "last", "element": 3},
      "cas_second": {"occurrence": "cas", "pick": 2, "element": 3},
      "trace": {"loop": "tx", "occurrence": "ref_ev", "element": 2}}},
    "services": {"loops": ["svc"], "ref": "service", "columns": {
      "procedure": {"segment": "SVC", "element": 1},
      "code": {"segment": "SVC", "element": 1, "component": 2},
      "charge": {"segment": "SVC", "element": 2}, "date": {"occurrence": "dtm", "element": 2},
      "time": {"occurrence": "dtm", "element": 3}}},
    "adjustments": {"loops": ["claim"], "segment": "CAS", "repeat": {"from": 2, "step": 3},
      "columns": {"group": {"element": 1}, "reason": {"group_element": 0},
        "amount": {"group_element": 1}, "quantity": {"group_element": 2},
        "at": {"segment_index": true}}},
    "endings": {"loops": ["tx"], "segment": "SE", "columns": {"count": {"element": 1}}}}})json";

inline const spec::Spec& projection_spec() {
  static const spec::SpecPtr compiled = compile_or_abort(kProjectionSpecJson);
  return *compiled;
}

struct Projected {
  std::vector<Diagnostic> diagnostics;
  column::Tables tables;
};

// Engine and projector over every segment of `text`, then the projector's
// finish and one take of all rows.
inline Projected project_text(const spec::Spec& spec, std::string_view text) {
  engine::LoopEngine engine(spec);
  project::Projector projector(spec, Delimiters{});
  Projected out;
  for (const Segment& segment : frame_all(text)) {
    const auto& step = projector.on(engine.feed(segment), segment);
    out.diagnostics.insert(out.diagnostics.end(), step.begin(), step.end());
  }
  const auto& last = projector.finish();
  out.diagnostics.insert(out.diagnostics.end(), last.begin(), last.end());
  std::vector<column::Table> taken;
  projector.take_rows(taken);
  out.tables = column::Tables(std::move(taken));
  return out;
}

// The rows of one table as their text lines, without title or header.
inline std::vector<std::string> row_lines(const column::Table& table) {
  std::vector<std::string> out;
  for (size_t r = 0; r < table.rows(); ++r) out.push_back(table.render_row(r).value_or("?"));
  return out;
}

// "row" numbers within each table are 0, 1, 2... in append order.
inline void expect_rows_in_order(const column::Tables& tables) {
  for (const column::Table& t : tables) {
    const column::ColumnData* row = t.column("row");
    ASSERT_NE(row, nullptr);
    for (size_t r = 0; r < t.rows(); ++r)
      ASSERT_EQ(row->get(r), column::Cell::int64(static_cast<int64_t>(r))) << t.name();
  }
}

// Rows of every table as text, keyed by table name, appended batch by batch.
using RowsByTable = std::map<std::string, std::vector<std::string>>;

inline void append_rows(RowsByTable& out, const column::Tables& tables) {
  for (const column::Table& t : tables) {
    auto& lines = out[t.name()];
    for (const std::string& line : row_lines(t)) lines.push_back(line);
  }
}

// A document over `text` with the default delimiters, whatever its envelope.
inline Document document_of(std::string_view text) {
  auto bodies = index(text, Delimiters{});
  EXPECT_TRUE(bodies.ok());
  return Document(text, Delimiters{}, bodies.ok() ? std::move(bodies).value() : BodyList{});
}

// Every Close names the innermost open loop; returns the depth left open.
inline size_t check_nesting(const std::vector<engine::Event>& events,
                            std::vector<spec::LoopId>& stack) {
  for (const engine::Event& e : events) {
    if (e.kind == engine::Event::Kind::Open) stack.push_back(e.loop);
    if (e.kind != engine::Event::Kind::Close) continue;
    EXPECT_FALSE(stack.empty());
    if (stack.empty()) continue;
    EXPECT_EQ(stack.back(), e.loop);
    stack.pop_back();
  }
  return stack.size();
}

// The rows of a run whose tables are taken at each close of `loop` (none:
// after every segment) and at the end; its diagnostics go to `diagnostics`.
// On the way: events nest, the finish closes every loop, and findings have
// a segment except at the end of the stream (where only a balance points at
// its first target value).
inline RowsByTable rows_in_batches(const spec::Spec& spec, const Document& document,
                                   std::optional<spec::LoopId> loop,
                                   std::vector<Diagnostic>& diagnostics) {
  process::Processor processor(spec, document.delimiters());
  RowsByTable batched;
  std::vector<spec::LoopId> stack;
  for (size_t i = 0; i < document.size(); ++i) {
    const process::Output& out = processor.feed(*document.segment(i));
    check_nesting(out.events, stack);
    for (const Diagnostic& d : out.diagnostics) EXPECT_TRUE(d.segment) << to_string(d);
    diagnostics.insert(diagnostics.end(), out.diagnostics.begin(), out.diagnostics.end());
    bool closed = !loop;
    for (const engine::Event& e : out.events)
      closed = closed || (e.kind == engine::Event::Kind::Close && e.loop == *loop);
    if (closed) append_rows(batched, processor.take_tables());
  }
  const process::Output& out = processor.finish();
  EXPECT_EQ(check_nesting(out.events, stack), 0u);
  for (const Diagnostic& d : out.diagnostics)
    EXPECT_TRUE(!d.segment || d.rule.kind() == RuleKind::BalanceMismatch) << to_string(d);
  diagnostics.insert(diagnostics.end(), out.diagnostics.begin(), out.diagnostics.end());
  append_rows(batched, processor.take_tables());
  return batched;
}

}  // namespace zarvi_test
