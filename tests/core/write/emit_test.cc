#include "zarvi_core/write/emit.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../alloc_count.h"
#include "write_spec.h"
#include "write_tables.h"

namespace zarvi_core::write::emit {
namespace {

using namespace zarvi_core::write::testing;

// The tiny spec with the segments and tables the cases write from: NT03, a
// composite CP01, a repeated AJ (two groups of two from element 2) and SB.
constexpr const char* kSegments = R"({
  "loops": {"item": {"occurrences": {"cp": {"segment": "CP", "pos": 13},
                                     "aj": {"segment": "AJ", "pos": 14}}}},
  "segments": {
    "NT": {"elements": {"3": {"name": "extra", "type": "AN"}}},
    "CP": {"elements": {"1": {"name": "c", "type": "AN", "composite": {
      "1": {"name": "a", "type": "AN"}, "2": {"name": "b", "type": "AN"}}}}},
    "AJ": {"elements": {"1": {"name": "code", "type": "AN"}, "2": {"name": "g1", "type": "AN"},
      "3": {"name": "g2", "type": "AN"}, "4": {"name": "g3", "type": "AN"}, "5": {"name": "g4", "type": "AN"}}},
    "SB": {"elements": {"1": {"name": "s", "type": "AN"}}},
    "DT": {"elements": {"1": {"name": "d", "type": "DT", "max": 8}}}
  },
  "tables": {"items": {"loops": ["item"], "ref": "item", "columns": {
    "n": {"segment": "IT", "element": 1},
    "extra": {"segment": "NT", "element": 3},
    "b": {"segment": "CP", "element": 1, "component": 2},
    "rf": {"segment": "RF", "where": {"1": "A"}, "element": 2}}}}
})";

spec::SpecPtr tiny(const char* patch) {
  nlohmann::json value = nlohmann::json::parse(kSegments);
  spec::merge_patch(value, nlohmann::json::parse(patch));
  return compile_tiny(value.dump());
}

struct Emitted {
  std::string output;
  std::vector<std::string> findings;
  trace::Traces traces;
};

// Plans, binds, nests and emits every root loop, without the read-back;
// with `traced`, traces those segments alone and keeps no output.
Emitted emit(const spec::Spec& spec, const column::table::Tables& input,
             const envelope::Envelope& envelope = envelope::Envelope(),
             std::optional<std::vector<uint64_t>> traced = std::nullopt) {
  auto planned = plan::WritePlan::make(spec);
  EXPECT_TRUE(planned.ok()) << planned.error().text();
  auto bound = data::bind(spec, input);
  EXPECT_TRUE(bound.ok()) << finding::to_string(bound.error());
  auto delimiters = envelope::delimiters(envelope, false);
  EXPECT_TRUE(delimiters.ok());
  if (!planned.ok() || !bound.ok() || !delimiters.ok()) return {};
  std::vector<finding::Finding> findings;
  const nest::Nest nested = nest::nest(spec, planned.value(), bound.value(), findings);
  const layout::Layout layout(planned.value(), spec);
  Emitter emitter(spec, planned.value(), layout, bound.value(), nested, envelope,
                  delimiters.value());
  if (traced) emitter.trace_only(*traced, false);
  const walk::Context root;
  for (spec::LoopId loop : spec.roots)
    for (const walk::Context& c : emitter.instances(loop, root)) emitter.instance(loop, c);
  Emitted out{emitter.output(), {}, emitter.traces()};
  for (const auto& f : findings) out.findings.push_back(finding::to_string(f));
  for (const auto& f : emitter.findings()) out.findings.push_back(finding::to_string(f));
  return out;
}

column::table::Table items(std::initializer_list<std::vector<Cell>> rows) {
  return table("items", {{"n", kText}, {"extra", kText}, {"b", kText}}, rows);
}
const Cell kNull = Cell::null();
Cell text(const char* s) { return Cell::binary(s); }

