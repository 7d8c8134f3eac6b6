// Helpers shared by the engine, checker and processor tests: a small spec in
// the spec JSON format, a feeder that frames inline X12 text with the default
// delimiters (* : ~) and runs it through a Processor, and compact texts of
// events and diagnostics for table-driven expectations.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "test_input.h"
#include "zarvi_core/diagnostic.h"
#include "zarvi_core/engine.h"
#include "zarvi_core/frame.h"
#include "zarvi_core/process.h"
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
inline std::string brief(const Diagnostic& d) {
  std::string out(kind_name(d.rule.kind()));
  out += '@';
  out += d.segment ? std::to_string(*d.segment) : "end";
  if (d.element) out += "." + std::to_string(*d.element);
  if (d.component) out += "-" + std::to_string(*d.component);
  if (!d.datum.empty()) out += " " + quote_bytes(d.datum);
  return out;
}

inline std::vector<std::string> briefs(const std::vector<Diagnostic>& ds) {
  std::vector<std::string> out;
  for (const Diagnostic& d : ds) out.push_back(brief(d));
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

}  // namespace zarvi_test
