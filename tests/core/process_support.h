// Helpers shared by the engine, checker, processor and projector tests: a
// small spec in the spec JSON format, a feeder that frames inline X12 text
// with the default delimiters (* : ~) and runs it through a Processor, compact
// texts of events and diagnostics for table-driven expectations; and for the
// projector a spec with one table of each kind (rows per loop instance with
// keys, picks and a carried column; rows per segment with repeat groups; rows
// per end segment), a run of the engine and projector alone (so the checker's
// findings stay out of the expectations) and a run taken in batches.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "test_input.h"
#include "zarvi_core/column/table.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/document.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/frame.h"
#include "zarvi_core/process.h"
#include "zarvi_core/project/project.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/text.h"

namespace zarvi_test {

using namespace zarvi_core;
using zarvi_core::testing::isa;

// interchange > group > transaction > {payer, header > claim > service}.
inline constexpr std::string_view kSpecJson = R"json({"name": "mini",
  "loops": {
    "interchange": {"trigger": {"segment": "ISA"}, "usage": "required", "end": "IEA",
      "control": {"opener_element": 13, "closer_element": 2, "count_element": 1,
                  "count": "children"},
      "occurrences": {"isa": {"segment": "ISA", "pos": 100, "usage": "required", "max": 1},
                      "iea": {"segment": "IEA", "pos": 99999, "usage": "required", "max": 1}}},
    "group": {"parent": "interchange", "max": 2, "trigger": {"segment": "GS"}, "end": "GE",
      "usage": "required",
      "control": {"opener_element": 6, "closer_element": 2, "count_element": 1,
                  "count": "children"},
      "occurrences": {"gs": {"segment": "GS", "pos": 200, "usage": "required", "max": 1},
                      "ge": {"segment": "GE", "pos": 99000, "usage": "required", "max": 1}}},
    "transaction": {"parent": "group", "trigger": {"segment": "ST"}, "end": "SE",
      "usage": "required",
      "control": {"opener_element": 2, "closer_element": 2, "count_element": 1,
                  "count": "segments"},
      "occurrences": {
        "st": {"segment": "ST", "pos": 300, "usage": "required", "max": 1},
        "bpr": {"segment": "BPR", "pos": 400, "usage": "required", "max": 1},
        "ref_ev": {"segment": "REF", "pos": 500, "qualifier": {"element": 1, "codes": ["EV"]}},
        "ref_f2": {"segment": "REF", "pos": 500, "qualifier": {"element": 1, "codes": ["F2"]}},
        "dtm": {"segment": "DTM", "pos": 600, "max": 1, "codes": {"1": ["405"]}},
        "plb": {"segment": "PLB", "pos": 9000},
        "se": {"segment": "SE", "pos": 9900, "usage": "required", "max": 1}}},
    "payer": {"parent": "transaction", "trigger": {"segment": "N1", "where": {"1": "PR"}},
      "usage": "required", "max": 1,
      "occurrences": {"n1": {"segment": "N1", "pos": 700, "usage": "required"}}},
    "payee": {"parent": "transaction", "trigger": {"segment": "N1"},
      "occurrences": {"n1": {"segment": "N1", "pos": 800}}},
    "header": {"parent": "transaction", "trigger": {"segment": "LX"},
      "occurrences": {"lx": {"segment": "LX", "pos": 1000, "usage": "required", "max": 1}}},
    "claim": {"parent": "header", "trigger": {"segment": "CLP"}, "usage": "required",
      "occurrences": {"clp": {"segment": "CLP", "pos": 1100, "usage": "required", "max": 1},
                      "cas": {"segment": "CAS", "pos": 1200, "max": 2}}},
    "service": {"parent": "claim", "trigger": {"segment": "SVC"}, "max": 2,
      "occurrences": {"svc": {"segment": "SVC", "pos": 1300, "usage": "required", "max": 1},
                      "svc_cas": {"segment": "CAS", "pos": 1400}}}},
  "segments": {
    "ST": {"elements": {"1": {"name": "code", "type": "ID", "required": true, "codes": ["835"]},
      "2": {"name": "control", "type": "AN", "required": true, "min": 4, "max": 9}}},
    "BPR": {"elements": {"2": {"name": "amount", "type": "R", "required": true}}},
    "REF": {"elements": {"1": {"name": "qualifier", "type": "ID", "required": true},
      "2": {"name": "value", "type": "AN", "required": true}}},
    "DTM": {"elements": {
      "1": {"name": "qualifier", "type": "ID", "required": true, "codes": ["050", "405"]},
      "2": {"name": "date", "type": "DT", "required": true}}},
    "LX": {"elements": {"1": {"name": "number", "type": "N0", "required": true, "max": 6}}},
    "CLP": {"elements": {"1": {"name": "id", "type": "AN", "required": true},
      "3": {"name": "charge", "type": "R", "required": true},
      "4": {"name": "paid", "type": "R", "required": true}}},
    "CAS": {"elements": {
      "1": {"name": "group", "type": "ID", "required": true, "codes": ["CO", "OA", "PR"]},
      "3": {"name": "amount", "type": "R", "required": true},
      "6": {"name": "amount_2", "type": "R"}}},
    "SVC": {"elements": {
      "1": {"name": "procedure", "type": "AN", "required": true, "composite": {
        "1": {"name": "qualifier", "type": "ID", "required": true, "codes": ["HC"]},
        "2": {"name": "code", "type": "AN", "required": true}}},
      "2": {"name": "charge", "type": "R", "required": true}}}},
  "balancing": {"claim_balance": {"per": "claim",
    "target": [{"occurrence": "clp", "elements": [3]},
               {"occurrence": "clp", "elements": [4], "sign": "-"}],
    "sum": [{"occurrence": "cas", "elements": [3, 6]},
            {"loop": "service", "occurrence": "svc_cas", "elements": [3, 6]}]}}})json";