TEST(Emitter, SegmentAssembly) {
  const struct {
    const char* name;
    const char* patch;
    std::function<column::table::Tables()> input;
    bool line_break;
    const char* output;
    std::vector<std::string> findings;
  } cases[] = {
      {"no rows: the envelope loop alone", "{}", [] { return tables(); }, false, "ST~SE*2*1~", {}},
      // Elements before the last one with text stay empty; none after it.
      {"element 3 only", "{}", [] { return tables(items({{text("A"), text("v"), kNull}})); },
       false, "ST~IT*A~NT***v~SE*4*1~", {}},
      {"component 2 only", "{}", [] { return tables(items({{text("A"), kNull, text("v")}})); },
       false, "ST~IT*A~CP*:v~SE*4*1~", {}},
      // A column without component writes component 1 of a composite.
      {"component 1 from a column without component", R"({"tables": {"items": {"columns":
         {"c": {"segment": "CP", "element": 1}}}}})",
       [] {
         return tables(table("items", {{"n", kText}, {"b", kText}, {"c", kText}},
                             {{text("A"), text("v"), text("u")}, {text("B"), kNull, text("w")}}));
       },
       false, "ST~IT*A~CP*u:v~IT*B~CP*w~SE*6*1~", {}},
      // The opening segment is written even when it has no value.
      {"opening segment without values", "{}",
       [] { return tables(items({{kNull, kNull, kNull}})); }, false, "ST~IT~SE*3*1~", {}},
      {"a value with delimiters is written unchanged, one finding per delimiter", "{}",
       [] { return tables(items({{text("A"), text("x*y*z:w"), kNull}})); }, false,
       "ST~IT*A~NT***x*y*z:w~SE*4*1~",
       {"table \"items\" row 0 column \"extra\" writes NT03 with \"x*y*z:w\", which holds the "
        "element separator \"*\"; a value cannot hold the interchange's delimiters",
        "table \"items\" row 0 column \"extra\" writes NT03 with \"x*y*z:w\", which holds the "
        "component separator \":\"; a value cannot hold the interchange's delimiters"}},
      {"line breaks; the count is of segments", "{}",
       [] { return tables(items({{text("A"), text("v"), kNull}})); }, true,
       "ST~\nIT*A~\nNT***v~\nSE*4*1~\n", {}},
      {"children of one parent written after a later parent's", R"({"tables": {"subs":
         {"loops": ["sub"], "columns": {"s": {"segment": "SB", "element": 1}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}, {text("B"), kNull, kNull}}),
                       table("subs", {{"item", kInt}, {"s", kText}},
                             {{Cell::int64(1), text("b")}, {Cell::int64(0), text("a")}}));
       },
       false, "ST~IT*A~SB*a~IT*B~SB*b~SE*6*1~",
       {"table \"subs\" row 0 (column \"item\" = 1) is written after row 1; the rows of one "
        "parent must be together and in their parents' order"}},
      {"a situational loop read with nothing to write has no instance",
       R"({"tables": {"items": {"columns": {"s": {"loop": "sub", "segment": "SB", "element": 1}}}}})",
       [] { return tables(table("items", {{"n", kText}, {"s", kText}}, {{text("A"), kNull}})); },
       false, "ST~IT*A~SE*3*1~", {}},
      {"a required loop read has one instance even without values",
       R"({"loops": {"sub": {"usage": "required"}},
           "tables": {"items": {"columns": {"s": {"loop": "sub", "segment": "SB", "element": 1}}}}})",
       [] { return tables(table("items", {{"n", kText}, {"s", kText}}, {{text("A"), kNull}})); },
       false, "ST~IT*A~SB~SE*4*1~", {}},
      {"a situational loop read with a value", R"({"tables": {"items": {"columns":
         {"s": {"loop": "sub", "segment": "SB", "element": 1}}}}})",
       [] { return tables(table("items", {{"n", kText}, {"s", kText}}, {{text("A"), text("x")}})); },
       false, "ST~IT*A~SB*x~SE*4*1~", {}},
      // Two groups fit one AJ: three rows with equal plain values give two.
      {"repeat groups fill segments", R"({"tables": {"adjs": {"loops": ["item"], "segment": "AJ",
         "repeat": {"from": 2, "step": 2}, "columns": {"code": {"element": 1},
         "amount": {"group_element": 0}, "qty": {"group_element": 1}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}}),
                       table("adjs", {{"item", kInt}, {"code", kText}, {"amount", kText}, {"qty", kText}},
                             {{Cell::int64(0), text("C"), text("1"), text("1")},
                              {Cell::int64(0), text("C"), text("2"), text("2")},
                              {Cell::int64(0), text("C"), text("3"), text("3")}}));
       },
       false, "ST~IT*A~AJ*C*1*1*2*2~AJ*C*3*3~SE*5*1~", {}},
      {"repeat groups split where plain values or segments differ",
       R"({"tables": {"adjs": {"loops": ["item"], "segment": "AJ",
         "repeat": {"from": 2, "step": 2}, "columns": {"code": {"element": 1},
         "amount": {"group_element": 0}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}}),
                       table("adjs", {{"segment", kInt}, {"item", kInt}, {"code", kText}, {"amount", kText}},
                             {{Cell::int64(7), Cell::int64(0), text("C"), text("1")},
                              {Cell::int64(7), Cell::int64(0), text("D"), text("2")},
                              {Cell::int64(8), Cell::int64(0), text("D"), text("3")}}));
       },
       false, "ST~IT*A~AJ*C*1~AJ*D*2~AJ*D*3~SE*6*1~", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const spec::SpecPtr spec = tiny(c.patch);
    ASSERT_NE(spec, nullptr);
    envelope::Envelope envelope;
    envelope.line_break = c.line_break;
    const Emitted got = emit(*spec, c.input(), envelope);
    EXPECT_EQ(got.output, c.output);
    EXPECT_EQ(got.findings, c.findings);
  }
}

// The tiny spec with `patch` written from `input`: the output and findings.
struct WriteCase {
  const char* name;
  const char* patch;
  std::function<column::table::Tables()> input;
  const char* output;
  std::vector<std::string> findings;
};

void expect_writes(std::span<const WriteCase> cases) {
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    const spec::SpecPtr spec = tiny(c.patch);
    ASSERT_NE(spec, nullptr);
    const Emitted got = emit(*spec, c.input());
    EXPECT_EQ(got.output, c.output);
    EXPECT_EQ(got.findings, c.findings);
  }
}

// Every value the writer supplies itself is checked like a cell's: fixed
// codes point at the row that wrote them, or at nothing when the spec alone
// gives them.
TEST(Emitter, DelimitersInCodes) {
  const char* const kHolds = "; a value cannot hold the interchange's delimiters";
  const WriteCase cases[] = {
      {"an opening segment's code", R"({"segments": {"ST": {"elements":
         {"1": {"name": "id", "type": "ID", "codes": ["8~5"]}}}}})",
       [] { return tables(); }, "ST*8~5~SE*2*1~",
       {std::string("the written file writes ST01 with \"8~5\", which holds the segment terminator "
                    "\"~\"") + kHolds}},
      {"a where code of a row", R"({"loops": {"item": {"occurrences":
         {"ref_a": {"qualifier": {"codes": ["A:1"]}}}}},
         "segments": {"RF": {"elements": {"1": {"codes": ["A:1", "B", "C"]}}}},
         "tables": {"items": {"columns": {"rf": {"where": {"1": "A:1"}}}}}})",
       [] { return tables(table("items", {{"n", kText}, {"rf", kText}}, {{text("A"), text("r")}})); },
       "ST~IT*A~RF*A:1*r~SE*4*1~",
       {std::string("table \"items\" row 0 writes RF01 with \"A:1\", which holds the component "
                    "separator \":\"") + kHolds}},
      {"the qualifier of a repeated segment", R"({"loops": {"item": {"occurrences":
         {"aj": {"qualifier": {"element": 1, "codes": ["Q*"]}}}}},
         "tables": {"adjs": {"loops": ["item"], "segment": "AJ", "repeat": {"from": 2, "step": 1},
         "columns": {"amount": {"group_element": 0}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}}),
                       table("adjs", {{"item", kInt}, {"amount", kText}},
                             {{Cell::int64(0), text("1")}, {Cell::int64(0), text("2")}}));
       },
       "ST~IT*A~AJ*Q**1*2~SE*4*1~",
       {std::string("table \"adjs\" row 0 writes AJ01 with \"Q*\", which holds the element "
                    "separator \"*\"") + kHolds}},
  };
  expect_writes(cases);
}