// A spec the tests rely on; one that does not compile stops the program.
inline spec::SpecPtr compile_or_abort(std::string_view json) {
  auto result = spec::Spec::from_json(json);
  if (!result.ok()) {
    ADD_FAILURE() << result.error().message();
    std::abort();
  }
  return std::move(result).value();
}

// The compiled mini spec, once per test program.
inline const spec::Spec& mini_spec() {
  static const spec::SpecPtr compiled = compile_or_abort(kSpecJson);
  return *compiled;
}

// Segments framed from `text` with the default delimiters; they borrow `text`.
inline std::vector<Segment> frame_all(std::string_view text) {
  std::vector<Segment> out;
  const Delimiters delimiters;
  std::string_view rest = text;
  while (auto framed = out.empty() ? first_frame(rest, delimiters) : next_frame(rest, delimiters)) {
    out.emplace_back();
    out.back().reparse(out.size() - 1, framed->frame, delimiters);
    rest = framed->rest;
  }
  return out;
}

// "Open(claim, 3, implicit)" ... joined by " ".
inline std::string events_text(const spec::Spec& spec, const std::vector<engine::Event>& events) {
  std::string out;
  for (const engine::Event& e : events) out += (out.empty() ? "" : " ") + engine::to_string(spec, e);
  return out;
}

// "UnknownSegment@3" / "TypeMismatch@4.2" / "CompositeShape@5.1-3 \"x\"": the
// kind, where, and the datum when not empty; "@end" at the end of the stream.
template <class Diagnostics>
std::vector<std::string> briefs(const Diagnostics& ds) {
  std::vector<std::string> out;
  for (const Diagnostic& d : ds) {
    std::string& b = out.emplace_back(kind_name(d.rule.kind()));
    b += '@' + (d.segment ? std::to_string(*d.segment) : "end");
    if (d.element) b += "." + std::to_string(*d.element);
    if (d.component) b += "-" + std::to_string(*d.component);
    if (!d.datum.empty()) b += " " + quote_bytes(d.datum);
  }
  return out;
}

// Feeds every segment of `text` and finishes; all diagnostics in order.
inline std::vector<Diagnostic> run_text(const spec::Spec& spec, std::string_view text) {
  process::Processor processor(spec, Delimiters{});
  std::vector<Diagnostic> out;
  for (const Segment& segment : frame_all(text)) {
    const process::Output& step = processor.feed(segment);
    out.insert(out.end(), step.diagnostics.begin(), step.diagnostics.end());
  }
  const process::Output& last = processor.finish();
  out.insert(out.end(), last.diagnostics.begin(), last.diagnostics.end());
  return out;
}

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
  column::table::Tables tables;
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
  std::vector<column::table::Table> taken;
  projector.take_rows(taken);
  out.tables = column::table::Tables(std::move(taken));
  return out;
}

// The rows of one table as their text lines, without title or header.
inline std::vector<std::string> row_lines(const column::table::Table& table) {
  std::vector<std::string> out;
  for (size_t r = 0; r < table.rows(); ++r) out.push_back(table.render_row(r).value_or("?"));
  return out;
}

// Rows of every table as text, keyed by table name, appended batch by batch;
// the "row" numbers of each table run 0, 1, 2... across its batches.
using RowsByTable = std::map<std::string, std::vector<std::string>>;

inline void append_rows(RowsByTable& out, const column::table::Tables& tables) {
  for (const column::table::Table& t : tables) {
    auto& lines = out[t.name()];
    const std::optional<column::ColumnView> row = t.column("row");
    ASSERT_TRUE(row.has_value());
    for (size_t r = 0; r < t.rows(); ++r) {
      EXPECT_EQ(row->get(r), column::Cell::int64(static_cast<int64_t>(lines.size()))) << t.name();
      lines.push_back(t.render_row(r).value_or("?"));
    }
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