// A value at a position no file the reader takes can hold is not written:
// its separators alone would exhaust memory, so none are ever allocated. A
// repeat group's position saturates rather than wrapping to an early element.
TEST(Emitter, PositionsPastAnyFile) {
  const char* const kElements =
      "cannot hold: no file the reader takes holds a segment of that many elements";
  const WriteCase cases[] = {
      // The smallest segment holding either is 2^32 bytes, one past the
      // largest input.
      {"the first element past any file", R"({"tables": {"items": {"columns":
         {"extra": {"element": 4294967293}}}}})",
       [] { return tables(items({{text("A"), text("v"), kNull}})); }, "ST~IT*A~NT~SE*4*1~",
       {std::string("table \"items\" row 0 column \"extra\" holds \"v\", which NT4294967293 ") +
        kElements}},
      {"the first component past any file", R"({"tables": {"items": {"columns":
         {"b": {"component": 4294967293}}}}})",
       [] { return tables(items({{text("A"), kNull, text("v")}})); }, "ST~IT*A~CP~SE*4*1~",
       {"table \"items\" row 0 column \"b\" holds \"v\", which CP01-4294967293 cannot "
        "hold: no file the reader takes holds an element of that many components"}},
      {"the largest component", R"({"tables": {"items": {"columns":
         {"b": {"component": 18446744073709551615}}}}})",
       [] { return tables(items({{text("A"), kNull, text("v")}})); }, "ST~IT*A~CP~SE*4*1~",
       {"table \"items\" row 0 column \"b\" holds \"v\", which CP01-18446744073709551615 cannot "
        "hold: no file the reader takes holds an element of that many components"}},
      {"an element past 32 bits", R"({"tables": {"items": {"columns":
         {"extra": {"element": 4294967296}}}}})",
       [] { return tables(items({{text("A"), text("v"), kNull}})); }, "ST~IT*A~NT~SE*4*1~",
       {std::string("table \"items\" row 0 column \"extra\" holds \"v\", which NT4294967296 ") +
        kElements}},
      {"an element of 2^63", R"({"tables": {"items": {"columns":
         {"extra": {"element": 9223372036854775808}}}}})",
       [] { return tables(items({{text("A"), text("v"), kNull}})); }, "ST~IT*A~NT~SE*4*1~",
       {std::string("table \"items\" row 0 column \"extra\" holds \"v\", which "
                    "NT9223372036854775808 ") + kElements}},
      {"a where code of a row", R"({"tables": {"items": {"columns":
         {"extra": {"where": {"8000000000": "X"}}}}}})",
       [] { return tables(items({{text("A"), text("v"), kNull}})); }, "ST~IT*A~NT***v~SE*4*1~",
       {std::string("table \"items\" row 0 holds \"X\", which NT8000000000 ") + kElements}},
      {"a code of the spec", R"({"segments": {"ST": {"elements":
         {"9999999999": {"name": "far", "type": "ID", "codes": ["X"]}}}}})",
       [] { return tables(); }, "ST~SE*2*1~",
       {std::string("the written file holds \"X\", which ST9999999999 ") + kElements}},
      {"the count", R"({"loops": {"top": {"control": {"count_element": 9223372036854775808}}}})",
       [] { return tables(); }, "ST~SE**1~",
       {std::string("the written file holds \"2\", which SE9223372036854775808 ") + kElements}},
      {"a repeat group's first element past 2^64", R"({"tables": {"adjs": {"loops": ["item"],
         "segment": "AJ", "repeat": {"from": 18446744073709551615, "step": 2},
         "columns": {"amount": {"group_element": 1}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}}),
                       table("adjs", {{"item", kInt}, {"amount", kText}},
                             {{Cell::int64(0), text("1")}}));
       },
       "ST~IT*A~AJ~SE*4*1~",
       {std::string("table \"adjs\" row 0 column \"amount\" holds \"1\", which "
                    "AJ18446744073709551615 ") + kElements}},
      // Groups of 2^63 elements from element 2: the second group's element
      // is past 2^64.
      {"a repeat group", R"({"segments": {"AJ": {"elements":
         {"18446744073709551615": {"name": "far", "type": "AN"}}}},
         "tables": {"adjs": {"loops": ["item"], "segment": "AJ",
         "repeat": {"from": 2, "step": 9223372036854775808}, "columns": {"code": {"element": 1},
         "amount": {"group_element": 9223372036854775807}}}}})",
       [] {
         return tables(items({{text("A"), kNull, kNull}}),
                       table("adjs", {{"item", kInt}, {"code", kText}, {"amount", kText}},
                             {{Cell::int64(0), text("C"), text("1")},
                              {Cell::int64(0), text("C"), text("2")}}));
       },
       "ST~IT*A~AJ*C~SE*4*1~",
       {std::string("table \"adjs\" row 0 column \"amount\" holds \"1\", which "
                    "AJ9223372036854775809 ") + kElements,
        std::string("table \"adjs\" row 1 column \"amount\" holds \"2\", which "
                    "AJ18446744073709551615 ") + kElements}},
  };
  const zarvi_test::PeakBytes peak;
  expect_writes(cases);
  EXPECT_LT(peak.peak(), size_t{16} << 20);
}

// Each instance of a controlled loop takes the next control number; the
// counter stops at the largest value instead of wrapping.
TEST(Emitter, ControlNumbersSaturate) {
  const spec::SpecPtr spec = tiny(R"({"tables": {"items": null, "tops": {"loops": ["top"],
      "columns": {"note": {"segment": "REF", "element": 2}}}}})");
  ASSERT_NE(spec, nullptr);
  envelope::Envelope envelope;
  envelope.control_number = 18446744073709551614u;
  const column::table::Tables input =
      tables(table("tops", {{"note", kText}}, {{text("a")}, {text("b")}, {text("c")}}));
  EXPECT_EQ(emit(*spec, input, envelope).output,
            "ST~REF**a~SE*3*18446744073709551614~ST~REF**b~SE*3*18446744073709551615~"
            "ST~REF**c~SE*3*18446744073709551615~");
}

// Cells are traced to their cell, codes fall back to the segment's row, and
// the count has no origin (the writer's origins are checked end to end).
TEST(Emitter, Traces) {
  const spec::SpecPtr spec = tiny("{}");
  ASSERT_NE(spec, nullptr);
  const column::table::Tables input = tables(table("items", {{"n", kText}, {"rf", kText}},
                                            {{text("A"), kNull}, {text("B"), text("r")}}));
  const Emitted got = emit(*spec, input);
  ASSERT_EQ(got.output, "ST~IT*A~IT*B~RF*A*r~SE*5*1~");
  const trace::Names names = [&](size_t t, std::optional<size_t> c) -> std::string_view {
    if (!c) return spec->tables[t].name;
    return *c < spec->tables[t].columns.size() ? std::string_view(spec->tables[t].columns[*c].first)
                                               : std::string_view();
  };
  const auto origin = [&](uint64_t s, std::optional<uint64_t> e) {
    const auto o = got.traces.origin(s, e, std::nullopt, names);
    return o ? finding::to_string(*o) : std::string("none");
  };
  EXPECT_EQ(origin(3, 2), "table \"items\" row 1 column \"rf\"");
  EXPECT_EQ(origin(3, 1), "table \"items\" row 1");  // the qualifier code
  EXPECT_EQ(origin(4, 1), "none");

  // Tracing only segments 1 and 3 keeps their traces, in order.
  const Emitted some = emit(*spec, input, envelope::Envelope(), std::vector<uint64_t>{1, 3});
  EXPECT_EQ(some.output, "");
  EXPECT_EQ(some.traces.segments(), 2u);
  const auto some_origin = [&](uint64_t s, uint64_t e) {
    return finding::to_string(*some.traces.origin(s, e, std::nullopt, names));
  };
  EXPECT_EQ(some_origin(0, 1), "table \"items\" row 0 column \"n\"");
  EXPECT_EQ(some_origin(1, 2), "table \"items\" row 1 column \"rf\"");
}

TEST(Cells, Render) {
  auto column = [](ColumnType type, Cell cell) {
    column::ColumnData c(type);
    c.push_accepted(cell);
    return c;
  };
  const struct {
    const char* name;
    column::ColumnData column;
    std::optional<uint64_t> max;
    cells::Outcome outcome;
    const char* text;  // or the reason
  } cases[] = {
      {"bytes", column(kText, text("a b")), {}, cells::Outcome::Text, "a b"},
      {"negative integer", column(kInt, Cell::int64(-5)), {}, cells::Outcome::Text, "-5"},
      {"an integer's scale is a label", column(ColumnType::int64(2), Cell::int64(1250)), {},
       cells::Outcome::Text, "1250"},
      {"trailing fraction zeros go", column(ColumnType::decimal128(38, 2), Cell::decimal128(1250)), {},
       cells::Outcome::Text, "12.5"},
      {"and the point with them", column(ColumnType::decimal128(38, 2), Cell::decimal128(700)), {},
       cells::Outcome::Text, "7"},
      {"below one", column(ColumnType::decimal128(38, 2), Cell::decimal128(-25)), {},
       cells::Outcome::Text, "-0.25"},
      {"fraction digits kept", column(ColumnType::decimal128(38, 4), Cell::decimal128(-12345)), {},
       cells::Outcome::Text, "-1.2345"},
      {"past 64 bits", column(ColumnType::decimal128(38, 2), Cell::decimal128((i128(1) << 70) * 100 + 50)),
       {}, cells::Outcome::Text, "1180591620717411303424.5"},
      {"38 digits", column(ColumnType::decimal128(38, 0), Cell::decimal128(-(i128(1) << 126))), {},
       cells::Outcome::Text, "-85070591730234615865843651857942052864"},
      // Dates and times take the element's width.
      {"date", column(ColumnType::date32(), Cell::date32(20459)), 6, cells::Outcome::Text, "260106"},
      {"negative time", column(ColumnType::time32(), Cell::time32(-1)), 6, cells::Outcome::Failed,
       "a time must fall within one day"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "<";
    std::string reason;
    EXPECT_EQ(cells::render(&c.column, 0, c.max, out, reason), c.outcome);
    EXPECT_EQ(c.outcome == cells::Outcome::Failed ? reason : out.substr(1), c.text);
  }
  std::string out;
  std::string reason;
  EXPECT_EQ(cells::render(nullptr, 0, {}, out, reason), cells::Outcome::Empty);
  EXPECT_EQ(cells::render(&cases[0].column, 1, {}, out, reason), cells::Outcome::Empty);
  EXPECT_EQ(out, "");
}

// ISA11 and ISA16 hold the repetition and component separators by
// definition: a value is checked against every delimiter but its own.
TEST(Cells, DelimitersButTheFieldsOwn) {
  const envelope::DelimiterList list = {{'*', "element separator"},
                                        {':', "component separator"},
                                        {'~', "segment terminator"},
                                        {'^', "repetition separator"}};
  const cells::DelimiterSet set(list);
  const struct {
    const char* value;
    std::string_view own;
    std::vector<std::string_view> found;
  } cases[] = {
      {"plain", "", {}},
      {"^:*", "", {"element separator", "component separator", "repetition separator"}},
      {"^:*", "component separator", {"element separator", "repetition separator"}},
      {"^", "repetition separator", {}},
      {":~", "repetition separator", {"component separator", "segment terminator"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value) + " " + std::string(c.own));
    std::vector<std::string_view> found;
    set.each(c.value, c.own, [&](const envelope::Delimiter& d) { found.push_back(d.name); });
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(set.any(c.value), std::string_view(c.value) != "plain");
  }
}

}  // namespace
}  // namespace zarvi_core::write::emit
